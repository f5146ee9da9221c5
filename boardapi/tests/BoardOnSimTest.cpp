// Each family of board operations end to end against the simulated board,
// through the in-process link: the library and the board agree on every
// command's bytes and replies.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <k27sim/CcTalkDevicePeer.h>
#include <k27sim/LoopbackPeer.h>

#include <vantrel/testsupport/SimBoardFixture.h>

namespace vantrel::testing {
namespace {

class BoardOnSimTest : public ::testing::Test {
 protected:
  BoardOnSimTest() : bus_({vantrel::sim::SimBoardOptions{}}) {}
  void SetUp() override { ASSERT_NE(board_.init(0), 0); }
  vantrel::sim::SimBoard& Sim() { return bus_.Board(); }
  SimBus bus_;
  VantrelUSB board_;
};

TEST_F(BoardOnSimTest, InputsAndPulseCounters) {
  Sim().SetInputs({0x01, 0x80, 0x00, 0xF8, 0x5A});
  usbInput inputs{};
  ASSERT_NE(board_.GetInputs(&inputs), 0);
  EXPECT_EQ(inputs.input[1], 0x80);
  int bit = 0;
  ASSERT_NE(board_.GetInputBit(static_cast<_usbInputBitId>(15), &bit), 0);
  EXPECT_EQ(bit, 1);
  ASSERT_NE(board_.GetChangedInputs(&inputs), 0);

  const auto coin = static_cast<_usbInputBitId>(4);
  ASSERT_NE(board_.ConfigurePulsedInput(coin, 10, ACTIVE_LOW), 0);
  ASSERT_NE(board_.BeginPulsedInputCheck(coin), 0);
  Sim().InjectPulses(4, 3);
  unsigned char counter = 0;
  ASSERT_NE(board_.ReadPulsedInputCounter(coin, &counter), 0);
  EXPECT_EQ(counter, 3);
  ASSERT_NE(board_.DecrementPulsedInputCounter(coin), 0);
  ASSERT_NE(board_.ReadPulsedInputCounter(coin, &counter), 0);
  EXPECT_EQ(counter, 2);
  ASSERT_NE(board_.ResetPulsedInputCounter(coin), 0);
  ASSERT_NE(board_.ReadPulsedInputCounter(coin, &counter), 0);
  EXPECT_EQ(counter, 0);
}

TEST_F(BoardOnSimTest, HopperPaysOverTime) {
  const auto coinInput = static_cast<_usbInputBitId>(6);
  ASSERT_NE(board_.ReleaseParallelHopperCoins(coinInput, 1, ACTIVE_LOW,
                                              static_cast<_usbOutputBitId>(33), 3, 1),
            0);
  Sim().AdvanceMicros(10 * vantrel::sim::SimBoard::kHopperCoinMicros);
  ReleaseHopperCoinsStatus status{};
  unsigned char paid = 0;
  ASSERT_NE(board_.GetParallelHopperStatus(coinInput, &status, &paid), 0);
  EXPECT_EQ(static_cast<int>(status), 2);  // done
  EXPECT_EQ(paid, 3);
}

TEST_F(BoardOnSimTest, OutputImagesAndBrightnessReachTheBoard) {
  unsigned char image[5] = {0x0F, 0, 0, 0x80, 0x3F};
  ASSERT_NE(board_.SetOutputs(image), 0);
  ASSERT_NE(board_.SetOffPeriodOutputBit(USB_OUTPUT_LAMPS_0, 0, 0), 0);
  ASSERT_NE(board_.SetOutputBrightness(5), 0);
  EXPECT_EQ(Sim().OnPeriodOutputs(), (vantrel::sim::SimBoard::OutputImage{0x0F, 0, 0, 0x80, 0x3F}));
  EXPECT_EQ(Sim().OffPeriodOutputs(),
            (vantrel::sim::SimBoard::OutputImage{0x0E, 0, 0, 0x80, 0x3F}));
  EXPECT_EQ(Sim().OutputBrightness(), 5);
}

TEST_F(BoardOnSimTest, ReelTurnsAndReportsItsPosition) {
  ASSERT_NE(board_.ConfigureReels(3, 200, 0), 0);
  usbRampTable ramp{};
  ramp.count = 2;
  ramp.steps[0] = 4;
  ramp.steps[1] = 3;
  ASSERT_NE(board_.SpinRampUp(1, ramp), 0);
  ASSERT_NE(board_.SpinRampDown(1, ramp), 0);
  ASSERT_NE(board_.SpinReels(1, 0x01, 300), 0);
  ReelStatusEx status{};
  ASSERT_NE(board_.GetReelStatusEx(&status), 0);
  EXPECT_EQ(status.busy[1], 1);
  EXPECT_EQ(board_.SpinReels(1, 0x01, 10), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_REEL_BUSY);
  Sim().AdvanceMicros(2'000'000);
  ASSERT_NE(board_.GetReelStatusEx(&status), 0);
  EXPECT_EQ(status.busy[1], 0);
  EXPECT_EQ(status.position[1], 100);  // 300 half-steps round a 200 half-step reel
  EXPECT_EQ(board_.SpinReels(5, 0x01, 10), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_REEL_NUMBER_ERROR);
}

TEST_F(BoardOnSimTest, SerialLoopbackCarriesEveryByteWithItsTime) {
  Sim().AttachPeer(vantrel::sim::kPortB, std::make_shared<vantrel::sim::LoopbackPeer>());
  _DCB line{};
  line.BaudRate = 57600;
  ASSERT_NE(board_.SetConfig(USB_SERIAL_PORT_B, &line, USB_PORT_TYPE_RS232), 0);
  EXPECT_EQ(Sim().BaudRate(vantrel::sim::kPortB), 57600u);
  unsigned char data[100];
  for (int i = 0; i < 100; ++i) data[i] = static_cast<unsigned char>(i + 1);
  ASSERT_NE(board_.Send(USB_SERIAL_PORT_B, data, 100), 0);
  EXPECT_EQ(Sim().SentBytes(vantrel::sim::kPortB).size(), 100u);
  Sim().AdvanceMicros(100'000);

  std::vector<unsigned char> back;
  for (int guard = 0; guard < 300; ++guard) {
    unsigned char byte = 0, time = 0;
    int hasByte = 0;
    ASSERT_NE(board_.ReceiveByteWithTimestamp(USB_SERIAL_PORT_B, &byte, &time, &hasByte), 0);
    if (!hasByte) break;
    back.push_back(byte);
  }
  EXPECT_EQ(back, std::vector<unsigned char>(data, data + 100));
}

TEST_F(BoardOnSimTest, PlainReceiveAndPortSettings) {
  const unsigned char hello[] = {'h', 'e', 'l', 'l', 'o'};
  Sim().PushReceived(vantrel::sim::kPortA, hello);
  Sim().AdvanceMicros(50'000);
  unsigned char buffer[VANTREL_RECEIVE_LIMIT];
  unsigned long length = 0;
  ASSERT_NE(board_.Receive(USB_SERIAL_PORT_A, buffer, &length), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), length), "hello");

  Sim().SetParityErrors(vantrel::sim::kPortA, 0x0203);
  unsigned short parity = 0;
  ASSERT_NE(board_.GetParityErrors(USB_SERIAL_PORT_A, &parity), 0);
  EXPECT_EQ(parity, 0x0203);
  unsigned char message[] = {0xAA, 0xBB};
  ASSERT_NE(board_.SetTimeoutMessage(USB_SERIAL_PORT_A, message, 2, 1.5f), 0);
  EXPECT_EQ(Sim().SerialTimeoutMessage(vantrel::sim::kPortA).time, 50);
}

TEST_F(BoardOnSimTest, CcTalkSimplePollIsEchoedAndAnswered) {
  auto device = std::make_shared<vantrel::sim::CcTalkDevicePeer>();
  Sim().AttachPeer(vantrel::sim::kPortA, device);
  _DCB line{};
  line.BaudRate = 9600;
  ASSERT_NE(board_.SetConfig(USB_SERIAL_PORT_A, &line, USB_PORT_TYPE_CCTALK), 0);
  unsigned char poll[] = {0x02, 0x00, 0x01, 0xFE, 0xFF};
  ASSERT_NE(board_.Send(USB_SERIAL_PORT_A, poll, 5), 0);
  Sim().AdvanceMicros(50'000);
  std::vector<unsigned char> heard;
  for (int guard = 0; guard < 100; ++guard) {
    unsigned char byte = 0, time = 0;
    int hasByte = 0;
    ASSERT_NE(board_.ReceiveByteWithTimestamp(USB_SERIAL_PORT_A, &byte, &time, &hasByte), 0);
    if (!hasByte) break;
    heard.push_back(byte);
  }
  // The host's own frame first (the bus echo), then the device's ACK.
  EXPECT_EQ(heard, (std::vector<unsigned char>{0x02, 0x00, 0x01, 0xFE, 0xFF, 0x01, 0x00, 0x02, 0x00,
                                               0xFD}));
}

TEST_F(BoardOnSimTest, PolledMessagesCollectTheDevicesAnswers) {
  Sim().AttachPeer(vantrel::sim::kPortA, std::make_shared<vantrel::sim::CcTalkDevicePeer>());
  CCTalkConfig config{};
  config.slot = 0;
  config.pollTime = 100;
  const unsigned char poll[] = {0x02, 0x00, 0x01, 0xFE, 0xFF};
  std::memcpy(config.firstMessage, poll, sizeof poll);
  std::memcpy(config.secondMessage, poll, sizeof poll);
  ASSERT_NE(board_.ConfigureCCTalkPort(USB_SERIAL_PORT_A, &config), 0);
  EXPECT_TRUE(Sim().PolledMessageConfiguration(vantrel::sim::kPortA, 0).has_value());
  Sim().AdvanceMicros(150'000);
  unsigned char buffer[VANTREL_RECEIVE_LIMIT];
  unsigned long length = 0;
  int status = -1;
  ASSERT_NE(board_.ReceivePolledMessage(USB_SERIAL_PORT_A, 0, buffer, &length, &status), 0);
  EXPECT_GE(length, 5u);
  ASSERT_NE(board_.EmptyPolledBuffer(USB_SERIAL_PORT_A, 0), 0);
  ASSERT_NE(board_.DeletePolledMessage(USB_SERIAL_PORT_A, 0), 0);
}

TEST_F(BoardOnSimTest, ClockSecurityAndRandomNumbers) {
  ASSERT_NE(board_.SetClock(1000), 0);
  Sim().AdvanceMicros(3'000'000);
  unsigned long clock = 0;
  ASSERT_NE(board_.GetClock(&clock), 0);
  EXPECT_EQ(clock, 1003ul);

  Sim().SetSecurityRecords({{5, 1}, {9, 2}});
  ASSERT_NE(board_.StartSecuritySwitchRead(), 0);
  unsigned long time = 0;
  unsigned char state = 0;
  ASSERT_NE(board_.NextSecuritySwitchRead(&time, &state), 0);
  EXPECT_EQ(time, 5ul);
  ASSERT_NE(board_.NextSecuritySwitchRead(&time, &state), 0);
  EXPECT_EQ(state, 2);
  EXPECT_EQ(board_.NextSecuritySwitchRead(&time, &state), 0);

  Sim().SetSecurityFlags(0x12, 0x34);
  unsigned char first = 0, second = 0;
  ASSERT_NE(board_.ReadAndResetSecuritySwitchFlags(&first, &second), 0);
  EXPECT_EQ(first, 0x12);
  ASSERT_NE(board_.CachedReadAndResetSecuritySwitchFlags(&first, &second), 0);
  EXPECT_EQ(first, 0);

  unsigned short number = 0;
  EXPECT_EQ(board_.GetRandomNumber(&number), 0);  // the generator is off
  ASSERT_NE(board_.EnableRandomNumberGenerator(42), 0);
  unsigned short a = 0, b = 0;
  ASSERT_NE(board_.GetRandomNumber(&a), 0);
  ASSERT_NE(board_.GetRandomNumber(&b), 0);
  EXPECT_NE(a, b);
  ASSERT_NE(board_.DisableRandomNumberGenerator(), 0);
}

TEST_F(BoardOnSimTest, SpiEchoesAndSecFramesArriveWhole) {
  unsigned char data[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  unsigned char received[62] = {};
  EXPECT_EQ(board_.SendSPI(32, data, 0, 32, received), 0);  // not enabled yet
  ASSERT_NE(board_.EnableSPI(), 0);
  ASSERT_NE(board_.SendSPI(32, data, 0, 32, received), 0);
  EXPECT_EQ(std::memcmp(received, data, 4), 0);
  unsigned char payload[2] = {0x01, 0x02};
  ASSERT_NE(board_.SendSEC(0x11, 0x22, 2, payload, 7, 0, received), 0);
  const auto transfers = Sim().SpiTransfers();
  ASSERT_FALSE(transfers.empty());
  EXPECT_EQ(transfers.back().sendBits, 48);
  EXPECT_EQ(transfers.back().data, (std::vector<std::uint8_t>{0x11, 0x22, 0x02, 0x01, 0x02, 0x38}));
  ASSERT_NE(board_.DisableSPI(), 0);
  EXPECT_FALSE(Sim().SpiEnabled());
}

}  // namespace
}  // namespace vantrel::testing
