// The bulk exchange and interface selection of one simulated board, called
// directly as the in-process link does.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "SimBoardHandler.h"
#include "TestClient.h"
#include "k27sim/SimBoard.h"
#include "vantrel/driver/ControlCodes.h"

namespace vantrel::driver {
namespace {

using test::ExchangeBlock;
using test::ResponseOf;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kUntouched = 0xEE;

class SimBoardHandlerTest : public ::testing::Test {
 protected:
  struct Outcome {
    ControlResult result;
    Bytes out;
  };

  Outcome Call(std::uint32_t code, const Bytes& in, std::size_t outLength = BulkExchangeBlock::kSize) {
    Outcome o{{}, Bytes(outLength, kUntouched)};
    o.result = handler.Control(code, in, o.out);
    return o;
  }
  Outcome Exchange(const Bytes& block) { return Call(IOCTL_VIO_BULK_EXCHANGE, block); }

  static bool Untouched(const Bytes& out) {
    for (std::uint8_t b : out)
      if (b != kUntouched) return false;
    return true;
  }

  k27sim::SimBoard board;
  SimBoardHandler handler{board};
};

TEST_F(SimBoardHandlerTest, ShortResponseLeavesTheRestOfTheCommandInData) {
  // Channel 1 has no code before the application image runs: echo, status 1.
  const Bytes command{0x10, 0xAA, 0xBB, 0xCC};
  const Outcome o = Exchange(ExchangeBlock(1, command));
  ASSERT_EQ(o.result.status, STATUS_SUCCESS);
  EXPECT_EQ(o.result.information, BulkExchangeBlock::kSize);
  EXPECT_EQ(LoadLe32(o.out.data() + BulkExchangeBlock::kInLength), 2u);
  EXPECT_EQ(ResponseOf(o.out), (Bytes{0x10, 0x01}));
  // The response overwrote the first two bytes only.
  EXPECT_EQ(Bytes(o.out.begin() + 16, o.out.begin() + 20), (Bytes{0x10, 0x01, 0xBB, 0xCC}));
  // The pipe fields come back as they went in.
  EXPECT_EQ(LoadLe32(o.out.data() + BulkExchangeBlock::kOutPipe), 1u);
  EXPECT_EQ(LoadLe32(o.out.data() + BulkExchangeBlock::kInPipe), 0u);
  EXPECT_EQ(LoadLe32(o.out.data() + BulkExchangeBlock::kOutLength), 4u);
}

TEST_F(SimBoardHandlerTest, ReplyOnEveryChannelComesFromItsOwnEndpointPair) {
  // Command 0x4A on channel 6 answers the image flag: 0 on a fresh board.
  Outcome o = Exchange(ExchangeBlock(6, Bytes{0x4A}));
  ASSERT_EQ(o.result.status, STATUS_SUCCESS);
  EXPECT_EQ(ResponseOf(o.out), (Bytes{0x4A, 0x00, 0x00}));
  EXPECT_EQ(board.CommandCount(6), 1u);
  for (int channel = 1; channel <= 7; ++channel) {
    o = Exchange(ExchangeBlock(channel, Bytes{0x7E}));
    ASSERT_EQ(o.result.status, STATUS_SUCCESS) << "channel " << channel;
    EXPECT_EQ(ResponseOf(o.out).at(0), 0x7E) << "channel " << channel;
  }
  for (int channel = 1; channel <= 7; ++channel)
    EXPECT_EQ(board.CommandCount(channel), channel == 6 ? 2u : 1u) << "channel " << channel;
}

TEST_F(SimBoardHandlerTest, PipesBeyondTheTableAreInvalid) {
  // Channel 8 would be pipes 15 and 14; the board has 14 pipes.
  for (const Bytes& block : {ExchangeBlock(8, Bytes{0x01}), ExchangeBlock(14, 0, Bytes{0x01}, 65),
                             ExchangeBlock(1, 14, Bytes{0x01}, 65),
                             ExchangeBlock(0xFFFFFFFFu, 0, Bytes{0x01}, 65)}) {
    const Outcome o = Exchange(block);
    EXPECT_EQ(o.result.status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(o.result.information, 0u);
    EXPECT_TRUE(Untouched(o.out));
  }
  EXPECT_EQ(board.CommandCount(1), 0u);
}

TEST_F(SimBoardHandlerTest, NoReplyIsCancelledAfterTheTimeLimit) {
  board.InjectFault(6, 0x4A, {k27sim::FaultKind::NoReply});
  const std::uint64_t before = board.NowMicros();
  const Outcome o = Exchange(ExchangeBlock(6, Bytes{0x4A}));
  EXPECT_EQ(o.result.status, STATUS_CANCELLED);
  EXPECT_EQ(o.result.information, 0u);
  EXPECT_TRUE(Untouched(o.out));
  EXPECT_EQ(board.CommandCount(6), 1u);  // the command itself was sent
  EXPECT_GE(board.NowMicros() - before, SimBoardHandler::kTransferTimeoutMicros);
  EXPECT_EQ(handler.LastUrbError(), USBD_STATUS_CANCELED);
  // The fault hit one command; the next exchange is answered.
  EXPECT_EQ(Exchange(ExchangeBlock(6, Bytes{0x4A})).result.status, STATUS_SUCCESS);
}

TEST_F(SimBoardHandlerTest, StalledEndpointFailsAndIsRemembered) {
  EXPECT_EQ(handler.LastUrbError(), USBD_STATUS_SUCCESS);
  board.InjectFault(2, 0x06, {k27sim::FaultKind::Stall});
  const Outcome o = Exchange(ExchangeBlock(2, Bytes{0x06}));
  EXPECT_EQ(o.result.status, STATUS_UNSUCCESSFUL);
  EXPECT_TRUE(Untouched(o.out));
  EXPECT_EQ(handler.LastUrbError(), USBD_STATUS_STALL_PID);
  // A later success does not clear it.
  EXPECT_EQ(Exchange(ExchangeBlock(2, Bytes{0x06})).result.status, STATUS_SUCCESS);
  EXPECT_EQ(handler.LastUrbError(), USBD_STATUS_STALL_PID);
}

TEST_F(SimBoardHandlerTest, TransferDirectionComesFromTheEndpoint) {
  // First pipe 10 is endpoint 0x86 IN: nothing is waiting, so that read is
  // cancelled. The second, pipe 11, is endpoint 0x06 OUT and sends InLength
  // bytes of Data; its success is the request's.
  const Outcome o = Exchange(ExchangeBlock(10, 11, Bytes{0x4A}, 1));
  EXPECT_EQ(o.result.status, STATUS_SUCCESS);
  EXPECT_EQ(o.result.information, BulkExchangeBlock::kSize);
  EXPECT_EQ(LoadLe32(o.out.data() + BulkExchangeBlock::kInLength), 1u);
  EXPECT_EQ(board.CommandCount(6), 1u);
  EXPECT_EQ(handler.LastUrbError(), USBD_STATUS_CANCELED);
  // The command went out, so its reply waits on endpoint 0x86.
  const k27sim::SimReply reply = board.Read(6, 64);
  ASSERT_EQ(reply.outcome, k27sim::SimReply::Outcome::Data);
  EXPECT_EQ(reply.bytes.at(0), 0x4A);
}

TEST_F(SimBoardHandlerTest, BuffersThatDoNotHoldTheBlockAreRefused) {
  const Bytes good = ExchangeBlock(6, Bytes{0x4A});
  struct Case {
    const char* what;
    Bytes in;
    std::size_t outLength;
  };
  Bytes longOut = ExchangeBlock(6, Bytes{0x4A});
  StoreLe32(longOut.data() + BulkExchangeBlock::kOutLength, 129);  // past the 144 input bytes
  Bytes longIn = good;
  StoreLe32(longIn.data() + BulkExchangeBlock::kInLength, 129);  // past the data room
  Bytes tooLarge(16 + 65536, 0);
  std::copy(good.begin(), good.begin() + 16, tooLarge.begin());
  StoreLe32(tooLarge.data() + BulkExchangeBlock::kOutLength, 65536);  // above the pipe's maximum
  const std::vector<Case> cases{
      {"short input", Bytes(good.begin(), good.end() - 1), 144},
      {"no input", Bytes{}, 144},
      {"short output", good, 143},
      {"no output", good, 0},
      {"OutLength beyond the input", longOut, 144},
      {"InLength beyond the data room", longIn, 144},
      {"OutLength above the maximum transfer", tooLarge, 144},
  };
  for (const Case& c : cases) {
    const Outcome o = Call(IOCTL_VIO_BULK_EXCHANGE, c.in, c.outLength);
    EXPECT_EQ(o.result.status, STATUS_INVALID_PARAMETER) << c.what;
    EXPECT_EQ(o.result.information, 0u) << c.what;
    EXPECT_TRUE(Untouched(o.out)) << c.what;
  }
  EXPECT_EQ(board.CommandCount(6), 0u);
  // InLength up to the data room is fine.
  Bytes full = good;
  StoreLe32(full.data() + BulkExchangeBlock::kInLength, 128);
  EXPECT_EQ(Exchange(full).result.status, STATUS_SUCCESS);
}

TEST_F(SimBoardHandlerTest, LongerInputCarriesALongerFirstTransfer) {
  // 16 + 200 input bytes: all 200 go out (the board refuses a command of more
  // than one packet with a length error), the reply still fits the block.
  Bytes in(16 + 200, 0x55);
  const Bytes header = ExchangeBlock(6, Bytes{0x4A});
  std::copy(header.begin(), header.begin() + 16, in.begin());
  StoreLe32(in.data() + BulkExchangeBlock::kOutLength, 200);
  in[16] = 0x4A;
  const Outcome o = Exchange(in);
  ASSERT_EQ(o.result.status, STATUS_SUCCESS);
  EXPECT_EQ(ResponseOf(o.out), (Bytes{0x4A, 0x02}));
}

TEST_F(SimBoardHandlerTest, OnlyTheBoardsCodesAreServed) {
  for (std::uint32_t code : {std::uint32_t{IOCTL_VIO_GET_PIPE_TABLE}, std::uint32_t{0},
                             std::uint32_t{0x12345678}, std::uint32_t{IOCTL_VIO_BULK_EXCHANGE + 4}}) {
    const Outcome o = Call(code, ExchangeBlock(6, Bytes{0x4A}));
    EXPECT_EQ(o.result.status, STATUS_INVALID_PARAMETER) << std::hex << code;
    EXPECT_EQ(o.result.information, 0u);
    EXPECT_TRUE(Untouched(o.out));
  }
  EXPECT_EQ(board.CommandCount(6), 0u);
}

TEST_F(SimBoardHandlerTest, SelectingAnInterfaceSucceedsAndKeepsThePipeTable) {
  const std::vector<PipeRecord> before = handler.PipeTable();
  ASSERT_EQ(before.size(), 14u);
  for (std::size_t k = 0; k < 7; ++k) {
    EXPECT_EQ(before[2 * k].endpointAddress, 0x81 + k);
    EXPECT_EQ(before[2 * k + 1].endpointAddress, 0x01 + k);
  }
  for (const Bytes& record : {Bytes{0, 1}, Bytes{0, 0}, Bytes{3, 0}, Bytes{0, 1, 9}}) {
    const Outcome o = Call(IOCTL_VIO_SELECT_INTERFACE, record, 0);
    EXPECT_EQ(o.result.status, STATUS_SUCCESS);
    EXPECT_EQ(o.result.information, 0u);
  }
  EXPECT_EQ(handler.PipeTable(), before);
  EXPECT_EQ(Call(IOCTL_VIO_SELECT_INTERFACE, Bytes{0}, 0).result.status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Exchange(ExchangeBlock(6, Bytes{0x4A})).result.status, STATUS_SUCCESS);
}

TEST_F(SimBoardHandlerTest, ConcurrentExchangesOnOneChannelKeepTheirOwnReplies) {
  // The board holds one pending reply per channel: a command and its reply
  // must not be split by another thread's exchange.
  constexpr int kThreads = 6, kRounds = 300;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::uint8_t command = static_cast<std::uint8_t>(0x60 + t);
      for (int i = 0; i < kRounds; ++i) {
        Bytes out(BulkExchangeBlock::kSize);
        const ControlResult r =
            handler.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(1, Bytes{command, 1, 2}), out);
        if (r.status != STATUS_SUCCESS || ResponseOf(out) != Bytes{command, 0x01}) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(board.CommandCount(1), std::uint64_t{kThreads * kRounds});
}

TEST_F(SimBoardHandlerTest, ExchangeHookSeesBothTransfers) {
  SimBoardHandler second(board, 3);
  std::vector<ExchangeRecord> records;
  second.SetExchangeHook([&](const ExchangeRecord& r) { records.push_back(r); });
  board.InjectFault(5, 0x2C, {k27sim::FaultKind::NoReply});
  Bytes out(BulkExchangeBlock::kSize);
  second.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(6, Bytes{0x4A, 0x01}), out);
  second.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(5, Bytes{0x2C}), out);
  second.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(8, Bytes{0x2C}), out);  // refused
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].instance, 3);
  EXPECT_EQ(records[0].channel, 6);
  EXPECT_EQ(records[0].out, (Bytes{0x4A, 0x01}));
  ASSERT_TRUE(records[0].in.has_value());
  EXPECT_EQ(records[0].in->at(0), 0x4A);
  EXPECT_EQ(records[1].channel, 5);
  EXPECT_EQ(records[1].out, (Bytes{0x2C}));
  EXPECT_FALSE(records[1].in.has_value());
}

}  // namespace
}  // namespace vantrel::driver
