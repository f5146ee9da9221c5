// One named block of the shared heap, as the process sees it: the block's
// address (or none), the segment it lies in and the block's lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "shared/NamedMutexLock.h"
#include "shared/SharedHeap.h"
#include "shared/SharedSegment.h"
#include "shared/SharedState.h"

namespace vantrel::shared {

// Room kept in the process for the records of a block that could not be
// taken: sixteen of the largest record.
inline constexpr std::size_t kLocalRecordsSize = kBoardSlots * kReceiveBufferSize;
inline constexpr std::size_t kMaxRecordSize = kReceiveBufferSize;

class SharedBlockObject final : public SharedObject {
 public:
  // `sizeAsked` includes the block header; the block's lock is
  // "K27Mutex_SEM_<lockNumber>".
  constexpr SharedBlockObject(const char* name, std::uint32_t id, std::uint32_t sizeAsked,
                              int lockNumber)
      : name_(name), id_(id), sizeAsked_(sizeAsked), lockNumber_(lockNumber) {}

  // Attaches the region's segment, finds the block or takes it, and gets the
  // block's lock. Failures leave the object without a block or a handle.
  void Attach();
  // Gives up the lock and the segment; the block stays in the heap.
  void Detach();

  void Lock() override;
  void Unlock() override;
  bool TryLock();
  std::uint8_t* Data() override;

  const char* Name() const { return name_; }
  SharedBlockHeader* Block() const { return block_.load(std::memory_order_acquire); }
  SharedSegment* Segment() const { return segment_; }
  NamedMutexLock* LockHandle() const { return lock_.load(std::memory_order_acquire); }
  // Bytes of data the block holds; 0 without a block.
  std::size_t DataSize() const { return dataSize_.load(std::memory_order_acquire); }

  // Record `slot` of `recordSize` bytes: in the block when it fits there; in
  // the process's own records when the object has no block; otherwise (slot
  // out of range, record past the block's end) a spare record of the
  // process's own. nullptr only for a record larger than kMaxRecordSize that
  // does not fit the block.
  std::uint8_t* RecordAddress(std::size_t recordSize, int slot);

 private:
  const char* name_;
  std::uint32_t id_;
  std::uint32_t sizeAsked_;
  int lockNumber_;
  SharedSegment* segment_ = nullptr;
  std::atomic<SharedBlockHeader*> block_{nullptr};
  std::atomic<std::size_t> dataSize_{0};
  std::atomic<NamedMutexLock*> lock_{nullptr};
  alignas(8) std::uint8_t localRecords_[kLocalRecordsSize]{};
  alignas(8) std::uint8_t spareRecord_[kMaxRecordSize]{};
};

// A named lock with no block: serialises work on the boards themselves
// between processes. Its lock is "K27Mutex_SEM_<lockNumber>".
class SharedLockObject final : public SharedObject {
 public:
  constexpr explicit SharedLockObject(int lockNumber) : lockNumber_(lockNumber) {}

  void Attach();
  void Detach();

  void Lock() override;
  void Unlock() override;
  std::uint8_t* Data() override { return nullptr; }

  NamedMutexLock* LockHandle() const { return lock_.load(std::memory_order_acquire); }

 private:
  int lockNumber_;
  std::atomic<NamedMutexLock*> lock_{nullptr};
};

// The descriptor of the library's one region, "K27SharedMemory", 65,536 bytes.
SharedRegionDescriptor LibraryRegion();

}  // namespace vantrel::shared
