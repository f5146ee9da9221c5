// Isochronous transfers on the simulated bus wait for their frames: each is
// scheduled on its endpoint after the one before it and completes once the
// frame counter has passed its last frame.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>

#include "k27sim/SimIsoDevice.h"
#include "k27sim/SimUsb.h"
#include "vantrel/usbhost/Backends.h"

namespace vantrel::usbhost {
namespace {

using namespace std::chrono_literals;

// Counts the port resets the host asks for.
class ResetCountingIsoDevice final : public vantrel::sim::SimIsoDevice {
 public:
  using SimIsoDevice::SimIsoDevice;
  void PortReset() override {
    ++resets;
    SimIsoDevice::PortReset();
  }
  std::atomic<int> resets{0};
};

class SimIsoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::promise<std::shared_ptr<UsbDevice>> arrived;
    host_ = MakeSimBus(bus_);
    host_->Start({[&](std::shared_ptr<UsbDevice> d) { arrived.set_value(std::move(d)); }, {}, {}});
    bus_.Plug(1, iso_);
    auto future = arrived.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    usb_ = future.get();
    InterfaceInfo info;
    ASSERT_EQ(usb_->SelectConfiguration(1, 0, 0, &info), USBD_STATUS_SUCCESS);
    ASSERT_EQ(info.endpoints.size(), 2u);
    EXPECT_EQ(info.endpoints[0].type, EndpointType::Isochronous);
  }
  void TearDown() override { host_->Stop(); }

  std::shared_ptr<PendingTransfer> SubmitIn(std::vector<std::uint8_t>& buffer,
                                            std::uint32_t packets) {
    TransferRequest request;
    request.type = TransferType::Isochronous;
    request.endpoint = vantrel::sim::SimIsoDevice::kInEndpoint;
    request.data = buffer;
    for (std::uint32_t i = 0; i < packets; ++i) request.isoPackets.push_back({i * 16, 16});
    return usb_->Submit(std::move(request));
  }

  vantrel::sim::SimUsbBus bus_{2};
  std::shared_ptr<ResetCountingIsoDevice> iso_ = std::make_shared<ResetCountingIsoDevice>(
      vantrel::sim::SimIsoDeviceOptions{0x1234, 0x5678, 16});
  std::unique_ptr<SimHostBus> host_;
  std::shared_ptr<UsbDevice> usb_;
};

TEST_F(SimIsoTest, TransfersCompleteOnlyOnceTheirFramesHavePassed) {
  std::vector<std::uint8_t> first(64), second(32);
  auto a = SubmitIn(first, 4);   // frames 0-3
  auto b = SubmitIn(second, 2);  // frames 4-5, after the first
  bus_.AdvanceFrames(3);
  EXPECT_FALSE(a->WaitFor(30ms));
  bus_.AdvanceFrames(1);
  ASSERT_TRUE(a->WaitFor(5s));
  EXPECT_EQ(a->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(a->Result().startFrame, 0u);
  ASSERT_EQ(a->Result().isoPackets.size(), 4u);
  EXPECT_EQ(a->Result().isoPackets[3].actualLength, 16u);
  EXPECT_FALSE(b->WaitFor(30ms));
  bus_.AdvanceFrames(2);
  ASSERT_TRUE(b->WaitFor(5s));
  EXPECT_EQ(b->Result().startFrame, 4u);
  EXPECT_EQ(second[0], 4);  // the device's fifth packet
  // A transfer submitted once the endpoint is idle starts at the current frame.
  bus_.AdvanceFrames(10);
  std::vector<std::uint8_t> third(16);
  auto c = SubmitIn(third, 1);
  bus_.AdvanceFrames(1);
  ASSERT_TRUE(c->WaitFor(5s));
  EXPECT_EQ(c->Result().startFrame, 16u);
}

TEST_F(SimIsoTest, AWaitingTransferEndsWhenCancelledAbortedOrTheDeviceLeaves) {
  std::vector<std::uint8_t> a(16), b(16), c(16);
  auto cancelled = SubmitIn(a, 1);
  cancelled->Cancel();
  ASSERT_TRUE(cancelled->WaitFor(5s));
  EXPECT_EQ(cancelled->Result().status, USBD_STATUS_CANCELED);
  auto aborted = SubmitIn(b, 1);
  usb_->AbortEndpoint(vantrel::sim::SimIsoDevice::kInEndpoint);
  ASSERT_TRUE(aborted->WaitFor(5s));
  EXPECT_EQ(aborted->Result().status, USBD_STATUS_CANCELED);
  auto gone = SubmitIn(c, 1);
  bus_.Unplug(1);
  ASSERT_TRUE(gone->WaitFor(5s));
  EXPECT_EQ(gone->Result().status, USBD_STATUS_DEVICE_GONE);
  EXPECT_EQ(iso_->TransfersServed(), 0u);
}

TEST_F(SimIsoTest, FramesOfCancelledAndAbortedTransfersAreFreeAgain) {
  std::vector<std::uint8_t> booked(1000 * 16), small(16), later(16);
  auto cancelled = SubmitIn(booked, 1000);  // frames 0-999
  cancelled->Cancel();
  ASSERT_TRUE(cancelled->WaitFor(5s));
  auto next = SubmitIn(small, 1);
  bus_.AdvanceFrames(1);
  ASSERT_TRUE(next->WaitFor(5s));
  EXPECT_EQ(next->Result().startFrame, 0u);

  auto aborted = SubmitIn(booked, 1000);  // frames 1-1000
  usb_->AbortEndpoint(vantrel::sim::SimIsoDevice::kInEndpoint);
  ASSERT_TRUE(aborted->WaitFor(5s));
  auto after = SubmitIn(later, 1);
  bus_.AdvanceFrames(1);
  ASSERT_TRUE(after->WaitFor(5s));
  EXPECT_EQ(after->Result().startFrame, 1u);
}

TEST_F(SimIsoTest, APortResetEndsTransfersResetsTheDeviceAndKeepsItsConfiguration) {
  std::vector<std::uint8_t> booked(100 * 16), small(16);
  auto waiting = SubmitIn(booked, 100);
  EXPECT_EQ(usb_->ResetPort(), USBD_STATUS_SUCCESS);
  ASSERT_TRUE(waiting->WaitFor(5s));
  EXPECT_EQ(waiting->Result().status, USBD_STATUS_CANCELED);
  EXPECT_EQ(iso_->resets.load(), 1);
  // Configured again: the endpoint serves the next transfer, at once.
  const std::uint32_t now = bus_.FrameNumber();
  auto next = SubmitIn(small, 1);
  bus_.AdvanceFrames(1);
  ASSERT_TRUE(next->WaitFor(5s));
  EXPECT_EQ(next->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(next->Result().startFrame, now);
  bus_.Unplug(1);
  EXPECT_EQ(usb_->ResetPort(), USBD_STATUS_DEVICE_GONE);
}

}  // namespace
}  // namespace vantrel::usbhost
