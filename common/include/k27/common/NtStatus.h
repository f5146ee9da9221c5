// The NT status values that every control request and loader step answers
// with, and the test for failure.
#pragma once

#include <cstdint>

namespace vantrel::common {

enum NtStatus : std::uint32_t {
  STATUS_SUCCESS = 0x00000000,
  STATUS_DEVICE_BUSY = 0x80000011,
  STATUS_UNSUCCESSFUL = 0xC0000001,
  STATUS_INVALID_PARAMETER = 0xC000000D,
  // The caller may not use this code on this connection (the raw codes are
  // for root and the administrators' group).
  STATUS_ACCESS_DENIED = 0xC0000022,
  // The daemon refuses a connection: the client's user holds as many
  // connections as the daemon allows it; the information is that limit.
  STATUS_QUOTA_EXCEEDED = 0xC0000044,
  STATUS_INSUFFICIENT_RESOURCES = 0xC0000017,
  // The daemon refuses a connection: the client's user holds as many
  // connections to this board as the daemon allows one user; the information
  // is that limit.
  STATUS_TOO_MANY_SESSIONS = 0xC00000CE,
  STATUS_DELETE_PENDING = 0xC0000056,
  STATUS_NO_MEMORY = 0xC000009A,
  STATUS_DEVICE_NOT_CONNECTED = 0xC000009D,
  STATUS_CANCELLED = 0xC0000120,
  STATUS_DEVICE_DATA_ERROR = 0xC000009C,
  // The daemon refuses a connection: the board serves as many connections as
  // the daemon allows; the information is that limit.
  STATUS_TOO_MANY_OPENED_FILES = 0xC000011F,
};

// The request failed (errors and warnings both count as failure).
constexpr bool NtFailed(std::uint32_t status) { return static_cast<std::int32_t>(status) < 0; }

}  // namespace vantrel::common
