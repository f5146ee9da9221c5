// The state behind one VantrelUSB object; objects that were assigned from one
// another share it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include <vantrel/VantrelTypes.h>

#include "link/DeviceLink.h"

namespace vantrel {

struct BoardContext {
  // Board slot in every shared per-board record, and the device opened by init.
  std::int32_t deviceIndex = 0;
  // The open board; empty is the invalid handle.
  std::unique_ptr<vantrel::DeviceLink> device;
  // Set only when an operation fails.
  usbErrorCode lastError = USB_MESSAGE_EXECUTION_SUCCESS;
  // Objects sharing this context.
  std::atomic<int> references{1};
};

// Board slots in the shared records.
constexpr int kMaxDeviceIndex = 15;

// False, with a message on standard error, when the shared state is not
// there for this process: init and InitUSBBoard then connect nothing.
bool ConnectionAllowed();

// Payload and reply limits of one exchange.
constexpr unsigned long kMaxPayload = 63;
constexpr unsigned long kMaxReplyData = 62;

}  // namespace vantrel
