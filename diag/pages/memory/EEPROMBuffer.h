// The board's EEPROM as a MemoryBuffer, with the reachable part measured.
#pragma once

#include "pages/memory/BoardMemoryBuffer.h"

class EEPROMBuffer : public BoardMemoryBuffer {
 public:
  using BoardMemoryBuffer::BoardMemoryBuffer;

  // The library checks every EEPROM transfer against the part's last
  // address, and an empty read needs no exchange: the highest address at
  // which an empty read is accepted is where the reachable part ends. When
  // no address is accepted (no board, geometry unknown) the end is the
  // address space's.
  void MeasureMemory() override;

 protected:
  int BoardRead(unsigned short address, unsigned char* buffer, std::uint32_t length) override;
  int BoardWrite(unsigned short address, unsigned char* data, std::uint32_t length) override;
  const char* ReadCallFormat() const override { return "VantrelUSB::ReadEEPROM (0x%08X, %d)"; }
  const char* WriteCallFormat() const override { return "VantrelUSB::WriteEPROM (0x%08X, %d)"; }
};
