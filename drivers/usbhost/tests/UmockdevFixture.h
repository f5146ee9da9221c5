// The fixture of the libusb backend's tests on the emulated USB bus: a
// device with vendor requests, a bulk echo and isochronous endpoints behind
// usbfs, what the bus reported, and helpers for transfers.
#pragma once

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

namespace vantrel::usbhost::umockdevtest {

using namespace std::chrono_literals;
using emulation::EmulatedUsbBus;
using emulation::UsbfsDevice;

inline constexpr std::uint16_t kVendor = 0x1234;
inline constexpr std::uint16_t kProduct = 0x5678;

// Device 1234:5678, one configuration; interface 0 setting 0 has bulk OUT
// 0x02 and bulk IN 0x86 (64 bytes), setting 1 an interrupt IN 0x81.
inline const std::vector<std::uint8_t> kDeviceDescriptor = {0x12, 0x01, 0x00, 0x02, 0xFF, 0x00,
                                                            0x00, 0x40, 0x34, 0x12, 0x78, 0x56,
                                                            0x00, 0x01, 0x01, 0x02, 0x03, 0x01};
inline const std::vector<std::uint8_t> kConfiguration = {
    0x09, 0x02, 0x30, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32,  // configuration 1
    0x09, 0x04, 0x00, 0x00, 0x02, 0xFF, 0x00, 0x00, 0x00,  // interface 0, setting 0
    0x07, 0x05, 0x02, 0x02, 0x40, 0x00, 0x00,              // bulk OUT 0x02
    0x07, 0x05, 0x86, 0x02, 0x40, 0x00, 0x00,              // bulk IN 0x86
    0x09, 0x04, 0x00, 0x01, 0x01, 0xFF, 0x00, 0x00, 0x00,  // interface 0, setting 1
    0x07, 0x05, 0x81, 0x03, 0x08, 0x00, 0x0A};             // interrupt IN 0x81

// The device behind usbfs: vendor control requests, a bulk echo (what goes
// out on 0x02 comes back on 0x86; IN transfers wait for data) and an
// isochronous IN endpoint 0x83 / OUT endpoint 0x03.
class EchoDevice : public vantrel::sim::SimUsbDevice {
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
  // The values of the SET_CONFIGURATION requests the device got.
  std::vector<std::uint16_t> Configured() {
    std::lock_guard lock(mutex_);
    return configured_;
  }

  vantrel::sim::UsbTransferOutcome Control(const vantrel::sim::UsbSetup& setup,
                                           std::span<std::uint8_t> data) override {
    std::lock_guard lock(mutex_);
    if ((setup.requestType & 0x60) == 0) {  // standard
      if (setup.request == 9) configured_.push_back(setup.value);
      if (setup.request != 6) return {vantrel::sim::UsbOutcome::Ack, 0};
      const auto& descriptor = (setup.value >> 8) == 1 ? kDeviceDescriptor : kConfiguration;
      const std::size_t n = std::min(descriptor.size(), data.size());
      std::copy_n(descriptor.begin(), n, data.begin());
      return {vantrel::sim::UsbOutcome::Ack, n};
    }
    if (setup.request == kStall) return {vantrel::sim::UsbOutcome::Stall, 0};
    if (setup.requestType == 0xC0 && setup.request == kReadId) {
      const std::uint8_t id[] = {'K', '2', '7', static_cast<std::uint8_t>(setup.value)};
      const std::size_t n = std::min(data.size(), sizeof id);
      std::memcpy(data.data(), id, n);
      return {vantrel::sim::UsbOutcome::Ack, n};
    }
    if (setup.requestType == 0x40 && setup.request == kWrite) {
      written_.assign(data.begin(), data.end());
      return {vantrel::sim::UsbOutcome::Ack, data.size()};
    }
    return {vantrel::sim::UsbOutcome::Ack, 0};
  }
  vantrel::sim::UsbTransferOutcome Out(std::uint8_t endpoint,
                                       std::span<const std::uint8_t> data) override {
    std::lock_guard lock(mutex_);
    if (endpoint != 0x02) return {vantrel::sim::UsbOutcome::Stall, 0};
    echo_.emplace_back(data.begin(), data.end());
    return {vantrel::sim::UsbOutcome::Ack, data.size()};
  }
  vantrel::sim::UsbTransferOutcome In(std::uint8_t, std::span<std::uint8_t> buffer) override {
    std::lock_guard lock(mutex_);
    if (echo_.empty()) return {vantrel::sim::UsbOutcome::Nak, 0};
    const auto bytes = std::move(echo_.front());
    echo_.pop_front();
    const std::size_t n = std::min(bytes.size(), buffer.size());
    std::copy_n(bytes.begin(), n, buffer.begin());
    return {vantrel::sim::UsbOutcome::Ack, n};
  }
  // Packet i carries i+1 bytes of value 0xA0+i; packet 2 fails.
  vantrel::sim::UsbTransferOutcome Isochronous(std::uint8_t endpoint,
                                               std::span<std::uint8_t> buffer,
                                               std::span<vantrel::sim::UsbIsoPacket> packets,
                                               std::uint32_t) override {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < packets.size(); ++i) {
      vantrel::sim::UsbIsoPacket& packet = packets[i];
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
    return {vantrel::sim::UsbOutcome::Ack, 0};
  }

 private:
  std::mutex mutex_;
  std::deque<std::vector<std::uint8_t>> echo_;
  std::vector<std::uint8_t> written_;
  std::vector<std::uint8_t> isoWritten_;
  std::vector<std::uint16_t> configured_;
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

inline std::shared_ptr<PendingTransfer> Control(UsbDevice& device, std::uint8_t type,
                                                std::uint8_t request, std::uint16_t value,
                                                std::span<std::uint8_t> data, bool shortOk = true) {
  TransferRequest r;
  r.type = TransferType::Control;
  r.setup = {type, request, value, 0, static_cast<std::uint16_t>(data.size())};
  r.data = data;
  r.shortTransferOk = shortOk;
  return device.Submit(std::move(r));
}

inline std::shared_ptr<PendingTransfer> Bulk(UsbDevice& device, std::uint8_t endpoint,
                                             std::span<std::uint8_t> data, bool shortOk = true) {
  TransferRequest r;
  r.type = TransferType::Bulk;
  r.endpoint = endpoint;
  r.data = data;
  r.shortTransferOk = shortOk;
  return device.Submit(std::move(r));
}

}  // namespace vantrel::usbhost::umockdevtest
