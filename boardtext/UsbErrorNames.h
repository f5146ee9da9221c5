// Names of the board library's error codes, as the pages show them.
#pragma once

#include <vantrel/VantrelTypes.h>

namespace vantrel::diag {

inline constexpr const char kUnknownErrorName[] = "Unknown error";

// The code's name, or "Unknown error" for a code the table has no entry for.
// The table has no entry for 11 (USB_MESSAGE_ILLEGAL_PORT).
const char* UsbErrorName(usbErrorCode code);

}  // namespace vantrel::diag
