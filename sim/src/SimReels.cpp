#include "SimReels.h"

#include <algorithm>

namespace vantrel::sim {

namespace {

constexpr std::uint8_t kConfigure = 0x56;
constexpr std::uint8_t kSpin = 0x57;
constexpr std::uint8_t kRampUp = 0x58;
constexpr std::uint8_t kRampDown = 0x59;
constexpr std::uint8_t kDutyCycle = 0x5A;
constexpr std::uint8_t kSynchronise = 0x5B;
constexpr std::uint8_t kStatus = 0x5C;

constexpr std::uint64_t kRampUnitMicros = 1000;

std::optional<int> Delta(std::uint8_t direction) {
  switch (direction) {
    case 0xFE:
      return -2;
    case 0xFF:
      return -1;
    case 0x01:
      return 1;
    case 0x02:
      return 2;
    default:
      return std::nullopt;
  }
}

}  // namespace

std::optional<Response> SimReels::Handle(const Request& request) {
  switch (request.command) {
    case kConfigure:
    case kSpin:
    case kRampUp:
    case kRampDown:
    case kDutyCycle:
    case kSynchronise:
    case kStatus:
      break;
    default:
      return std::nullopt;
  }
  AdvanceTo(request.nowMicros);
  const std::span<const std::uint8_t> payload = request.payload;
  switch (request.command) {
    case kConfigure:
      return Configure(payload);
    case kSpin:
      return Spin(payload, request.nowMicros);
    case kRampUp:
    case kRampDown:
      return Ramp(payload, request.command == kRampUp);
    case kDutyCycle:
      if (payload.size() != dutyCycle_.size()) return Response::Status(status::kLengthError);
      std::copy(payload.begin(), payload.end(), dutyCycle_.begin());
      return Response::Ok();
    case kSynchronise:
      return Synchronise(payload);
    default:
      return Status(payload);
  }
}

SimReels::Reel* SimReels::ReelFor(std::uint8_t reel, std::uint8_t& statusOut) {
  if (reel >= count_) {
    statusOut = status::kReelNumberError;
    return nullptr;
  }
  Reel& r = reels_[reel];
  if (r.state.busy) {
    statusOut = status::kReelBusy;
    return nullptr;
  }
  return &r;
}

// Payload: reel count, half-steps per rotation high and low, third byte.
Response SimReels::Configure(std::span<const std::uint8_t> payload) {
  if (payload.size() != 4) return Response::Status(status::kLengthError);
  if (payload[0] < 1 || payload[0] > kReels) return Response::Status(status::kReelNumberError);
  const auto halfSteps = static_cast<std::uint16_t>(payload[1] << 8 | payload[2]);
  if (halfSteps == 0) return Response::Status(status::kTooFewReelSteps);
  if (std::any_of(reels_.begin(), reels_.end(), [](const Reel& r) { return r.state.busy; })) {
    return Response::Status(status::kReelBusy);
  }
  count_ = payload[0];
  halfSteps_ = halfSteps;
  for (Reel& r : reels_) {
    r.state = ReelState{};
    r.syncArmed = false;
  }
  return Response::Ok();
}

// Payload: reel, direction, steps high, steps low.
Response SimReels::Spin(std::span<const std::uint8_t> payload, std::uint64_t nowMicros) {
  if (payload.size() != 4) return Response::Status(status::kLengthError);
  std::uint8_t code = status::kSuccess;
  Reel* reel = ReelFor(payload[0], code);
  if (reel == nullptr) return Response::Status(code);
  const std::optional<int> delta = Delta(payload[1]);
  if (!delta) return Response::Status(status::kExecutionFailure);
  const std::uint32_t steps = static_cast<std::uint32_t>(payload[2] << 8 | payload[3]);
  // The last ramp-up step may be the first ramp-down step, so the shortest
  // spin has one step fewer than the two tables have entries.
  if (steps + 1 < reel->rampUp.size() + reel->rampDown.size())
    return Response::Status(status::kTooFewReelSteps);

  reel->delta = *delta;
  reel->steps = steps;
  reel->taken = 0;
  reel->state.busy = steps > 0;
  if (reel->state.busy) reel->nextStepMicros = nowMicros + StepMicros(*reel, 0);
  return Response::Ok();
}

// Payload: reel, n, n entries.
Response SimReels::Ramp(std::span<const std::uint8_t> payload, bool up) {
  if (payload.size() < 2) return Response::Status(status::kLengthError);
  if (payload.size() != 2u + payload[1]) return Response::Status(status::kSpinTableLengthError);
  std::uint8_t code = status::kSuccess;
  Reel* reel = ReelFor(payload[0], code);
  if (reel == nullptr) return Response::Status(code);
  (up ? reel->rampUp : reel->rampDown).assign(payload.begin() + 2, payload.end());
  return Response::Ok();
}

Response SimReels::Synchronise(std::span<const std::uint8_t> payload) {
  if (payload.size() != 1) return Response::Status(status::kSyncRequestLengthError);
  if (payload[0] >= count_) return Response::Status(status::kReelNumberError);
  Reel& reel = reels_[payload[0]];
  reel.state.sync = false;
  reel.syncArmed = true;
  return Response::Ok();
}

Response SimReels::Status(std::span<const std::uint8_t> payload) const {
  if (!payload.empty()) return Response::Status(status::kReelStatusLengthError);
  // Six bytes a reel, written in place into a buffer sized once.
  constexpr std::size_t kBytesPerReel = 6;
  std::vector<std::uint8_t> data(reels_.size() * kBytesPerReel);
  std::size_t at = 0;
  for (const Reel& r : reels_) {
    const ReelState& s = r.state;
    data[at++] = static_cast<std::uint8_t>(s.position >> 8);
    data[at++] = static_cast<std::uint8_t>(s.position);
    data[at++] = static_cast<std::uint8_t>(s.error >> 8);
    data[at++] = static_cast<std::uint8_t>(s.error);
    data[at++] = s.busy ? 1 : 0;
    data[at++] = s.sync ? 1 : 0;
  }
  return Response::Ok(std::move(data));
}

std::uint64_t SimReels::StepMicros(const Reel& reel, std::uint32_t step) const {
  std::uint8_t entry = 0;
  const std::uint32_t downFrom = reel.steps - static_cast<std::uint32_t>(reel.rampDown.size());
  if (step < reel.rampUp.size()) {
    entry = reel.rampUp[step];
  } else if (step >= downFrom) {
    entry = reel.rampDown[step - downFrom];
  }
  return entry == 0 ? kStepMicros : entry * kRampUnitMicros;
}

void SimReels::AdvanceTo(std::uint64_t nowMicros) {
  for (Reel& reel : reels_) {
    while (reel.state.busy && reel.nextStepMicros <= nowMicros) {
      Step(reel);
      if (++reel.taken == reel.steps) {
        reel.state.busy = false;
      } else {
        reel.nextStepMicros += StepMicros(reel, reel.taken);
      }
    }
  }
}

// Reaching or passing position 0 is what the index sensor sees.
void SimReels::Step(Reel& reel) {
  const int rotation = halfSteps_;
  const int from = reel.state.position;
  const int to = from + reel.delta;
  const bool passesZero = reel.delta > 0 ? to >= rotation : (from > 0 && to <= 0);
  reel.state.position = static_cast<std::uint16_t>(((to % rotation) + rotation) % rotation);
  if (passesZero && reel.syncArmed) reel.state.sync = true;
}

ReelState SimReels::State(int reel) const {
  if (reel < 0 || reel >= kReels) return {};
  return reels_[static_cast<std::size_t>(reel)].state;
}

}  // namespace vantrel::sim
