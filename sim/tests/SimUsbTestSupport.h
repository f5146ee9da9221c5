// Helpers for the tests of the simulated USB devices: requests as a host
// sends them, a recording bus observer, and firmware downloads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "k27sim/SimEzUsbPart.h"
#include "k27sim/SimUsb.h"
#include "k27sim/UsbDescriptorBlock.h"

namespace vantrel::sim::test {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kBoardVendor = 0x1D50;  // test identities
constexpr std::uint16_t kBoardProduct = 0x6127;

struct ControlResult {
  UsbOutcome outcome = UsbOutcome::Ack;
  Bytes bytes;  // IN: what came back
};

inline ControlResult ControlIn(SimUsbDevice& device, std::uint8_t type, std::uint8_t request,
                               std::uint16_t value, std::uint16_t index, std::uint16_t length) {
  Bytes buffer(length);
  const UsbTransferOutcome done = device.Control({type, request, value, index, length}, buffer);
  buffer.resize(done.outcome == UsbOutcome::Ack ? done.length : 0);
  return {done.outcome, buffer};
}

inline UsbOutcome ControlOut(SimUsbDevice& device, std::uint8_t type, std::uint8_t request,
                             std::uint16_t value, std::uint16_t index, Bytes data = {}) {
  return device
      .Control({type, request, value, index, static_cast<std::uint16_t>(data.size())}, data)
      .outcome;
}

inline ControlResult GetDescriptor(SimUsbDevice& device, std::uint8_t type, std::uint8_t index,
                                   std::uint16_t length) {
  return ControlIn(device, 0x80, 6, static_cast<std::uint16_t>(type << 8 | index), 0, length);
}

inline UsbOutcome SetConfiguration(SimUsbDevice& device, std::uint16_t value) {
  return ControlOut(device, 0x00, 9, value, 0);
}

inline UsbOutcome ClearHalt(SimUsbDevice& device, std::uint8_t endpoint) {
  return ControlOut(device, 0x02, 1, 0, endpoint);
}

inline UsbOutcome VendorWrite(SimUsbDevice& device, std::uint8_t request, std::uint16_t address,
                              Bytes data) {
  return ControlOut(device, 0x40, request, address, 0, std::move(data));
}

inline ControlResult VendorRead(SimUsbDevice& device, std::uint8_t request, std::uint16_t address,
                                std::uint16_t length) {
  return ControlIn(device, 0xC0, request, address, 0, length);
}

inline UsbOutcome SetCpuReset(SimUsbDevice& device, bool hold) {
  return VendorWrite(device, 0xA0, SimEzUsbPart::kCpuControlAddress,
                     {static_cast<std::uint8_t>(hold ? 1 : 0)});
}

// An 8051 memory image: bytes by start address.
using MemoryImage = std::map<std::uint16_t, Bytes>;

// Writes an image with firmware-load requests of at most 16 bytes, as the
// loader's records are; the first failure ends it.
inline UsbOutcome WriteImage(SimUsbDevice& device, const MemoryImage& image) {
  for (const auto& [start, bytes] : image) {
    for (std::size_t offset = 0; offset < bytes.size(); offset += 16) {
      const std::size_t n = std::min<std::size_t>(16, bytes.size() - offset);
      const UsbOutcome outcome =
          VendorWrite(device, 0xA0, static_cast<std::uint16_t>(start + offset),
                      Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                            bytes.begin() + static_cast<std::ptrdiff_t>(offset + n)));
      if (outcome != UsbOutcome::Ack) return outcome;
    }
  }
  return UsbOutcome::Ack;
}

// A first-stage loader stand-in: a long jump at the reset entry to code at
// 0x1100, and no descriptor block.
inline MemoryImage LoaderStandIn() {
  return {{0x0000, {0x02, 0x11, 0x00}}, {0x1100, Bytes(64, 0xA5)}};
}

// Board firmware stand-in: a long jump, some code, and `block` at 0x0D6B.
inline MemoryImage BoardFirmwareWith(const Bytes& block) {
  return {
      {0x0000, {0x02, 0x01, 0x00}}, {0x0100, Bytes(300, 0x5A)}, {kDescriptorBlockAddress, block}};
}

inline MemoryImage BoardFirmware() {
  return BoardFirmwareWith(BuildBoardDescriptorBlock(kBoardVendor, kBoardProduct));
}

// The loader's download sequence with both images written by 0xA0 (hold,
// loader, run, hold, board firmware, hold, run). Returns the last write's
// outcome.
inline UsbOutcome Download(SimUsbDevice& part, const MemoryImage& boardFirmware) {
  SetCpuReset(part, true);
  WriteImage(part, LoaderStandIn());
  SetCpuReset(part, false);
  SetCpuReset(part, true);
  WriteImage(part, boardFirmware);
  SetCpuReset(part, true);
  return SetCpuReset(part, false);
}

// Records what the bus reports, as "+port" (plugged) and "-port".
class BusRecorder {
 public:
  explicit BusRecorder(SimUsbBus& bus) {
    bus.SetObserver({[this](int port, std::shared_ptr<SimUsbDevice> device) {
                       Add("+" + std::to_string(port), device);
                     },
                     [this](int port) { Add("-" + std::to_string(port), nullptr); }});
  }
  std::vector<std::string> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::shared_ptr<SimUsbDevice> LastPlugged() const {
    std::lock_guard lock(mutex_);
    return lastPlugged_;
  }
  // Waits up to 2 s for `count` events in all.
  bool WaitForEvents(std::size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(2),
                             [&] { return events_.size() >= count; });
  }

 private:
  void Add(std::string event, std::shared_ptr<SimUsbDevice> device) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    if (device) lastPlugged_ = std::move(device);
    changed_.notify_all();
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> events_;
  std::shared_ptr<SimUsbDevice> lastPlugged_;
};

}  // namespace vantrel::sim::test
