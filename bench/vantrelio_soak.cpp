// Soak of the driver daemon: a simulated daemon with several boards, many
// client processes exchanging commands with random boards, and boards
// unplugged and plugged back at random every few seconds, for a set time.
// Reports exchanges per second, failures by status and the daemon's peak
// threads, descriptors and resident memory; exits non-zero when a reply is
// crossed (it answers another command), a request hangs past the driver's
// time limit, the daemon dies, or its memory keeps growing.
// With --hostile, the clients that play by the rules share the boards with
// clients that do not (soak/HostileSoak.h).
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <vantrel/protocol/ControlCodes.h>
#include <vantrel/testsupport/SimDaemon.h>

#include "soak/HostileSoak.h"
#include "soak/SoakWire.h"

namespace {

namespace fs = std::filesystem;
namespace drv = vantrel::driver;
using vantrel::soak::Clock;
using vantrel::soak::kDriverLimit;
using vantrel::soak::Outcome;
using Block = drv::BulkExchangeBlock;

constexpr const char* kUsage =
    "Usage: vantrelio_soak [OPTIONS]\n"
    "\n"
    "Runs a simulated vantrelio daemon and drives it with client processes that\n"
    "exchange commands with random boards while boards are unplugged and\n"
    "plugged back at random, then reports exchanges per second, failures by\n"
    "status and the daemon's peak threads, descriptors and resident memory.\n"
    "Exit status 1 when a reply is crossed, a request hangs past the driver's\n"
    "5 s limit, the daemon dies or its memory keeps growing; 2 for a usage error.\n"
    "\n"
    "With --hostile, victims exchange on fixed channels while attackers, for the\n"
    "first two thirds of the run, read the pipes raw (as the daemon's user and,\n"
    "when run as root, as an unprivileged member of the board group), make\n"
    "exchanges across two channels, stall replies through the simulator's console\n"
    "and are killed (SIGKILL) mid-exchange; probes queued on a held channel check\n"
    "that it serves its waiters in arrival order (from the daemon's --trace).\n"
    "Reports the victims' success rate and worst wait beside the attackers', and\n"
    "exchanges per second. Exit status 1 also on a stolen reply, a raw code\n"
    "served to an unprivileged client, a cross-channel exchange not refused, a\n"
    "waiter served out of arrival order, or a victim not served within 15 s of\n"
    "the attacks' end. No boards are unplugged in this mode.\n"
    "\n"
    "Options:\n"
    "  --seconds N         how long to run (default 60; with --hostile 30)\n"
    "  --boards N          simulated boards, 1 to 8 (default 8; with --hostile 2)\n"
    "  --clients N         client processes (with --hostile: victims), 1 to 256\n"
    "                      (default 32; with --hostile 8)\n"
    "  --replug-seconds N  mean time between unplugs, 0: none (default 3)\n"
    "  --hostile           the hostile mode above\n"
    "  --daemon PATH       the vantrelio to run (default: the one built beside this)\n"
    "  --help              show this text and exit\n";

// A request unanswered this long after the driver's limit has hung.
constexpr auto kHangMargin = std::chrono::seconds(5);

struct Options {
  int seconds = 60;
  int boards = 8;
  int clients = 32;
  int replugSeconds = 3;
  bool hostile = false;
  // Given on the command line, rather than the mode's default.
  bool secondsGiven = false, boardsGiven = false, clientsGiven = false;
  std::string daemon = vantrel::testsupport::VantrelioPath();
};

// What one client saw, sent to the parent through a pipe as text lines.
struct Tally {
  std::uint64_t exchanges = 0;  // answered with success and the right echo
  std::uint64_t crossed = 0;
  std::uint64_t hung = 0;
  std::map<std::string, std::uint64_t> failures;
  double slowestMs = 0;
};

// A client process: exchanges on random boards until the deadline, each
// with a command byte of its own so that a reply meant for another client
// shows. Writes its tally to `report` and exits.
[[noreturn]] void RunClient(int index, const Options& options, const fs::path& dir,
                            Clock::time_point end, int report) {
  std::mt19937 random(static_cast<unsigned>(index * 7919 + 17));
  Tally tally;
  const std::uint8_t command = static_cast<std::uint8_t>(0x20 + index % 200);
  std::vector<int> fds(static_cast<std::size_t>(options.boards), -1);
  const auto limit =
      std::chrono::duration_cast<std::chrono::milliseconds>(kDriverLimit + kHangMargin);
  while (Clock::now() < end) {
    const std::size_t board = random() % fds.size();
    int& fd = fds[board];
    if (fd < 0) {
      fd = vantrel::soak::Connect(dir / ("ezusb-" + std::to_string(board)));
      if (fd < 0) {
        ++tally.failures["no connection (board away)"];
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        continue;
      }
    }
    const int channel = 1 + static_cast<int>(random() % 7);
    std::vector<std::uint8_t> block(Block::kSize, 0);
    drv::StoreLe32(block.data() + Block::kOutPipe, static_cast<std::uint32_t>(2 * channel - 1));
    drv::StoreLe32(block.data() + Block::kInPipe, static_cast<std::uint32_t>(2 * channel - 2));
    drv::StoreLe32(block.data() + Block::kOutLength, 2);
    drv::StoreLe32(block.data() + Block::kInLength, 65);
    block[Block::kHeaderSize] = command;
    std::uint32_t status = 0;
    std::vector<std::uint8_t> output;
    const auto start = Clock::now();
    const Outcome outcome = vantrel::soak::Call(fd, drv::IOCTL_VIO_BULK_EXCHANGE, block,
                                                Block::kSize, limit, &status, &output);
    tally.slowestMs = std::max(
        tally.slowestMs, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (outcome != Outcome::Reply) {
      ++(outcome == Outcome::Hung ? tally.hung : tally.failures["connection closed"]);
      ::close(fd);
      fd = -1;
      continue;
    }
    if (drv::NtFailed(status)) {
      ++tally.failures[vantrel::soak::StatusName(status)];
      // The board's connection ends with its removal: start a new one.
      if (status == drv::STATUS_DELETE_PENDING || status == drv::STATUS_TOO_MANY_OPENED_FILES) {
        ::close(fd);
        fd = -1;
      }
      continue;
    }
    const bool whole =
        output.size() == Block::kSize && drv::LoadLe32(output.data() + Block::kInLength) >= 1;
    if (!whole || output[Block::kHeaderSize] != command)
      ++tally.crossed;
    else
      ++tally.exchanges;
  }
  for (int fd : fds)
    if (fd >= 0) ::close(fd);
  std::ostringstream text;
  text << "exchanges " << tally.exchanges << "\ncrossed " << tally.crossed << "\nhung "
       << tally.hung << "\nslowest " << tally.slowestMs << "\n";
  for (const auto& [what, count] : tally.failures)
    text << "failure " << count << " " << what << "\n";
  vantrel::soak::WriteAll(report, text.str());
  ::_exit(0);
}

int ParseInt(const std::string& option, const char* text, int low, int high) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < low || value > high) {
    std::fprintf(stderr, "vantrelio_soak: %s must be %d to %d, not '%s'\n", option.c_str(), low,
                 high, text);
    std::exit(2);
  }
  return static_cast<int>(value);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (arg == "--hostile") {
      options.hostile = true;
      continue;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "vantrelio_soak: unknown option or missing value: %s\n%s", arg.c_str(),
                   kUsage);
      std::exit(2);
    }
    const char* value = argv[++i];
    if (arg == "--seconds") {
      options.seconds = ParseInt(arg, value, 1, 86400);
      options.secondsGiven = true;
    } else if (arg == "--boards") {
      options.boards = ParseInt(arg, value, 1, 8);
      options.boardsGiven = true;
    } else if (arg == "--clients") {
      options.clients = ParseInt(arg, value, 1, 256);
      options.clientsGiven = true;
    } else if (arg == "--replug-seconds") {
      options.replugSeconds = ParseInt(arg, value, 0, 3600);
    } else if (arg == "--daemon") {
      options.daemon = value;
    } else {
      std::fprintf(stderr, "vantrelio_soak: unknown option %s\n%s", arg.c_str(), kUsage);
      std::exit(2);
    }
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  ::signal(SIGPIPE, SIG_IGN);
  if (options.hostile) {
    vantrel::soak::HostileOptions hostile;
    if (options.secondsGiven) hostile.seconds = options.seconds;
    if (options.boardsGiven) hostile.boards = options.boards;
    if (options.clientsGiven) hostile.victims = options.clients;
    hostile.daemon = options.daemon;
    return vantrel::soak::RunHostile(hostile);
  }
  vantrel::testsupport::SimDaemon vantrelio({.boards = options.boards, .program = options.daemon});
  const fs::path dir = vantrelio.DeviceDir();
  if (!vantrelio.Start(std::chrono::seconds(60))) {
    std::fprintf(stderr, "vantrelio_soak: the daemon did not start:\n%s", vantrelio.Log().c_str());
    return 1;
  }
  const pid_t daemon = vantrelio.Pid();

  const auto start = Clock::now();
  const auto end = start + std::chrono::seconds(options.seconds);
  std::vector<pid_t> clients;
  std::vector<int> reports;
  for (int c = 0; c < options.clients; ++c) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) break;
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(pipeFds[0]);
      RunClient(c, options, dir, end, pipeFds[1]);
    }
    ::close(pipeFds[1]);
    if (pid < 0) {
      ::close(pipeFds[0]);
      break;
    }
    clients.push_back(pid);
    reports.push_back(pipeFds[0]);
  }

  // Unplug and plug back random boards; sample the daemon meanwhile.
  std::mt19937 random(12345);
  std::exponential_distribution<double> gap(options.replugSeconds > 0 ? 1.0 / options.replugSeconds
                                                                      : 1.0);
  auto nextReplug = start + std::chrono::milliseconds(static_cast<long>(gap(random) * 1000));
  vantrel::soak::Sample peak;
  long earlyPeakKiB = 0, latePeakKiB = 0;
  int replugs = 0, replugFailures = 0;
  bool daemonDied = false;
  while (Clock::now() < end) {
    const auto sample = vantrel::soak::SampleOf(daemon);
    if (!sample) {
      daemonDied = true;
      break;
    }
    peak.RaiseTo(*sample);
    // Memory after the warm-up quarter, in the second quarter and the second half.
    const double done = std::chrono::duration<double>(Clock::now() - start) / (end - start);
    if (done >= 0.25 && done < 0.5) earlyPeakKiB = std::max(earlyPeakKiB, sample->residentKiB);
    if (done >= 0.5) latePeakKiB = std::max(latePeakKiB, sample->residentKiB);
    if (options.replugSeconds > 0 && Clock::now() >= nextReplug) {
      const int board = static_cast<int>(random() % static_cast<unsigned>(options.boards));
      const bool ok = vantrel::soak::Console(dir, board, {"unplug"});
      std::this_thread::sleep_for(std::chrono::milliseconds(100 + random() % 400));
      if (!ok || !vantrel::soak::Console(dir, board, {"plug"})) ++replugFailures;
      ++replugs;
      nextReplug = Clock::now() + std::chrono::milliseconds(static_cast<long>(gap(random) * 1000));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }

  Tally total;
  for (std::size_t c = 0; c < clients.size(); ++c) {
    const std::string text = vantrel::soak::ReadAll(reports[c]);
    ::close(reports[c]);
    int state = 0;
    ::waitpid(clients[c], &state, 0);
    std::istringstream lines(text);
    std::string word;
    while (lines >> word) {
      if (word == "failure") {
        std::uint64_t count = 0;
        lines >> count;
        std::string what;
        std::getline(lines, what);
        total.failures[what.substr(1)] += count;
      } else if (word == "slowest") {
        double ms = 0;
        lines >> ms;
        total.slowestMs = std::max(total.slowestMs, ms);
      } else {
        std::uint64_t count = 0;
        lines >> count;
        if (word == "exchanges") total.exchanges += count;
        if (word == "crossed") total.crossed += count;
        if (word == "hung") total.hung += count;
      }
    }
  }
  const auto finalSample = vantrel::soak::SampleOf(daemon);
  const int stopped = vantrelio.Stop();
  const bool cleanStop = !daemonDied && stopped == 0;

  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  // Growth: the second half's peak well above the second quarter's.
  const bool grew =
      earlyPeakKiB > 0 && latePeakKiB > earlyPeakKiB + earlyPeakKiB * 3 / 10 + 16 * 1024;
  std::printf(
      "vantrelio soak: %.0f s, %d boards, %zu client processes, %d unplug/plug cycles (%d "
      "failed)\n",
      seconds, options.boards, clients.size(), replugs, replugFailures);
  std::printf("exchanges: %llu answered, %.0f per second; slowest %.0f ms\n",
              static_cast<unsigned long long>(total.exchanges),
              static_cast<double>(total.exchanges) / seconds, total.slowestMs);
  std::printf("failures by status:%s\n", total.failures.empty() ? " none" : "");
  for (const auto& [what, count] : total.failures)
    std::printf("  %-48s %llu\n", what.c_str(), static_cast<unsigned long long>(count));
  std::printf(
      "crossed replies: %llu; requests hung past %lld s: %llu\n",
      static_cast<unsigned long long>(total.crossed),
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::seconds>(kDriverLimit + kHangMargin).count()),
      static_cast<unsigned long long>(total.hung));
  std::printf(
      "daemon peak: %ld threads, %ld descriptors, %.1f MiB resident "
      "(second quarter %.1f MiB, second half %.1f MiB, at the end %.1f MiB)\n",
      peak.threads, peak.descriptors, peak.residentKiB / 1024.0, earlyPeakKiB / 1024.0,
      latePeakKiB / 1024.0, finalSample ? finalSample->residentKiB / 1024.0 : 0.0);
  std::printf("daemon: %s\n", daemonDied  ? "DIED during the run"
                              : cleanStop ? "stopped cleanly"
                                          : "did not stop cleanly");

  const bool failed = total.crossed > 0 || total.hung > 0 || grew || daemonDied || !cleanStop;
  if (grew) std::printf("FAILED: the daemon's memory kept growing\n");
  if (failed) {
    // Kept: the launcher takes its folder with it.
    const fs::path kept =
        fs::temp_directory_path() / ("vantrelio_soak-" + std::to_string(::getpid()) + ".log");
    std::error_code ignored;
    fs::copy_file(vantrelio.LogPath(), kept, fs::copy_options::overwrite_existing, ignored);
    std::printf("FAILED; the daemon's log is %s\n", kept.c_str());
    return 1;
  }
  return 0;
}
