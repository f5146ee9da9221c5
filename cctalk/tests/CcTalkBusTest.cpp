// ccTalk messages on a board serial port: against a scripted board, whose
// timestamped replies (and so the time values) the test writes, and against
// the simulated board with a ccTalk coin acceptor on port B.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <k27sim/CcTalkDevicePeer.h>

#include "CcctalkMessage.h"
#include "shared/SharedState.h"
#include <vantrel/testsupport/ScriptedBoard.h>
#include <vantrel/testsupport/SimBoardFixture.h>

namespace {

using vantrel::testing::Bytes;

constexpr int kPortBChannel = 4;
constexpr std::uint8_t kTimestamped = 0x66;

constexpr const char* kNoPower = "CcctalkMessage::receive () { error: no 12V power } ";
constexpr const char* kEchoExpected = "CcctalkMessage::send () { error: local echo expected - ";

Bytes Of(const CcctalkMessage& m) { return Bytes(m.bytes().begin(), m.bytes().end()); }

// The library keeps the last timestamped reply per board slot in shared
// memory; each test starts with it empty.
void EmptySharedReceiveBuffer() {
  auto* record = vantrel::shared::Record(vantrel::shared::State().buffers,
                                         vantrel::shared::kReceiveBufferSize, 0);
  record[0] = record[1] = 0;
}

// ---- Scripted board: exact byte and time sequences -----------------------

class CcTalkScriptedTest : public vantrel::testing::ScriptedBoardTest {
 protected:
  void SetUp() override {
    EmptySharedReceiveBuffer();
    ScriptedBoardTest::SetUp();
  }
  // One timestamped reply: (byte, time) pairs, or a lone time value.
  void Poll(const Bytes& values) {
    Bytes reply{kTimestamped, 0};
    reply.insert(reply.end(), values.begin(), values.end());
    script_->Reply(kPortBChannel, kTimestamped, reply);
  }
  std::size_t Polls() { return script_->SentOn(kPortBChannel).size(); }
};

TEST_F(CcTalkScriptedTest, ReceiveStopsAtTheFrameLengthFromItsDataCount) {
  // A reply with 10 data bytes, and one more byte waiting behind it.
  CcctalkMessage reply;
  Bytes data(10);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(0x30 + i);
  reply.build(1, 10, 2, 0, data);
  Bytes pairs;
  for (const std::uint8_t b : reply.bytes()) pairs.insert(pairs.end(), {b, 1});
  pairs.insert(pairs.end(), {0x99, 1});
  Poll(Bytes(pairs.begin(), pairs.begin() + 20));
  Poll(Bytes(pairs.begin() + 20, pairs.end()));

  CcctalkMessage m;
  EXPECT_EQ(m.receive(&board_, USB_SERIAL_PORT_B, CcctalkMessage::kReplyTimeout,
                      CcctalkMessage::kSingleGap, false),
            CcctalkMessage::kOk);
  EXPECT_EQ(m.length(), 15u);
  EXPECT_TRUE(m == reply);
  EXPECT_EQ(m.validate(), CcctalkMessage::kOk);
  EXPECT_EQ(m.elapsed(), 15u);
  EXPECT_EQ(Polls(), 2u);
  // The 16th byte is still in the library's buffer: draining finds it.
  Poll({1});
  int drained = -1;
  EXPECT_EQ(m.ClearPort(&board_, USB_SERIAL_PORT_B, &drained), CcctalkMessage::kOk);
  EXPECT_EQ(drained, 1);
  EXPECT_EQ(Polls(), 3u);
}

TEST_F(CcTalkScriptedTest, SingleGapLimitEndsOnATimeValueOfFifty) {
  // 49 does not end the receive; 50 does, and its byte is not counted.
  Poll({0x01, 0, 0x00, 49, 0x02, 50, 0x03, 1});
  CcctalkMessage m;
  EXPECT_EQ(m.receive(&board_, USB_SERIAL_PORT_B, 50, CcctalkMessage::kSingleGap, false),
            CcctalkMessage::kOk);
  EXPECT_EQ(Of(m), (Bytes{0x01, 0x00}));
  EXPECT_EQ(m.elapsed(), 99u);
  EXPECT_EQ(m.validate(), CcctalkMessage::kFail);

  // An empty poll whose time value reaches the limit ends it too.
  EmptySharedReceiveBuffer();
  Poll({0x01, 3});
  Poll({60});
  CcctalkMessage idle;
  EXPECT_EQ(idle.receive(&board_, USB_SERIAL_PORT_B, 50, CcctalkMessage::kSingleGap, false),
            CcctalkMessage::kOk);
  EXPECT_EQ(Of(idle), (Bytes{0x01}));
}

TEST_F(CcTalkScriptedTest, TotalTimeLimitAddsTheValuesUp) {
  Poll({0x01, 30, 0x00, 30, 0x02, 30});
  CcctalkMessage m;
  EXPECT_EQ(m.receive(&board_, USB_SERIAL_PORT_B, 80, CcctalkMessage::kTotalTime, false),
            CcctalkMessage::kOk);
  EXPECT_EQ(Of(m), (Bytes{0x01, 0x00}));
  EXPECT_EQ(m.elapsed(), 90u);

  // Limit 0 means a total of 65535 whatever the mode: 256 polls of 255 are
  // not enough (65,280), the 257th reaches it.
  EmptySharedReceiveBuffer();
  for (int i = 0; i < 300; ++i) Poll({255});
  CcctalkMessage patient;
  EXPECT_EQ(patient.receive(&board_, USB_SERIAL_PORT_B, 0, CcctalkMessage::kSingleGap, false),
            CcctalkMessage::kOk);
  EXPECT_EQ(patient.length(), 0u);
  EXPECT_EQ(patient.elapsed(), 65535u);
  EXPECT_EQ(Polls(), 1u + 257u);
}

TEST_F(CcTalkScriptedTest, PowerCheckOnlyLooksAtTheFirstPoll) {
  Poll({5});
  CcctalkMessage dead;
  EXPECT_EQ(dead.receive(&board_, USB_SERIAL_PORT_B, 100, CcctalkMessage::kSingleGap, true),
            CcctalkMessage::kFail);
  EXPECT_EQ(dead.errorText(), kNoPower);
  EXPECT_EQ(Polls(), 1u);

  // A first byte with a large time value: it counts as 0, and a later empty
  // poll is an ordinary end by time.
  EmptySharedReceiveBuffer();
  Poll({0x02, 200});
  Poll({100});
  CcctalkMessage alive;
  EXPECT_EQ(alive.receive(&board_, USB_SERIAL_PORT_B, 100, CcctalkMessage::kSingleGap, true),
            CcctalkMessage::kOk);
  EXPECT_EQ(Of(alive), (Bytes{0x02}));
  EXPECT_EQ(alive.elapsed(), 100u);
  EXPECT_EQ(alive.errorText(), "none");
}

TEST_F(CcTalkScriptedTest, BoardFailuresAndNoBoardAreReported) {
  // The scripted board's default reply carries no value at all, which the
  // library refuses.
  CcctalkMessage m;
  EXPECT_EQ(m.receive(&board_, USB_SERIAL_PORT_B, 50, CcctalkMessage::kSingleGap, false),
            CcctalkMessage::kFail);
  EXPECT_EQ(m.errorText(),
            "CcctalkMessage::receive () { Vantrel.ReceiveByteWithTimestamp (} = "
            "error:USB_DEVICE_BYTE_COUNT_ERROR }");
  CcctalkMessage clear;
  EXPECT_EQ(clear.ClearPort(&board_, USB_SERIAL_PORT_B), CcctalkMessage::kFail);
  EXPECT_EQ(clear.errorText(),
            "CcctalkMessage::ClearPort () { Vantrel.ReceiveByteWithTimestamp (} = "
            "error:USB_DEVICE_BYTE_COUNT_ERROR }");
  script_->Reply(kPortBChannel, 0x62, {0x62, 0x03});
  CcctalkMessage sent;
  sent.build(2, 0, 1, 254);
  EXPECT_EQ(sent.send(&board_, USB_SERIAL_PORT_B), CcctalkMessage::kFail);
  EXPECT_EQ(sent.errorText(),
            "CcctalkMessage::send () { Vantrel.Send (} = error:USB_MESSAGE_EXECUTION_FAILURE }");

  CcctalkMessage none;
  EXPECT_EQ(none.ClearPort(nullptr, USB_SERIAL_PORT_B), CcctalkMessage::kFail);
  EXPECT_EQ(none.receive(nullptr, USB_SERIAL_PORT_B, 50, 0, false), CcctalkMessage::kFail);
  EXPECT_EQ(none.errorText(),
            "CcctalkMessage::receive () { unable to access device }"
            "CcctalkMessage::receive () { unable to access device }");
  EXPECT_EQ(none.send(nullptr, USB_SERIAL_PORT_B), CcctalkMessage::kFail);
  const std::string sendText = "CcctalkMessage::send () { unable to access device }";
  ASSERT_GT(none.errorText().size(), sendText.size());
  EXPECT_EQ(none.errorText().substr(none.errorText().size() - sendText.size()), sendText);
}

TEST_F(CcTalkScriptedTest, ShortEchoIsUnequivalentAndKeepsWhatArrived) {
  CcctalkMessage m;
  m.build(2, 0, 1, 254);
  Poll({0x02, 0, 0x00, 1, 0x01, 1});
  Poll({100});
  EXPECT_EQ(m.send(&board_, USB_SERIAL_PORT_B), CcctalkMessage::kFail);
  EXPECT_EQ(m.errorText(), std::string(kEchoExpected) + "received unequivalent data }");
  EXPECT_EQ(m.echoLength(), 3);
  EXPECT_EQ(Of(m.echo()), (Bytes{0x02, 0x00, 0x01}));
  // The frame itself is untouched.
  EXPECT_EQ(Of(m), (Bytes{0x02, 0x00, 0x01, 0xFE, 0xFF}));
}

// ---- Simulated board with a ccTalk device on port B ----------------------

class CcTalkSimTest : public ::testing::Test {
 protected:
  CcTalkSimTest() : bus_({vantrel::sim::SimBoardOptions{}}) {}
  void SetUp() override {
    EmptySharedReceiveBuffer();
    ASSERT_NE(board_.init(0), 0);
    _DCB dcb{};
    dcb.BaudRate = 9600;
    ASSERT_NE(board_.SetConfig(USB_SERIAL_PORT_B, &dcb, USB_PORT_TYPE_CCTALK), 0);
    device_ = std::make_shared<vantrel::sim::CcTalkDevicePeer>();
    bus_.Board().AttachPeer(vantrel::sim::kPortB, device_);
  }
  vantrel::testing::SimBus bus_;
  VantrelUSB board_;
  std::shared_ptr<vantrel::sim::CcTalkDevicePeer> device_;
};

TEST_F(CcTalkSimTest, SimplePollIsEchoedAndAcknowledged) {
  CcctalkMessage m;
  int drained = -1;
  EXPECT_EQ(m.ClearPort(&board_, USB_SERIAL_PORT_B, &drained), CcctalkMessage::kOk);
  EXPECT_EQ(drained, 0);
  m.build(2, 0, 1, 254);
  ASSERT_EQ(m.send(&board_, USB_SERIAL_PORT_B), CcctalkMessage::kOk) << m.errorText();
  EXPECT_EQ(m.echoLength(), 5);
  EXPECT_TRUE(m.echo() == m);
  EXPECT_EQ(bus_.Board().SentBytes(vantrel::sim::kPortB), (Bytes{0x02, 0x00, 0x01, 0xFE, 0xFF}));

  ASSERT_EQ(m.receive(&board_, USB_SERIAL_PORT_B, CcctalkMessage::kReplyTimeout,
                      CcctalkMessage::kSingleGap, false),
            CcctalkMessage::kOk);
  EXPECT_EQ(Of(m), (Bytes{0x01, 0x00, 0x02, 0x00, 0xFD}));
  EXPECT_EQ(m.validate(), CcctalkMessage::kOk);
  EXPECT_EQ(m.header(), vantrel::sim::CcTalkDevicePeer::kAck);
  // The request's echo stays with the reply.
  EXPECT_EQ(Of(m.echo()), (Bytes{0x02, 0x00, 0x01, 0xFE, 0xFF}));
  EXPECT_EQ(m.errorText(), "none");
}

TEST_F(CcTalkSimTest, FrameForAnotherAddressTimesOutEmpty) {
  CcctalkMessage m;
  m.build(9, 0, 1, 254);
  ASSERT_EQ(m.send(&board_, USB_SERIAL_PORT_B), CcctalkMessage::kOk) << m.errorText();
  EXPECT_EQ(m.receive(&board_, USB_SERIAL_PORT_B, CcctalkMessage::kReplyTimeout,
                      CcctalkMessage::kSingleGap, false),
            CcctalkMessage::kOk);
  EXPECT_EQ(m.length(), 0u);
  EXPECT_EQ(m.validate(), CcctalkMessage::kFail);
}

TEST_F(CcTalkSimTest, ClearPortDrainsAndCountsStrayBytes) {
  const Bytes stray{0x11, 0x22, 0x33};
  bus_.Board().PushReceived(vantrel::sim::kPortB, stray);
  bus_.Board().AdvanceMicros(100'000);
  CcctalkMessage m;
  int drained = -1;
  EXPECT_EQ(m.ClearPort(&board_, USB_SERIAL_PORT_B, &drained), CcctalkMessage::kOk);
  EXPECT_EQ(drained, 3);
  EXPECT_EQ(m.length(), 0u);
  EXPECT_EQ(m.ClearPort(&board_, USB_SERIAL_PORT_B, &drained), CcctalkMessage::kOk);
  EXPECT_EQ(drained, 0);
  EXPECT_EQ(m.ClearPort(&board_, USB_SERIAL_PORT_B), CcctalkMessage::kOk);

  // Draining a full frame throws the bytes away without touching it.
  CcctalkMessage full;
  full.setData(Bytes(255, 0x44));
  const CcctalkMessage before = full;
  bus_.Board().PushReceived(vantrel::sim::kPortB, stray);
  bus_.Board().AdvanceMicros(100'000);
  EXPECT_EQ(full.ClearPort(&board_, USB_SERIAL_PORT_B, &drained), CcctalkMessage::kOk);
  EXPECT_EQ(drained, 3);
  EXPECT_TRUE(full == before);
}

TEST_F(CcTalkSimTest, BusWithoutPowerFailsTheEchoAndKeepsEveryEchoError) {
  device_->SetPowered(false);
  CcctalkMessage first;
  first.build(2, 0, 1, 254);
  EXPECT_EQ(first.send(&board_, USB_SERIAL_PORT_B), CcctalkMessage::kFail);
  EXPECT_EQ(first.echoLength(), 0);
  const std::string& text = first.errorText();
  ASSERT_EQ(text.rfind(kEchoExpected, 0), 0u) << text;
  ASSERT_GE(text.size(), std::string(kEchoExpected).size() + 2);
  ASSERT_EQ(text.substr(text.size() - 2), " }");
  // The shared echo message's history, which ends with this failure: the
  // no-12V text with its trailing blank, so two blanks stand before "}".
  const std::string history = text.substr(std::string(kEchoExpected).size(),
                                          text.size() - std::string(kEchoExpected).size() - 2);
  ASSERT_GE(history.size(), std::string(kNoPower).size());
  EXPECT_EQ(history.substr(history.size() - std::string(kNoPower).size()), kNoPower);
  EXPECT_EQ(text.substr(text.size() - 3), "  }");

  CcctalkMessage second;
  second.build(2, 0, 1, 254);
  EXPECT_EQ(second.send(&board_, USB_SERIAL_PORT_B), CcctalkMessage::kFail);
  EXPECT_EQ(second.errorText(), std::string(kEchoExpected) + history + kNoPower + " }");

  // Power back: the same shared echo works again.
  device_->SetPowered(true);
  CcctalkMessage third;
  third.build(2, 0, 1, 254);
  EXPECT_EQ(third.send(&board_, USB_SERIAL_PORT_B), CcctalkMessage::kOk) << third.errorText();
}

}  // namespace
