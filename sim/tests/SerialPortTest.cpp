#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "SimTestSupport.h"
#include "k27sim/CcTalkDevicePeer.h"
#include "k27sim/LoopbackPeer.h"
#include "k27sim/SilentPeer.h"

namespace vantrel::sim::test {
namespace {

constexpr int kChannelA = 3;
constexpr int kChannelB = 4;

Bytes Repeat(std::size_t n, std::uint8_t first = 0) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(first + i);
  return out;
}

Bytes WithCommand(std::uint8_t command, const Bytes& payload) {
  Bytes out{command};
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

TEST(SimSerialPort, LineConfigurationIsKeptAndSetsTheRate) {
  RunningBoard board;
  EXPECT_EQ(board.BaudRate(kPortA), 9600u);  // power-up
  EXPECT_EQ(board.BaudRate(kPortB), 9600u);

  EXPECT_EQ(Status(Send(board, kChannelB, {0x61, 2, 1, 3, 1, 0x8F, 0xFD})), kOk);
  EXPECT_EQ(board.LineConfiguration(kPortB), (std::array<std::uint8_t, 6>{2, 1, 3, 1, 0x8F, 0xFD}));
  EXPECT_EQ(board.BaudRate(kPortB), 1200u);
  EXPECT_EQ(Status(Send(board, kChannelA, {0x61, 0, 0, 0, 0, 0xFB, 0})), kOk);
  EXPECT_EQ(board.BaudRate(kPortA), 38400u);
  EXPECT_EQ(board.BaudRate(kPortB), 1200u);  // the ports are apart

  EXPECT_EQ(Status(Send(board, kChannelA, {0x61, 0, 0, 4, 0, 0xFB, 0})), 9);  // unknown handshake
  EXPECT_EQ(Status(Send(board, kChannelA, {0x61, 0, 0, 0, 2, 0xFB, 0})), 9);
  EXPECT_EQ(Status(Send(board, kChannelA, {0x61, 0, 0, 0, 0, 0xFB})), kLengthError);
  EXPECT_EQ(board.LineConfiguration(kPortA), (std::array<std::uint8_t, 6>{0, 0, 0, 0, 0xFB, 0}));
}

TEST(SimSerialPort, SendIsLoggedAndAnsweredOnceItsBytesHaveLeft) {
  RunningBoard board;
  board.AttachPeer(kPortA, std::make_shared<SilentPeer>());
  ASSERT_EQ(Status(Send(board, kChannelA, WithCommand(0x62, Repeat(10)))), kOk);
  EXPECT_EQ(board.NowMicros(), 1000u + 10'416u);  // the exchange, then 100 bits at 9600 baud

  Send(board, kChannelA, {0x62, 0xAA});
  EXPECT_EQ(Send(board, kChannelA, {0x62}).bytes, (Bytes{0x62, kLengthError}));
  Bytes expected = Repeat(10);
  expected.push_back(0xAA);
  EXPECT_EQ(board.SentBytes(kPortA), expected);
  EXPECT_TRUE(board.SentBytes(kPortB).empty());
  EXPECT_EQ(Data(Send(board, kChannelA, {0x63})), Bytes{});  // nothing comes back
  board.ClearSentBytes(kPortA);
  EXPECT_TRUE(board.SentBytes(kPortA).empty());
}

TEST(SimSerialPort, LoopbackBytesComeBackAndReceiveTakesAtMost62) {
  RunningBoard board;
  board.AttachPeer(kPortB, std::make_shared<LoopbackPeer>());
  Send(board, kChannelB, WithCommand(0x62, Repeat(63)));
  Send(board, kChannelB, WithCommand(0x62, Repeat(10, 63)));
  EXPECT_EQ(Data(Send(board, kChannelB, {0x63})), Repeat(62));
  EXPECT_EQ(Data(Send(board, kChannelB, {0x63})), Repeat(11, 62));
  EXPECT_EQ(Data(Send(board, kChannelB, {0x63})), Bytes{});
  EXPECT_EQ(Data(Send(board, kChannelA, {0x63})), Bytes{});

  board.AttachPeer(kPortB, nullptr);  // detached: swallowed
  Send(board, kChannelB, {0x62, 1});
  EXPECT_EQ(Data(Send(board, kChannelB, {0x63})), Bytes{});
}

TEST(SimSerialPort, ReceivedBytesWaitForTheirTimeAndCarryMilliseconds) {
  RunningBoard board;
  board.PushReceived(kPortA, Bytes{0x10, 0x20}, 10'000);      // at 10 ms and 11.04 ms
  EXPECT_EQ(Data(Send(board, kChannelA, {0x66})), Bytes{0});  // nothing yet: 0 ms since power-up
  board.AdvanceMicros(20'000);
  EXPECT_EQ(Data(Send(board, kChannelA, {0x66})), (Bytes{0x10, 10, 0x20, 1}));
  EXPECT_EQ(Data(Send(board, kChannelA, {0x66})), Bytes{11});  // at 22 ms
  board.AdvanceMicros(1'000'000);
  EXPECT_EQ(Data(Send(board, kChannelA, {0x66})), Bytes{255});

  // A push behind one still on its way follows it on the line.
  board.PushReceived(kPortA, Bytes{1}, 5'000);
  board.PushReceived(kPortA, Bytes{2, 3});
  EXPECT_EQ(Data(Send(board, kChannelA, {0x63})), Bytes{});
  board.AdvanceMicros(4'000);
  EXPECT_EQ(Data(Send(board, kChannelA, {0x63})), Bytes{1});
  board.AdvanceMicros(2'000);
  EXPECT_EQ(Data(Send(board, kChannelA, {0x63})), (Bytes{2, 3}));
}

TEST(SimSerialPort, TimestampedReceiveGivesAtMost31Pairs) {
  RunningBoard board;
  board.PushReceived(kPortB, Repeat(40));
  board.AdvanceMicros(100'000);
  const Bytes first = Data(Send(board, kChannelB, {0x66}));
  ASSERT_EQ(first.size(), 62u);
  EXPECT_EQ(first[60], 30);
  const Bytes rest = Data(Send(board, kChannelB, {0x66}));
  ASSERT_EQ(rest.size(), 18u);
  EXPECT_EQ(rest[16], 39);
  int milliseconds = 0;
  for (std::size_t i = 1; i < first.size(); i += 2) milliseconds += first[i];
  for (std::size_t i = 1; i < rest.size(); i += 2) milliseconds += rest[i];
  EXPECT_EQ(milliseconds, 40);  // 39 byte times of 1.04 ms add up to 40.6 ms
}

TEST(SimSerialPort, ParityErrorsAndTimeoutMessageAreKept) {
  RunningBoard board;
  board.SetParityErrors(kPortB, 0x0102);
  EXPECT_EQ(Data(Send(board, kChannelB, {0x64})), (Bytes{0x01, 0x02}));
  EXPECT_EQ(Data(Send(board, kChannelB, {0x64})), (Bytes{0x01, 0x02}));
  EXPECT_EQ(Data(Send(board, kChannelA, {0x64})), (Bytes{0, 0}));

  EXPECT_EQ(Status(Send(board, kChannelA, {0x65, 50, 3, 'a', 'b', 'c'})), kOk);
  EXPECT_EQ(board.SerialTimeoutMessage(kPortA).time, 50);
  EXPECT_EQ(board.SerialTimeoutMessage(kPortA).message, (Bytes{'a', 'b', 'c'}));
  EXPECT_EQ(Status(Send(board, kChannelA, {0x65, 50, 3, 'a', 'b'})), kLengthError);
  Bytes tooLong{0x65, 1, 61};
  for (std::uint8_t b : Repeat(61)) tooLong.push_back(b);
  EXPECT_EQ(Status(Send(board, kChannelA, tooLong)), kLengthError);
  EXPECT_EQ(Status(Send(board, kChannelA, {0x65, 9, 0})), kOk);
  EXPECT_EQ(board.SerialTimeoutMessage(kPortA).message, Bytes{});
  EXPECT_EQ(Status(Send(board, kChannelA, {0x66, 0})), kLengthError);
  EXPECT_EQ(Status(Send(board, kChannelA, {0x63, 0})), kLengthError);
  EXPECT_EQ(Status(Send(board, kChannelA, {0x64, 0})), kLengthError);
}

// Polled-message configuration: slot, mode, option, framing, length offset,
// length adjust, poll time / 10, four option bytes, the two lengths, then
// the messages.
Bytes PolledConfiguration(std::uint8_t slot, std::uint8_t pollTime, const Bytes& first,
                          const Bytes& second = {}) {
  Bytes out{0x67,
            slot,
            0,
            0,
            1,
            1,
            5,
            pollTime,
            0,
            0,
            0,
            0,
            static_cast<std::uint8_t>(first.size()),
            static_cast<std::uint8_t>(second.size())};
  out.insert(out.end(), first.begin(), first.end());
  out.insert(out.end(), second.begin(), second.end());
  return out;
}

const Bytes kSimplePoll{2, 0, 1, 254, 255};
const Bytes kAck{1, 0, 2, 0, 0xFD};

TEST(SimSerialPort, PolledMessagesAreSentEveryPollTimeAndAnswersKeptPerSlot) {
  RunningBoard board;
  board.AttachPeer(kPortB, std::make_shared<CcTalkDevicePeer>());
  const Bytes config = PolledConfiguration(1, 10, kSimplePoll);  // every 100 ms
  ASSERT_EQ(Status(Send(board, kChannelB, config)), kOk);
  EXPECT_EQ(board.PolledMessageConfiguration(kPortB, 1), Bytes(config.begin() + 1, config.end()));
  EXPECT_FALSE(board.PolledMessageConfiguration(kPortB, 0));

  EXPECT_EQ(Data(Send(board, kChannelB, {0x69, 1})), (Bytes{0, 0}));
  board.AdvanceMicros(120'000);  // one round, the ACK has come in
  Bytes expected{0, 0};
  expected.insert(expected.end(), kAck.begin(), kAck.end());
  EXPECT_EQ(Data(Send(board, kChannelB, {0x69, 1})), expected);
  EXPECT_EQ(Data(Send(board, kChannelB, {0x63})), Bytes{});  // not in the plain receive queue
  EXPECT_TRUE(board.SentBytes(kPortB).empty());

  board.AdvanceMicros(1'300'000);  // 13 more rounds: 65 bytes
  const Bytes chunk = Data(Send(board, kChannelB, {0x69, 1}));
  ASSERT_EQ(chunk.size(), 62u);
  EXPECT_EQ(chunk[1], 1);  // more follows
  const Bytes last = Data(Send(board, kChannelB, {0x69, 1}));
  EXPECT_EQ(last.size(), 7u);
  EXPECT_EQ(last[1], 0);

  board.AdvanceMicros(200'000);
  EXPECT_EQ(Status(Send(board, kChannelB, {0x68, 1})), kOk);  // emptied
  EXPECT_EQ(Data(Send(board, kChannelB, {0x69, 1})), (Bytes{0, 0}));
  EXPECT_EQ(Status(Send(board, kChannelB, {0x6A, 1})), kOk);  // deleted: no more rounds
  board.AdvanceMicros(500'000);
  EXPECT_EQ(Data(Send(board, kChannelB, {0x69, 1})), (Bytes{0, 0}));
  EXPECT_FALSE(board.PolledMessageConfiguration(kPortB, 1));
}

TEST(SimSerialPort, FullPolledBufferReportsTheLoss) {
  RunningBoard board;
  board.AttachPeer(kPortA, std::make_shared<CcTalkDevicePeer>());
  Send(board, kChannelA, PolledConfiguration(0, 1, kSimplePoll, kSimplePoll));  // every 10 ms
  board.AdvanceMicros(60'000'000);
  const Bytes first = Data(Send(board, kChannelA, {0x69, 0}));
  EXPECT_EQ(first[0], 1);
  std::size_t collected = first.size() - 2;
  for (int i = 0; i < 10 && collected < 255; ++i)
    collected += Data(Send(board, kChannelA, {0x69, 0})).size() - 2;
  EXPECT_EQ(collected, 255u);
  EXPECT_EQ(Data(Send(board, kChannelA, {0x69, 0}))[0], 0);  // reported once
}

TEST(SimSerialPort, PolledCommandsCheckSlotAndLength) {
  RunningBoard board;
  Bytes config = PolledConfiguration(4, 10, kSimplePoll);
  EXPECT_EQ(Status(Send(board, kChannelA, config)), kExecutionFailure);
  config = PolledConfiguration(0, 10, kSimplePoll);
  config.pop_back();
  EXPECT_EQ(Status(Send(board, kChannelA, config)), kLengthError);
  EXPECT_EQ(Status(Send(board, kChannelA, {0x67, 0, 0, 0})), kLengthError);
  for (std::uint8_t command : {0x68, 0x69, 0x6A}) {
    EXPECT_EQ(Status(Send(board, kChannelA, {command, 4})), kExecutionFailure);
    EXPECT_EQ(Status(Send(board, kChannelA, {command})), kLengthError);
  }
}

// A test that names a port or channel the board does not have learns so at
// once, by name, instead of reading an empty answer.
TEST(SimSerialPort, PortsAndChannelsTheBoardDoesNotHaveAreRefusedByName) {
  SimBoard board;
  const Bytes bytes{0x01};
  auto refusal = [](const std::function<void()>& call) -> std::string {
    try {
      call();
    } catch (const std::out_of_range& e) {
      return e.what();
    }
    return "accepted";
  };
  for (int port : {-1, 2}) {
    const std::string no = "there is no serial port " + std::to_string(port);
    const std::vector<std::pair<std::string, std::function<void()>>> calls{
        {"AttachPeer", [&] { board.AttachPeer(port, std::make_shared<LoopbackPeer>()); }},
        {"PushReceived", [&] { board.PushReceived(port, bytes); }},
        {"SentBytes", [&] { board.SentBytes(port); }},
        {"ClearSentBytes", [&] { board.ClearSentBytes(port); }},
        {"LineConfiguration", [&] { board.LineConfiguration(port); }},
        {"BaudRate", [&] { board.BaudRate(port); }},
        {"SetParityErrors", [&] { board.SetParityErrors(port, 1); }},
        {"SerialTimeoutMessage", [&] { board.SerialTimeoutMessage(port); }},
        {"PolledMessageConfiguration", [&] { board.PolledMessageConfiguration(port, 0); }},
    };
    for (const auto& [member, call] : calls)
      EXPECT_EQ(refusal(call), "SimBoard::" + member + ": " + no + " (0 is port A, 1 is port B)");
  }
  for (int channel : {0, 8})
    EXPECT_EQ(refusal([&] { board.CommandCount(channel); }),
              "SimBoard::CommandCount: there is no channel " + std::to_string(channel) +
                  " (the board has channels 1 to 7)");
  // The ports it has still answer.
  EXPECT_EQ(board.BaudRate(kPortB), 9600u);
  EXPECT_EQ(board.CommandCount(7), 0u);
}

}  // namespace
}  // namespace vantrel::sim::test
