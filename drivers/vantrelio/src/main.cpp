// vantrelio: the driver daemon. Serves each board's control requests on the
// socket "ezusb-N" in the device folder.
#include <grp.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ControlServer.h"
#include "k27/common/Log.h"
#include "DeviceManager.h"
#include "ExchangeTrace.h"
#include "SimConsoleHandler.h"
#include "k27sim/SimConsole.h"
#include "vantrel/driver/SimConsoleProtocol.h"
#include "k27fw/FirmwareIds.h"
#include "k27sim/SimBoard.h"
#include "k27sim/SimEzUsbPart.h"
#include "k27sim/SimIsoDevice.h"
#include "k27sim/SimUsb.h"
#include "vantrel/usbhost/Backends.h"
#include "vantrel/usbhost/UsbCapture.h"
#include "vantrel/driver/ControlProtocol.h"

namespace {

using vantrel::driver::ControlHandler;
using vantrel::driver::ControlProtocol;
using vantrel::driver::ControlServer;
using vantrel::driver::ExchangeRecord;
using vantrel::driver::ExchangeTrace;

constexpr int kUsageError = 2;
constexpr const char* kUsage =
    "Usage: vantrelio [OPTIONS]\n"
    "       vantrelio --simulate [OPTIONS]\n"
    "       vantrelio --help\n"
    "\n"
    "The K27 driver daemon: owns every K27 board on the USB, loads the firmware\n"
    "into each bare EZ-USB part that arrives, and serves each board's control\n"
    "requests on the socket ezusb-N (N = 0 to 7, the lowest free at arrival) in\n"
    "the device folder, for any number of clients.\n"
    "With --simulate, k27simctl drives the simulated boards through the socket\n"
    "k27sim-control in the same folder; board N reads N on dip switches 0-2.\n"
    "\n"
    "Options:\n"
    "  --simulate           serve simulated boards (real time) instead of the USB\n"
    "  --device-dir DIR     folder of the sockets (default: $VANTREL_DEVICE_DIR,\n"
    "                       else /run/vantrel); created when missing\n"
    "  --boards N           number of simulated boards, 1 to 8 (default 1)\n"
    "  --iso-devices N      with --simulate, also N simulated isochronous devices,\n"
    "                       0 to 7 (default 0): served after the boards, with an\n"
    "                       isochronous IN pipe 0 (counting pattern, 256-byte\n"
    "                       packets, one per 1 ms frame) and OUT pipe 1 (a sink)\n"
    "  --eeprom-bytes N     EEPROM capacity of each simulated board, a power of two\n"
    "                       from 128 to 65536 (default 32768)\n"
    "  --trace FILE         append one line per bulk exchange to FILE:\n"
    "                       ezusb-N ch=C out=HEX in=HEX\n"
    "  --capture FILE       write every USB transfer to FILE in the usbmon pcap\n"
    "                       format (Wireshark, tshark -r FILE)\n"
    "  --group NAME         group whose members may use the boards: it owns the\n"
    "                       sockets (0660) and a device folder the daemon creates\n"
    "                       (0770); default vantrel, or with --simulate the\n"
    "                       daemon's own group\n"
    "  --verbose            report connections (with the client's pid and uid) and\n"
    "                       exchanges on standard error\n"
    "  --max-connections-per-board N\n"
    "                       connections each board serves at once (default 64;\n"
    "                       0: no limit)\n"
    "  --max-connections-per-user N\n"
    "                       connections each client user holds at once across\n"
    "                       all boards (default 256; 0: no limit). A connection\n"
    "                       over a limit gets the status 0xC000011F\n"
    "                       (STATUS_TOO_MANY_OPENED_FILES) and is closed; the\n"
    "                       first refusal of each kind is logged\n"

    "  --help               show this text and exit\n"
    "\n"
    "Looks at the bus again on SIGHUP. Stops on SIGINT or SIGTERM and removes its\n"
    "sockets. Exit status: 0 after a\n"
    "clean stop, 1 when serving fails, 2 for a usage error.\n";

struct Options {
  bool help = false;
  bool simulate = false;
  bool verbose = false;
  bool exchangeLocks = true;
  // Empty: the default, vantrel for real boards; a simulated daemon is a
  // developer's own and keeps its own group.
  std::string group;
  std::optional<std::string> deviceDir;
  std::optional<std::string> tracePath;
  std::optional<std::string> capturePath;
  unsigned boards = 1;
  unsigned isoDevices = 0;
  unsigned eepromBytes = 32768;
  unsigned connectionsPerBoard = vantrel::driver::DeviceManagerOptions::kDefaultConnectionsPerBoard;
  unsigned connectionsPerUser = vantrel::driver::DeviceManagerOptions::kDefaultConnectionsPerUser;
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
    } else if (arg == "--unlocked-exchanges") {
      // Not in the help: only the test that shows what the locks prevent.
      noValue();
      options.exchangeLocks = false;
    } else if (arg == "--group") {
      options.group = value();
      if (options.group.empty()) throw UsageError{"--group needs a group name"};
    } else if (arg == "--device-dir") {
      options.deviceDir = value();
      if (options.deviceDir->empty()) throw UsageError{"--device-dir needs a folder"};
    } else if (arg == "--trace") {
      options.tracePath = value();
      if (options.tracePath->empty()) throw UsageError{"--trace needs a file name"};
    } else if (arg == "--capture") {
      options.capturePath = value();
      if (options.capturePath->empty()) throw UsageError{"--capture needs a file name"};
    } else if (arg == "--boards") {
      options.boards = ParseNumber(arg, value());
      if (options.boards < 1 || options.boards > 8)
        throw UsageError{"--boards must be 1 to 8, not " + std::to_string(options.boards)};
    } else if (arg == "--iso-devices") {
      options.isoDevices = ParseNumber(arg, value());
      if (options.isoDevices > 7)
        throw UsageError{"--iso-devices must be 0 to 7, not " + std::to_string(options.isoDevices)};
    } else if (arg == "--max-connections-per-board") {
      options.connectionsPerBoard = ParseNumber(arg, value());
    } else if (arg == "--max-connections-per-user") {
      options.connectionsPerUser = ParseNumber(arg, value());
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
  if (options.boards + options.isoDevices > 8)
    throw UsageError{"--boards and --iso-devices together must be at most 8"};
  return options;
}

// Every message of the daemon and its layers goes to the log sink: stderr,
// with the journal's priorities when systemd runs the daemon.
void Report(const std::string& line) { k27::common::LogInfo("vantrelio: " + line); }

// The group's id; none, with the reason reported, when there is no such group.
std::optional<gid_t> FindGroup(const std::string& name) {
  std::vector<char> buffer(16384);
  group entry{};
  group* found = nullptr;
  const int error = ::getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
  if (found != nullptr) return found->gr_gid;
  std::string own = std::to_string(::getegid());
  if (const group* g = ::getgrgid(::getegid()); g != nullptr) own = g->gr_name;
  Report("group '" + name + "' " +
         (error != 0 ? std::string("cannot be looked up: ") + std::strerror(error)
                     : std::string("does not exist")) +
         "; the device folder and sockets keep the daemon's group '" + own +
         "'. Create it (groupadd --system " + name + ") or name another with --group.");
  return std::nullopt;
}

// Waits for SIGINT or SIGTERM on the signal descriptor, calling `rescan` at
// each SIGHUP; false when waiting failed.
bool WaitForStop(int signalFd, bool verbose, const std::function<void()>& rescan) {
  for (;;) {
    signalfd_siginfo info{};
    const ssize_t n = ::read(signalFd, &info, sizeof(info));
    if (n == static_cast<ssize_t>(sizeof(info))) {
      if (info.ssi_signo == SIGHUP) {
        Report("looking at the bus again (SIGHUP)");
        rescan();
        continue;
      }
      if (verbose) Report(std::string("stopping on ") + strsignal(int(info.ssi_signo)));
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    Report(std::string("cannot wait for signals: ") + std::strerror(errno));
    return false;
  }
}

// Simulated boards: each starts as a bare EZ-USB part on its own port of a
// simulated bus, so that every start runs the firmware load, the
// re-enumeration and the driver's start as with hardware.
struct SimulatedBus {
  explicit SimulatedBus(const Options& options) : bus(8, k27sim::SimUsbBus::FrameClock::WallClock) {
    for (unsigned n = 0; n < options.boards; ++n) {
      k27sim::SimBoardOptions boardOptions;
      boardOptions.eepromBytes = options.eepromBytes;
      boardOptions.realTime = true;
      boardOptions.boardAddress = static_cast<std::uint8_t>(n);
      boards.push_back(std::make_shared<k27sim::SimBoard>(boardOptions));
    }
  }
  std::shared_ptr<k27sim::SimEzUsbPart> BarePart(std::size_t board) const {
    k27sim::SimEzUsbPartOptions part;
    part.vendorId = kLoaderVendorId;
    part.productId = kLoaderProductId;
    part.reEnumerationDelay = std::chrono::milliseconds(20);
    return std::make_shared<k27sim::SimEzUsbPart>(boards[board], part);
  }
  void PlugBoard(std::size_t n) { bus.Plug(static_cast<int>(n) + 1, BarePart(n)); }
  // Isochronous devices carry the board's identifiers so that they are
  // served as boards; they sit on the ports after the boards'.
  void PlugIsoDevices(unsigned count) {
    for (unsigned n = 0; n < count; ++n) {
      if (boards.size() + n >= static_cast<std::size_t>(bus.Ports())) break;
      bus.Plug(static_cast<int>(boards.size() + n) + 1,
               std::make_shared<k27sim::SimIsoDevice>(
                   k27sim::SimIsoDeviceOptions{kBoardVendorId, kBoardProductId, 256}));
    }
  }
  bool Unplug(int board) {
    if (board < 0 || board >= static_cast<int>(boards.size()) || !bus.DeviceAt(board + 1))
      return false;
    bus.Unplug(board + 1);
    return true;
  }
  bool Plug(int board) {
    if (board < 0 || board >= static_cast<int>(boards.size()) || bus.DeviceAt(board + 1))
      return false;
    bus.Plug(board + 1, BarePart(static_cast<std::size_t>(board)));
    return true;
  }

  k27sim::SimUsbBus bus;
  std::vector<std::shared_ptr<k27sim::SimBoard>> boards;
};

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
  sigaddset(&stopSignals, SIGHUP);
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
  std::unique_ptr<SimulatedBus> simulated;
  std::unique_ptr<vantrel::driver::DeviceManager> manager;
  std::unique_ptr<vantrel::usbhost::UsbBus> host;
  std::unique_ptr<k27sim::SimConsole> console;
  std::unique_ptr<vantrel::driver::SimConsoleHandler> consoleHandler;
  std::unique_ptr<ControlServer> consoleServer;
  int status = 0;
  try {
    if (options.tracePath) trace = std::make_unique<ExchangeTrace>(*options.tracePath);
    vantrel::driver::DeviceManagerOptions managed;
    managed.deviceDir = deviceDir;
    managed.loaderId = {kLoaderVendorId, kLoaderProductId};
    managed.boardId = {kBoardVendorId, kBoardProductId};
    managed.log = Report;
    managed.verbose = options.verbose;
    if (!options.group.empty() || !options.simulate)
      managed.group = FindGroup(options.group.empty() ? std::string("vantrel") : options.group);
    managed.exchangeLocks = options.exchangeLocks;
    managed.maxConnectionsPerBoard = options.connectionsPerBoard;
    managed.maxConnectionsPerUser = options.connectionsPerUser;
    if (trace || options.verbose) {
      managed.exchanges = [&trace, verbose = options.verbose](const ExchangeRecord& record) {
        if (trace) trace->Record(record);
        if (verbose) Report(vantrel::driver::FormatExchange(record));
      };
    }
    if (options.capturePath)
      managed.capture = vantrel::usbhost::UsbCapture::Open(*options.capturePath);
    manager = std::make_unique<vantrel::driver::DeviceManager>(managed);

    if (options.simulate) {
      simulated = std::make_unique<SimulatedBus>(options);
      auto simHost = vantrel::usbhost::MakeSimBus(simulated->bus);
      simHost->Start(manager->Events());
      host = std::move(simHost);
      std::string failure;
      // One board at a time: parts load side by side, and instance N is to
      // be simulated board N, as k27simctl --board N names it.
      for (std::size_t n = 0; n < simulated->boards.size(); ++n) {
        simulated->PlugBoard(n);
        if (!manager->WaitForStartedBoards(n + 1, std::chrono::seconds(30), &failure))
          throw std::runtime_error(failure);
      }
      if (options.isoDevices > 0) {
        simulated->PlugIsoDevices(options.isoDevices);
        if (!manager->WaitForStartedBoards(options.boards + options.isoDevices,
                                           std::chrono::seconds(30), &failure))
          throw std::runtime_error(failure);
      }

      std::vector<k27sim::SimBoard*> boards;
      for (auto& board : simulated->boards) boards.push_back(board.get());
      console = std::make_unique<k27sim::SimConsole>(boards);
      console->SetPlugHooks({[&simulated](int board) { return simulated->Unplug(board); },
                             [&simulated](int board) { return simulated->Plug(board); }});
      consoleHandler = std::make_unique<vantrel::driver::SimConsoleHandler>(*console);
      consoleServer =
          std::make_unique<ControlServer>(deviceDir, std::vector<ControlHandler*>{},
                                          options.verbose ? Report : ControlServer::Log{});
      consoleServer->AddEndpoint(vantrel::driver::kSimConsoleSocket, consoleHandler.get());
      if (managed.group) consoleServer->SetGroup(*managed.group);
      consoleServer->SetLimits({options.connectionsPerBoard, nullptr, Report});
      consoleServer->Start();
      Report("serving " + std::to_string(options.boards) + " simulated board(s) in " + deviceDir);
    } else {
      host = vantrel::usbhost::MakeLibusbBus(
          {{kLoaderVendorId, kLoaderProductId}, {kBoardVendorId, kBoardProductId}});
      host->Start(manager->Events());
      Report("serving boards on USB in " + deviceDir);
    }
  } catch (const std::exception& e) {
    Report(e.what());
    if (host) host->Stop();
    if (manager) manager->RemoveAll();
    ::close(signalFd);
    return 1;
  }

  if (!WaitForStop(signalFd, options.verbose, [&host] { host->Rescan(); })) status = 1;
  if (consoleServer) consoleServer->Stop();
  host->Stop();
  manager->RemoveAll();
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
  return Run(options);
}
