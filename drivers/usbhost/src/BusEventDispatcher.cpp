#include "BusEventDispatcher.h"

#include "k27/common/Log.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace vantrel::usbhost {

BusEventDispatcher::~BusEventDispatcher() { Stop(); }

void BusEventDispatcher::SetLog(Log log) {
  std::lock_guard lock(mutex_);
  log_ = std::move(log);
}

void BusEventDispatcher::Report(const std::string& text) const {
  Log log;
  {
    std::lock_guard lock(mutex_);
    log = log_;
  }
  if (log)
    log(text);
  else
    vantrel::common::LogInfo(text);
}

bool BusEventDispatcher::Start(std::function<void()> stopped) {
  {
    std::lock_guard lock(mutex_);
    if (running_) return false;
  }
  if (thread_.joinable()) thread_.join();
  {
    std::lock_guard lock(mutex_);
    running_ = true;
    queue_.clear();
    poll_ = nullptr;
    nextBeat_ = std::chrono::steady_clock::now() + beatInterval_;
    stopped_ = std::move(stopped);
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void BusEventDispatcher::PollEvery(std::chrono::milliseconds interval, std::function<void()> poll) {
  std::lock_guard lock(mutex_);
  if (!running_) return;
  poll_ = std::move(poll);
  pollInterval_ = interval;
  nextPoll_ = std::chrono::steady_clock::now() + interval;
  wake_.notify_all();
}

void BusEventDispatcher::SetHeartbeat(std::chrono::milliseconds interval,
                                      std::function<void()> beat) {
  std::lock_guard lock(mutex_);
  beat_ = std::move(beat);
  beatInterval_ = interval;
  nextBeat_ = std::chrono::steady_clock::now() + interval;
  wake_.notify_all();
}

bool BusEventDispatcher::Post(Event event) {
  if (!event) return false;
  {
    std::lock_guard lock(mutex_);
    if (running_) {
      queue_.push_back(std::move(event));
      wake_.notify_all();
      return true;
    }
  }
  // Dropped outside the lock: what it holds may take time to release.
  return false;
}

void BusEventDispatcher::Stop() {
  {
    std::lock_guard lock(mutex_);
    running_ = false;
    wake_.notify_all();
    if (dispatchId_ == std::this_thread::get_id()) return;
  }
  if (thread_.joinable()) thread_.join();
}

bool BusEventDispatcher::Running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

bool BusEventDispatcher::OnDispatchThread() const {
  std::lock_guard lock(mutex_);
  return dispatchId_ == std::this_thread::get_id();
}

bool BusEventDispatcher::Pause(std::chrono::milliseconds pause) {
  std::unique_lock lock(mutex_);
  return !wake_.wait_for(lock, pause, [this] { return !running_; });
}

bool BusEventDispatcher::RetryWhileBusy(const std::function<bool()>& attempt,
                                        RetryClock::time_point deadline) {
  return RetryUntil(attempt, deadline, kBusyRetryInterval,
                    [this](std::chrono::milliseconds pause) { return Pause(pause); });
}

BusEventDispatcher::Event BusEventDispatcher::Next() {
  std::unique_lock lock(mutex_);
  // Each wake re-reads everything: a PollEvery may have come meanwhile.
  for (;;) {
    if (!running_) return nullptr;
    if (!queue_.empty()) {
      Event event = std::move(queue_.front());
      queue_.pop_front();
      return event;
    }
    const auto now = std::chrono::steady_clock::now();
    if (beat_ && now >= nextBeat_) {
      nextBeat_ = now + beatInterval_;
      return beat_;
    }
    if (poll_ && now >= nextPoll_) {
      nextPoll_ = now + pollInterval_;
      return poll_;
    }
    if (poll_ && beat_) {
      wake_.wait_until(lock, std::min(nextPoll_, nextBeat_));
    } else if (poll_) {
      wake_.wait_until(lock, nextPoll_);
    } else if (beat_) {
      wake_.wait_until(lock, nextBeat_);
    } else {
      wake_.wait(lock);
    }
  }
}

void BusEventDispatcher::Run() {
  {
    std::lock_guard lock(mutex_);
    dispatchId_ = std::this_thread::get_id();
  }
  for (;;) {
    Event event = Next();
    if (!event) break;
    event();
  }
  std::deque<Event> left;
  std::function<void()> stopped;
  {
    std::lock_guard lock(mutex_);
    left.swap(queue_);
    stopped = std::move(stopped_);
    poll_ = nullptr;
  }
  left.clear();
  if (stopped) stopped();
  std::lock_guard lock(mutex_);
  dispatchId_ = {};
}

}  // namespace vantrel::usbhost
