// A MemoryBuffer over one of the board's memories: reads its window from the
// board, writes each typed range back and reads it again, and reports
// failures with the board's error name. EEPROMBuffer and SRAMBuffer supply
// the memory's board calls.
#pragma once

#include <QString>

#include <cstdint>

#include "MemoryBuffer.h"

class BoardMemoryBuffer : public MemoryBuffer {
 public:
  // Board addresses are 16 bits wide: a transfer never passes this end,
  // where the board would wrap round to address 0.
  static constexpr std::int64_t kAddressSpace = 0x10000;

  BoardMemoryBuffer(VantrelUSB* board, CColouredListBox* log);
  ~BoardMemoryBuffer() override;

  // Reads Size() bytes at the address, which becomes the start. On failure
  // the bytes and states stay as they were.
  bool Read(int address) override;
  // Writes count bytes of the window from the board address, reads them
  // back and marks them verified or changed. Refused without a board
  // transfer when the range is not wholly inside the window.
  bool Write(int address, int count) override;

 protected:
  // The memory's board calls (non-zero on success) and the formats of the
  // calls as their failure texts show them: address and byte count.
  virtual int BoardRead(unsigned short address, unsigned char* buffer, std::uint32_t length) = 0;
  virtual int BoardWrite(unsigned short address, unsigned char* data, std::uint32_t length) = 0;
  virtual const char* ReadCallFormat() const = 0;
  virtual const char* WriteCallFormat() const = 0;

 private:
  QString FailureText(const char* callFormat, int address, int count, const char* errorName) const;
  // With the name of the board's last error.
  QString FailureText(const char* callFormat, int address, int count) const;
};
