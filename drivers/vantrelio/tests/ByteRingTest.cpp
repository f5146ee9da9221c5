// The byte ring between the stream's completions and its reader.
#include "device/ByteRing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <thread>
#include <vector>

namespace vantrel::driver {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ByteRing, WritesFitWholeOrNotAtAllAndWrapAroundTheEnd) {
  auto ring = ByteRing::Create(10);
  ASSERT_TRUE(ring);
  Bytes ten(10);
  std::iota(ten.begin(), ten.end(), 0);
  EXPECT_EQ(ring->Write(ten), 10u);
  EXPECT_EQ(ring->Write(Bytes{99}), 0u);  // full: refused, nothing changes
  Bytes four(4);
  EXPECT_EQ(ring->Read(four), 4u);
  EXPECT_EQ(four, (Bytes{0, 1, 2, 3}));
  // Four bytes fit again, written over the end and on at the start.
  EXPECT_EQ(ring->Write(Bytes{10, 11, 12, 13}), 4u);
  EXPECT_EQ(ring->Count(), 10u);
  Bytes all(10);
  EXPECT_EQ(ring->Read(all), 10u);
  EXPECT_EQ(all, (Bytes{4, 5, 6, 7, 8, 9, 10, 11, 12, 13}));
  EXPECT_EQ(ring->Count(), 0u);
}

TEST(ByteRing, ReadsTakeWhatIsHeldAndNothingFromAnEmptyRing) {
  auto ring = ByteRing::Create(10);
  Bytes out(6);
  EXPECT_EQ(ring->Read(out), 0u);
  EXPECT_EQ(ring->Write(Bytes{1, 2, 3}), 3u);
  EXPECT_EQ(ring->Read(out), 3u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), (Bytes{1, 2, 3}));
  // A destination larger than the whole ring reads nothing.
  EXPECT_EQ(ring->Write(Bytes{4}), 1u);
  Bytes tooLarge(11);
  EXPECT_EQ(ring->Read(tooLarge), 0u);
  EXPECT_EQ(ring->Count(), 1u);
  // A write that ends exactly at the end leaves the position at the start.
  auto exact = ByteRing::Create(4);
  EXPECT_EQ(exact->Write(Bytes{1, 2, 3, 4}), 4u);
  Bytes two(2);
  EXPECT_EQ(exact->Read(two), 2u);
  EXPECT_EQ(exact->Read(two), 2u);
  EXPECT_EQ(exact->Write(Bytes{5, 6}), 2u);
  EXPECT_EQ(exact->Read(two), 2u);
  EXPECT_EQ(two, (Bytes{5, 6}));
}

TEST(ByteRing, OneWriterAndOneReaderOnTwoThreadsLoseAndReorderNothing) {
  // Chunks of 7 numbered bytes through a ring of 64: every chunk that was
  // accepted arrives whole and in order.
  auto ring = ByteRing::Create(64);
  constexpr int kChunks = 20000;
  std::vector<int> accepted;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int c = 0; c < kChunks; ++c) {
      Bytes chunk(7, std::uint8_t(c));
      if (ring->Write(chunk) == chunk.size()) accepted.push_back(c);
      if (c % 64 == 0) std::this_thread::yield();
    }
    done.store(true);
  });
  Bytes received;
  for (;;) {
    const bool finished = done.load();
    Bytes out(21);
    const std::size_t n = ring->Read(out);
    received.insert(received.end(), out.begin(), out.begin() + long(n));
    if (n == 0 && finished) break;
  }
  writer.join();
  ASSERT_EQ(received.size(), accepted.size() * 7);
  for (std::size_t i = 0; i < accepted.size(); ++i)
    for (int k = 0; k < 7; ++k) ASSERT_EQ(received[i * 7 + k], std::uint8_t(accepted[i]));
}

}  // namespace
}  // namespace vantrel::driver
