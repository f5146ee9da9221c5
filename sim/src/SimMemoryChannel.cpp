#include "SimMemoryChannel.h"

#include <algorithm>

namespace vantrel::sim {

namespace {

constexpr std::uint8_t kRead = 0x46;
constexpr std::uint8_t kWrite = 0x47;
constexpr std::uint8_t kStopApplication = 0x48;
constexpr std::uint8_t kStartApplication = 0x49;
constexpr std::uint8_t kQueryApplication = 0x4A;

// A chunk must lie inside the SRAM: the firmware does not wrap at 0xFFFF.
bool InsideSram(const MemoryRequest& request) {
  return request.address + request.length <= SimMemoryChannel::kSramBytes;
}

}  // namespace

SimMemoryChannel::SimMemoryChannel() : sram_(kSramBytes, 0) {}

std::vector<std::uint8_t> SimMemoryChannel::Copy(std::uint32_t address,
                                                 std::uint32_t length) const {
  if (address >= kSramBytes) return {};
  const std::uint32_t end = address + std::min(length, kSramBytes - address);
  return {sram_.begin() + address, sram_.begin() + end};
}

Response SimMemoryChannel::Handle(const Request& request) {
  switch (request.command) {
    case kRead:
      return Read(request.payload);
    case kWrite:
      return Write(request.payload);
    case kStopApplication:
    case kStartApplication:
    case kQueryApplication:
      break;
    default:
      return Response::Status(status::kNotRecognised);
  }
  if (!request.payload.empty()) return Response::Status(status::kLengthError);
  if (request.command == kQueryApplication) {
    return Response::Ok({static_cast<std::uint8_t>(applicationRunning_ ? 1 : 0)});
  }
  applicationRunning_ = request.command == kStartApplication;
  return Response::Ok();
}

Response SimMemoryChannel::Read(std::span<const std::uint8_t> payload) const {
  MemoryRequest request;
  if (!ParseMemoryRead(payload, request)) return Response::Status(status::kLengthError);
  if (!InsideSram(request)) return Response::Status(status::kSramAddressingError);
  const auto first = sram_.begin() + request.address;
  return Response::Ok({first, first + static_cast<std::ptrdiff_t>(request.length)});
}

Response SimMemoryChannel::Write(std::span<const std::uint8_t> payload) {
  MemoryRequest request;
  if (!ParseMemoryWrite(payload, request)) return Response::Status(status::kLengthError);
  if (!InsideSram(request)) return Response::Status(status::kSramAddressingError);
  std::copy(request.data.begin(), request.data.end(), sram_.begin() + request.address);
  return Response::Ok();
}

}  // namespace vantrel::sim
