#include <gtest/gtest.h>

#include <set>
#include <string>

#include "SimTestSupport.h"

namespace vantrel::sim::test {
namespace {

std::uint32_t Le32(const Bytes& data) {
  return data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24;
}

TEST(SimPic, ClockCountsSecondsOfBoardTimeSinceItWasSet) {
  SimBoard board;
  EXPECT_EQ(Send(board, 5, {0x14, 0x02, 0x01, 0x00, 0x00}).bytes, (Bytes{0x14, kOk}));
  EXPECT_EQ(board.ClockValue(), 258u);
  board.AdvanceMicros(998'000);  // with the exchange's own 1 ms: just short of a second
  EXPECT_EQ(Data(Send(board, 5, {0x15})), (Bytes{0x02, 0x01, 0x00, 0x00}));
  board.AdvanceMicros(2'000'000);
  EXPECT_EQ(Le32(Data(Send(board, 5, {0x15}))), 261u);
  EXPECT_EQ(board.ClockValue(), 261u);

  // Setting it again restarts the count from the new value, wrapping at 2^32.
  Send(board, 5, {0x14, 0xFF, 0xFF, 0xFF, 0xFF});
  board.AdvanceMicros(1'000'000);
  EXPECT_EQ(board.ClockValue(), 0u);
}

TEST(SimPic, SecurityRecordsAreReadInOnePassAfterStart) {
  SimBoard board;
  board.SetSecurityRecords({{1, 7}, {0x01020304, 0}});
  // No pass started yet.
  EXPECT_EQ(Status(Send(board, 5, {0x29})), kExecutionFailure);

  EXPECT_EQ(Status(Send(board, 5, {0x28})), kOk);
  EXPECT_EQ(Data(Send(board, 5, {0x29})), (Bytes{0x01, 0x00, 0x00, 0x00, 0x07}));
  EXPECT_EQ(Data(Send(board, 5, {0x29})), (Bytes{0x04, 0x03, 0x02, 0x01, 0x00}));
  EXPECT_EQ(Send(board, 5, {0x29}).bytes, (Bytes{0x29, kExecutionFailure}));

  // A new start reads them again; clearing removes them.
  Send(board, 5, {0x28});
  EXPECT_EQ(Data(Send(board, 5, {0x29})).size(), 5u);
  EXPECT_EQ(Status(Send(board, 5, {0x2A})), kOk);
  Send(board, 5, {0x28});
  EXPECT_EQ(Status(Send(board, 5, {0x29})), kExecutionFailure);
}

TEST(SimPic, FlagReadsResetTheFlags) {
  SimBoard board;
  for (std::uint8_t command : {0x40, 0x43}) {
    board.SetSecurityFlags(0x81, 0x02);
    EXPECT_EQ(Data(Send(board, 5, {command})), (Bytes{0x81, 0x02}));
    EXPECT_EQ(Send(board, 5, {command}).bytes, (Bytes{command, kOk, 0, 0}));
  }
}

TEST(SimPic, SerialNumberIsKeptAsWritten) {
  SimBoard board;
  const auto initial = board.PicSerialNumber();
  EXPECT_EQ(Data(Send(board, 5, {0x3F})), Bytes(initial.begin(), initial.end()));

  EXPECT_EQ(Status(Send(board, 5, {0x41, 1, 2, 3, 4, 5, 6, 7, 8})), kOk);
  EXPECT_EQ(Data(Send(board, 5, {0x3F})), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(Status(Send(board, 5, {0x41, 9, 9, 9, 9, 9, 9, 9})), kLengthError);
  EXPECT_EQ(Status(Send(board, 5, {0x41, 9, 9, 9, 9, 9, 9, 9, 9, 9})), kLengthError);
  EXPECT_EQ(board.PicSerialNumber(), (std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(SimPic, EachBoardAnswersTheSerialNumberItWasMadeWith) {
  SimBoardOptions second;
  second.serialNumber = FactorySerialNumber(2);
  SimBoard board(second);
  EXPECT_EQ(Data(Send(board, 5, {0x3F})), (Bytes{'K', '2', '7', '0', '0', '0', '0', '2'}));
  EXPECT_EQ(FactorySerialNumber(12345),
            (std::array<std::uint8_t, 8>{'K', '2', '7', '1', '2', '3', '4', '5'}));
  EXPECT_EQ(SimBoard().PicSerialNumber(), FactorySerialNumber(1));
}

TEST(SimPic, RandomNumbersFollowTheSeedWhileEnabled) {
  auto sequence = [](std::initializer_list<std::uint8_t> seed) {
    SimBoard board;
    Bytes enable{0x45};
    enable.insert(enable.end(), seed);
    EXPECT_EQ(Status(Send(board, 5, enable)), kOk);
    Bytes out;
    for (int i = 0; i < 16; ++i) {
      const Bytes data = Data(Send(board, 5, {0x44}));
      EXPECT_EQ(data.size(), 2u);
      out.insert(out.end(), data.begin(), data.end());
    }
    return out;
  };
  EXPECT_EQ(sequence({1, 0, 0, 0}), sequence({1, 0, 0, 0}));
  EXPECT_NE(sequence({1, 0, 0, 0}), sequence({0, 0, 0, 1}));
  const Bytes zeroSeed = sequence({0, 0, 0, 0});
  EXPECT_GT(std::set<std::uint8_t>(zeroSeed.begin(), zeroSeed.end()).size(), 8u);

  SimBoard board;
  EXPECT_EQ(Send(board, 5, {0x44}).bytes, (Bytes{0x44, kExecutionFailure}));  // off at power-up
  Send(board, 5, {0x45, 1, 2, 3, 4});
  EXPECT_EQ(Status(Send(board, 5, {0x44})), kOk);
  EXPECT_EQ(Status(Send(board, 5, {0x46})), kOk);
  EXPECT_EQ(Status(Send(board, 5, {0x44})), kExecutionFailure);
}

TEST(SimPic, WrongPayloadLengthsAnswerLengthErrorAndChangeNothing) {
  SimBoard board;
  Send(board, 5, {0x14, 10, 0, 0, 0});
  const Bytes bad[] = {{0x14, 1, 2, 3}, {0x14, 1, 2, 3, 4, 5},
                       {0x15, 0},       {0x28, 0},
                       {0x29, 0},       {0x2A, 0},
                       {0x2C, 0},       {0x3F, 0},
                       {0x40, 0},       {0x43, 0},
                       {0x44, 0},       {0x45, 1, 2, 3},
                       {0x46, 0}};
  for (const Bytes& request : bad) {
    EXPECT_EQ(Send(board, 5, request).bytes, (Bytes{request[0], kLengthError}));
  }
  EXPECT_EQ(board.ClockValue(), 10u);
  EXPECT_EQ(Status(Send(board, 5, {0x44})), kExecutionFailure);  // 0x45 with 3 bytes did not enable
}

TEST(SimPic, VersionTextFitsTheCallersTwelveByteBuffer) {
  SimBoard board;
  const Bytes data = Data(Send(board, 5, {0x2C}));
  ASSERT_LE(data.size(), 12u);
  ASSERT_FALSE(data.empty());
  EXPECT_EQ(data.back(), 0);
  EXPECT_EQ(std::string(data.begin(), data.end() - 1), "P1.03");
}

}  // namespace
}  // namespace vantrel::sim::test
