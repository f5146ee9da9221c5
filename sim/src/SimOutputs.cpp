#include "SimOutputs.h"

#include <algorithm>

namespace vantrel::sim {

namespace {

constexpr std::uint8_t kModify = 0x4D;
constexpr std::uint8_t kPulseOn = 0x4E;
constexpr std::uint8_t kPulseOff = 0x4F;
constexpr std::uint8_t kPulseResult = 0x50;
constexpr std::uint8_t kOnPeriod = 0x53;
constexpr std::uint8_t kOffPeriod = 0x54;
constexpr std::uint8_t kBrightness = 0x55;

}  // namespace

std::optional<Response> SimOutputs::Handle(const Request& request) {
  AdvanceTo(request.nowMicros);
  const std::span<const std::uint8_t> payload = request.payload;
  switch (request.command) {
    case kOnPeriod:
    case kOffPeriod: {
      if (payload.size() != onPeriod_.size()) return Response::Status(status::kLengthError);
      Image& image = request.command == kOnPeriod ? onPeriod_ : offPeriod_;
      std::copy(payload.begin(), payload.end(), image.begin());
      return Response::Ok();
    }
    case kModify:
      if (payload.size() != 2 * onPeriod_.size()) return Response::Status(status::kLengthError);
      for (Image* image : {&onPeriod_, &offPeriod_}) {
        for (std::size_t i = 0; i < image->size(); ++i) {
          (*image)[i] =
              static_cast<std::uint8_t>(((*image)[i] | payload[i]) & ~payload[i + image->size()]);
        }
      }
      return Response::Ok();
    case kBrightness:
      if (payload.size() != 1) return Response::Status(status::kLengthError);
      brightness_ = payload[0];
      return Response::Ok();
    case kPulseOn:
    case kPulseOff:
      return StartPulse(payload, request.command == kPulseOn, request.nowMicros);
    case kPulseResult:
      if (!payload.empty()) return Response::Status(status::kLengthError);
      return PulseResult(request.nowMicros);
    default:
      return std::nullopt;
  }
}

void SimOutputs::Set(int output, bool on) {
  if (output < 0 || output >= kOutputs) return;
  const std::size_t byte = static_cast<std::size_t>(output / 8);
  const auto mask = static_cast<std::uint8_t>(1u << (output % 8));
  for (Image* image : {&onPeriod_, &offPeriod_}) {
    (*image)[byte] = static_cast<std::uint8_t>(on ? (*image)[byte] | mask : (*image)[byte] & ~mask);
  }
}

void SimOutputs::AdvanceTo(std::uint64_t nowMicros) {
  if (pulse_.running && pulse_.endMicros <= nowMicros) EndPulse();
}

void SimOutputs::EndPulse() {
  Set(pulse_.output, !pulse_.on);
  pulse_.running = false;
}

// Payload: time (10 ms units), then the output number.
Response SimOutputs::StartPulse(std::span<const std::uint8_t> payload, bool on,
                                std::uint64_t nowMicros) {
  if (payload.size() != 2) return Response::Status(status::kLengthError);
  if (payload[1] >= kOutputs) return Response::Status(status::kExecutionFailure);
  if (pulse_.running) EndPulse();
  pulse_ = Pulse{payload[1], on, nowMicros + payload[0] * kPulseUnitMicros, payload[0] != 0};
  if (pulse_.running) Set(pulse_.output, on);
  return Response::Ok();
}

Response SimOutputs::PulseResult(std::uint64_t nowMicros) const {
  const std::uint64_t left =
      pulse_.running ? (pulse_.endMicros - nowMicros + kPulseUnitMicros - 1) / kPulseUnitMicros : 0;
  return Response::Ok({pulse_.output, static_cast<std::uint8_t>(pulse_.running ? 1 : 0),
                       static_cast<std::uint8_t>(left)});
}

}  // namespace vantrel::sim
