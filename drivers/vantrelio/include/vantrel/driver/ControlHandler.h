// What serves the control requests of one open board: the daemon's socket
// connections and the in-process link of the unit tests both call it.
#pragma once

#include <cstdint>
#include <span>

#include "vantrel/protocol/ControlResult.h"

namespace vantrel::driver {

class ControlHandler {
 public:
  virtual ~ControlHandler() = default;
  // A client connects (opens the device) and disconnects (closes it). A
  // refused open ends the connection before any request.
  virtual bool Open() { return true; }
  virtual void Close() {}
  // `out` is the caller's output buffer; the handler never writes past it.
  virtual ControlResult Control(std::uint32_t code, std::span<const std::uint8_t> in,
                                std::span<std::uint8_t> out) = 0;
};

}  // namespace vantrel::driver
