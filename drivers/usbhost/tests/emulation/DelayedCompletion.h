// Completes umockdev ioctls after a pause, on a thread of its own, so that
// one idle device's pause does not hold up the others on umockdev's ioctl
// thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

namespace vantrel::usbhost::emulation {

class DelayedCompletion {
 public:
  DelayedCompletion();
  ~DelayedCompletion();  // completes what is still pending
  DelayedCompletion(const DelayedCompletion&) = delete;
  DelayedCompletion& operator=(const DelayedCompletion&) = delete;

  void CompleteLater(UMockdevIoctlClient* client, long result, int error, int microseconds);

 private:
  struct Pending {
    UMockdevIoctlClient* client;  // a reference held until completed
    long result;
    int error;
    std::chrono::steady_clock::time_point due;
  };
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Pending> pending_;  // in order of `due`: every pause is the same
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace vantrel::usbhost::emulation
