#include "HostileRoles.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include <vantrel/protocol/ControlCodes.h>

namespace vantrel::soak {

namespace fs = std::filesystem;
namespace drv = vantrel::driver;
using Block = drv::BulkExchangeBlock;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr auto kHangLimitMs = std::chrono::duration_cast<std::chrono::milliseconds>(kHangLimit);

fs::path SocketOf(const fs::path& dir, int board) {
  return dir / ("ezusb-" + std::to_string(board));
}

std::uint32_t OutPipe(int channel) { return static_cast<std::uint32_t>(2 * channel - 1); }
std::uint32_t InPipe(int channel) { return static_cast<std::uint32_t>(2 * channel - 2); }

[[noreturn]] void Report(const RoleTally& tally, int report) {
  WriteAll(report, tally.Serialize());
  ::_exit(0);
}

// One request on a connection that is made again when it was lost; the
// status, or none when there was no reply (counted as hung or failed).
std::optional<std::uint32_t> Request(int& fd, const fs::path& socket, RoleTally& tally,
                                     std::uint32_t code, const Bytes& in, std::uint32_t outLength,
                                     Bytes* output) {
  if (fd < 0) fd = Connect(socket);
  if (fd < 0) {
    ++tally.statuses["no connection"];
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return std::nullopt;
  }
  ++tally.requests;
  const auto start = Clock::now();
  std::uint32_t status = 0;
  const Outcome outcome = Call(fd, code, in, outLength, kHangLimitMs, &status, output);
  tally.Wait(start);
  if (outcome == Outcome::Reply) return status;
  ++(outcome == Outcome::Hung ? tally.hung : tally.statuses["connection closed"]);
  ::close(fd);
  fd = -1;
  return std::nullopt;
}

}  // namespace

void RoleTally::Note(std::uint32_t status) { ++statuses[StatusName(status)]; }

void RoleTally::Wait(Clock::time_point start) {
  worstWaitMs = std::max(worstWaitMs,
                         std::chrono::duration<double, std::milli>(Clock::now() - start).count());
}

std::string RoleTally::Serialize() const {
  std::ostringstream text;
  text << "requests " << requests << "\nserved " << served << "\nexpected " << expected
       << "\nunexpected " << unexpected << "\ncrossed " << crossed << "\nstolen " << stolen
       << "\nhung " << hung << "\nworst " << worstWaitMs << "\nagain " << servedAgainMs << "\n";
  for (const auto& [what, count] : statuses) text << "status " << count << " " << what << "\n";
  return text.str();
}

RoleTally RoleTally::Parse(const std::string& text) {
  RoleTally tally;
  std::istringstream lines(text);
  std::string word;
  while (lines >> word) {
    if (word == "status") {
      std::uint64_t count = 0;
      lines >> count;
      std::string what;
      std::getline(lines, what);
      tally.statuses[what.empty() ? what : what.substr(1)] += count;
    } else if (word == "worst") {
      lines >> tally.worstWaitMs;
    } else if (word == "again") {
      lines >> tally.servedAgainMs;
    } else {
      std::uint64_t count = 0;
      lines >> count;
      if (word == "requests") tally.requests = count;
      if (word == "served") tally.served = count;
      if (word == "expected") tally.expected = count;
      if (word == "unexpected") tally.unexpected = count;
      if (word == "crossed") tally.crossed = count;
      if (word == "stolen") tally.stolen = count;
      if (word == "hung") tally.hung = count;
    }
  }
  return tally;
}

void RoleTally::Add(const RoleTally& other) {
  requests += other.requests;
  served += other.served;
  expected += other.expected;
  unexpected += other.unexpected;
  crossed += other.crossed;
  stolen += other.stolen;
  hung += other.hung;
  worstWaitMs = std::max(worstWaitMs, other.worstWaitMs);
  // The latest of the first successes after the attacks: the slowest return.
  if (other.servedAgainMs < 0 || servedAgainMs < 0)
    servedAgainMs = std::min(servedAgainMs, other.servedAgainMs);
  else
    servedAgainMs = std::max(servedAgainMs, other.servedAgainMs);
  for (const auto& [what, count] : other.statuses) statuses[what] += count;
}

Victim VictimOf(int index, int boards) {
  // The attacked channel first, then the channels the library uses most.
  constexpr int kChannels[] = {kAttackedChannel, 2, 1, 6, 3, 4, 7};
  Victim victim;
  victim.board = index % boards;
  victim.channel = kChannels[(index / boards) % 7];
  victim.command = static_cast<std::uint8_t>(0x20 + index % 0xB0);
  return victim;
}

void RunVictim(const Victim& victim, const fs::path& dir, const Timeline& timeline, int report) {
  RoleTally tally;
  int fd = -1;
  const fs::path socket = SocketOf(dir, victim.board);
  const Bytes block =
      ExchangeBlock(OutPipe(victim.channel), InPipe(victim.channel), {victim.command, 0x00, 0x01});
  while (Clock::now() < timeline.end) {
    Bytes output;
    const auto status =
        Request(fd, socket, tally, drv::IOCTL_VIO_BULK_EXCHANGE, block, Block::kSize, &output);
    if (!status) continue;
    if (drv::NtFailed(*status)) {
      tally.Note(*status);
      continue;
    }
    const bool own = output.size() == Block::kSize &&
                     drv::LoadLe32(output.data() + Block::kInLength) >= 1 &&
                     output[Block::kHeaderSize] == victim.command;
    if (!own) {
      ++tally.crossed;
      continue;
    }
    ++tally.served;
    const auto now = Clock::now();
    if (tally.servedAgainMs < 0 && now >= timeline.attacksEnd)
      tally.servedAgainMs =
          std::chrono::duration<double, std::milli>(now - timeline.attacksEnd).count();
  }
  Report(tally, report);
}

void RunRawReader(bool unprivileged, const fs::path& dir, const Timeline& timeline, int report) {
  RoleTally tally;
  if (unprivileged) {
    // Nobody, in the daemon's group only: a board client like any other.
    const gid_t boardGroup = ::getegid();
    if (::setgroups(1, &boardGroup) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
      ++tally.statuses["cannot become nobody"];
      ++tally.unexpected;
      Report(tally, report);
    }
  }
  int fd = -1;
  const fs::path socket = SocketOf(dir, kAttackedBoard);
  Bytes pipe(4, 0);
  drv::StoreLe32(pipe.data(), InPipe(kAttackedChannel));
  while (Clock::now() < timeline.attacksEnd) {
    Bytes output;
    const auto status = Request(fd, socket, tally, drv::IOCTL_VIO_PIPE_READ, pipe, 64, &output);
    if (!status) continue;
    tally.Note(*status);
    if (unprivileged) {
      ++(*status == drv::STATUS_ACCESS_DENIED ? tally.expected : tally.unexpected);
    } else if (!drv::NtFailed(*status)) {
      ++tally.served;
      // The board only ever answers a command: whatever came was a reply
      // some exchange waited for.
      if (!output.empty()) ++tally.stolen;
    } else {
      ++tally.expected;  // nothing to read within the driver's limit
    }
  }
  Report(tally, report);
}

void RunCrossExchanger(int board, const fs::path& dir, const Timeline& timeline, int report) {
  RoleTally tally;
  int fd = -1;
  const fs::path socket = SocketOf(dir, board);
  // Channel 5's OUT pipe with channel 7's IN pipe, and channel 1's pair
  // turned round.
  const Bytes pairs[] = {ExchangeBlock(OutPipe(5), InPipe(7), {0x2C}),
                         ExchangeBlock(InPipe(1), OutPipe(1), {0x4B})};
  for (std::size_t i = 0; Clock::now() < timeline.attacksEnd; ++i) {
    Bytes output;
    const auto status = Request(fd, socket, tally, drv::IOCTL_VIO_BULK_EXCHANGE, pairs[i % 2],
                                Block::kSize, &output);
    if (!status) continue;
    tally.Note(*status);
    ++(*status == drv::STATUS_INVALID_PARAMETER ? tally.expected : tally.unexpected);
    if (!drv::NtFailed(*status)) ++tally.served;
  }
  Report(tally, report);
}

void RunKamikaze(int index, const fs::path& dir) {
  RoleTally ignored;
  int fd = -1;
  const int channel = index % 2 == 0 ? kAttackedChannel : 2;
  const Bytes block = ExchangeBlock(OutPipe(channel), InPipe(channel),
                                    {static_cast<std::uint8_t>(0xD0 + index % 16)});
  for (;;) {
    Bytes output;
    (void)Request(fd, SocketOf(dir, kAttackedBoard), ignored, drv::IOCTL_VIO_BULK_EXCHANGE, block,
                  Block::kSize, &output);
  }
}

void RunProbe(int round, int position, Clock::time_point sendAt, const fs::path& dir) {
  const int fd = Connect(SocketOf(dir, kAttackedBoard));
  if (fd < 0) ::_exit(3);
  std::this_thread::sleep_until(sendAt);
  const auto command = static_cast<std::uint8_t>(0xE0 + position);
  std::uint32_t status = 0;
  Bytes output;
  const Outcome outcome = Call(fd, drv::IOCTL_VIO_BULK_EXCHANGE,
                               ExchangeBlock(OutPipe(kAttackedChannel), InPipe(kAttackedChannel),
                                             {command, static_cast<std::uint8_t>(round)}),
                               Block::kSize, kHangLimitMs, &status, &output);
  if (outcome != Outcome::Reply) ::_exit(3);
  if (drv::NtFailed(status)) ::_exit(4);
  ::_exit(output.size() == Block::kSize && output[Block::kHeaderSize] == command ? 0 : 2);
}

std::map<int, std::vector<int>> ProbeOrder(const fs::path& trace) {
  // "ezusb-0 ch=5 out=E1xx in=...": position 1 of round xx.
  const std::string prefix = "ezusb-" + std::to_string(kAttackedBoard) +
                             " ch=" + std::to_string(kAttackedChannel) + " out=E";
  std::map<int, std::vector<int>> order;
  std::ifstream in(trace);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) != 0 || line.size() < prefix.size() + 3) continue;
    const std::string bytes = line.substr(prefix.size() - 1, 4);
    char* end = nullptr;
    const unsigned long value = std::strtoul(bytes.c_str(), &end, 16);
    if (end != bytes.c_str() + 4) continue;
    order[static_cast<int>(value & 0xFF)].push_back(static_cast<int>((value >> 8) - 0xE0));
  }
  return order;
}

}  // namespace vantrel::soak
