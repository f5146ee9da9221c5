#include "vantrel/protocol/ControlProtocol.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "vantrel/protocol/ControlCodes.h"

namespace vantrel::driver {

using P = ControlProtocol;

std::string ControlProtocol::SocketName(int instance) {
  return kSocketPrefix + std::to_string(instance);
}

std::string ControlProtocol::DeviceDirectory() {
  const char* dir = std::getenv(kDeviceDirEnv);
  return (dir != nullptr && *dir != '\0') ? dir : kDefaultDeviceDir;
}

int ControlProtocol::ReplyTimeoutMs() {
  constexpr long kMaxTimeoutMs = 3'600'000;
  const char* text = std::getenv(kReplyTimeoutEnv);
  if (text == nullptr || *text == '\0') return kDefaultReplyTimeoutMs;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < 1 || value > kMaxTimeoutMs)
    return kDefaultReplyTimeoutMs;
  return static_cast<int>(value);
}

RequestHeaderBytes EncodeRequestHeader(std::uint32_t code, std::uint32_t inLength,
                                       std::uint32_t outLength) {
  RequestHeaderBytes header{};
  StoreLe32(header.data(), code);
  StoreLe32(header.data() + 4, inLength);
  StoreLe32(header.data() + 8, outLength);
  return header;
}

std::span<const std::uint8_t> SentOutput(std::uint32_t code, std::span<const std::uint8_t> out) {
  return P::SendsOutputBuffer(code) ? out : out.first(0);
}

std::optional<std::vector<std::uint8_t>> EncodeRequest(std::uint32_t code,
                                                       std::span<const std::uint8_t> in,
                                                       std::span<const std::uint8_t> out) {
  if (in.size() > P::kMaxPayload || out.size() > P::kMaxPayload) return std::nullopt;
  const auto header = EncodeRequestHeader(code, static_cast<std::uint32_t>(in.size()),
                                          static_cast<std::uint32_t>(out.size()));
  const auto sent = SentOutput(code, out);
  std::vector<std::uint8_t> datagram;
  datagram.reserve(header.size() + in.size() + sent.size());
  datagram.insert(datagram.end(), header.begin(), header.end());
  datagram.insert(datagram.end(), in.begin(), in.end());
  datagram.insert(datagram.end(), sent.begin(), sent.end());
  return datagram;
}

std::optional<DecodedRequest> DecodeRequest(std::span<const std::uint8_t> datagram) {
  if (datagram.size() < P::kRequestHeader || datagram.size() > P::kMaxRequestBytes)
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

std::array<std::uint8_t, ControlProtocol::kReplyHeader> EncodeRefusal(std::uint32_t status,
                                                                      std::uint32_t information) {
  std::array<std::uint8_t, P::kReplyHeader> header{};
  StoreLe32(header.data(), status);
  StoreLe32(header.data() + 4, information);
  return header;
}

std::optional<DecodedReply> DecodeReply(std::span<const std::uint8_t> datagram) {
  if (datagram.size() < P::kReplyHeader || datagram.size() > P::kMaxReplyBytes) return std::nullopt;
  DecodedReply reply;
  reply.status = LoadLe32(datagram.data());
  reply.information = LoadLe32(datagram.data() + 4);
  reply.output = datagram.subspan(P::kReplyHeader);
  return reply;
}

}  // namespace vantrel::driver
