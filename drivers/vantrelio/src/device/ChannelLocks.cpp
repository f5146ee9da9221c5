#include "ChannelLocks.h"

namespace vantrel::driver {

ChannelLocks::Held::Held(std::mutex* a, std::mutex* b) : a_(a), b_(a == b ? nullptr : b) {
  if (a_ == nullptr) return;
  if (b_ == nullptr)
    a_->lock();
  else
    std::lock(*a_, *b_);
}

ChannelLocks::Held::~Held() {
  if (a_ != nullptr) a_->unlock();
  if (b_ != nullptr) b_->unlock();
}

ChannelLocks::Held ChannelLocks::Lock(const PipeInformation& first, const PipeInformation& second) {
  if (!enabled_) return Held(nullptr, nullptr);
  return Held(&locks_[first.endpointAddress & 0x0F], &locks_[second.endpointAddress & 0x0F]);
}

}  // namespace vantrel::driver
