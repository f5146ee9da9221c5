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
