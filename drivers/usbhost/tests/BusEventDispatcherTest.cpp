// The dispatcher every bus backend delivers its events through.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BusEventDispatcher.h"

namespace vantrel::usbhost {
namespace {

using namespace std::chrono_literals;

// A flag one thread raises and another waits for.
class Signal {
 public:
  void Raise() {
    std::lock_guard lock(mutex_);
    raised_ = true;
    changed_.notify_all();
  }
  bool WaitFor(std::chrono::milliseconds timeout = 10s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return raised_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool raised_ = false;
};

TEST(BusEventDispatcher, RunsEventsInPostOrderOnItsOwnThread) {
  BusEventDispatcher dispatcher;
  ASSERT_TRUE(dispatcher.Start());
  EXPECT_FALSE(dispatcher.Start());  // already running
  std::vector<int> order;
  std::vector<std::thread::id> threads;
  Signal done;
  constexpr int kEvents = 200;
  for (int n = 0; n < kEvents; ++n) {
    ASSERT_TRUE(dispatcher.Post([&, n] {
      EXPECT_TRUE(dispatcher.OnDispatchThread());
      order.push_back(n);
      threads.push_back(std::this_thread::get_id());
      if (n == kEvents - 1) done.Raise();
    }));
  }
  ASSERT_TRUE(done.WaitFor());
  EXPECT_FALSE(dispatcher.OnDispatchThread());
  dispatcher.Stop();
  ASSERT_EQ(order.size(), static_cast<std::size_t>(kEvents));
  for (int n = 0; n < kEvents; ++n) EXPECT_EQ(order[n], n);
  for (const auto& id : threads) EXPECT_EQ(id, threads.front());
  EXPECT_NE(threads.front(), std::this_thread::get_id());
}

TEST(BusEventDispatcher, BusyRetryRepeatsUntilAcceptedAndEndsAtStop) {
  BusEventDispatcher dispatcher;
  ASSERT_TRUE(dispatcher.Start());

  // Refused twice, then accepted.
  int attempts = 0;
  bool accepted = false;
  Signal first;
  ASSERT_TRUE(dispatcher.Post([&] {
    accepted = dispatcher.RetryWhileBusy([&] { return ++attempts == 3; }, RetryClock::now() + 60s);
    first.Raise();
  }));
  ASSERT_TRUE(first.WaitFor());
  EXPECT_TRUE(accepted);
  EXPECT_EQ(attempts, 3);

  // Never accepted, with a window far away: the stop ends the retries, and
  // Stop returns without waiting for the window.
  std::atomic<int> refused{0};
  std::atomic<bool> gaveUp{false};
  Signal tried;
  ASSERT_TRUE(dispatcher.Post([&] {
    const bool result = dispatcher.RetryWhileBusy(
        [&] {
          if (++refused == 1) tried.Raise();
          return false;
        },
        RetryClock::now() + 1h);
    gaveUp = !result;
  }));
  ASSERT_TRUE(tried.WaitFor());
  dispatcher.Stop();
  EXPECT_TRUE(gaveUp);
  EXPECT_GE(refused.load(), 1);
}

TEST(BusEventDispatcher, StopDropsTheQueuedEventsAndReleasesWhatTheyHold) {
  BusEventDispatcher dispatcher;
  bool stoppedRan = false;
  ASSERT_TRUE(dispatcher.Start([&] { stoppedRan = true; }));
  Signal started, release;
  ASSERT_TRUE(dispatcher.Post([&] {
    started.Raise();
    release.WaitFor();
  }));
  auto held = std::make_shared<int>(0);
  std::atomic<int> ran{0};
  for (int n = 0; n < 5; ++n) ASSERT_TRUE(dispatcher.Post([&ran, held] { ++ran; }));
  ASSERT_TRUE(started.WaitFor());

  std::thread stopper([&] { dispatcher.Stop(); });
  // Stop has begun once the dispatcher no longer runs; then the blocked
  // handler may return.
  while (dispatcher.Running()) std::this_thread::yield();
  release.Raise();
  stopper.join();

  EXPECT_EQ(ran.load(), 0);
  EXPECT_EQ(held.use_count(), 1);
  EXPECT_TRUE(stoppedRan);
}

TEST(BusEventDispatcher, NothingRunsAfterStopUntilStartedAgain) {
  BusEventDispatcher dispatcher;
  auto held = std::make_shared<int>(0);
  bool ran = false;
  EXPECT_FALSE(dispatcher.Post([&ran, held] { ran = true; }));  // never started
  ASSERT_TRUE(dispatcher.Start());
  dispatcher.Stop();
  dispatcher.Stop();  // twice is harmless
  EXPECT_FALSE(dispatcher.Post([&ran, held] { ran = true; }));
  EXPECT_FALSE(ran);
  EXPECT_EQ(held.use_count(), 1);
  EXPECT_FALSE(dispatcher.Pause(1h));  // a stopped dispatcher does not wait

  Signal again;
  ASSERT_TRUE(dispatcher.Start());
  ASSERT_TRUE(dispatcher.Post([&] { again.Raise(); }));
  EXPECT_TRUE(again.WaitFor());
}

TEST(BusEventDispatcher, StopFromAHandlerEndsTheThreadAfterIt) {
  BusEventDispatcher dispatcher;
  Signal stopped;
  ASSERT_TRUE(dispatcher.Start([&] { stopped.Raise(); }));
  bool later = false;
  Signal queued;  // the second event is in the queue before the first stops
  ASSERT_TRUE(dispatcher.Post([&] {
    EXPECT_TRUE(queued.WaitFor());
    dispatcher.Stop();  // returns at once: this handler is still running
    EXPECT_FALSE(dispatcher.Post([&] { later = true; }));
  }));
  ASSERT_TRUE(dispatcher.Post([&] { later = true; }));
  queued.Raise();
  ASSERT_TRUE(stopped.WaitFor());
  EXPECT_FALSE(later);
  // A new start waits for the old thread.
  Signal again;
  ASSERT_TRUE(dispatcher.Start());
  ASSERT_TRUE(dispatcher.Post([&] { again.Raise(); }));
  EXPECT_TRUE(again.WaitFor());
}

TEST(BusEventDispatcher, PollsBetweenEventsWhenAsked) {
  BusEventDispatcher dispatcher;
  ASSERT_TRUE(dispatcher.Start());
  std::atomic<int> polls{0};
  Signal thrice;
  dispatcher.PollEvery(5ms, [&] {
    EXPECT_TRUE(dispatcher.OnDispatchThread());
    if (++polls == 3) thrice.Raise();
  });
  EXPECT_TRUE(thrice.WaitFor());
  dispatcher.Stop();
}

// The heartbeat feeds the service manager's watchdog: it must come from the
// dispatch thread (so that a hung handler holds it back), keep beating
// beside a poll and through a restart of the bus.
TEST(BusEventDispatcher, HeartbeatRunsOnTheDispatchThreadBesidePollsAndThroughARestart) {
  BusEventDispatcher dispatcher;
  std::atomic<int> beats{0};
  std::atomic<bool> offThread{false};
  std::mutex mutex;
  std::condition_variable changed;
  dispatcher.SetHeartbeat(2ms, [&] {
    if (!dispatcher.OnDispatchThread()) offThread = true;
    std::lock_guard lock(mutex);
    ++beats;
    changed.notify_all();
  });
  const auto beatsPast = [&](int count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 10s, [&] { return beats >= count; });
  };
  ASSERT_TRUE(dispatcher.Start());
  Signal polled;
  dispatcher.PollEvery(3ms, [&] { polled.Raise(); });
  EXPECT_TRUE(beatsPast(3));
  EXPECT_TRUE(polled.WaitFor());

  // While a handler runs, the beats wait for it.
  Signal entered, release, left;
  int beatsInHandler = -1;
  ASSERT_TRUE(dispatcher.Post([&] {
    const int before = beats;
    entered.Raise();
    release.WaitFor();
    beatsInHandler = beats - before;
    left.Raise();
  }));
  ASSERT_TRUE(entered.WaitFor());
  release.Raise();
  ASSERT_TRUE(left.WaitFor());
  EXPECT_EQ(beatsInHandler, 0);

  dispatcher.Stop();
  const int stoppedAt = beats;
  ASSERT_TRUE(dispatcher.Start());
  EXPECT_TRUE(beatsPast(stoppedAt + 3));
  dispatcher.Stop();
  EXPECT_FALSE(offThread);
}

TEST(BusEventDispatcher, ReportsGoToTheLogOrStandardError) {
  BusEventDispatcher dispatcher;
  testing::internal::CaptureStderr();
  dispatcher.Report("usbhost: without a log");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "usbhost: without a log\n");

  std::vector<std::string> lines;
  dispatcher.SetLog([&](const std::string& line) { lines.push_back(line); });
  dispatcher.Report("usbhost: into the log");
  EXPECT_EQ(lines, std::vector<std::string>{"usbhost: into the log"});
}

}  // namespace
}  // namespace vantrel::usbhost
