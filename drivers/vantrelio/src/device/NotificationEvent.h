// An event that stays set once set: every waiter, earlier or later, passes.
#pragma once

#include <condition_variable>
#include <mutex>

namespace vantrel::driver {

class NotificationEvent {
 public:
  void Set();
  bool IsSet() const;
  // Returns once the event is set.
  void Wait() const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool set_ = false;
};

}  // namespace vantrel::driver
