// The receive side of one serial port: bytes in order of arrival, each held
// back until the board's time has reached it, and the one-byte time values
// of the timestamped receive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "k27sim/SerialPeer.h"

namespace vantrel::sim {

class SimReceiveQueue {
 public:
  // What the board's buffer holds; bytes arriving while it is full are lost,
  // as on a UART that nobody reads.
  static constexpr std::size_t kCapacity = 4096;

  // A byte can arrive no earlier than the one queued before it.
  void Add(LineByte byte);
  // Arrival time of the last byte queued, nothing before the first.
  std::optional<std::uint64_t> LastArrivalMicros() const;

  // Up to `max` bytes that have arrived by `nowMicros`.
  std::vector<std::uint8_t> Take(std::size_t max, std::uint64_t nowMicros);
  // Up to `maxPairs` (byte, time) pairs of bytes that have arrived by
  // `nowMicros`; with none, one time value alone: the time since the last
  // byte taken. Time values count whole milliseconds of board time since the
  // byte before, saturating at 255.
  std::vector<std::uint8_t> TakeTimestamped(std::size_t maxPairs, std::uint64_t nowMicros);

 private:
  static std::uint8_t TimeValue(std::uint64_t fromMicros, std::uint64_t toMicros);
  bool Ready(std::uint64_t nowMicros) const {
    return !bytes_.empty() && bytes_.front().atMicros <= nowMicros;
  }

  std::deque<LineByte> bytes_;
  std::uint64_t lastQueuedMicros_ = 0;
  bool anyQueued_ = false;
  std::uint64_t lastTakenMicros_ = 0;
};

}  // namespace vantrel::sim
