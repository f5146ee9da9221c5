#include "RequestCodec.h"

#include <algorithm>

#include "vantrel/driver/ControlCodes.h"

namespace vantrel::driver {

using P = ControlProtocol;

std::optional<DecodedRequest> DecodeRequest(std::span<const std::uint8_t> datagram) {
  if (datagram.size() < P::kRequestHeader || datagram.size() > kMaxRequestBytes)
    return std::nullopt;
  DecodedRequest request;
  request.code = LoadLe32(datagram.data());
  const std::uint32_t inLength = LoadLe32(datagram.data() + 4);
  request.outLength = LoadLe32(datagram.data() + 8);
  if (inLength > P::kMaxPayload || request.outLength > P::kMaxPayload) return std::nullopt;
  const bool outputSent = P::SendsOutputBuffer(request.code);
  const std::size_t body = datagram.size() - P::kRequestHeader;
  if (body != std::size_t(inLength) + (outputSent ? request.outLength : 0)) return std::nullopt;
  request.input = datagram.subspan(P::kRequestHeader, inLength);
  if (outputSent)
    request.output = datagram.subspan(P::kRequestHeader + inLength, request.outLength);
  return request;
}

EncodedReply EncodeReply(const ControlResult& result, std::uint32_t outLength) {
  EncodedReply reply;
  StoreLe32(reply.header.data(), result.status);
  if (NtFailed(result.status)) {
    StoreLe32(reply.header.data() + 4, result.information);
    return reply;
  }
  reply.outputBytes = std::min<std::size_t>(result.OutputBytes(), outLength);
  const std::uint32_t information =
      result.outputBytes ? result.information : static_cast<std::uint32_t>(reply.outputBytes);
  StoreLe32(reply.header.data() + 4, information);
  return reply;
}

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
