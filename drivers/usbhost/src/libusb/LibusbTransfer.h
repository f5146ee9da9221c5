// One transfer through libusb's asynchronous API. The completion callback,
// on the context's event thread, stores the result, frees the libusb
// transfer and wakes the waiters; Cancel asks libusb to end the transfer,
// whose callback then runs as for any other end.
#pragma once

#include <libusb.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "vantrel/usbhost/UsbHost.h"

namespace vantrel::usbhost {

class LibusbDevice;

class LibusbTransfer final : public PendingTransfer {
 public:
  explicit LibusbTransfer(TransferRequest request) : request_(std::move(request)) {}
  ~LibusbTransfer() override;

  bool WaitFor(std::chrono::milliseconds timeout) override;
  void Wait() override;
  void Cancel() override;
  bool Completed() const override;
  const TransferResult& Result() const override { return result_; }

  // For the device. Allocates and fills the libusb transfer for `handle`;
  // returns a UsbdStatus (a request that libusb cannot carry is
  // USBD_STATUS_INVALID_PARAMETER).
  std::uint32_t Prepare(libusb_device_handle* handle, LibusbDevice* owner);
  // Submits the prepared transfer; returns a libusb result. From a successful
  // submission on, the callback completes the transfer.
  int Submit();
  // Completes a transfer that was never submitted, or whose submission
  // failed, with `status`.
  void CompleteNow(std::uint32_t status);
  const TransferRequest& Request() const { return request_; }

 private:
  static void LIBUSB_CALL OnDone(libusb_transfer* transfer);
  bool In() const;
  // The result that libusb's finished transfer describes; copies IN data out
  // of the transfer's own buffer.
  TransferResult Collect(const libusb_transfer& transfer);
  void Publish(TransferResult result);

  TransferRequest request_;
  // Control setup + data, or the packed isochronous packets; bulk and
  // interrupt transfers use the caller's buffer.
  std::vector<std::uint8_t> buffer_;
  LibusbDevice* owner_ = nullptr;  // set while the transfer is in flight

  mutable std::mutex mutex_;
  std::condition_variable done_;
  libusb_transfer* transfer_ = nullptr;  // until the transfer has ended
  bool submitted_ = false;
  bool completed_ = false;
  TransferResult result_;
};

}  // namespace vantrel::usbhost
