// How one control request on a board's link ended: completed, failed with the
// daemon's status, not answered in time, or lost with the connection.
#pragma once

#include <cstdint>

namespace vantrel {

struct LinkResult {
  enum class Kind : std::uint8_t {
    kCompleted,  // the daemon completed it with a success status
    kFailed,     // the daemon answered with a failure status
    kNoReply,    // the daemon did not take or answer it in time
    kLost,       // no connection, or it ended without an answer
  };
  Kind kind = Kind::kLost;
  // The daemon's NT status and information (kCompleted and kFailed only). A
  // refused connection's status carries the limit it reached as information.
  std::uint32_t status = 0;
  std::uint32_t information = 0;

  static constexpr LinkResult Completed(std::uint32_t status, std::uint32_t information) {
    return {Kind::kCompleted, status, information};
  }
  static constexpr LinkResult Failed(std::uint32_t status, std::uint32_t information) {
    return {Kind::kFailed, status, information};
  }
  static constexpr LinkResult NoReply() { return {Kind::kNoReply, 0, 0}; }
  static constexpr LinkResult Lost() { return {Kind::kLost, 0, 0}; }

  explicit operator bool() const { return kind == Kind::kCompleted; }
};

}  // namespace vantrel
