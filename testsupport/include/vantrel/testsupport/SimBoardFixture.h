// Tests of the library against simulated boards in this process, through
// the driver, the USB host layer and simulated USB; every exchange is
// recorded.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <vector>

#include <k27sim/SimBoard.h>
#include <vantrel/VantrelUSB.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>

#include <k27fw/FirmwareIds.h>
#include <k27sim/SimUsb.h>
#include <k27sim/SimUsbBoard.h>
#include <vantrel/usbhost/Backends.h>

#include "device/BoardDevice.h"
#include "link/DeviceLink.h"
#include "vantrel/testsupport/InProcessDeviceLink.h"

namespace vantrel::testing {

struct Exchange {
  int channel;
  std::vector<std::uint8_t> out;
  bool replied;
  std::vector<std::uint8_t> in;
};

// Boards 0..N-1 of one simulated USB bus, each served by the driver's board
// device over the USB host layer, as the daemon serves them; the library
// reaches them through the in-process link.
class SimBus {
 public:
  explicit SimBus(std::vector<vantrel::sim::SimBoardOptions> boards)
      : bus_(static_cast<int>(boards.size())) {
    for (std::size_t i = 0; i < boards.size(); ++i) {
      boards_.push_back(std::make_shared<vantrel::sim::SimBoard>(boards[i]));
      bus_.Plug(static_cast<int>(i) + 1, std::make_shared<vantrel::sim::SimUsbBoard>(
                                             boards_.back(), kBoardVendorId, kBoardProductId));
    }
    devices_.resize(boards.size());
    host_ = usbhost::MakeSimBus(bus_);
    host_->Start(
        {[this](std::shared_ptr<usbhost::UsbDevice> usb) { Arrived(std::move(usb)); }, {}, {}});
    std::unique_lock lock(mutex_);
    started_.wait_for(lock, std::chrono::seconds(10), [this] {
      return std::all_of(devices_.begin(), devices_.end(),
                         [](const auto& d) { return d != nullptr; });
    });
    lock.unlock();
    SetDeviceOpener([this](int index) -> std::unique_ptr<DeviceLink> {
      std::lock_guard guard(mutex_);
      opened_.push_back(index);
      if (index < 0 || index >= static_cast<int>(devices_.size()) || !devices_[index])
        return nullptr;
      return std::make_unique<CountedLink>(std::make_unique<InProcessDeviceLink>(devices_[index]),
                                           liveLinks_[static_cast<std::size_t>(index)]);
    });
  }
  ~SimBus() {
    SetDeviceOpener({});
    host_->Stop();
    for (auto& device : devices_)
      if (device) device->Remove();
  }

  vantrel::sim::SimBoard& Board(int index = 0) { return *boards_.at(index); }
  // The device indices asked for, in order, since the last ClearLog.
  std::vector<int> Opened() {
    std::lock_guard lock(mutex_);
    return opened_;
  }
  // Connections to board `index` that are open now.
  int LiveLinks(int index) { return liveLinks_.at(static_cast<std::size_t>(index)).load(); }
  std::vector<Exchange> Log() {
    std::lock_guard lock(mutex_);
    return log_;
  }
  void ClearLog() {
    std::lock_guard lock(mutex_);
    log_.clear();
    opened_.clear();
  }
  // The exchanges of one channel with the given command byte.
  std::vector<Exchange> Commands(int channel, std::uint8_t command) {
    std::vector<Exchange> found;
    for (auto& e : Log())
      if (e.channel == channel && !e.out.empty() && e.out[0] == command) found.push_back(e);
    return found;
  }

 private:
  // A connection that counts itself among the open ones until it is closed
  // or destroyed.
  class CountedLink final : public DeviceLink {
   public:
    CountedLink(std::unique_ptr<DeviceLink> link, std::atomic<int>& live)
        : link_(std::move(link)), live_(live) {
      ++live_;
    }
    ~CountedLink() override { Close(); }
    LinkResult Control(std::uint32_t code, std::span<const std::uint8_t> in,
                       std::span<std::uint8_t> out, std::uint32_t* returned) override {
      return link_->Control(code, in, out, returned);
    }
    bool Close() override {
      if (closed_) return false;
      closed_ = true;
      --live_;
      return link_->Close();
    }

   private:
    std::unique_ptr<DeviceLink> link_;
    std::atomic<int>& live_;
    bool closed_ = false;
  };

  void Arrived(std::shared_ptr<usbhost::UsbDevice> usb) {
    const int index = usb->Identity().portPath.at(0) - 1;
    // A short time limit keeps the tests of boards that never answer quick.
    auto device = std::make_shared<driver::BoardDevice>(usb, index, std::chrono::milliseconds(200));
    device->SetExchangeHook([this](const driver::ExchangeRecord& r) {
      std::lock_guard lock(mutex_);
      log_.push_back(
          {r.channel, r.out, r.in.has_value(), r.in.value_or(std::vector<std::uint8_t>{})});
    });
    device->Start();
    std::lock_guard lock(mutex_);
    devices_.at(static_cast<std::size_t>(index)) = device;
    started_.notify_all();
  }

  vantrel::sim::SimUsbBus bus_;
  std::vector<std::shared_ptr<vantrel::sim::SimBoard>> boards_;
  std::unique_ptr<usbhost::SimHostBus> host_;
  std::mutex mutex_;
  std::condition_variable started_;
  std::vector<std::shared_ptr<driver::BoardDevice>> devices_;
  std::vector<Exchange> log_;
  std::vector<int> opened_;
  std::array<std::atomic<int>, 16> liveLinks_{};
};

inline vantrel::sim::SimBoardOptions WithEeprom(std::uint32_t bytes) {
  vantrel::sim::SimBoardOptions options;
  options.eepromBytes = bytes;
  return options;
}

}  // namespace vantrel::testing
