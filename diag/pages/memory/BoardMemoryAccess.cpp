#include "pages/memory/BoardMemoryAccess.h"

#include <vantrel/VantrelUSB.h>

#include <vector>

#include "UsbErrorNames.h"

bool BoardMemoryAccess::Read(std::uint32_t address, std::uint8_t* bytes, std::uint32_t count) {
  if (board_ == nullptr) return false;
  const auto at = static_cast<unsigned short>(address);
  return (memory_ == Memory::kEeprom ? board_->ReadEEPROM(at, bytes, count)
                                     : board_->ReadSRAM(at, bytes, count)) != 0;
}

bool BoardMemoryAccess::Write(std::uint32_t address, const std::uint8_t* bytes,
                              std::uint32_t count) {
  if (board_ == nullptr) return false;
  // The library takes the bytes through a non-const pointer.
  std::vector<unsigned char> copy(bytes, bytes + count);
  const auto at = static_cast<unsigned short>(address);
  return (memory_ == Memory::kEeprom ? board_->WriteEEPROM(at, copy.data(), count)
                                     : board_->WriteSRAM(at, copy.data(), count)) != 0;
}

QString BoardMemoryAccess::FailureText(bool write, std::uint32_t address,
                                       std::uint32_t count) const {
  const char* name = board_ != nullptr ? vantrel::diag::UsbErrorName(board_->GetLastError())
                                       : vantrel::diag::kUnknownErrorName;
  return QString::asprintf("VantrelUSB::%s%s (0x%08X, %u) = error: %s", write ? "Write" : "Read",
                           Name(), address, count, name);
}
