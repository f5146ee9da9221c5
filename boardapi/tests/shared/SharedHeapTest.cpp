// The block allocator on a heap in ordinary memory.
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "shared/SharedHeap.h"

namespace {

using namespace vantrel::shared;

class SharedHeapTest : public ::testing::Test {
 protected:
  // A zeroed mapping of `size` bytes with a fresh header.
  void Lay(std::uint32_t size) {
    memory_.assign(size, 0);
    heap_ = SharedHeap(memory_.data(), memory_.size());
    heap_.Initialise(
        MakeRegionDescriptor("K27SharedMemory", 0, MakeLockDescriptor("K27Mutex", 0, 10), size));
  }
  SharedBlockHeader* Attach(const char* name, std::size_t size, bool* taken = nullptr) {
    bool ignored = false;
    return heap_.Attach(name, 0, size, taken != nullptr ? taken : &ignored);
  }

  std::vector<std::uint8_t> memory_;
  SharedHeap heap_{nullptr, 0};
};

TEST(SharedHeapUnits, RoundUpToWholeUnits) {
  EXPECT_EQ(UnitsForMapping(65536), 526u);
  EXPECT_EQ(UnitsForBlock(204), 2u);
  EXPECT_EQ(UnitsForBlock(252), 3u);
  EXPECT_EQ(UnitsForBlock(1180), 10u);
  EXPECT_EQ(UnitsForBlock(124), 1u);
  // A block always has room for its header.
  EXPECT_EQ(UnitsForBlock(0), 1u);
  EXPECT_EQ(UnitsForMapping(100), 0u);
}

TEST_F(SharedHeapTest, FirstFitSplitsTheFreeBlock) {
  Lay(65536);
  bool taken = false;
  SharedBlockHeader* on = Attach("OutOnCopies", 204, &taken);
  EXPECT_TRUE(taken);
  SharedBlockHeader* off = Attach("OutOffCopies", 204);
  SharedBlockHeader* eeproms = Attach("K27EEPROMS", 252);
  SharedBlockHeader* buffers = Attach("K27BUFFERS", 1180);
  ASSERT_NE(buffers, nullptr);
  EXPECT_EQ(heap_.OffsetOf(on), 128u);
  EXPECT_EQ(heap_.OffsetOf(off), 376u);
  EXPECT_EQ(heap_.OffsetOf(eeproms), 624u);
  EXPECT_EQ(heap_.OffsetOf(buffers), 996u);
  EXPECT_EQ(buffers->length, 10u);
  // The rest of the heap stays one free block.
  SharedBlockHeader* rest = heap_.BlockAt(17);
  EXPECT_EQ(rest->refCount, 0u);
  EXPECT_EQ(rest->length, 526u - 17u);
  int blocks = 0;
  heap_.ForEachBlock([&](std::uint32_t, SharedBlockHeader*) { return ++blocks, true; });
  EXPECT_EQ(blocks, 5);
}

TEST_F(SharedHeapTest, AttachingAgainCountsAReference) {
  Lay(65536);
  SharedBlockHeader* first = Attach("K27EEPROMS", 252);
  bool taken = true;
  SharedBlockHeader* again = Attach("K27EEPROMS", 252, &taken);
  EXPECT_EQ(again, first);
  EXPECT_FALSE(taken);
  EXPECT_EQ(first->refCount, 2u);
  // Another id is another block.
  bool ignored = false;
  EXPECT_NE(heap_.Attach("K27EEPROMS", 1, 252, &ignored), first);
}

TEST_F(SharedHeapTest, BlockThatDoesNotFitIsNotTaken) {
  // Five units.
  Lay(252 + 5 * 124);
  ASSERT_EQ(heap_.Units(), 5u);
  ASSERT_NE(Attach("A", 3 * 124), nullptr);
  EXPECT_EQ(Attach("B", 3 * 124), nullptr);
  // An exact fit leaves no free block behind.
  SharedBlockHeader* c = Attach("C", 2 * 124);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->length, 2u);
  EXPECT_EQ(Attach("D", 1), nullptr);
  // Nothing was written past the heap's end.
  for (std::size_t i = 128 + 5 * 124; i < memory_.size(); ++i) ASSERT_EQ(memory_[i], 0) << i;
}

TEST_F(SharedHeapTest, DamagedLengthsEndTheWalk) {
  Lay(65536);
  SharedBlockHeader* first = Attach("OutOnCopies", 204);
  // A length of 0 would make the walk stand still; one past the heap's end
  // would leave the mapping.
  for (std::uint32_t length : {0u, 600u}) {
    heap_.BlockAt(2)->length = length;
    EXPECT_EQ(heap_.Find("OutOnCopies", 0, 2), first);
    EXPECT_EQ(Attach("K27EEPROMS", 252), nullptr);
  }
  // A unit total larger than the mapping holds is cut to it.
  heap_.Header().units = 100000;
  EXPECT_EQ(heap_.Units(), 526u);
}

TEST_F(SharedHeapTest, BlockWhoseTakingWasCutShortIsTakenAgain) {
  Lay(65536);
  // A process died after naming the free block but before counting it.
  SharedBlockHeader* block = heap_.BlockAt(0);
  std::strcpy(block->name, "K27BUFFERS");
  bool taken = false;
  SharedBlockHeader* buffers = Attach("K27BUFFERS", 1180, &taken);
  EXPECT_EQ(buffers, block);
  EXPECT_TRUE(taken);
  EXPECT_EQ(buffers->length, 10u);
  EXPECT_EQ(buffers->refCount, 1u);
  EXPECT_EQ(heap_.BlockAt(10)->length, 516u);
  // A block shorter than asked is not handed out under its name.
  block = heap_.BlockAt(10);
  std::strcpy(block->name, "Big");
  block->length = 516;
  EXPECT_EQ(heap_.Find("Big", 0, 600), nullptr);
}

}  // namespace
