// The board firmware's USB side: endpoint 0 from the descriptor block, the
// bulk endpoints in front of the SimBoard.
#include "k27sim/SimUsbBoard.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "UsbStandardRequests.h"

namespace vantrel::sim {

namespace {

constexpr std::uint8_t kRequestKindMask = 0x60;  // bmRequestType bits 5-6: 0 standard
constexpr std::uint8_t kDirectionIn = 0x80;
constexpr std::uint8_t kTransferTypeMask = 0x03;
constexpr std::uint8_t kBulk = 2;
constexpr std::uint8_t kInterrupt = 3;

constexpr UsbTransferOutcome kStall{UsbOutcome::Stall, 0};
constexpr UsbTransferOutcome kGone{UsbOutcome::Gone, 0};

}  // namespace

SimUsbBoard::SimUsbBoard(std::shared_ptr<SimBoard> board, std::uint16_t vendorId,
                         std::uint16_t productId)
    : SimUsbBoard(std::move(board),
                  *ParseDescriptorBlock(BuildBoardDescriptorBlock(vendorId, productId))) {}

SimUsbBoard::SimUsbBoard(std::shared_ptr<SimBoard> board, UsbDescriptors descriptors)
    : board_(std::move(board)),
      requests_(std::make_unique<UsbStandardRequests>(std::move(descriptors))) {}

SimUsbBoard::~SimUsbBoard() = default;

std::uint16_t SimUsbBoard::VendorId() const { return requests_->Descriptors().VendorId(); }
std::uint16_t SimUsbBoard::ProductId() const { return requests_->Descriptors().ProductId(); }
const UsbDescriptors& SimUsbBoard::Descriptors() const { return requests_->Descriptors(); }

std::uint8_t SimUsbBoard::Configuration() const {
  std::lock_guard lock(mutex_);
  return requests_->Configuration();
}

UsbTransferOutcome SimUsbBoard::Control(const UsbSetup& setup, std::span<std::uint8_t> data) {
  if (LeftBus()) return kGone;
  // The firmware serves no class or vendor request of its own.
  if ((setup.requestType & kRequestKindMask) != 0) return kStall;
  std::lock_guard lock(mutex_);
  return requests_->Handle(setup, data);
}

UsbTransferOutcome SimUsbBoard::Out(std::uint8_t endpoint, std::span<const std::uint8_t> data) {
  if (LeftBus()) return kGone;
  bool replied = false;
  {
    std::lock_guard lock(mutex_);
    const UsbEndpointInfo* info = requests_->ActiveEndpoint(endpoint);
    if (!info || (endpoint & kDirectionIn) != 0) return kStall;
    const std::uint8_t type = info->attributes & kTransferTypeMask;
    if ((type != kBulk && type != kInterrupt) || requests_->Halted(endpoint)) return kStall;

    const int channel = endpoint & 0x0F;
    board_->Write(channel, data);
    SimReply reply = board_->Read(channel, std::numeric_limits<std::size_t>::max());
    std::optional<PendingReply>& pending = pending_[static_cast<std::size_t>(channel)];
    pending.reset();
    if (reply.outcome != SimReply::Outcome::NoReply)
      pending = PendingReply{reply.outcome == SimReply::Outcome::Stall, std::move(reply.bytes), 0};
    replied = pending.has_value();
  }
  if (replied) NotifyDataReady();
  return {UsbOutcome::Ack, data.size()};
}

UsbTransferOutcome SimUsbBoard::In(std::uint8_t endpoint, std::span<std::uint8_t> buffer) {
  if (LeftBus()) return kGone;
  std::lock_guard lock(mutex_);
  const UsbEndpointInfo* info = requests_->ActiveEndpoint(endpoint);
  if (!info || (endpoint & kDirectionIn) == 0) return kStall;
  const std::uint8_t type = info->attributes & kTransferTypeMask;
  if ((type != kBulk && type != kInterrupt) || requests_->Halted(endpoint)) return kStall;

  const int channel = endpoint & 0x0F;
  std::optional<PendingReply>& pending = pending_[static_cast<std::size_t>(channel)];
  if (!pending) {
    // A reply to a command written to the SimBoard itself, past this endpoint.
    SimReply reply = board_->Read(channel, std::numeric_limits<std::size_t>::max());
    if (reply.outcome != SimReply::Outcome::NoReply)
      pending = PendingReply{reply.outcome == SimReply::Outcome::Stall, std::move(reply.bytes), 0};
  }
  if (!pending) return {UsbOutcome::Nak, 0};
  if (pending->stall) {
    requests_->Halt(endpoint);
    pending.reset();
    return kStall;
  }
  const std::size_t n = std::min(buffer.size(), pending->bytes.size() - pending->taken);
  if (n) std::memcpy(buffer.data(), pending->bytes.data() + pending->taken, n);
  pending->taken += n;
  if (pending->taken == pending->bytes.size()) pending.reset();
  return {UsbOutcome::Ack, n};
}

void SimUsbBoard::PortReset() {
  std::lock_guard lock(mutex_);
  requests_->Reset();
  for (std::optional<PendingReply>& pending : pending_) pending.reset();
}

}  // namespace vantrel::sim
