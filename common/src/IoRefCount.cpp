#include "k27/common/IoRefCount.h"

namespace vantrel::common {

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

void IoRefCount::BeginRemoval() {
  std::lock_guard lock(mutex_);
  if (removing_) return;
  removing_ = true;
  if (--count_ == 0) noIo_.notify_all();
}

void IoRefCount::WaitForIdle() {
  std::unique_lock lock(mutex_);
  noIo_.wait(lock, [this] { return removing_ && count_ == 0; });
}

void IoRefCount::RemoveAndWait() {
  BeginRemoval();
  WaitForIdle();
}

bool IoRefCount::Removing() const {
  std::lock_guard lock(mutex_);
  return removing_;
}

std::int32_t IoRefCount::Count() const {
  std::lock_guard lock(mutex_);
  return count_;
}

}  // namespace vantrel::common
