// Inputs, pulse counters and hoppers: payload packing, reply decoding, the
// argument checks, and connection by board address.
#include <gtest/gtest.h>

#include <vantrel/testsupport/ScriptedBoard.h>
#include <vantrel/testsupport/SimBoardFixture.h>

namespace vantrel::testing {
namespace {

class InputsTest : public ScriptedBoardTest {};

TEST_F(InputsTest, SnapshotReadsCopyFiveBytesOnlyOnSuccess) {
  script_->Reply(1, 0x4B, {0x4B, 0, 1, 2, 3, 4, 5, 6, 7});
  usbInput inputs{};
  ASSERT_NE(board_.GetInputs(&inputs), 0);
  EXPECT_EQ(Bytes(inputs.input, inputs.input + 5), (Bytes{1, 2, 3, 4, 5}));

  script_->Reply(1, 0x51, {0x51, 3});
  usbInput unchanged = {{9, 9, 9, 9, 9}};
  EXPECT_EQ(board_.GetChangedInputs(&unchanged), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_EXECUTION_FAILURE);
  EXPECT_EQ(Bytes(unchanged.input, unchanged.input + 5), (Bytes{9, 9, 9, 9, 9}));

  script_->Reply(1, 0x52, {0x52, 0, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4});
  ASSERT_NE(board_.GetRawInputs(&inputs), 0);
  EXPECT_EQ(inputs.input[4], 0xA4);
}

TEST_F(InputsTest, InputBitCountsOverTheSnapshot) {
  int value = -1;
  script_->Reply(1, 0x4B, {0x4B, 0, 0x00, 0x00, 0x00, 0x00, 0x01});
  ASSERT_NE(board_.GetInputBit(static_cast<_usbInputBitId>(32), &value), 0);
  EXPECT_EQ(value, 1);
  script_->Reply(1, 0x4B, {0x4B, 0, 0x00, 0x20, 0x00, 0x00, 0x00});
  ASSERT_NE(board_.GetInputBit(static_cast<_usbInputBitId>(13), &value), 0);
  EXPECT_EQ(value, 1);
  // A reply longer than the snapshot does not spill past the library's buffer.
  Bytes longReply(64, 0xFF);
  longReply[0] = 0x4B;
  longReply[1] = 0;
  script_->Reply(1, 0x4B, longReply);
  ASSERT_NE(board_.GetInputBit(static_cast<_usbInputBitId>(0), &value), 0);
  EXPECT_EQ(value, 1);

  script_->Clear();
  value = -1;
  EXPECT_EQ(board_.GetInputBit(static_cast<_usbInputBitId>(33), &value), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
  EXPECT_EQ(board_.GetInputBit(static_cast<_usbInputBitId>(-1), &value), 0);
  EXPECT_EQ(value, -1);
  EXPECT_TRUE(script_->All().empty());
}

TEST_F(InputsTest, CommandsPackTheirArguments) {
  const auto in5 = static_cast<_usbInputBitId>(5);
  ASSERT_NE(board_.InputMultiplexing(static_cast<usbInputMultiplexing>(2)), 0);
  ASSERT_NE(board_.InputMultiplexing(USB_INPUT_MULTIPLEXING_ON), 0);
  ASSERT_NE(board_.ConfigurePulsedInput(in5, 0x33, static_cast<ActiveState>(0x101)), 0);
  ASSERT_NE(board_.BeginPulsedInputCheck(in5), 0);
  ASSERT_NE(board_.EndPulsedInputCheck(in5), 0);
  ASSERT_NE(board_.ResetPulsedInputCounter(in5), 0);
  ASSERT_NE(board_.DecrementPulsedInputCounter(in5), 0);
  ASSERT_NE(board_.ReleaseParallelHopperCoins(in5, 0x11, ACTIVE_HIGH,
                                              static_cast<_usbOutputBitId>(33), 0x0102, 0x22),
            0);
  const auto sent = script_->SentOn(1);
  ASSERT_EQ(sent.size(), 8u);
  EXPECT_EQ(sent[0].bytes, (Bytes{0x72, 0}));
  EXPECT_EQ(sent[1].bytes, (Bytes{0x72, 1}));
  EXPECT_EQ(sent[2].bytes, (Bytes{0x6B, 5, 0x33, 0x01}));
  EXPECT_EQ(sent[3].bytes, (Bytes{0x6C, 5, 1}));
  EXPECT_EQ(sent[4].bytes, (Bytes{0x6C, 5, 0}));
  EXPECT_EQ(sent[5].bytes, (Bytes{0x6D, 5}));
  EXPECT_EQ(sent[6].bytes, (Bytes{0x6E, 5}));
  EXPECT_EQ(sent[7].bytes, (Bytes{0x70, 5, 0x11, 1, 33, 0x01, 0x02, 0x22}));
}

TEST_F(InputsTest, RepliesReachTheirOutParameters) {
  const auto in7 = static_cast<_usbInputBitId>(7);
  script_->Reply(1, 0x6F, {0x6F, 0, 42});
  unsigned char counter = 0;
  ASSERT_NE(board_.ReadPulsedInputCounter(in7, &counter), 0);
  EXPECT_EQ(counter, 42);

  script_->Reply(1, 0x71, {0x71, 0, 0x83, 9});
  ReleaseHopperCoinsStatus status{};
  unsigned char second = 0;
  ASSERT_NE(board_.GetParallelHopperStatus(in7, &status, &second), 0);
  EXPECT_EQ(static_cast<int>(status), 0x83);  // zero-extended, not sign-extended
  EXPECT_EQ(second, 9);

  Bytes mux = {0x73, 0};
  for (int i = 0; i < 13; ++i) mux.push_back(static_cast<std::uint8_t>(0x10 + i));
  script_->Reply(1, 0x73, mux);
  usbMultiplexedInput multiplexed{};
  ASSERT_NE(board_.GetMultiplexedInputs(&multiplexed), 0);
  EXPECT_EQ(multiplexed.first, 0x10);
  EXPECT_EQ(multiplexed.group[0][0], 0x11);
  EXPECT_EQ(multiplexed.group[3][2], 0x1C);
}

TEST(InitUsbBoardTest, FindsTheBoardByItsAddressSwitches) {
  std::vector<vantrel::sim::SimBoardOptions> boards(3);
  for (int i = 0; i < 3; ++i) boards[i].boardAddress = static_cast<std::uint8_t>(i);
  SimBus bus(boards);
  VantrelUSB board;
  ASSERT_NE(board.InitUSBBoard(2), 0);
  usbInput inputs{};
  ASSERT_NE(board.GetInputs(&inputs), 0);
  EXPECT_EQ(inputs.input[3] & 7, 2);

  // Address 8 can never match: all eight devices are tried and none fits.
  EXPECT_EQ(board.InitUSBBoard(8), 0);
  // 16 and above fail before any device is touched.
  bus.ClearLog();
  EXPECT_EQ(board.InitUSBBoard(16), 0);
  EXPECT_EQ(board.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
  EXPECT_TRUE(bus.Log().empty());
}

TEST(InitUsbBoardTest, WalkTriesEveryIndexAndClosesTheBoardsItDoesNotTake) {
  std::vector<vantrel::sim::SimBoardOptions> boards(8);
  for (int i = 0; i < 8; ++i) boards[i].boardAddress = static_cast<std::uint8_t>(i);
  SimBus bus(boards);
  // Boards 1 and 7 connect but cannot read their inputs: passed over, closed.
  for (int i : {1, 7}) bus.Board(i).InjectFault(1, 0x4B, {vantrel::sim::FaultKind::Status, 3, -1});

  VantrelUSB board;
  EXPECT_EQ(board.InitUSBBoard(8), 0);  // no board can have address 8
  EXPECT_EQ(bus.Opened(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  for (int i = 0; i < 8; ++i) EXPECT_EQ(bus.LiveLinks(i), 0) << "board " << i << " left open";
  EXPECT_EQ(board.close(), 1);  // nothing is left open to close

  bus.ClearLog();
  ASSERT_NE(board.InitUSBBoard(2), 0);
  EXPECT_EQ(bus.Opened(), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(bus.LiveLinks(0), 0);
  EXPECT_EQ(bus.LiveLinks(1), 0);
  EXPECT_EQ(bus.LiveLinks(2), 1);
  EXPECT_EQ(board.close(), 1);
  EXPECT_EQ(bus.LiveLinks(2), 0);
}

// A board found by its address keeps its own shared records: the lamps and
// the EEPROM geometry of another board, connected by index, stay apart.
TEST(InitUsbBoardTest, BoardFoundByAddressUsesItsOwnSlot) {
  std::vector<vantrel::sim::SimBoardOptions> boards(2);
  boards[0].eepromBytes = 1024;
  boards[0].boardAddress = 0;
  boards[1].eepromBytes = 32768;
  boards[1].boardAddress = 1;
  SimBus bus(boards);
  VantrelUSB first, found;
  ASSERT_NE(first.init(0), 0);
  unsigned char off[5] = {};
  ASSERT_NE(first.SetOutputs(off), 0);
  ASSERT_NE(first.SetOnPeriodOutputBit(static_cast<_usbOutputId>(0), 3, 1), 0);

  ASSERT_NE(found.InitUSBBoard(1), 0);
  ASSERT_NE(found.SetOutputs(off), 0);
  ASSERT_NE(found.SetOnPeriodOutputBit(static_cast<_usbOutputId>(1), 4, 1), 0);
  ASSERT_NE(first.SetOnPeriodOutputBit(static_cast<_usbOutputId>(2), 0, 1), 0);
  EXPECT_EQ(bus.Board(0).OnPeriodOutputs(),
            (vantrel::sim::SimBoard::OutputImage{0x08, 0, 0x01, 0, 0}));
  EXPECT_EQ(bus.Board(1).OnPeriodOutputs(),
            (vantrel::sim::SimBoard::OutputImage{0, 0x10, 0, 0, 0}));

  // Each board's transfers are checked against its own part.
  std::vector<unsigned char> bytes(1100);
  EXPECT_NE(first.ReadEEPROM(8, bytes.data(), 1015), 0);
  EXPECT_EQ(first.ReadEEPROM(8, bytes.data(), 1016), 0);
  EXPECT_EQ(first.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
  std::vector<unsigned char> data(100, 0x42);
  EXPECT_NE(found.WriteEEPROM(32000, data.data(), 100), 0);
  EXPECT_EQ(bus.Board(1).Eeprom()[32099], 0x42);
}

}  // namespace
}  // namespace vantrel::testing
