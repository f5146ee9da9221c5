#include "pages/memory/BoardMemoryBuffer.h"

#include <vantrel/VantrelUSB.h>

#include <vector>

#include "UsbErrorNames.h"
#include "pages/common/BoardCallLine.h"

BoardMemoryBuffer::BoardMemoryBuffer(VantrelUSB* board, CColouredListBox* log)
    : MemoryBuffer(board, log) {
  SetMemoryEnd(kAddressSpace);
}

BoardMemoryBuffer::~BoardMemoryBuffer() = default;

QString BoardMemoryBuffer::FailureText(const char* callFormat, int address, int count,
                                       const char* errorName) const {
  return CallFailedLine(QString::asprintf(callFormat, static_cast<unsigned>(address), count),
                        QString::fromLatin1(errorName));
}

QString BoardMemoryBuffer::FailureText(const char* callFormat, int address, int count) const {
  return FailureText(callFormat, address, count, vantrel::diag::LastErrorName(Board()));
}

bool BoardMemoryBuffer::Read(int address) {
  SetStart(address);
  const int size = Size();
  if (address < 0 || static_cast<std::int64_t>(address) + size > kAddressSpace) {
    // Never sent with the address cut to 16 bits.
    SetErrorText(FailureText(ReadCallFormat(), address, size,
                             vantrel::diag::UsbErrorName(USB_MESSAGE_PARAMETER_OUT_OF_RANGE)));
    return false;
  }
  // The board call may fill part of the scratch area before it fails.
  std::vector<unsigned char> scratch(static_cast<std::size_t>(size));
  const bool ok =
      Board() != nullptr && BoardRead(static_cast<unsigned short>(address), scratch.data(),
                                      static_cast<std::uint32_t>(size)) != 0;
  if (!ok) {
    SetErrorText(FailureText(ReadCallFormat(), address, size));
    return false;
  }
  TakeRead(scratch.data());
  return true;
}

bool BoardMemoryBuffer::Write(int address, int count) {
  if (!CheckWriteRange(address, count)) return false;
  unsigned char* from = Data() + (address - Start());
  const auto boardAddress = static_cast<unsigned short>(address);
  const auto length = static_cast<std::uint32_t>(count);

  bool ok = Board() != nullptr && BoardWrite(boardAddress, from, length) != 0;
  std::vector<unsigned char> readBack(static_cast<std::size_t>(count));
  if (!ok) {
    SetErrorText(FailureText(WriteCallFormat(), address, count));
  } else if (BoardRead(boardAddress, readBack.data(), length) == 0) {
    SetErrorText(FailureText(ReadCallFormat(), address, count));
    ok = false;
  }
  TakeWriteResult(address, count, ok ? readBack.data() : nullptr);
  return ok;
}
