// vantrelio: the driver daemon. Serves each board's control requests on the
// socket "ezusb-N" in the device folder.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ControlServer.h"
#include "ExchangeTrace.h"
#include "SimBoardHandler.h"
#include "SimConsoleHandler.h"
#include "k27sim/SimConsole.h"
#include "vantrel/driver/SimConsoleProtocol.h"
#include "k27sim/SimBoard.h"
#include "vantrel/driver/ControlProtocol.h"

namespace {

using vantrel::driver::ControlHandler;
using vantrel::driver::ControlProtocol;
using vantrel::driver::ControlServer;
using vantrel::driver::ExchangeRecord;
using vantrel::driver::ExchangeTrace;
using vantrel::driver::SimBoardHandler;

constexpr int kUsageError = 2;
constexpr const char* kUsage =
    "Usage: vantrelio --simulate [OPTIONS]\n"
    "       vantrelio --help\n"
    "\n"
    "The K27 driver daemon: serves each board's control requests on the socket\n"
    "ezusb-N (N = 0, 1, ...) in the device folder, for any number of clients.\n"
    "With --simulate, k27simctl drives the simulated boards through the socket\n"
    "k27sim-control in the same folder; board N reads N on dip switches 0-2.\n"
    "\n"
    "Options:\n"
    "  --simulate           serve simulated boards (real time)\n"
    "  --device-dir DIR     folder of the sockets (default: $VANTREL_DEVICE_DIR,\n"
    "                       else /run/vantrel); created when missing\n"
    "  --boards N           number of simulated boards, 1 to 8 (default 1)\n"
    "  --eeprom-bytes N     EEPROM capacity of each simulated board, a power of two\n"
    "                       from 128 to 65536 (default 32768)\n"
    "  --trace FILE         append one line per bulk exchange to FILE:\n"
    "                       ezusb-N ch=C out=HEX in=HEX\n"
    "  --verbose            report connections and exchanges on standard error\n"

    "  --help               show this text and exit\n"
    "\n"
    "Stops on SIGINT or SIGTERM and removes its sockets. Exit status: 0 after a\n"
    "clean stop, 1 when serving fails, 2 for a usage error.\n";

struct Options {
  bool help = false;
  bool simulate = false;
  bool verbose = false;
  std::optional<std::string> deviceDir;
  std::optional<std::string> tracePath;
  unsigned boards = 1;
  unsigned eepromBytes = 32768;
};

struct UsageError {
  std::string message;
};

unsigned ParseNumber(std::string_view option, const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9)
    throw UsageError{std::string(option) + " needs a decimal number, not '" + text + "'"};
  return static_cast<unsigned>(std::stoul(text));
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::optional<std::string> inlineValue;
    if (arg.rfind("--", 0) == 0) {
      if (const auto eq = arg.find('='); eq != std::string::npos) {
        inlineValue = arg.substr(eq + 1);
        arg.resize(eq);
      }
    }
    auto value = [&]() -> std::string {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= argc) throw UsageError{arg + " needs a value"};
      return argv[++i];
    };
    auto noValue = [&] {
      if (inlineValue) throw UsageError{arg + " takes no value"};
    };

    if (arg == "--help" || arg == "-h") {
      noValue();
      options.help = true;
    } else if (arg == "--simulate") {
      noValue();
      options.simulate = true;
    } else if (arg == "--verbose") {
      noValue();
      options.verbose = true;
    } else if (arg == "--device-dir") {
      options.deviceDir = value();
      if (options.deviceDir->empty()) throw UsageError{"--device-dir needs a folder"};
    } else if (arg == "--trace") {
      options.tracePath = value();
      if (options.tracePath->empty()) throw UsageError{"--trace needs a file name"};
    } else if (arg == "--boards") {
      options.boards = ParseNumber(arg, value());
      if (options.boards < 1 || options.boards > 8)
        throw UsageError{"--boards must be 1 to 8, not " + std::to_string(options.boards)};
    } else if (arg == "--eeprom-bytes") {
      const unsigned n = ParseNumber(arg, value());
      if (n < 128 || n > 65536 || (n & (n - 1)) != 0)
        throw UsageError{"--eeprom-bytes must be a power of two from 128 to 65536, not " +
                         std::to_string(n)};
      options.eepromBytes = n;
    } else {
      throw UsageError{"unknown option '" + std::string(argv[i]) + "'"};
    }
  }
  return options;
}

std::mutex stderrMutex;

void Report(const std::string& line) {
  std::lock_guard<std::mutex> lock(stderrMutex);
  std::fprintf(stderr, "vantrelio: %s\n", line.c_str());
  std::fflush(stderr);
}

int Run(const Options& options) {
  std::string deviceDir = ControlProtocol::kDefaultDeviceDir;
  if (options.deviceDir) {
    deviceDir = *options.deviceDir;
  } else if (const char* env = std::getenv(ControlProtocol::kDeviceDirEnv); env && *env) {
    deviceDir = env;
  }

  // SIGINT and SIGTERM are taken from a signalfd by the main thread; every
  // thread started later inherits the blocked mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  if (pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
    Report("cannot block the stop signals");
    return 1;
  }
  const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
  if (signalFd < 0) {
    Report(std::string("signalfd: ") + std::strerror(errno));
    return 1;
  }
  ::signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<ExchangeTrace> trace;
  std::vector<std::unique_ptr<k27sim::SimBoard>> boards;
  std::vector<std::unique_ptr<SimBoardHandler>> handlers;
  std::vector<ControlHandler*> served;
  std::unique_ptr<ControlServer> server;
  std::unique_ptr<k27sim::SimConsole> console;
  std::unique_ptr<vantrel::driver::SimConsoleHandler> consoleHandler;
  int status = 0;
  try {
    if (options.tracePath) trace = std::make_unique<ExchangeTrace>(*options.tracePath);
    for (unsigned n = 0; n < options.boards; ++n) {
      k27sim::SimBoardOptions boardOptions;
      boardOptions.eepromBytes = options.eepromBytes;
      boardOptions.realTime = true;
      boardOptions.boardAddress = static_cast<std::uint8_t>(n);
      boards.push_back(std::make_unique<k27sim::SimBoard>(boardOptions));
      auto handler = std::make_unique<SimBoardHandler>(*boards.back(), static_cast<int>(n));
      if (trace || options.verbose) {
        handler->SetExchangeHook([&trace, verbose = options.verbose](const ExchangeRecord& record) {
          if (trace) trace->Record(record);
          if (verbose) Report(vantrel::driver::FormatExchange(record));
        });
      }
      served.push_back(handler.get());
      handlers.push_back(std::move(handler));
    }
    ControlServer::Log log;
    if (options.verbose) log = Report;
    server = std::make_unique<ControlServer>(deviceDir, served, log);
    std::vector<k27sim::SimBoard*> simulated;
    for (auto& board : boards) simulated.push_back(board.get());
    console = std::make_unique<k27sim::SimConsole>(simulated);
    consoleHandler = std::make_unique<vantrel::driver::SimConsoleHandler>(*console);
    server->AddEndpoint(vantrel::driver::kSimConsoleSocket, consoleHandler.get());
    server->Start();
  } catch (const std::exception& e) {
    Report(e.what());
    ::close(signalFd);
    return 1;
  }

  Report("serving " + std::to_string(options.boards) + " simulated board(s) in " + deviceDir);

  for (;;) {
    signalfd_siginfo info{};
    const ssize_t n = ::read(signalFd, &info, sizeof(info));
    if (n == static_cast<ssize_t>(sizeof(info))) {
      if (options.verbose) Report(std::string("stopping on ") + strsignal(int(info.ssi_signo)));
      break;
    }
    if (n < 0 && errno == EINTR) continue;
    Report(std::string("cannot wait for signals: ") + std::strerror(errno));
    status = 1;
    break;
  }
  server->Stop();
  ::close(signalFd);
  if (trace && trace->FailedWrites() > 0) {
    Report(std::to_string(trace->FailedWrites()) + " trace line(s) could not be written");
    status = 1;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    options = ParseOptions(argc, argv);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "vantrelio: %s\nTry 'vantrelio --help'.\n", e.message.c_str());
    return kUsageError;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!options.simulate) {
    std::fprintf(stderr,
                 "vantrelio: serving real boards over USB comes with a later version; "
                 "use --simulate for simulated boards.\n");
    return kUsageError;
  }
  return Run(options);
}
