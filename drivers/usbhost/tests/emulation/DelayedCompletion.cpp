#include "emulation/DelayedCompletion.h"

#include <umockdev.h>

namespace vantrel::usbhost::emulation {

DelayedCompletion::DelayedCompletion() : thread_([this] { Run(); }) {}

DelayedCompletion::~DelayedCompletion() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void DelayedCompletion::CompleteLater(UMockdevIoctlClient* client, long result, int error,
                                      int microseconds) {
  g_object_ref(client);
  {
    std::lock_guard lock(mutex_);
    pending_.push_back(
        {client, result, error,
         std::chrono::steady_clock::now() + std::chrono::microseconds(microseconds)});
  }
  wake_.notify_all();
}

void DelayedCompletion::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (pending_.empty()) {
      if (stop_) return;
      wake_.wait(lock, [this] { return stop_ || !pending_.empty(); });
      continue;
    }
    const Pending next = pending_.front();
    if (!stop_ && std::chrono::steady_clock::now() < next.due) {
      wake_.wait_until(lock, next.due);
      continue;
    }
    pending_.pop_front();
    lock.unlock();
    umockdev_ioctl_client_complete(next.client, next.result, next.error);
    g_object_unref(next.client);
    lock.lock();
  }
}

}  // namespace vantrel::usbhost::emulation
