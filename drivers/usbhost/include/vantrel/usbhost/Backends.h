// The two USB host backends.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "vantrel/usbhost/UsbHost.h"

namespace k27sim {
class SimUsbBus;
}

namespace vantrel::usbhost {

struct UsbId {
  std::uint16_t vendorId;
  std::uint16_t productId;
};

// Devices with one of `ids` on the machine's USB, through libusb-1.0. Start
// throws std::runtime_error when libusb cannot be initialised.
std::unique_ptr<UsbBus> MakeLibusbBus(std::vector<UsbId> ids);

// The devices plugged into a simulated bus (not owned; it must outlive the
// returned bus). `request` events come from DeliverRequest.
class SimHostBus : public UsbBus {
 public:
  // Delivers a stop, start, capabilities or surprise-removal request for the
  // device on `port` to the bus's user, as the platform would.
  virtual void DeliverRequest(int port, PnpRequest request) = 0;
};
std::unique_ptr<SimHostBus> MakeSimBus(k27sim::SimUsbBus& bus);

}  // namespace vantrel::usbhost
