#include "SimSpiChannel.h"

#include <utility>

namespace vantrel::sim {

namespace {

constexpr std::uint8_t kEnable = 0x5E;
constexpr std::uint8_t kDisable = 0x5F;
constexpr std::uint8_t kTransfer = 0x60;
constexpr std::uint8_t kIdleLine = 0xFF;

std::size_t BytesFor(std::uint8_t bits) { return (bits + 7u) / 8u; }

}  // namespace

Response SimSpiChannel::Handle(const Request& request) {
  switch (request.command) {
    case kEnable:
    case kDisable:
      if (!request.payload.empty()) return Response::Status(status::kLengthError);
      enabled_ = request.command == kEnable;
      return Response::Ok();
    case kTransfer:
      return Transfer(request.payload);
    default:
      return Response::Status(status::kNotRecognised);
  }
}

Response SimSpiChannel::Transfer(std::span<const std::uint8_t> payload) {
  if (payload.size() < 3 || payload.size() != 3 + BytesFor(payload[0])) {
    return Response::Status(status::kLengthError);
  }
  if (!enabled_) return Response::Status(status::kExecutionFailure);

  SpiTransfer record{payload[0], payload[1], payload[2], {payload.begin() + 3, payload.end()}};
  std::vector<std::uint8_t> reply = record.data;
  if (!replies_.empty()) {
    reply = std::move(replies_.front());
    replies_.pop_front();
  }
  reply.resize(BytesFor(record.receiveBits), kIdleLine);

  transfers_.push_back(std::move(record));
  if (transfers_.size() > kLogTransfers) transfers_.pop_front();
  return Response::Ok(std::move(reply));
}

}  // namespace vantrel::sim
