// Serial ports: line settings, chunked send, the receive loops, the shared
// timestamped buffer, the time-out message and polled messages.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <utility>

#include "shared/SharedState.h"
#include <vantrel/testsupport/ScriptedBoard.h>

namespace vantrel::testing {
namespace {

_DCB Line(std::uint32_t baud, bool parity = false, std::uint8_t kind = 0) {
  _DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = baud;
  dcb.fParity = parity;
  dcb.Parity = kind;
  return dcb;
}

class SerialTest : public ScriptedBoardTest {
 protected:
  void SetUp() override {
    ScriptedBoardTest::SetUp();
    // Start every test with an empty timestamped buffer for slot 0.
    auto* record = shared::Record(shared::State().buffers, shared::kReceiveBufferSize, 0);
    record[0] = record[1] = 0;
  }
};

TEST_F(SerialTest, LineConfigurationFollowsThePortsDivisorTables) {
  _DCB dcb = Line(14400);
  EXPECT_EQ(board_.SetConfig(USB_SERIAL_PORT_A, &dcb, USB_PORT_TYPE_RS232), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_ILLEGAL_BAUD_RATE);
  ASSERT_NE(board_.SetConfig(USB_SERIAL_PORT_B, &dcb, USB_PORT_TYPE_RS232), 0);
  EXPECT_EQ(Only(4), (Bytes{0x61, 0, 0, 0, 0, 0xCC, 0xFF}));

  dcb = Line(9600, true, 2);  // even
  dcb.fRtsControl = 2;
  dcb.fOutxCtsFlow = 1;
  ASSERT_NE(board_.SetConfig(USB_SERIAL_PORT_A, &dcb, USB_PORT_TYPE_CCTALK), 0);
  EXPECT_EQ(Only(3), (Bytes{0x61, 2, 1, 2, 1, 0xEC, 0}));

  script_->Clear();
  dcb = Line(62500, true, 1);  // odd
  ASSERT_NE(board_.SetConfig(USB_SERIAL_PORT_A, &dcb, USB_PORT_TYPE_RS232), 0);
  EXPECT_EQ(Only(3)[2], 2);
  script_->Clear();
  dcb = Line(62500, true, 3);  // mark parity is sent as none
  ASSERT_NE(board_.SetConfig(USB_SERIAL_PORT_A, &dcb, USB_PORT_TYPE_RS232), 0);
  EXPECT_EQ(Only(3)[2], 0);

  script_->Clear();
  dcb = Line(12345);
  EXPECT_EQ(board_.SetConfig(USB_SERIAL_PORT_B, &dcb, static_cast<_usbPortType>(4)), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_ILLEGAL_PORT);  // before the baud rate
  dcb = Line(9600);
  EXPECT_EQ(board_.SetConfig(static_cast<_usbSerialPort>(2), &dcb, USB_PORT_TYPE_RS232), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_ILLEGAL_PORT);
  EXPECT_TRUE(script_->All().empty());
}

TEST_F(SerialTest, SendCutsIntoChunksOf63) {
  Bytes data(130);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  ASSERT_NE(board_.Send(USB_SERIAL_PORT_B, data.data(), 130), 0);
  auto sent = script_->SentOn(4);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].bytes.size(), 64u);
  EXPECT_EQ(sent[2].bytes, (Bytes{0x62, 126, 127, 128, 129}));
  EXPECT_NE(board_.Send(USB_SERIAL_PORT_A, data.data(), 0), 0);

  board_.ClearErrors();
  EXPECT_EQ(board_.Send(static_cast<_usbSerialPort>(7), data.data(), 1), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_ILLEGAL_PORT);
  EXPECT_EQ(script_->SentOn(3).size(), 0u);
}

TEST_F(SerialTest, ReceiveAppendsUntilAnEmptyReplyAndKeepsWhatCameBeforeAFailure) {
  script_->Reply(3, 0x63, {0x63, 0, 'a', 'b'});
  script_->Reply(3, 0x63, {0x63, 0, 'c'});
  unsigned char buffer[VANTREL_RECEIVE_LIMIT];
  unsigned long length = 99;
  ASSERT_NE(board_.Receive(USB_SERIAL_PORT_A, buffer, &length), 0);
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(std::memcmp(buffer, "abc", 3), 0);
  EXPECT_EQ(script_->SentOn(3).size(), 3u);

  script_->Reply(4, 0x63, {0x63, 0, 'x'});
  script_->Reply(4, 0x63, {0x63, 14});
  EXPECT_EQ(board_.Receive(USB_SERIAL_PORT_B, buffer, &length), 0);
  EXPECT_EQ(length, 1u);

  // A board that never runs dry fills the buffer to the limit and no further.
  Bytes full(64, 'z');
  full[0] = 0x63;
  full[1] = 0;
  for (int i = 0; i < 80; ++i) script_->Reply(3, 0x63, full);
  ASSERT_NE(board_.Receive(USB_SERIAL_PORT_A, buffer, &length), 0);
  EXPECT_LE(length, VANTREL_RECEIVE_LIMIT);
  EXPECT_EQ(length % 62, 0u);
}

TEST_F(SerialTest, TimestampedBytesAreHandedOutOnceFromTheBoardBuffer) {
  script_->Reply(3, 0x66, {0x66, 0, 'A', 10, 'B', 20});
  script_->Reply(4, 0x66, {0x66, 0, 77});
  unsigned char byte = 0, time = 0;
  int hasByte = -1;
  ASSERT_NE(board_.ReceiveByteWithTimestamp(USB_SERIAL_PORT_A, &byte, &time, &hasByte), 0);
  EXPECT_EQ(hasByte, 1);
  EXPECT_EQ(byte, 'A');
  EXPECT_EQ(time, 10);
  // The buffer belongs to the board, not the port: port B gets the rest.
  ASSERT_NE(board_.ReceiveByteWithTimestamp(USB_SERIAL_PORT_B, &byte, &time, &hasByte), 0);
  EXPECT_EQ(byte, 'B');
  EXPECT_EQ(time, 20);
  EXPECT_EQ(script_->All().size(), 1u);
  // Empty again: port B refills; one byte is a time alone.
  ASSERT_NE(board_.ReceiveByteWithTimestamp(USB_SERIAL_PORT_B, &byte, &time, &hasByte), 0);
  EXPECT_EQ(hasByte, 0);
  EXPECT_EQ(time, 77);
  EXPECT_EQ(script_->SentOn(4).size(), 1u);
}

TEST_F(SerialTest, OddAndEmptyTimestampedRepliesLoseNothingAndReadNothingStale) {
  script_->Reply(3, 0x66, {0x66, 0, 'A', 1, 'B', 2, 9});
  script_->Reply(3, 0x66, {0x66, 0});
  unsigned char byte = 0, time = 0;
  int hasByte = -1;
  ASSERT_NE(board_.ReceiveByteWithTimestamp(USB_SERIAL_PORT_A, &byte, &time, &hasByte), 0);
  ASSERT_NE(board_.ReceiveByteWithTimestamp(USB_SERIAL_PORT_A, &byte, &time, &hasByte), 0);
  EXPECT_EQ(byte, 'B');
  ASSERT_NE(board_.ReceiveByteWithTimestamp(USB_SERIAL_PORT_A, &byte, &time, &hasByte), 0);
  EXPECT_EQ(hasByte, 0);
  EXPECT_EQ(time, 9);
  byte = time = 0xEE;
  hasByte = -1;
  EXPECT_EQ(board_.ReceiveByteWithTimestamp(USB_SERIAL_PORT_A, &byte, &time, &hasByte), 0);
  EXPECT_EQ(board_.GetLastError(), USB_DEVICE_BYTE_COUNT_ERROR);
  EXPECT_EQ(hasByte, -1);
  EXPECT_EQ(time, 0xEE);

  // A failed refill leaves the buffer empty: the next call asks again.
  script_->Reply(3, 0x66, {0x66, 3});
  EXPECT_EQ(board_.ReceiveByteWithTimestamp(USB_SERIAL_PORT_A, &byte, &time, &hasByte), 0);
  script_->Reply(3, 0x66, {0x66, 0, 'Z', 4});
  ASSERT_NE(board_.ReceiveByteWithTimestamp(USB_SERIAL_PORT_A, &byte, &time, &hasByte), 0);
  EXPECT_EQ(byte, 'Z');
}

TEST_F(SerialTest, TimeoutMessageLimits) {
  unsigned char message[61] = {'h', 'i'};
  EXPECT_EQ(board_.SetTimeoutMessage(USB_SERIAL_PORT_A, message, 2, 7.65f), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
  EXPECT_EQ(board_.SetTimeoutMessage(USB_SERIAL_PORT_A, message, 2, -0.01f), 0);
  EXPECT_EQ(board_.SetTimeoutMessage(USB_SERIAL_PORT_A, message, 61, 1.0f), 0);
  EXPECT_EQ(board_.GetLastError(), USB_DEVICE_BYTE_COUNT_ERROR);
  EXPECT_EQ(board_.SetTimeoutMessage(USB_SERIAL_PORT_A, nullptr, 2, 1.0f), 0);
  EXPECT_EQ(board_.GetLastError(), USB_DEVICE_BYTE_COUNT_ERROR);
  EXPECT_TRUE(script_->All().empty());

  ASSERT_NE(board_.SetTimeoutMessage(USB_SERIAL_PORT_A, message, 2, 7.64f), 0);
  ASSERT_NE(board_.SetTimeoutMessage(USB_SERIAL_PORT_A, message, 0, 1.5f), 0);
  ASSERT_NE(board_.SetTimeoutMessage(USB_SERIAL_PORT_A, message, 0, 0.03f), 0);
  const auto sent = script_->SentOn(3);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].bytes, (Bytes{0x65, 254, 2, 'h', 'i'}));
  EXPECT_EQ(sent[1].bytes, (Bytes{0x65, 50, 0}));
  EXPECT_EQ(sent[2].bytes, (Bytes{0x65, 0, 0}));
  EXPECT_EQ(board_.SetTimeoutMessage(static_cast<_usbSerialPort>(5), message, 2, 1.0f), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_ILLEGAL_PORT);
  EXPECT_EQ(script_->All().size(), 3u);
}

TEST_F(SerialTest, ParityErrorsAreBigEndian) {
  script_->Reply(4, 0x64, {0x64, 0, 0x01, 0x02});
  unsigned short count = 0;
  ASSERT_NE(board_.GetParityErrors(USB_SERIAL_PORT_B, &count), 0);
  EXPECT_EQ(count, 0x0102);
}

CCTalkConfig SimplePollConfig() {
  CCTalkConfig config{};
  config.slot = 1;
  config.mode = 2;
  config.option2 = 4;
  config.option10 = 0xAA;
  config.pollTime = 500;
  config.option8 = 0x88;
  config.option7 = 0x77;
  config.option9 = 0x99;
  const unsigned char poll[] = {2, 0, 1, 254, 255};
  std::memcpy(config.firstMessage, poll, sizeof poll);
  const unsigned char credit[] = {2, 1, 1, 229, 7, 16};
  std::memcpy(config.secondMessage, credit, sizeof credit);
  return config;
}

TEST_F(SerialTest, CcTalkPollConfigurationCrossesItsOptionBytes) {
  CCTalkConfig config = SimplePollConfig();
  ASSERT_NE(board_.ConfigureCCTalkPort(USB_SERIAL_PORT_A, &config), 0);
  Bytes expected = {0x67, 1, 2, 4, 1,   1,   5, 50, 0x77, 0x88, 0x99, 0xAA, 5,
                    6,    2, 0, 1, 254, 255, 2, 1,  1,    229,  7,    16};
  EXPECT_EQ(Only(3), expected);

  script_->Clear();
  config.pollTime = 3000;
  ASSERT_NE(board_.ConfigureCCTalkPort(USB_SERIAL_PORT_B, &config), 0);
  EXPECT_EQ(Only(4)[7], 255);
  EXPECT_EQ(config.pollTime, 2550);

  script_->Clear();
  config = SimplePollConfig();
  config.firstMessage[1] = 21;  // 26 bytes
  EXPECT_EQ(board_.ConfigureCCTalkPort(USB_SERIAL_PORT_A, &config), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
  for (auto change :
       {+[](CCTalkConfig& c) { c.slot = 4; }, +[](CCTalkConfig& c) { c.mode = 4; },
        +[](CCTalkConfig& c) { c.mode = -1; }, +[](CCTalkConfig& c) { c.option2 = 5; },
        +[](CCTalkConfig& c) { c.pollTime = -10; }}) {
    config = SimplePollConfig();
    change(config);
    EXPECT_EQ(board_.ConfigureCCTalkPort(USB_SERIAL_PORT_A, &config), 0);
  }
  EXPECT_TRUE(script_->All().empty());
  config = SimplePollConfig();
  EXPECT_EQ(board_.ConfigureCCTalkPort(static_cast<_usbSerialPort>(3), &config), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_ILLEGAL_PORT);
  EXPECT_TRUE(script_->All().empty());
}

TEST_F(SerialTest, Rs232PollLengthsComeFromTheMessages) {
  RS232PollConfig config{};
  config.framing = 3;
  config.lengthOffset = 2;
  config.lengthAdjust = 1;
  config.pollTime = 99;
  const unsigned char first[] = {0x10, 0x20, 2, 0x30};
  std::memcpy(config.firstMessage, first, sizeof first);
  config.secondMessage[2] = 0;
  ASSERT_NE(board_.ConfigureRS232Poll(USB_SERIAL_PORT_A, &config), 0);
  EXPECT_EQ(Only(3), (Bytes{0x67, 0, 0, 0, 3, 2, 1, 9, 0, 0, 0, 0, 3, 1, 0x10, 0x20, 2, 0}));

  script_->Clear();
  config.lengthOffset = 25;  // would index past the message
  EXPECT_EQ(board_.ConfigureRS232Poll(USB_SERIAL_PORT_A, &config), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
  EXPECT_TRUE(script_->All().empty());
}

// Message lengths are counted in full before the 25-byte bound: a ccTalk
// frame (count byte + 5) or an RS-232 message (length byte + adjust) longer
// than 255 bytes must not wrap round to a short one that passes.
TEST_F(SerialTest, PolledMessageLengthsAreBoundedWithoutWrappingRound) {
  struct Length {
    unsigned bytes;
    unsigned char lengthByte, adjust;  // RS-232 form
  };
  const Length lengths[] = {{25, 20, 5},    {26, 21, 5},   {250, 200, 50},
                            {251, 201, 50}, {255, 255, 0}, {256, 254, 2},
                            {257, 255, 2},  {260, 255, 5}, {510, 255, 255}};
  for (const Length& length : lengths) {
    SCOPED_TRACE(length.bytes);
    const bool accepted = length.bytes <= 25;
    script_->Clear();
    board_.ClearErrors();
    if (length.bytes <= 260) {
      CCTalkConfig ccTalk = SimplePollConfig();
      ccTalk.secondMessage[1] = static_cast<unsigned char>(length.bytes - 5);
      EXPECT_EQ(board_.ConfigureCCTalkPort(USB_SERIAL_PORT_A, &ccTalk) != 0, accepted);
      if (accepted) {
        EXPECT_EQ(Only(3).size(), 1u + 13 + 5 + length.bytes);
      } else {
        EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
        EXPECT_TRUE(script_->All().empty());
      }
    }
    script_->Clear();
    board_.ClearErrors();
    RS232PollConfig rs232{};
    rs232.lengthOffset = 3;
    rs232.lengthAdjust = length.adjust;
    rs232.firstMessage[3] = length.lengthByte;
    rs232.secondMessage[3] = 0;
    EXPECT_EQ(board_.ConfigureRS232Poll(USB_SERIAL_PORT_B, &rs232) != 0, accepted);
    if (accepted) {
      EXPECT_EQ(Only(4)[12], length.bytes);
      EXPECT_EQ(Only(4).size(), 1u + 13 + length.bytes + length.adjust);
    } else {
      EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
      EXPECT_TRUE(script_->All().empty());
    }
  }
}

TEST_F(SerialTest, PolledMessageRepliesAreJoined) {
  script_->Reply(3, 0x69, {0x69, 0, 5, 1, 'a', 'b'});
  script_->Reply(3, 0x69, {0x69, 0, 6, 0, 'c'});
  unsigned char buffer[VANTREL_RECEIVE_LIMIT];
  unsigned long length = 0;
  int status = -1;
  ASSERT_NE(board_.ReceivePolledMessage(USB_SERIAL_PORT_A, 2, buffer, &length, &status), 0);
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(std::memcmp(buffer, "abc", 3), 0);
  EXPECT_EQ(status, 6);
  const auto asked = script_->SentOn(3);
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[1].bytes, (Bytes{0x69, 2}));

  // Status alone ends the message; nothing at all is a byte-count error.
  script_->Clear();
  script_->Reply(4, 0x69, {0x69, 0, 9});
  ASSERT_NE(board_.ReceivePolledMessage(USB_SERIAL_PORT_B, 0, buffer, &length, &status), 0);
  EXPECT_EQ(status, 9);
  EXPECT_EQ(length, 0u);
  script_->Reply(4, 0x69, {0x69, 0});
  EXPECT_EQ(board_.ReceivePolledMessage(USB_SERIAL_PORT_B, 0, buffer, &length, &status), 0);
  EXPECT_EQ(board_.GetLastError(), USB_DEVICE_BYTE_COUNT_ERROR);

  ASSERT_NE(board_.EmptyPolledBuffer(USB_SERIAL_PORT_B, 3), 0);
  ASSERT_NE(board_.DeletePolledMessage(USB_SERIAL_PORT_B, 1), 0);
  auto sent = script_->SentOn(4);
  EXPECT_EQ(sent[sent.size() - 2].bytes, (Bytes{0x68, 3}));
  EXPECT_EQ(sent.back().bytes, (Bytes{0x6A, 1}));
  EXPECT_EQ(board_.EmptyPolledBuffer(static_cast<_usbSerialPort>(2), 3), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_ILLEGAL_PORT);
}

// A port other than A or B is a failure, reported as such, whatever the
// operation, and nothing reaches the board. The error left by an earlier
// failure must not stand in for it.
TEST_F(SerialTest, EveryOperationRefusesAPortOtherThanAOrB) {
  const auto port = static_cast<_usbSerialPort>(2);
  unsigned char data[8] = {1, 2, 3};
  unsigned char buffer[VANTREL_RECEIVE_LIMIT];
  unsigned long length = 99;
  unsigned char byte = 0x11, time = 0x22;
  int hasByte = -1, status = -1;
  unsigned short count = 0x3333;
  _DCB dcb = Line(9600);
  CCTalkConfig ccTalk = SimplePollConfig();
  ccTalk.pollTime = 3000;
  RS232PollConfig rs232{};
  rs232.pollTime = 3000;
  // A timestamped byte waits in the board's buffer: it is not handed out
  // through an illegal port either.
  script_->Reply(3, 0x66, {0x66, 0, 'A', 1, 'B', 2});
  ASSERT_NE(board_.ReceiveByteWithTimestamp(USB_SERIAL_PORT_A, &byte, &time, &hasByte), 0);
  script_->Clear();

  const std::pair<const char*, std::function<int()>> calls[] = {
      {"SetConfig", [&] { return board_.SetConfig(port, &dcb, USB_PORT_TYPE_RS232); }},
      {"Send", [&] { return board_.Send(port, data, 3); }},
      {"Send nothing", [&] { return board_.Send(port, data, 0); }},
      {"Receive", [&] { return board_.Receive(port, buffer, &length); }},
      {"ReceiveByteWithTimestamp",
       [&] { return board_.ReceiveByteWithTimestamp(port, &byte, &time, &hasByte); }},
      {"SetTimeoutMessage", [&] { return board_.SetTimeoutMessage(port, data, 2, 1.0f); }},
      {"GetParityErrors", [&] { return board_.GetParityErrors(port, &count); }},
      {"ConfigureCCTalkPort", [&] { return board_.ConfigureCCTalkPort(port, &ccTalk); }},
      {"ConfigureRS232Poll", [&] { return board_.ConfigureRS232Poll(port, &rs232); }},
      {"EmptyPolledBuffer", [&] { return board_.EmptyPolledBuffer(port, 1); }},
      {"ReceivePolledMessage",
       [&] { return board_.ReceivePolledMessage(port, 1, buffer, &length, &status); }},
      {"DeletePolledMessage", [&] { return board_.DeletePolledMessage(port, 1); }},
  };
  for (const auto& [name, call] : calls) {
    // An unrelated failure first: its code must not be what the call leaves.
    board_.ClearErrors();
    EXPECT_EQ(board_.SetTimeoutMessage(USB_SERIAL_PORT_A, data, 61, 1.0f), 0);
    EXPECT_EQ(call(), 0) << name;
    EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_ILLEGAL_PORT) << name;
  }
  EXPECT_TRUE(script_->All().empty());
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(hasByte, 1);
  EXPECT_EQ(time, 1);
  EXPECT_EQ(status, -1);
  EXPECT_EQ(count, 0x3333);
  EXPECT_EQ(ccTalk.pollTime, 3000);
  EXPECT_EQ(rs232.pollTime, 3000);
  // The waiting byte is still there for a legal port.
  ASSERT_NE(board_.ReceiveByteWithTimestamp(USB_SERIAL_PORT_B, &byte, &time, &hasByte), 0);
  EXPECT_EQ(byte, 'B');
}

}  // namespace
}  // namespace vantrel::testing
