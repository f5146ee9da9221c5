// k27simctl: drives and inspects the simulated boards of a running
// `vantrelio --simulate`, through its console socket in the device folder.
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <k27/common/SeqPacketSocket.h>
#include <vantrel/protocol/ControlCodes.h>
#include <vantrel/protocol/ControlProtocol.h>
#include <vantrel/protocol/SimConsoleProtocol.h>

#include "SimCtlCommandLine.h"

namespace {

using vantrel::driver::ControlProtocol;
using vantrel::simctl::kUsageError;

// One console request on a connected socket and its reply text; none when
// the daemon does not answer in time or refuses it.
std::optional<std::string> Exchange(const vantrel::common::UniqueFd& socket,
                                    const std::string& request) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(request.data());
  std::vector<std::uint8_t> replyBuffer(vantrel::driver::kSimConsoleReplyMax);
  const auto datagram = vantrel::driver::EncodeRequest(vantrel::driver::kSimConsoleCode,
                                                       {bytes, request.size()}, replyBuffer);
  if (!datagram) return std::nullopt;
  if (::send(socket.Get(), datagram->data(), datagram->size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(datagram->size()))
    return std::nullopt;

  std::vector<std::uint8_t> received(ControlProtocol::kReplyHeader + replyBuffer.size());
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ControlProtocol::ReplyTimeoutMs());
  ssize_t n = -1;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd entry{socket.Get(), POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) return std::nullopt;
    if (ready <= 0) continue;
    n = ::recv(socket.Get(), received.data(), received.size(), MSG_TRUNC | MSG_DONTWAIT);
    if (n >= 0 || (errno != EINTR && errno != EAGAIN)) break;
  }
  if (n < 0 || static_cast<std::size_t>(n) > received.size()) return std::nullopt;
  const auto reply = vantrel::driver::DecodeReply(std::span(received).first(std::size_t(n)));
  if (!reply || vantrel::driver::NtFailed(reply->status)) return std::nullopt;
  const std::size_t count = reply->Returned(replyBuffer.size());
  return std::string(reinterpret_cast<const char*>(reply->output.data()), count);
}

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: k27simctl [--device-dir DIR] [--board N] COMMAND [ARGUMENTS]\n"
               "       k27simctl COMMAND --help\n"
               "       k27simctl --help | --version\n\n"
               "Drives the simulated boards of a running 'vantrelio --simulate'.\n"
               "DIR defaults to $VANTREL_DEVICE_DIR, else /run/vantrel; N to 0.\n\n"
               "Options (before the command):\n"
               "  --device-dir DIR  folder of the daemon's sockets\n"
               "  --board N         the simulated board the command is for\n"
               "  --help, -h        show this text and exit\n"
               "  --version         show the version and exit\n\n"
               "Commands:\n%s\n"
               "Exit status: 0 done, 1 failed, 2 bad command or argument.\n",
               vantrel::driver::SimConsoleSummary().c_str());
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "k27simctl: %s (see k27simctl --help)\n", message.c_str());
  return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
  using vantrel::simctl::SimCtlCommandLine;
  const SimCtlCommandLine line =
      vantrel::simctl::ParseSimCtlCommandLine(argc, argv, ControlProtocol::DeviceDirectory());
  switch (line.action) {
    case SimCtlCommandLine::Action::ShowHelp:
      PrintUsage(stdout);
      return 0;
    case SimCtlCommandLine::Action::ShowVersion:
      std::printf("k27simctl %s\n", K27SIMCTL_VERSION);
      return 0;
    case SimCtlCommandLine::Action::Refuse:
      return UsageError(line.error);
    case SimCtlCommandLine::Action::Run:
      break;
  }
  const std::string& deviceDir = line.deviceDir;
  const std::string& board = line.board;
  const std::vector<std::string>& words = line.words;

  std::string request = board + "\n";
  for (const auto& word : words) request += word + "\n";

  const std::string socket = deviceDir + "/" + vantrel::driver::kSimConsoleSocket;
  const vantrel::common::UniqueFd link = vantrel::common::ConnectSeqPacket(socket);
  if (!link) {
    if (errno == EACCES || errno == EPERM)
      std::fprintf(stderr,
                   "k27simctl: no access to %s (%s): the simulated boards are for members of the\n"
                   "group that owns the device folder and its sockets.\n",
                   socket.c_str(), std::strerror(errno));
    std::fprintf(stderr, "k27simctl: cannot reach a simulated daemon at %s\n", socket.c_str());
    return 1;
  }
  const std::optional<std::string> reply = Exchange(link, request);
  if (!reply || reply->empty()) {
    std::fprintf(stderr, "k27simctl: the daemon refused the request\n");
    return 1;
  }
  const int status = (*reply)[0] - '0';
  const std::string text = reply->substr(1);
  if (status == 0) {
    std::fputs(text.c_str(), stdout);
    return 0;
  }
  std::fprintf(stderr, "k27simctl: %s", text.c_str());
  return status == kUsageError ? kUsageError : 1;
}
