// Inputs, dip switches, pulse counters and parallel hoppers (channel 1), and
// connection by the board's address switches.
#include <vantrel/VantrelUSB.h>

#include <cstring>

#include "board/ArgumentCheck.h"
#include "board/BoardContext.h"
#include "board/Commands.h"
#include "board/RecordReply.h"

namespace {

namespace cmd = vantrel::commands;
constexpr int kSearchedDevices = 8;
constexpr unsigned kBoardAddresses = 16;
constexpr int kLastInputBit = 32;
constexpr int kDipByte = 3;
constexpr unsigned char kAddressSwitches = 0x07;
constexpr unsigned long kSnapshotBytes = sizeof(usbInput::input);

}  // namespace

// Walks devices 0-7. Each device tried uses its own board slot, so that its
// output images and EEPROM geometry never land in another board's records;
// every device that is not the one asked for is closed again.
int VantrelUSB::InitUSBBoard(unsigned char address) {
  if (address >= kBoardAddresses) {
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
  if (!vantrel::ConnectionAllowed()) return 0;
  const std::int32_t slot = context_->deviceIndex;
  for (int index = 0; index < kSearchedDevices; ++index) {
    context_->deviceIndex = index;
    usbInput inputs;
    if (InitPort(index) && GetInputs(&inputs) &&
        (inputs.input[kDipByte] & kAddressSwitches) == address)
      return 1;
    context_->device.reset();
  }
  context_->deviceIndex = slot;
  return 0;
}

#define VANTREL_EXCHANGE [this](auto&&... a) { return PerformUSBIO(a...); }

// The whole reply reaches the caller, but only a reply that holds the
// snapshot: anything shorter leaves the caller's bytes as they were.
int VantrelUSB::GetInputs(unsigned char* inputs) {
  VANTREL_REQUIRE(inputs != nullptr);
  unsigned char reply[vantrel::kMaxReplyData];
  unsigned long length = 0;
  if (!PerformUSBIO(cmd::kGetInputs, USB_CHANNEL_IO, nullptr, 0, reply, &length)) return 0;
  if (length < kSnapshotBytes) {
    context_->lastError = USB_DEVICE_BYTE_COUNT_ERROR;
    return 0;
  }
  std::memcpy(inputs, reply, length);
  return 1;
}

namespace {

// The three snapshot reads differ only in their command byte.
template <typename Exchange>
int ReadSnapshot(Exchange&& exchange, usbErrorCode& lastError, unsigned char command,
                 usbInput* inputs) {
  unsigned char reply[vantrel::kMaxReplyData] = {};
  if (!vantrel::ExchangeForRecord(exchange, lastError, command, USB_CHANNEL_IO, nullptr, 0, reply,
                                  kSnapshotBytes))
    return 0;
  std::memcpy(inputs->input, reply, sizeof inputs->input);
  return 1;
}

}  // namespace

int VantrelUSB::GetInputs(usbInput* inputs) {
  VANTREL_REQUIRE(inputs != nullptr);
  return ReadSnapshot(VANTREL_EXCHANGE, context_->lastError, cmd::kGetInputs, inputs);
}

int VantrelUSB::GetChangedInputs(usbInput* inputs) {
  VANTREL_REQUIRE(inputs != nullptr);
  return ReadSnapshot(VANTREL_EXCHANGE, context_->lastError, cmd::kGetChangedInputs, inputs);
}

int VantrelUSB::GetRawInputs(usbInput* inputs) {
  VANTREL_REQUIRE(inputs != nullptr);
  return ReadSnapshot(VANTREL_EXCHANGE, context_->lastError, cmd::kGetRawInputs, inputs);
}

int VantrelUSB::GetInputBit(_usbInputBitId bit, int* value) {
  if (bit < 0 || bit > kLastInputBit) {
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
  VANTREL_REQUIRE(value != nullptr);
  // Room for the whole reply, whatever the board sends.
  unsigned char snapshot[vantrel::kMaxReplyData] = {};
  if (!GetInputs(snapshot)) return 0;
  *value = (snapshot[bit / 8] >> (bit % 8)) & 1;
  return 1;
}

int VantrelUSB::InputMultiplexing(usbInputMultiplexing mode) {
  unsigned char payload = mode == USB_INPUT_MULTIPLEXING_ON ? 1 : 0;
  unsigned long length = 0;
  return PerformUSBIO(cmd::kInputMultiplexing, USB_CHANNEL_IO, &payload, 1, nullptr, &length);
}

int VantrelUSB::GetMultiplexedInputs(usbMultiplexedInput* inputs) {
  VANTREL_REQUIRE(inputs != nullptr);
  unsigned char reply[vantrel::kMaxReplyData] = {};
  if (!vantrel::ExchangeForRecord(VANTREL_EXCHANGE, context_->lastError, cmd::kGetMultiplexedInputs,
                                  USB_CHANNEL_IO, nullptr, 0, reply, sizeof(usbMultiplexedInput)))
    return 0;
  inputs->first = reply[0];
  std::memcpy(inputs->group, reply + 1, sizeof inputs->group);
  return 1;
}

int VantrelUSB::ConfigurePulsedInput(_usbInputBitId input, unsigned char setting,
                                     ActiveState level) {
  unsigned char payload[3] = {static_cast<unsigned char>(input), setting,
                              static_cast<unsigned char>(level)};
  unsigned long length = 0;
  return PerformUSBIO(cmd::kConfigurePulsedInput, USB_CHANNEL_IO, payload, sizeof payload, nullptr,
                      &length);
}

int VantrelUSB::BeginPulsedInputCheck(_usbInputBitId input) {
  unsigned char payload[2] = {static_cast<unsigned char>(input), 1};
  unsigned long length = 0;
  return PerformUSBIO(cmd::kPulsedInputCheck, USB_CHANNEL_IO, payload, 2, nullptr, &length);
}

int VantrelUSB::EndPulsedInputCheck(_usbInputBitId input) {
  unsigned char payload[2] = {static_cast<unsigned char>(input), 0};
  unsigned long length = 0;
  return PerformUSBIO(cmd::kPulsedInputCheck, USB_CHANNEL_IO, payload, 2, nullptr, &length);
}

int VantrelUSB::ResetPulsedInputCounter(_usbInputBitId input) {
  unsigned char payload = static_cast<unsigned char>(input);
  unsigned long length = 0;
  return PerformUSBIO(cmd::kResetPulsedInputCounter, USB_CHANNEL_IO, &payload, 1, nullptr, &length);
}

int VantrelUSB::DecrementPulsedInputCounter(_usbInputBitId input) {
  unsigned char payload = static_cast<unsigned char>(input);
  unsigned long length = 0;
  return PerformUSBIO(cmd::kDecrementPulsedInputCounter, USB_CHANNEL_IO, &payload, 1, nullptr,
                      &length);
}

int VantrelUSB::ReadPulsedInputCounter(_usbInputBitId input, unsigned char* counter) {
  VANTREL_REQUIRE(counter != nullptr);
  unsigned char payload = static_cast<unsigned char>(input);
  unsigned char reply[vantrel::kMaxReplyData] = {};
  if (!vantrel::ExchangeForRecord(VANTREL_EXCHANGE, context_->lastError,
                                  cmd::kReadPulsedInputCounter, USB_CHANNEL_IO, &payload, 1, reply,
                                  1))
    return 0;
  *counter = reply[0];
  return 1;
}

int VantrelUSB::ReleaseParallelHopperCoins(_usbInputBitId input, unsigned char settingA,
                                           ActiveState level, _usbOutputBitId output,
                                           unsigned short coins, unsigned char settingB) {
  unsigned char payload[7] = {static_cast<unsigned char>(input),
                              settingA,
                              static_cast<unsigned char>(level),
                              static_cast<unsigned char>(output),
                              static_cast<unsigned char>(coins >> 8),
                              static_cast<unsigned char>(coins & 0xFF),
                              settingB};
  unsigned long length = 0;
  return PerformUSBIO(cmd::kReleaseParallelHopperCoins, USB_CHANNEL_IO, payload, sizeof payload,
                      nullptr, &length);
}

int VantrelUSB::GetParallelHopperStatus(_usbInputBitId input, ReleaseHopperCoinsStatus* status,
                                        unsigned char* second) {
  VANTREL_REQUIRE(status != nullptr && second != nullptr);
  unsigned char payload = static_cast<unsigned char>(input);
  unsigned char reply[vantrel::kMaxReplyData] = {};
  if (!vantrel::ExchangeForRecord(VANTREL_EXCHANGE, context_->lastError,
                                  cmd::kGetParallelHopperStatus, USB_CHANNEL_IO, &payload, 1, reply,
                                  2))
    return 0;
  *status = static_cast<ReleaseHopperCoinsStatus>(reply[0]);
  *second = reply[1];
  return 1;
}
