// A byte ring between one writer and one reader on different threads. Each
// position belongs to its own side; only the count of bytes held is shared,
// so neither side ever waits for the other.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace vantrel::driver {

class ByteRing {
 public:
  // A ring of `size` bytes, or nullptr when the storage cannot be had.
  static std::shared_ptr<ByteRing> Create(std::size_t size);
  explicit ByteRing(std::size_t size) : storage_(size) {}
  ByteRing(const ByteRing&) = delete;
  ByteRing& operator=(const ByteRing&) = delete;

  // Writer side. All of `source` or nothing: returns its length, or 0 when
  // it does not fit in the free space.
  std::size_t Write(std::span<const std::uint8_t> source);
  // True when `length` bytes would fit now. The reader only frees space, so
  // the answer holds for the writer until its next write.
  bool Fits(std::size_t length) const;

  // Reader side. Up to `destination.size()` bytes; 0 when the ring is empty
  // or the destination is larger than the whole ring.
  std::size_t Read(std::span<std::uint8_t> destination);

  // Readers on several threads hold this across their reads, so that there
  // is still one reader at a time; the writer never takes it.
  std::mutex& ReaderMutex() { return readerMutex_; }

  std::size_t Size() const { return storage_.size(); }
  std::size_t Count() const { return count_.load(std::memory_order_acquire); }

 private:
  std::vector<std::uint8_t> storage_;
  std::size_t writePosition_ = 0;  // writer only
  std::size_t readPosition_ = 0;   // reader only
  std::atomic<std::size_t> count_{0};
  std::mutex readerMutex_;
};

}  // namespace vantrel::driver
