// The three stepper-motor reels on channel 1.
//
// Configuration (0x56: reel count 1-3, half-steps per rotation high and low,
// a third byte that changes nothing the host can see) puts every reel at position 0, not
// synchronised. A spin (0x57: reel, direction, steps high, steps low) moves
// the reel by -2, -1, +1 or +2 half-steps per step (direction 0xFE, 0xFF,
// 0x01, 0x02), the position counted modulo the half-steps per rotation. The
// first steps of a spin take the times of the reel's ramp-up table (0x58),
// the last ones those of its ramp-down table (0x59), in milliseconds per
// entry; every other step, and an entry of 0, takes kStepMicros. A reel is
// busy while it steps. After a synchronise enable (0x5B) a reel's sync flag
// is 0 until the reel reaches or passes position 0, then 1. The error
// values are always 0: a simulated reel loses no steps.
//
// Status codes: 16 for a reel number beyond the configured count (or a count
// outside 1-3), 17 for a command on a busy reel (or a configuration while
// any reel turns), 18 when a ramp table's count differs from the entries
// sent, 19 for a spin shorter than its two ramp tables' entries
// together less one (or a rotation of 0 half-steps), 20 for a status request
// with a payload, 21 for a synchronise request of other than one byte, 3 for
// an unknown direction and 2 for other wrong lengths.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "ChannelHandler.h"
#include "k27sim/SimBoard.h"

namespace vantrel::sim {

class SimReels {
 public:
  static constexpr int kReels = 3;
  static constexpr std::uint64_t kStepMicros = 2'000;

  // Handles the reel commands; nothing for any other command byte.
  std::optional<Response> Handle(const Request& request);
  // Takes the steps that fell due by `nowMicros`.
  void AdvanceTo(std::uint64_t nowMicros);

  ReelState State(int reel) const;
  int Count() const { return count_; }
  std::uint16_t HalfStepsPerRotation() const { return halfSteps_; }
  const std::array<std::uint8_t, 3>& DutyCycle() const { return dutyCycle_; }

 private:
  struct Reel {
    ReelState state;
    bool syncArmed = false;
    std::vector<std::uint8_t> rampUp;
    std::vector<std::uint8_t> rampDown;
    int delta = 0;                     // half-steps per step
    std::uint32_t steps = 0;           // of the spin
    std::uint32_t taken = 0;           // steps taken so far
    std::uint64_t nextStepMicros = 0;  // when the next step ends
  };

  Response Configure(std::span<const std::uint8_t> payload);
  Response Spin(std::span<const std::uint8_t> payload, std::uint64_t nowMicros);
  Response Ramp(std::span<const std::uint8_t> payload, bool up);
  Response Synchronise(std::span<const std::uint8_t> payload);
  Response Status(std::span<const std::uint8_t> payload) const;
  // The reel a command names, or the status that refuses it.
  Reel* ReelFor(std::uint8_t reel, std::uint8_t& statusOut);
  std::uint64_t StepMicros(const Reel& reel, std::uint32_t step) const;
  void Step(Reel& reel);

  int count_ = 0;
  std::uint16_t halfSteps_ = 0;
  std::array<std::uint8_t, 3> dutyCycle_{};
  std::array<Reel, kReels> reels_{};
};

}  // namespace vantrel::sim
