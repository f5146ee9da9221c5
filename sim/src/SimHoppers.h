// Parallel hopper payouts on channel 1. A payout (0x70: input, setting A,
// level, output, coins high, coins low, setting B) switches the hopper's
// motor output on in both output images and pays one coin every
// kCoinMicros of board time, counted on the hopper's coin input, until the
// coins are paid; then the motor goes off. An empty hopper pays nothing:
// after kEmptyCoinPeriods coin periods without a coin the payout fails and
// the motor goes off.
//
// The status (0x71 with the input) is two bytes: the state (kIdle, kPaying,
// kDone, kFailed) and the coins paid so far in the last payout on that
// input, saturating at 255.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "ChannelHandler.h"
#include "SimOutputs.h"

namespace vantrel::sim {

class SimHoppers {
 public:
  static constexpr std::uint64_t kCoinMicros = 200'000;
  static constexpr int kEmptyCoinPeriods = 5;
  static constexpr int kInputs = 40;

  enum State : std::uint8_t { kIdle = 0, kPaying = 1, kDone = 2, kFailed = 3 };

  explicit SimHoppers(SimOutputs& outputs) : outputs_(outputs) {}

  // Handles the hopper commands; nothing for any other command byte.
  std::optional<Response> Handle(const Request& request);
  // Pays the coins that fell due by `nowMicros`.
  void AdvanceTo(std::uint64_t nowMicros);

  // Whether the hopper counted on `input` has run out of coins.
  void SetEmpty(int input, bool empty);

 private:
  struct Hopper {
    State state = kIdle;
    std::uint8_t output = 0;
    std::uint16_t coins = 0;
    std::uint16_t paid = 0;
    int dryPeriods = 0;
    std::uint64_t nextCoinMicros = 0;
    bool empty = false;
  };

  Response Release(const Request& request);
  void Finish(Hopper& hopper, State state);

  SimOutputs& outputs_;
  std::array<Hopper, kInputs> hoppers_{};
};

}  // namespace vantrel::sim
