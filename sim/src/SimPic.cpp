#include "SimPic.h"

#include <algorithm>
#include <utility>

namespace vantrel::sim {

namespace {

constexpr std::uint8_t kSetClock = 0x14;
constexpr std::uint8_t kGetClock = 0x15;
constexpr std::uint8_t kStartSecurityRead = 0x28;
constexpr std::uint8_t kNextSecurityRead = 0x29;
constexpr std::uint8_t kClearSecurity = 0x2A;
constexpr std::uint8_t kVersion = 0x2C;
constexpr std::uint8_t kGetSerial = 0x3F;
constexpr std::uint8_t kReadResetFlags = 0x40;
constexpr std::uint8_t kSetSerial = 0x41;
constexpr std::uint8_t kCachedReadResetFlags = 0x43;
constexpr std::uint8_t kRandom = 0x44;
constexpr std::uint8_t kEnableRandom = 0x45;
constexpr std::uint8_t kDisableRandom = 0x46;

constexpr const char* kPicVersion = "P1.03";

// Fixed payload size of each command that takes one.
std::optional<std::size_t> PayloadSize(std::uint8_t command) {
  switch (command) {
    case kSetClock:
    case kEnableRandom:
      return 4;
    case kSetSerial:
      return 8;
    case kGetClock:
    case kStartSecurityRead:
    case kNextSecurityRead:
    case kClearSecurity:
    case kVersion:
    case kGetSerial:
    case kReadResetFlags:
    case kCachedReadResetFlags:
    case kRandom:
    case kDisableRandom:
      return 0;
    default:
      return std::nullopt;
  }
}

}  // namespace

SimPic::SimPic(const std::array<std::uint8_t, 8>& serial) : serial_(serial) {}

std::uint32_t SimPic::ClockAt(std::uint64_t nowMicros) const {
  const std::uint64_t elapsed = nowMicros >= clockSetAtMicros_ ? nowMicros - clockSetAtMicros_ : 0;
  return clockBase_ + static_cast<std::uint32_t>(elapsed / 1'000'000);
}

void SimPic::SetRecords(std::vector<SecuritySwitchRecord> records) {
  records_ = std::move(records);
  cursor_.reset();
}

Response SimPic::Handle(const Request& request) {
  const auto size = PayloadSize(request.command);
  if (!size) return Response::Status(status::kNotRecognised);
  if (request.payload.size() != *size) return Response::Status(status::kLengthError);

  switch (request.command) {
    case kSetClock:
      return SetClock(request);
    case kGetClock: {
      Response reply;
      AppendLe32(reply.data, ClockAt(request.nowMicros));
      return reply;
    }
    case kStartSecurityRead:
      cursor_ = 0;
      return Response::Ok();
    case kNextSecurityRead:
      return NextRecord();
    case kClearSecurity:
      SetRecords({});
      return Response::Ok();
    case kVersion:
      return Response::Ok(VersionText(kPicVersion));
    case kGetSerial:
      return Response::Ok({serial_.begin(), serial_.end()});
    case kSetSerial:
      std::copy(request.payload.begin(), request.payload.end(), serial_.begin());
      return Response::Ok();
    case kReadResetFlags:
    case kCachedReadResetFlags:
      return TakeFlags();
    case kRandom:
      return RandomNumber();
    case kEnableRandom:
      return EnableRandom(request.payload);
    case kDisableRandom:
      randomEnabled_ = false;
      return Response::Ok();
    default:
      return Response::Status(status::kNotRecognised);
  }
}

Response SimPic::SetClock(const Request& request) {
  clockBase_ = LoadLe32(request.payload);
  clockSetAtMicros_ = request.nowMicros;
  return Response::Ok();
}

Response SimPic::NextRecord() {
  if (!cursor_ || *cursor_ >= records_.size()) {
    return Response::Status(status::kExecutionFailure);
  }
  const SecuritySwitchRecord& record = records_[(*cursor_)++];
  Response reply;
  AppendLe32(reply.data, record.time);
  reply.data.push_back(record.state);
  return reply;
}

Response SimPic::TakeFlags() {
  Response reply = Response::Ok({flags_[0], flags_[1]});
  flags_ = {};
  return reply;
}

Response SimPic::EnableRandom(std::span<const std::uint8_t> payload) {
  randomState_ = LoadLe32(payload);
  randomEnabled_ = true;
  return Response::Ok();
}

Response SimPic::RandomNumber() {
  if (!randomEnabled_) return Response::Status(status::kExecutionFailure);
  // splitmix64: every seed, zero included, gives a full-period sequence.
  randomState_ += 0x9E3779B97F4A7C15ull;
  std::uint64_t z = randomState_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  Response reply;
  AppendLe16(reply.data, static_cast<std::uint16_t>(z >> 16));
  return reply;
}

}  // namespace vantrel::sim
