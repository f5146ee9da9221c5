// The library's connection to one board: the control requests of the driver,
// carried to the vantrelio daemon (or, in unit tests, to a handler in this
// process).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "link/LinkResult.h"

namespace vantrel {

class DeviceLink {
 public:
  virtual ~DeviceLink() = default;
  // One synchronous control request; the result converts to true when the
  // driver completed it with a success status, and then `*returned` holds the
  // bytes written to `out`. A failed request writes nothing to `out` and says
  // how it failed.
  virtual LinkResult Control(std::uint32_t code, std::span<const std::uint8_t> in,
                             std::span<std::uint8_t> out, std::uint32_t* returned) = 0;
  // Releases the connection; false when it was already released. Every request
  // made afterwards fails.
  virtual bool Close() = 0;
};

using DeviceOpener = std::function<std::unique_ptr<DeviceLink>(int deviceIndex)>;

// Opens board `deviceIndex` through the installed opener, by default the
// daemon's socket "ezusb-N" in $VANTREL_DEVICE_DIR (or /run/vantrel).
// Returns nullptr when the board cannot be opened.
std::unique_ptr<DeviceLink> OpenDevice(int deviceIndex);

// Replaces the way boards are opened (unit tests); an empty opener restores
// the daemon's sockets.
void SetDeviceOpener(DeviceOpener opener);

}  // namespace vantrel
