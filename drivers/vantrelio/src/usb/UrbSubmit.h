// One USB request made synchronously on the calling thread: submitted to the
// host layer, waited for at most the transfer time limit, cancelled when it
// has not completed by then and waited for until it has.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "device/BoardDeviceState.h"
#include "vantrel/usbhost/UsbHost.h"

namespace vantrel::driver {

inline constexpr std::chrono::milliseconds kDefaultTransferTimeLimit{5000};

// What a request handler works on.
struct DeviceContext {
  BoardDeviceState& state;
  usbhost::UsbDevice& usb;
  std::chrono::milliseconds transferTimeLimit;
};

struct UrbResult {
  std::uint32_t status;  // an NtStatus
  std::size_t transferred;
  // The request block's own status (USBD_STATUS_*).
  std::uint32_t usbdStatus = usbhost::USBD_STATUS_SUCCESS;

  // The endpoint refused the transfer with a stall; it stays halted, and
  // refuses every later transfer, until the pipe is reset.
  bool Stalled() const {
    return usbdStatus == usbhost::USBD_STATUS_STALL_PID ||
           usbdStatus == usbhost::USBD_STATUS_ENDPOINT_HALTED;
  }
};

// The status of a request whose request block ended with `usbdStatus`: a
// failing one is kept as LastUrbError and gives STATUS_CANCELLED when the
// request was cancelled, else STATUS_UNSUCCESSFUL.
std::uint32_t CompleteUrbStatus(BoardDeviceState& state, std::uint32_t usbdStatus);

UrbResult SubmitUrbSync(const DeviceContext& context, usbhost::TransferRequest request);

}  // namespace vantrel::driver
