// A lock that serves its waiters in the order they asked for it: whoever
// releases it and asks again queues behind those already waiting, so that a
// caller looping on it cannot starve the others. Ownership goes straight
// from the holder to the first waiter.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

namespace vantrel::driver {

class FairLock {
 public:
  FairLock() = default;
  FairLock(const FairLock&) = delete;
  FairLock& operator=(const FairLock&) = delete;

  void lock();
  void unlock();
  // Callers waiting now, the holder not counted.
  std::size_t Waiting() const;

 private:
  struct Waiter {
    std::condition_variable granted;
    bool owns = false;
  };

  mutable std::mutex mutex_;
  bool held_ = false;
  std::deque<Waiter*> waiters_;  // in arrival order
};

}  // namespace vantrel::driver
