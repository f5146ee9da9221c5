// The command/response exchange through IOCTL_VIO_BULK_EXCHANGE.
#include <atomic>
#include <thread>

#include "DriverTestSupport.h"

namespace drivertest {
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

  board->SetFault(0x81, Fault::Fail);
  const Reply failed = Exchange(ExchangeBlock(1, 0, {0x56}));
  EXPECT_EQ(failed.status, STATUS_UNSUCCESSFUL);
  EXPECT_EQ(failed.information, 0u);
  EXPECT_EQ(LastUrbError(), USBD_STATUS_DEV_NOT_RESPONDING);
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
}  // namespace drivertest
