// One emulated usbfs device node: answers the ioctls libusb sends to
// /dev/bus/usb/BBB/DDD as the kernel would, for a simulated USB device
// behind it. The handler runs on umockdev's ioctl thread and may serve a
// client in another process: every pointer of the client is read with
// umockdev_ioctl_data_resolve and handed back on reap with set_ptr.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "k27sim/SimUsb.h"

typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;
typedef struct _UMockdevTestbed UMockdevTestbed;

namespace vantrel::usbhost::emulation {

class DelayedCompletion;

// Faults a device can be given, as machines in the field show them.
struct UsbfsFaults {
  bool nak = false;         // URBs are taken and never answered (until discarded)
  bool stall = false;       // every URB ends stalled
  int busyClaims = 0;       // so many claims fail with EBUSY first
  std::string boundDriver;  // a kernel driver bound to every interface ("": none)
  bool noDevice = false;    // every ioctl fails with ENODEV
  bool refuseOpen = false;  // opening the node fails with EACCES (the bus applies it)
};

class UsbfsDevice {
 public:
  // The pause of a reap that finds nothing on an idle device: emulated
  // nodes always look ready to libusb, which would otherwise reap without
  // pause. While any device of this process moved an URB within the last
  // kBusyWindow, no reap pauses: the client's one event thread reaps every
  // device in turn, so one idle device's pause would slow the busy ones.
  static constexpr int kIdleReapPauseMicroseconds = 2000;
  static constexpr std::int64_t kBusyWindowMicroseconds = 20000;

  // `configured` hears the configuration value the client sets (0: none),
  // so that the sysfs record can follow.
  UsbfsDevice(std::shared_ptr<vantrel::sim::SimUsbDevice> device, UsbfsFaults faults,
              std::function<void(int)> configured = {});
  ~UsbfsDevice();
  UsbfsDevice(const UsbfsDevice&) = delete;
  UsbfsDevice& operator=(const UsbfsDevice&) = delete;

  // Serves the node `devnode` of `testbed` until destroyed; false (and a
  // message in `why`) when umockdev refuses.
  bool Attach(UMockdevTestbed* testbed, const std::string& devnode, std::string* why);

  const std::shared_ptr<vantrel::sim::SimUsbDevice>& Device() const { return device_; }

  // Fault switches, effective from the next ioctl.
  void SetNak(bool on);
  void SetStall(bool on);
  void FailClaims(int times);
  void BindDriver(const std::string& name);
  void SetNoDevice(bool on);
  // The device has left the bus: URBs in flight end with -ESHUTDOWN, then
  // every ioctl fails with ENODEV.
  void MarkGone();

  // What the client asked for.
  int ClaimAttempts() const;
  std::vector<unsigned> Claimed() const;
  std::vector<std::pair<unsigned, unsigned>> Settings() const;  // interface, setting
  std::vector<int> Configurations() const;                      // -1: unconfigured
  std::vector<unsigned> ClearedHalts() const;
  std::vector<std::string> DetachedDrivers() const;
  int Resets() const;
  std::size_t Discarded() const;
  std::size_t WaitingUrbs() const;  // submitted, not answered yet
  std::size_t SubmittedUrbs() const;

 private:
  struct Urb;
  struct Answer {
    long result = 0;
    int error = 0;
    bool idle = false;
  };

  static int OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);
  static void OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);
  Answer Handle(UMockdevIoctlClient* client);
  Answer Submit(UMockdevIoctlClient* client);
  Answer Reap(UMockdevIoctlClient* client);
  Answer Discard(UMockdevIoctlClient* client);
  Answer Claim(UMockdevIoctlClient* client, bool disconnectFirst);
  Answer DriverRequest(UMockdevIoctlClient* client);
  Answer GetDriver(UMockdevIoctlClient* client);
  Answer SetConfiguration(UMockdevIoctlClient* client);
  Answer SetInterface(UMockdevIoctlClient* client);
  Answer ClearHalt(UMockdevIoctlClient* client);
  Answer Reset();
  // One attempt at an URB; false while the device answers NAK or the
  // frames of an isochronous URB have not passed. Under mutex_.
  bool Attempt(Urb& urb);
  void RetryWaitingLocked();
  void EndAllLocked(int status);
  std::uint32_t FrameNumber() const;
  vantrel::sim::UsbOutcome StandardRequest(std::uint8_t type, std::uint8_t request,
                                           std::uint16_t value, std::uint16_t index);

  const std::shared_ptr<vantrel::sim::SimUsbDevice> device_;
  const std::function<void(int)> configured_;
  UMockdevTestbed* testbed_ = nullptr;
  std::string devnode_;
  UMockdevIoctlBase* handler_ = nullptr;
  const std::int64_t bornMicroseconds_;
  std::unique_ptr<DelayedCompletion> delayed_;

  mutable std::mutex mutex_;
  UsbfsFaults faults_;
  bool gone_ = false;
  std::deque<std::unique_ptr<Urb>> waiting_;
  std::deque<std::unique_ptr<Urb>> done_;
  std::map<std::uint8_t, std::uint32_t> nextIsoFrame_;
  int configuration_ = 1;  // the bus configures the device on enumeration
  std::map<unsigned, unsigned> alternates_;
  int claimAttempts_ = 0;
  std::vector<unsigned> claimed_;
  std::vector<std::pair<unsigned, unsigned>> settings_;
  std::vector<int> configurations_;
  std::vector<unsigned> clearedHalts_;
  std::vector<std::string> detached_;
  std::string detachedDriver_;  // bound again on USBDEVFS_CONNECT
  int resets_ = 0;
  std::size_t discarded_ = 0;
  std::size_t submitted_ = 0;
};

}  // namespace vantrel::usbhost::emulation
