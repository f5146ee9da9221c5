// The PIC's clock, security switches and random numbers (channel 5). Values
// travel little-endian; out-parameters are written only on success.
#include <vantrel/VantrelUSB.h>

#include "board/ArgumentCheck.h"
#include "board/BoardContext.h"
#include "board/Commands.h"
#include "board/RecordReply.h"

namespace {

namespace cmd = vantrel::commands;

void StoreLe32(unsigned char* p, unsigned long value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}
unsigned long LoadLe32(const unsigned char* p) {
  return static_cast<unsigned long>(p[0]) | static_cast<unsigned long>(p[1]) << 8 |
         static_cast<unsigned long>(p[2]) << 16 | static_cast<unsigned long>(p[3]) << 24;
}

}  // namespace

#define VANTREL_EXCHANGE [this](auto&&... a) { return PerformUSBIO(a...); }

int VantrelUSB::SetClock(unsigned long value) {
  unsigned char payload[4];
  StoreLe32(payload, value);
  unsigned long length = 0;
  return PerformUSBIO(cmd::kSetClock, USB_CHANNEL_PIC, payload, 4, nullptr, &length);
}

int VantrelUSB::GetClock(unsigned long* value) {
  VANTREL_REQUIRE(value != nullptr);
  unsigned char reply[vantrel::kMaxReplyData] = {};
  if (!vantrel::ExchangeForRecord(VANTREL_EXCHANGE, context_->lastError, cmd::kGetClock,
                                  USB_CHANNEL_PIC, nullptr, 0, reply, 4))
    return 0;
  *value = LoadLe32(reply);
  return 1;
}

int VantrelUSB::StartSecuritySwitchRead() {
  unsigned long length = 0;
  return PerformUSBIO(cmd::kStartSecuritySwitchRead, USB_CHANNEL_PIC, nullptr, 0, nullptr, &length);
}

int VantrelUSB::NextSecuritySwitchRead(unsigned long* time, unsigned char* state) {
  VANTREL_REQUIRE(time != nullptr && state != nullptr);
  unsigned char reply[vantrel::kMaxReplyData] = {};
  if (!vantrel::ExchangeForRecord(VANTREL_EXCHANGE, context_->lastError,
                                  cmd::kNextSecuritySwitchRead, USB_CHANNEL_PIC, nullptr, 0, reply,
                                  5))
    return 0;
  *time = LoadLe32(reply);
  *state = reply[4];
  return 1;
}

int VantrelUSB::ClearSecuritySwitches() {
  unsigned long length = 0;
  return PerformUSBIO(cmd::kClearSecuritySwitches, USB_CHANNEL_PIC, nullptr, 0, nullptr, &length);
}

namespace {

template <typename Exchange>
int ReadFlags(Exchange&& exchange, usbErrorCode& lastError, unsigned char command,
              unsigned char* first, unsigned char* second) {
  unsigned char reply[vantrel::kMaxReplyData] = {};
  if (!vantrel::ExchangeForRecord(exchange, lastError, command, USB_CHANNEL_PIC, nullptr, 0, reply,
                                  2))
    return 0;
  *first = reply[0];
  *second = reply[1];
  return 1;
}

}  // namespace

int VantrelUSB::ReadAndResetSecuritySwitchFlags(unsigned char* first, unsigned char* second) {
  VANTREL_REQUIRE(first != nullptr && second != nullptr);
  return ReadFlags(VANTREL_EXCHANGE, context_->lastError, cmd::kReadAndResetSecurityFlags, first,
                   second);
}

int VantrelUSB::CachedReadAndResetSecuritySwitchFlags(unsigned char* first, unsigned char* second) {
  VANTREL_REQUIRE(first != nullptr && second != nullptr);
  return ReadFlags(VANTREL_EXCHANGE, context_->lastError, cmd::kCachedReadAndResetSecurityFlags,
                   first, second);
}

int VantrelUSB::EnableRandomNumberGenerator(unsigned long value) {
  unsigned char payload[4];
  StoreLe32(payload, value);
  unsigned long length = 0;
  return PerformUSBIO(cmd::kEnableRandomNumbers, USB_CHANNEL_PIC, payload, 4, nullptr, &length);
}

int VantrelUSB::DisableRandomNumberGenerator() {
  unsigned long length = 0;
  return PerformUSBIO(cmd::kDisableRandomNumbers, USB_CHANNEL_PIC, nullptr, 0, nullptr, &length);
}

int VantrelUSB::GetRandomNumber(unsigned short* number) {
  VANTREL_REQUIRE(number != nullptr);
  unsigned char reply[vantrel::kMaxReplyData] = {};
  if (!vantrel::ExchangeForRecord(VANTREL_EXCHANGE, context_->lastError, cmd::kGetRandomNumber,
                                  USB_CHANNEL_PIC, nullptr, 0, reply, 2))
    return 0;
  *number = static_cast<unsigned short>(reply[0] | reply[1] << 8);
  return 1;
}
