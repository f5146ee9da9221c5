// What the USB host layer and its users share: setup packets, descriptors,
// endpoint lists and the USBD status values that the driver reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::usbhost {

// USBD status values of the request blocks (the driver keeps the latest
// failing one as LastUrbError).
enum UsbdStatus : std::uint32_t {
  USBD_STATUS_SUCCESS = 0x00000000,
  USBD_STATUS_CRC = 0xC0000001,
  USBD_STATUS_BTSTUFF = 0xC0000002,
  USBD_STATUS_DATA_TOGGLE_MISMATCH = 0xC0000003,
  USBD_STATUS_STALL_PID = 0xC0000004,
  USBD_STATUS_DEV_NOT_RESPONDING = 0xC0000005,
  USBD_STATUS_DATA_OVERRUN = 0xC0000008,
  USBD_STATUS_DATA_UNDERRUN = 0xC0000009,
  USBD_STATUS_BUFFER_OVERRUN = 0xC000000C,
  USBD_STATUS_BUFFER_UNDERRUN = 0xC000000D,
  USBD_STATUS_NOT_ACCESSED = 0xC000000F,
  USBD_STATUS_ENDPOINT_HALTED = 0xC0000030,
  USBD_STATUS_NO_MEMORY = 0x80000100,
  USBD_STATUS_INVALID_URB_FUNCTION = 0x80000200,
  USBD_STATUS_INVALID_PARAMETER = 0x80000300,
  USBD_STATUS_REQUEST_FAILED = 0x80000500,
  USBD_STATUS_INVALID_PIPE_HANDLE = 0x80000600,
  USBD_STATUS_ERROR_SHORT_TRANSFER = 0x80000900,
  USBD_STATUS_DEVICE_GONE = 0xC0007000,
  USBD_STATUS_CANCELED = 0xC0010000,
  USBD_STATUS_ISO_NOT_ACCESSED_BY_HW = 0xC0020000,
  USBD_STATUS_ISO_TD_ERROR = 0xC0030000,
  USBD_STATUS_ISO_NA_LATE_USBPORT = 0xC0040000,
  USBD_STATUS_ISO_NOT_ACCESSED_LATE = 0xC0050000,
};

// An error status has its top bit set (warnings 0x8..., errors 0xC...).
constexpr bool UsbdFailed(std::uint32_t status) { return (status & 0x80000000u) != 0; }

struct SetupPacket {
  std::uint8_t requestType = 0;  // bit 7: device to host
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint16_t length = 0;  // of the data stage
};

// Endpoint transfer types as the descriptors give them (bmAttributes bits 0-1).
enum class EndpointType : std::uint8_t { Control = 0, Isochronous = 1, Bulk = 2, Interrupt = 3 };

struct EndpointInfo {
  std::uint8_t address = 0;  // bit 7 set: IN
  EndpointType type = EndpointType::Bulk;
  std::uint16_t maxPacketSize = 0;
  std::uint8_t interval = 0;
};

// One selected interface setting with its endpoints in descriptor order.
struct InterfaceInfo {
  std::uint8_t number = 0;
  std::uint8_t alternateSetting = 0;
  std::uint8_t interfaceClass = 0;
  std::uint8_t interfaceSubClass = 0;
  std::uint8_t interfaceProtocol = 0;
  std::vector<EndpointInfo> endpoints;
};

// Where a device sits: the same port path means the same plug.
struct DeviceIdentity {
  std::uint8_t bus = 0;
  std::vector<std::uint8_t> portPath;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  // "bus-port.port..." for logs and de-duplication.
  std::string Location() const {
    std::string text = std::to_string(bus);
    char separator = '-';
    for (const std::uint8_t port : portPath) {
      text += separator;
      text += std::to_string(port);
      separator = '.';
    }
    if (portPath.empty()) text += '-';
    return text;
  }
};

// Finds the interface descriptor `number`/`alternate` (or, with negative
// values, the first one) in a whole configuration descriptor and lists its
// endpoints in descriptor order. False when there is no such interface or the
// descriptor is malformed; never reads past `config`.
bool ParseInterface(const std::vector<std::uint8_t>& config, int number, int alternate,
                    InterfaceInfo* info);

}  // namespace vantrel::usbhost
