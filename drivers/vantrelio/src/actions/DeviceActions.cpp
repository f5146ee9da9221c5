// The codes about the device as a whole: port reset, frame number, the last
// request block error and the driver's version.
#include <optional>

#include "ControlActions.h"
#include "vantrel/protocol/ControlCodes.h"

namespace vantrel::driver {

ControlResult ResetPort(const DeviceContext& context) {
  // Success whatever the reset did.
  context.usb.ResetPort();
  return {STATUS_SUCCESS, 0};
}

ControlResult GetFrameNumber(const DeviceContext& context, OutBuffer out) {
  if (out.size() < 4) return {STATUS_INVALID_PARAMETER, 0};
  const std::optional<std::uint32_t> frame = context.usb.CurrentFrameNumber();
  if (!frame || *frame == 0) return {STATUS_UNSUCCESSFUL, 0};
  StoreLe32(out.data(), *frame);
  return {STATUS_SUCCESS, 4};
}

ControlResult GetLastUrbError(const DeviceContext& context, OutBuffer out) {
  if (out.size() < 4) return {STATUS_UNSUCCESSFUL, 0};
  StoreLe32(out.data(), context.state.lastUrbError.load());
  return {STATUS_SUCCESS, 4};
}

ControlResult GetDriverVersion(OutBuffer out) {
  using R = DriverVersionRecord;
  if (out.size() < R::kSize) return {STATUS_UNSUCCESSFUL, 0};
  StoreLe16(out.data(), R::kMajor);
  StoreLe16(out.data() + 2, R::kMinor);
  StoreLe16(out.data() + 4, R::kBuild);
  return {STATUS_SUCCESS, static_cast<std::uint32_t>(R::kSize)};
}

}  // namespace vantrel::driver
