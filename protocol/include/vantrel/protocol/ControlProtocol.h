// One control request on a connected SOCK_SEQPACKET socket.
//   request: u32 code, u32 input length, u32 output length, then the input
//            bytes; for codes of the "in direct" method (code & 3 == 1), whose
//            output buffer carries data to the device, the output bytes follow
//   reply:   u32 status, u32 information, then the output bytes (none on
//            failure); the datagram's length says how many there are, which
//            is the information count except for the codes whose information
//            is not one (the isochronous transfers: 0)
// The encoder and decoder below are the one wire form for the daemon, the
// board library and the tests. The daemon's side is its security boundary:
// every length is checked against the datagram that carried it before
// anything is read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "vantrel/protocol/ControlResult.h"

namespace vantrel::driver {

struct ControlProtocol {
  // The output buffer of these codes holds data for the device.
  static constexpr bool SendsOutputBuffer(std::uint32_t code) { return (code & 3u) == 1u; }
  static constexpr std::size_t kRequestHeader = 12;
  static constexpr std::size_t kReplyHeader = 8;
  // Largest input or output a request may carry; anything larger is refused.
  static constexpr std::size_t kMaxPayload = 128 * 1024;
  // The largest well-formed request: the header, an input and an output
  // buffer of the largest size each; and the largest reply.
  static constexpr std::size_t kMaxRequestBytes = kRequestHeader + 2 * kMaxPayload;
  static constexpr std::size_t kMaxReplyBytes = kReplyHeader + kMaxPayload;
  // Socket name of board instance N inside the device folder.
  static constexpr const char* kSocketPrefix = "ezusb-";
  static constexpr const char* kDefaultDeviceDir = "/run/vantrel";
  static constexpr const char* kDeviceDirEnv = "VANTREL_DEVICE_DIR";

  // "ezusb-N".
  static std::string SocketName(int instance);
  // The device folder: $VANTREL_DEVICE_DIR when set and not empty, else
  // /run/vantrel.
  static std::string DeviceDirectory();

  // How long a client waits for the daemon to take a request and to answer
  // it: $VANTREL_REPLY_TIMEOUT_MS (1 to 3,600,000) when set, else 15 s, well
  // beyond the driver's 5 s per transfer.
  static constexpr int kDefaultReplyTimeoutMs = 15000;
  static constexpr const char* kReplyTimeoutEnv = "VANTREL_REPLY_TIMEOUT_MS";
  static int ReplyTimeoutMs();
};

// --- Requests ---------------------------------------------------------------

using RequestHeaderBytes = std::array<std::uint8_t, ControlProtocol::kRequestHeader>;

// The header as written, lengths as given (a test may make them lie).
RequestHeaderBytes EncodeRequestHeader(std::uint32_t code, std::uint32_t inLength,
                                       std::uint32_t outLength);

// The bytes of `out` that travel with a request of `code`: all of them for
// the codes that send their output buffer, none for the others.
std::span<const std::uint8_t> SentOutput(std::uint32_t code, std::span<const std::uint8_t> out);

// A whole request datagram for an output buffer of `out.size()` bytes; none
// when the input or the output is larger than a request may carry.
std::optional<std::vector<std::uint8_t>> EncodeRequest(std::uint32_t code,
                                                       std::span<const std::uint8_t> in,
                                                       std::span<const std::uint8_t> out);

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

// --- Replies ----------------------------------------------------------------

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

// A reply with no request behind it (a refused connection): the status, and
// the limit that was reached as the information (0 when none was).
std::array<std::uint8_t, ControlProtocol::kReplyHeader> EncodeRefusal(
    std::uint32_t status, std::uint32_t information = 0);

struct DecodedReply {
  std::uint32_t status = 0;
  std::uint32_t information = 0;
  // The bytes after the header.
  std::span<const std::uint8_t> output;

  // The bytes the caller may take into an output buffer of `capacity`
  // bytes: what came, within the buffer.
  std::size_t OutputCount(std::size_t capacity) const {
    return output.size() < capacity ? output.size() : capacity;
  }
  // The count reported back: the information, never more than what came.
  std::uint32_t Returned(std::size_t capacity) const {
    const std::size_t count = OutputCount(capacity);
    return static_cast<std::uint32_t>(information < count ? information : count);
  }
};

// One reply datagram; none when it is shorter than its header or carries
// more output than any request may ask for. The span points into `datagram`.
std::optional<DecodedReply> DecodeReply(std::span<const std::uint8_t> datagram);

}  // namespace vantrel::driver
