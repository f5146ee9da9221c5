// Inputs, dip switches, pulse counters and parallel hoppers (channel 1), and
// connection by the board's address switches.
#include <vantrel/VantrelUSB.h>

#include <cstring>

#include "board/BoardContext.h"
#include "board/Commands.h"

namespace {

namespace cmd = vantrel::commands;
constexpr int kSearchedDevices = 8;
constexpr unsigned kBoardAddresses = 16;
constexpr int kLastInputBit = 32;
constexpr int kDipByte = 3;
constexpr unsigned char kAddressSwitches = 0x07;

}  // namespace

int VantrelUSB::InitUSBBoard(unsigned char address) {
  if (address >= kBoardAddresses) {
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
  for (int index = 0; index < kSearchedDevices; ++index) {
    if (!InitPort(index)) continue;
    usbInput inputs;
    if (!GetInputs(&inputs)) continue;
    if ((inputs.input[kDipByte] & kAddressSwitches) == address) return 1;
    close();
  }
  return 0;
}

int VantrelUSB::GetInputs(unsigned char* inputs) {
  unsigned long length = 0;
  return PerformUSBIO(cmd::kGetInputs, USB_CHANNEL_IO, nullptr, 0, inputs, &length);
}

namespace {

// The three snapshot reads differ only in their command byte.
template <typename Exchange>
int ReadSnapshot(Exchange&& exchange, unsigned char command, usbInput* inputs) {
  unsigned char reply[vantrel::kMaxReplyData] = {};
  unsigned long length = 0;
  if (!exchange(command, USB_CHANNEL_IO, nullptr, 0ul, reply, &length)) return 0;
  std::memcpy(inputs->input, reply, sizeof inputs->input);
  return 1;
}

}  // namespace

int VantrelUSB::GetInputs(usbInput* inputs) {
  return ReadSnapshot([this](auto&&... a) { return PerformUSBIO(a...); }, cmd::kGetInputs, inputs);
}

int VantrelUSB::GetChangedInputs(usbInput* inputs) {
  return ReadSnapshot([this](auto&&... a) { return PerformUSBIO(a...); }, cmd::kGetChangedInputs, inputs);
}

int VantrelUSB::GetRawInputs(usbInput* inputs) {
  return ReadSnapshot([this](auto&&... a) { return PerformUSBIO(a...); }, cmd::kGetRawInputs, inputs);
}

int VantrelUSB::GetInputBit(_usbInputBitId bit, int* value) {
  if (bit < 0 || bit > kLastInputBit) {
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
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
  unsigned char reply[vantrel::kMaxReplyData] = {};
  unsigned long length = 0;
  if (!PerformUSBIO(cmd::kGetMultiplexedInputs, USB_CHANNEL_IO, nullptr, 0, reply, &length))
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
  return PerformUSBIO(cmd::kConfigurePulsedInput, USB_CHANNEL_IO, payload, sizeof payload,
                      nullptr, &length);
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
  return PerformUSBIO(cmd::kResetPulsedInputCounter, USB_CHANNEL_IO, &payload, 1, nullptr,
                      &length);
}

int VantrelUSB::DecrementPulsedInputCounter(_usbInputBitId input) {
  unsigned char payload = static_cast<unsigned char>(input);
  unsigned long length = 0;
  return PerformUSBIO(cmd::kDecrementPulsedInputCounter, USB_CHANNEL_IO, &payload, 1, nullptr,
                      &length);
}

int VantrelUSB::ReadPulsedInputCounter(_usbInputBitId input, unsigned char* counter) {
  unsigned char payload = static_cast<unsigned char>(input);
  unsigned char reply[vantrel::kMaxReplyData] = {};
  unsigned long length = 0;
  if (!PerformUSBIO(cmd::kReadPulsedInputCounter, USB_CHANNEL_IO, &payload, 1, reply, &length))
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
  unsigned char payload = static_cast<unsigned char>(input);
  unsigned char reply[vantrel::kMaxReplyData] = {};
  unsigned long length = 0;
  if (!PerformUSBIO(cmd::kGetParallelHopperStatus, USB_CHANNEL_IO, &payload, 1, reply, &length))
    return 0;
  *status = static_cast<ReleaseHopperCoinsStatus>(reply[0]);
  *second = reply[1];
  return 1;
}
