// What the USB host layer and its users share: setup packets, descriptors,
// endpoint lists, and the USBD status values of the wire protocol.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vantrel/protocol/UsbdStatus.h"

namespace vantrel::usbhost {

// The request block statuses are the wire's; the host layer maps its
// backends' results onto them.
using driver::UsbdFailed;
using driver::UsbdStatus;
using enum driver::UsbdStatus;

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
