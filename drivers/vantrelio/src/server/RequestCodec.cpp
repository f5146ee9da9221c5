#include "RequestCodec.h"

#include <algorithm>

#include "vantrel/protocol/ControlCodes.h"

namespace vantrel::driver {

EncodedReply HandleRequest(ControlHandler& handler, const std::optional<DecodedRequest>& request,
                           std::vector<std::uint8_t>& output) {
  output.clear();
  if (!request) return EncodeReply({STATUS_INVALID_PARAMETER, 0}, 0);
  output.assign(request->outLength, 0);
  std::copy(request->output.begin(), request->output.end(), output.begin());
  const ControlResult result = handler.Control(request->code, request->input, std::span(output));
  return EncodeReply(result, request->outLength);
}

}  // namespace vantrel::driver
