#include <gtest/gtest.h>

#include "SimTestSupport.h"

namespace vantrel::sim::test {
namespace {

constexpr std::uint8_t kReelNumber = 16;
constexpr std::uint8_t kReelBusy = 17;
constexpr std::uint8_t kTableLength = 18;
constexpr std::uint8_t kTooFewSteps = 19;

// Runs a spin to its end.
void Finish(SimBoard& board) { board.AdvanceMicros(1'000'000); }

TEST(SimReels, SpinMovesTheReelOverTimeModuloTheRotation) {
  RunningBoard board;
  ASSERT_EQ(Status(Send(board, 1, {0x56, 3, 0x00, 200, 0})), kOk);
  ASSERT_EQ(Status(Send(board, 1, {0x57, 1, 0x02, 0x00, 150})), kOk);  // at 1 ms: +2 × 150

  const Bytes early = Data(Send(board, 1, {0x5C}));
  ASSERT_EQ(early.size(), 18u);
  EXPECT_EQ(early[6 + 4], 1);  // reel 1 busy
  EXPECT_EQ(early[0 + 4], 0);  // reel 0 idle
  board.AdvanceMicros(100'000);
  EXPECT_EQ(board.Reel(1), (ReelState{.position = 102, .busy = true}));  // 51 steps of 2 ms

  Finish(board);
  const Bytes done = Data(Send(board, 1, {0x5C}));
  EXPECT_EQ(Bytes(done.begin() + 6, done.begin() + 12),
            (Bytes{0, 100, 0, 0, 0, 0}));  // 300 mod 200

  ASSERT_EQ(Status(Send(board, 1, {0x57, 1, 0xFF, 0x00, 150})), kOk);
  Finish(board);
  EXPECT_EQ(board.Reel(1).position, 150);  // 100 − 150 mod 200

  Send(board, 1,
       {0x56, 1, 0x01, 0x2C, 0});  // 300 half-steps: positions 256 and up use the high byte
  Send(board, 1, {0x57, 0, 0x01, 0x01, 0x04});
  Finish(board);
  const Bytes high = Data(Send(board, 1, {0x5C}));
  EXPECT_EQ(Bytes(high.begin(), high.begin() + 2), (Bytes{0x01, 0x04}));
}

TEST(SimReels, RampTablesTimeTheFirstAndLastSteps) {
  RunningBoard board;
  Send(board, 1, {0x56, 1, 0x00, 200, 0});
  ASSERT_EQ(Status(Send(board, 1, {0x58, 0, 2, 10, 10})), kOk);
  ASSERT_EQ(Status(Send(board, 1, {0x59, 0, 1, 10})), kOk);
  EXPECT_EQ(Status(Send(board, 1, {0x57, 0, 0x01, 0, 1})), kTooFewSteps);  // 1 < 2 + 1 - 1

  ASSERT_EQ(Status(Send(board, 1, {0x57, 0, 0x01, 0, 5})),
            kOk);  // at 4 ms: 10 + 10 + 2 + 2 + 10 ms
  board.AdvanceMicros(32'999);
  EXPECT_EQ(board.Reel(0), (ReelState{.position = 4, .busy = true}));
  board.AdvanceMicros(1);
  EXPECT_EQ(board.Reel(0), (ReelState{.position = 5}));

  // An empty table takes the ramp out again.
  Send(board, 1, {0x58, 0, 0});
  Send(board, 1, {0x59, 0, 0});
  Send(board, 1, {0x57, 0, 0x01, 0, 1});
  board.AdvanceMicros(SimBoard::kReelStepMicros);
  EXPECT_FALSE(board.Reel(0).busy);
}

TEST(SimReels, SyncIsSetWhenTheReelReachesOrPassesZeroAfterEnable) {
  RunningBoard board;
  Send(board, 1, {0x56, 1, 0x00, 200, 0});
  Send(board, 1, {0x57, 0, 0x01, 0, 199});
  Finish(board);
  ASSERT_EQ(Status(Send(board, 1, {0x5B, 0})), kOk);
  Send(board, 1, {0x57, 0, 0x01, 0, 1});  // 199 → 0 without an enable would not count
  Finish(board);
  EXPECT_EQ(board.Reel(0), (ReelState{.position = 0, .sync = true}));

  Send(board, 1, {0x5B, 0});
  EXPECT_FALSE(board.Reel(0).sync);
  Send(board, 1, {0x57, 0, 0xFF, 0, 1});  // leaving 0 backwards is no pass
  Finish(board);
  EXPECT_EQ(board.Reel(0), (ReelState{.position = 199}));
  Send(board, 1, {0x57, 0, 0x02, 0, 1});  // 199 + 2 passes 0
  Finish(board);
  EXPECT_EQ(board.Reel(0), (ReelState{.position = 1, .sync = true}));
  Send(board, 1, {0x5B, 0});
  Send(board, 1, {0x57, 0, 0xFE, 0, 1});  // 1 − 2 passes 0 backwards
  Finish(board);
  EXPECT_EQ(board.Reel(0), (ReelState{.position = 199, .sync = true}));
}

TEST(SimReels, BoardRefusesBadReelsBusyReelsAndBadTables) {
  RunningBoard board;
  EXPECT_EQ(Status(Send(board, 1, {0x57, 0, 0x01, 0, 1})), kReelNumber);  // nothing configured
  EXPECT_EQ(Status(Send(board, 1, {0x56, 4, 0, 200, 0})), kReelNumber);
  EXPECT_EQ(Status(Send(board, 1, {0x56, 0, 0, 200, 0})), kReelNumber);
  EXPECT_EQ(Status(Send(board, 1, {0x56, 2, 0, 0, 0})), kTooFewSteps);
  ASSERT_EQ(Status(Send(board, 1, {0x56, 2, 0, 200, 0})), kOk);
  EXPECT_EQ(board.ReelCount(), 2);
  EXPECT_EQ(board.ReelHalfStepsPerRotation(), 200);

  EXPECT_EQ(Status(Send(board, 1, {0x57, 2, 0x01, 0, 1})), kReelNumber);
  EXPECT_EQ(Status(Send(board, 1, {0x5B, 2})), kReelNumber);
  EXPECT_EQ(Status(Send(board, 1, {0x58, 2, 1, 5})), kReelNumber);
  EXPECT_EQ(Status(Send(board, 1, {0x57, 0, 0x03, 0, 1})), kExecutionFailure);  // no such direction
  EXPECT_EQ(Status(Send(board, 1, {0x58, 0, 2, 5})), kTableLength);
  EXPECT_EQ(Status(Send(board, 1, {0x59, 0, 1, 5, 5})), kTableLength);

  ASSERT_EQ(Status(Send(board, 1, {0x57, 0, 0x01, 0, 100})), kOk);
  EXPECT_EQ(Status(Send(board, 1, {0x57, 0, 0x01, 0, 1})), kReelBusy);
  EXPECT_EQ(Status(Send(board, 1, {0x58, 0, 1, 5})), kReelBusy);
  EXPECT_EQ(Status(Send(board, 1, {0x56, 3, 0, 200, 0})), kReelBusy);
  EXPECT_EQ(Status(Send(board, 1, {0x57, 1, 0x01, 0, 1})), kOk);  // the other reel is free
  Finish(board);
  EXPECT_EQ(Status(Send(board, 1, {0x57, 0, 0x01, 0, 1})), kOk);

  EXPECT_EQ(Status(Send(board, 1, {0x5A, 1, 2, 3})), kOk);
  EXPECT_EQ(board.ReelDutyCycle(), (std::array<std::uint8_t, 3>{1, 2, 3}));
}

TEST(SimReels, ShortestSpinSharesOneStepBetweenTheRamps) {
  RunningBoard board;
  Send(board, 1, {0x56, 2, 0x00, 200, 0});
  for (std::uint8_t reel = 0; reel < 2; ++reel) {
    ASSERT_EQ(Status(Send(board, 1, {0x58, reel, 7, 9, 8, 7, 6, 5, 4, 3})), kOk);
    ASSERT_EQ(Status(Send(board, 1, {0x59, reel, 4, 3, 4, 5, 6})), kOk);
  }
  EXPECT_EQ(Status(Send(board, 1, {0x57, 0, 0x01, 0, 9})), kTooFewSteps);
  EXPECT_EQ(Status(Send(board, 1, {0x57, 1, 0x01, 0, 10})), kOk);
}

}  // namespace
}  // namespace vantrel::sim::test
