// One download record of the loader's 8051 images: what one firmware-load
// request writes. The fields are those of an Intel HEX record, held as fixed
// fields; the layout is the stored one (22 bytes, little-endian).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

struct FirmwareRecord {
  std::uint8_t length;     // data bytes: 1 to 16 in a data record, 0 in the end record
  std::uint8_t reserved0;  // 0
  std::uint16_t address;   // 8051 address of the first data byte
  std::uint8_t type;       // 0 data; any other value ends the image (the end record has 1)
  std::uint8_t data[16];   // bytes beyond `length` are 0
  std::uint8_t reserved1;  // 0
};

inline constexpr std::size_t kFirmwareRecordMaxData = 16;
inline constexpr std::uint8_t kFirmwareRecordData = 0;
inline constexpr std::uint8_t kFirmwareRecordEnd = 1;

static_assert(sizeof(FirmwareRecord) == 22);
static_assert(offsetof(FirmwareRecord, address) == 2);
static_assert(offsetof(FirmwareRecord, type) == 4);
static_assert(offsetof(FirmwareRecord, data) == 5);
static_assert(offsetof(FirmwareRecord, reserved1) == 21);
// The address field is stored in host order; the stored layout is little-endian.
static_assert(std::endian::native == std::endian::little);
