// A simulated USB device as the host layer offers it: transfers complete at
// once when the device answers, and NAKed ones wait until the device has
// data, the transfer is cancelled, or the device leaves.
#pragma once

#include <atomic>
#include <condition_variable>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "k27sim/SimUsb.h"
#include "vantrel/usbhost/UsbHost.h"

namespace vantrel::usbhost {

class SimTransfer;

class SimHostDevice final : public UsbDevice, public std::enable_shared_from_this<SimHostDevice> {
 public:
  SimHostDevice(int port, std::shared_ptr<vantrel::sim::SimUsbDevice> device,
                vantrel::sim::SimUsbBus& bus);
  ~SimHostDevice() override;
  // Hooks the device's data-ready notification; call once after making it.
  void Attach();

  DeviceIdentity Identity() const override { return identity_; }
  // True when this stands for `device` of the simulated bus.
  bool Is(const vantrel::sim::SimUsbDevice& device) const { return device_.get() == &device; }
  std::shared_ptr<PendingTransfer> Submit(TransferRequest request) override;
  std::uint32_t SelectConfiguration(std::uint8_t configurationValue, std::uint8_t interface,
                                    std::uint8_t alternate, InterfaceInfo* selected) override;
  std::uint32_t Deconfigure() override;
  std::uint32_t SelectInterface(std::uint8_t interface, std::uint8_t alternate,
                                InterfaceInfo* selected) override;
  void AbortEndpoint(std::uint8_t endpoint) override;
  std::uint32_t ResetEndpoint(std::uint8_t endpoint) override;
  // Ends every transfer in flight (USBD_STATUS_CANCELED), resets the
  // simulated device to its default state and, as the platform does after a
  // port reset, selects the configuration and interface setting in force
  // again.
  std::uint32_t ResetPort() override;
  std::optional<std::uint32_t> CurrentFrameNumber() override;

  // The device has left the bus: every waiting transfer ends with
  // USBD_STATUS_DEVICE_GONE, and so does every later one.
  void MarkGone();
  void Cancel(SimTransfer& transfer);

 private:
  // One attempt at a transfer; false when the device answered NAK.
  bool Attempt(SimTransfer& transfer);
  void OnDataReady();
  void RetryWaiting();
  std::uint32_t StandardRequest(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                                std::uint16_t index);
  std::uint32_t ReadInterface(int interface, int alternate, InterfaceInfo* selected);

  const std::shared_ptr<vantrel::sim::SimUsbDevice> device_;
  vantrel::sim::SimUsbBus& bus_;
  DeviceIdentity identity_;

  std::mutex mutex_;
  bool gone_ = false;
  std::list<std::shared_ptr<SimTransfer>> waiting_;
  // Serialises attempts, so that a retry and a new transfer never race for
  // one reply.
  std::mutex attemptMutex_;
  std::atomic<bool> retryPending_{false};

  // Isochronous transfers wait for their frames, as on a host controller:
  // each is scheduled on its endpoint right after the one before it and
  // completes once the bus's frame counter has passed its last frame. While
  // one waits, a clock thread looks at the counter every millisecond.
  void ScheduleIso(TransferRequest& request);
  bool IsoDue(const TransferRequest& request) const;
  bool IsoWaiting();
  // The endpoint's schedule ends after the last transfer still waiting on
  // it: the frames of transfers that were cancelled are free again. Under
  // mutex_.
  void RewindIsoLocked(std::uint8_t endpoint);
  void WakeIsoClock();
  void RunIsoClock();
  std::map<std::uint8_t, std::uint32_t> nextIsoFrame_;  // under mutex_

  // What the host selected, restored after a port reset; under mutex_.
  struct Selection {
    std::uint8_t configuration = 0;  // 0: not configured
    std::uint8_t interface = 0;
    std::uint8_t alternate = 0;
  };
  Selection selection_;
  std::mutex isoClockMutex_;
  std::condition_variable isoClockWake_;
  bool isoPending_ = false;    // under isoClockMutex_
  bool isoClockStop_ = false;  // under isoClockMutex_
  std::thread isoClock_;
};

}  // namespace vantrel::usbhost
