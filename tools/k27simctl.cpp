// k27simctl: drives and inspects the simulated boards of a running
// `vantrelio --simulate`, through its console socket in the device folder.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <k27sim/SimConsole.h>
#include <vantrel/driver/SimConsoleProtocol.h>

#include "link/SocketDeviceLink.h"

namespace {

constexpr int kUsageError = 2;

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: k27simctl [--device-dir DIR] [--board N] COMMAND [ARGUMENTS]\n"
               "       k27simctl COMMAND --help\n\n"
               "Drives the simulated boards of a running 'vantrelio --simulate'.\n"
               "DIR defaults to $VANTREL_DEVICE_DIR, else /run/vantrel; N to 0.\n\n"
               "Commands:\n%s\n"
               "Exit status: 0 done, 1 failed, 2 bad command or argument.\n",
               k27sim::SimConsole::Summary().c_str());
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "k27simctl: %s (see k27simctl --help)\n", message.c_str());
  return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
  std::string deviceDir = vantrel::SocketDeviceLink::DeviceDirectory();
  std::string board = "0";
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (words.empty() && (arg == "--help" || arg == "-h")) {
      PrintUsage(stdout);
      return 0;
    }
    if (words.empty() && (arg == "--device-dir" || arg == "--board")) {
      if (i + 1 >= argc) return UsageError(arg + " needs a value");
      const std::string value = argv[++i];
      if (arg == "--device-dir") {
        deviceDir = value;
      } else {
        if (value.empty() || value.size() > 2 ||
            value.find_first_not_of("0123456789") != std::string::npos)
          return UsageError("--board needs a board number");
        board = value;
      }
      continue;
    }
    if (words.empty() && arg.rfind("--", 0) == 0) return UsageError("unknown option '" + arg + "'");
    if (arg.find('\n') != std::string::npos) return UsageError("arguments cannot hold line breaks");
    words.push_back(arg);
  }
  if (words.empty()) return UsageError("no command given");

  std::string request = board + "\n";
  for (const auto& word : words) request += word + "\n";

  const std::string socket = deviceDir + "/" + vantrel::driver::kSimConsoleSocket;
  auto link = vantrel::SocketDeviceLink::Connect(socket);
  if (!link) {
    std::fprintf(stderr, "k27simctl: cannot reach a simulated daemon at %s\n", socket.c_str());
    return 1;
  }
  std::vector<std::uint8_t> reply(vantrel::driver::kSimConsoleReplyMax);
  std::uint32_t returned = 0;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(request.data());
  if (!link->Control(vantrel::driver::kSimConsoleCode, {bytes, request.size()}, reply, &returned) ||
      returned == 0) {
    std::fprintf(stderr, "k27simctl: the daemon refused the request\n");
    return 1;
  }
  const int status = reply[0] - '0';
  const std::string text(reinterpret_cast<const char*>(reply.data()) + 1, returned - 1);
  if (status == 0) {
    std::fputs(text.c_str(), stdout);
    return 0;
  }
  std::fprintf(stderr, "k27simctl: %s", text.c_str());
  return status == kUsageError ? kUsageError : 1;
}
