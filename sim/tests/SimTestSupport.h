// Helpers shared by the simulator tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "k27sim/SimBoard.h"

namespace vantrel::sim::test {

using Bytes = std::vector<std::uint8_t>;

inline SimReply Send(SimBoard& board, int channel, std::initializer_list<std::uint8_t> command) {
  const Bytes bytes(command);
  return board.Exchange(channel, bytes);
}

inline SimReply Send(SimBoard& board, int channel, const Bytes& command) {
  return board.Exchange(channel, command);
}

// Echo and status of a reply, or -1 where the reply has no such byte.
inline int Echo(const SimReply& reply) { return reply.bytes.empty() ? -1 : reply.bytes[0]; }
inline int Status(const SimReply& reply) { return reply.bytes.size() < 2 ? -1 : reply.bytes[1]; }
inline Bytes Data(const SimReply& reply) {
  return reply.bytes.size() <= 2 ? Bytes{} : Bytes(reply.bytes.begin() + 2, reply.bytes.end());
}

inline Bytes ReadRequest(std::uint8_t command, std::uint8_t n, std::uint16_t address) {
  return {command, n, static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8)};
}

inline Bytes WriteRequest(std::uint8_t command, std::uint16_t address, const Bytes& data) {
  Bytes out{command, static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address),
            static_cast<std::uint8_t>(address >> 8)};
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

// A board whose application image runs, so that channels 1, 3, 4 and 7
// answer.
struct RunningBoard : SimBoard {
  explicit RunningBoard(SimBoardOptions options = {}) : SimBoard(options) {
    SetApplicationRunning(true);
  }
};

constexpr std::uint8_t kOk = 0;
constexpr std::uint8_t kNotRecognised = 1;
constexpr std::uint8_t kLengthError = 2;
constexpr std::uint8_t kExecutionFailure = 3;
constexpr std::uint8_t kI2cNack = 12;
constexpr std::uint8_t kSramAddressing = 15;

}  // namespace vantrel::sim::test
