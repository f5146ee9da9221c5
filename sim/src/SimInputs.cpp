#include "SimInputs.h"

#include <algorithm>
#include <utility>

namespace vantrel::sim {

namespace {

constexpr std::uint8_t kSnapshot = 0x4B;
constexpr std::uint8_t kChanged = 0x51;
constexpr std::uint8_t kRaw = 0x52;
constexpr std::uint8_t kConfigurePulsed = 0x6B;
constexpr std::uint8_t kCheckPulsed = 0x6C;
constexpr std::uint8_t kResetPulsed = 0x6D;
constexpr std::uint8_t kDecrementPulsed = 0x6E;
constexpr std::uint8_t kReadPulsed = 0x6F;
constexpr std::uint8_t kMultiplexing = 0x72;
constexpr std::uint8_t kMultiplexed = 0x73;

constexpr std::size_t kDipByte = 3;
constexpr std::uint8_t kAddressBits = 0x07;

std::vector<std::uint8_t> ToVector(std::span<const std::uint8_t> bytes) {
  return {bytes.begin(), bytes.end()};
}

std::size_t PayloadFor(std::uint8_t command) {
  switch (command) {
    case kConfigurePulsed:
      return 3;
    case kCheckPulsed:
      return 2;
    default:
      return 1;
  }
}

}  // namespace

SimInputs::SimInputs(std::uint8_t address)
    : snapshot_{0xFF, 0xFF, 0xFF,
                static_cast<std::uint8_t>(~kAddressBits | (address & kAddressBits)), 0xFF} {}

void SimInputs::SetSnapshot(const Bytes& inputs) {
  for (std::size_t i = 0; i < snapshot_.size(); ++i) {
    changed_[i] = static_cast<std::uint8_t>(changed_[i] | (snapshot_[i] ^ inputs[i]));
  }
  snapshot_ = inputs;
}

void SimInputs::SetDipSwitches(std::uint8_t switches) {
  Bytes inputs = snapshot_;
  inputs[kDipByte] = switches;
  SetSnapshot(inputs);
}

void SimInputs::InjectPulses(int input, int count) {
  if (input < 0 || input >= kInputBits || count <= 0) return;
  PulsedInput& p = pulsed_[static_cast<std::size_t>(input)];
  if (p.checking)
    p.count = static_cast<std::uint8_t>(std::min(255, p.count + std::min(count, 255)));
}

std::uint8_t SimInputs::PulseCount(int input) const {
  if (input < 0 || input >= kInputBits) return 0;
  return pulsed_[static_cast<std::size_t>(input)].count;
}

std::optional<Response> SimInputs::Handle(const Request& request) {
  const std::span<const std::uint8_t> payload = request.payload;
  switch (request.command) {
    case kSnapshot:
    case kChanged:
    case kRaw:
    case kMultiplexed:
      if (!payload.empty()) return Response::Status(status::kLengthError);
      break;
    case kMultiplexing:
      if (payload.size() != 1) return Response::Status(status::kLengthError);
      multiplexing_ = payload[0] == 1;
      return Response::Ok();
    case kConfigurePulsed:
    case kCheckPulsed:
    case kResetPulsed:
    case kDecrementPulsed:
    case kReadPulsed:
      return Pulsed(request);
    default:
      return std::nullopt;
  }
  switch (request.command) {
    case kSnapshot:
      return Response::Ok(ToVector(snapshot_));
    case kChanged: {
      const Bytes changed = std::exchange(changed_, Bytes{});
      return Response::Ok(ToVector(changed));
    }
    case kRaw:
      return Response::Ok(ToVector(raw_ ? *raw_ : snapshot_));
    default:
      if (!multiplexing_) return Response::Status(status::kExecutionFailure);
      return Response::Ok(ToVector(multiplexed_));
  }
}

Response SimInputs::Pulsed(const Request& request) {
  const std::span<const std::uint8_t> payload = request.payload;
  if (payload.size() != PayloadFor(request.command)) return Response::Status(status::kLengthError);
  if (payload[0] >= kInputBits) return Response::Status(status::kExecutionFailure);
  PulsedInput& p = pulsed_[payload[0]];
  switch (request.command) {
    case kConfigurePulsed:  // the setting and level change nothing the host can see
      return Response::Ok();
    case kCheckPulsed:
      if (payload[1] > 1) return Response::Status(status::kExecutionFailure);
      p.checking = payload[1] == 1;
      return Response::Ok();
    case kResetPulsed:
      p.count = 0;
      return Response::Ok();
    case kDecrementPulsed:
      if (p.count == 0) return Response::Status(status::kExecutionFailure);
      --p.count;
      return Response::Ok();
    default:
      return Response::Ok({p.count});
  }
}

}  // namespace vantrel::sim
