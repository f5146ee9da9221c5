// The three stepper-motor reels (channel 1). The board checks reel numbers,
// busy reels and step counts itself; 16-bit values travel high byte first.
#include <vantrel/VantrelUSB.h>

#include <cstring>

#include "board/ArgumentCheck.h"
#include "board/BoardContext.h"
#include "board/Commands.h"
#include "board/RecordReply.h"

namespace {

namespace cmd = vantrel::commands;
constexpr int kReels = 3;
constexpr int kStatusBytesPerReel = 6;
// Reel number and count leave room for 61 entries in one request.
constexpr unsigned kMaxRampEntries = vantrel::kMaxPayload - 2;

template <typename Exchange>
int SendRamp(Exchange&& exchange, unsigned char command, unsigned char reel,
             const usbRampTable& table) {
  unsigned char payload[vantrel::kMaxPayload];
  payload[0] = reel;
  payload[1] = table.count;
  std::memcpy(payload + 2, table.steps, table.count);
  unsigned long length = 0;
  return exchange(command, USB_CHANNEL_IO, payload, 2ul + table.count, nullptr, &length);
}

}  // namespace

int VantrelUSB::ConfigureReelsEx(unsigned char first, unsigned short second, unsigned char third) {
  unsigned char payload[4] = {first, static_cast<unsigned char>(second >> 8),
                              static_cast<unsigned char>(second & 0xFF), third};
  unsigned long length = 0;
  return PerformUSBIO(cmd::kConfigureReels, USB_CHANNEL_IO, payload, 4, nullptr, &length);
}

int VantrelUSB::ConfigureReels(unsigned char first, unsigned char second, unsigned char third) {
  return ConfigureReelsEx(first, second, third);
}

int VantrelUSB::SpinReels(unsigned char reel, unsigned char direction, unsigned short steps) {
  unsigned char payload[4] = {reel, direction, static_cast<unsigned char>(steps >> 8),
                              static_cast<unsigned char>(steps & 0xFF)};
  unsigned long length = 0;
  return PerformUSBIO(cmd::kSpinReels, USB_CHANNEL_IO, payload, 4, nullptr, &length);
}

int VantrelUSB::SpinRampUp(unsigned char reel, usbRampTable table) {
  if (table.count > kMaxRampEntries) {
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
  return SendRamp([this](auto&&... a) { return PerformUSBIO(a...); }, cmd::kSpinRampUp, reel,
                  table);
}

int VantrelUSB::SpinRampDown(unsigned char reel, usbRampTable table) {
  if (table.count > kMaxRampEntries) {
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
  return SendRamp([this](auto&&... a) { return PerformUSBIO(a...); }, cmd::kSpinRampDown, reel,
                  table);
}

int VantrelUSB::SetDutyCycle(unsigned char first, unsigned char second, unsigned char third) {
  unsigned char payload[3] = {first, second, third};
  unsigned long length = 0;
  return PerformUSBIO(cmd::kSetDutyCycle, USB_CHANNEL_IO, payload, 3, nullptr, &length);
}

int VantrelUSB::ReelSynchroniseEnable(unsigned char reel) {
  unsigned long length = 0;
  return PerformUSBIO(cmd::kReelSynchroniseEnable, USB_CHANNEL_IO, &reel, 1, nullptr, &length);
}

int VantrelUSB::GetReelStatusEx(ReelStatusEx* status) {
  VANTREL_REQUIRE(status != nullptr);
  unsigned char reply[vantrel::kMaxReplyData] = {};
  if (!vantrel::ExchangeForRecord([this](auto&&... a) { return PerformUSBIO(a...); },
                                  context_->lastError, cmd::kGetReelStatus, USB_CHANNEL_IO, nullptr,
                                  0, reply, kReels * kStatusBytesPerReel))
    return 0;
  for (int reel = 0; reel < kReels; ++reel) {
    const unsigned char* r = reply + kStatusBytesPerReel * reel;
    status->position[reel] = static_cast<unsigned short>(r[0] << 8 | r[1]);
    status->error[reel] = static_cast<unsigned short>(r[2] << 8 | r[3]);
    status->busy[reel] = r[4];
    status->sync[reel] = r[5];
  }
  return 1;
}

int VantrelUSB::GetReelStatus(usbReelStatus* status) {
  VANTREL_REQUIRE(status != nullptr);
  ReelStatusEx full;
  if (!GetReelStatusEx(&full)) return 0;
  for (int reel = 0; reel < kReels; ++reel) {
    status->position[reel] = static_cast<unsigned char>(full.position[reel] & 0xFF);
    status->error[reel] = static_cast<unsigned char>(full.error[reel] & 0xFF);
    status->busy[reel] = full.busy[reel];
    status->sync[reel] = full.sync[reel];
  }
  return 1;
}
