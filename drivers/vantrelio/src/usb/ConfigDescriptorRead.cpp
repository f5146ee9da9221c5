#include "ConfigDescriptorRead.h"

#include "UsbRequests.h"
#include "vantrel/protocol/ControlCodes.h"

namespace vantrel::driver {

std::uint16_t ConfigTotalLength(const std::uint8_t* descriptor) { return LoadLe16(descriptor + 2); }

std::optional<std::vector<std::uint8_t>> ReadConfigDescriptorWhole(const DeviceContext& context) {
  constexpr std::size_t kFirstBuffer = 265;
  constexpr std::size_t kHeader = 9;
  std::vector<std::uint8_t> buffer(kFirstBuffer);
  for (;;) {
    const UrbResult read = GetDescriptor(context, kDescriptorConfiguration, 0, 0, buffer);
    if (NtFailed(read.status) || read.transferred < kHeader) return std::nullopt;
    const std::size_t total = ConfigTotalLength(buffer.data());
    if (total < kHeader) return std::nullopt;
    if (total > buffer.size()) {
      // Each pass asks for more than the last, up to the 16-bit limit.
      buffer.assign(total, 0);
      continue;
    }
    if (total > read.transferred) return std::nullopt;
    buffer.resize(total);
    return buffer;
  }
}

}  // namespace vantrel::driver
