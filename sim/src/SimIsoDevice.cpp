#include "k27sim/SimIsoDevice.h"

#include <algorithm>

#include "UsbStandardRequests.h"
#include "k27sim/UsbDescriptorBlock.h"

namespace vantrel::sim {

namespace {

constexpr std::uint8_t kRequestKindMask = 0x60;
constexpr std::uint8_t kTransferTypeMask = 0x03;
constexpr std::uint8_t kIsochronous = 1;
constexpr std::size_t kReceivedLimit = 1 << 20;
constexpr UsbTransferOutcome kStall{UsbOutcome::Stall, 0};
constexpr UsbTransferOutcome kGone{UsbOutcome::Gone, 0};

void PutWord(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

// Device, configuration 1 with interface 0 (vendor class) and its two
// isochronous endpoints, no strings.
UsbDescriptors IsoDescriptors(const SimIsoDeviceOptions& options) {
  std::vector<std::uint8_t> block{18, 1};
  PutWord(block, 0x0110);
  block.insert(block.end(), {0, 0, 0, 64});
  PutWord(block, options.vendorId);
  PutWord(block, options.productId);
  PutWord(block, 0x0001);
  block.insert(block.end(), {0, 0, 0, 1});
  block.insert(block.end(), {9, 2});
  PutWord(block, 9 + 9 + 2 * 7);
  block.insert(block.end(), {1, 1, 0, 0x80, 50});
  block.insert(block.end(), {9, 4, 0, 0, 2, 0xFF, 0, 0, 0});
  for (const std::uint8_t address : {SimIsoDevice::kInEndpoint, SimIsoDevice::kOutEndpoint}) {
    block.insert(block.end(), {7, 5, address, kIsochronous});
    PutWord(block, options.maxPacketSize);
    block.push_back(1);  // every frame
  }
  block.insert(block.end(), {0, 0});
  return *ParseDescriptorBlock(block);
}

void PutLe32(std::uint8_t* out, std::size_t room, std::uint32_t value) {
  for (std::size_t i = 0; i < 4 && i < room; ++i)
    out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

SimIsoDevice::SimIsoDevice(SimIsoDeviceOptions options)
    : options_(options),
      requests_(std::make_unique<UsbStandardRequests>(IsoDescriptors(options))) {}

SimIsoDevice::~SimIsoDevice() = default;

std::uint16_t SimIsoDevice::VendorId() const { return options_.vendorId; }
std::uint16_t SimIsoDevice::ProductId() const { return options_.productId; }

UsbTransferOutcome SimIsoDevice::Control(const UsbSetup& setup, std::span<std::uint8_t> data) {
  if (LeftBus()) return kGone;
  if ((setup.requestType & kRequestKindMask) != 0) return kStall;
  std::lock_guard lock(mutex_);
  return requests_->Handle(setup, data);
}

UsbTransferOutcome SimIsoDevice::Out(std::uint8_t, std::span<const std::uint8_t>) {
  return LeftBus() ? kGone : kStall;
}

UsbTransferOutcome SimIsoDevice::In(std::uint8_t, std::span<std::uint8_t>) {
  return LeftBus() ? kGone : kStall;
}

bool SimIsoDevice::TakeFault() {
  if (faults_ == 0) return false;
  --faults_;
  return true;
}

UsbTransferOutcome SimIsoDevice::Isochronous(std::uint8_t endpoint, std::span<std::uint8_t> buffer,
                                             std::span<UsbIsoPacket> packets,
                                             std::uint32_t startFrame) {
  if (LeftBus()) return kGone;
  std::lock_guard lock(mutex_);
  const UsbEndpointInfo* info = requests_->ActiveEndpoint(endpoint);
  if (!info || (info->attributes & kTransferTypeMask) != kIsochronous ||
      requests_->Halted(endpoint))
    return kStall;
  const bool in = (endpoint & 0x80) != 0;
  std::size_t moved = 0;
  for (std::size_t j = 0; j < packets.size(); ++j) {
    UsbIsoPacket& packet = packets[j];
    const std::uint32_t frame = startFrame + static_cast<std::uint32_t>(j);
    lastFrame_ = frame;
    packet.actualLength = 0;
    // A packet outside the buffer is the host's mistake: it fails.
    const bool fits = std::size_t(packet.offset) + packet.length <= buffer.size();
    if (in) {
      const std::uint32_t sequence = sequence_++;
      if (TakeFault() || !fits) {
        packet.error = true;
        continue;
      }
      const std::size_t length = std::min<std::size_t>(packet.length, options_.maxPacketSize);
      std::uint8_t* out = buffer.data() + packet.offset;
      PutLe32(out, length, sequence);
      if (length > 4) PutLe32(out + 4, length - 4, frame);
      for (std::size_t k = kPacketHeader; k < length; ++k)
        out[k] = static_cast<std::uint8_t>(sequence + k);
      packet.actualLength = static_cast<std::uint32_t>(length);
    } else {
      if (TakeFault() || !fits || packet.length > options_.maxPacketSize) {
        packet.error = true;
        continue;
      }
      const std::size_t room = kReceivedLimit - std::min(kReceivedLimit, received_.size());
      const std::uint8_t* from = buffer.data() + packet.offset;
      received_.insert(received_.end(), from, from + std::min<std::size_t>(room, packet.length));
      packet.actualLength = packet.length;
    }
    moved += packet.actualLength;
  }
  ++transfers_;
  return {UsbOutcome::Ack, moved};
}

void SimIsoDevice::PortReset() {
  std::lock_guard lock(mutex_);
  requests_->Reset();
}

void SimIsoDevice::InjectPacketFaults(std::uint32_t count) {
  std::lock_guard lock(mutex_);
  faults_ = count;
}

std::uint32_t SimIsoDevice::PacketsSent() const {
  std::lock_guard lock(mutex_);
  return sequence_;
}

std::uint32_t SimIsoDevice::TransfersServed() const {
  std::lock_guard lock(mutex_);
  return transfers_;
}

std::uint32_t SimIsoDevice::LastFrame() const {
  std::lock_guard lock(mutex_);
  return lastFrame_;
}

std::vector<std::uint8_t> SimIsoDevice::Received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

}  // namespace vantrel::sim
