// Clock, security switches, random numbers, SPI and SEC frames.
#include <gtest/gtest.h>

#include <cstring>

#include <vantrel/testsupport/ScriptedBoard.h>

namespace vantrel::testing {
namespace {

class PicTest : public ScriptedBoardTest {};

TEST_F(PicTest, ValuesTravelLittleEndian) {
  ASSERT_NE(board_.SetClock(258), 0);
  ASSERT_NE(board_.EnableRandomNumberGenerator(0x11223344), 0);
  ASSERT_NE(board_.DisableRandomNumberGenerator(), 0);
  const auto sent = script_->SentOn(5);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].bytes, (Bytes{0x14, 0x02, 0x01, 0x00, 0x00}));
  EXPECT_EQ(sent[1].bytes, (Bytes{0x45, 0x44, 0x33, 0x22, 0x11}));
  EXPECT_EQ(sent[2].bytes, (Bytes{0x46}));

  script_->Reply(5, 0x15, {0x15, 0, 0x78, 0x56, 0x34, 0x12});
  unsigned long clock = 0;
  ASSERT_NE(board_.GetClock(&clock), 0);
  EXPECT_EQ(clock, 0x12345678ul);
  script_->Reply(5, 0x44, {0x44, 0, 0xCD, 0xAB});
  unsigned short number = 0;
  ASSERT_NE(board_.GetRandomNumber(&number), 0);
  EXPECT_EQ(number, 0xABCD);
}

TEST_F(PicTest, SecuritySwitchRecordsAndFlags) {
  script_->Reply(5, 0x29, {0x29, 0, 0x01, 0x00, 0x00, 0x00, 0x07});
  unsigned long time = 0;
  unsigned char state = 0;
  ASSERT_NE(board_.StartSecuritySwitchRead(), 0);
  ASSERT_NE(board_.NextSecuritySwitchRead(&time, &state), 0);
  EXPECT_EQ(time, 1ul);
  EXPECT_EQ(state, 7);
  script_->Reply(5, 0x29, {0x29, 3});
  time = 99;
  EXPECT_EQ(board_.NextSecuritySwitchRead(&time, &state), 0);
  EXPECT_EQ(time, 99ul);

  script_->Reply(5, 0x40, {0x40, 0, 0x81, 0x42});
  script_->Reply(5, 0x43, {0x43, 0, 0x01, 0x02});
  unsigned char first = 0, second = 0;
  ASSERT_NE(board_.ReadAndResetSecuritySwitchFlags(&first, &second), 0);
  EXPECT_EQ(first, 0x81);
  EXPECT_EQ(second, 0x42);
  ASSERT_NE(board_.CachedReadAndResetSecuritySwitchFlags(&first, &second), 0);
  EXPECT_EQ(first, 0x01);
  ASSERT_NE(board_.ClearSecuritySwitches(), 0);
  EXPECT_EQ(script_->SentOn(5).back().bytes, (Bytes{0x2A}));
}

class SpiTest : public ScriptedBoardTest {};

TEST_F(SpiTest, SendBitsRoundUpToBytes) {
  unsigned char data[32] = {0xA1, 0xA2, 0xA3};
  unsigned char received[62] = {};
  script_->Reply(7, 0x60, {0x60, 0, 0x5A, 0x5B});
  ASSERT_NE(board_.SendSPI(12, data, 0x03, 16, received), 0);
  ASSERT_NE(board_.SendSPI(0, data, 0x00, 8, received), 0);
  ASSERT_NE(board_.EnableSPI(), 0);
  ASSERT_NE(board_.DisableSPI(), 0);
  const auto sent = script_->SentOn(7);
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[0].bytes, (Bytes{0x60, 12, 16, 0x03, 0xA1, 0xA2}));
  EXPECT_EQ(sent[1].bytes, (Bytes{0x60, 0, 8, 0x00}));
  EXPECT_EQ(sent[2].bytes, (Bytes{0x5E}));
  EXPECT_EQ(sent[3].bytes, (Bytes{0x5F}));
  EXPECT_EQ(received[0], 0x5A);
  EXPECT_EQ(received[1], 0x5B);
}

TEST_F(SpiTest, SecFrameCarriesItsChecksum) {
  unsigned char data[27] = {0x01, 0x02};
  unsigned char received[62];
  ASSERT_NE(board_.SendSEC(0x11, 0x22, 2, data, 0x05, 3, received), 0);
  EXPECT_EQ(Only(7), (Bytes{0x60, 48, 56, 0x05, 0x11, 0x22, 0x02, 0x01, 0x02, 0x38}));

  // 27 data bytes fill the one-byte bit count (248 bits); 28 would not fit.
  script_->Clear();
  ASSERT_NE(board_.SendSEC(1, 2, 27, data, 0, 27, received), 0);
  EXPECT_EQ(Only(7)[1], 248);
  script_->Clear();
  EXPECT_EQ(board_.SendSEC(1, 2, 28, data, 0, 0, received), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
  EXPECT_EQ(board_.SendSEC(1, 2, 0, data, 0, 28, received), 0);
  EXPECT_TRUE(script_->All().empty());
}

}  // namespace
}  // namespace vantrel::testing
