// The ccTalk frame code's failure texts, as k27ctl reports them.
#include <gtest/gtest.h>

#include "PlainText.h"

namespace vantrel::ctl {
namespace {

TEST(PlainTextTest, FrameFailuresReadAsWhatHappened) {
  EXPECT_EQ(PlainText("CcctalkMessage::send () { error: local echo expected - received "
                      "unequivalent data }"),
            "the bus did not echo the request as sent (a fault on the line, or another sender)");
  // A receive failure inside the echo check: the cause wins.
  EXPECT_EQ(PlainText("CcctalkMessage::send () { error: local echo expected - "
                      "CcctalkMessage::receive () { error: no 12V power }  }"),
            "no 12V power on the ccTalk bus: no device can answer");
  EXPECT_EQ(PlainText("CcctalkMessage::send () { Vantrel.Send (} = error:USB_DEVICE_WRITE_ERROR }"),
            "Send: USB_DEVICE_WRITE_ERROR");
  EXPECT_EQ(PlainText("CcctalkMessage::validate () { checksum error }"),
            "the reply's checksum is wrong");
  EXPECT_EQ(PlainText("Other::call () { error: something new }"), "something new");
  // Texts for people pass as they are.
  EXPECT_EQ(PlainText("GetClock: USB_DEVICE_BYTE_COUNT_ERROR"),
            "GetClock: USB_DEVICE_BYTE_COUNT_ERROR");
}

}  // namespace
}  // namespace vantrel::ctl
