// A device on the machine's USB, opened through libusb. Transfers go through
// the asynchronous API and complete on the context's event thread; the
// configuration calls are libusb's synchronous ones and run on the caller's
// thread. Once the device has left, its handle is dead: every call fails
// with USBD_STATUS_DEVICE_GONE, and the handle is closed when the last user
// lets go of the device (after every transfer's callback ran).
#pragma once

#include <libusb.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>

#include "libusb/BusyRetry.h"
#include "libusb/LibusbContext.h"
#include "vantrel/usbhost/UsbHost.h"

namespace vantrel::usbhost {

class LibusbTransfer;

class LibusbDevice final : public UsbDevice {
 public:
  // Takes over the open `handle`. Claims that fail with ACCESS or BUSY are
  // retried until `claimDeadline` (about 2 s after the arrival).
  LibusbDevice(std::shared_ptr<LibusbContext> context, libusb_device_handle* handle,
               DeviceIdentity identity, RetryClock::time_point claimDeadline);
  // Cancels what is still in flight, waits for the callbacks, releases the
  // claimed interfaces and closes the handle.
  ~LibusbDevice() override;
  LibusbDevice(const LibusbDevice&) = delete;
  LibusbDevice& operator=(const LibusbDevice&) = delete;

  DeviceIdentity Identity() const override { return identity_; }
  std::shared_ptr<PendingTransfer> Submit(TransferRequest request) override;
  std::uint32_t SelectConfiguration(std::uint8_t configurationValue, std::uint8_t interface,
                                    std::uint8_t alternate, InterfaceInfo* selected) override;
  // Releases the claimed interfaces and asks for the unconfigured state
  // (libusb_set_configuration(-1)). Kernel drivers that were detached on
  // claiming are re-attached by the release.
  std::uint32_t Deconfigure() override;
  std::uint32_t SelectInterface(std::uint8_t interface, std::uint8_t alternate,
                                InterfaceInfo* selected) override;
  void AbortEndpoint(std::uint8_t endpoint) override;
  std::uint32_t ResetEndpoint(std::uint8_t endpoint) override;
  std::uint32_t ResetPort() override;
  // libusb does not offer the bus's frame number.
  std::optional<std::uint32_t> CurrentFrameNumber() override { return std::nullopt; }

  // The device has left the bus: transfers in flight are cancelled and end
  // with USBD_STATUS_DEVICE_GONE, and so does everything later.
  void MarkGone();
  bool Gone() const;

  // For the transfers' completion callback: the transfer has ended and leaves
  // the in-flight set; `gone` tells whether the device had left by then.
  std::shared_ptr<LibusbTransfer> Retire(LibusbTransfer* transfer, bool* gone);

 private:
  // Claims `interface` unless it is claimed already (retrying ACCESS and BUSY
  // within the arrival window). Returns a libusb result.
  int Claim(std::uint8_t interface);
  void ReleaseAll();
  // The setting's endpoints from the active configuration descriptor.
  std::uint32_t Describe(std::uint8_t interface, std::uint8_t alternate, InterfaceInfo* info);

  const std::shared_ptr<LibusbContext> context_;
  libusb_device_handle* const handle_;
  const DeviceIdentity identity_;
  const RetryClock::time_point claimDeadline_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;  // in-flight set or gone_
  bool gone_ = false;
  std::unordered_map<LibusbTransfer*, std::shared_ptr<LibusbTransfer>> inFlight_;

  // Serialises the configuration calls; guards what they keep.
  std::mutex configMutex_;
  std::set<std::uint8_t> claimed_;
  std::map<std::uint8_t, std::uint8_t> alternates_;  // interface -> selected setting
};

}  // namespace vantrel::usbhost
