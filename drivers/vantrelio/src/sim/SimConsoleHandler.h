// Serves the console socket of the simulated daemon: commands for k27sim's
// console, one control request each.
#pragma once

#include "k27sim/SimConsole.h"
#include "vantrel/driver/ControlHandler.h"

namespace vantrel::driver {

class SimConsoleHandler final : public ControlHandler {
 public:
  explicit SimConsoleHandler(vantrel::sim::SimConsole& console) : console_(console) {}
  ControlResult Control(std::uint32_t code, std::span<const std::uint8_t> in,
                        std::span<std::uint8_t> out) override;

 private:
  vantrel::sim::SimConsole& console_;
};

}  // namespace vantrel::driver
