#include "vantrel/testsupport/InProcessDeviceLink.h"

#include <algorithm>
#include <vector>

#include <vantrel/protocol/ControlCodes.h>
#include <vantrel/protocol/ControlProtocol.h>

namespace vantrel {

LinkResult InProcessDeviceLink::Control(std::uint32_t code, std::span<const std::uint8_t> in,
                                        std::span<std::uint8_t> out, std::uint32_t* returned) {
  if (returned != nullptr) *returned = 0;
  if (!handler_) return LinkResult::Lost();
  // As over the socket, the output reaches the caller only on success.
  std::vector<std::uint8_t> scratch(out.size());
  // Codes whose output buffer carries data to the device see it, as over the socket.
  if (driver::ControlProtocol::SendsOutputBuffer(code))
    std::copy(out.begin(), out.end(), scratch.begin());
  const auto result = handler_->Control(code, in, scratch);
  if (driver::NtFailed(result.status)) return LinkResult::Failed(result.status, result.information);
  const std::size_t count = std::min<std::size_t>(result.OutputBytes(), out.size());
  std::copy_n(scratch.begin(), count, out.begin());
  if (returned != nullptr)
    *returned = static_cast<std::uint32_t>(std::min<std::size_t>(result.information, count));
  return LinkResult::Completed(result.status, result.information);
}

bool InProcessDeviceLink::Close() {
  if (!handler_) return false;
  handler_.reset();
  return true;
}

}  // namespace vantrel
