// One line of the serial port page's transaction list: a running offset and
// up to 16 bytes, as upper-case hex and as characters.
#pragma once

#include <QString>

#include <cstdint>
#include <span>

inline constexpr int kSerialDumpBytesPerLine = 16;

// "%04X " offset, "%02X " per byte and three blanks per missing byte, then
// each byte as a character (below 0x20 as '.', others as their Latin-1
// character) and a blank per missing byte. Bytes beyond 16 are left out.
QString SerialDumpLine(std::uint32_t offset, std::span<const std::uint8_t> bytes);
