// EEPROM geometry by capacity, and the record kept per board slot.
#pragma once

#include <cstdint>

#include <vantrel/VantrelTypes.h>

namespace vantrel {

K27EEPROM GeometryForCapacity(std::uint32_t capacity);

}  // namespace vantrel
