#include "board/EepromGeometry.h"

namespace vantrel {

K27EEPROM GeometryForCapacity(std::uint32_t capacity) {
  struct Row {
    std::uint32_t capacity;
    unsigned char pageSize, addressBytes;
  };
  static constexpr Row kRows[] = {
      {128, 8, 1},   {256, 8, 1},   {512, 16, 1},   {1024, 16, 1},  {2048, 16, 1},
      {4096, 32, 2}, {8192, 32, 2}, {16384, 64, 2}, {32768, 64, 2},
  };
  for (const Row& row : kRows) {
    if (row.capacity == capacity) {
      return K27EEPROM{row.pageSize, row.addressBytes, static_cast<unsigned short>(capacity - 1),
                       static_cast<unsigned char>(row.addressBytes == 1 ? 0x50 : 0x51)};
    }
  }
  return K27EEPROM{128, 2, 0xFFFF, 0x51};
}

}  // namespace vantrel
