#include "SimEeprom.h"

#include <bit>
#include <utility>

namespace vantrel::sim {

namespace {

constexpr std::uint8_t kConfigure = 0x03;
constexpr std::uint8_t kWrite = 0x04;
constexpr std::uint8_t kRead = 0x05;
constexpr std::uint8_t kVersion = 0x06;

constexpr const char* kFirmwareVersion = "V2.04";

// A used part holds leftovers of earlier writes: every byte depends on its
// address and on the seed, so no two blocks of the part look alike.
std::uint8_t UsedContent(std::uint32_t address, std::uint32_t seed) {
  std::uint64_t x = (static_cast<std::uint64_t>(seed) << 32 | address) + 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  x ^= x >> 31;
  return static_cast<std::uint8_t>(x);
}

}  // namespace

std::uint32_t SimEeprom::ValidCapacity(std::uint32_t requested) {
  if (requested <= kMinBytes) return kMinBytes;
  if (requested >= kMaxBytes) return kMaxBytes;
  return std::bit_ceil(requested);
}

SimEeprom::SimEeprom(std::uint32_t requestedBytes, std::uint32_t seed)
    : bytes_(ValidCapacity(requestedBytes)) {
  for (std::uint32_t a = 0; a < bytes_.size(); ++a) bytes_[a] = UsedContent(a, seed);
}

void SimEeprom::Store(std::uint32_t address, std::span<const std::uint8_t> data) {
  const std::uint32_t mask = Capacity() - 1;
  for (std::size_t i = 0; i < data.size(); ++i) {
    bytes_[(address + i) & mask] = data[i];
  }
}

bool SimEeprom::PartAnswers() const {
  return geometry_ && geometry_->addressBytes == AddressBytes() &&
         geometry_->deviceAddress == DeviceAddress();
}

Response SimEeprom::Handle(const Request& request) {
  switch (request.command) {
    case kConfigure:
      return Configure(request.payload);
    case kWrite:
      return Write(request.payload);
    case kRead:
      return Read(request.payload);
    case kVersion:
      if (!request.payload.empty()) return Response::Status(status::kLengthError);
      return Response::Ok(VersionText(kFirmwareVersion));
    default:
      return Response::Status(status::kNotRecognised);
  }
}

Response SimEeprom::Configure(std::span<const std::uint8_t> payload) {
  if (payload.size() != 5) return Response::Status(status::kLengthError);
  geometry_ = EepromGeometry{payload[0], payload[1],
                             static_cast<std::uint16_t>(payload[2] << 8 | payload[3]), payload[4]};
  return Response::Ok();
}

Response SimEeprom::Read(std::span<const std::uint8_t> payload) const {
  MemoryRequest request;
  if (!ParseMemoryRead(payload, request)) return Response::Status(status::kLengthError);
  if (!PartAnswers()) return Response::Status(status::kI2cNack);
  const std::uint32_t mask = Capacity() - 1;
  std::vector<std::uint8_t> data(request.length);
  for (std::size_t i = 0; i < request.length; ++i) {
    data[i] = bytes_[(request.address + i) & mask];
  }
  return Response::Ok(std::move(data));
}

Response SimEeprom::Write(std::span<const std::uint8_t> payload) {
  MemoryRequest request;
  if (!ParseMemoryWrite(payload, request)) return Response::Status(status::kLengthError);
  if (!PartAnswers()) return Response::Status(status::kI2cNack);
  Store(request.address, request.data);
  return Response::Ok();
}

}  // namespace vantrel::sim
