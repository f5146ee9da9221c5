#include "pages/memory/EEPROMBuffer.h"

#include <vantrel/VantrelUSB.h>

void EEPROMBuffer::MeasureMemory() {
  SetMemoryEnd(kAddressSpace);
  if (Board() == nullptr) return;
  unsigned char none = 0;
  auto accepted = [this, &none](std::int64_t address) {
    return Board()->ReadEEPROM(static_cast<unsigned short>(address), &none, 0) != 0;
  };
  // The lowest address a transfer may start at; nothing accepted there:
  // the end stays unknown.
  constexpr std::int64_t kFirstPublic = 8;
  if (!accepted(kFirstPublic)) return;
  // low is accepted; the highest accepted address lies in [low, high].
  std::int64_t low = kFirstPublic;
  std::int64_t high = kAddressSpace - 1;
  while (low < high) {
    const std::int64_t middle = low + (high - low + 1) / 2;
    if (accepted(middle))
      low = middle;
    else
      high = middle - 1;
  }
  // An empty transfer at the last address is accepted; the last byte a
  // transfer may touch is the one before it.
  SetMemoryEnd(low);
}

int EEPROMBuffer::BoardRead(unsigned short address, unsigned char* buffer, std::uint32_t length) {
  return Board()->ReadEEPROM(address, buffer, length);
}

int EEPROMBuffer::BoardWrite(unsigned short address, unsigned char* data, std::uint32_t length) {
  return Board()->WriteEEPROM(address, data, length);
}
