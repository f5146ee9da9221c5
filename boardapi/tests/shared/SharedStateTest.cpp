// The library's own shared state in this test process, which is the only
// process of its namespace.
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "shared/SharedObject.h"
#include "shared/SharedState.h"

namespace {

using namespace vantrel::shared;

SharedBlockObject& Block(SharedObject& object) { return dynamic_cast<SharedBlockObject&>(object); }

std::uint32_t U32(const std::uint8_t* at) {
  return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8 | std::uint32_t(at[2]) << 16 |
         std::uint32_t(at[3]) << 24;
}

std::string Text(const std::uint8_t* at) { return reinterpret_cast<const char*>(at); }

const std::uint8_t* View() { return Block(State().outOnCopies).Segment()->View(); }

bool InMapping(const std::uint8_t* p) { return p >= View() && p < View() + 65536; }

TEST(SharedState, MappingLaidOutByteForByte) {
  const std::uint8_t* view = View();
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(Block(State().outOnCopies).Segment()->Created());
  // Heap header: the region's descriptor, the initialisation count, the units.
  EXPECT_EQ(Text(view), "K27SharedMemory");
  EXPECT_EQ(U32(view + 52), 0u);
  EXPECT_EQ(Text(view + 56), "K27Mutex_SEM_0");
  EXPECT_EQ(U32(view + 56 + 52), 10u);
  EXPECT_EQ(U32(view + 116), 65536u);
  EXPECT_EQ(U32(view + 120), 1u);
  EXPECT_EQ(U32(view + 124), 526u);

  struct Expected {
    SharedObject* object;
    const char* name;
    std::size_t offset;
    std::uint32_t units;
  };
  SharedState& state = State();
  const Expected blocks[] = {{&state.outOnCopies, "OutOnCopies", 128, 2},
                             {&state.outOffCopies, "OutOffCopies", 376, 2},
                             {&state.eeproms, "K27EEPROMS", 624, 3},
                             {&state.buffers, "K27BUFFERS", 996, 10}};
  for (const Expected& block : blocks) {
    SCOPED_TRACE(block.name);
    const std::uint8_t* header = view + block.offset;
    EXPECT_EQ(block.object->Data(), header + 124);
    EXPECT_EQ(Text(header), block.name);
    EXPECT_EQ(U32(header + 52), 0u);
    EXPECT_EQ(Text(header + 56), "_SEM_0");
    EXPECT_EQ(U32(header + 56 + 52), 1u);
    EXPECT_EQ(U32(header + 116), 1u);
    EXPECT_EQ(U32(header + 120), block.units);
  }
  // 17 units taken; the rest is one free block.
  const std::uint8_t* rest = view + 128 + 17 * 124;
  EXPECT_EQ(U32(rest + 116), 0u);
  EXPECT_EQ(U32(rest + 120), 526u - 17u);
  EXPECT_EQ(Block(state.buffers).Segment()->AttachCount(), 4);
}

TEST(SharedState, RecordsStayInsideTheirBlock) {
  SharedState& state = State();
  struct Kind {
    SharedObject* object;
    std::size_t size;
  };
  const Kind kinds[] = {{&state.outOnCopies, kOutputCopySize},
                        {&state.outOffCopies, kOutputCopySize},
                        {&state.eeproms, kEepromConfigCopySize},
                        {&state.buffers, kReceiveBufferSize}};
  for (const Kind& kind : kinds) {
    for (int slot = 0; slot < kBoardSlots; ++slot)
      EXPECT_EQ(Record(*kind.object, kind.size, slot), kind.object->Data() + slot * kind.size);
  }
  // Slots out of range and records past the block's end get memory of the
  // process, which takes a whole record without touching the mapping.
  const std::vector<std::uint8_t> before(View(), View() + 65536);
  struct Stray {
    SharedObject* object;
    std::size_t size;
    int slot;
  };
  const Stray strays[] = {{&state.outOnCopies, kOutputCopySize, -1},
                          {&state.outOnCopies, kOutputCopySize, kBoardSlots},
                          {&state.eeproms, kEepromConfigCopySize, INT_MIN},
                          {&state.buffers, kReceiveBufferSize, INT_MAX},
                          {&state.outOffCopies, kReceiveBufferSize, 15}};
  for (const Stray& stray : strays) {
    std::uint8_t* record = Record(*stray.object, stray.size, stray.slot);
    ASSERT_NE(record, nullptr);
    EXPECT_FALSE(InMapping(record)) << stray.slot;
    std::memset(record, 0xFF, stray.size);
  }
  EXPECT_TRUE(std::equal(before.begin(), before.end(), View()));
  // Too large a record for any room the process keeps.
  EXPECT_EQ(Record(state.outOnCopies, 200, 0), nullptr);
}

TEST(SharedState, ObjectOfAnotherKindWithoutDataGetsScratch) {
  struct NoBlock : SharedObject {
    void Lock() override {}
    void Unlock() override {}
    std::uint8_t* Data() override { return nullptr; }
  } object;
  std::uint8_t* record = Record(object, kReceiveBufferSize, 3);
  ASSERT_NE(record, nullptr);
  std::memset(record, 0xAB, kReceiveBufferSize);
  // Nothing is carried from one caller to the next.
  record = Record(object, kReceiveBufferSize, 3);
  EXPECT_EQ(record[0], 0);
  EXPECT_EQ(record[kReceiveBufferSize - 1], 0);
}

TEST(SharedState, LockIsRecursiveForItsThreadAndExclusiveForOthers) {
  SharedBlockObject& eeproms = Block(State().eeproms);
  ASSERT_TRUE(eeproms.LockHandle()->HasHandle());
  auto otherThreadGetsIt = [&] {
    bool got = false;
    std::thread other([&] {
      got = eeproms.TryLock();
      if (got) eeproms.Unlock();
    });
    other.join();
    return got;
  };
  eeproms.Lock();
  eeproms.Lock();
  EXPECT_FALSE(otherThreadGetsIt());
  eeproms.Unlock();
  EXPECT_FALSE(otherThreadGetsIt());
  eeproms.Unlock();
  EXPECT_TRUE(otherThreadGetsIt());
  // The locks are distinct.
  SharedLockGuard held(State().outOnCopies);
  EXPECT_TRUE(otherThreadGetsIt());
}

TEST(SharedState, ThreadsUpdatingARecordUnderTheLockLoseNothing) {
  SharedObject& eeproms = State().eeproms;
  constexpr int kThreads = 4;
  constexpr int kRounds = 20000;
  std::uint8_t* counter = Record(eeproms, kEepromConfigCopySize, kBoardSlots - 1);
  std::uint32_t start;
  {
    SharedLockGuard guard(eeproms);
    std::memcpy(&start, counter, sizeof start);
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        SharedLockGuard guard(eeproms);
        // The inner lock of an operation that calls another.
        SharedLockGuard again(eeproms);
        std::uint32_t value;
        std::memcpy(&value, counter, sizeof value);
        if (i % 16 == 0) std::this_thread::yield();
        ++value;
        std::memcpy(counter, &value, sizeof value);
      }
    });
  for (std::thread& thread : threads) thread.join();
  std::uint32_t end;
  std::memcpy(&end, counter, sizeof end);
  EXPECT_EQ(end - start, std::uint32_t{kThreads * kRounds});
}

}  // namespace
