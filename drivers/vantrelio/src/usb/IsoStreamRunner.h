// The one isochronous stream a device runs: B requests of F packets that
// circulate on an isochronous pipe after the starting request has returned,
// each completion writing its packet records and data into the device's
// two rings, from which IOCTL_VIO_READ_ISO_STREAM reads. A worker thread
// takes the completions in the order the pipe delivers them, so each ring
// has that one writer.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "actions/ControlActions.h"

namespace vantrel::driver {

class IsoStreamRunner {
 public:
  IsoStreamRunner() = default;
  // Ends a stream still running (its transfers are aborted) and waits for it.
  ~IsoStreamRunner();
  IsoStreamRunner(const IsoStreamRunner&) = delete;
  IsoStreamRunner& operator=(const IsoStreamRunner&) = delete;

  // IOCTL_VIO_START_ISO_STREAM. A record beyond the in-flight bounds of
  // IsoRequests.h, or whose areas exceed 64 MiB, is refused with
  // STATUS_INSUFFICIENT_RESOURCES. While a stream runs (until its last request
  // has ended, also after a stop) another start is refused with
  // STATUS_DEVICE_BUSY. The stream holds a work reference until its last
  // request has ended, so removal waits for it.
  ControlResult Start(const DeviceContext& context, InBuffer in);

  // True from a successful start until the stream's last request has ended.
  bool Running() const;

 private:
  struct Stream;
  void Run(DeviceContext context, std::shared_ptr<Stream> stream);

  mutable std::mutex mutex_;
  std::condition_variable ended_;
  bool running_ = false;
  bool ending_ = false;  // the runner is going away: cancel every request
  usbhost::UsbDevice* usb_ = nullptr;
  std::uint8_t endpoint_ = 0;
  std::thread worker_;
};

}  // namespace vantrel::driver
