#include <gtest/gtest.h>

#include "SimTestSupport.h"

namespace vantrel::sim::test {
namespace {

using Image = SimBoard::OutputImage;

TEST(SimOutputs, ImagesAndBrightnessAreKeptAsSent) {
  RunningBoard board;
  EXPECT_EQ(Status(Send(board, 1, {0x53, 0x11, 0x22, 0x33, 0x44, 0x3F})), kOk);
  EXPECT_EQ(Status(Send(board, 1, {0x54, 0x01, 0x02, 0x03, 0x04, 0x05})), kOk);
  EXPECT_EQ(Status(Send(board, 1, {0x55, 7})), kOk);
  EXPECT_EQ(board.OnPeriodOutputs(), (Image{0x11, 0x22, 0x33, 0x44, 0x3F}));
  EXPECT_EQ(board.OffPeriodOutputs(), (Image{0x01, 0x02, 0x03, 0x04, 0x05}));
  EXPECT_EQ(board.OutputBrightness(), 7);
}

TEST(SimOutputs, ModifySetsAndClearsInBothImagesWithOffWinning) {
  RunningBoard board;
  Send(board, 1, {0x53, 0xF0, 0x00, 0x00, 0x00, 0x00});
  Send(board, 1, {0x54, 0x0F, 0x00, 0x00, 0x00, 0x00});
  // on-mask 0x81 in byte 0 and 0x01 in byte 4; off-mask 0x11 in byte 0 and 0x01 in byte 4
  EXPECT_EQ(Status(Send(board, 1, {0x4D, 0x81, 0, 0, 0, 0x01, 0x11, 0, 0, 0, 0x01})), kOk);
  EXPECT_EQ(board.OnPeriodOutputs(), (Image{0xE0, 0, 0, 0, 0}));
  EXPECT_EQ(board.OffPeriodOutputs(), (Image{0x8E, 0, 0, 0, 0}));
}

TEST(SimOutputs, PulseHoldsAnOutputForItsTimeThenRestoresIt) {
  RunningBoard board;
  // Output 33 (auxiliary 1) on for 5 × 10 ms.
  EXPECT_EQ(Status(Send(board, 1, {0x4E, 5, 33})), kOk);
  EXPECT_EQ(board.OnPeriodOutputs()[4], 0x02);
  EXPECT_EQ(board.OffPeriodOutputs()[4], 0x02);
  EXPECT_EQ(Data(Send(board, 1, {0x50})), (Bytes{33, 1, 5}));
  board.AdvanceMicros(20'000);
  EXPECT_EQ(Data(Send(board, 1, {0x50})), (Bytes{33, 1, 3}));  // 22 ms gone: 28 ms left
  board.AdvanceMicros(30'000);
  EXPECT_EQ(board.OnPeriodOutputs()[4], 0);
  EXPECT_EQ(Data(Send(board, 1, {0x50})), (Bytes{33, 0, 0}));

  // An off pulse on a lit lamp darkens it for its time.
  Send(board, 1, {0x4D, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(Status(Send(board, 1, {0x4F, 1, 2})), kOk);
  EXPECT_EQ(board.OnPeriodOutputs()[0], 0);
  board.AdvanceMicros(10'000);
  EXPECT_EQ(board.OnPeriodOutputs()[0], 0x04);

  // A new pulse ends the running one first.
  Send(board, 1, {0x4E, 100, 0});
  Send(board, 1, {0x4E, 100, 1});
  EXPECT_EQ(board.OnPeriodOutputs()[0], 0x06);

  EXPECT_EQ(Status(Send(board, 1, {0x4E, 1, 38})), kExecutionFailure);
}

constexpr std::uint8_t kHopperInput = 4;
constexpr std::uint8_t kMotor = 36;  // auxiliary output 4

Bytes HopperStatus(SimBoard& board) { return Data(Send(board, 1, {0x71, kHopperInput})); }

TEST(SimHoppers, PayoutPaysOneCoinPerPeriodWithTheMotorOn) {
  RunningBoard board;
  EXPECT_EQ(HopperStatus(board), (Bytes{0, 0}));
  EXPECT_EQ(Status(Send(board, 1, {0x70, kHopperInput, 0x11, 0, kMotor, 0x00, 0x03, 0x22})), kOk);
  EXPECT_EQ(HopperStatus(board), (Bytes{1, 0}));
  EXPECT_EQ(board.OnPeriodOutputs()[4], 0x10);
  EXPECT_EQ(Status(Send(board, 1, {0x70, kHopperInput, 0, 0, kMotor, 0, 1, 0})), kExecutionFailure);

  board.AdvanceMicros(SimBoard::kHopperCoinMicros);
  EXPECT_EQ(HopperStatus(board), (Bytes{1, 1}));
  board.AdvanceMicros(2 * SimBoard::kHopperCoinMicros);
  EXPECT_EQ(HopperStatus(board), (Bytes{2, 3}));
  EXPECT_EQ(board.OnPeriodOutputs()[4], 0);
  EXPECT_EQ(board.OffPeriodOutputs()[4], 0);

  // A payout of no coins is done at once; a long one reports 255 paid at most.
  Send(board, 1, {0x70, kHopperInput, 0, 0, kMotor, 0, 0, 0});
  EXPECT_EQ(HopperStatus(board), (Bytes{2, 0}));
  Send(board, 1, {0x70, kHopperInput, 0, 0, kMotor, 0x01, 0x2C, 0});
  board.AdvanceMicros(299 * SimBoard::kHopperCoinMicros);
  EXPECT_EQ(HopperStatus(board), (Bytes{1, 255}));
  board.AdvanceMicros(SimBoard::kHopperCoinMicros);
  EXPECT_EQ(HopperStatus(board), (Bytes{2, 255}));

  EXPECT_EQ(Status(Send(board, 1, {0x70, 40, 0, 0, kMotor, 0, 1, 0})), kExecutionFailure);
  EXPECT_EQ(Status(Send(board, 1, {0x70, 1, 0, 0, 38, 0, 1, 0})), kExecutionFailure);
}

TEST(SimHoppers, EmptyHopperFailsThePayoutAndStopsTheMotor) {
  RunningBoard board;
  Send(board, 1, {0x70, kHopperInput, 0, 0, kMotor, 0, 5, 0});
  board.AdvanceMicros(SimBoard::kHopperCoinMicros);
  board.SetHopperEmpty(kHopperInput, true);
  board.AdvanceMicros((SimBoard::kHopperEmptyCoinPeriods - 1) * SimBoard::kHopperCoinMicros);
  EXPECT_EQ(HopperStatus(board), (Bytes{1, 1}));
  board.AdvanceMicros(SimBoard::kHopperCoinMicros);
  EXPECT_EQ(HopperStatus(board), (Bytes{3, 1}));
  EXPECT_EQ(board.OnPeriodOutputs()[4], 0);

  board.SetHopperEmpty(kHopperInput, false);  // refilled: a new payout runs
  Send(board, 1, {0x70, kHopperInput, 0, 0, kMotor, 0, 1, 0});
  board.AdvanceMicros(SimBoard::kHopperCoinMicros);
  EXPECT_EQ(HopperStatus(board), (Bytes{2, 1}));
}

}  // namespace
}  // namespace vantrel::sim::test
