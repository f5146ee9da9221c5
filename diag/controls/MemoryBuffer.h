// Window onto a range of one board memory, held between the board and its
// dump view: the bytes last read or typed, one state byte per byte, the
// range's start and size, and the text of the last failed operation.
//
// The kinds for each memory supply Read and Write; the helpers below keep the
// per-byte rules in one place and never reach outside the arrays.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

class CColouredListBox;
class VantrelUSB;

class MemoryBuffer {
 public:
  // Per-byte states.
  static constexpr std::uint8_t kChanged = 1;    // differs from the previous read, or not verified
  static constexpr std::uint8_t kVerified = 2;   // written and read back equal
  static constexpr std::uint8_t kUnchanged = 3;  // equal to the previous read
  // Fill of both arrays after a size change: data and state of bytes never read.
  static constexpr std::uint8_t kNeverRead = 0xCC;

  // Start before the first read.
  static constexpr int kNoStart = -1;
  // End of a memory whose size the buffer has not been told.
  static constexpr std::int64_t kNoEnd = std::int64_t{1} << 32;

  // Neither object is owned; both may be null.
  MemoryBuffer(VantrelUSB* board, CColouredListBox* log);
  virtual ~MemoryBuffer();

  MemoryBuffer(const MemoryBuffer&) = delete;
  MemoryBuffer& operator=(const MemoryBuffer&) = delete;

  // Same n as now: nothing happens, the bytes and states stay. Otherwise
  // both arrays are remade with n bytes of kNeverRead. A negative n is taken
  // as 0.
  void Resize(int n);
  // Frees both arrays; the size becomes 0. The start stays.
  void Release();

  // Reads the window of Size() bytes from the board at the address, which
  // becomes the start. True on success; on failure ErrorText tells why.
  virtual bool Read(int address) = 0;
  // Writes count bytes of Data() from the board address (inside the window)
  // to the board and reads them back. True on success; on failure ErrorText
  // tells why.
  virtual bool Write(int address, int count) = 0;

  QString ErrorText() const { return errorText_; }

  // Null while the size is 0.
  std::uint8_t* Data() { return size_ > 0 ? data_.data() : nullptr; }
  const std::uint8_t* Data() const { return size_ > 0 ? data_.data() : nullptr; }
  std::uint8_t* State() { return size_ > 0 ? state_.data() : nullptr; }
  const std::uint8_t* State() const { return size_ > 0 ? state_.data() : nullptr; }
  int Size() const { return size_; }
  int Start() const { return start_; }
  VantrelUSB* Board() const { return board_; }
  CColouredListBox* Log() const { return log_; }

  // Whether the board address lies in [Start(), Start() + Size()).
  bool Contains(int address) const;

  // First address past the memory that can be reached: no byte at or
  // beyond it is written, whatever the window holds.
  std::int64_t MemoryEnd() const { return memoryEnd_; }
  // Finds out where the memory ends, for kinds that can ask the board.
  virtual void MeasureMemory() {}
  // Whether the byte at the board address may be typed into: inside the
  // window and inside the memory.
  bool Writable(int address) const {
    return Contains(address) && address >= 0 && address < memoryEnd_;
  }

 protected:
  void SetStart(int address) { start_ = address; }
  void SetMemoryEnd(std::int64_t end) { memoryEnd_ = end; }
  void SetErrorText(const QString& text) { errorText_ = text; }

  // Takes a successful read of Size() bytes: a byte equal to the one held is
  // unchanged, any other replaces it and is changed.
  void TakeRead(const std::uint8_t* bytes);

  // Refuses a write that does not lie wholly inside the window and the
  // memory, or that has no bytes, setting the error text. True when the write may go ahead.
  bool CheckWriteRange(int address, int count);

  // Takes the result of a write of count bytes from the board address, which
  // CheckWriteRange accepted. readBack holds the bytes read back after a
  // successful write, or is null when the write or the read-back failed:
  // equal bytes are verified; a differing byte takes the board's value and
  // is changed; without a read-back every byte keeps its typed value and is
  // changed.
  void TakeWriteResult(int address, int count, const std::uint8_t* readBack);

 private:
  VantrelUSB* board_;
  CColouredListBox* log_;
  std::vector<std::uint8_t> state_;
  std::vector<std::uint8_t> data_;
  int size_ = 0;
  int start_ = kNoStart;
  std::int64_t memoryEnd_ = kNoEnd;
  QString errorText_;
};
