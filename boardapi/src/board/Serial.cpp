// Serial ports A and B (channels 3 and 4): line settings, plain and
// timestamped receive, the time-out message and polled messages.
#include <vantrel/VantrelUSB.h>

#include <algorithm>
#include <cstring>

#include "board/ArgumentCheck.h"
#include "board/BoardContext.h"
#include "board/Commands.h"
#include "board/RecordReply.h"
#include "shared/SharedState.h"

namespace {

namespace cmd = vantrel::commands;

constexpr unsigned long kSendChunk = 63;
constexpr unsigned char kTimeoutMessageMax = 60;
constexpr double kTimeoutSecondsMax = 7.65;
constexpr double kTimeUnitsPerSecond = 33.333333333333336;  // 30 ms units
constexpr unsigned kPollMessageMax = 25;
constexpr int kPollTimeMax = 2550;
constexpr unsigned char kPolledDataMax = 60;

bool IsPort(_usbSerialPort port) { return port == USB_SERIAL_PORT_A || port == USB_SERIAL_PORT_B; }
int Channel(_usbSerialPort port) {
  return port == USB_SERIAL_PORT_A ? USB_CHANNEL_PORT_A : USB_CHANNEL_PORT_B;
}

struct Divisor {
  std::uint32_t baud;
  unsigned char low, high;
};
constexpr Divisor kPortA[] = {{1200, 0x64, 0},  {2400, 0xB2, 0},  {4800, 0xD9, 0}, {9600, 0xEC, 0},
                              {19200, 0xF6, 0}, {38400, 0xFB, 0}, {62500, 0xFD, 0}};
constexpr Divisor kPortB[] = {{110, 0x5D, 0xE5},   {300, 0x3C, 0xF6},   {600, 0x1F, 0xFB},
                              {1200, 0x8F, 0xFD},  {2400, 0xC8, 0xFE},  {4800, 0x64, 0xFF},
                              {9600, 0xB2, 0xFF},  {14400, 0xCC, 0xFF}, {19200, 0xD9, 0xFF},
                              {38400, 0xEC, 0xFF}, {57600, 0xF3, 0xFF}, {62500, 0xF4, 0xFF}};

template <std::size_t N>
const Divisor* FindDivisor(const Divisor (&table)[N], std::uint32_t baud) {
  for (const Divisor& d : table)
    if (d.baud == baud) return &d;
  return nullptr;
}

// The polled-message request, the same for both configuration forms.
struct PollRequest {
  unsigned char slot, mode, option2, framing, lengthOffset, lengthAdjust;
  std::int32_t pollTime;
  unsigned char option7, option8, option9, option10;
  const unsigned char* first;
  const unsigned char* second;
  unsigned firstLength, secondLength;
};

// Message lengths are counted in full before the 25-byte bound: taken in 8
// bits, a ccTalk count of 251-255 or an RS-232 length byte plus its adjust
// past 255 would wrap round to a short length that passes the bound.
unsigned FrameLength(const unsigned char* message) { return message[1] + 5u; }
unsigned MessageLength(const unsigned char* message, unsigned char lengthOffset,
                       unsigned char lengthAdjust) {
  return unsigned{message[lengthOffset]} + lengthAdjust;
}

bool PollRequestInRange(const PollRequest& r, std::int32_t mode) {
  return r.firstLength <= kPollMessageMax && r.secondLength <= kPollMessageMax && r.slot <= 3 &&
         r.option2 <= 4 && mode >= 0 && mode <= 3 && r.pollTime >= 0;
}

unsigned long BuildPollRequest(const PollRequest& r, unsigned char* out) {
  out[0] = r.slot;
  out[1] = r.mode;
  out[2] = r.option2;
  out[3] = r.framing;
  out[4] = r.lengthOffset;
  out[5] = r.lengthAdjust;
  out[6] = static_cast<unsigned char>(r.pollTime / 10);
  out[7] = r.option7;
  out[8] = r.option8;
  out[9] = r.option9;
  out[10] = r.option10;
  out[11] = static_cast<unsigned char>(r.firstLength);
  out[12] = static_cast<unsigned char>(r.secondLength);
  std::memcpy(out + 13, r.first, r.firstLength);
  std::memcpy(out + 13 + r.firstLength, r.second, r.secondLength);
  return 13ul + r.firstLength + r.secondLength;
}

template <typename Exchange, typename Config>
int SendPollConfiguration(Exchange&& exchange, _usbSerialPort port, Config* config,
                          PollRequest request) {
  if (config->pollTime > kPollTimeMax) config->pollTime = kPollTimeMax;
  request.pollTime = config->pollTime;
  unsigned char payload[vantrel::kMaxPayload];
  const unsigned long size = BuildPollRequest(request, payload);
  unsigned long length = 0;
  return exchange(cmd::kSerialConfigurePoll, Channel(port), payload, size, nullptr, &length);
}

}  // namespace

// Every serial operation refuses a port other than A or B the same way:
// USB_MESSAGE_ILLEGAL_PORT, before anything is sent or changed.
#define VANTREL_CHECK_PORT(port)                      \
  do {                                                \
    if (!IsPort(port)) {                              \
      context_->lastError = USB_MESSAGE_ILLEGAL_PORT; \
      return 0;                                       \
    }                                                 \
  } while (false)

int VantrelUSB::SetConfig(_usbSerialPort port, _DCB* settings, _usbPortType type) {
  VANTREL_REQUIRE(settings != nullptr);
  unsigned char payload[6];
  payload[2] = static_cast<unsigned char>(settings->fRtsControl);
  payload[3] = static_cast<unsigned char>(settings->fOutxCtsFlow);
  if (type < 0 || type > 3) {
    context_->lastError = USB_MESSAGE_ILLEGAL_PORT;
    return 0;
  }
  payload[0] = static_cast<unsigned char>(type);
  payload[1] = 0;
  if (settings->fParity && settings->Parity == 2) payload[1] = 1;
  if (settings->fParity && settings->Parity == 1) payload[1] = 2;
  const Divisor* divisor = nullptr;
  if (port == USB_SERIAL_PORT_A)
    divisor = FindDivisor(kPortA, settings->BaudRate);
  else if (port == USB_SERIAL_PORT_B)
    divisor = FindDivisor(kPortB, settings->BaudRate);
  else {
    context_->lastError = USB_MESSAGE_ILLEGAL_PORT;
    return 0;
  }
  if (divisor == nullptr) {
    context_->lastError = USB_MESSAGE_ILLEGAL_BAUD_RATE;
    return 0;
  }
  payload[4] = divisor->low;
  payload[5] = divisor->high;
  unsigned long length = 0;
  return PerformUSBIO(cmd::kSerialSetConfig, Channel(port), payload, 6, nullptr, &length);
}

int VantrelUSB::Send(_usbSerialPort port, unsigned char* data, std::uint32_t length) {
  VANTREL_CHECK_PORT(port);
  if (length == 0) return 1;
  VANTREL_REQUIRE(data != nullptr);
  for (std::uint32_t offset = 0; offset < length;) {
    const unsigned long chunk = std::min<unsigned long>(length - offset, kSendChunk);
    unsigned long replyLength = 0;
    if (!PerformUSBIO(cmd::kSerialSend, Channel(port), data + offset, chunk, nullptr, &replyLength))
      return 0;
    offset += static_cast<std::uint32_t>(chunk);
  }
  return 1;
}

int VantrelUSB::Receive(_usbSerialPort port, unsigned char* buffer, unsigned long* length) {
  VANTREL_REQUIRE(length != nullptr);
  *length = 0;
  VANTREL_REQUIRE(buffer != nullptr);
  VANTREL_CHECK_PORT(port);
  for (;;) {
    // Stop before a reply could pass the limit: the board keeps the rest.
    if (*length + vantrel::kMaxReplyData > VANTREL_RECEIVE_LIMIT) return 1;
    unsigned long got = 0;
    if (!PerformUSBIO(cmd::kSerialReceive, Channel(port), nullptr, 0, buffer + *length, &got))
      return 0;
    *length += got;
    if (got == 0) return 1;
  }
}

int VantrelUSB::ReceiveByteWithTimestamp(_usbSerialPort port, unsigned char* byte,
                                         unsigned char* time, int* hasByte) {
  VANTREL_REQUIRE(byte != nullptr && time != nullptr && hasByte != nullptr);
  VANTREL_CHECK_PORT(port);
  auto& buffers = vantrel::shared::State().buffers;
  vantrel::shared::SharedLockGuard lock(buffers);
  std::uint8_t* record =
      vantrel::shared::Record(buffers, vantrel::shared::kReceiveBufferSize, context_->deviceIndex);
  std::uint8_t& count = record[0];
  std::uint8_t& readIndex = record[1];
  std::uint8_t* data = record + 2;
  // A record left inconsistent (by an older reply shape) counts as empty.
  if (readIndex >= count || count > vantrel::kMaxReplyData) {
    unsigned char reply[vantrel::kMaxReplyData];
    unsigned long got = 0;
    count = 0;
    readIndex = 0;
    if (!PerformUSBIO(cmd::kSerialReceiveTimestamped, Channel(port), nullptr, 0, reply, &got))
      return 0;
    if (got == 0) {
      context_->lastError = USB_DEVICE_BYTE_COUNT_ERROR;
      return 0;
    }
    std::memcpy(data, reply, got);
    count = static_cast<std::uint8_t>(got);
  }
  if (count - readIndex == 1) {
    // One value left: a time with no received byte.
    *time = data[readIndex];
    readIndex = static_cast<std::uint8_t>(readIndex + 1);
    *hasByte = 0;
  } else {
    *byte = data[readIndex];
    *time = data[readIndex + 1];
    readIndex = static_cast<std::uint8_t>(readIndex + 2);
    *hasByte = 1;
  }
  return 1;
}

int VantrelUSB::SetTimeoutMessage(_usbSerialPort port, unsigned char* message, unsigned char length,
                                  float seconds) {
  VANTREL_CHECK_PORT(port);
  if (length > kTimeoutMessageMax) {
    context_->lastError = USB_DEVICE_BYTE_COUNT_ERROR;
    return 0;
  }
  const double wide = seconds;
  if (!(wide >= 0.0 && wide <= kTimeoutSecondsMax)) {  // also refuses NaN
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
  if (message == nullptr) {
    context_->lastError = USB_DEVICE_BYTE_COUNT_ERROR;
    return 0;
  }
  unsigned char payload[2 + kTimeoutMessageMax];
  payload[0] = static_cast<unsigned char>(wide * kTimeUnitsPerSecond);
  payload[1] = length;
  std::memcpy(payload + 2, message, length);
  unsigned long replyLength = 0;
  return PerformUSBIO(cmd::kSerialTimeoutMessage, Channel(port), payload, 2ul + length, nullptr,
                      &replyLength);
}

int VantrelUSB::GetParityErrors(_usbSerialPort port, unsigned short* count) {
  VANTREL_REQUIRE(count != nullptr);
  VANTREL_CHECK_PORT(port);
  unsigned char reply[vantrel::kMaxReplyData] = {};
  if (!vantrel::ExchangeForRecord([this](auto&&... a) { return PerformUSBIO(a...); },
                                  context_->lastError, cmd::kSerialParityErrors, Channel(port),
                                  nullptr, 0, reply, 2))
    return 0;
  *count = static_cast<unsigned short>(reply[0] << 8 | reply[1]);
  return 1;
}

int VantrelUSB::ConfigureCCTalkPort(_usbSerialPort port, CCTalkConfig* config) {
  VANTREL_REQUIRE(config != nullptr);
  VANTREL_CHECK_PORT(port);
  PollRequest request{config->slot,
                      static_cast<unsigned char>(config->mode),
                      config->option2,
                      1,
                      1,
                      5,
                      config->pollTime,
                      config->option7,
                      config->option8,
                      config->option9,
                      config->option10,
                      config->firstMessage,
                      config->secondMessage,
                      FrameLength(config->firstMessage),
                      FrameLength(config->secondMessage)};
  if (!PollRequestInRange(request, config->mode)) {
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
  return SendPollConfiguration([this](auto&&... a) { return PerformUSBIO(a...); }, port, config,
                               request);
}

int VantrelUSB::ConfigureRS232Poll(_usbSerialPort port, RS232PollConfig* config) {
  VANTREL_REQUIRE(config != nullptr);
  VANTREL_CHECK_PORT(port);
  // The length byte must lie inside the 25-byte messages.
  if (config->lengthOffset >= kPollMessageMax) {
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
  PollRequest request{
      config->slot,
      static_cast<unsigned char>(config->mode),
      config->option2,
      config->framing,
      config->lengthOffset,
      config->lengthAdjust,
      config->pollTime,
      config->option7,
      config->option8,
      config->option9,
      config->option10,
      config->firstMessage,
      config->secondMessage,
      MessageLength(config->firstMessage, config->lengthOffset, config->lengthAdjust),
      MessageLength(config->secondMessage, config->lengthOffset, config->lengthAdjust)};
  if (!PollRequestInRange(request, config->mode)) {
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
  return SendPollConfiguration([this](auto&&... a) { return PerformUSBIO(a...); }, port, config,
                               request);
}

int VantrelUSB::EmptyPolledBuffer(_usbSerialPort port, unsigned char slot) {
  VANTREL_CHECK_PORT(port);
  unsigned long length = 0;
  return PerformUSBIO(cmd::kSerialEmptyPolledBuffer, Channel(port), &slot, 1, nullptr, &length);
}

int VantrelUSB::DeletePolledMessage(_usbSerialPort port, unsigned char slot) {
  VANTREL_CHECK_PORT(port);
  unsigned long length = 0;
  return PerformUSBIO(cmd::kSerialDeletePolled, Channel(port), &slot, 1, nullptr, &length);
}

int VantrelUSB::ReceivePolledMessage(_usbSerialPort port, unsigned char slot, unsigned char* buffer,
                                     unsigned long* length, int* status) {
  VANTREL_REQUIRE(length != nullptr);
  *length = 0;
  VANTREL_REQUIRE(buffer != nullptr && status != nullptr);
  VANTREL_CHECK_PORT(port);
  for (;;) {
    unsigned char reply[vantrel::kMaxReplyData];
    unsigned long got = 0;
    if (!PerformUSBIO(cmd::kSerialReceivePolled, Channel(port), &slot, 1, reply, &got)) return 0;
    if (got == 0) {
      context_->lastError = USB_DEVICE_BYTE_COUNT_ERROR;
      return 0;
    }
    *status = reply[0];
    if (got < 2) return 1;  // no flag: nothing more follows
    const unsigned long data = std::min<unsigned long>(got - 2, VANTREL_RECEIVE_LIMIT - *length);
    std::memcpy(buffer + *length, reply + 2, data);
    *length += data;
    if (reply[1] == 0) return 1;
    // Stop before a reply could pass the limit: the board keeps the rest.
    if (*length + kPolledDataMax > VANTREL_RECEIVE_LIMIT) return 1;
  }
}
