// The board's inputs on channel 1: the five-byte snapshot (switch inputs
// 0-23, dip switches, a fifth byte), changed and raw inputs, multiplexed
// inputs and the pulse counters.
//
// Changed inputs (0x51) report every bit that has changed since the last
// 0x51 read, even when it has changed back since (the changes are latched);
// the read clears them. Raw inputs (0x52) read the snapshot unless a test
// has set a raw state of their own (an input that bounces before the
// firmware's filter passes it). Multiplexed inputs (0x73) are read only
// while multiplexing is on (0x72 with 1); otherwise status 3.
//
// Pulse counters exist for input bits 0-39. One counts the pulses that
// reach its input while its check is on (0x6C with 1), up to 255; 0x6E
// takes one off (status 3 at 0). Input numbers above 39 answer status 3.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "ChannelHandler.h"

namespace vantrel::sim {

class SimInputs {
 public:
  using Bytes = std::array<std::uint8_t, 5>;
  using Multiplexed = std::array<std::uint8_t, 13>;
  static constexpr int kInputBits = 40;

  // Switch inputs and the fifth byte read 1 while open; dip switches 0-2
  // hold `address`, the others read 1.
  explicit SimInputs(std::uint8_t address);

  // Handles the input commands; nothing for any other command byte.
  std::optional<Response> Handle(const Request& request);

  const Bytes& Snapshot() const { return snapshot_; }
  void SetSnapshot(const Bytes& inputs);
  void SetDipSwitches(std::uint8_t switches);
  void SetRaw(const std::optional<Bytes>& raw) { raw_ = raw; }
  void SetMultiplexed(const Multiplexed& inputs) { multiplexed_ = inputs; }
  bool MultiplexingOn() const { return multiplexing_; }
  void InjectPulses(int input, int count);
  std::uint8_t PulseCount(int input) const;

 private:
  struct PulsedInput {
    bool checking = false;
    std::uint8_t count = 0;
  };

  Response Pulsed(const Request& request);

  Bytes snapshot_;
  Bytes changed_{};
  std::optional<Bytes> raw_;
  bool multiplexing_ = false;
  Multiplexed multiplexed_{};
  std::array<PulsedInput, kInputBits> pulsed_{};
};

}  // namespace vantrel::sim
