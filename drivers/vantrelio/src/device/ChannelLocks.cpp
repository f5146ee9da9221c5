#include "ChannelLocks.h"

namespace vantrel::driver {

ChannelLocks::Held::Held(FairLock* lock) : lock_(lock) {
  if (lock_ != nullptr) lock_->lock();
}

ChannelLocks::Held::~Held() {
  if (lock_ != nullptr) lock_->unlock();
}

ChannelLocks::Held ChannelLocks::Lock(std::uint8_t endpointAddress) {
  return Held(enabled_ ? &locks_[ChannelOf(endpointAddress)] : nullptr);
}

std::size_t ChannelLocks::Waiting(std::uint8_t endpointAddress) const {
  return locks_[ChannelOf(endpointAddress)].Waiting();
}

}  // namespace vantrel::driver
