#include <gtest/gtest.h>

#include <string>

#include "SimTestSupport.h"
#include "SimUsbTestSupport.h"
#include "k27sim/SimUsbBoard.h"

namespace vantrel::sim::test {
namespace {

std::string StringText(const Bytes& descriptor) {
  std::string text;
  for (std::size_t i = 2; i + 1 < descriptor.size(); i += 2)
    text += static_cast<char>(descriptor[i]);
  return text;
}

class SimUsbBoardTest : public ::testing::Test {
 protected:
  std::shared_ptr<SimBoard> board = std::make_shared<SimBoard>();
  SimUsbBoard usb{board, kBoardVendor, kBoardProduct};
  Bytes buffer = Bytes(64);

  void Configure() { ASSERT_EQ(SetConfiguration(usb, 1), UsbOutcome::Ack); }
  UsbTransferOutcome In(std::uint8_t endpoint) { return usb.In(endpoint, buffer); }
  Bytes Received(const UsbTransferOutcome& done) const {
    return Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(done.length));
  }
};

TEST_F(SimUsbBoardTest, DescriptorsAsTheHostReadsThem) {
  EXPECT_EQ(usb.VendorId(), kBoardVendor);
  EXPECT_EQ(usb.ProductId(), kBoardProduct);

  const ControlResult device = GetDescriptor(usb, 1, 0, 64);
  ASSERT_EQ(device.outcome, UsbOutcome::Ack);
  EXPECT_EQ(device.bytes, (Bytes{18, 1, 0x00, 0x01, 0, 0, 0, 64, 0x50, 0x1D, 0x27, 0x61, 0x01, 0x00,
                                 1, 2, 0, 1}));
  EXPECT_EQ(GetDescriptor(usb, 1, 0, 8).bytes.size(), 8u);

  const ControlResult head = GetDescriptor(usb, 2, 0, 9);
  ASSERT_EQ(head.bytes.size(), 9u);
  const std::uint16_t total = static_cast<std::uint16_t>(head.bytes[2] | head.bytes[3] << 8);
  EXPECT_EQ(total, 116);
  const ControlResult whole = GetDescriptor(usb, 2, 0, total + 16);
  ASSERT_EQ(whole.bytes.size(), 116u);
  EXPECT_EQ(Bytes(whole.bytes.begin(), whole.bytes.begin() + 9),
            (Bytes{9, 2, 116, 0, 1, 1, 0, 0x80, 50}));
  EXPECT_EQ(Bytes(whole.bytes.begin() + 9, whole.bytes.begin() + 18),
            (Bytes{9, 4, 0, 0, 14, 0xFF, 0, 0, 0}));
  const Bytes expectedOrder{0x81, 0x01, 0x82, 0x02, 0x83, 0x03, 0x84,
                            0x04, 0x85, 0x05, 0x86, 0x06, 0x87, 0x07};
  for (std::size_t i = 0; i < expectedOrder.size(); ++i) {
    const auto at = whole.bytes.begin() + 18 + static_cast<std::ptrdiff_t>(7 * i);
    EXPECT_EQ(Bytes(at, at + 7), (Bytes{7, 5, expectedOrder[i], 0x02, 64, 0, 0}))
        << "endpoint " << i;
  }

  EXPECT_EQ(GetDescriptor(usb, 2, 1, 9).outcome, UsbOutcome::Stall);  // one configuration only
  EXPECT_EQ(GetDescriptor(usb, 6, 0, 10).outcome,
            UsbOutcome::Stall);  // no device qualifier (USB 1.0)
}

TEST_F(SimUsbBoardTest, StringDescriptorsInUtf16) {
  EXPECT_EQ(GetDescriptor(usb, 3, 0, 255).bytes, (Bytes{4, 3, 0x09, 0x04}));
  const ControlResult manufacturer = GetDescriptor(usb, 3, 1, 255);
  ASSERT_EQ(manufacturer.bytes.size(), 22u);
  EXPECT_EQ(manufacturer.bytes[0], 22);
  EXPECT_EQ(manufacturer.bytes[1], 3);
  EXPECT_EQ(manufacturer.bytes[3], 0);  // high byte of 'V'
  EXPECT_EQ(StringText(manufacturer.bytes), "Velto Ltd.");
  EXPECT_EQ(StringText(GetDescriptor(usb, 3, 2, 255).bytes), "Vantrel K27 Board");
  EXPECT_EQ(StringText(GetDescriptor(usb, 3, 3, 255).bytes), "Vantrel Default Interface");
  EXPECT_EQ(GetDescriptor(usb, 3, 2, 2).bytes, (Bytes{36, 3}));  // the length first, as hosts ask
  EXPECT_EQ(GetDescriptor(usb, 3, 4, 255).outcome, UsbOutcome::Stall);
}

TEST_F(SimUsbBoardTest, ServesNoVendorOrClassRequest) {
  EXPECT_EQ(VendorWrite(usb, 0xA0, 0x7F92, {1}), UsbOutcome::Stall);
  EXPECT_EQ(VendorRead(usb, 0xA3, 0x2000, 16).outcome, UsbOutcome::Stall);
  EXPECT_EQ(VendorRead(usb, 0x06, 0, 8).outcome, UsbOutcome::Stall);
  EXPECT_EQ(ControlIn(usb, 0xA1, 0x01, 0, 0, 8).outcome, UsbOutcome::Stall);  // class, interface
  EXPECT_EQ(ControlOut(usb, 0x00, 5, 7, 0), UsbOutcome::Stall);            // SET_ADDRESS: not known
  EXPECT_EQ(ControlIn(usb, 0x80, 0, 0, 0, 2).outcome, UsbOutcome::Stall);  // GET_STATUS: not known
}

TEST_F(SimUsbBoardTest, ConfigurationAndInterfaceSettings) {
  EXPECT_EQ(ControlIn(usb, 0x80, 8, 0, 0, 1).bytes, Bytes{0});
  EXPECT_EQ(ControlOut(usb, 0x01, 11, 0, 0), UsbOutcome::Stall);  // no interface before configuring
  EXPECT_EQ(SetConfiguration(usb, 2), UsbOutcome::Stall);
  Configure();
  EXPECT_EQ(ControlIn(usb, 0x80, 8, 0, 0, 1).bytes, Bytes{1});
  EXPECT_EQ(usb.Configuration(), 1);

  EXPECT_EQ(ControlOut(usb, 0x01, 11, 0, 0), UsbOutcome::Ack);
  EXPECT_EQ(ControlOut(usb, 0x01, 11, 1, 0), UsbOutcome::Stall);  // alternate setting 1
  EXPECT_EQ(ControlOut(usb, 0x01, 11, 0, 1), UsbOutcome::Stall);  // interface 1

  EXPECT_EQ(SetConfiguration(usb, 0), UsbOutcome::Ack);
  EXPECT_EQ(ControlIn(usb, 0x80, 8, 0, 0, 1).bytes, Bytes{0});
  EXPECT_EQ(usb.Out(0x02, Bytes{0x06}).outcome, UsbOutcome::Stall);  // endpoints are gone again

  Configure();
  usb.PortReset();
  EXPECT_EQ(usb.Configuration(), 0);
}

TEST_F(SimUsbBoardTest, BulkExchangeNaksUntilTheReplyIsThere) {
  int dataReady = 0;
  usb.SetDataReadyCallback([&] { ++dataReady; });
  EXPECT_EQ(usb.Out(0x02, Bytes{0x06}).outcome, UsbOutcome::Stall);  // not configured
  Configure();

  EXPECT_EQ(In(0x82).outcome, UsbOutcome::Nak);
  const UsbTransferOutcome sent = usb.Out(0x02, Bytes{0x06});
  EXPECT_EQ(sent.outcome, UsbOutcome::Ack);
  EXPECT_EQ(sent.length, 1u);
  EXPECT_EQ(dataReady, 1);

  EXPECT_EQ(In(0x81).outcome, UsbOutcome::Nak);  // another channel has nothing
  const UsbTransferOutcome reply = In(0x82);
  ASSERT_EQ(reply.outcome, UsbOutcome::Ack);
  const Bytes bytes = Received(reply);
  ASSERT_GE(bytes.size(), 3u);
  EXPECT_EQ(bytes[0], 0x06);
  EXPECT_EQ(bytes[1], kOk);
  EXPECT_EQ(In(0x82).outcome, UsbOutcome::Nak);  // read once

  // A command without reply queues nothing and wakes nobody.
  board->InjectFault(2, 0x06, {.kind = FaultKind::NoReply});
  usb.Out(0x02, Bytes{0x06});
  EXPECT_EQ(dataReady, 1);
  EXPECT_EQ(In(0x82).outcome, UsbOutcome::Nak);

  // Endpoints the configuration lacks, and the wrong direction, stall.
  EXPECT_EQ(usb.Out(0x08, Bytes{0x06}).outcome, UsbOutcome::Stall);
  EXPECT_EQ(usb.Out(0x82, Bytes{0x06}).outcome, UsbOutcome::Stall);
  EXPECT_EQ(In(0x02).outcome, UsbOutcome::Stall);
  EXPECT_EQ(board->CommandCount(2), 2u);
}

TEST_F(SimUsbBoardTest, TransferOfSeveralPacketsIsOneCommand) {
  Configure();
  Bytes command(100, 0);
  command[0] = 0x47;
  EXPECT_EQ(usb.Out(0x06, command).length, 100u);
  EXPECT_EQ(board->CommandCount(6), 1u);
  const UsbTransferOutcome reply = In(0x86);
  EXPECT_EQ(Received(reply), (Bytes{0x47, kLengthError}));
}

TEST_F(SimUsbBoardTest, ReplyLongerThanTheBufferIsReadInParts) {
  Configure();
  board->InjectFault(2, 0x06, {.kind = FaultKind::Long});
  usb.Out(0x02, Bytes{0x06});
  const UsbTransferOutcome first = In(0x82);
  EXPECT_EQ(first.length, 64u);
  EXPECT_EQ(buffer[0], 0x06);
  EXPECT_EQ(In(0x82).length, 6u);
  EXPECT_EQ(In(0x82).outcome, UsbOutcome::Nak);

  board->InjectFault(2, 0x06, {.kind = FaultKind::Long});
  usb.Out(0x02, Bytes{0x06});
  Bytes large(128);
  EXPECT_EQ(usb.In(0x82, large).length, 70u);  // the short last packet ends it

  // A new command drops what was left of the last reply.
  board->InjectFault(2, 0x06, {.kind = FaultKind::Long});
  usb.Out(0x02, Bytes{0x06});
  In(0x82);
  usb.Out(0x02, Bytes{0x03});
  const Bytes next = Received(In(0x82));
  ASSERT_FALSE(next.empty());
  EXPECT_EQ(next[0], 0x03);
}

TEST_F(SimUsbBoardTest, StalledEndpointStaysHaltedUntilClearHalt) {
  Configure();
  board->InjectFault(6, 0x49, {.kind = FaultKind::Stall});
  usb.Out(0x06, Bytes{0x49});
  EXPECT_EQ(In(0x86).outcome, UsbOutcome::Stall);
  EXPECT_EQ(In(0x86).outcome, UsbOutcome::Stall);
  EXPECT_EQ(In(0x82).outcome, UsbOutcome::Nak);  // other endpoints go on

  // The OUT endpoint still takes commands; their replies wait behind the halt.
  EXPECT_EQ(usb.Out(0x06, WriteRequest(0x47, 0x10, {7})).outcome, UsbOutcome::Ack);
  EXPECT_EQ(In(0x86).outcome, UsbOutcome::Stall);
  EXPECT_EQ(ClearHalt(usb, 0x08), UsbOutcome::Stall);  // no such endpoint
  EXPECT_EQ(ClearHalt(usb, 0x86), UsbOutcome::Ack);
  EXPECT_EQ(Received(In(0x86)), (Bytes{0x47, kOk}));
  EXPECT_EQ(board->Sram(0x10, 1), Bytes{7});
}

TEST(SimUsbBoardDescriptorBlock, BuiltBlockReadsBack) {
  const Bytes block = BuildBoardDescriptorBlock(kBoardVendor, kBoardProduct);
  Bytes padded = block;
  padded.insert(padded.end(), 40, 0xEE);  // what follows in memory
  const std::optional<UsbDescriptors> parsed = ParseDescriptorBlock(padded);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->blockBytes, block.size());
  EXPECT_EQ(parsed->VendorId(), kBoardVendor);
  EXPECT_EQ(parsed->ProductId(), kBoardProduct);
  EXPECT_EQ(parsed->configuration.size(), 116u);
  ASSERT_EQ(parsed->strings.size(), 4u);
  ASSERT_EQ(parsed->endpoints.size(), 14u);
  EXPECT_EQ(parsed->endpoints[0].address, 0x81);
  EXPECT_EQ(parsed->endpoints[13].address, 0x07);
  EXPECT_EQ(parsed->endpoints[13].maxPacketSize, 64);
  EXPECT_EQ(parsed->interfaceSettings, (std::vector<UsbInterfaceSetting>{{0, 0}}));
}

TEST(SimUsbBoardDescriptorBlock, CutOrDamagedBlocksAreRefused) {
  const Bytes block = BuildBoardDescriptorBlock(kBoardVendor, kBoardProduct);
  // Cut anywhere (each copy exactly as long, so that a read past it shows).
  for (std::size_t n = 0; n < block.size(); ++n) {
    const Bytes cut(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_FALSE(ParseDescriptorBlock(cut)) << "cut to " << n;
  }
  auto damaged = [&](std::size_t offset, std::uint8_t value) {
    Bytes copy = block;
    copy[offset] = value;
    return ParseDescriptorBlock(copy).has_value();
  };
  EXPECT_FALSE(damaged(0, 17));                // device descriptor length
  EXPECT_FALSE(damaged(18 + 2, 117));          // wTotalLength beyond the endpoints
  EXPECT_FALSE(damaged(18 + 2, 115));          // wTotalLength cutting the last one
  EXPECT_FALSE(damaged(18 + 9 + 4, 13));       // one endpoint more than announced
  EXPECT_FALSE(damaged(18 + 9 + 4, 15));       // one endpoint fewer
  EXPECT_FALSE(damaged(18 + 4, 2));            // two interfaces announced
  EXPECT_FALSE(damaged(15, 5));                // iProduct names a string not there
  EXPECT_FALSE(damaged(18 + 116, 0));          // a string descriptor of no length
  EXPECT_FALSE(damaged(18 + 116 + 4, 0xFE));   // a string running past the block
  EXPECT_FALSE(damaged(block.size() - 1, 1));  // no end marker
}

}  // namespace
}  // namespace vantrel::sim::test
