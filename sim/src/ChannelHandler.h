// What every command handler of the simulated board shares: the request as the
// firmware sees it, the reply it builds, the status codes it answers with and
// the little-endian packing of multi-byte values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace vantrel::sim {

// Status bytes the board's firmware puts after the echo.
namespace status {
inline constexpr std::uint8_t kSuccess = 0;
inline constexpr std::uint8_t kNotRecognised = 1;
inline constexpr std::uint8_t kLengthError = 2;
inline constexpr std::uint8_t kExecutionFailure = 3;
inline constexpr std::uint8_t kI2cNack = 12;
inline constexpr std::uint8_t kUnknownHandshakeMode = 9;
inline constexpr std::uint8_t kSramAddressingError = 15;
inline constexpr std::uint8_t kReelNumberError = 16;
inline constexpr std::uint8_t kReelBusy = 17;
inline constexpr std::uint8_t kSpinTableLengthError = 18;
inline constexpr std::uint8_t kTooFewReelSteps = 19;
inline constexpr std::uint8_t kReelStatusLengthError = 20;
inline constexpr std::uint8_t kSyncRequestLengthError = 21;
}  // namespace status

// Largest amount of reply data after echo and status (one 64-byte packet).
inline constexpr std::size_t kMaxReplyData = 62;

struct Request {
  std::uint8_t command = 0;
  std::span<const std::uint8_t> payload;
  std::uint64_t nowMicros = 0;  // board time at which the command runs
};

struct Response {
  std::uint8_t status = status::kSuccess;
  std::vector<std::uint8_t> data;
  // How long the command kept the firmware busy before it answered (a serial
  // send answers once its bytes have left the port); the board's time moves
  // on by it.
  std::uint64_t busyMicros = 0;

  static Response Status(std::uint8_t code) { return Response{code, {}, 0}; }
  static Response Ok(std::vector<std::uint8_t> data = {}) {
    return Response{status::kSuccess, std::move(data), 0};
  }
};

// The firmware code behind one channel. Handlers are called with the board's
// lock held, so they need no locking of their own.
class ChannelHandler {
 public:
  virtual ~ChannelHandler() = default;
  virtual Response Handle(const Request& request) = 0;
};

inline std::uint32_t LoadLe32(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

inline void AppendLe32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

inline void AppendLe16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

// A firmware version text with its terminating zero.
inline std::vector<std::uint8_t> VersionText(const char* text) {
  std::vector<std::uint8_t> out;
  for (const char* p = text; *p != '\0'; ++p) out.push_back(static_cast<std::uint8_t>(*p));
  out.push_back(0);
  return out;
}

// Memory transfer requests of channels 2 and 6: n, address low, address high
// (read), followed by the n data bytes (write).
struct MemoryRequest {
  std::size_t length = 0;
  std::uint16_t address = 0;
  std::span<const std::uint8_t> data;  // empty for reads
};

inline constexpr std::size_t kMaxReadChunk = 62;
inline constexpr std::size_t kMaxWriteChunk = 60;

// Returns false when the payload does not have the read request's form.
inline bool ParseMemoryRead(std::span<const std::uint8_t> payload, MemoryRequest& out) {
  if (payload.size() != 3 || payload[0] == 0 || payload[0] > kMaxReadChunk) return false;
  out.length = payload[0];
  out.address = static_cast<std::uint16_t>(payload[1] | payload[2] << 8);
  out.data = {};
  return true;
}

// Returns false when the payload does not have the write request's form.
inline bool ParseMemoryWrite(std::span<const std::uint8_t> payload, MemoryRequest& out) {
  if (payload.size() < 3 || payload[0] == 0 || payload[0] > kMaxWriteChunk ||
      payload.size() != 3u + payload[0]) {
    return false;
  }
  out.length = payload[0];
  out.address = static_cast<std::uint16_t>(payload[1] | payload[2] << 8);
  out.data = payload.subspan(3);
  return true;
}

}  // namespace vantrel::sim
