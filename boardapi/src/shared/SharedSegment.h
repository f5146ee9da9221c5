// The process's open view of a shared region. A process keeps one segment per
// region, shared by all the objects attached to it and counted by them; the
// last detach closes it.
//
// The mapping lives while some process has it attached. Two byte-range locks
// on the memory object keep track of that: byte 0 is held exclusively by a
// process while it attaches, byte 1 is held shared by every attached process.
// A process that finds byte 1 free is alone: whatever the object holds is
// left over from processes that are all gone, so it empties the object and
// writes a fresh heap header before anybody else can attach. The system drops
// both locks of a process that dies.
#pragma once

#include <cstddef>
#include <cstdint>

#include "shared/NamedMutexLock.h"
#include "shared/SharedHeap.h"

namespace vantrel::shared {

class SharedSegment {
 public:
  // The process's segment of the region (found by id, name and lock name, or
  // opened now), with one more attach counted under the region's lock.
  // Never nullptr: a segment whose mapping could not be had has no view.
  static SharedSegment* Attach(const SharedRegionDescriptor& region);
  // One attach less; at the last the segment leaves the process's list, its
  // lock is released and the view closed.
  static void Detach(SharedSegment* segment);

  const SharedRegionDescriptor& Descriptor() const { return descriptor_; }
  // The mapped view, or nullptr.
  std::uint8_t* View() const { return view_; }
  std::size_t Size() const { return descriptor_.size; }
  // The heap inside the view; only meaningful with a view.
  SharedHeap Heap() const { return SharedHeap(view_, descriptor_.size); }
  // The region's lock (lock 0): guards the attach count and the heap.
  NamedMutexLock& Lock() const { return *lock_; }
  // This process found nobody attached and laid the mapping out afresh.
  bool Created() const { return created_; }
  int AttachCount() const;

 private:
  explicit SharedSegment(const SharedRegionDescriptor& region);
  ~SharedSegment();
  void Open();

  SharedRegionDescriptor descriptor_;
  int fd_ = -1;
  std::uint8_t* view_ = nullptr;
  NamedMutexLock* lock_ = nullptr;
  bool created_ = false;
  int attachCount_ = 0;
  SharedSegment* next_ = nullptr;
};

}  // namespace vantrel::shared
