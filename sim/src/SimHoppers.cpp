#include "SimHoppers.h"

#include <algorithm>

namespace vantrel::sim {

namespace {

constexpr std::uint8_t kRelease = 0x70;
constexpr std::uint8_t kStatus = 0x71;

}  // namespace

std::optional<Response> SimHoppers::Handle(const Request& request) {
  switch (request.command) {
    case kRelease:
      AdvanceTo(request.nowMicros);
      return Release(request);
    case kStatus: {
      AdvanceTo(request.nowMicros);
      if (request.payload.size() != 1) return Response::Status(status::kLengthError);
      if (request.payload[0] >= kInputs) return Response::Status(status::kExecutionFailure);
      const Hopper& h = hoppers_[request.payload[0]];
      return Response::Ok(
          {h.state, static_cast<std::uint8_t>(std::min<std::uint16_t>(h.paid, 255))});
    }
    default:
      return std::nullopt;
  }
}

// Payload: input, setting A, level, output, coins high, coins low, setting B.
Response SimHoppers::Release(const Request& request) {
  const std::span<const std::uint8_t> p = request.payload;
  if (p.size() != 7) return Response::Status(status::kLengthError);
  if (p[0] >= kInputs || p[3] >= SimOutputs::kOutputs)
    return Response::Status(status::kExecutionFailure);
  Hopper& h = hoppers_[p[0]];
  if (h.state == kPaying) return Response::Status(status::kExecutionFailure);

  h.output = p[3];
  h.coins = static_cast<std::uint16_t>(p[4] << 8 | p[5]);
  h.paid = 0;
  h.dryPeriods = 0;
  h.nextCoinMicros = request.nowMicros + kCoinMicros;
  if (h.coins == 0) {
    h.state = kDone;
    return Response::Ok();
  }
  h.state = kPaying;
  outputs_.Set(h.output, true);
  return Response::Ok();
}

void SimHoppers::AdvanceTo(std::uint64_t nowMicros) {
  for (Hopper& h : hoppers_) {
    while (h.state == kPaying && h.nextCoinMicros <= nowMicros) {
      h.nextCoinMicros += kCoinMicros;
      if (h.empty) {
        if (++h.dryPeriods >= kEmptyCoinPeriods) Finish(h, kFailed);
        continue;
      }
      h.dryPeriods = 0;
      if (++h.paid == h.coins) Finish(h, kDone);
    }
  }
}

void SimHoppers::Finish(Hopper& hopper, State state) {
  hopper.state = state;
  outputs_.Set(hopper.output, false);
}

void SimHoppers::SetEmpty(int input, bool empty) {
  if (input >= 0 && input < kInputs) hoppers_[static_cast<std::size_t>(input)].empty = empty;
}

}  // namespace vantrel::sim
