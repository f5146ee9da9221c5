// The two USB host backends.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "vantrel/usbhost/UsbHost.h"

namespace vantrel::sim {
class SimUsbBus;
}

namespace vantrel::usbhost {

struct UsbId {
  std::uint16_t vendorId;
  std::uint16_t productId;
};

// Devices with one of `ids` on the machine's USB, through libusb-1.0. Start
// throws std::runtime_error when libusb cannot be initialised.
// Arrivals and departures come from libusb's hotplug events and, with a
// `pollInterval` above zero, also from a look at the bus at that interval
// (for machines where hotplug events never come, such as containers without
// udev). Where libusb has no hotplug support or its registration fails, the
// bus looks for changes at `pollInterval`, else once a second. An arrival
// reported twice is one device, a departure without an arrival is ignored,
// and a device that cannot be opened (access or busy errors are retried for
// about 2 s) is dropped with a message to the log (SetLog; default stderr).
// Isochronous transfers start as soon as possible (startAsap false is
// INVALID_PARAMETER) and report no start frame; CurrentFrameNumber is
// std::nullopt.
std::unique_ptr<UsbBus> MakeLibusbBus(std::vector<UsbId> ids,
                                      std::chrono::milliseconds pollInterval = {});

// The devices plugged into a simulated bus (not owned; it must outlive the
// returned bus). `request` events come from DeliverRequest.
class SimHostBus : public UsbBus {
 public:
  // Delivers a stop, start, capabilities or surprise-removal request for the
  // device on `port` to the bus's user, as the platform would.
  virtual void DeliverRequest(int port, PnpRequest request) = 0;
};
std::unique_ptr<SimHostBus> MakeSimBus(vantrel::sim::SimUsbBus& bus);

}  // namespace vantrel::usbhost
