// The board's serial EEPROM and the channel 2 commands that reach it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "ChannelHandler.h"

namespace vantrel::sim {

// Geometry the host sends with command 0x03.
struct EepromGeometry {
  std::uint8_t pageSize = 0;
  std::uint8_t addressBytes = 0;
  std::uint16_t lastAddress = 0;
  std::uint8_t deviceAddress = 0;
};

class SimEeprom final : public ChannelHandler {
 public:
  static constexpr std::uint32_t kMinBytes = 128;
  static constexpr std::uint32_t kMaxBytes = 65536;
  // Parts of up to this size take one address byte and answer at 0x50;
  // larger parts take two and answer at 0x51.
  static constexpr std::uint32_t kLargestOneBytePart = 2048;

  // A capacity outside 128..65,536 is clamped into that range; one that is
  // not a power of two is rounded up to the next one.
  static std::uint32_t ValidCapacity(std::uint32_t requested);

  SimEeprom(std::uint32_t requestedBytes, std::uint32_t seed);

  Response Handle(const Request& request) override;

  std::uint32_t Capacity() const { return static_cast<std::uint32_t>(bytes_.size()); }
  const std::vector<std::uint8_t>& Content() const { return bytes_; }
  // Stores `data` from `address` on, wrapping at the end of the part.
  void Store(std::uint32_t address, std::span<const std::uint8_t> data);
  const std::optional<EepromGeometry>& Geometry() const { return geometry_; }

 private:
  std::uint8_t AddressBytes() const { return Capacity() <= kLargestOneBytePart ? 1 : 2; }
  std::uint8_t DeviceAddress() const { return Capacity() <= kLargestOneBytePart ? 0x50 : 0x51; }
  // True when the configured geometry makes the firmware address this part.
  bool PartAnswers() const;

  Response Configure(std::span<const std::uint8_t> payload);
  Response Read(std::span<const std::uint8_t> payload) const;
  Response Write(std::span<const std::uint8_t> payload);

  std::vector<std::uint8_t> bytes_;
  std::optional<EepromGeometry> geometry_;
};

}  // namespace vantrel::sim
