// The memories of the bare EZ-USB part as its requests reach them: the
// internal memory (0x0000-0x1B3F) and the register area (0x7B40-0x7FFF) that
// the part's own firmware-load request reads and writes, and the 64 KiB
// external memory that a first-stage loader on the 8051 serves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vantrel::sim {

class EzUsbMemory {
 public:
  static constexpr std::uint32_t kInternalBytes = 0x1B40;
  static constexpr std::uint32_t kRegistersStart = 0x7B40;
  static constexpr std::uint32_t kRegistersEnd = 0x8000;  // one past the last register
  static constexpr std::uint32_t kExternalBytes = 0x10000;

  EzUsbMemory();

  // The range lies wholly in the internal memory or wholly in the register
  // area; an empty range is valid.
  static bool PartRange(std::uint32_t address, std::size_t length);
  static bool InternalRange(std::uint32_t address, std::size_t length);
  static bool ExternalRange(std::uint32_t address, std::size_t length);

  // On a PartRange only.
  void WritePart(std::uint32_t address, std::span<const std::uint8_t> bytes);
  void ReadPart(std::uint32_t address, std::span<std::uint8_t> out) const;
  // On an ExternalRange only.
  void WriteExternal(std::uint32_t address, std::span<const std::uint8_t> bytes);
  void ReadExternal(std::uint32_t address, std::span<std::uint8_t> out) const;

  // Views for the tests, cut at the memory's end.
  std::vector<std::uint8_t> Internal(std::uint32_t address, std::size_t length) const;
  std::vector<std::uint8_t> External(std::uint32_t address, std::size_t length) const;
  std::span<const std::uint8_t> InternalFrom(std::uint32_t address) const;

 private:
  std::uint8_t* PartByte(std::uint32_t address);

  std::vector<std::uint8_t> internal_;
  std::vector<std::uint8_t> registers_;
  std::vector<std::uint8_t> external_;
};

}  // namespace vantrel::sim
