#include "UsbRequests.h"

#include <algorithm>
#include <utility>

namespace vantrel::driver {

UrbResult GetDescriptor(const DeviceContext& context, std::uint8_t type, std::uint8_t index,
                        std::uint16_t language, std::span<std::uint8_t> buffer) {
  constexpr std::uint8_t kGetDescriptor = 6;
  return ControlTransfer(context, kRequestDeviceToHost, kGetDescriptor,
                         static_cast<std::uint16_t>(type << 8 | index), language, buffer, true);
}

UrbResult ControlTransfer(const DeviceContext& context, std::uint8_t requestType,
                          std::uint8_t request, std::uint16_t value, std::uint16_t index,
                          std::span<std::uint8_t> data, bool shortTransferOk) {
  data = data.first(std::min(data.size(), kMaxControlData));
  usbhost::TransferRequest transfer;
  transfer.type = usbhost::TransferType::Control;
  transfer.endpoint = 0;
  transfer.setup.requestType = requestType;
  transfer.setup.request = request;
  transfer.setup.value = value;
  transfer.setup.index = index;
  transfer.setup.length = static_cast<std::uint16_t>(data.size());
  transfer.data = data;
  transfer.shortTransferOk = shortTransferOk;
  return SubmitUrbSync(context, std::move(transfer));
}

UrbResult PipeTransfer(const DeviceContext& context, const PipeInformation& pipe,
                       std::span<std::uint8_t> data) {
  usbhost::TransferRequest transfer;
  transfer.type = pipe.pipeType == PipeType::Interrupt ? usbhost::TransferType::Interrupt
                                                       : usbhost::TransferType::Bulk;
  transfer.endpoint = pipe.endpointAddress;
  transfer.data = data;
  transfer.shortTransferOk = true;
  return SubmitUrbSync(context, std::move(transfer));
}

std::uint32_t ResetPipeEndpoint(const DeviceContext& context, const PipeInformation& pipe) {
  return CompleteUrbStatus(context.state, context.usb.ResetEndpoint(pipe.endpointAddress));
}

void ResetIfStalled(const DeviceContext& context, const PipeInformation& pipe,
                    const UrbResult& transfer) {
  // The caller's status stays the transfer's; a failed reset shows in
  // LastUrbError, and the next transfer stalls and resets again.
  if (transfer.Stalled()) (void)ResetPipeEndpoint(context, pipe);
}

}  // namespace vantrel::driver
