#include "SimIoChannel.h"

#include <optional>

namespace vantrel::sim {

Response SimIoChannel::Handle(const Request& request) {
  AdvanceTo(request.nowMicros);
  if (std::optional<Response> r = inputs_.Handle(request)) return *std::move(r);
  if (std::optional<Response> r = outputs_.Handle(request)) return *std::move(r);
  if (std::optional<Response> r = hoppers_.Handle(request)) return *std::move(r);
  if (std::optional<Response> r = reels_.Handle(request)) return *std::move(r);
  return Response::Status(status::kNotRecognised);
}

void SimIoChannel::AdvanceTo(std::uint64_t nowMicros) {
  outputs_.AdvanceTo(nowMicros);
  hoppers_.AdvanceTo(nowMicros);
  reels_.AdvanceTo(nowMicros);
}

}  // namespace vantrel::sim
