#include "shared/SharedObject.h"

#include <cstring>

namespace vantrel::shared {

namespace {

constexpr const char* kRegionName = "K27SharedMemory";
constexpr const char* kLockBase = "K27Mutex";
constexpr std::uint32_t kRegionSize = 65536;
constexpr std::uint32_t kRegionLockCount = 10;
constexpr std::uint32_t kBlockLockCount = 1;
constexpr const char* kReceiveBuffersName = "K27BUFFERS";

// A fresh receive buffer holds nothing: count and read index 0.
void ClearReceiveBuffers(std::uint8_t* data) {
  for (int slot = 0; slot < kBoardSlots; ++slot) {
    data[slot * kReceiveBufferSize] = 0;
    data[slot * kReceiveBufferSize + 1] = 0;
  }
}

}  // namespace

SharedRegionDescriptor LibraryRegion() {
  return MakeRegionDescriptor(kRegionName, 0, MakeLockDescriptor(kLockBase, 0, kRegionLockCount),
                              kRegionSize);
}

void SharedBlockObject::Attach() {
  if (segment_ != nullptr) return;
  segment_ = SharedSegment::Attach(LibraryRegion());
  SharedBlockHeader* block = nullptr;
  if (segment_->View() != nullptr) {
    // The heap search and the taking of a block run under the region's lock,
    // so that two processes attaching at once end up with one block.
    NamedMutexLock& regionLock = segment_->Lock();
    regionLock.Lock();
    bool taken = false;
    block = segment_->Heap().Attach(name_, id_, sizeAsked_, &taken);
    if (block != nullptr && taken && std::strcmp(name_, kReceiveBuffersName) == 0)
      ClearReceiveBuffers(reinterpret_cast<std::uint8_t*>(block) + kUnitSize);
    regionLock.Unlock();
  }
  if (block != nullptr)
    dataSize_.store((std::size_t{block->length} - 1) * kUnitSize, std::memory_order_release);
  block_.store(block, std::memory_order_release);
  // The lock is had even without a block: it then guards the process's own
  // records instead.
  lock_.store(NamedMutexLock::Get(MakeLockDescriptor(kLockBase, lockNumber_, kBlockLockCount)),
              std::memory_order_release);
}

void SharedBlockObject::Detach() {
  if (segment_ == nullptr) return;
  NamedMutexLock::Release(lock_.exchange(nullptr, std::memory_order_acq_rel));
  block_.store(nullptr, std::memory_order_release);
  dataSize_.store(0, std::memory_order_release);
  SharedSegment::Detach(segment_);
  segment_ = nullptr;
}

void SharedBlockObject::Lock() {
  if (NamedMutexLock* lock = LockHandle()) lock->Lock();
}

void SharedBlockObject::Unlock() {
  if (NamedMutexLock* lock = LockHandle()) lock->Unlock();
}

bool SharedBlockObject::TryLock() {
  NamedMutexLock* lock = LockHandle();
  return lock == nullptr || lock->TryLock();
}

std::uint8_t* SharedBlockObject::Data() {
  SharedBlockHeader* block = Block();
  return block == nullptr ? nullptr : reinterpret_cast<std::uint8_t*>(block) + kUnitSize;
}

void SharedLockObject::Attach() {
  if (LockHandle() != nullptr) return;
  lock_.store(NamedMutexLock::Get(MakeLockDescriptor(kLockBase, lockNumber_, kBlockLockCount)),
              std::memory_order_release);
}

void SharedLockObject::Detach() {
  NamedMutexLock::Release(lock_.exchange(nullptr, std::memory_order_acq_rel));
}

void SharedLockObject::Lock() {
  if (NamedMutexLock* lock = LockHandle()) lock->Lock();
}

void SharedLockObject::Unlock() {
  if (NamedMutexLock* lock = LockHandle()) lock->Unlock();
}

std::uint8_t* SharedBlockObject::RecordAddress(std::size_t recordSize, int slot) {
  const bool inRange = slot >= 0 && slot < kBoardSlots;
  const std::size_t end = inRange ? (static_cast<std::size_t>(slot) + 1) * recordSize : 0;
  if (std::uint8_t* data = Data()) {
    if (inRange && end <= DataSize()) return data + static_cast<std::size_t>(slot) * recordSize;
  } else if (inRange && end <= sizeof localRecords_) {
    return localRecords_ + static_cast<std::size_t>(slot) * recordSize;
  }
  return recordSize <= sizeof spareRecord_ ? spareRecord_ : nullptr;
}

}  // namespace vantrel::shared
