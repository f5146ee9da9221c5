// One transfer on a simulated device.
#pragma once

#include <condition_variable>
#include <mutex>

#include "vantrel/usbhost/UsbHost.h"

namespace vantrel::usbhost {

class SimHostDevice;

class SimTransfer final : public PendingTransfer {
 public:
  SimTransfer(TransferRequest request, std::weak_ptr<SimHostDevice> device)
      : request_(std::move(request)), device_(std::move(device)) {}

  bool WaitFor(std::chrono::milliseconds timeout) override {
    std::unique_lock lock(mutex_);
    return done_.wait_for(lock, timeout, [this] { return completed_; });
  }
  void Wait() override {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return completed_; });
  }
  void Cancel() override;
  bool Completed() const override {
    std::lock_guard lock(mutex_);
    return completed_;
  }
  const TransferResult& Result() const override { return result_; }

  const TransferRequest& Request() const { return request_; }
  TransferRequest& MutableRequest() { return request_; }
  // First completion wins; later ones are ignored.
  bool Complete(TransferResult result) {
    std::lock_guard lock(mutex_);
    if (completed_) return false;
    result_ = std::move(result);
    completed_ = true;
    done_.notify_all();
    return true;
  }

 private:
  TransferRequest request_;
  std::weak_ptr<SimHostDevice> device_;
  mutable std::mutex mutex_;
  std::condition_variable done_;
  bool completed_ = false;
  TransferResult result_;
};

}  // namespace vantrel::usbhost
