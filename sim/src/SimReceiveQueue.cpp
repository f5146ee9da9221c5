#include "SimReceiveQueue.h"

#include <algorithm>

namespace vantrel::sim {

void SimReceiveQueue::Add(LineByte byte) {
  byte.atMicros = std::max(byte.atMicros, lastQueuedMicros_);
  lastQueuedMicros_ = byte.atMicros;
  anyQueued_ = true;
  if (bytes_.size() < kCapacity) bytes_.push_back(byte);
}

std::vector<std::uint8_t> SimReceiveQueue::Take(std::size_t max, std::uint64_t nowMicros) {
  std::vector<std::uint8_t> out;
  while (out.size() < max && Ready(nowMicros)) {
    out.push_back(bytes_.front().value);
    lastTakenMicros_ = bytes_.front().atMicros;
    bytes_.pop_front();
  }
  return out;
}

std::vector<std::uint8_t> SimReceiveQueue::TakeTimestamped(std::size_t maxPairs,
                                                           std::uint64_t nowMicros) {
  if (!Ready(nowMicros)) return {TimeValue(lastTakenMicros_, nowMicros)};
  std::vector<std::uint8_t> out;
  while (out.size() < 2 * maxPairs && Ready(nowMicros)) {
    const LineByte byte = bytes_.front();
    bytes_.pop_front();
    out.push_back(byte.value);
    out.push_back(TimeValue(lastTakenMicros_, byte.atMicros));
    lastTakenMicros_ = byte.atMicros;
  }
  return out;
}

std::optional<std::uint64_t> SimReceiveQueue::LastArrivalMicros() const {
  if (!anyQueued_) return std::nullopt;
  return lastQueuedMicros_;
}

// The firmware counts a millisecond tick: the value is the number of ticks
// between the two moments, so that the values of a run of bytes add up to
// the run's length in milliseconds.
std::uint8_t SimReceiveQueue::TimeValue(std::uint64_t fromMicros, std::uint64_t toMicros) {
  const std::uint64_t from = fromMicros / 1000;
  const std::uint64_t to = toMicros / 1000;
  return static_cast<std::uint8_t>(to <= from ? 0 : std::min<std::uint64_t>(to - from, 255));
}

}  // namespace vantrel::sim
