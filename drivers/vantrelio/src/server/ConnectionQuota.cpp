#include "ConnectionQuota.h"

namespace vantrel::driver {

bool ConnectionQuota::Take(uid_t uid) {
  std::lock_guard lock(mutex_);
  std::size_t& held = held_[uid];
  if (perUid_ != 0 && held >= perUid_) return false;
  ++held;
  return true;
}

void ConnectionQuota::Give(uid_t uid) {
  std::lock_guard lock(mutex_);
  auto it = held_.find(uid);
  if (it == held_.end()) return;
  if (--it->second == 0) held_.erase(it);
}

std::size_t ConnectionQuota::Held(uid_t uid) const {
  std::lock_guard lock(mutex_);
  auto it = held_.find(uid);
  return it == held_.end() ? 0 : it->second;
}

}  // namespace vantrel::driver
