// The command/response exchange through IOCTL_VIO_BULK_EXCHANGE.
#include <atomic>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "DriverTestSupport.h"

namespace vantrel::driver::test {
namespace {

class BulkExchangeTest : public DriverTest {
 protected:
  void SetUp() override { StartDevice(); }
};

TEST_F(BulkExchangeTest, AShortReplyOverwritesTheStartOfTheCommand) {
  std::vector<ExchangeRecord> traced;
  device->SetExchangeHook([&](const ExchangeRecord& record) { traced.push_back(record); });
  const Reply reply = Exchange(ExchangeBlock(1, 0, {0x10, 0xAA, 0xBB, 0xCC}));
  ASSERT_EQ(reply.status, STATUS_SUCCESS);
  EXPECT_EQ(reply.information, 144u);
  EXPECT_EQ(LoadLe32(reply.out.data() + 12), 2u);
  EXPECT_EQ(Bytes(reply.out.begin() + 16, reply.out.begin() + 20), (Bytes{0x10, 0x00, 0xBB, 0xCC}));
  EXPECT_EQ(board->Written(0x01), (std::vector<Bytes>{{0x10, 0xAA, 0xBB, 0xCC}}));
  ASSERT_EQ(traced.size(), 1u);
  EXPECT_EQ(traced[0].channel, 1);
  EXPECT_EQ(traced[0].out, (Bytes{0x10, 0xAA, 0xBB, 0xCC}));
  EXPECT_EQ(traced[0].in, (Bytes{0x10, 0x00}));
}

TEST_F(BulkExchangeTest, BadPipesLengthsAndBuffersAreRefused) {
  EXPECT_EQ(Exchange(ExchangeBlock(15, 14, {1})).status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Exchange(ExchangeBlock(1, 0, {1}, 129)).status, STATUS_INVALID_PARAMETER);
  Bytes tooLong = ExchangeBlock(1, 0, {1});
  StoreLe32(tooLong.data() + 8, 70000);
  EXPECT_EQ(Exchange(tooLong).status, STATUS_INVALID_PARAMETER);
  // The command must be in the caller's input, the block fit its output.
  Bytes truncated = ExchangeBlock(1, 0, Bytes(40, 1));
  truncated.resize(50);
  EXPECT_EQ(Exchange(truncated).status, STATUS_INVALID_PARAMETER);
  const Reply shortOut = Exchange(ExchangeBlock(1, 0, {1}), 143);
  EXPECT_EQ(shortOut.status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(shortOut.out, Bytes(143, 0xEE));
  EXPECT_EQ(Exchange(Bytes(15, 0)).status, STATUS_INVALID_PARAMETER);
  EXPECT_TRUE(board->Written(0x01).empty());
}

TEST_F(BulkExchangeTest, TheReplyIsAskedForWhateverBecameOfTheCommand) {
  EXPECT_EQ(LastUrbError(), 0u);
  board->SetFault(0x01, Fault::Stall);
  board->QueueReply(1, {0x55, 0x00, 0x01});
  const Reply reply = Exchange(ExchangeBlock(1, 0, {0x55}));
  EXPECT_EQ(reply.status, STATUS_SUCCESS);
  EXPECT_EQ(LoadLe32(reply.out.data() + 12), 3u);
  EXPECT_EQ(LastUrbError(), USBD_STATUS_STALL_PID);
  // The stalled command pipe was reset; the reply pipe had nothing to reset.
  EXPECT_EQ(board->ResetEndpoints(), std::vector<std::uint8_t>{0x01});

  board->SetFault(0x01, Fault::None);  // as the reset left it
  board->SetFault(0x81, Fault::Fail);
  const Reply failed = Exchange(ExchangeBlock(1, 0, {0x56}));
  EXPECT_EQ(failed.status, STATUS_UNSUCCESSFUL);
  EXPECT_EQ(failed.information, 0u);
  EXPECT_EQ(LastUrbError(), USBD_STATUS_DEV_NOT_RESPONDING);
  // Only a stall leaves a pipe halted.
  EXPECT_EQ(board->ResetEndpoints(), std::vector<std::uint8_t>{0x01});
}

TEST_F(BulkExchangeTest, AStalledPipeIsResetBeforeTheChannelIsLetGo) {
  // The hook runs while the channel is still held: by then the reset is done.
  std::vector<std::uint8_t> resetWhileHeld;
  device->SetExchangeHook([&](const ExchangeRecord&) { resetWhileHeld = board->ResetEndpoints(); });
  board->SetFault(0x82, Fault::Stall);
  const Reply stalled = Exchange(ExchangeBlock(3, 2, {0x05}));
  EXPECT_EQ(stalled.status, STATUS_UNSUCCESSFUL);
  EXPECT_EQ(LastUrbError(), USBD_STATUS_STALL_PID);
  EXPECT_EQ(resetWhileHeld, std::vector<std::uint8_t>{0x82});

  // A raw read that stalls is reset the same way, and keeps its status.
  board->SetFault(0x84, Fault::Stall);
  EXPECT_EQ(Call(IOCTL_VIO_PIPE_READ, Le32(6), 64).status, STATUS_UNSUCCESSFUL);
  EXPECT_EQ(board->ResetEndpoints(), (std::vector<std::uint8_t>{0x82, 0x84}));
  board->SetFault(0x04, Fault::Stall);
  EXPECT_EQ(Call(IOCTL_VIO_PIPE_WRITE, Le32(7), 1, {0x20}).status, STATUS_UNSUCCESSFUL);
  EXPECT_EQ(board->ResetEndpoints(), (std::vector<std::uint8_t>{0x82, 0x84, 0x04}));
}

TEST_F(BulkExchangeTest, OnlyAChannelsOutPipeAndItsInPipeMakeAnExchange) {
  // Pipe 2k is endpoint k + 1 IN, pipe 2k + 1 endpoint k + 1 OUT.
  const std::pair<std::uint32_t, std::uint32_t> refused[] = {
      {9, 12},  // channel 5's OUT pipe with channel 7's IN pipe: two channels held
      {3, 0},   // channel 2 OUT, channel 1 IN
      {0, 1},   // channel 1's pair the wrong way round
      {1, 1},   // OUT twice
      {0, 0},   // IN twice: the "command" would be another caller's reply
  };
  for (const auto& [out, in] : refused) {
    const Reply reply = Exchange(ExchangeBlock(out, in, {0x4A}));
    EXPECT_EQ(reply.status, STATUS_INVALID_PARAMETER) << out << " -> " << in;
    EXPECT_EQ(reply.information, 0u);
  }
  // Nothing reached the board.
  for (std::uint8_t endpoint = 1; endpoint <= 7; ++endpoint)
    EXPECT_TRUE(board->Written(endpoint).empty()) << int(endpoint);
  for (std::uint32_t channel = 1; channel <= 7; ++channel)
    EXPECT_EQ(Exchange(ExchangeBlock(2 * channel - 1, 2 * channel - 2, {0x4A})).status,
              STATUS_SUCCESS)
        << channel;
}

TEST_F(BulkExchangeTest, RawReadsWaitForTheChannelAndNeverTakeAnExchangesReply) {
  // Short transfers, so that the readers, whom the board never answers, let
  // the channel go often.
  UseTimeLimit(50ms);
  StartDevice();
  board->SetResponder([](int, const Bytes& command) -> std::optional<Bytes> {
    return Bytes{command[0], 0, command[1]};
  });
  std::atomic<bool> done{false};
  std::atomic<int> stolen{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 4; ++r) {
    readers.emplace_back([&] {
      while (!done.load())
        if (Call(IOCTL_VIO_PIPE_READ, Le32(8), 64).status == STATUS_SUCCESS) ++stolen;
    });
  }
  // The readers are at it before the exchanges begin.
  EXPECT_TRUE(board->WaitPending(0x85));
  int own = 0;
  for (int i = 0; i < 10; ++i) {
    const std::uint8_t tag = std::uint8_t(0x30 + i);
    const Reply reply = Exchange(ExchangeBlock(9, 8, {0x2C, tag}));
    if (reply.status == STATUS_SUCCESS && reply.out[18] == tag) ++own;
  }
  done.store(true);
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(own, 10);
  EXPECT_EQ(stolen.load(), 0);
}

TEST_F(BulkExchangeTest, ConcurrentExchangesKeepTheirRepliesWhileTheTableIsReplaced) {
  // The reply carries the command's second byte, so that each caller can tell
  // whether it got its own.
  board->SetResponder([](int, const Bytes& command) -> std::optional<Bytes> {
    return Bytes{command[0], 0, command[1]};
  });
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      const std::uint32_t channel = 1 + t % 4;  // two callers per channel
      for (int i = 0; i < 200; ++i) {
        const std::uint8_t tag = std::uint8_t(t * 16 + i % 16);
        const Reply reply = Exchange(ExchangeBlock(2 * channel - 1, 2 * channel - 2, {9, tag}));
        if (reply.status != STATUS_SUCCESS || reply.out[18] != tag) ++wrong;
      }
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < 200; ++i)
      if (Call(IOCTL_VIO_SELECT_INTERFACE, {0, 0}, 0).status != STATUS_SUCCESS) ++wrong;
  });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(board->SelectInterfaceCalls(), 200);
}

}  // namespace
}  // namespace vantrel::driver::test
