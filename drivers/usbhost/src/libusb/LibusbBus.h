// The libusb bus's variants beyond MakeLibusbBus.
#pragma once

#include <memory>
#include <vector>

#include "vantrel/usbhost/Backends.h"

namespace vantrel::usbhost {

// A bus that ignores libusb's hotplug events and looks at the bus once a
// second, as MakeLibusbBus does where libusb has no hotplug support.
std::unique_ptr<UsbBus> MakePollingLibusbBus(std::vector<UsbId> ids);

}  // namespace vantrel::usbhost
