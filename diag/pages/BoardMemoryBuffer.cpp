#include "pages/BoardMemoryBuffer.h"

#include <vantrel/VantrelUSB.h>

#include <vector>

#include "UsbErrorNames.h"

BoardMemoryBuffer::BoardMemoryBuffer(VantrelUSB* board, CColouredListBox* log)
    : MemoryBuffer(board, log) {
  SetMemoryEnd(kAddressSpace);
}

BoardMemoryBuffer::~BoardMemoryBuffer() = default;

QString BoardMemoryBuffer::FailureText(const char* format, int address, int count) const {
  const char* name = Board() != nullptr ? k27diag::UsbErrorName(Board()->GetLastError())
                                        : k27diag::kUnknownErrorName;
  return QString::asprintf(format, static_cast<unsigned>(address), count, name);
}

bool BoardMemoryBuffer::Read(int address) {
  SetStart(address);
  const int size = Size();
  if (address < 0 || static_cast<std::int64_t>(address) + size > kAddressSpace) {
    // Never sent with the address cut to 16 bits.
    SetErrorText(QString::asprintf(ReadFailureFormat(), static_cast<unsigned>(address), size,
                                   k27diag::UsbErrorName(USB_MESSAGE_PARAMETER_OUT_OF_RANGE)));
    return false;
  }
  // The board call may fill part of the scratch area before it fails.
  std::vector<unsigned char> scratch(static_cast<std::size_t>(size));
  const bool ok =
      Board() != nullptr && BoardRead(static_cast<unsigned short>(address), scratch.data(),
                                      static_cast<std::uint32_t>(size)) != 0;
  if (!ok) {
    SetErrorText(FailureText(ReadFailureFormat(), address, size));
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
    SetErrorText(FailureText(WriteFailureFormat(), address, count));
  } else if (BoardRead(boardAddress, readBack.data(), length) == 0) {
    SetErrorText(FailureText(ReadFailureFormat(), address, count));
    ok = false;
  }
  TakeWriteResult(address, count, ok ? readBack.data() : nullptr);
  return ok;
}
