// Lamps and auxiliary outputs (channel 1). The last image sent for each period
// is kept per board slot in shared memory (on period under lock 1, off period
// under lock 2), written before the exchange and never rolled back.
#include <vantrel/VantrelUSB.h>

#include <cstring>

#include "board/ArgumentCheck.h"
#include "board/BoardContext.h"
#include "board/Commands.h"
#include "board/RecordReply.h"
#include "shared/SharedState.h"

namespace {

namespace cmd = vantrel::commands;
using vantrel::shared::SharedLockGuard;
using vantrel::shared::SharedObject;

constexpr int kImageBytes = 5;
constexpr int kLastOutputByte = 4;
constexpr int kLastOutput = 37;
constexpr int kFirstAuxOutput = 32;

std::uint8_t* Copy(SharedObject& block, int slot) {
  return vantrel::shared::Record(block, vantrel::shared::kOutputCopySize, slot);
}

// Bits outside 0-7 give an empty mask, as an 8-bit shift would.
unsigned char BitMask(int bit) {
  return (bit >= 0 && bit < 8) ? static_cast<unsigned char>(1u << bit) : 0;
}

// Whole image for one period: the shared copy first, then the board.
template <typename Exchange>
int SendPeriodImage(Exchange&& exchange, SharedObject& block, int slot, unsigned char command,
                    usbOutput& image) {
  SharedLockGuard lock(block);
  std::memcpy(Copy(block, slot), image.output, kImageBytes);
  unsigned long length = 0;
  return exchange(command, USB_CHANNEL_IO, image.output, 0ul + kImageBytes, nullptr, &length);
}

// One bit of one period: change the shared copy and send it whole through
// the whole-image operation, which takes the same re-entrant lock again.
// Returns -1 for a byte index outside the image.
template <typename SendImage>
int SendPeriodBit(SendImage&& sendImage, SharedObject& block, int slot, int byte, int bit, int on) {
  SharedLockGuard lock(block);
  if (byte < 0 || byte > kLastOutputByte) return -1;
  std::uint8_t* copy = Copy(block, slot);
  if (on)
    copy[byte] |= BitMask(bit);
  else
    copy[byte] &= static_cast<std::uint8_t>(~BitMask(bit));
  usbOutput image;
  std::memcpy(image.output, copy, kImageBytes);
  return sendImage(image);
}

}  // namespace

int VantrelUSB::SetOnPeriodOutputs(usbOutput image) {
  return SendPeriodImage([this](auto&&... a) { return PerformUSBIO(a...); },
                         vantrel::shared::State().outOnCopies, context_->deviceIndex,
                         cmd::kSetOnPeriodOutputs, image);
}

int VantrelUSB::SetOffPeriodOutputs(usbOutput image) {
  return SendPeriodImage([this](auto&&... a) { return PerformUSBIO(a...); },
                         vantrel::shared::State().outOffCopies, context_->deviceIndex,
                         cmd::kSetOffPeriodOutputs, image);
}

int VantrelUSB::SetOnPeriodOutputBit(_usbOutputId byte, int bit, int on) {
  const int result =
      SendPeriodBit([this](usbOutput image) { return SetOnPeriodOutputs(image); },
                    vantrel::shared::State().outOnCopies, context_->deviceIndex, byte, bit, on);
  if (result >= 0) return result;
  context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
  return 0;
}

int VantrelUSB::SetOffPeriodOutputBit(_usbOutputId byte, int bit, int on) {
  const int result =
      SendPeriodBit([this](usbOutput image) { return SetOffPeriodOutputs(image); },
                    vantrel::shared::State().outOffCopies, context_->deviceIndex, byte, bit, on);
  if (result >= 0) return result;
  context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
  return 0;
}

int VantrelUSB::ModifyOutputs(usbOutput* offMask, usbOutput* onMask) {
  VANTREL_REQUIRE(offMask != nullptr && onMask != nullptr);
  auto& state = vantrel::shared::State();
  SharedLockGuard onLock(state.outOnCopies);
  SharedLockGuard offLock(state.outOffCopies);
  std::uint8_t* onCopy = Copy(state.outOnCopies, context_->deviceIndex);
  std::uint8_t* offCopy = Copy(state.outOffCopies, context_->deviceIndex);
  unsigned char payload[2 * kImageBytes];
  for (int i = 0; i < kImageBytes; ++i) {
    const auto keep = static_cast<std::uint8_t>(~offMask->output[i]);
    onCopy[i] = static_cast<std::uint8_t>((onCopy[i] | onMask->output[i]) & keep);
    offCopy[i] = static_cast<std::uint8_t>((offCopy[i] | onMask->output[i]) & keep);
    payload[i] = onMask->output[i];
    payload[kImageBytes + i] = offMask->output[i];
  }
  unsigned long length = 0;
  return PerformUSBIO(cmd::kModifyOutputs, USB_CHANNEL_IO, payload, sizeof payload, nullptr,
                      &length);
}

int VantrelUSB::SetOutputs(unsigned char* image) {
  VANTREL_REQUIRE(image != nullptr);
  usbOutput onMask, offMask;
  for (int i = 0; i < kImageBytes; ++i) {
    onMask.output[i] = image[i];
    offMask.output[i] = static_cast<unsigned char>(~image[i]);
  }
  return ModifyOutputs(&offMask, &onMask);
}

int VantrelUSB::SetOutputBit(_usbOutputBitId output, int on) {
  if (output < 0 || output > kLastOutput) {
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
  usbOutput mask{}, empty{};
  if (output < kFirstAuxOutput)
    mask.output[output / 8] = BitMask(output % 8);
  else
    mask.output[kLastOutputByte] = BitMask(output - kFirstAuxOutput);
  return on ? ModifyOutputs(&empty, &mask) : ModifyOutputs(&mask, &empty);
}

int VantrelUSB::SetOutputBrightness(unsigned char level) {
  unsigned long length = 0;
  return PerformUSBIO(cmd::kSetOutputBrightness, USB_CHANNEL_IO, &level, 1, nullptr, &length);
}

int VantrelUSB::PulseOutput(unsigned char first, unsigned char second) {
  unsigned char payload[2] = {second, first};
  unsigned long length = 0;
  return PerformUSBIO(cmd::kPulseOutput, USB_CHANNEL_IO, payload, 2, nullptr, &length);
}

int VantrelUSB::PulseOffOutput(unsigned char first, unsigned char second) {
  unsigned char payload[2] = {second, first};
  unsigned long length = 0;
  return PerformUSBIO(cmd::kPulseOffOutput, USB_CHANNEL_IO, payload, 2, nullptr, &length);
}

int VantrelUSB::PulseOutputResult(unsigned char* first, int* second, int* third) {
  VANTREL_REQUIRE(first != nullptr && second != nullptr && third != nullptr);
  unsigned char reply[vantrel::kMaxReplyData] = {};
  if (!vantrel::ExchangeForRecord([this](auto&&... a) { return PerformUSBIO(a...); },
                                  context_->lastError, cmd::kPulseOutputResult, USB_CHANNEL_IO,
                                  nullptr, 0, reply, 3))
    return 0;
  *first = reply[0];
  *second = reply[1];
  *third = reply[2];
  return 1;
}
