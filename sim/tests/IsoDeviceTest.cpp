// The simulated isochronous device: its descriptors, the counting pattern of
// its IN endpoint, its OUT sink, and per-packet faults.
#include <gtest/gtest.h>

#include "SimUsbTestSupport.h"
#include "k27sim/SimIsoDevice.h"

namespace vantrel::sim::test {
namespace {

constexpr std::uint8_t kGetDescriptor = 6, kSetConfiguration = 9;

class SimIsoDeviceTest : public ::testing::Test {
 protected:
  SimIsoDevice device{{kBoardVendor, kBoardProduct, 16}};

  void Configure() {
    ASSERT_EQ(ControlOut(device, 0x00, kSetConfiguration, 1, 0), UsbOutcome::Ack);
  }
  UsbTransferOutcome Iso(std::uint8_t endpoint, Bytes& buffer, std::vector<UsbIsoPacket>& packets,
                         std::uint32_t frame) {
    return device.Isochronous(endpoint, buffer, packets, frame);
  }
};

TEST_F(SimIsoDeviceTest, DescribesOneInterfaceWithAnIsochronousInAndOut) {
  const ControlResult config = ControlIn(device, 0x80, kGetDescriptor, 0x0200, 0, 255);
  ASSERT_EQ(config.outcome, UsbOutcome::Ack);
  ASSERT_EQ(config.bytes.size(), 32u);
  // Interface 0 with two endpoints, then 0x81 and 0x02, both isochronous.
  EXPECT_EQ(config.bytes[9 + 4], 2);
  EXPECT_EQ(config.bytes[18 + 2], SimIsoDevice::kInEndpoint);
  EXPECT_EQ(config.bytes[18 + 3], 1);
  EXPECT_EQ(config.bytes[25 + 2], SimIsoDevice::kOutEndpoint);
  EXPECT_EQ(config.bytes[25 + 3], 1);
  EXPECT_EQ(config.bytes[18 + 4], 16);  // wMaxPacketSize
  EXPECT_EQ(device.VendorId(), kBoardVendor);
}

TEST_F(SimIsoDeviceTest, InPacketsCountOnePerFrameAndStopAtThePacketSize) {
  Bytes buffer(64, 0xEE);
  std::vector<UsbIsoPacket> packets = {{0, 32, 0, false}};
  // Not configured yet: the endpoint does not exist.
  EXPECT_EQ(Iso(SimIsoDevice::kInEndpoint, buffer, packets, 7).outcome, UsbOutcome::Stall);
  Configure();
  packets = {{0, 32, 0, false}, {32, 12, 0, false}};
  const UsbTransferOutcome done = Iso(SimIsoDevice::kInEndpoint, buffer, packets, 7);
  ASSERT_EQ(done.outcome, UsbOutcome::Ack);
  EXPECT_EQ(done.length, 16u + 12u);
  EXPECT_EQ(packets[0].actualLength, 16u);  // the endpoint's packet size
  EXPECT_EQ(packets[1].actualLength, 12u);
  // Sequence 0 sent in frame 7, then the counting bytes.
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 10), (Bytes{0, 0, 0, 0, 7, 0, 0, 0, 8, 9}));
  EXPECT_EQ(buffer[16], 0xEE);
  EXPECT_EQ(Bytes(buffer.begin() + 32, buffer.begin() + 40), (Bytes{1, 0, 0, 0, 8, 0, 0, 0}));
  EXPECT_EQ(device.PacketsSent(), 2u);
  EXPECT_EQ(device.LastFrame(), 8u);
}

TEST_F(SimIsoDeviceTest, FaultsFailSinglePacketsAndLostOnesKeepTheirNumbers) {
  Configure();
  device.InjectPacketFaults(1);
  Bytes buffer(32, 0);
  std::vector<UsbIsoPacket> packets = {{0, 16, 0, false}, {16, 16, 0, false}};
  ASSERT_EQ(Iso(SimIsoDevice::kInEndpoint, buffer, packets, 0).outcome, UsbOutcome::Ack);
  EXPECT_TRUE(packets[0].error);
  EXPECT_EQ(packets[0].actualLength, 0u);
  EXPECT_FALSE(packets[1].error);
  EXPECT_EQ(buffer[16], 1);  // the second packet is number 1
  // A packet that lies outside the buffer fails too.
  packets = {{24, 16, 0, false}};
  ASSERT_EQ(Iso(SimIsoDevice::kInEndpoint, buffer, packets, 2).outcome, UsbOutcome::Ack);
  EXPECT_TRUE(packets[0].error);
}

TEST_F(SimIsoDeviceTest, TheOutEndpointKeepsWhatItIsSent) {
  Configure();
  Bytes buffer = {1, 2, 3, 4, 5, 6, 7, 8};
  std::vector<UsbIsoPacket> packets = {{4, 4, 0, false}, {0, 2, 0, false}};
  ASSERT_EQ(Iso(SimIsoDevice::kOutEndpoint, buffer, packets, 0).outcome, UsbOutcome::Ack);
  EXPECT_EQ(device.Received(), (Bytes{5, 6, 7, 8, 1, 2}));
  // Larger than the endpoint's packets: refused.
  Bytes large(17, 9);
  packets = {{0, 17, 0, false}};
  ASSERT_EQ(Iso(SimIsoDevice::kOutEndpoint, large, packets, 1).outcome, UsbOutcome::Ack);
  EXPECT_TRUE(packets[0].error);
  EXPECT_EQ(device.Received().size(), 6u);
  EXPECT_EQ(device.TransfersServed(), 2u);
  // It has no bulk or interrupt endpoints.
  EXPECT_EQ(device.Out(0x02, buffer).outcome, UsbOutcome::Stall);
}

}  // namespace
}  // namespace vantrel::sim::test
