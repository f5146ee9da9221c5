// A link that hands the library's control requests straight to a handler in
// this process, for unit tests that run without the daemon. The handler is
// the daemon's own interface, so a test serves the library with a board
// device or with a board of its own making.
#pragma once

#include <memory>

#include <vantrel/driver/ControlHandler.h>

#include "link/DeviceLink.h"

namespace vantrel {

class InProcessDeviceLink final : public DeviceLink {
 public:
  explicit InProcessDeviceLink(std::shared_ptr<driver::ControlHandler> handler)
      : handler_(std::move(handler)) {}
  LinkResult Control(std::uint32_t code, std::span<const std::uint8_t> in,
                     std::span<std::uint8_t> out, std::uint32_t* returned) override;
  bool Close() override;

 private:
  std::shared_ptr<driver::ControlHandler> handler_;
};

}  // namespace vantrel
