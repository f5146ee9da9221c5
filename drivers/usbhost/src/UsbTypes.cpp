#include "vantrel/usbhost/UsbTypes.h"

namespace vantrel::usbhost {

namespace {
constexpr std::uint8_t kInterfaceDescriptor = 4;
constexpr std::uint8_t kEndpointDescriptor = 5;
}  // namespace

bool ParseInterface(const std::vector<std::uint8_t>& config, int number, int alternate,
                    InterfaceInfo* info) {
  bool found = false;
  InterfaceInfo result;
  std::size_t at = 0;
  while (at + 2 <= config.size()) {
    const std::size_t length = config[at];
    const std::uint8_t type = config[at + 1];
    if (length < 2 || at + length > config.size()) break;  // malformed: stop at what is sound
    const std::uint8_t* d = config.data() + at;
    if (type == kInterfaceDescriptor) {
      if (found) break;  // the chosen setting's endpoints end here
      if (length >= 9 && (number < 0 || d[2] == number) && (alternate < 0 || d[3] == alternate)) {
        found = true;
        result.number = d[2];
        result.alternateSetting = d[3];
        result.interfaceClass = d[5];
        result.interfaceSubClass = d[6];
        result.interfaceProtocol = d[7];
      }
    } else if (type == kEndpointDescriptor && found && length >= 7) {
      EndpointInfo endpoint;
      endpoint.address = d[2];
      endpoint.type = static_cast<EndpointType>(d[3] & 0x03);
      endpoint.maxPacketSize = static_cast<std::uint16_t>(d[4] | d[5] << 8);
      endpoint.interval = d[6];
      result.endpoints.push_back(endpoint);
    }
    at += length;
  }
  if (found) *info = result;
  return found;
}

}  // namespace vantrel::usbhost
