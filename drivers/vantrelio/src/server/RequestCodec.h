// The daemon's side of one control request: the datagram decoded by the
// wire codec (ControlProtocol.h), run on the board's handler, and its reply
// encoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "vantrel/driver/ControlHandler.h"
#include "vantrel/protocol/ControlProtocol.h"

namespace vantrel::driver {

inline constexpr std::size_t kMaxRequestBytes = ControlProtocol::kMaxRequestBytes;

// Runs a decoded request on `handler` (a malformed one, none, gets
// STATUS_INVALID_PARAMETER) and encodes its reply; `output` receives the
// output buffer, whose first `outputBytes` bytes follow the reply's header.
EncodedReply HandleRequest(ControlHandler& handler, const std::optional<DecodedRequest>& request,
                           std::vector<std::uint8_t>& output);

}  // namespace vantrel::driver
