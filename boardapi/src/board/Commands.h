// Command bytes the library sends, by channel.
#pragma once

#include <cstdint>

namespace vantrel::commands {

// Channel 2: EEPROM and the 8051 firmware version.
constexpr std::uint8_t kEepromConfigure = 0x03;
constexpr std::uint8_t kEepromWrite = 0x04;
constexpr std::uint8_t kEepromRead = 0x05;
constexpr std::uint8_t k8051Version = 0x06;

// Channel 5: the PIC.
constexpr std::uint8_t kPicVersion = 0x2C;
constexpr std::uint8_t kPicSerialNumber = 0x3F;
constexpr std::uint8_t kPicSetSerialNumber = 0x41;

// Channel 6: SRAM and the application image.
constexpr std::uint8_t kSramRead = 0x46;
constexpr std::uint8_t kSramWrite = 0x47;
constexpr std::uint8_t kImageBegin = 0x48;
constexpr std::uint8_t kImageEnd = 0x49;
constexpr std::uint8_t kImageQuery = 0x4A;

}  // namespace vantrel::commands

namespace vantrel::commands {

// Channel 1: inputs, outputs, reels, pulsed inputs, hoppers.
constexpr std::uint8_t kGetInputs = 0x4B;
constexpr std::uint8_t kModifyOutputs = 0x4D;
constexpr std::uint8_t kPulseOutput = 0x4E;
constexpr std::uint8_t kPulseOffOutput = 0x4F;
constexpr std::uint8_t kPulseOutputResult = 0x50;
constexpr std::uint8_t kGetChangedInputs = 0x51;
constexpr std::uint8_t kGetRawInputs = 0x52;
constexpr std::uint8_t kSetOnPeriodOutputs = 0x53;
constexpr std::uint8_t kSetOffPeriodOutputs = 0x54;
constexpr std::uint8_t kSetOutputBrightness = 0x55;
constexpr std::uint8_t kConfigureReels = 0x56;
constexpr std::uint8_t kSpinReels = 0x57;
constexpr std::uint8_t kSpinRampUp = 0x58;
constexpr std::uint8_t kSpinRampDown = 0x59;
constexpr std::uint8_t kSetDutyCycle = 0x5A;
constexpr std::uint8_t kReelSynchroniseEnable = 0x5B;
constexpr std::uint8_t kGetReelStatus = 0x5C;
constexpr std::uint8_t kConfigurePulsedInput = 0x6B;
constexpr std::uint8_t kPulsedInputCheck = 0x6C;
constexpr std::uint8_t kResetPulsedInputCounter = 0x6D;
constexpr std::uint8_t kDecrementPulsedInputCounter = 0x6E;
constexpr std::uint8_t kReadPulsedInputCounter = 0x6F;
constexpr std::uint8_t kReleaseParallelHopperCoins = 0x70;
constexpr std::uint8_t kGetParallelHopperStatus = 0x71;
constexpr std::uint8_t kInputMultiplexing = 0x72;
constexpr std::uint8_t kGetMultiplexedInputs = 0x73;

// Channels 3 and 4: serial ports A and B.
constexpr std::uint8_t kSerialSetConfig = 0x61;
constexpr std::uint8_t kSerialSend = 0x62;
constexpr std::uint8_t kSerialReceive = 0x63;
constexpr std::uint8_t kSerialParityErrors = 0x64;
constexpr std::uint8_t kSerialTimeoutMessage = 0x65;
constexpr std::uint8_t kSerialReceiveTimestamped = 0x66;
constexpr std::uint8_t kSerialConfigurePoll = 0x67;
constexpr std::uint8_t kSerialEmptyPolledBuffer = 0x68;
constexpr std::uint8_t kSerialReceivePolled = 0x69;
constexpr std::uint8_t kSerialDeletePolled = 0x6A;

// Channel 5: clock, security switches, random numbers.
constexpr std::uint8_t kSetClock = 0x14;
constexpr std::uint8_t kGetClock = 0x15;
constexpr std::uint8_t kStartSecuritySwitchRead = 0x28;
constexpr std::uint8_t kNextSecuritySwitchRead = 0x29;
constexpr std::uint8_t kClearSecuritySwitches = 0x2A;
constexpr std::uint8_t kReadAndResetSecurityFlags = 0x40;
constexpr std::uint8_t kCachedReadAndResetSecurityFlags = 0x43;
constexpr std::uint8_t kGetRandomNumber = 0x44;
constexpr std::uint8_t kEnableRandomNumbers = 0x45;
constexpr std::uint8_t kDisableRandomNumbers = 0x46;

// Channel 7: SPI.
constexpr std::uint8_t kEnableSpi = 0x5E;
constexpr std::uint8_t kDisableSpi = 0x5F;
constexpr std::uint8_t kSpiTransfer = 0x60;

}  // namespace vantrel::commands
