#include "FairLock.h"

namespace vantrel::driver {

void FairLock::lock() {
  std::unique_lock<std::mutex> guard(mutex_);
  if (!held_ && waiters_.empty()) {
    held_ = true;
    return;
  }
  Waiter self;
  waiters_.push_back(&self);
  self.granted.wait(guard, [&self] { return self.owns; });
}

void FairLock::unlock() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (waiters_.empty()) {
    held_ = false;
    return;
  }
  Waiter* next = waiters_.front();
  waiters_.pop_front();
  next->owns = true;
  // Still under the mutex: the waiter's record lives on its stack and goes
  // as soon as it sees `owns`.
  next->granted.notify_one();
}

std::size_t FairLock::Waiting() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return waiters_.size();
}

}  // namespace vantrel::driver
