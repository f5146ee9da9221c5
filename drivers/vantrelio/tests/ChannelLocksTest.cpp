// The per-channel locks: who waits for whom, and in which order the waiters
// are served. Every wait is on a condition: the lock's own count of waiters.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "device/ChannelLocks.h"
#include "device/FairLock.h"

namespace vantrel::driver {
namespace {

// Waits until `count` callers wait for the lock that `waiting` counts for;
// false after a generous bound.
template <typename Waiting>
bool WaitForWaiters(Waiting waiting, std::size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (waiting() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

// The order in which callers got the lock.
class Arrivals {
 public:
  void Note(int who) {
    std::lock_guard<std::mutex> guard(mutex_);
    order_.push_back(who);
  }
  std::vector<int> Order() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return order_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<int> order_;
};

TEST(FairLock, WaitersAreServedInTheOrderTheyCame) {
  FairLock lock;
  Arrivals arrivals;
  lock.lock();
  std::vector<std::thread> threads;
  constexpr int kWaiters = 8;
  for (int i = 0; i < kWaiters; ++i) {
    threads.emplace_back([&, i] {
      lock.lock();
      arrivals.Note(i);
      lock.unlock();
    });
    // The next one comes only once this one is queued.
    EXPECT_TRUE(WaitForWaiters([&] { return lock.Waiting(); }, static_cast<std::size_t>(i + 1)));
  }
  lock.unlock();
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(arrivals.Order(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(lock.Waiting(), 0u);
}

TEST(FairLock, AHolderThatAsksAgainQueuesBehindTheWaiter) {
  // A client looping on a channel releases it and asks again at once: with
  // a lock that lets it barge in, the waiter never gets its turn.
  FairLock lock;
  Arrivals arrivals;
  lock.lock();
  std::thread waiter([&] {
    lock.lock();
    arrivals.Note(1);
    lock.unlock();
  });
  EXPECT_TRUE(WaitForWaiters([&] { return lock.Waiting(); }, 1));
  for (int round = 0; round < 3; ++round) {
    lock.unlock();
    lock.lock();
    arrivals.Note(0);
  }
  lock.unlock();
  waiter.join();
  EXPECT_EQ(arrivals.Order(), (std::vector<int>{1, 0, 0, 0}));
}

TEST(ChannelLocks, BothDirectionsOfAChannelShareOneLockAndChannelsDoNotWait) {
  ChannelLocks channels;
  Arrivals arrivals;
  std::thread reader;
  {
    const ChannelLocks::Held out = channels.Lock(0x05);
    reader = std::thread([&] {
      const ChannelLocks::Held in = channels.Lock(0x85);
      arrivals.Note(5);
    });
    EXPECT_TRUE(WaitForWaiters([&] { return channels.Waiting(0x05); }, 1));
    // Another channel is free meanwhile, from any thread.
    std::thread other([&] {
      const ChannelLocks::Held six = channels.Lock(0x86);
      arrivals.Note(6);
    });
    other.join();
    EXPECT_EQ(arrivals.Order(), std::vector<int>{6});
  }
  reader.join();
  EXPECT_EQ(arrivals.Order(), (std::vector<int>{6, 5}));
}

}  // namespace
}  // namespace vantrel::driver
