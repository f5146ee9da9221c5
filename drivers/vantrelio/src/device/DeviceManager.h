// The daemon's plug and play: a bare EZ-USB part that arrives gets the
// firmware download (FirmwareLoads: a thread per load, retries, the check
// that the board comes back); a board that arrives becomes a board device
// under the lowest free instance 0 to 7, served on the socket "ezusb-N"; a
// departure removes the device and its socket.
#pragma once

#include <sys/types.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BoardDevice.h"
#include "server/ConnectionQuota.h"
#include "server/ControlServer.h"
#include "ExchangeRecord.h"
#include "FirmwareLoads.h"
#include "vantrel/usbhost/Backends.h"
#include "vantrel/usbhost/UsbCapture.h"

namespace vantrel::driver {

// A client user's default share of a board's connections: three quarters
// of the board's limit. A program running as one user may use most of a
// board, and however many connections it leaves idle, a quarter (16 of 64)
// stays for everybody else, such as a diagnostic tool.
constexpr std::size_t UserShareOfBoard(std::size_t perBoard) { return perBoard - perBoard / 4; }

struct DeviceManagerOptions {
  std::filesystem::path deviceDir;
  usbhost::UsbId loaderId{};
  usbhost::UsbId boardId{};
  std::chrono::milliseconds transferTimeLimit = kDefaultTransferTimeLimit;
  // One line per arrival, load, start and removal (and more when verbose).
  std::function<void(const std::string&)> log;
  // Failures that need someone's attention (a firmware load that failed, a
  // board that did not come back); none: they go to `log`.
  std::function<void(const std::string&)> logError;
  // Time limits, retries and images of the firmware loads.
  LoadSettings loads;
  // Every device on the bus now (UsbBus::Present), to name what came back
  // instead of a board after a load.
  std::function<std::vector<usbhost::DeviceIdentity>()> busDevices;
  bool verbose = false;
  // Every bulk exchange of every board, for --trace.
  ExchangeHook exchanges;
  // Every USB transfer, for --capture.
  std::shared_ptr<usbhost::UsbCapture> capture;
  // The group of the device folder and the sockets; none keeps the daemon's.
  std::optional<gid_t> group;
  // Who may use the maintenance codes on the boards' sockets.
  AccessPolicy access = AccessPolicy::ForDaemon(std::nullopt);
  // False only for the test that shows what the per-channel exchange locks
  // prevent.
  bool exchangeLocks = true;
  // Connections each board serves at once, and connections each client
  // user holds across all boards; 0: no limit. One over a limit is refused
  // with STATUS_TOO_MANY_OPENED_FILES or STATUS_QUOTA_EXCEEDED.
  std::size_t maxConnectionsPerBoard = kDefaultConnectionsPerBoard;
  std::size_t maxConnectionsPerUser = kDefaultConnectionsPerUser;
  // Connections each client user holds at once on one board; 0: no limit.
  // One over it is refused with STATUS_TOO_MANY_SESSIONS.
  std::size_t maxConnectionsPerUserPerBoard = kDefaultConnectionsPerUserPerBoard;

  static constexpr std::size_t kDefaultConnectionsPerBoard = 64;
  static constexpr std::size_t kDefaultConnectionsPerUser = 256;
  static constexpr std::size_t kDefaultConnectionsPerUserPerBoard =
      UserShareOfBoard(kDefaultConnectionsPerBoard);
};

class DeviceManager {
 public:
  static constexpr int kInstances = 8;

  explicit DeviceManager(DeviceManagerOptions options);
  ~DeviceManager();
  DeviceManager(const DeviceManager&) = delete;
  DeviceManager& operator=(const DeviceManager&) = delete;

  // The handlers to give the bus.
  usbhost::UsbBus::Events Events();
  // Removes every board, as if each had left, and waits for the downloads
  // in flight (at shutdown, once the bus has stopped: a stopped bus ends
  // every transfer of its devices).
  void RemoveAll();
  // Tries again every firmware load that failed, at once (SIGHUP): parts
  // given up on, and those waiting for their next attempt. Returns how many.
  std::size_t RetryFailedLoads();
  // The instances now served, lowest first; a departing board counts until
  // its socket has gone.
  std::vector<int> Instances() const;
  // Waits until `count` boards are started, at most `limit`; false (with
  // the reason) when they are not, or a board could not be served.
  bool WaitForStartedBoards(std::size_t count, std::chrono::milliseconds limit,
                            std::string* failure = nullptr);

 private:
  struct Board {
    std::shared_ptr<BoardDevice> device;
    std::unique_ptr<ControlServer> server;
    bool started = false;
  };

  void Arrived(std::shared_ptr<usbhost::UsbDevice> device);
  void Departed(const usbhost::DeviceIdentity& identity);
  void Requested(const usbhost::DeviceIdentity& identity, usbhost::PnpRequest request);
  void AddBoard(const std::shared_ptr<usbhost::UsbDevice>& device);
  void RemoveBoard(const std::string& location, Board board);
  void Log(const std::string& line) const;
  void LogError(const std::string& line) const;

  const DeviceManagerOptions options_;
  const std::shared_ptr<ConnectionQuota> quota_;
  FirmwareLoads loads_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, Board> boards_;  // by bus location
  std::array<bool, kInstances> used_{};
  std::vector<int> removing_;  // instances whose removal is under way
  std::string failure_;        // the first board that could not be served
};

}  // namespace vantrel::driver
