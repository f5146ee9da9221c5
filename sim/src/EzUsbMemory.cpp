#include "EzUsbMemory.h"

#include <algorithm>
#include <cstring>

namespace vantrel::sim {

namespace {

bool Within(std::uint32_t address, std::size_t length, std::uint32_t start, std::uint32_t end) {
  return address >= start && address <= end && length <= end - address;
}

std::vector<std::uint8_t> Cut(const std::vector<std::uint8_t>& memory, std::uint32_t address,
                              std::size_t length) {
  if (address >= memory.size()) return {};
  const std::size_t n = std::min<std::size_t>(length, memory.size() - address);
  return {memory.begin() + address, memory.begin() + static_cast<std::ptrdiff_t>(address + n)};
}

}  // namespace

EzUsbMemory::EzUsbMemory()
    : internal_(kInternalBytes),
      registers_(kRegistersEnd - kRegistersStart),
      external_(kExternalBytes) {}

bool EzUsbMemory::InternalRange(std::uint32_t address, std::size_t length) {
  return Within(address, length, 0, kInternalBytes);
}

bool EzUsbMemory::PartRange(std::uint32_t address, std::size_t length) {
  return InternalRange(address, length) || Within(address, length, kRegistersStart, kRegistersEnd);
}

bool EzUsbMemory::ExternalRange(std::uint32_t address, std::size_t length) {
  return Within(address, length, 0, kExternalBytes);
}

std::uint8_t* EzUsbMemory::PartByte(std::uint32_t address) {
  return address < kInternalBytes ? &internal_[address] : &registers_[address - kRegistersStart];
}

void EzUsbMemory::WritePart(std::uint32_t address, std::span<const std::uint8_t> bytes) {
  if (!bytes.empty()) std::memcpy(PartByte(address), bytes.data(), bytes.size());
}

void EzUsbMemory::ReadPart(std::uint32_t address, std::span<std::uint8_t> out) const {
  if (out.empty()) return;
  const std::uint8_t* source =
      address < kInternalBytes ? &internal_[address] : &registers_[address - kRegistersStart];
  std::memcpy(out.data(), source, out.size());
}

void EzUsbMemory::WriteExternal(std::uint32_t address, std::span<const std::uint8_t> bytes) {
  if (!bytes.empty()) std::memcpy(&external_[address], bytes.data(), bytes.size());
}

void EzUsbMemory::ReadExternal(std::uint32_t address, std::span<std::uint8_t> out) const {
  if (!out.empty()) std::memcpy(out.data(), &external_[address], out.size());
}

std::vector<std::uint8_t> EzUsbMemory::Internal(std::uint32_t address, std::size_t length) const {
  return Cut(internal_, address, length);
}

std::vector<std::uint8_t> EzUsbMemory::External(std::uint32_t address, std::size_t length) const {
  return Cut(external_, address, length);
}

std::span<const std::uint8_t> EzUsbMemory::InternalFrom(std::uint32_t address) const {
  return address >= internal_.size() ? std::span<const std::uint8_t>{}
                                     : std::span<const std::uint8_t>(internal_).subspan(address);
}

}  // namespace vantrel::sim
