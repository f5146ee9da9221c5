#include "vantrel/loader/IoRefCount.h"

namespace vantrel::loader {

bool IoRefCount::Acquire() {
  std::lock_guard lock(mutex_);
  if (removing_) return false;
  ++count_;
  return true;
}

void IoRefCount::Release() {
  std::lock_guard lock(mutex_);
  if (--count_ == 0) noIo_.notify_all();
}

void IoRefCount::RemoveAndWait() {
  std::unique_lock lock(mutex_);
  if (!removing_) {
    removing_ = true;
    --count_;
  }
  noIo_.wait(lock, [this] { return count_ == 0; });
}

bool IoRefCount::Removing() const {
  std::lock_guard lock(mutex_);
  return removing_;
}

}  // namespace vantrel::loader
