// The emulated bus's own behaviour as libusb sees it: enumeration as the
// kernel does it, and the faults a device can be given.
#include "UmockdevFixture.h"

namespace vantrel::usbhost::umockdevtest {
namespace {

using EmulatedBus = Umockdev;

TEST_F(EmulatedBus, ArrivalIsConfiguredAndAComebackGetsANewDeviceNumber) {
  EmulatedDevice& first = Plug(3);
  // The kernel's SET_CONFIGURATION 1, before any client opened the node.
  EXPECT_EQ(first.device->Configured(), std::vector<std::uint16_t>{1});
  EXPECT_TRUE(first.Configurations().empty());
  const int devnum = emulation_->DevnumAt(3);
  EXPECT_GT(devnum, 1);  // the root hub is 1
  Unplug(3);
  EXPECT_EQ(emulation_->DevnumAt(3), 0);
  EXPECT_EQ(emulation_->At(3), nullptr);
  Plug(3);
  EXPECT_GT(emulation_->DevnumAt(3), devnum);
  StartBus();
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  EXPECT_EQ(recorder_->Arrived().front()->Identity().Location(), "1-3");
  EXPECT_EQ(emulation_->Arrivals(), 2);
}

TEST_F(EmulatedBus, AStalledDeviceStallsEveryTransferUntilTheFaultIsCleared) {
  EmulatedDevice* emulated = nullptr;
  auto device = StartWithBoard(&emulated);
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_SUCCESS);
  emulated->usbfs->SetStall(true);
  std::vector<std::uint8_t> id(4);
  auto read = Control(*device, 0xC0, EchoDevice::kReadId, 1, id);
  ASSERT_TRUE(read->WaitFor(5s));
  EXPECT_EQ(read->Result().status, USBD_STATUS_STALL_PID);
  std::vector<std::uint8_t> out = {1, 2, 3};
  auto sent = Bulk(*device, 0x02, out);
  ASSERT_TRUE(sent->WaitFor(5s));
  EXPECT_EQ(sent->Result().status, USBD_STATUS_STALL_PID);
  EXPECT_TRUE(emulated->device->Written().empty());

  emulated->usbfs->SetStall(false);
  auto again = Control(*device, 0xC0, EchoDevice::kReadId, 1, id);
  ASSERT_TRUE(again->WaitFor(5s));
  EXPECT_EQ(again->Result().status, USBD_STATUS_SUCCESS);
}

TEST_F(EmulatedBus, ANakingDeviceHoldsTransfersUntilTheyAreCancelled) {
  EmulatedDevice* emulated = nullptr;
  auto device = StartWithBoard(&emulated);
  ASSERT_NE(device, nullptr);
  emulated->usbfs->SetNak(true);
  std::vector<std::uint8_t> id(4);
  auto read = Control(*device, 0xC0, EchoDevice::kReadId, 1, id);
  EXPECT_FALSE(read->WaitFor(200ms));
  EXPECT_EQ(emulated->WaitingIn(), 1u);
  read->Cancel();
  ASSERT_TRUE(read->WaitFor(5s));
  EXPECT_EQ(read->Result().status, USBD_STATUS_CANCELED);
  EXPECT_EQ(emulated->Discarded(), 1u);
}

TEST_F(EmulatedBus, ADeviceThatAnswersNoDeviceFailsItsTransfers) {
  EmulatedDevice* emulated = nullptr;
  auto device = StartWithBoard(&emulated);
  ASSERT_NE(device, nullptr);
  emulated->usbfs->SetNoDevice(true);
  std::vector<std::uint8_t> id(4);
  auto read = Control(*device, 0xC0, EchoDevice::kReadId, 1, id);
  ASSERT_TRUE(read->WaitFor(5s));
  EXPECT_EQ(read->Result().status, USBD_STATUS_DEVICE_GONE);
}

TEST_F(EmulatedBus, ABoundKernelDriverIsDisconnectedByTheClaim) {
  EmulatedDevice& emulated = Plug(3);
  emulated.usbfs->BindDriver("usbhid");
  StartBus();
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  auto device = recorder_->Arrived().front();
  ASSERT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_SUCCESS);
  EXPECT_EQ(emulated.usbfs->DetachedDrivers(), std::vector<std::string>{"usbhid"});
  EXPECT_EQ(emulated.Claimed(), std::vector<unsigned>{0});
  EXPECT_EQ(emulated.ClaimAttempts(), 1);
}

}  // namespace
}  // namespace vantrel::usbhost::umockdevtest
