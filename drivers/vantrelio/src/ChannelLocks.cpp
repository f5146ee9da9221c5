#include "ChannelLocks.h"

namespace vantrel::driver {

ChannelLocks::Held::Held(std::mutex& a, std::mutex& b) : a_(a), b_(b) {
  if (&a_ == &b_)
    a_.lock();
  else
    std::lock(a_, b_);
}

ChannelLocks::Held::~Held() {
  a_.unlock();
  if (&a_ != &b_) b_.unlock();
}

ChannelLocks::Held ChannelLocks::Lock(const PipeInformation& first,
                                      const PipeInformation& second) {
  return Held(locks_[first.endpointAddress & 0x0F], locks_[second.endpointAddress & 0x0F]);
}

}  // namespace vantrel::driver
