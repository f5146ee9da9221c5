// The board's outputs on channel 1: the on-period and off-period images (32
// lamps, 6 auxiliary outputs), the brightness level and the output pulse.
//
// An output pulse (0x4E: on, 0x4F: off) carries its time in units of 10 ms
// and the output number 0-37. The output switches on (off) in both images
// at once and off (on) again when the time is up; a new pulse ends a running
// one first. The pulse result (0x50) reads the output number of the last
// pulse, 1 while it runs (else 0), and the 10 ms units it has left.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "ChannelHandler.h"

namespace vantrel::sim {

class SimOutputs {
 public:
  using Image = std::array<std::uint8_t, 5>;
  static constexpr int kOutputs = 38;
  static constexpr std::uint64_t kPulseUnitMicros = 10'000;

  // Handles the output commands; nothing for any other command byte.
  std::optional<Response> Handle(const Request& request);
  // Ends a pulse whose time is up by `nowMicros`.
  void AdvanceTo(std::uint64_t nowMicros);

  // Switches `output` (0-37) on or off in both images.
  void Set(int output, bool on);

  const Image& OnPeriod() const { return onPeriod_; }
  const Image& OffPeriod() const { return offPeriod_; }
  std::uint8_t Brightness() const { return brightness_; }

 private:
  struct Pulse {
    std::uint8_t output = 0;
    bool on = true;
    std::uint64_t endMicros = 0;
    bool running = false;
  };

  Response StartPulse(std::span<const std::uint8_t> payload, bool on, std::uint64_t nowMicros);
  void EndPulse();
  Response PulseResult(std::uint64_t nowMicros) const;

  Image onPeriod_{};
  Image offPeriod_{};
  std::uint8_t brightness_ = 0;
  Pulse pulse_;
};

}  // namespace vantrel::sim
