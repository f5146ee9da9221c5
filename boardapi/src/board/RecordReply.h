// Exchanges whose reply fills a record of fixed size.
#pragma once

#include <vantrel/VantrelTypes.h>

namespace vantrel {

// Runs the exchange into `reply` (room for 62 data bytes) and fails with
// USB_DEVICE_BYTE_COUNT_ERROR when fewer than `needed` data bytes came back:
// a record is never filled from bytes that the board did not send, and the
// caller's record stays as it was.
// Exchange(command, channel, payload, payloadLength, reply, replyLength) -> int,
// as PerformUSBIO.
template <typename Exchange>
int ExchangeForRecord(Exchange&& exchange, usbErrorCode& lastError, unsigned char command,
                      int channel, unsigned char* payload, unsigned long payloadLength,
                      unsigned char* reply, unsigned long needed) {
  unsigned long length = 0;
  if (!exchange(command, channel, payload, payloadLength, reply, &length)) return 0;
  if (length < needed) {
    lastError = USB_DEVICE_BYTE_COUNT_ERROR;
    return 0;
  }
  return 1;
}

}  // namespace vantrel
