#include "UsbErrorNames.h"

#include <array>
#include <cstdint>

namespace vantrel::diag {

namespace {

// Indexed by code; a null entry has no name.
constexpr std::array<const char*, 22> kNames{
    "USB_MESSAGE_EXECUTION_SUCCESS",
    "USB_MESSAGE_NOT_RECOGNISED",
    "USB_MESSAGE_LENGTH_ERROR",
    "USB_MESSAGE_EXECUTION_FAILURE",
    "USB_DEVICE_WRITE_ERROR",
    "USB_DEVICE_READ_ERROR",
    "USB_DEVICE_RESPONSE_ERROR",
    "USB_DEVICE_BYTE_COUNT_ERROR",
    "USB_MESSAGE_PARAMETER_OUT_OF_RANGE",
    "USB_MESSAGE_UNKNOWN_HANDSHAKE_MODE",
    "USB_MESSAGE_ILLEGAL_BAUD_RATE",
    nullptr,  // 11: USB_MESSAGE_ILLEGAL_PORT has no text of its own
    "USB_MESSAGE_I2C_NACK",
    "USB_MESSAGE_I2C_ERROR",
    "USB_MESSAGE_EXECUTION_TIMEOUT",
    "USB_MESSAGE_SRAM_ADDRESSING_ERROR",
    "USB_MESSAGE_REEL_NUMBER_ERROR",
    "USB_MESSAGE_REEL_BUSY",
    "USB_MESSAGE_SPIN_TABLE_LENGTH_ERROR",
    "USB_MESSAGE_TOO_FEW_REEL_STEPS",
    "USB_MESSAGE_REEL_STATUS_LENGTH_ERROR",
    "USB_MESSAGE_SYNC_REQUEST_LENGTH_ERROR",
};

}  // namespace

const char* UsbErrorName(usbErrorCode code) {
  const auto value = static_cast<std::int32_t>(code);
  if (value < 0 || static_cast<std::size_t>(value) >= kNames.size() || kNames[value] == nullptr)
    return kUnknownErrorName;
  return kNames[value];
}

}  // namespace vantrel::diag
