#include <gtest/gtest.h>

#include "SimTestSupport.h"

namespace vantrel::sim::test {
namespace {

TEST(SimSpi, TransfersRunOnlyWhileEnabled) {
  RunningBoard board;
  EXPECT_EQ(Send(board, 7, {0x60, 8, 8, 0, 0x55}).bytes, (Bytes{0x60, kExecutionFailure}));
  EXPECT_EQ(Status(Send(board, 7, {0x5E})), kOk);
  EXPECT_TRUE(board.SpiEnabled());
  EXPECT_EQ(Status(Send(board, 7, {0x60, 8, 8, 0, 0x55})), kOk);
  EXPECT_EQ(Status(Send(board, 7, {0x5F})), kOk);
  EXPECT_FALSE(board.SpiEnabled());
  EXPECT_EQ(Status(Send(board, 7, {0x60, 8, 8, 0, 0x55})), kExecutionFailure);
  EXPECT_EQ(board.SpiTransfers().size(), 1u);
}

TEST(SimSpi, ReplyHasTheReceiveLengthFromScriptOrEcho) {
  RunningBoard board;
  Send(board, 7, {0x5E});
  // 12 bits out (2 bytes), 24 bits back: echo padded with the idle line.
  EXPECT_EQ(Data(Send(board, 7, {0x60, 12, 24, 0x03, 0xAB, 0x0C})), (Bytes{0xAB, 0x0C, 0xFF}));
  EXPECT_EQ(Data(Send(board, 7, {0x60, 16, 1, 0, 0x12, 0x34})), (Bytes{0x12}));
  EXPECT_EQ(Data(Send(board, 7, {0x60, 0, 0, 0})), Bytes{});

  board.QueueSpiReply({1, 2, 3, 4});
  board.QueueSpiReply({9});
  EXPECT_EQ(Data(Send(board, 7, {0x60, 8, 16, 0, 0x77})), (Bytes{1, 2}));
  EXPECT_EQ(Data(Send(board, 7, {0x60, 8, 16, 0, 0x77})), (Bytes{9, 0xFF}));
  EXPECT_EQ(Data(Send(board, 7, {0x60, 8, 8, 0, 0x77})), (Bytes{0x77}));  // script used up

  const std::vector<SpiTransfer> log = board.SpiTransfers();
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[0], (SpiTransfer{12, 24, 0x03, {0xAB, 0x0C}}));
}

TEST(SimSpi, PayloadMustMatchTheBitCount) {
  RunningBoard board;
  Send(board, 7, {0x5E});
  const Bytes bad[] = {{0x60, 9, 8, 0, 1}, {0x60, 8, 8, 0, 1, 2}, {0x60, 8, 8}, {0x60}, {0x5E, 0},
                       {0x5F, 0}};
  for (const Bytes& request : bad)
    EXPECT_EQ(Send(board, 7, request).bytes, (Bytes{request[0], kLengthError}));
  EXPECT_TRUE(board.SpiEnabled());
  EXPECT_TRUE(board.SpiTransfers().empty());
  EXPECT_EQ(Status(Send(board, 7, {0x61})), kNotRecognised);
}

}  // namespace
}  // namespace vantrel::sim::test
