// The two kinds of MemoryBuffer over the board's memories: EEPROMBuffer and
// SRAMBuffer read their window from the board and write each typed range back
// and read it again, reporting failures with the board's error name.
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
  // The memory's board calls (non-zero on success) and the formats of their
  // failure texts: address, byte count and error name.
  virtual int BoardRead(unsigned short address, unsigned char* buffer, std::uint32_t length) = 0;
  virtual int BoardWrite(unsigned short address, unsigned char* data, std::uint32_t length) = 0;
  virtual const char* ReadFailureFormat() const = 0;
  virtual const char* WriteFailureFormat() const = 0;

 private:
  QString FailureText(const char* format, int address, int count) const;
};

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
  const char* ReadFailureFormat() const override {
    return "VantrelUSB::ReadEEPROM (0x%08X, %d) = error: %s";
  }
  const char* WriteFailureFormat() const override {
    return "VantrelUSB::WriteEPROM (0x%08X, %d) = error: %s";
  }
};

class SRAMBuffer : public BoardMemoryBuffer {
 public:
  using BoardMemoryBuffer::BoardMemoryBuffer;

 protected:
  int BoardRead(unsigned short address, unsigned char* buffer, std::uint32_t length) override;
  int BoardWrite(unsigned short address, unsigned char* data, std::uint32_t length) override;
  const char* ReadFailureFormat() const override {
    return "VantrelUSB::ReadSRAM (0x%08X, %d) = error: %s";
  }
  const char* WriteFailureFormat() const override {
    return "VantrelUSB::WriteSRAM (0x%08X, %d) = error: %s";
  }
};
