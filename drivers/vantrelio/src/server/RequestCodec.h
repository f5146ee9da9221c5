// The wire form of one control request and its reply (ControlProtocol.h):
// the daemon's security boundary, so every length is checked against the
// datagram that carried it before anything is read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "vantrel/driver/ControlHandler.h"
#include "vantrel/driver/ControlProtocol.h"

namespace vantrel::driver {

// The largest well-formed request: the header, an input and an output
// buffer of the largest size each.
inline constexpr std::size_t kMaxRequestBytes =
    ControlProtocol::kRequestHeader + 2 * ControlProtocol::kMaxPayload;

struct DecodedRequest {
  std::uint32_t code = 0;
  std::span<const std::uint8_t> input;
  std::uint32_t outLength = 0;
  // The output buffer's bytes for codes that carry data to the device
  // (outLength of them); empty for the others.
  std::span<const std::uint8_t> output;
};

// One datagram as received; none when it is malformed: shorter than the
// header, a length above the limit, or lengths that disagree with the
// datagram's size. The spans point into `datagram`.
std::optional<DecodedRequest> DecodeRequest(std::span<const std::uint8_t> datagram);

struct EncodedReply {
  std::array<std::uint8_t, ControlProtocol::kReplyHeader> header{};
  // Bytes of the output buffer that follow the header: none on failure,
  // never more than the caller's output length.
  std::size_t outputBytes = 0;
};

// The reply to a request whose output buffer is `outLength` bytes. The
// datagram's length tells how many output bytes follow; the information
// field carries the code's own count (on success, bounded by the output
// length when it is the output's byte count).
EncodedReply EncodeReply(const ControlResult& result, std::uint32_t outLength);

// Runs a decoded request on `handler` (a malformed one, none, gets
// STATUS_INVALID_PARAMETER) and encodes its reply; `output` receives the
// output buffer, whose first `outputBytes` bytes follow the reply's header.
EncodedReply HandleRequest(ControlHandler& handler, const std::optional<DecodedRequest>& request,
                           std::vector<std::uint8_t>& output);

}  // namespace vantrel::driver
