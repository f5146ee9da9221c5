// The firmware loads of the bare EZ-USB parts that arrive. Each load runs on
// a thread of its own, one at a time per bus place, so that a part that
// never answers holds up neither the other boards nor its own departure.
// A load that fails is logged as an error with the step, the record address
// and the USB status, and tried again after a back-off a bounded number of
// times; after that (or at once) on RetryFailed (SIGHUP), without a replug.
// After a complete load, the board should come back at the same place: when
// no board with the served identifiers does within a while, the error names
// what is there instead.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vantrel/loader/LoaderDevice.h"
#include "vantrel/usbhost/Backends.h"

namespace vantrel::driver {

struct LoadSettings {
  loader::LoaderDevice::Images images = loader::LoaderDevice::BuiltInImages();
  // Each request of a load.
  std::chrono::milliseconds requestTimeLimit = loader::kRequestTimeLimit;
  // Automatic attempts after a failed load: the first after `backoff`, each
  // later one after twice the wait before (2, 4, 8 s by default: a part that
  // never answers is given up within about 34 s).
  unsigned retries = 3;
  std::chrono::milliseconds backoff{2000};
  // How long the board may take to come back after a complete load; a part
  // re-enumerates in well under a second.
  std::chrono::milliseconds boardWait{5000};
};

// The error logged when no board came back at `location` after a complete
// load: what is there now (`found`, every device at that place) against
// the identifiers served.
std::string NoBoardMessage(const std::string& location, std::chrono::milliseconds waited,
                           const std::vector<usbhost::DeviceIdentity>& found,
                           const usbhost::UsbId& loaderId, const usbhost::UsbId& boardId);

class FirmwareLoads {
 public:
  using Log = std::function<void(const std::string&)>;
  struct Setup {
    LoadSettings settings;
    usbhost::UsbId loaderId{};
    usbhost::UsbId boardId{};
    Log info;
    Log error;
    // Every device on the bus now (UsbBus::Present), for the message when
    // no board comes back; none: nothing is named.
    std::function<std::vector<usbhost::DeviceIdentity>()> busDevices;
  };

  explicit FirmwareLoads(Setup setup);
  ~FirmwareLoads();
  FirmwareLoads(const FirmwareLoads&) = delete;
  FirmwareLoads& operator=(const FirmwareLoads&) = delete;

  // A bare part arrived: its load starts (after an earlier one at the same
  // place has ended).
  void Arrived(std::shared_ptr<usbhost::UsbDevice> part);
  // Whatever was at `location` left: a load waiting there to try again stops.
  void Departed(const std::string& location);
  // A board with the served identifiers arrived at `location`.
  void BoardArrived(const std::string& location);
  // Tries again at once every part whose load has failed and that is still
  // there, the ones given up included. Returns how many.
  std::size_t RetryFailed();
  // Ends every load and waiting (the transfers of a stopped bus end at once)
  // and joins the threads. No load starts afterwards.
  void StopAll();

 private:
  struct Job;
  // Under the lock. `again`: asked for by RetryFailed.
  void StartLocked(std::shared_ptr<usbhost::UsbDevice> part, bool again);
  void Run(const std::shared_ptr<Job>& job, const std::shared_ptr<Job>& previous);
  // Waits `wait` or until told to try now; false when the job is to end.
  bool WaitToRetry(Job& job, std::chrono::milliseconds wait);
  // Waits up to boardWait for the board at the job's place; true when it
  // came (or the wait no longer matters: a stop, another part there).
  bool BoardCame(Job& job);
  bool BoardArrived(const Job& job);
  bool PartLeft(const Job& job);
  // After a complete load: the error when no board came back.
  void WatchForBoard(Job& job);
  void Reap();

  const Setup setup_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  std::map<std::string, std::shared_ptr<Job>> latest_;  // by place
  std::list<std::shared_ptr<Job>> jobs_;                // every thread not yet joined
  // Parts whose load failed and that have not left: tried again on RetryFailed.
  std::map<std::string, std::shared_ptr<usbhost::UsbDevice>> failed_;
};

}  // namespace vantrel::driver
