// One command/response exchange with the board.
#include <vantrel/VantrelUSB.h>
#include <vantrel/protocol/ControlCodes.h>

#include <algorithm>
#include <cstring>

#include "board/BoardContext.h"
#include "board/LinkVerdict.h"

namespace {

namespace drv = vantrel::driver;
using Block = drv::BulkExchangeBlock;

// Replies longer than one 64-byte packet are cut to it.
constexpr std::uint32_t kMaxReplyBytes = 64;
constexpr std::uint32_t kReplyAskedFor = 65;

}  // namespace

int VantrelUSB::PerformUSBIO(unsigned char command, int channel, unsigned char* payload,
                             unsigned long payloadLength, unsigned char* reply,
                             unsigned long* replyLength) {
  // A request holds one command byte and at most 63 payload bytes.
  if (payloadLength > vantrel::kMaxPayload) {
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
  std::uint8_t request[Block::kSize] = {};
  drv::StoreLe32(request + Block::kOutPipe, static_cast<std::uint32_t>(2 * channel - 1));
  drv::StoreLe32(request + Block::kInPipe, static_cast<std::uint32_t>(2 * channel - 2));
  drv::StoreLe32(request + Block::kOutLength, static_cast<std::uint32_t>(payloadLength + 1));
  drv::StoreLe32(request + Block::kInLength, kReplyAskedFor);
  request[Block::kHeaderSize] = command;
  if (payloadLength != 0) std::memcpy(request + Block::kHeaderSize + 1, payload, payloadLength);

  std::uint8_t answer[Block::kSize] = {};
  std::uint32_t returned = 0;
  const vantrel::LinkResult result =
      context_->device
          ? context_->device->Control(drv::IOCTL_VIO_BULK_EXCHANGE, request, answer, &returned)
          : vantrel::LinkResult::Lost();
  const vantrel::LinkVerdict verdict =
      vantrel::ReadLinkResult(result, vantrel::LinkRequest::kExchange);
  if (!verdict.proceed) {
    context_->lastError = verdict.error;
    return 0;
  }
  std::uint32_t count = drv::LoadLe32(answer + Block::kInLength);
  if (count < 2) {
    context_->lastError = USB_DEVICE_BYTE_COUNT_ERROR;
    return 0;
  }
  if (answer[Block::kHeaderSize] != command) {
    context_->lastError = USB_DEVICE_RESPONSE_ERROR;
    return 0;
  }
  const std::uint8_t status = answer[Block::kHeaderSize + 1];
  if (status != 0) {
    context_->lastError = static_cast<usbErrorCode>(status);
    return 0;
  }
  count = std::min(count, kMaxReplyBytes);
  const unsigned long dataLength = count - 2;
  if (reply != nullptr && dataLength != 0)
    std::memcpy(reply, answer + Block::kHeaderSize + 2, dataLength);
  if (replyLength != nullptr) *replyLength = dataLength;
  return 1;
}
