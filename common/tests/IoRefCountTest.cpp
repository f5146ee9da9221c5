#include "k27/common/IoRefCount.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace vantrel::common {
namespace {

using namespace std::chrono_literals;

TEST(IoRefCount, RemovalRefusesNewReferencesAndWaitsForHeldOnes) {
  IoRefCount refs;
  EXPECT_EQ(refs.Count(), 1);  // the device's own
  auto held = std::make_unique<IoRef>(refs);
  ASSERT_TRUE(held->Held());
  EXPECT_EQ(refs.Count(), 2);

  std::atomic<bool> removed{false};
  std::thread removal([&] {
    refs.RemoveAndWait();
    removed = true;
  });
  // Removal has begun once a new reference is refused; it cannot end while
  // the held one is out.
  while (!refs.Removing()) std::this_thread::yield();
  EXPECT_FALSE(IoRef(refs).Held());
  EXPECT_FALSE(removed.load());
  held.reset();
  removal.join();
  EXPECT_TRUE(removed.load());
  EXPECT_EQ(refs.Count(), 0);

  // Calling it again only waits, and does not drop below nothing.
  refs.RemoveAndWait();
  EXPECT_EQ(refs.Count(), 0);
}

TEST(IoRefCount, ManyThreadsTakeAndGiveBackWhileTheDeviceIsRemoved) {
  IoRefCount refs;
  std::atomic<int> inside{0};
  std::atomic<bool> removed{false};
  std::atomic<bool> violated{false};
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t)
    workers.emplace_back([&] {
      for (;;) {
        const IoRef ref(refs);
        if (!ref.Held()) return;
        ++inside;
        if (removed.load()) violated = true;  // work after the removal ended
        --inside;
      }
    });
  refs.RemoveAndWait();
  removed = true;
  EXPECT_EQ(inside.load(), 0);
  for (auto& worker : workers) worker.join();
  EXPECT_FALSE(violated.load());
}

}  // namespace
}  // namespace vantrel::common
