#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "SimTestSupport.h"
#include "k27sim/CcTalkDevicePeer.h"

namespace vantrel::sim::test {
namespace {

constexpr int kChannelB = 4;

Bytes Frame(std::uint8_t destination, std::uint8_t source, std::uint8_t header,
            const Bytes& data = {}) {
  Bytes frame{destination, static_cast<std::uint8_t>(data.size()), source, header};
  frame.insert(frame.end(), data.begin(), data.end());
  std::uint8_t sum = 0;
  for (std::uint8_t b : frame) sum = static_cast<std::uint8_t>(sum + b);
  frame.push_back(static_cast<std::uint8_t>(0x100 - sum));
  return frame;
}

// A ccTalk device on port B, configured as the ccTalk tool does it: port
// type 2, 9600 baud.
struct CcTalkBus : RunningBoard {
  explicit CcTalkBus(CcTalkDeviceOptions options = {})
      : device(std::make_shared<CcTalkDevicePeer>(options)) {
    AttachPeer(kPortB, device);
    const Bytes config{0x61, 2, 0, 0, 0, 0xB2, 0xFF};
    Exchange(kChannelB, config);
  }

  void SendBytes(const Bytes& bytes) {
    Bytes command{0x62};
    command.insert(command.end(), bytes.begin(), bytes.end());
    Exchange(kChannelB, command);
  }

  // What one timestamped receive (0x66) brings: the bytes, without their
  // time values; nothing for a reply that carries a time alone.
  Bytes Poll() {
    const Bytes data = Data(Send(*this, kChannelB, {0x66}));
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) bytes.push_back(data[i]);
    return bytes;
  }

  // Polls as the ccTalk tool does until `count` bytes have come or 100 polls
  // (100 ms of board time) have passed.
  Bytes Collect(std::size_t count, int polls = 100) {
    Bytes got;
    for (int i = 0; i < polls && got.size() < count; ++i) {
      const Bytes bytes = Poll();
      got.insert(got.end(), bytes.begin(), bytes.end());
    }
    return got;
  }

  // Sends a frame, checks that its echo is waiting at once, and returns
  // the answer frame (empty when none came).
  Bytes Transact(const Bytes& frame) {
    SendBytes(frame);
    const Bytes echo = Collect(frame.size());
    EXPECT_EQ(echo, frame);
    const Bytes head = Collect(2);
    if (head.size() < 2) return head;
    Bytes answer = head;
    const Bytes rest = Collect(head[1] + 5u - 2u);
    answer.insert(answer.end(), rest.begin(), rest.end());
    return answer;
  }

  std::shared_ptr<CcTalkDevicePeer> device;
};

Bytes Text(const std::string& text) { return {text.begin(), text.end()}; }

TEST(SimCcTalkDevice, EchoIsWaitingWhenTheSendReturnsAndTheAckFollows) {
  CcTalkBus bus;
  const Bytes poll = Frame(2, 1, 254);
  ASSERT_EQ(poll, (Bytes{2, 0, 1, 254, 255}));
  bus.SendBytes(poll);
  EXPECT_EQ(bus.Poll(), poll);  // the whole echo on the first poll
  EXPECT_EQ(bus.Collect(5), (Bytes{1, 0, 2, 0, 0xFD}));
  EXPECT_EQ(bus.device->FramesAnswered(), 1u);
}

TEST(SimCcTalkDevice, AnswersTheStandardRequests) {
  CcTalkDeviceOptions options;
  options.address = 3;
  options.manufacturerId = "ACM";
  options.productCode = "Hopper";
  options.serialNumber = {0x10, 0x20, 0x30};
  CcTalkBus bus(options);

  EXPECT_EQ(bus.Transact(Frame(3, 1, 245)), Frame(1, 3, 0, Text("Coin Acceptor")));
  EXPECT_EQ(bus.Transact(Frame(3, 1, 246)), Frame(1, 3, 0, Text("ACM")));
  EXPECT_EQ(bus.Transact(Frame(3, 1, 244)), Frame(1, 3, 0, Text("Hopper")));
  EXPECT_EQ(bus.Transact(Frame(3, 1, 242)), Frame(1, 3, 0, {0x10, 0x20, 0x30}));
  EXPECT_EQ(bus.Transact(Frame(3, 1, 241)), Frame(1, 3, 0, Text("1.00")));
  EXPECT_EQ(bus.Transact(Frame(3, 1, 4)), Frame(1, 3, 0, {1, 4, 2}));
  EXPECT_EQ(bus.Transact(Frame(0, 1, 253)), Bytes{3});  // address poll, broadcast: the raw address
  EXPECT_EQ(bus.Transact(Frame(3, 1, 100)), Frame(1, 3, 5));  // NAK
  EXPECT_EQ(bus.Transact(Frame(3, 7, 254)), Frame(7, 3, 0));  // answered to its source
}

TEST(SimCcTalkDevice, InhibitsAndCreditsFollowTheHostAndTheCoins) {
  CcTalkBus bus;
  EXPECT_EQ(bus.Transact(Frame(2, 1, 231, {0xFF, 0x0F})), Frame(1, 2, 0));
  EXPECT_EQ(bus.Transact(Frame(2, 1, 230)), Frame(1, 2, 0, {0xFF, 0x0F}));
  EXPECT_EQ(bus.Transact(Frame(2, 1, 231, {0xFF})), Frame(1, 2, 5));  // wrong data count
  EXPECT_EQ(bus.Transact(Frame(2, 1, 228, {1})), Frame(1, 2, 0));
  EXPECT_EQ(bus.Transact(Frame(2, 1, 227)), Frame(1, 2, 0, {1}));
  EXPECT_EQ(bus.device->InhibitStatus(), (std::array<std::uint8_t, 2>{0xFF, 0x0F}));

  EXPECT_EQ(bus.Transact(Frame(2, 1, 229)), Frame(1, 2, 0, Bytes(11, 0)));
  bus.device->AddEvent(3);
  bus.device->AddEvent(5, 0);
  EXPECT_EQ(bus.Transact(Frame(2, 1, 229)), Frame(1, 2, 0, {2, 5, 0, 3, 0, 0, 0, 0, 0, 0, 0}));

  EXPECT_EQ(bus.Transact(Frame(2, 1, 1)), Frame(1, 2, 0));  // reset
  EXPECT_EQ(bus.Transact(Frame(2, 1, 229)), Frame(1, 2, 0, Bytes(11, 0)));
  EXPECT_EQ(bus.Transact(Frame(2, 1, 227)), Frame(1, 2, 0, {0}));
}

TEST(SimCcTalkDevice, BadChecksumOtherAddressAndBrokenFramesGetNoAnswer) {
  CcTalkBus bus;
  EXPECT_EQ(bus.Transact({2, 0, 1, 254, 254}), Bytes{});
  EXPECT_EQ(bus.Transact(Frame(5, 1, 254)), Bytes{});

  // A frame whose second half comes more than 50 ms after its first half is
  // dropped; the device then takes the next frame from its first byte.
  const Bytes poll = Frame(2, 1, 254);
  bus.SendBytes(Bytes(poll.begin(), poll.begin() + 3));
  bus.AdvanceMicros(60'000);
  bus.SendBytes(Bytes(poll.begin() + 3, poll.end()));
  EXPECT_EQ(bus.Collect(10), poll);  // the echo only
  EXPECT_EQ(bus.Transact(poll), (Bytes{1, 0, 2, 0, 0xFD}));
  EXPECT_EQ(bus.device->FramesAnswered(), 1u);
}

// Address poll and address clash get no frame: the address alone, 4 ms per
// unit of the address after the request.
TEST(SimCcTalkDevice, AddressPollAndClashAreAnsweredWithTheRawAddressLater) {
  CcTalkDeviceOptions options;
  options.address = 5;
  CcTalkBus bus(options);
  for (const Bytes& request : {Frame(0, 1, 253), Frame(5, 1, 253), Frame(5, 1, 252)}) {
    bus.SendBytes(request);
    EXPECT_EQ(bus.Collect(request.size()), request);
    EXPECT_EQ(bus.Collect(1, 15), Bytes{});  // not within 15 ms
    EXPECT_EQ(bus.Collect(2, 30), Bytes{5});
  }
  EXPECT_EQ(bus.Transact(Frame(0, 1, 252)), Bytes{});  // a clash is asked of one address
}

// The device is on the ccTalk wire, which the port drives in the ccTalk mode
// only; a damaged wire shows in the echo, and the device hears it too.
TEST(SimCcTalkDevice, OnlyTheCcTalkModeReachesItAndADamagedWireShowsInTheEcho) {
  CcTalkBus bus;
  bus.Exchange(kChannelB, Bytes{0x61, 0, 0, 0, 0, 0xB2, 0xFF});  // plain RS-232
  bus.SendBytes(Frame(2, 1, 254));
  EXPECT_EQ(bus.Collect(5), Bytes{});
  bus.Exchange(kChannelB, Bytes{0x61, 2, 0, 0, 0, 0xB2, 0xFF});
  EXPECT_EQ(bus.Transact(Frame(2, 1, 254)), (Bytes{1, 0, 2, 0, 0xFD}));

  const Bytes poll = Frame(2, 1, 254);
  bus.device->SetLineFault(CcTalkDevicePeer::LineFault::kLastByteLost);
  bus.SendBytes(poll);
  EXPECT_EQ(bus.Collect(10), Bytes(poll.begin(), poll.end() - 1));
  bus.AdvanceMicros(60'000);  // the device drops the broken frame
  bus.device->SetLineFault(CcTalkDevicePeer::LineFault::kLastByteInverted);
  bus.SendBytes(poll);
  Bytes altered = poll;
  altered.back() = static_cast<std::uint8_t>(~altered.back());
  EXPECT_EQ(bus.Collect(10), altered);
  bus.AdvanceMicros(60'000);
  bus.device->SetLineFault(CcTalkDevicePeer::LineFault::kNone);
  EXPECT_EQ(bus.Transact(poll), (Bytes{1, 0, 2, 0, 0xFD}));
  EXPECT_EQ(bus.device->FramesAnswered(), 2u);
}

TEST(SimCcTalkDevice, AFaultyDeviceAnswersWithABadChecksumOrFromAnotherAddress) {
  CcTalkBus bus;
  const Bytes poll = Frame(2, 1, 254);
  bus.device->SetReplyFault(CcTalkDevicePeer::ReplyFault::kBadChecksum);
  EXPECT_EQ(bus.Transact(poll), (Bytes{1, 0, 2, 0, 0xFE}));
  bus.device->SetReplyFault(CcTalkDevicePeer::ReplyFault::kWrongSource);
  EXPECT_EQ(bus.Transact(poll), Frame(1, 3, 0));
  bus.device->SetReplyFault(CcTalkDevicePeer::ReplyFault::kNone);
  EXPECT_EQ(bus.Transact(poll), Frame(1, 2, 0));
}

TEST(SimCcTalkDevice, WithoutPowerTheHostFindsNoEchoOnItsFirstPoll) {
  CcTalkBus bus;
  bus.device->SetPowered(false);
  bus.SendBytes(Frame(2, 1, 254));
  const Bytes first = Data(Send(bus, kChannelB, {0x66}));
  EXPECT_EQ(first.size(), 1u);  // a time value alone: no 12 V
  EXPECT_EQ(bus.Collect(1), Bytes{});

  bus.device->SetPowered(true);
  EXPECT_EQ(bus.Transact(Frame(2, 1, 254)), (Bytes{1, 0, 2, 0, 0xFD}));
}

}  // namespace
}  // namespace vantrel::sim::test
