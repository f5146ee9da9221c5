// The USB descriptors that the board firmware keeps as one block in the
// 8051's memory: the device descriptor, the configuration descriptor with its
// interface and endpoint descriptors, the string descriptors, and two zero
// bytes that end the string list. The simulated devices answer their
// descriptor requests from such a block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace vantrel::sim {

// The block's address in the board firmware's image.
inline constexpr std::uint16_t kDescriptorBlockAddress = 0x0D6B;

struct UsbInterfaceSetting {
  std::uint8_t number = 0;
  std::uint8_t alternate = 0;

  bool operator==(const UsbInterfaceSetting&) const = default;
};

struct UsbEndpointInfo {
  std::uint8_t address = 0;     // bit 7 set: IN
  std::uint8_t attributes = 0;  // bits 0-1: the transfer type (2 bulk)
  std::uint16_t maxPacketSize = 0;
  UsbInterfaceSetting setting;  // the interface setting it belongs to
};

struct UsbDescriptors {
  std::vector<std::uint8_t> device;         // the 18-byte device descriptor
  std::vector<std::uint8_t> configuration;  // all wTotalLength bytes of the configuration
  std::vector<std::vector<std::uint8_t>>
      strings;  // string descriptor i at i; 0 lists the languages
  std::vector<UsbInterfaceSetting> interfaceSettings;  // in descriptor order
  std::vector<UsbEndpointInfo> endpoints;              // of every setting, in descriptor order
  std::size_t blockBytes = 0;                          // the block's size, end marker included

  std::uint16_t VendorId() const;
  std::uint16_t ProductId() const;
  std::uint8_t ConfigurationValue() const;
};

// The board firmware's block with the given identifiers: USB 1.0, one
// configuration (value 1, bus powered, 100 mA) of 116 bytes with interface 0
// (vendor class, one setting) and its 14 bulk endpoints of 64 bytes, 0x81,
// 0x01, ... 0x87, 0x07; strings "Velto Ltd.", "Vantrel K27 Board" and
// "Vantrel Default Interface" in English (United States).
std::vector<std::uint8_t> BuildBoardDescriptorBlock(std::uint16_t vendorId,
                                                    std::uint16_t productId);

// Reads a block from the start of `bytes`, which may go on past its end.
// Fails, without reading past `bytes`, unless it finds a device descriptor,
// a configuration whose descriptors exactly fill its wTotalLength and whose
// interfaces carry the endpoints they announce, then string descriptors up
// to the end marker, with every string the device descriptor names present.
std::optional<UsbDescriptors> ParseDescriptorBlock(std::span<const std::uint8_t> bytes);

// A string descriptor holding `text` (Latin-1) in UTF-16LE; text beyond
// 126 characters is left out (a descriptor holds at most 255 bytes).
std::vector<std::uint8_t> UsbStringDescriptor(std::string_view text);

}  // namespace vantrel::sim
