#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <utility>

#include "SimTestSupport.h"

namespace vantrel::sim::test {
namespace {

using Outcome = SimReply::Outcome;

TEST(SimFraming, ReplyIsQueuedOncePerChannelAndReplacedByTheNextWrite) {
  SimBoard board;
  const Bytes version{0x06};
  const Bytes query{0x4A};

  board.Write(2, version);
  board.Write(6, query);
  // Each channel keeps its own reply.
  EXPECT_EQ(Echo(board.Read(6, 64)), 0x4A);
  const SimReply eeprom = board.Read(2, 64);
  EXPECT_EQ(eeprom.outcome, Outcome::Data);
  EXPECT_EQ(Echo(eeprom), 0x06);
  // Taken replies are gone.
  EXPECT_EQ(board.Read(2, 64).outcome, Outcome::NoReply);

  // An unread reply is replaced by the next command's.
  board.Write(2, version);
  board.Write(2, Bytes{0x7E});
  const SimReply second = board.Read(2, 64);
  EXPECT_EQ(Echo(second), 0x7E);
  EXPECT_EQ(Status(second), kNotRecognised);
  EXPECT_EQ(board.Read(2, 64).outcome, Outcome::NoReply);
}

TEST(SimFraming, ReadReturnsAtMostMaxLengthBytes) {
  SimBoard board;
  board.Write(2, Bytes{0x06});
  const SimReply cut = board.Read(2, 3);
  EXPECT_EQ(cut.outcome, Outcome::Data);
  EXPECT_EQ(cut.bytes, (Bytes{0x06, kOk, 'V'}));
  EXPECT_EQ(board.Read(2, 64).outcome, Outcome::NoReply);
}

TEST(SimFraming, EmptyWritesAndBadChannelsAnswerNothing) {
  SimBoard board;
  board.Write(2, Bytes{0x06});
  board.Write(2, Bytes{});
  EXPECT_EQ(board.Read(2, 64).outcome, Outcome::NoReply);
  EXPECT_EQ(board.CommandCount(2), 2u);

  for (int channel : {0, 8, -1}) {
    EXPECT_EQ(Send(board, channel, {0x06}).outcome, Outcome::NoReply);
    // No channel counted it, and there is no such channel to ask.
    EXPECT_THROW(board.CommandCount(channel), std::out_of_range);
  }
  for (int channel = 1; channel <= 7; ++channel)
    EXPECT_EQ(board.CommandCount(channel), channel == 2 ? 2u : 0u) << channel;
}

TEST(SimFraming, OversizedCommandIsRefusedWithLengthError) {
  SimBoard board;
  Bytes command(65, 0);
  command[0] = 0x47;
  command[1] = 60;
  const SimReply reply = Send(board, 6, command);
  EXPECT_EQ(Echo(reply), 0x47);
  EXPECT_EQ(Status(reply), kLengthError);
}

TEST(SimFraming, ApplicationChannelsAnswerTheirOwnCommandsOnlyWhileTheImageRuns) {
  SimBoard board;
  // One command of each application channel, and one that belongs elsewhere.
  const std::pair<int, Bytes> own[] = {{1, {0x4B}}, {3, {0x64}}, {4, {0x64}}, {7, {0x5E}}};
  const std::pair<int, std::uint8_t> foreign[] = {{1, 0x61}, {3, 0x4B}, {4, 0x5E}, {7, 0x4A}};
  for (const auto& [channel, command] : own) {
    EXPECT_EQ(Send(board, channel, command).bytes, (Bytes{command[0], kNotRecognised})) << channel;
  }
  EXPECT_EQ(Status(Send(board, 6, {0x49})), kOk);  // download end starts the image
  for (const auto& [channel, command] : own)
    EXPECT_EQ(Status(Send(board, channel, command)), kOk) << channel;
  for (const auto& [channel, command] : foreign) {
    for (std::uint8_t code : {command, std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
      EXPECT_EQ(Send(board, channel, {code, 1, 2}).bytes, (Bytes{code, kNotRecognised})) << channel;
    }
  }
  board.SetApplicationRunning(false);
  for (const auto& [channel, command] : own) {
    EXPECT_EQ(Status(Send(board, channel, command)), kNotRecognised) << channel;
  }
}

TEST(SimFraming, UnservedCommandsOfFirmwareChannelsAreNotRecognised) {
  SimBoard board;
  // The same byte means different things per channel: 0x46 reads SRAM on
  // channel 6 and is unknown on channel 2.
  EXPECT_EQ(Send(board, 2, {0x46, 1, 0, 0}).bytes, (Bytes{0x46, kNotRecognised}));
  EXPECT_EQ(Status(Send(board, 6, {0x46, 1, 0, 0})), kOk);
  EXPECT_EQ(Send(board, 5, {0x16}).bytes, (Bytes{0x16, kNotRecognised}));
  EXPECT_EQ(Send(board, 5, {0x47}).bytes, (Bytes{0x47, kNotRecognised}));
  EXPECT_EQ(Send(board, 6, {0x45}).bytes, (Bytes{0x45, kNotRecognised}));
  EXPECT_EQ(Send(board, 2, {0x02}).bytes, (Bytes{0x02, kNotRecognised}));
}

TEST(SimTime, VirtualTimeAdvancesPerWriteAndOnRequest) {
  SimBoard board(SimBoardOptions{.roundTripMicros = 250});
  EXPECT_EQ(board.NowMicros(), 0u);
  board.Write(5, Bytes{0x15});
  board.Write(3, Bytes{});
  board.Write(9, Bytes{0x15});  // not a channel: no exchange takes place
  EXPECT_EQ(board.NowMicros(), 500u);
  board.Read(5, 64);
  EXPECT_EQ(board.NowMicros(), 500u);
  board.AdvanceMicros(1'000'000);
  EXPECT_EQ(board.NowMicros(), 1'000'500u);
  board.AdvanceMicros(~0ull);
  EXPECT_EQ(board.NowMicros(), ~0ull);  // saturates rather than wrapping to the past
}

TEST(SimTime, RealTimeFollowsTheWallClockPlusAdvances) {
  SimBoard board(SimBoardOptions{.realTime = true});
  const std::uint64_t before = board.NowMicros();
  board.Write(2, Bytes{0x06});
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const std::uint64_t after = board.NowMicros();
  EXPECT_GE(after - before, 5'000u);
  board.AdvanceMicros(10'000'000);
  EXPECT_GE(board.NowMicros(), after + 10'000'000);
}

TEST(SimThreads, ConcurrentExchangesEachGetTheirOwnReply) {
  SimBoard board;
  constexpr int kRounds = 500;
  std::vector<std::thread> threads;
  std::atomic<int> mismatches{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        const std::uint8_t address = static_cast<std::uint8_t>(t * 16);
        const Bytes data{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(t)};
        if (Status(Send(board, 6, WriteRequest(0x47, address, data))) != kOk) ++mismatches;
        // Several threads share channel 6: each exchange must see its own reply.
        const SimReply reply = Send(board, 6, ReadRequest(0x46, 2, address));
        if (Data(reply) != data) ++mismatches;
        board.AdvanceMicros(1);
        (void)board.ClockValue();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(board.CommandCount(6), 4u * 2 * kRounds);
}

}  // namespace
}  // namespace vantrel::sim::test
