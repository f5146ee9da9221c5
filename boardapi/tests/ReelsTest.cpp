// Reels: big-endian packing, ramp tables, and both status forms.
#include <gtest/gtest.h>

#include <cstring>

#include <vantrel/testsupport/ScriptedBoard.h>

namespace vantrel::testing {
namespace {

class ReelsTest : public ScriptedBoardTest {};

TEST_F(ReelsTest, ConfigureAndSpinPackHighBytesFirst) {
  ASSERT_NE(board_.ConfigureReels(3, 200, 0), 0);
  ASSERT_NE(board_.ConfigureReelsEx(1, 0x0190, 9), 0);
  ASSERT_NE(board_.SpinReels(1, 0xFF, 300), 0);
  ASSERT_NE(board_.SetDutyCycle(4, 5, 6), 0);
  ASSERT_NE(board_.ReelSynchroniseEnable(2), 0);
  const auto sent = script_->SentOn(1);
  ASSERT_EQ(sent.size(), 5u);
  EXPECT_EQ(sent[0].bytes, (Bytes{0x56, 0x03, 0x00, 0xC8, 0x00}));
  EXPECT_EQ(sent[1].bytes, (Bytes{0x56, 0x01, 0x01, 0x90, 0x09}));
  EXPECT_EQ(sent[2].bytes, (Bytes{0x57, 0x01, 0xFF, 0x01, 0x2C}));
  EXPECT_EQ(sent[3].bytes, (Bytes{0x5A, 4, 5, 6}));
  EXPECT_EQ(sent[4].bytes, (Bytes{0x5B, 2}));
}

TEST_F(ReelsTest, RampTablesGoWholeUpToTheRequestsRoom) {
  usbRampTable table{};
  table.count = 18;
  for (int i = 0; i < 63; ++i) table.steps[i] = static_cast<unsigned char>(100 + i);
  ASSERT_NE(board_.SpinRampUp(1, table), 0);
  table.count = 0;
  ASSERT_NE(board_.SpinRampDown(2, table), 0);
  table.count = 61;
  ASSERT_NE(board_.SpinRampDown(0, table), 0);
  const auto sent = script_->SentOn(1);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].bytes.size(), 1u + 20u);
  EXPECT_EQ(sent[0].bytes[1], 1);
  EXPECT_EQ(sent[0].bytes[2], 18);
  EXPECT_EQ(sent[0].bytes[20], 117);
  EXPECT_EQ(sent[1].bytes, (Bytes{0x59, 2, 0}));
  EXPECT_EQ(sent[2].bytes.size(), 64u);
  EXPECT_EQ(sent[2].bytes.back(), 160);

  script_->Clear();
  table.count = 62;
  EXPECT_EQ(board_.SpinRampUp(0, table), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
  table.count = 255;
  EXPECT_EQ(board_.SpinRampDown(0, table), 0);
  EXPECT_TRUE(script_->All().empty());
}

TEST_F(ReelsTest, StatusDecodesBothForms) {
  const Bytes reply = {0x5C, 0,    0x01, 0x2C, 0x00, 0x07, 1,    0,    0x02, 0x00,
                       0x01, 0x05, 0,    1,    0x00, 0x10, 0x00, 0x00, 1,    1};
  script_->Reply(1, 0x5C, reply);
  script_->Reply(1, 0x5C, reply);
  ReelStatusEx full{};
  ASSERT_NE(board_.GetReelStatusEx(&full), 0);
  EXPECT_EQ(full.position[0], 300);
  EXPECT_EQ(full.error[0], 7);
  EXPECT_EQ(full.position[1], 0x200);
  EXPECT_EQ(full.error[1], 0x105);
  EXPECT_EQ(full.busy[0], 1);
  EXPECT_EQ(full.sync[1], 1);
  EXPECT_EQ(full.position[2], 16);
  usbReelStatus brief{};
  ASSERT_NE(board_.GetReelStatus(&brief), 0);
  EXPECT_EQ(brief.position[0], 44);
  EXPECT_EQ(brief.error[1], 5);
  EXPECT_EQ(brief.busy[2], 1);
  EXPECT_EQ(brief.sync[2], 1);
}

TEST_F(ReelsTest, FailedStatusLeavesBothRecords) {
  script_->Reply(1, 0x5C, {0x5C, 20});
  script_->Reply(1, 0x5C, {0x5C});
  ReelStatusEx full;
  std::memset(&full, 0xAB, sizeof full);
  usbReelStatus brief;
  std::memset(&brief, 0xCD, sizeof brief);
  EXPECT_EQ(board_.GetReelStatusEx(&full), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_REEL_STATUS_LENGTH_ERROR);
  EXPECT_EQ(board_.GetReelStatus(&brief), 0);
  EXPECT_EQ(board_.GetLastError(), USB_DEVICE_BYTE_COUNT_ERROR);
  EXPECT_EQ(full.position[0], 0xABAB);
  EXPECT_EQ(brief.sync[2], 0xCD);
}

}  // namespace
}  // namespace vantrel::testing
