#include "pages/memory/SRAMBuffer.h"

#include <vantrel/VantrelUSB.h>

int SRAMBuffer::BoardRead(unsigned short address, unsigned char* buffer, std::uint32_t length) {
  return Board()->ReadSRAM(address, buffer, length);
}

int SRAMBuffer::BoardWrite(unsigned short address, unsigned char* data, std::uint32_t length) {
  return Board()->WriteSRAM(address, data, length);
}
