#include "UrbSubmit.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "vantrel/protocol/ControlCodes.h"

namespace vantrel::driver {

std::uint32_t CompleteUrbStatus(BoardDeviceState& state, std::uint32_t usbdStatus) {
  if (!UsbdFailed(usbdStatus)) return STATUS_SUCCESS;
  state.lastUrbError.store(usbdStatus);
  return usbdStatus == USBD_STATUS_CANCELED ? STATUS_CANCELLED : STATUS_UNSUCCESSFUL;
}

UrbResult SubmitUrbSync(const DeviceContext& context, usbhost::TransferRequest request) {
  const std::size_t capacity = request.data.size();
  const std::shared_ptr<usbhost::PendingTransfer> transfer = context.usb.Submit(std::move(request));
  if (!transfer)
    return {CompleteUrbStatus(context.state, USBD_STATUS_DEVICE_GONE), 0, USBD_STATUS_DEVICE_GONE};
  if (!transfer->WaitFor(context.transferTimeLimit)) {
    // The buffer stays in use until the transfer has really ended.
    transfer->Cancel();
    transfer->Wait();
  }
  const usbhost::TransferResult& result = transfer->Result();
  const std::uint32_t status = CompleteUrbStatus(context.state, result.status);
  return {status, NtFailed(status) ? std::size_t{0} : std::min(result.transferred, capacity),
          result.status};
}

}  // namespace vantrel::driver
