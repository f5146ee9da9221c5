// The host layer over the simulated bus: arrivals and departures, transfers
// that wait for data, cancel and abort, and the descriptor parser.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include "k27sim/SimUsb.h"
#include "vantrel/usbhost/Backends.h"

namespace vantrel::usbhost {
namespace {

using namespace std::chrono_literals;

// A device with one bulk pair: bytes written to 0x01 come back on 0x81.
class EchoDevice final : public vantrel::sim::SimUsbDevice {
 public:
  std::uint16_t VendorId() const override { return 0x1234; }
  std::uint16_t ProductId() const override { return 0x5678; }
  vantrel::sim::UsbTransferOutcome Control(const vantrel::sim::UsbSetup& setup,
                                           std::span<std::uint8_t> data) override {
    if (setup.requestType == 0x80 && setup.request == 6 && (setup.value >> 8) == 2) {
      const std::uint8_t config[] = {9,  2, 32, 0,    1, 1,    0, 0x80, 50, 9,    4,
                                     0,  0, 2,  0xFF, 0, 0,    0, 7,    5,  0x81, 2,
                                     64, 0, 0,  7,    5, 0x01, 2, 64,   0,  0};
      const std::size_t n = std::min(data.size(), sizeof config);
      std::copy_n(config, n, data.begin());
      return {vantrel::sim::UsbOutcome::Ack, n};
    }
    if ((setup.requestType & 0x60) == 0x40) return {vantrel::sim::UsbOutcome::Stall, 0};
    return {vantrel::sim::UsbOutcome::Ack, 0};
  }
  vantrel::sim::UsbTransferOutcome Out(std::uint8_t, std::span<const std::uint8_t> data) override {
    {
      std::lock_guard lock(mutex_);
      queued_.emplace_back(data.begin(), data.end());
    }
    NotifyDataReady();
    return {vantrel::sim::UsbOutcome::Ack, data.size()};
  }
  vantrel::sim::UsbTransferOutcome In(std::uint8_t, std::span<std::uint8_t> buffer) override {
    std::lock_guard lock(mutex_);
    if (queued_.empty()) return {vantrel::sim::UsbOutcome::Nak, 0};
    auto bytes = queued_.front();
    queued_.pop_front();
    const std::size_t n = std::min(buffer.size(), bytes.size());
    std::copy_n(bytes.begin(), n, buffer.begin());
    return {vantrel::sim::UsbOutcome::Ack, n};
  }

 private:
  std::mutex mutex_;
  std::deque<std::vector<std::uint8_t>> queued_;
};

struct Recorder {
  std::mutex mutex;
  std::vector<std::shared_ptr<UsbDevice>> arrived;
  std::vector<DeviceIdentity> departed;
  std::vector<PnpRequest> requests;
  UsbBus::Events Events() {
    return {[this](std::shared_ptr<UsbDevice> d) {
              std::lock_guard lock(mutex);
              arrived.push_back(std::move(d));
            },
            [this](const DeviceIdentity& id) {
              std::lock_guard lock(mutex);
              departed.push_back(id);
            },
            [this](const DeviceIdentity&, PnpRequest r) {
              std::lock_guard lock(mutex);
              requests.push_back(r);
            }};
  }
  template <typename Pred>
  bool WaitUntil(Pred pred) {
    for (int i = 0; i < 500; ++i) {
      {
        std::lock_guard lock(mutex);
        if (pred()) return true;
      }
      std::this_thread::sleep_for(2ms);
    }
    return false;
  }
};

TransferRequest Bulk(std::uint8_t endpoint, std::span<std::uint8_t> data) {
  TransferRequest request;
  request.type = TransferType::Bulk;
  request.endpoint = endpoint;
  request.data = data;
  return request;
}

class SimBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_.Plug(1, std::make_shared<EchoDevice>());
    host_ = MakeSimBus(bus_);
    host_->Start(recorder_.Events());
    ASSERT_TRUE(recorder_.WaitUntil([&] { return recorder_.arrived.size() == 1; }));
    device_ = recorder_.arrived[0];
  }
  void TearDown() override { host_->Stop(); }

  vantrel::sim::SimUsbBus bus_{4};
  Recorder recorder_;
  std::unique_ptr<SimHostBus> host_;
  std::shared_ptr<UsbDevice> device_;
};

TEST_F(SimBackendTest, InTransferWaitsForDataFromAnotherThread) {
  std::vector<std::uint8_t> in(64);
  auto reading = device_->Submit(Bulk(0x81, in));
  EXPECT_FALSE(reading->WaitFor(30ms));
  std::vector<std::uint8_t> out = {1, 2, 3};
  auto writing = std::async(std::launch::async, [&] {
    auto t = device_->Submit(Bulk(0x01, out));
    t->Wait();
    return t->Result().status;
  });
  EXPECT_EQ(writing.get(), USBD_STATUS_SUCCESS);
  ASSERT_TRUE(reading->WaitFor(2s));
  EXPECT_EQ(reading->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(reading->Result().transferred, 3u);
  EXPECT_EQ(in[2], 3);
}

TEST_F(SimBackendTest, CancelAndAbortEndWaitingTransfers) {
  std::vector<std::uint8_t> a(8), b(8), c(8);
  auto first = device_->Submit(Bulk(0x81, a));
  first->Cancel();
  ASSERT_TRUE(first->WaitFor(1s));
  EXPECT_EQ(first->Result().status, USBD_STATUS_CANCELED);

  auto second = device_->Submit(Bulk(0x81, b));
  auto third = device_->Submit(Bulk(0x81, c));
  device_->AbortEndpoint(0x81);
  EXPECT_TRUE(second->Completed());
  EXPECT_TRUE(third->Completed());
  EXPECT_EQ(third->Result().status, USBD_STATUS_CANCELED);

  // A reply that arrives later goes to the next reader, not a cancelled one.
  std::vector<std::uint8_t> out = {9};
  device_->Submit(Bulk(0x01, out))->Wait();
  std::vector<std::uint8_t> d(8);
  auto fourth = device_->Submit(Bulk(0x81, d));
  ASSERT_TRUE(fourth->WaitFor(1s));
  EXPECT_EQ(d[0], 9);
}

TEST_F(SimBackendTest, ShortTransferIsAnErrorOnlyWhenAsked) {
  std::vector<std::uint8_t> out = {7};
  device_->Submit(Bulk(0x01, out))->Wait();
  std::vector<std::uint8_t> in(8);
  auto request = Bulk(0x81, in);
  request.shortTransferOk = false;
  auto reading = device_->Submit(request);
  ASSERT_TRUE(reading->WaitFor(1s));
  EXPECT_EQ(reading->Result().status, USBD_STATUS_ERROR_SHORT_TRANSFER);
}

TEST_F(SimBackendTest, ConfigurationListsEndpointsAndVendorRequestsStall) {
  InterfaceInfo info;
  ASSERT_EQ(device_->SelectConfiguration(1, 0, 0, &info), USBD_STATUS_SUCCESS);
  ASSERT_EQ(info.endpoints.size(), 2u);
  EXPECT_EQ(info.endpoints[0].address, 0x81);
  EXPECT_EQ(info.endpoints[1].address, 0x01);
  EXPECT_EQ(info.interfaceClass, 0xFF);
  EXPECT_NE(device_->SelectInterface(0, 1, &info), USBD_STATUS_SUCCESS);

  TransferRequest vendor;
  vendor.type = TransferType::Control;
  vendor.setup = {0x40, 0xA0, 0x7F92, 0, 1};
  std::uint8_t byte = 1;
  vendor.data = {&byte, 1};
  auto t = device_->Submit(vendor);
  ASSERT_TRUE(t->WaitFor(1s));
  EXPECT_EQ(t->Result().status, USBD_STATUS_STALL_PID);
}

TEST_F(SimBackendTest, UnplugEndsWaitingTransfersAndLaterOnes) {
  std::vector<std::uint8_t> in(8);
  auto waiting = device_->Submit(Bulk(0x81, in));
  bus_.Unplug(1);
  ASSERT_TRUE(waiting->WaitFor(2s));
  EXPECT_EQ(waiting->Result().status, USBD_STATUS_DEVICE_GONE);
  ASSERT_TRUE(recorder_.WaitUntil([&] { return recorder_.departed.size() == 1; }));
  EXPECT_EQ(recorder_.departed[0].Location(), "1-1");
  auto later = device_->Submit(Bulk(0x81, in));
  EXPECT_TRUE(later->Completed());
  EXPECT_EQ(later->Result().status, USBD_STATUS_DEVICE_GONE);

  bus_.Unplug(1);  // nothing there: no second departure
  bus_.Plug(3, std::make_shared<EchoDevice>());
  ASSERT_TRUE(recorder_.WaitUntil([&] { return recorder_.arrived.size() == 2; }));
  EXPECT_EQ(recorder_.arrived[1]->Identity().portPath, (std::vector<std::uint8_t>{3}));
  EXPECT_EQ(recorder_.departed.size(), 1u);

  host_->DeliverRequest(3, PnpRequest::Stop);
  ASSERT_TRUE(recorder_.WaitUntil([&] { return recorder_.requests.size() == 1; }));
}

TEST(SimBackendStopTest, AHandlerMayStopTheBusWhichThenStartsAgain) {
  vantrel::sim::SimUsbBus bus{4};
  bus.Plug(1, std::make_shared<EchoDevice>());
  auto host = MakeSimBus(bus);
  Recorder recorder;
  UsbBus::Events events = recorder.Events();
  events.arrived = [&, record = events.arrived](std::shared_ptr<UsbDevice> device) {
    record(std::move(device));
    host->Stop();  // from the event thread itself
  };
  host->Start(events);
  ASSERT_TRUE(recorder.WaitUntil([&] { return recorder.arrived.size() == 1; }));

  // Started again, the bus reports the device anew, and the one reported
  // before the stop is gone.
  host->Start(recorder.Events());
  ASSERT_TRUE(recorder.WaitUntil([&] { return recorder.arrived.size() == 2; }));
  std::uint8_t byte = 0;
  auto transfer = recorder.arrived[0]->Submit(Bulk(0x01, {&byte, 1}));
  ASSERT_TRUE(transfer->WaitFor(5s));
  EXPECT_EQ(transfer->Result().status, USBD_STATUS_DEVICE_GONE);
  host->Stop();
}

TEST(ParseInterfaceTest, FindsTheSettingAndNeverReadsPastTheEnd) {
  std::vector<std::uint8_t> config = {9,    2, 41,   0, 1, 1, 0,    0x80, 50,   9, 4,    0,    0, 1,
                                      0xFF, 0, 0,    0, 7, 5, 0x81, 2,    64,   0, 0,    9,    4, 0,
                                      1,    1, 0xFF, 0, 0, 0, 7,    5,    0x82, 1, 0x00, 0x02, 1};
  InterfaceInfo info;
  ASSERT_TRUE(ParseInterface(config, -1, -1, &info));
  ASSERT_EQ(info.endpoints.size(), 1u);
  EXPECT_EQ(info.endpoints[0].address, 0x81);
  ASSERT_TRUE(ParseInterface(config, 0, 1, &info));
  EXPECT_EQ(info.endpoints[0].type, EndpointType::Isochronous);
  EXPECT_EQ(info.endpoints[0].maxPacketSize, 512);
  EXPECT_FALSE(ParseInterface(config, 0, 2, &info));

  // A length running past the end stops the walk without reading beyond it.
  config[34] = 200;
  ASSERT_TRUE(ParseInterface(config, 0, 1, &info));
  EXPECT_TRUE(info.endpoints.empty());
  config[9] = 0;  // a zero length ends the walk
  EXPECT_FALSE(ParseInterface(config, 0, 0, &info));
}

}  // namespace
}  // namespace vantrel::usbhost
