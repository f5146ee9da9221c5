// Output images: the shared copies, the bit forms, the masks, and what each
// command sends.
#include <gtest/gtest.h>

#include "shared/SharedState.h"
#include <vantrel/testsupport/ScriptedBoard.h>

namespace vantrel::testing {
namespace {

Bytes OnCopy() {
  auto* copy = shared::Record(shared::State().outOnCopies, shared::kOutputCopySize, 0);
  return Bytes(copy, copy + 5);
}
Bytes OffCopy() {
  auto* copy = shared::Record(shared::State().outOffCopies, shared::kOutputCopySize, 0);
  return Bytes(copy, copy + 5);
}

class OutputsTest : public ScriptedBoardTest {
 protected:
  void SetUp() override {
    ScriptedBoardTest::SetUp();
    unsigned char off[5] = {};
    ASSERT_NE(board_.SetOutputs(off), 0);
    script_->Clear();
  }
};

TEST_F(OutputsTest, OutputBitReachesLampsAndAuxiliaryOutputs) {
  ASSERT_NE(board_.SetOutputBit(static_cast<_usbOutputBitId>(32), 1), 0);
  ASSERT_NE(board_.SetOutputBit(static_cast<_usbOutputBitId>(9), 1), 0);
  ASSERT_NE(board_.SetOutputBit(static_cast<_usbOutputBitId>(9), 0), 0);
  const auto sent = script_->SentOn(1);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].bytes, (Bytes{0x4D, 0, 0, 0, 0, 0x01, 0, 0, 0, 0, 0}));
  EXPECT_EQ(sent[1].bytes, (Bytes{0x4D, 0, 0x02, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(sent[2].bytes, (Bytes{0x4D, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 0}));
  EXPECT_EQ(OnCopy(), (Bytes{0, 0, 0, 0, 0x01}));
  EXPECT_EQ(OffCopy(), (Bytes{0, 0, 0, 0, 0x01}));

  script_->Clear();
  EXPECT_EQ(board_.SetOutputBit(static_cast<_usbOutputBitId>(38), 1), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
  EXPECT_EQ(board_.SetOutputBit(static_cast<_usbOutputBitId>(-1), 1), 0);
  EXPECT_TRUE(script_->All().empty());
}

TEST_F(OutputsTest, PeriodBitStartsFromTheSharedCopy) {
  unsigned char all[5] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  ASSERT_NE(board_.SetOutputs(all), 0);
  script_->Clear();
  ASSERT_NE(board_.SetOnPeriodOutputBit(USB_OUTPUT_LAMPS_0, 3, 0), 0);
  EXPECT_EQ(Only(1), (Bytes{0x53, 0xF7, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(OffCopy(), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));

  // Bits above 7 make an empty mask: the image goes out unchanged.
  script_->Clear();
  ASSERT_NE(board_.SetOffPeriodOutputBit(USB_OUTPUT_AUX, 40, 0), 0);
  EXPECT_EQ(Only(1), (Bytes{0x54, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));

  script_->Clear();
  EXPECT_EQ(board_.SetOnPeriodOutputBit(static_cast<_usbOutputId>(5), 0, 1), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
  EXPECT_TRUE(script_->All().empty());
}

TEST_F(OutputsTest, CopyIsKeptWhenTheBoardRefusesTheImage) {
  script_->Reply(1, 0x53, {0x53, 3});
  usbOutput image = {{0x12, 0x34, 0x56, 0x78, 0x3F}};
  EXPECT_EQ(board_.SetOnPeriodOutputs(image), 0);
  EXPECT_EQ(OnCopy(), (Bytes{0x12, 0x34, 0x56, 0x78, 0x3F}));
  script_->Clear();
  ASSERT_NE(board_.SetOnPeriodOutputBit(USB_OUTPUT_LAMPS_1, 0, 1), 0);
  EXPECT_EQ(Only(1), (Bytes{0x53, 0x12, 0x35, 0x56, 0x78, 0x3F}));
}

TEST_F(OutputsTest, ModifyClearsWhatBothMasksName) {
  usbOutput on = {{0x0F, 0, 0, 0, 0x01}};
  usbOutput off = {{0x01, 0, 0, 0, 0}};
  ASSERT_NE(board_.ModifyOutputs(&off, &on), 0);
  EXPECT_EQ(Only(1), (Bytes{0x4D, 0x0F, 0, 0, 0, 0x01, 0x01, 0, 0, 0, 0}));
  EXPECT_EQ(OnCopy(), (Bytes{0x0E, 0, 0, 0, 0x01}));
  EXPECT_EQ(OffCopy(), (Bytes{0x0E, 0, 0, 0, 0x01}));
}

TEST_F(OutputsTest, BrightnessAndPulses) {
  ASSERT_NE(board_.SetOutputBrightness(7), 0);
  ASSERT_NE(board_.PulseOutput(0x11, 0x22), 0);
  ASSERT_NE(board_.PulseOffOutput(0x33, 0x44), 0);
  script_->Reply(1, 0x50, {0x50, 0, 0xF1, 0xF2, 0xF3});
  unsigned char first = 0;
  int second = 0, third = 0;
  ASSERT_NE(board_.PulseOutputResult(&first, &second, &third), 0);
  const auto sent = script_->SentOn(1);
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[0].bytes, (Bytes{0x55, 7}));
  EXPECT_EQ(sent[1].bytes, (Bytes{0x4E, 0x22, 0x11}));
  EXPECT_EQ(sent[2].bytes, (Bytes{0x4F, 0x44, 0x33}));
  EXPECT_EQ(first, 0xF1);
  EXPECT_EQ(second, 0xF2);
  EXPECT_EQ(third, 0xF3);
}

}  // namespace
}  // namespace vantrel::testing
