// SPI transfers and the SEC frames sent over them (channel 7).
#include <vantrel/VantrelUSB.h>

#include <cstring>

#include "board/ArgumentCheck.h"
#include "board/BoardContext.h"
#include "board/Commands.h"

namespace {

namespace cmd = vantrel::commands;
// (count + 4) * 8 bits must fit the one-byte bit count of a transfer.
constexpr unsigned kMaxSecCount = 27;
constexpr unsigned kSecOverhead = 4;

}  // namespace

int VantrelUSB::EnableSPI() {
  unsigned long length = 0;
  return PerformUSBIO(cmd::kEnableSpi, USB_CHANNEL_SPI, nullptr, 0, nullptr, &length);
}

int VantrelUSB::DisableSPI() {
  unsigned long length = 0;
  return PerformUSBIO(cmd::kDisableSpi, USB_CHANNEL_SPI, nullptr, 0, nullptr, &length);
}

int VantrelUSB::SendSPI(unsigned char sendBits, unsigned char* sendData, unsigned char option,
                        unsigned char receiveBits, unsigned char* received) {
  VANTREL_REQUIRE(sendData != nullptr || sendBits == 0);
  // Reply data needs somewhere to go unless no bits are asked for.
  VANTREL_REQUIRE(received != nullptr || receiveBits == 0);
  const unsigned sendBytes = sendBits / 8u + (sendBits % 8u != 0 ? 1u : 0u);
  unsigned char payload[3 + 32];
  payload[0] = sendBits;
  payload[1] = receiveBits;
  payload[2] = option;
  if (sendBytes != 0) std::memcpy(payload + 3, sendData, sendBytes);
  unsigned long length = 0;
  return PerformUSBIO(cmd::kSpiTransfer, USB_CHANNEL_SPI, payload, 3ul + sendBytes, received,
                      &length);
}

int VantrelUSB::SendSEC(unsigned char first, unsigned char second, unsigned char count,
                        unsigned char* data, unsigned char option, unsigned char replyCount,
                        unsigned char* received) {
  if (count > kMaxSecCount || replyCount > kMaxSecCount) {
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
  VANTREL_REQUIRE(data != nullptr || count == 0);
  unsigned char frame[kMaxSecCount + kSecOverhead];
  frame[0] = first;
  frame[1] = second;
  frame[2] = count;
  unsigned sum = first + second + count;
  for (unsigned i = 0; i < count; ++i) {
    frame[3 + i] = data[i];
    sum += data[i];
  }
  frame[3 + count] = static_cast<unsigned char>(sum);
  return SendSPI(static_cast<unsigned char>((count + kSecOverhead) * 8), frame, option,
                 static_cast<unsigned char>((replyCount + kSecOverhead) * 8), received);
}
