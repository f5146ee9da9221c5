// The process's handle on one named lock. A process keeps one entry per
// distinct lock name, shared by everything in it that uses that lock, with a
// use count; the last release closes the mutex.
#pragma once

#include <cstddef>
#include <memory>

#include "shared/SharedHeap.h"
#include "shared/SharedMutex.h"

namespace vantrel::shared {

class NamedMutexLock {
 public:
  // The entry for the descriptor's name, with one more use; created (and the
  // mutex opened or created) on first use. Never nullptr: when the mutex
  // cannot be had the entry has no handle.
  static NamedMutexLock* Get(const SharedLockDescriptor& descriptor);
  // One use less; the entry and its handle go at the last.
  static void Release(NamedMutexLock* lock);
  // Entries in the process's list.
  static std::size_t CountInProcess();

  // Both do nothing without a handle.
  void Lock();
  void Unlock();
  // True when the lock is now held by the calling thread (always without a
  // handle).
  bool TryLock();

  const SharedLockDescriptor& Descriptor() const { return descriptor_; }
  bool HasHandle() const { return handle_ != nullptr; }
  int UseCount() const;

 private:
  explicit NamedMutexLock(const SharedLockDescriptor& descriptor);

  SharedLockDescriptor descriptor_;
  int useCount_ = 1;
  std::unique_ptr<SharedMutex> handle_;
  NamedMutexLock* next_ = nullptr;
};

}  // namespace vantrel::shared
