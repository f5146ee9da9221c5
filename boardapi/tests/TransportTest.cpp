// One exchange: the order of the reply checks, the error code kept in the
// object, and what reaches the caller's buffer.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include <vantrel/testsupport/ScriptedBoard.h>
#include <vantrel/testsupport/SimBoardFixture.h>

namespace vantrel::testing {
namespace {

using vantrel::sim::Fault;
using vantrel::sim::FaultKind;

class TransportTest : public ::testing::Test {
 protected:
  TransportTest() : bus_({vantrel::sim::SimBoardOptions{}}) {}
  void SetUp() override { ASSERT_TRUE(board_.init(0)); }

  // Get8051Version is one plain exchange: command 0x06 on channel 2.
  void Inject(Fault fault) { bus_.Board().InjectFault(2, 0x06, fault); }

  SimBus bus_;
  VantrelUSB board_;
};

TEST_F(TransportTest, ReplyChecksRunInOrder) {
  std::array<unsigned char, 64> text{};

  Inject({FaultKind::Short});  // one byte, which is also the right echo
  EXPECT_EQ(board_.Get8051Version(text.data()), 0);
  EXPECT_EQ(board_.GetLastError(), USB_DEVICE_BYTE_COUNT_ERROR);

  Inject({FaultKind::WrongEcho});
  EXPECT_EQ(board_.Get8051Version(text.data()), 0);
  EXPECT_EQ(board_.GetLastError(), USB_DEVICE_RESPONSE_ERROR);

  Inject({FaultKind::Status, 14});
  EXPECT_EQ(board_.Get8051Version(text.data()), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_EXECUTION_TIMEOUT);

  // A status the error table does not name is kept as it came.
  Inject({FaultKind::Status, 0xEE});
  EXPECT_EQ(board_.Get8051Version(text.data()), 0);
  EXPECT_EQ(static_cast<int>(board_.GetLastError()), 0xEE);

  Inject({FaultKind::NoReply});
  EXPECT_EQ(board_.Get8051Version(text.data()), 0);
  EXPECT_EQ(board_.GetLastError(), USB_DEVICE_WRITE_ERROR);

  Inject({FaultKind::Stall});
  EXPECT_EQ(board_.Get8051Version(text.data()), 0);
  EXPECT_EQ(board_.GetLastError(), USB_DEVICE_WRITE_ERROR);
}

TEST_F(TransportTest, SuccessKeepsTheLastFailure) {
  std::array<unsigned char, 64> text{};
  Inject({FaultKind::Status, 3});
  EXPECT_EQ(board_.Get8051Version(text.data()), 0);
  EXPECT_NE(board_.Get8051Version(text.data()), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_EXECUTION_FAILURE);
  EXPECT_EQ(board_.ClearErrors(), 1);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_EXECUTION_SUCCESS);
}

TEST_F(TransportTest, ReplyDataReachesTheCallerWithinOnePacket) {
  std::array<unsigned char, 80> text;

  // Echo and status alone: success with no data.
  text.fill(0xAA);
  Inject({FaultKind::Status, 0});
  EXPECT_NE(board_.Get8051Version(text.data()), 0);
  EXPECT_EQ(text[0], 0xAA);

  // Longer than a packet: cut to 62 data bytes.
  text.fill(0xAA);
  Inject({FaultKind::Long});
  EXPECT_NE(board_.Get8051Version(text.data()), 0);
  EXPECT_NE(text[0], 0xAA);
  EXPECT_EQ(text[62], 0xAA);

  // The plain version text.
  text.fill(0);
  EXPECT_NE(board_.Get8051Version(text.data()), 0);
  EXPECT_GT(std::strlen(reinterpret_cast<char*>(text.data())), 0u);
}

TEST_F(TransportTest, ExchangeBlockCarriesPipesAndPayload) {
  bus_.ClearLog();
  unsigned char serial[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_NE(board_.SetPICSerialNumber(serial), 0);
  auto sent = bus_.Commands(5, 0x41);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].out, (std::vector<std::uint8_t>{0x41, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(bus_.Board().PicSerialNumber(), (std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));

  unsigned char back[62] = {};
  ASSERT_NE(board_.GetPICSerialNumber(back), 0);
  EXPECT_EQ(std::memcmp(back, serial, 8), 0);
}

class ReplyCheckOrderTest : public ScriptedBoardTest {};

// Each reply breaks two checks at once; the first check in the order byte
// count, echo, status is the one reported.
TEST_F(ReplyCheckOrderTest, FirstFailedCheckNamesTheFailure) {
  struct Case {
    Bytes reply;
    usbErrorCode expected;
  } cases[] = {
      {{0x07, 3}, USB_DEVICE_RESPONSE_ERROR},  // wrong echo and a failure status
      {{0x07, 0xEE, 1, 2}, USB_DEVICE_RESPONSE_ERROR},
      {{0x07}, USB_DEVICE_BYTE_COUNT_ERROR},  // short, and its only byte wrong
      {{}, USB_DEVICE_BYTE_COUNT_ERROR},
  };
  for (const Case& c : cases) {
    script_->Reply(2, 0x06, c.reply);
    unsigned char text[64] = {};
    board_.ClearErrors();
    EXPECT_EQ(board_.Get8051Version(text), 0);
    EXPECT_EQ(board_.GetLastError(), c.expected) << ::testing::PrintToString(c.reply);
  }
}

TEST(VersionTest, LibraryVersionsAreFixedTexts) {
  VantrelUSB board;
  unsigned char text[8];
  std::memset(text, 0xAA, sizeof text);
  EXPECT_EQ(board.GetDllVersion(text), 1);
  EXPECT_STREQ(reinterpret_cast<char*>(text), "35");
  EXPECT_EQ(text[3], 0xAA);
  EXPECT_EQ(board.GetProductVersion(text), 1);
  EXPECT_STREQ(reinterpret_cast<char*>(text), "28");
}

}  // namespace
}  // namespace vantrel::testing
