#include "NotificationEvent.h"

namespace vantrel::driver {

void NotificationEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
  }
  changed_.notify_all();
}

bool NotificationEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return set_;
}

void NotificationEvent::Wait() const {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return set_; });
}

}  // namespace vantrel::driver
