// Building the board firmware's descriptor block and reading one back.
#include "k27sim/UsbDescriptorBlock.h"

#include <algorithm>
#include <set>

#include "UsbDescriptorTypes.h"

namespace vantrel::sim {

namespace {

constexpr std::uint8_t kBoardEndpoints = 14;
constexpr std::uint16_t kBoardPacketSize = 64;
constexpr std::uint16_t kEnglishUnitedStates = 0x0409;
constexpr std::size_t kMaxStrings = 256;  // string indices are bytes

void PutWord(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::uint16_t Word(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

// The interface and endpoint descriptors of a configuration, checked and
// listed; false when they do not fill it exactly or disagree.
bool ReadConfiguration(std::span<const std::uint8_t> config, UsbDescriptors& out) {
  const std::uint8_t interfaces = config[4];
  std::set<std::uint8_t> numbers;
  std::size_t offset = config[0];
  int endpointsExpected = -1;  // of the interface setting being read; -1 before the first
  while (offset < config.size()) {
    if (config.size() - offset < 2) return false;
    const std::uint8_t length = config[offset];
    const std::uint8_t type = config[offset + 1];
    if (length < 2 || length > config.size() - offset) return false;
    const std::span<const std::uint8_t> d = config.subspan(offset, length);
    if (type == usbdesc::kInterface) {
      if (length < usbdesc::kInterfaceLength || endpointsExpected > 0) return false;
      out.interfaceSettings.push_back({d[2], d[3]});
      numbers.insert(d[2]);
      endpointsExpected = d[4];
    } else if (type == usbdesc::kEndpoint) {
      if (length < usbdesc::kEndpointLength || endpointsExpected <= 0) return false;
      const std::uint8_t address = d[2];
      if ((address & 0x0F) == 0 || (address & 0x70) != 0) return false;
      out.endpoints.push_back({address, d[3], Word(d, 4), out.interfaceSettings.back()});
      --endpointsExpected;
    } else if (type == usbdesc::kDevice || type == usbdesc::kConfiguration ||
               type == usbdesc::kString) {
      return false;
    }
    offset += length;
  }
  return endpointsExpected <= 0 && numbers.size() == interfaces;
}

}  // namespace

std::uint16_t UsbDescriptors::VendorId() const { return device.size() >= 10 ? Word(device, 8) : 0; }
std::uint16_t UsbDescriptors::ProductId() const {
  return device.size() >= 12 ? Word(device, 10) : 0;
}
std::uint8_t UsbDescriptors::ConfigurationValue() const {
  return configuration.size() >= 6 ? configuration[5] : 0;
}

std::vector<std::uint8_t> UsbStringDescriptor(std::string_view text) {
  const std::size_t characters = std::min<std::size_t>(text.size(), 126);
  std::vector<std::uint8_t> out{static_cast<std::uint8_t>(2 + 2 * characters), usbdesc::kString};
  for (std::size_t i = 0; i < characters; ++i) PutWord(out, static_cast<unsigned char>(text[i]));
  return out;
}

std::vector<std::uint8_t> BuildBoardDescriptorBlock(std::uint16_t vendorId,
                                                    std::uint16_t productId) {
  std::vector<std::uint8_t> block{usbdesc::kDeviceLength, usbdesc::kDevice};
  PutWord(block, 0x0100);                    // bcdUSB
  block.insert(block.end(), {0, 0, 0, 64});  // class per interface, bMaxPacketSize0
  PutWord(block, vendorId);
  PutWord(block, productId);
  PutWord(block, 0x0001);                   // bcdDevice
  block.insert(block.end(), {1, 2, 0, 1});  // strings, one configuration

  const std::uint16_t total = usbdesc::kConfigurationLength + usbdesc::kInterfaceLength +
                              kBoardEndpoints * usbdesc::kEndpointLength;
  block.insert(block.end(), {usbdesc::kConfigurationLength, usbdesc::kConfiguration});
  PutWord(block, total);
  block.insert(block.end(), {1, 1, 0, 0x80, 50});
  block.insert(block.end(), {usbdesc::kInterfaceLength, usbdesc::kInterface, 0, 0, kBoardEndpoints,
                             0xFF, 0, 0, 0});
  for (std::uint8_t channel = 1; channel <= kBoardEndpoints / 2; ++channel) {
    for (const std::uint8_t address : {static_cast<std::uint8_t>(0x80 | channel), channel}) {
      block.insert(block.end(), {usbdesc::kEndpointLength, usbdesc::kEndpoint, address, 0x02});
      PutWord(block, kBoardPacketSize);
      block.push_back(0);  // bInterval
    }
  }

  block.insert(block.end(), {4, usbdesc::kString});
  PutWord(block, kEnglishUnitedStates);
  for (const std::string_view text :
       {"Velto Ltd.", "Vantrel K27 Board", "Vantrel Default Interface"}) {
    const std::vector<std::uint8_t> string = UsbStringDescriptor(text);
    block.insert(block.end(), string.begin(), string.end());
  }
  block.insert(block.end(), {0, 0});
  return block;
}

std::optional<UsbDescriptors> ParseDescriptorBlock(std::span<const std::uint8_t> bytes) {
  UsbDescriptors out;
  if (bytes.size() < usbdesc::kDeviceLength) return std::nullopt;
  const std::span<const std::uint8_t> device = bytes.first(usbdesc::kDeviceLength);
  const std::uint8_t packet0 = device[7];
  if (device[0] != usbdesc::kDeviceLength || device[1] != usbdesc::kDevice || device[17] == 0 ||
      (packet0 != 8 && packet0 != 16 && packet0 != 32 && packet0 != 64))
    return std::nullopt;
  out.device.assign(device.begin(), device.end());

  std::span<const std::uint8_t> rest = bytes.subspan(usbdesc::kDeviceLength);
  if (rest.size() < usbdesc::kConfigurationLength || rest[0] != usbdesc::kConfigurationLength ||
      rest[1] != usbdesc::kConfiguration)
    return std::nullopt;
  const std::uint16_t total = Word(rest, 2);
  if (total < usbdesc::kConfigurationLength || total > rest.size()) return std::nullopt;
  const std::span<const std::uint8_t> config = rest.first(total);
  if (!ReadConfiguration(config, out)) return std::nullopt;
  out.configuration.assign(config.begin(), config.end());

  rest = rest.subspan(total);
  for (;;) {
    if (rest.size() < 2) return std::nullopt;
    if (rest[0] == 0 && rest[1] == 0) break;
    const std::uint8_t length = rest[0];
    if (length < 2 || length % 2 != 0 || rest[1] != usbdesc::kString || length > rest.size() ||
        out.strings.size() == kMaxStrings)
      return std::nullopt;
    out.strings.emplace_back(rest.begin(), rest.begin() + length);
    rest = rest.subspan(length);
  }
  out.blockBytes = bytes.size() - rest.size() + 2;

  for (const std::uint8_t index : {device[14], device[15], device[16], out.configuration[6]})
    if (index != 0 && index >= out.strings.size()) return std::nullopt;
  if (!out.strings.empty() && out.strings[0].size() < 4) return std::nullopt;
  return out;
}

}  // namespace vantrel::sim
