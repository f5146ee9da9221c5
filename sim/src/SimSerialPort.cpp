#include "SimSerialPort.h"

#include <algorithm>
#include <utility>

namespace vantrel::sim {

namespace {

constexpr std::uint8_t kConfigure = 0x61;
constexpr std::uint8_t kSend = 0x62;
constexpr std::uint8_t kReceive = 0x63;
constexpr std::uint8_t kParityErrors = 0x64;
constexpr std::uint8_t kTimeoutMessage = 0x65;
constexpr std::uint8_t kReceiveTimestamped = 0x66;
constexpr std::uint8_t kConfigurePolled = 0x67;
constexpr std::uint8_t kEmptyPolled = 0x68;
constexpr std::uint8_t kReceivePolled = 0x69;
constexpr std::uint8_t kDeletePolled = 0x6A;

constexpr std::size_t kMaxSend = 63;
constexpr std::size_t kMaxReceive = 62;
constexpr std::size_t kMaxTimestampedPairs = 31;
constexpr std::size_t kMaxTimeoutMessage = 60;

struct Rate {
  std::uint16_t divisor;
  std::uint32_t baud;
};

// Timer reload values the firmware takes for each rate.
constexpr Rate kPortARates[] = {{0x64, 1200},  {0xB2, 2400},  {0xD9, 4800}, {0xEC, 9600},
                                {0xF6, 19200}, {0xFB, 38400}, {0xFD, 62500}};
constexpr Rate kPortBRates[] = {{0xE55D, 110},   {0xF63C, 300},   {0xFB1F, 600},   {0xFD8F, 1200},
                                {0xFEC8, 2400},  {0xFF64, 4800},  {0xFFB2, 9600},  {0xFFCC, 14400},
                                {0xFFD9, 19200}, {0xFFEC, 38400}, {0xFFF3, 57600}, {0xFFF4, 62500}};

}  // namespace

SimSerialPort::SimSerialPort(bool portB)
    // Power-up: plain RS-232, no parity, no handshake, 9600 baud.
    : portB_(portB),
      configuration_(portB ? std::array<std::uint8_t, 6>{0, 0, 0, 0, 0xB2, 0xFF}
                           : std::array<std::uint8_t, 6>{0, 0, 0, 0, 0xEC, 0}) {}

// The listed divisors give their nominal rate; any other one the rate its
// timer reload would give (port A: 187,200 / (256 − byte 4); port B:
// 750,000 / (65,536 − bytes 5 and 4)).
std::uint32_t SimSerialPort::Baud() const {
  if (!portB_) {
    const std::uint8_t reload = configuration_[4];
    for (const Rate& r : kPortARates) {
      if (r.divisor == reload) return r.baud;
    }
    return 187'200u / (256u - reload);
  }
  const std::uint32_t reload =
      static_cast<std::uint32_t>(configuration_[5] << 8 | configuration_[4]);
  for (const Rate& r : kPortBRates) {
    if (r.divisor == reload) return r.baud;
  }
  return 750'000u / (65'536u - reload);
}

Response SimSerialPort::Handle(const Request& request) {
  AdvanceTo(request.nowMicros);
  const std::span<const std::uint8_t> payload = request.payload;
  switch (request.command) {
    case kConfigure:
      return Configure(payload);
    case kSend:
      return Send(payload, request.nowMicros);
    case kTimeoutMessage:
      return SetTimeoutMessage(payload);
    case kConfigurePolled:
      return polled_.Configure(payload, request.nowMicros);
    case kEmptyPolled:
      return polled_.Empty(payload);
    case kReceivePolled:
      return polled_.Receive(payload, request.nowMicros);
    case kDeletePolled:
      return polled_.Delete(payload);
    case kReceive:
    case kParityErrors:
    case kReceiveTimestamped:
      break;
    default:
      return Response::Status(status::kNotRecognised);
  }
  if (!payload.empty()) return Response::Status(status::kLengthError);
  if (request.command == kReceive)
    return Response::Ok(received_.Take(kMaxReceive, request.nowMicros));
  if (request.command == kReceiveTimestamped) {
    return Response::Ok(received_.TakeTimestamped(kMaxTimestampedPairs, request.nowMicros));
  }
  return Response::Ok(
      {static_cast<std::uint8_t>(parityErrors_ >> 8), static_cast<std::uint8_t>(parityErrors_)});
}

// Bytes 2 and 3 are the RTS mode (0-3) and the CTS flag (0-1); other values
// are refused as an unknown handshake mode.
Response SimSerialPort::Configure(std::span<const std::uint8_t> payload) {
  if (payload.size() != configuration_.size()) return Response::Status(status::kLengthError);
  if (payload[2] > 3 || payload[3] > 1) return Response::Status(status::kUnknownHandshakeMode);
  std::copy(payload.begin(), payload.end(), configuration_.begin());
  return Response::Ok();
}

Response SimSerialPort::Send(std::span<const std::uint8_t> payload, std::uint64_t nowMicros) {
  if (payload.empty() || payload.size() > kMaxSend) return Response::Status(status::kLengthError);
  sent_.insert(sent_.end(), payload.begin(), payload.end());
  while (sent_.size() > kSentLogBytes) sent_.pop_front();

  const SimPolledMessages::Transmission sent = Transmit(payload, nowMicros, true);
  for (const LineByte& byte : sent.answer) received_.Add(byte);
  Response response = Response::Ok();
  response.busyMicros = sent.sentMicros - nowMicros;
  return response;
}

SimPolledMessages::Transmission SimSerialPort::Transmit(std::span<const std::uint8_t> bytes,
                                                        std::uint64_t atMicros, bool fromHost) {
  const std::uint32_t baud = Baud();
  const std::uint64_t start = std::max(atMicros, lineFreeMicros_);
  std::vector<LineByte> line;
  line.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i)
    line.push_back({bytes[i], start + LineMicros(i + 1, baud)});
  lineFreeMicros_ = start + LineMicros(bytes.size(), baud);

  SimPolledMessages::Transmission out;
  out.sentMicros = lineFreeMicros_;
  if (peer_ && (!fromHost || peer_->ListensTo(configuration_[0])))
    out.answer = peer_->Transfer(line, baud);
  return out;
}

Response SimSerialPort::SetTimeoutMessage(std::span<const std::uint8_t> payload) {
  if (payload.size() < 2 || payload[1] > kMaxTimeoutMessage || payload.size() != 2u + payload[1]) {
    return Response::Status(status::kLengthError);
  }
  timeoutTime_ = payload[0];
  timeoutMessage_.assign(payload.begin() + 2, payload.end());
  return Response::Ok();
}

void SimSerialPort::AdvanceTo(std::uint64_t nowMicros) {
  polled_.AdvanceTo(nowMicros, [this](std::span<const std::uint8_t> message, std::uint64_t at) {
    return Transmit(message, at, false);
  });
}

void SimSerialPort::PushReceived(std::span<const std::uint8_t> bytes, std::uint64_t firstMicros) {
  if (bytes.empty()) return;
  const std::uint32_t baud = Baud();
  const std::optional<std::uint64_t> last = received_.LastArrivalMicros();
  const std::uint64_t start =
      last ? std::max(firstMicros, *last + LineMicros(1, baud)) : firstMicros;
  for (std::size_t i = 0; i < bytes.size(); ++i)
    received_.Add({bytes[i], start + LineMicros(i, baud)});
}

}  // namespace vantrel::sim
