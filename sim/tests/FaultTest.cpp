#include <gtest/gtest.h>

#include "SimTestSupport.h"

namespace vantrel::sim::test {
namespace {

using Outcome = SimReply::Outcome;

// Writes `value` to SRAM address 0x100 under a fault on the write command and
// tells what came back; the SRAM then shows whether the board ran it.
SimReply FaultedSramWrite(SimBoard& board, Fault fault, std::uint8_t value) {
  board.InjectFault(6, 0x47, fault);
  return Send(board, 6, WriteRequest(0x47, 0x100, {value}));
}

TEST(SimFaults, DamagedRepliesStillRunTheCommand) {
  SimBoard board;

  const SimReply none = FaultedSramWrite(board, {.kind = FaultKind::NoReply}, 1);
  EXPECT_EQ(none.outcome, Outcome::NoReply);
  EXPECT_EQ(board.Sram(0x100, 1), Bytes{1});

  const SimReply shortReply = FaultedSramWrite(board, {.kind = FaultKind::Short}, 2);
  EXPECT_EQ(shortReply.bytes, Bytes{0x47});
  EXPECT_EQ(board.Sram(0x100, 1), Bytes{2});

  const SimReply wrongEcho = FaultedSramWrite(board, {.kind = FaultKind::WrongEcho}, 3);
  ASSERT_EQ(wrongEcho.bytes.size(), 2u);
  EXPECT_NE(wrongEcho.bytes[0], 0x47);
  EXPECT_EQ(Status(wrongEcho), kOk);
  EXPECT_EQ(board.Sram(0x100, 1), Bytes{3});

  const SimReply stalled = FaultedSramWrite(board, {.kind = FaultKind::Stall}, 4);
  EXPECT_EQ(stalled.outcome, Outcome::Stall);
  EXPECT_EQ(board.Sram(0x100, 1), Bytes{4});
  EXPECT_EQ(board.Read(6, 64).outcome, Outcome::NoReply);  // one stalled read per command
}

TEST(SimFaults, LongReplyKeepsTheGoodBytesAndIsCutByTheReader) {
  SimBoard board;
  board.InjectFault(2, 0x06, {.kind = FaultKind::Long});
  board.Write(2, Bytes{0x06});
  const SimReply whole = board.Read(2, 128);
  ASSERT_EQ(whole.bytes.size(), 70u);
  EXPECT_EQ(Bytes(whole.bytes.begin(), whole.bytes.begin() + 8),
            (Bytes{0x06, kOk, 'V', '2', '.', '0', '4', 0}));

  board.InjectFault(2, 0x06, {.kind = FaultKind::Long});
  EXPECT_EQ(board.Exchange(2, Bytes{0x06}, 65).bytes.size(), 65u);
}

TEST(SimFaults, CorruptFlipsTheLastDataByteAndLeavesAReplyWithoutDataWhole) {
  SimBoard board;
  board.InjectFault(2, 0x06, {.kind = FaultKind::Corrupt});
  const SimReply version = board.Exchange(2, Bytes{0x06});
  ASSERT_EQ(version.bytes.size(), 8u);
  EXPECT_EQ(Bytes(version.bytes.begin(), version.bytes.begin() + 7),
            (Bytes{0x06, kOk, 'V', '2', '.', '0', '4'}));
  EXPECT_EQ(version.bytes.back(), 0xFF);

  const SimReply write = FaultedSramWrite(board, {.kind = FaultKind::Corrupt}, 5);
  EXPECT_EQ(write.bytes, (Bytes{0x47, kOk}));
  EXPECT_EQ(board.Sram(0x100, 1), Bytes{5});
}

TEST(SimFaults, StatusFaultRefusesTheCommandWithoutRunningIt) {
  SimBoard board;
  const SimReply reply = FaultedSramWrite(board, {.kind = FaultKind::Status, .status = 13}, 9);
  EXPECT_EQ(reply.bytes, (Bytes{0x47, 13}));
  EXPECT_EQ(board.Sram(0x100, 1), Bytes{0});

  board.InjectFault(6, 0x49, {.kind = FaultKind::Status, .status = 3});
  EXPECT_EQ(Send(board, 6, {0x49}).bytes, (Bytes{0x49, 3}));
  EXPECT_FALSE(board.ApplicationRunning());
}

TEST(SimFaults, CountLimitsHitsAndNegativeCountHitsForever) {
  SimBoard board;
  board.InjectFault(2, 0x06, {.kind = FaultKind::Short, .count = 2});
  EXPECT_EQ(Send(board, 2, {0x06}).bytes.size(), 1u);
  EXPECT_EQ(Send(board, 2, {0x06}).bytes.size(), 1u);
  EXPECT_EQ(Status(Send(board, 2, {0x06})), kOk);

  board.InjectFault(5, 0x15, {.kind = FaultKind::NoReply, .count = -1});
  for (int i = 0; i < 20; ++i) EXPECT_EQ(Send(board, 5, {0x15}).outcome, Outcome::NoReply);
  board.ClearFaults();
  EXPECT_EQ(Status(Send(board, 5, {0x15})), kOk);
}

TEST(SimFaults, FaultsMatchOnlyTheirChannelAndCommand) {
  SimBoard board;
  board.InjectFault(5, 0x46, {.kind = FaultKind::NoReply, .count = -1});
  // 0x46 on channel 6 is a different command.
  EXPECT_EQ(Status(Send(board, 6, ReadRequest(0x46, 1, 0))), kOk);
  EXPECT_EQ(Status(Send(board, 5, {0x15})), kOk);
  EXPECT_EQ(Send(board, 5, {0x46}).outcome, Outcome::NoReply);

  // A fault with a count of 0 removes the one set before; a new one replaces it.
  board.InjectFault(5, 0x46, {.kind = FaultKind::NoReply, .count = 0});
  EXPECT_EQ(Status(Send(board, 5, {0x46})), kOk);
  board.InjectFault(5, 0x46, {.kind = FaultKind::NoReply, .count = -1});
  board.InjectFault(5, 0x46, {.kind = FaultKind::Short, .count = 1});
  EXPECT_EQ(Send(board, 5, {0x46}).bytes, Bytes{0x46});
  EXPECT_EQ(Status(Send(board, 5, {0x46})), kOk);

  // Faults on channels that do not exist are refused, and change nothing.
  EXPECT_THROW(board.InjectFault(0, 0x46, {.kind = FaultKind::NoReply, .count = -1}),
               std::out_of_range);
  EXPECT_THROW(board.InjectFault(8, 0x46, {.kind = FaultKind::NoReply, .count = -1}),
               std::out_of_range);
  EXPECT_EQ(Status(Send(board, 5, {0x46})), kOk);
}

}  // namespace
}  // namespace vantrel::sim::test
