// The libusb backend against devices on the emulated USB bus (emulation/):
// umockdev sysfs records with the descriptors, and usbfs nodes that answer
// libusb's ioctls as the kernel would for a simulated device behind them.
// Runs under umockdev-wrapper, in the same process as the emulation; libusb
// itself is unmodified. No real USB device is ever looked at: outside
// umockdev-wrapper the tests are skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "emulation/EmulatedUsbBus.h"
#include "emulation/SysfsRecord.h"
#include "libusb/LibusbBus.h"
#include "vantrel/usbhost/Backends.h"

namespace vantrel::usbhost {
namespace {

using namespace std::chrono_literals;
using emulation::EmulatedUsbBus;
using emulation::UsbfsDevice;

constexpr std::uint16_t kVendor = 0x1234;
constexpr std::uint16_t kProduct = 0x5678;

// Device 1234:5678, one configuration; interface 0 setting 0 has bulk OUT
// 0x02 and bulk IN 0x86 (64 bytes), setting 1 an interrupt IN 0x81.
const std::vector<std::uint8_t> kDeviceDescriptor = {0x12, 0x01, 0x00, 0x02, 0xFF, 0x00,
                                                     0x00, 0x40, 0x34, 0x12, 0x78, 0x56,
                                                     0x00, 0x01, 0x01, 0x02, 0x03, 0x01};
const std::vector<std::uint8_t> kConfiguration = {
    0x09, 0x02, 0x30, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32,  // configuration 1
    0x09, 0x04, 0x00, 0x00, 0x02, 0xFF, 0x00, 0x00, 0x00,  // interface 0, setting 0
    0x07, 0x05, 0x02, 0x02, 0x40, 0x00, 0x00,              // bulk OUT 0x02
    0x07, 0x05, 0x86, 0x02, 0x40, 0x00, 0x00,              // bulk IN 0x86
    0x09, 0x04, 0x00, 0x01, 0x01, 0xFF, 0x00, 0x00, 0x00,  // interface 0, setting 1
    0x07, 0x05, 0x81, 0x03, 0x08, 0x00, 0x0A};             // interrupt IN 0x81

// The device behind usbfs: vendor control requests, a bulk echo (what goes
// out on 0x02 comes back on 0x86; IN transfers wait for data) and an
// isochronous IN endpoint 0x83 / OUT endpoint 0x03.
class EchoDevice : public k27sim::SimUsbDevice {
 public:
  // Control requests it knows.
  static constexpr std::uint8_t kReadId = 0x01;  // IN: "K27" + low byte of wValue
  static constexpr std::uint8_t kWrite = 0x02;   // OUT: kept
  static constexpr std::uint8_t kStall = 0x03;   // stalls

  std::uint16_t VendorId() const override { return kVendor; }
  std::uint16_t ProductId() const override { return kProduct; }

  std::vector<std::uint8_t> Written() {
    std::lock_guard lock(mutex_);
    return written_;
  }
  std::vector<std::uint8_t> IsoWritten() {
    std::lock_guard lock(mutex_);
    return isoWritten_;
  }

  k27sim::UsbTransferOutcome Control(const k27sim::UsbSetup& setup,
                                     std::span<std::uint8_t> data) override {
    std::lock_guard lock(mutex_);
    if ((setup.requestType & 0x60) == 0) {  // standard
      if (setup.request != 6) return {k27sim::UsbOutcome::Ack, 0};
      const auto& descriptor = (setup.value >> 8) == 1 ? kDeviceDescriptor : kConfiguration;
      const std::size_t n = std::min(descriptor.size(), data.size());
      std::copy_n(descriptor.begin(), n, data.begin());
      return {k27sim::UsbOutcome::Ack, n};
    }
    if (setup.request == kStall) return {k27sim::UsbOutcome::Stall, 0};
    if (setup.requestType == 0xC0 && setup.request == kReadId) {
      const std::uint8_t id[] = {'K', '2', '7', static_cast<std::uint8_t>(setup.value)};
      const std::size_t n = std::min(data.size(), sizeof id);
      std::memcpy(data.data(), id, n);
      return {k27sim::UsbOutcome::Ack, n};
    }
    if (setup.requestType == 0x40 && setup.request == kWrite) {
      written_.assign(data.begin(), data.end());
      return {k27sim::UsbOutcome::Ack, data.size()};
    }
    return {k27sim::UsbOutcome::Ack, 0};
  }
  k27sim::UsbTransferOutcome Out(std::uint8_t endpoint,
                                 std::span<const std::uint8_t> data) override {
    std::lock_guard lock(mutex_);
    if (endpoint != 0x02) return {k27sim::UsbOutcome::Stall, 0};
    echo_.emplace_back(data.begin(), data.end());
    return {k27sim::UsbOutcome::Ack, data.size()};
  }
  k27sim::UsbTransferOutcome In(std::uint8_t, std::span<std::uint8_t> buffer) override {
    std::lock_guard lock(mutex_);
    if (echo_.empty()) return {k27sim::UsbOutcome::Nak, 0};
    const auto bytes = std::move(echo_.front());
    echo_.pop_front();
    const std::size_t n = std::min(bytes.size(), buffer.size());
    std::copy_n(bytes.begin(), n, buffer.begin());
    return {k27sim::UsbOutcome::Ack, n};
  }
  // Packet i carries i+1 bytes of value 0xA0+i; packet 2 fails.
  k27sim::UsbTransferOutcome Isochronous(std::uint8_t endpoint, std::span<std::uint8_t> buffer,
                                         std::span<k27sim::UsbIsoPacket> packets,
                                         std::uint32_t) override {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < packets.size(); ++i) {
      k27sim::UsbIsoPacket& packet = packets[i];
      if (endpoint == 0x83) {
        packet.actualLength = std::min<std::uint32_t>(packet.length, std::uint32_t(i + 1));
        std::fill_n(buffer.begin() + packet.offset, packet.actualLength, std::uint8_t(0xA0 + i));
        packet.error = i == 2;
      } else {
        isoWritten_.insert(isoWritten_.end(), buffer.begin() + packet.offset,
                           buffer.begin() + packet.offset + packet.length);
        packet.actualLength = packet.length;
      }
    }
    return {k27sim::UsbOutcome::Ack, 0};
  }

 private:
  std::mutex mutex_;
  std::deque<std::vector<std::uint8_t>> echo_;
  std::vector<std::uint8_t> written_;
  std::vector<std::uint8_t> isoWritten_;
};

// A device on the emulated bus: what it does, and what its usbfs node saw.
struct EmulatedDevice {
  std::shared_ptr<EchoDevice> device;
  std::shared_ptr<UsbfsDevice> usbfs;

  void FailClaims(int times) { usbfs->FailClaims(times); }
  int ClaimAttempts() { return usbfs->ClaimAttempts(); }
  std::vector<unsigned> Claimed() { return usbfs->Claimed(); }
  std::vector<std::pair<unsigned, unsigned>> Settings() { return usbfs->Settings(); }
  std::vector<int> Configurations() { return usbfs->Configurations(); }
  std::vector<unsigned> ClearedHalts() { return usbfs->ClearedHalts(); }
  int Resets() { return usbfs->Resets(); }
  std::vector<std::uint8_t> Written() { return device->Written(); }
  std::vector<std::uint8_t> IsoWritten() { return device->IsoWritten(); }
  std::size_t WaitingIn() { return usbfs->WaitingUrbs(); }
  std::size_t Discarded() { return usbfs->Discarded(); }
};

// What the bus reported.
class Recorder {
 public:
  UsbBus::Events Events() {
    return {[this](std::shared_ptr<UsbDevice> device) {
              std::lock_guard lock(mutex_);
              arrived_.push_back(std::move(device));
              changed_.notify_all();
            },
            [this](const DeviceIdentity& identity) {
              std::lock_guard lock(mutex_);
              departed_.push_back(identity);
              changed_.notify_all();
            },
            {}};
  }
  std::function<void(const std::string&)> Log() {
    return [this](const std::string& text) {
      std::lock_guard lock(mutex_);
      log_.push_back(text);
      changed_.notify_all();
    };
  }
  bool WaitArrivals(std::size_t count, std::chrono::milliseconds timeout = 10s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return arrived_.size() >= count; });
  }
  bool WaitDepartures(std::size_t count, std::chrono::milliseconds timeout = 10s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return departed_.size() >= count; });
  }
  bool WaitLog(std::size_t count, std::chrono::milliseconds timeout = 10s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return log_.size() >= count; });
  }
  std::vector<std::shared_ptr<UsbDevice>> Arrived() {
    std::lock_guard lock(mutex_);
    return arrived_;
  }
  std::vector<DeviceIdentity> Departed() {
    std::lock_guard lock(mutex_);
    return departed_;
  }
  std::vector<std::string> Logged() {
    std::lock_guard lock(mutex_);
    return log_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    arrived_.clear();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::shared_ptr<UsbDevice>> arrived_;
  std::vector<DeviceIdentity> departed_;
  std::vector<std::string> log_;
};

class Umockdev : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!EmulatedUsbBus::InMockEnvironment()) GTEST_SKIP() << "needs umockdev-wrapper";
    emulation_ = std::make_unique<EmulatedUsbBus>();
  }
  void TearDown() override {
    // Users of the devices first, then the bus, then the emulation.
    bus_.reset();
    recorder_.reset();
    emulated_.clear();
    emulation_.reset();
  }

  // Emulates the board on port `port`.
  EmulatedDevice& Plug(int port) {
    auto device = std::make_shared<EchoDevice>();
    emulation_->Plug(port, device);
    emulated_.push_back(
        std::make_unique<EmulatedDevice>(EmulatedDevice{device, emulation_->At(port)}));
    EXPECT_NE(emulated_.back()->usbfs, nullptr);
    return *emulated_.back();
  }
  // The removal's uevent, then the device's files go.
  void Unplug(int port) { emulation_->Unplug(port); }
  void StartBus() {
    bus_ = MakeLibusbBus({{0x0001, 0x0002}, {kVendor, kProduct}});
    bus_->SetLog(recorder_->Log());
    bus_->Start(recorder_->Events());
  }
  std::shared_ptr<UsbDevice> StartWithBoard(EmulatedDevice** emulated = nullptr) {
    EmulatedDevice& device = Plug(3);
    if (emulated) *emulated = &device;
    StartBus();
    if (!recorder_->WaitArrivals(1)) return nullptr;
    return recorder_->Arrived().front();
  }

  std::unique_ptr<EmulatedUsbBus> emulation_;
  std::vector<std::unique_ptr<EmulatedDevice>> emulated_;
  std::unique_ptr<Recorder> recorder_ = std::make_unique<Recorder>();
  std::unique_ptr<UsbBus> bus_;
};

std::shared_ptr<PendingTransfer> Control(UsbDevice& device, std::uint8_t type, std::uint8_t request,
                                         std::uint16_t value, std::span<std::uint8_t> data,
                                         bool shortOk = true) {
  TransferRequest r;
  r.type = TransferType::Control;
  r.setup = {type, request, value, 0, static_cast<std::uint16_t>(data.size())};
  r.data = data;
  r.shortTransferOk = shortOk;
  return device.Submit(std::move(r));
}

std::shared_ptr<PendingTransfer> Bulk(UsbDevice& device, std::uint8_t endpoint,
                                      std::span<std::uint8_t> data, bool shortOk = true) {
  TransferRequest r;
  r.type = TransferType::Bulk;
  r.endpoint = endpoint;
  r.data = data;
  r.shortTransferOk = shortOk;
  return device.Submit(std::move(r));
}

TEST_F(Umockdev, EnumeratesTheMatchingDeviceAtStart) {
  auto device = StartWithBoard();
  ASSERT_NE(device, nullptr);
  const DeviceIdentity identity = device->Identity();
  EXPECT_EQ(identity.bus, 1);
  EXPECT_EQ(identity.portPath, std::vector<std::uint8_t>{3});
  EXPECT_EQ(identity.vendorId, kVendor);
  EXPECT_EQ(identity.productId, kProduct);
  EXPECT_EQ(identity.Location(), "1-3");
  EXPECT_FALSE(device->CurrentFrameNumber().has_value());
  // Only the board: the root hub does not match, and the enumeration and the
  // hotplug events together report the board once.
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(recorder_->Arrived().size(), 1u);
  EXPECT_TRUE(recorder_->Logged().empty());
}

TEST_F(Umockdev, ControlTransfers) {
  auto device = StartWithBoard();
  ASSERT_NE(device, nullptr);

  std::vector<std::uint8_t> id(4);
  auto read = Control(*device, 0xC0, EchoDevice::kReadId, 0x0142, id);
  ASSERT_TRUE(read->WaitFor(5s));
  EXPECT_EQ(read->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(read->Result().transferred, 4u);
  EXPECT_EQ(id, (std::vector<std::uint8_t>{'K', '2', '7', 0x42}));

  // A longer buffer: short, which is an error only when asked so.
  std::vector<std::uint8_t> longer(16, 0);
  auto shortOk = Control(*device, 0xC0, EchoDevice::kReadId, 1, longer, true);
  ASSERT_TRUE(shortOk->WaitFor(5s));
  EXPECT_EQ(shortOk->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(shortOk->Result().transferred, 4u);
  auto shortNotOk = Control(*device, 0xC0, EchoDevice::kReadId, 1, longer, false);
  ASSERT_TRUE(shortNotOk->WaitFor(5s));
  EXPECT_EQ(shortNotOk->Result().status, USBD_STATUS_ERROR_SHORT_TRANSFER);
  EXPECT_EQ(shortNotOk->Result().transferred, 4u);

  std::vector<std::uint8_t> payload = {1, 2, 3, 4, 5};
  auto write = Control(*device, 0x40, EchoDevice::kWrite, 0, payload);
  ASSERT_TRUE(write->WaitFor(5s));
  EXPECT_EQ(write->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(write->Result().transferred, 5u);
  EXPECT_EQ(emulated_[0]->Written(), payload);

  auto stall = Control(*device, 0x40, EchoDevice::kStall, 0, {});
  ASSERT_TRUE(stall->WaitFor(5s));
  EXPECT_EQ(stall->Result().status, USBD_STATUS_STALL_PID);
}

TEST_F(Umockdev, ConfigurationAndBulkExchange) {
  EmulatedDevice* emulated = nullptr;
  auto device = StartWithBoard(&emulated);
  ASSERT_NE(device, nullptr);

  InterfaceInfo info;
  ASSERT_EQ(device->SelectConfiguration(1, 0, 0, &info), USBD_STATUS_SUCCESS);
  EXPECT_EQ(info.number, 0);
  EXPECT_EQ(info.alternateSetting, 0);
  EXPECT_EQ(info.interfaceClass, 0xFF);
  ASSERT_EQ(info.endpoints.size(), 2u);
  EXPECT_EQ(info.endpoints[0].address, 0x02);
  EXPECT_EQ(info.endpoints[0].type, EndpointType::Bulk);
  EXPECT_EQ(info.endpoints[0].maxPacketSize, 64);
  EXPECT_EQ(info.endpoints[1].address, 0x86);
  EXPECT_EQ(emulated->Claimed(), std::vector<unsigned>{0});
  // Already configuration 1: not set again, and setting 0 needs no request.
  EXPECT_TRUE(emulated->Configurations().empty());
  EXPECT_TRUE(emulated->Settings().empty());

  std::vector<std::uint8_t> out = {'h', 'e', 'l', 'l', 'o'};
  auto sent = Bulk(*device, 0x02, out);
  ASSERT_TRUE(sent->WaitFor(5s));
  EXPECT_EQ(sent->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(sent->Result().transferred, 5u);

  std::vector<std::uint8_t> in(64, 0);
  auto received = Bulk(*device, 0x86, in);
  ASSERT_TRUE(received->WaitFor(5s));
  EXPECT_EQ(received->Result().status, USBD_STATUS_SUCCESS);
  ASSERT_EQ(received->Result().transferred, 5u);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), in.begin()));

  // An IN transfer waiting for data completes when the data comes.
  std::vector<std::uint8_t> later(64, 0);
  auto waiting = Bulk(*device, 0x86, later, false);
  EXPECT_FALSE(waiting->WaitFor(100ms));
  std::vector<std::uint8_t> more = {7, 8, 9};
  Bulk(*device, 0x02, more)->Wait();
  ASSERT_TRUE(waiting->WaitFor(5s));
  EXPECT_EQ(waiting->Result().status, USBD_STATUS_ERROR_SHORT_TRANSFER);
  EXPECT_EQ(waiting->Result().transferred, 3u);

  // Another setting of the claimed interface.
  InterfaceInfo alternate;
  ASSERT_EQ(device->SelectInterface(0, 1, &alternate), USBD_STATUS_SUCCESS);
  EXPECT_EQ(alternate.alternateSetting, 1);
  ASSERT_EQ(alternate.endpoints.size(), 1u);
  EXPECT_EQ(alternate.endpoints[0].address, 0x81);
  EXPECT_EQ(alternate.endpoints[0].type, EndpointType::Interrupt);
  EXPECT_EQ(alternate.endpoints[0].interval, 10);
  EXPECT_EQ(emulated->Settings(), (std::vector<std::pair<unsigned, unsigned>>{{0, 1}}));
  EXPECT_EQ(device->SelectInterface(0, 5, &alternate), USBD_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(device->SelectInterface(4, 0, &alternate), USBD_STATUS_INVALID_PARAMETER);
  // Back to setting 0 through SelectConfiguration: now a request is needed.
  ASSERT_EQ(device->SelectConfiguration(1, 0, 0, &info), USBD_STATUS_SUCCESS);
  EXPECT_EQ(emulated->Settings(), (std::vector<std::pair<unsigned, unsigned>>{{0, 1}, {0, 0}}));
  EXPECT_EQ(emulated->Claimed(), std::vector<unsigned>{0});  // claimed once

  EXPECT_EQ(device->ResetEndpoint(0x86), USBD_STATUS_SUCCESS);
  EXPECT_EQ(emulated->ClearedHalts(), std::vector<unsigned>{0x86});
  EXPECT_EQ(device->ResetPort(), USBD_STATUS_SUCCESS);
  EXPECT_EQ(emulated->Resets(), 1);

  EXPECT_EQ(device->Deconfigure(), USBD_STATUS_SUCCESS);
  EXPECT_EQ(emulated->Configurations(), std::vector<int>{-1});
}

TEST_F(Umockdev, IsochronousPackets) {
  auto device = StartWithBoard();
  ASSERT_NE(device, nullptr);
  // Packets at offsets with gaps between them.
  std::vector<std::uint8_t> data(64, 0xEE);
  TransferRequest r;
  r.type = TransferType::Isochronous;
  r.endpoint = 0x83;
  r.data = data;
  r.isoPackets = {{0, 8}, {16, 8}, {32, 8}, {48, 8}};
  auto in = device->Submit(r);
  ASSERT_TRUE(in->WaitFor(5s));
  const TransferResult& result = in->Result();
  EXPECT_EQ(result.status, USBD_STATUS_SUCCESS);
  ASSERT_EQ(result.isoPackets.size(), 4u);
  EXPECT_EQ(result.transferred, 1u + 2u + 3u + 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(result.isoPackets[i].offset, 16 * i);
    EXPECT_EQ(result.isoPackets[i].actualLength, i + 1);
    EXPECT_EQ(result.isoPackets[i].status, i == 2 ? USBD_STATUS_ISO_TD_ERROR : USBD_STATUS_SUCCESS);
    for (std::size_t b = 0; b < 16; ++b)
      EXPECT_EQ(data[16 * i + b], b < i + 1 ? 0xA0 + i : 0xEE) << i << "/" << b;
  }

  std::vector<std::uint8_t> outData(12);
  for (std::size_t i = 0; i < outData.size(); ++i) outData[i] = static_cast<std::uint8_t>(i);
  r.endpoint = 0x03;
  r.data = outData;
  r.isoPackets = {{8, 4}, {0, 4}};  // sent in packet order, not buffer order
  auto out = device->Submit(r);
  ASSERT_TRUE(out->WaitFor(5s));
  EXPECT_EQ(out->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(out->Result().transferred, 8u);
  EXPECT_EQ(emulated_[0]->IsoWritten(), (std::vector<std::uint8_t>{8, 9, 10, 11, 0, 1, 2, 3}));

  // What libusb cannot carry is refused at once.
  r.startAsap = false;
  auto framed = device->Submit(r);
  ASSERT_TRUE(framed->Completed());
  EXPECT_EQ(framed->Result().status, USBD_STATUS_INVALID_PARAMETER);
  r.startAsap = true;
  r.isoPackets = {{10, 4}};  // beyond the buffer
  auto beyond = device->Submit(r);
  ASSERT_TRUE(beyond->Completed());
  EXPECT_EQ(beyond->Result().status, USBD_STATUS_INVALID_PARAMETER);
}

TEST_F(Umockdev, CancelAndAbort) {
  EmulatedDevice* emulated = nullptr;
  auto device = StartWithBoard(&emulated);
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_SUCCESS);

  std::vector<std::uint8_t> in(64);
  auto waiting = Bulk(*device, 0x86, in);
  EXPECT_FALSE(waiting->WaitFor(100ms));
  EXPECT_FALSE(waiting->Completed());
  waiting->Cancel();
  ASSERT_TRUE(waiting->WaitFor(5s));
  EXPECT_EQ(waiting->Result().status, USBD_STATUS_CANCELED);
  EXPECT_EQ(waiting->Result().transferred, 0u);
  waiting->Cancel();  // once completed, nothing more
  EXPECT_EQ(waiting->Result().status, USBD_STATUS_CANCELED);

  // Abort ends every transfer of the endpoint, and only those, before it
  // returns.
  std::vector<std::uint8_t> a(64), b(64), c(8);
  auto first = Bulk(*device, 0x86, a);
  auto second = Bulk(*device, 0x86, b);
  TransferRequest interrupt;
  interrupt.type = TransferType::Interrupt;
  interrupt.endpoint = 0x81;
  interrupt.data = c;
  auto other = device->Submit(interrupt);
  for (int i = 0; i < 500 && emulated->WaitingIn() < 3; ++i) std::this_thread::sleep_for(10ms);
  device->AbortEndpoint(0x86);
  EXPECT_TRUE(first->Completed());
  EXPECT_TRUE(second->Completed());
  EXPECT_EQ(first->Result().status, USBD_STATUS_CANCELED);
  EXPECT_EQ(second->Result().status, USBD_STATUS_CANCELED);
  EXPECT_FALSE(other->Completed());
  device->AbortEndpoint(0x81);
  EXPECT_TRUE(other->Completed());
  EXPECT_EQ(other->Result().status, USBD_STATUS_CANCELED);
  EXPECT_EQ(emulated->Discarded(), 4u);
}

TEST_F(Umockdev, BusyClaimRightAfterArrivalIsRetried) {
  EmulatedDevice& emulated = Plug(3);
  emulated.FailClaims(3);
  StartBus();
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  auto device = recorder_->Arrived().front();
  InterfaceInfo info;
  EXPECT_EQ(device->SelectConfiguration(1, 0, 0, &info), USBD_STATUS_SUCCESS);
  EXPECT_EQ(emulated.ClaimAttempts(), 4);
  EXPECT_EQ(emulated.Claimed(), std::vector<unsigned>{0});
}

TEST_F(Umockdev, BusyClaimGivesUpAfterTheWindow) {
  EmulatedDevice& emulated = Plug(3);
  emulated.FailClaims(1000);
  StartBus();
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  auto device = recorder_->Arrived().front();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_REQUEST_FAILED);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_GT(emulated.ClaimAttempts(), 2);
  // Long after the arrival a busy interface fails at once.
  const int attempts = emulated.ClaimAttempts();
  EXPECT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_REQUEST_FAILED);
  EXPECT_EQ(emulated.ClaimAttempts(), attempts + 1);
}

TEST_F(Umockdev, HotplugArrivalAndDeparture) {
  StartBus();
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(recorder_->Arrived().empty());

  EmulatedDevice& emulated = Plug(3);
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  auto device = recorder_->Arrived().front();
  EXPECT_EQ(device->Identity().Location(), "1-3");
  ASSERT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_SUCCESS);

  std::vector<std::uint8_t> in(64);
  auto waiting = Bulk(*device, 0x86, in);
  for (int i = 0; i < 500 && emulated.WaitingIn() < 1; ++i) std::this_thread::sleep_for(10ms);

  Unplug(3);
  ASSERT_TRUE(recorder_->WaitDepartures(1));
  const DeviceIdentity left = recorder_->Departed().front();
  EXPECT_EQ(left.Location(), "1-3");
  EXPECT_EQ(left.vendorId, kVendor);
  // What was in flight ends as gone, and so does everything later, at once.
  ASSERT_TRUE(waiting->WaitFor(5s));
  EXPECT_EQ(waiting->Result().status, USBD_STATUS_DEVICE_GONE);
  auto late = Bulk(*device, 0x86, in);
  EXPECT_TRUE(late->Completed());
  EXPECT_EQ(late->Result().status, USBD_STATUS_DEVICE_GONE);
  EXPECT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_DEVICE_GONE);
  EXPECT_EQ(device->ResetPort(), USBD_STATUS_DEVICE_GONE);
  EXPECT_EQ(recorder_->Departed().size(), 1u);
}

TEST_F(Umockdev, ReEnumerationOnTheSamePlug) {
  EmulatedDevice* emulated = nullptr;
  auto first = StartWithBoard(&emulated);
  ASSERT_NE(first, nullptr);
  Unplug(3);
  ASSERT_TRUE(recorder_->WaitDepartures(1));
  // The same plug, a new bus address: a new device with a new handle.
  EmulatedDevice& again = Plug(3);
  ASSERT_TRUE(recorder_->WaitArrivals(2));
  auto second = recorder_->Arrived().back();
  EXPECT_NE(second, first);
  EXPECT_EQ(second->Identity().Location(), "1-3");
  std::vector<std::uint8_t> id(4);
  auto read = Control(*second, 0xC0, EchoDevice::kReadId, 9, id);
  ASSERT_TRUE(read->WaitFor(5s));
  EXPECT_EQ(read->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(Control(*first, 0xC0, EchoDevice::kReadId, 9, id)->Result().status,
            USBD_STATUS_DEVICE_GONE);
  ASSERT_EQ(second->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_SUCCESS);
  EXPECT_EQ(again.Claimed(), std::vector<unsigned>{0});
  EXPECT_TRUE(emulated->Claimed().empty());
}

TEST_F(Umockdev, RescanReportsNothingTwice) {
  EmulatedDevice* emulated = nullptr;
  auto device = StartWithBoard(&emulated);
  ASSERT_NE(device, nullptr);
  bus_->Rescan();
  bus_->Rescan();
  Plug(4);
  ASSERT_TRUE(recorder_->WaitArrivals(2));
  bus_->Rescan();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(recorder_->Arrived().size(), 2u);
  EXPECT_TRUE(recorder_->Departed().empty());
  // The first handle is still the live one.
  EXPECT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_SUCCESS);
}

TEST_F(Umockdev, PollingFindsArrivalsAndDepartures) {
  Plug(3);
  bus_ = MakePollingLibusbBus({{kVendor, kProduct}});
  bus_->SetLog(recorder_->Log());
  bus_->Start(recorder_->Events());
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  EXPECT_EQ(recorder_->Arrived()[0]->Identity().Location(), "1-3");

  Plug(4);
  ASSERT_TRUE(recorder_->WaitArrivals(2, 5s));
  EXPECT_EQ(recorder_->Arrived()[1]->Identity().Location(), "1-4");
  Unplug(3);
  ASSERT_TRUE(recorder_->WaitDepartures(1, 5s));
  EXPECT_EQ(recorder_->Departed()[0].Location(), "1-3");
  // Later looks report nothing twice.
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(recorder_->Arrived().size(), 2u);
  EXPECT_EQ(recorder_->Departed().size(), 1u);
  EXPECT_TRUE(recorder_->Logged().empty());
  std::vector<std::uint8_t> in(8);
  EXPECT_EQ(Bulk(*recorder_->Arrived()[0], 0x86, in)->Result().status, USBD_STATUS_DEVICE_GONE);
}

TEST_F(Umockdev, DeviceThatCannotBeOpenedIsDroppedWithALogMessage) {
  std::vector<std::uint8_t> descriptors = kDeviceDescriptor;
  descriptors.insert(descriptors.end(), kConfiguration.begin(), kConfiguration.end());
  std::string why;
  ASSERT_TRUE(emulation_->AddRecord(emulation::RecordOf({{4}, 100, descriptors, 1, false}),
                                    emulation::SysPath({4}), &why))  // no device node
      << why;
  StartBus();
  ASSERT_TRUE(recorder_->WaitLog(1));
  const std::string message = recorder_->Logged().front();
  EXPECT_NE(message.find("1234:5678 at 1-4"), std::string::npos) << message;
  EXPECT_NE(message.find("dropped"), std::string::npos) << message;
  EXPECT_TRUE(recorder_->Arrived().empty());
  // A board plugged later is served as usual.
  Plug(3);
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  EXPECT_EQ(recorder_->Arrived().front()->Identity().Location(), "1-3");
}

TEST_F(Umockdev, ClosingWithTransfersInFlight) {
  EmulatedDevice* emulated = nullptr;
  auto device = StartWithBoard(&emulated);
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_SUCCESS);
  std::vector<std::uint8_t> in(64);
  auto waiting = Bulk(*device, 0x86, in);
  for (int i = 0; i < 500 && emulated->WaitingIn() < 1; ++i) std::this_thread::sleep_for(10ms);

  // The bus stops: the device is gone for its user, who still holds it.
  bus_->Stop();
  ASSERT_TRUE(waiting->WaitFor(5s));
  EXPECT_EQ(waiting->Result().status, USBD_STATUS_DEVICE_GONE);
  EXPECT_EQ(Bulk(*device, 0x86, in)->Result().status, USBD_STATUS_DEVICE_GONE);
  EXPECT_TRUE(recorder_->Departed().empty());  // stopping reports nothing
  bus_.reset();

  // The last user lets go after the bus: cancel, reap, close, exit.
  auto stillWaiting = waiting;
  device.reset();
  recorder_->Clear();
  EXPECT_TRUE(stillWaiting->Completed());
}

TEST_F(Umockdev, DroppingADeviceCancelsWhatIsInFlight) {
  EmulatedDevice* emulated = nullptr;
  auto device = StartWithBoard(&emulated);
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_SUCCESS);
  std::vector<std::uint8_t> in(64);
  auto waiting = Bulk(*device, 0x86, in);
  for (int i = 0; i < 500 && emulated->WaitingIn() < 1; ++i) std::this_thread::sleep_for(10ms);
  // The bus and its user both let go while the transfer waits.
  bus_.reset();
  device.reset();
  recorder_->Clear();
  ASSERT_TRUE(waiting->WaitFor(5s));
  EXPECT_EQ(waiting->Result().status, USBD_STATUS_DEVICE_GONE);
  EXPECT_EQ(emulated->Discarded(), 1u);
}

TEST_F(Umockdev, RestartsAfterStop) {
  auto device = StartWithBoard();
  ASSERT_NE(device, nullptr);
  device.reset();
  bus_->Stop();
  recorder_->Clear();
  bus_->Start(recorder_->Events());
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  auto again = recorder_->Arrived().front();
  std::vector<std::uint8_t> id(4);
  auto read = Control(*again, 0xC0, EchoDevice::kReadId, 7, id);
  ASSERT_TRUE(read->WaitFor(5s));
  EXPECT_EQ(read->Result().status, USBD_STATUS_SUCCESS);
}

}  // namespace
}  // namespace vantrel::usbhost
