#include <gtest/gtest.h>

#include "SimTestSupport.h"

namespace vantrel::sim::test {
namespace {

TEST(SimInputs, SnapshotCarriesTheInputsAndTheBoardAddress) {
  RunningBoard board;
  EXPECT_EQ(Data(Send(board, 1, {0x4B})), (Bytes{0xFF, 0xFF, 0xFF, 0xF8, 0xFF}));

  RunningBoard fifth(SimBoardOptions{.boardAddress = 5});
  EXPECT_EQ(Data(Send(fifth, 1, {0x4B}))[3] & 0x07, 5);

  board.SetInputs({0x01, 0x02, 0x03, 0x04, 0x05});
  EXPECT_EQ(Data(Send(board, 1, {0x4B})), (Bytes{0x01, 0x02, 0x03, 0x04, 0x05}));
  board.SetDipSwitches(0xA6);
  EXPECT_EQ(Data(Send(board, 1, {0x4B})), (Bytes{0x01, 0x02, 0x03, 0xA6, 0x05}));
  EXPECT_EQ(board.Inputs(), (SimBoard::InputBytes{0x01, 0x02, 0x03, 0xA6, 0x05}));
}

TEST(SimInputs, ChangedInputsLatchEveryChangeUntilRead) {
  RunningBoard board;
  EXPECT_EQ(Data(Send(board, 1, {0x51})), Bytes(5, 0));
  board.SetInputs({0xFE, 0xFF, 0xFF, 0xF8, 0xFF});  // input 0 closes...
  board.SetInputs({0xFF, 0xFF, 0xFF, 0xF8, 0xFF});  // ...and opens again before the read
  board.SetDipSwitches(0x78);
  EXPECT_EQ(Data(Send(board, 1, {0x51})), (Bytes{0x01, 0x00, 0x00, 0x80, 0x00}));
  EXPECT_EQ(Data(Send(board, 1, {0x51})), Bytes(5, 0));
}

TEST(SimInputs, RawInputsFollowTheSnapshotUnlessSetApart) {
  RunningBoard board;
  board.SetInputs({1, 2, 3, 4, 5});
  EXPECT_EQ(Data(Send(board, 1, {0x52})), (Bytes{1, 2, 3, 4, 5}));
  board.SetRawInputs(SimBoard::InputBytes{9, 8, 7, 6, 5});
  EXPECT_EQ(Data(Send(board, 1, {0x52})), (Bytes{9, 8, 7, 6, 5}));
  EXPECT_EQ(Data(Send(board, 1, {0x4B})), (Bytes{1, 2, 3, 4, 5}));
  board.SetRawInputs(std::nullopt);
  EXPECT_EQ(Data(Send(board, 1, {0x52})), (Bytes{1, 2, 3, 4, 5}));
}

TEST(SimInputs, MultiplexedInputsAreReadWhileMultiplexingIsOn) {
  RunningBoard board;
  std::array<std::uint8_t, 13> groups{};
  for (std::size_t i = 0; i < groups.size(); ++i) groups[i] = static_cast<std::uint8_t>(0x10 + i);
  board.SetMultiplexedInputs(groups);

  EXPECT_EQ(Send(board, 1, {0x73}).bytes, (Bytes{0x73, kExecutionFailure}));
  EXPECT_EQ(Status(Send(board, 1, {0x72, 1})), kOk);
  EXPECT_TRUE(board.InputMultiplexing());
  EXPECT_EQ(Data(Send(board, 1, {0x73})), Bytes(groups.begin(), groups.end()));
  EXPECT_EQ(Status(Send(board, 1, {0x72, 2})), kOk);  // only 1 switches it on
  EXPECT_FALSE(board.InputMultiplexing());
  EXPECT_EQ(Status(Send(board, 1, {0x73})), kExecutionFailure);
}

TEST(SimInputs, PulseCountersCountWhileTheCheckIsOnAndSaturate) {
  RunningBoard board;
  EXPECT_EQ(Status(Send(board, 1, {0x6B, 7, 0x10, 0})), kOk);
  board.InjectPulses(7, 4);  // no check yet: lost
  EXPECT_EQ(Data(Send(board, 1, {0x6F, 7})), Bytes{0});

  EXPECT_EQ(Status(Send(board, 1, {0x6C, 7, 1})), kOk);
  board.InjectPulses(7, 3);
  board.InjectPulses(8, 3);  // another input
  EXPECT_EQ(Data(Send(board, 1, {0x6F, 7})), Bytes{3});
  EXPECT_EQ(Status(Send(board, 1, {0x6E, 7})), kOk);
  EXPECT_EQ(Data(Send(board, 1, {0x6F, 7})), Bytes{2});
  EXPECT_EQ(Data(Send(board, 1, {0x6F, 8})), Bytes{0});

  EXPECT_EQ(Status(Send(board, 1, {0x6C, 7, 0})),
            kOk);  // end: the count stays, nothing more counts
  board.InjectPulses(7, 1);
  EXPECT_EQ(board.PulseCount(7), 2);

  Send(board, 1, {0x6C, 7, 1});
  board.InjectPulses(7, 200);
  board.InjectPulses(7, 200);
  EXPECT_EQ(Data(Send(board, 1, {0x6F, 7})), Bytes{255});
  EXPECT_EQ(Status(Send(board, 1, {0x6D, 7})), kOk);
  EXPECT_EQ(Data(Send(board, 1, {0x6F, 7})), Bytes{0});
  EXPECT_EQ(Status(Send(board, 1, {0x6E, 7})), kExecutionFailure);  // nothing to take off

  EXPECT_EQ(Status(Send(board, 1, {0x6F, 40})), kExecutionFailure);
  EXPECT_EQ(Status(Send(board, 1, {0x6C, 7, 2})), kExecutionFailure);
}

TEST(SimIoChannel, WrongPayloadLengthsAnswerTheirStatus) {
  RunningBoard board;
  Send(board, 1, {0x56, 3, 0, 200, 0});
  struct Case {
    Bytes request;
    std::uint8_t status;
  };
  const Case cases[] = {
      {{0x4B, 0}, kLengthError},
      {{0x51, 0}, kLengthError},
      {{0x52, 0}, kLengthError},
      {{0x72}, kLengthError},
      {{0x73, 0}, kLengthError},
      {{0x6B, 1, 2}, kLengthError},
      {{0x6C, 1}, kLengthError},
      {{0x6D}, kLengthError},
      {{0x6E, 1, 1}, kLengthError},
      {{0x6F}, kLengthError},
      {{0x70, 1, 2, 3, 4, 5, 6}, kLengthError},
      {{0x71}, kLengthError},
      {{0x4D, 1, 2, 3, 4, 5, 6, 7, 8, 9}, kLengthError},
      {{0x4E, 1}, kLengthError},
      {{0x4F, 1, 2, 3}, kLengthError},
      {{0x50, 0}, kLengthError},
      {{0x53, 1, 2, 3, 4}, kLengthError},
      {{0x54, 1, 2, 3, 4, 5, 6}, kLengthError},
      {{0x55}, kLengthError},
      {{0x56, 3, 0, 200}, kLengthError},
      {{0x57, 0, 1, 0}, kLengthError},
      {{0x58, 0}, kLengthError},
      {{0x5A, 1, 2}, kLengthError},
      {{0x5B}, 21},
      {{0x5B, 0, 0}, 21},
      {{0x5C, 0}, 20},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Send(board, 1, c.request).bytes, (Bytes{c.request[0], c.status}))
        << int(c.request[0]);
  }
  EXPECT_EQ(board.OnPeriodOutputs(), (SimBoard::OutputImage{}));
  EXPECT_EQ(board.OutputBrightness(), 0);
}

}  // namespace
}  // namespace vantrel::sim::test
