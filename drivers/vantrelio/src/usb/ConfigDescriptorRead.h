// Reading configuration descriptor 0 whole, its length taken from its own
// wTotalLength.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "UrbSubmit.h"

namespace vantrel::driver {

// wTotalLength of a configuration descriptor (bytes 2 and 3).
std::uint16_t ConfigTotalLength(const std::uint8_t* descriptor);

// The interface selection's read: a first buffer of 265 bytes, read again
// with a buffer of exactly wTotalLength bytes while that is larger. Nothing
// when a read fails, the descriptor is shorter than its 9-byte header or
// wTotalLength is more than the device returned. The result holds
// wTotalLength bytes.
std::optional<std::vector<std::uint8_t>> ReadConfigDescriptorWhole(const DeviceContext& context);

}  // namespace vantrel::driver
