// vantrelio: the driver daemon. Serves each board's control requests on the
// socket "ezusb-N" in the device folder.
#include <signal.h>
#include <sys/stat.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <future>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "daemon/DaemonOptions.h"
#include "daemon/GroupLookup.h"
#include "daemon/RunAsUser.h"
#include "daemon/ServiceManager.h"
#include "device/DeviceManager.h"
#include "device/ExchangeTrace.h"
#include "k27/common/Log.h"
#include "k27fw/FirmwareIds.h"
#include "vantrel/protocol/ControlProtocol.h"
#include "vantrel/loader/LoaderDevice.h"
#include "vantrel/usbhost/Backends.h"
#include "vantrel/usbhost/UsbCapture.h"
#if VANTRELIO_WITH_SIMULATOR
#include "sim/SimulatedBoards.h"
#endif

namespace {

using vantrel::driver::ControlProtocol;
using vantrel::driver::DaemonOptions;
using vantrel::driver::ExchangeRecord;
using vantrel::driver::ExchangeTrace;

void Report(const std::string& line) { vantrel::common::LogInfo("vantrelio: " + line); }

// Failures are errors, so that --quiet still shows why the daemon stopped.
void ReportError(const std::string& line) { vantrel::common::LogError("vantrelio: " + line); }

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
    ReportError(std::string("cannot wait for signals: ") + std::strerror(errno));
    return false;
  }
}

// A device folder that is missing is made now, while the daemon may still
// write where it lives: the user's, the board group's, 0770.
void MakeDeviceDirFor(const std::string& dir, const vantrel::driver::RunAs& user,
                      std::optional<gid_t> group) {
  std::error_code ec;
  if (std::filesystem::is_directory(dir, ec)) return;
  if (!std::filesystem::create_directories(dir, ec) && ec)
    throw std::system_error(ec, "cannot create " + dir);
  if (::chown(dir.c_str(), user.uid, group ? *group : user.gid) != 0 ||
      ::chmod(dir.c_str(), 0770) != 0)
    throw std::system_error(errno, std::generic_category(),
                            "cannot give " + dir + " to " + user.name);
}

// Blocks until the bus has delivered the devices present at its start.
void WaitForFirstLook(vantrel::usbhost::UsbBus& host) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> looked = done->get_future();
  // A bus that stops first drops the promise unkept: the wait ends as well.
  if (host.AfterPending([done] { done->set_value(); })) looked.wait();
}

int Run(const DaemonOptions& options) {
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
    ReportError("cannot block the stop signals");
    return 1;
  }
  const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
  if (signalFd < 0) {
    ReportError(std::string("signalfd: ") + std::strerror(errno));
    return 1;
  }
  ::signal(SIGPIPE, SIG_IGN);

  const vantrel::driver::StartIdentity identity = vantrel::driver::CheckStartIdentity(
      ::geteuid() == 0, vantrel::driver::StartedByServiceManager(), !options.user.empty());
  if (identity.verdict == vantrel::driver::StartIdentity::Verdict::Refuse) {
    ReportError(identity.message);
    ::close(signalFd);
    return 1;
  }
  if (identity.verdict == vantrel::driver::StartIdentity::Verdict::ServeWarned)
    vantrel::common::LogWarning("vantrelio: " + identity.message);

  std::unique_ptr<ExchangeTrace> trace;
#if VANTRELIO_WITH_SIMULATOR
  // Declared before the manager: the simulated bus outlives the boards.
  std::unique_ptr<vantrel::driver::SimulatedBoards> simulation;
#endif
  // The bus as the firmware loads see it, from their own threads.
  std::atomic<vantrel::usbhost::UsbBus*> busView{nullptr};
  std::unique_ptr<vantrel::driver::DeviceManager> manager;
  std::unique_ptr<vantrel::usbhost::UsbBus> libusbHost;
  vantrel::usbhost::UsbBus* host = nullptr;
  int status = 0;
  try {
    if (options.tracePath) trace = std::make_unique<ExchangeTrace>(*options.tracePath);
    vantrel::driver::DeviceManagerOptions managed;
    managed.deviceDir = deviceDir;
    managed.loaderId = {kLoaderVendorId, kLoaderProductId};
    managed.boardId = {kBoardVendorId, kBoardProductId};
    managed.log = Report;
    managed.logError = ReportError;
    managed.verbose = options.verbose;
    managed.loads = options.loads;
    if (options.externalTestRecords)
      managed.loads.images = vantrel::loader::LoaderDevice::BuiltInImagesWithExternalRecords();
    managed.busDevices = [&busView] {
      vantrel::usbhost::UsbBus* bus = busView.load();
      return bus ? bus->Present() : std::vector<vantrel::usbhost::DeviceIdentity>{};
    };
    if (!options.group.empty() || !options.simulate)
      managed.group = vantrel::driver::FindGroup(
          options.group.empty() ? std::string("vantrel") : options.group, Report);
    std::optional<gid_t> adminGroup;
    if (!options.adminGroup.empty()) {
      std::string why;
      adminGroup = vantrel::driver::LookupGroup(options.adminGroup, &why);
      if (!adminGroup)
        ReportError("administrators' group '" + options.adminGroup + "' " + why +
                    "; the maintenance codes stay with root and the daemon's own user");
    }
    managed.access = vantrel::driver::AccessPolicy::ForDaemon(adminGroup, options.implicitAdmins);
    managed.exchangeLocks = options.exchangeLocks;
    managed.maxConnectionsPerBoard = options.connectionsPerBoard;
    managed.maxConnectionsPerUser = options.connectionsPerUser;
    managed.maxConnectionsPerUserPerBoard = ConnectionsPerUserPerBoard(options);
    if (trace || options.verbose) {
      managed.exchanges = [&trace, verbose = options.verbose](const ExchangeRecord& record) {
        if (trace) trace->Record(record);
        if (verbose) Report(vantrel::driver::FormatExchange(record));
      };
    }
    if (options.capturePath)
      managed.capture = vantrel::usbhost::UsbCapture::Open(*options.capturePath);
    manager = std::make_unique<vantrel::driver::DeviceManager>(managed);

    if (!options.user.empty()) {
      std::string why;
      const std::optional<vantrel::driver::RunAs> user =
          vantrel::driver::LookupRunAs(options.user, managed.group, &why);
      if (!user) throw std::runtime_error("--user: " + why);
      if (::geteuid() == 0) MakeDeviceDirFor(deviceDir, *user, managed.group);
      if (!vantrel::driver::SwitchTo(*user, &why)) throw std::runtime_error("--user: " + why);
      Report("running as user '" + user->name + "'");
    }

    // The bus's event thread feeds systemd's watchdog: when a handler hangs
    // there, systemd restarts the daemon.
    const std::optional<std::chrono::milliseconds> watchdog = vantrel::driver::WatchdogInterval();

    if (options.simulate) {
#if VANTRELIO_WITH_SIMULATOR
      vantrel::driver::SimulationSettings simulated;
      simulated.bus = {options.boards, options.eepromBytes, managed.loaderId, managed.boardId};
      simulated.isoDevices = options.isoDevices;
      simulated.deviceDir = deviceDir;
      simulated.group = managed.group;
      simulated.connectionsPerSocket = options.connectionsPerBoard;
      if (options.verbose) simulated.log = Report;
      simulated.report = Report;
      simulation = std::make_unique<vantrel::driver::SimulatedBoards>(simulated, *manager);
      host = &simulation->Host();
      busView.store(host);
      if (watchdog) host->SetHeartbeat(*watchdog, vantrel::driver::NotifyAlive);
      Report("serving " + std::to_string(options.boards) + " simulated board(s) in " + deviceDir);
#endif
    } else {
      libusbHost = vantrel::usbhost::MakeLibusbBus(
          {{kLoaderVendorId, kLoaderProductId}, {kBoardVendorId, kBoardProductId}},
          std::chrono::seconds(options.pollSeconds));
      if (watchdog) libusbHost->SetHeartbeat(*watchdog, vantrel::driver::NotifyAlive);
      busView.store(libusbHost.get());
      libusbHost->Start(manager->Events());
      host = libusbHost.get();
      WaitForFirstLook(*host);
      Report("serving boards on USB in " + deviceDir);
    }
  } catch (const std::exception& e) {
    ReportError(e.what());
    if (libusbHost) libusbHost->Stop();
    if (manager) manager->RemoveAll();
    ::close(signalFd);
    return 1;
  }

  vantrel::driver::NotifyReady("serving the boards in " + deviceDir);
  // SIGHUP: the bus is looked at again, and once what that found has been
  // delivered, every firmware load that failed is tried again (the part's
  // address has not changed, so the look alone does not report it anew).
  vantrel::driver::DeviceManager* loads = manager.get();
  const auto rescan = [host, loads] {
    host->Rescan();
    host->AfterPending([loads] { loads->RetryFailedLoads(); });
  };
  if (!WaitForStop(signalFd, options.verbose, rescan)) status = 1;
  vantrel::driver::NotifyStopping();
#if VANTRELIO_WITH_SIMULATOR
  if (simulation) simulation->Stop();
#endif
  host->Stop();
  manager->RemoveAll();
  ::close(signalFd);
  if (trace && trace->FailedWrites() > 0) {
    ReportError(std::to_string(trace->FailedWrites()) + " trace line(s) could not be written");
    status = 1;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const vantrel::driver::CommandLine line = vantrel::driver::ParseCommandLine(argc, argv);
  if (const auto exitStatus = vantrel::driver::AnswerCommandLine(line, std::cout, std::cerr))
    return *exitStatus;
#if !VANTRELIO_WITH_SIMULATOR
  if (line.options.simulate) {
    std::cerr << "vantrelio: --simulate: this vantrelio is built without the simulator\n";
    return vantrel::driver::kUsageError;
  }
#endif
  vantrel::common::Logger().SetThreshold(
      vantrel::common::ThresholdFor(line.options.verbose ? 1 : 0, line.options.quiet ? 1 : 0));
  return Run(line.options);
}
