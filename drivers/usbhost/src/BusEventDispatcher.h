// What every bus backend puts between its notifications and the user's
// handlers: a queue of events and one dispatch thread that runs them in the
// order they were posted. A backend's notifications (libusb's hotplug
// callbacks, the simulated bus's observer) only post; the handlers run on
// the dispatch thread, where they may block and make transfers. The
// dispatcher also carries the pause that ends when the bus stops (for the
// retries of a device that refuses to be opened at first) and the log of
// what the bus cannot deliver.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "RetryWindow.h"

namespace vantrel::usbhost {

class BusEventDispatcher {
 public:
  using Event = std::function<void()>;
  using Log = std::function<void(const std::string&)>;

  BusEventDispatcher() = default;
  // Must not run on the dispatch thread.
  ~BusEventDispatcher();
  BusEventDispatcher(const BusEventDispatcher&) = delete;
  BusEventDispatcher& operator=(const BusEventDispatcher&) = delete;

  // Where Report goes; standard error without one. Any thread.
  void SetLog(Log log);
  void Report(const std::string& text) const;

  // Starts the dispatch thread, first waiting for the end of one that a
  // handler's Stop left running. `stopped` runs on the dispatch thread after
  // its last event. False when already running.
  bool Start(std::function<void()> stopped = {});
  // From now until the stop, `poll` runs on the dispatch thread whenever
  // `interval` has passed since the last poll (or this call).
  void PollEvery(std::chrono::milliseconds interval, std::function<void()> poll);
  // `beat` runs on the dispatch thread whenever `interval` has passed since
  // the last beat, between events, until replaced; it survives Stop and
  // Start. A handler that hangs holds the beats back, which is what a
  // watchdog fed by them is for. Any thread; an empty `beat` ends them.
  void SetHeartbeat(std::chrono::milliseconds interval, std::function<void()> beat);
  // Queues `event` behind the others. False, and the event dropped at once,
  // when the dispatcher is not running (or the event is empty). Any thread.
  bool Post(Event event);
  // Stops: the event being run ends, the events still queued are dropped
  // without running, and `stopped` runs. Returns once the dispatch thread
  // has ended; called from a handler, returns at once and the thread ends
  // when the handler returns. Safe to call more than once.
  void Stop();

  bool Running() const;
  bool OnDispatchThread() const;
  // Waits `pause`, or less when the dispatcher stops; false when it stopped.
  bool Pause(std::chrono::milliseconds pause);
  // Calls `attempt` until it succeeds (returns true), `deadline` has passed
  // or the dispatcher stops, pausing kBusyRetryInterval between attempts.
  // Whether the last attempt succeeded.
  bool RetryWhileBusy(const std::function<bool()>& attempt, RetryClock::time_point deadline);

 private:
  void Run();
  // The next event or poll to run; none once stopped.
  Event Next();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool running_ = false;
  std::deque<Event> queue_;
  std::function<void()> poll_;
  std::chrono::milliseconds pollInterval_{0};
  std::chrono::steady_clock::time_point nextPoll_;
  std::function<void()> beat_;
  std::chrono::milliseconds beatInterval_{0};
  std::chrono::steady_clock::time_point nextBeat_;
  std::function<void()> stopped_;
  Log log_;
  std::thread::id dispatchId_;  // of the running dispatch thread
  std::thread thread_;          // Start and Stop only
};

}  // namespace vantrel::usbhost
