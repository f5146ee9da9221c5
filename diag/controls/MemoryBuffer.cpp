#include "MemoryBuffer.h"

#include <cstdint>

namespace {

// Board addresses are shown as 32-bit hex, as the board's own tools show them.
unsigned int Hex(std::int64_t value) {
  return static_cast<unsigned int>(static_cast<std::uint32_t>(value));
}

}  // namespace

MemoryBuffer::MemoryBuffer(VantrelUSB* board, CColouredListBox* log) : board_(board), log_(log) {}

MemoryBuffer::~MemoryBuffer() = default;

void MemoryBuffer::Resize(int n) {
  if (n < 0) n = 0;
  if (n == size_) return;
  Release();
  const auto count = static_cast<std::size_t>(n);
  state_.assign(count, kNeverRead);
  data_.assign(count, kNeverRead);
  size_ = n;
}

void MemoryBuffer::Release() {
  std::vector<std::uint8_t>().swap(state_);
  std::vector<std::uint8_t>().swap(data_);
  size_ = 0;
}

bool MemoryBuffer::Contains(int address) const {
  const std::int64_t first = start_;
  const std::int64_t end = first + size_;
  return address >= first && address < end;
}

void MemoryBuffer::TakeRead(const std::uint8_t* bytes) {
  if (bytes == nullptr) return;
  for (std::size_t i = 0; i < static_cast<std::size_t>(size_); ++i) {
    if (bytes[i] == data_[i]) {
      state_[i] = kUnchanged;
    } else {
      data_[i] = bytes[i];
      state_[i] = kChanged;
    }
  }
}

bool MemoryBuffer::CheckWriteRange(int address, int count) {
  const std::int64_t first = start_;
  const std::int64_t last = first + size_ - 1;
  if (!Contains(address)) {
    errorText_ =
        QString::asprintf("Specified address [0x%08x] not in buffer range [0x%08x - 0x%08x]",
                          Hex(address), Hex(first), Hex(last));
    return false;
  }
  const std::int64_t writeLast = static_cast<std::int64_t>(address) + count - 1;
  if (count < 1) {
    // Nothing to write: refused rather than sent to the board as an empty transfer.
    errorText_ =
        QString::asprintf("Write of %d bytes [0x%08x] has nothing to write", count, Hex(address));
    return false;
  }
  if (writeLast >= first + size_) {
    errorText_ = QString::asprintf(
        "Write of %d bytes [0x%08x - 0x%08x] would overflow buffer [0x%08x - 0x%08x]", count,
        Hex(address), Hex(writeLast), Hex(first), Hex(last));
    return false;
  }
  if (address < 0 || writeLast >= memoryEnd_) {
    // A board address past the memory's end would wrap round to its start.
    errorText_ = QString::asprintf(
        "Write of %d bytes [0x%08x - 0x%08x] passes the end of the memory [0x%08x]", count,
        Hex(address), Hex(writeLast), Hex(memoryEnd_ - 1));
    return false;
  }
  return true;
}

void MemoryBuffer::TakeWriteResult(int address, int count, const std::uint8_t* readBack) {
  // Only the part of the range inside the window is touched, whatever the caller passes.
  const std::int64_t from = static_cast<std::int64_t>(address) - start_;
  for (std::int64_t k = 0; k < count; ++k) {
    const std::int64_t i = from + k;
    if (i < 0 || i >= size_) continue;
    const auto at = static_cast<std::size_t>(i);
    if (readBack == nullptr) {
      state_[at] = kChanged;
    } else if (readBack[k] == data_[at]) {
      state_[at] = kVerified;
    } else {
      data_[at] = readBack[k];
      state_[at] = kChanged;
    }
  }
}
