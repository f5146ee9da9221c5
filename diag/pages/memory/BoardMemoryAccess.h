// The board calls of one memory (EEPROM or SRAM) for transfers of whole
// files: where the memory's public part begins, and the failure text of a
// call with the board's error name.
#pragma once

#include <QString>

#include <cstdint>

class VantrelUSB;

class BoardMemoryAccess {
 public:
  enum class Memory { kEeprom, kSram };

  BoardMemoryAccess(VantrelUSB* board, Memory memory) : board_(board), memory_(memory) {}

  Memory Kind() const { return memory_; }
  const char* Name() const { return memory_ == Memory::kEeprom ? "EEPROM" : "SRAM"; }
  // The lowest address a transfer may touch: the EEPROM's first eight bytes
  // are not the library's to reach.
  std::uint32_t First() const { return memory_ == Memory::kEeprom ? 8 : 0; }

  // One library call each; true on success. No board: false.
  bool Read(std::uint32_t address, std::uint8_t* bytes, std::uint32_t count);
  bool Write(std::uint32_t address, const std::uint8_t* bytes, std::uint32_t count);

  // "VantrelUSB::ReadSRAM (0x%08X, %d) = error: NAME" and its kin, with the
  // board's last error.
  QString FailureText(bool write, std::uint32_t address, std::uint32_t count) const;

 private:
  VantrelUSB* board_;  // not owned
  Memory memory_;
};
