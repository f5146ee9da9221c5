// Vendor and class requests on the default pipe.
#include <vector>

#include "ControlActions.h"
#include "usb/UsbRequests.h"
#include "vantrel/protocol/ControlCodes.h"

namespace vantrel::driver {

ControlResult VendorRequest(const DeviceContext& context, InBuffer in, OutBuffer out) {
  using R = VendorRequestRecord;
  if (in.size() < R::kSize) return {STATUS_INVALID_PARAMETER, 0};
  const std::uint8_t request = in[R::kRequest];
  const std::uint16_t value = LoadLe16(in.data() + R::kValue);
  const std::uint16_t index = LoadLe16(in.data() + R::kIndex);
  const std::uint16_t length = LoadLe16(in.data() + R::kLength);

  // Success whatever became of the request on the USB.
  if (in[R::kDirection] != 0) {
    if (length > out.size()) return {STATUS_INVALID_PARAMETER, 0};
    const UrbResult read = ControlTransfer(context, kRequestDeviceToHost | kRequestVendor, request,
                                           value, index, out.first(length), false);
    return {STATUS_SUCCESS, static_cast<std::uint32_t>(read.transferred)};
  }
  // One byte is the record's data byte; a longer stage counts 0, 1, 2, ...
  std::vector<std::uint8_t> data(length);
  if (length == 1)
    data[0] = in[R::kDataByte];
  else
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  ControlTransfer(context, kRequestVendor, request, value, index, data, false);
  return {STATUS_SUCCESS, 0};
}

ControlResult ControlRequest(const DeviceContext& context, InBuffer in, OutBuffer out) {
  using R = ControlRequestRecord;
  if (in.size() != R::kSize) return {STATUS_INVALID_PARAMETER, 0};
  const std::uint8_t type = in[R::kRequestType];
  const std::uint8_t recipient = in[R::kRecipient];
  if ((type != R::kTypeClass && type != R::kTypeVendor) || recipient > 3)
    return {STATUS_INVALID_PARAMETER, 0};
  if (out.size() > kMaxControlData) return {STATUS_INVALID_PARAMETER, 0};

  const std::uint8_t requestType = static_cast<std::uint8_t>(
      (in[R::kDirection] != 0 ? kRequestDeviceToHost : 0) |
      (type == R::kTypeClass ? kRequestClass : kRequestVendor) | recipient);
  const UrbResult transfer =
      ControlTransfer(context, requestType, in[R::kRequest], LoadLe16(in.data() + R::kValue),
                      LoadLe16(in.data() + R::kIndex), out, true);
  if (NtFailed(transfer.status)) return {transfer.status, 0};
  return {STATUS_SUCCESS, static_cast<std::uint32_t>(transfer.transferred)};
}

}  // namespace vantrel::driver
