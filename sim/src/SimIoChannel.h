// Channel 1: inputs, outputs and lamps, pulse counters, parallel hoppers
// and reels, each served by its own part.
#pragma once

#include <cstdint>

#include "ChannelHandler.h"
#include "SimHoppers.h"
#include "SimInputs.h"
#include "SimOutputs.h"
#include "SimReels.h"

namespace vantrel::sim {

class SimIoChannel final : public ChannelHandler {
 public:
  explicit SimIoChannel(std::uint8_t boardAddress) : inputs_(boardAddress), hoppers_(outputs_) {}
  SimIoChannel(const SimIoChannel&) = delete;
  SimIoChannel& operator=(const SimIoChannel&) = delete;

  Response Handle(const Request& request) override;
  // Brings pulses, payouts and reels to the board's time.
  void AdvanceTo(std::uint64_t nowMicros);

  SimInputs& Inputs() { return inputs_; }
  SimOutputs& Outputs() { return outputs_; }
  SimHoppers& Hoppers() { return hoppers_; }
  SimReels& Reels() { return reels_; }

 private:
  SimInputs inputs_;
  SimOutputs outputs_;
  SimHoppers hoppers_;
  SimReels reels_;
};

}  // namespace vantrel::sim
