// What serves the control requests of one open board: the daemon's socket
// connections and the in-process link of the unit tests both call it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace vantrel::driver {

struct ControlResult {
  std::uint32_t status;
  // The code's information count; unless `outputBytes` says otherwise, also
  // the bytes of `out` that are valid on success.
  std::uint32_t information;
  // For codes whose information is not a byte count of the output (the
  // isochronous transfers report 0): the bytes of `out` that go back.
  std::optional<std::uint32_t> outputBytes = std::nullopt;

  // The bytes of `out` that go back to the caller on success.
  std::uint32_t OutputBytes() const { return outputBytes.value_or(information); }
};

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
