// The board's SRAM as a MemoryBuffer.
#pragma once

#include "pages/memory/BoardMemoryBuffer.h"

class SRAMBuffer : public BoardMemoryBuffer {
 public:
  using BoardMemoryBuffer::BoardMemoryBuffer;

 protected:
  int BoardRead(unsigned short address, unsigned char* buffer, std::uint32_t length) override;
  int BoardWrite(unsigned short address, unsigned char* data, std::uint32_t length) override;
  const char* ReadCallFormat() const override { return "VantrelUSB::ReadSRAM (0x%08X, %d)"; }
  const char* WriteCallFormat() const override { return "VantrelUSB::WriteSRAM (0x%08X, %d)"; }
};
