// The reader of the maker's Intel HEX images: what it accepts and how it
// cuts records, and the faults it refuses with the file and line.
#include "IntelHex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

using vantrel::fw::ImageError;
using vantrel::fw::ReadIntelHex;

// One record as text, with its checksum.
std::string Line(unsigned type, unsigned address, const std::vector<std::uint8_t>& data) {
  std::vector<unsigned> bytes{static_cast<unsigned>(data.size()), address >> 8, address & 0xFF,
                              type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  unsigned sum = 0;
  std::string text = ":";
  char hex[4];
  for (unsigned byte : bytes) {
    sum += byte;
    std::snprintf(hex, sizeof hex, "%02X", byte & 0xFF);
    text += hex;
  }
  std::snprintf(hex, sizeof hex, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
  return text + hex + "\n";
}

const std::string kEnd = ":00000001FF\n";

std::vector<std::uint8_t> Counting(std::size_t count, std::uint8_t from = 0) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(from + i);
  return bytes;
}

std::vector<FirmwareRecord> Read(const std::string& text) {
  std::istringstream in(text);
  return ReadIntelHex(in, "image.hex");
}

std::string ErrorOf(const std::string& text) {
  try {
    Read(text);
  } catch (const ImageError& error) {
    return error.what();
  }
  return "(accepted)";
}

TEST(IntelHex, ReadsDataRecordsInFileOrder) {
  const auto records = Read(Line(0, 0x1100, {0x80, 0xFE}) + "\r\n" +  // blank line, DOS line ends
                            Line(4, 0, {0, 0}) + Line(0, 0x0000, {0x02, 0x11, 0x00}) +
                            Line(2, 0, {0x01, 0x00}) +  // segment 0x0100: base 0x1000
                            Line(0, 0x0200, {0x32}) + kEnd);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].address, 0x1100);
  EXPECT_EQ(records[0].length, 2);
  EXPECT_EQ(records[0].data[1], 0xFE);
  EXPECT_EQ(records[0].data[2], 0);
  EXPECT_EQ(records[0].type, kFirmwareRecordData);
  EXPECT_EQ(records[1].address, 0x0000);
  EXPECT_EQ(records[1].length, 3);
  EXPECT_EQ(records[2].address, 0x1200);
  EXPECT_EQ(records[2].data[0], 0x32);
  EXPECT_TRUE(Read(kEnd).empty());
}

TEST(IntelHex, CutsLongRecordsAndRecordsThatLeaveInternalMemory) {
  const auto data = Counting(40);
  auto records = Read(Line(0, 0x0100, data) + kEnd);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].address, 0x0100);
  EXPECT_EQ(records[0].length, 16);
  EXPECT_EQ(records[1].address, 0x0110);
  EXPECT_EQ(records[1].length, 16);
  EXPECT_EQ(records[1].data[0], 16);
  EXPECT_EQ(records[2].address, 0x0120);
  EXPECT_EQ(records[2].length, 8);
  EXPECT_EQ(records[2].data[7], 39);
  EXPECT_EQ(records[2].data[8], 0);

  // 0x1B38 to 0x1B47: internal up to 0x1B3F, external from 0x1B40.
  records = Read(Line(0, 0x1B38, Counting(16)) + kEnd);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].address, 0x1B38);
  EXPECT_EQ(records[0].length, 8);
  EXPECT_EQ(records[1].address, 0x1B40);
  EXPECT_EQ(records[1].length, 8);
  EXPECT_EQ(records[1].data[0], 8);
}

TEST(IntelHex, RefusesFaultsNamingFileAndLine) {
  std::string badChecksum = Line(0, 0x0000, {1, 2, 3});
  badChecksum[badChecksum.size() - 2] ^= 1;
  struct Case {
    const char* what;
    std::string text;
    std::string message;
  } cases[] = {
      {"bad checksum", Line(0, 0, {1}) + badChecksum + kEnd, "image.hex:2: checksum"},
      {"start address record", Line(3, 0, {0, 0, 0, 0}) + kEnd, "image.hex:1: record type 03"},
      {"unknown type", Line(0, 0, {1}) + Line(7, 0, {}) + kEnd, "image.hex:2: record type 07"},
      {"no end record", Line(0, 0, {1}), "image.hex: no end record"},
      {"empty file", "", "image.hex: no end record"},
      {"text after the end", kEnd + Line(0, 0, {1}), "image.hex:2: text after the end record"},
      {"end record with data", Line(1, 0, {1}), "image.hex:1: end record with data"},
      {"no colon", "00000001FF\n", "image.hex:1: a record starts with ':'"},
      {"not hex", ":0000000G01\n", "image.hex:1: not a hex digit"},
      {"odd digits", ":00000001F\n", "image.hex:1: odd number"},
      {"length field", ":0200000001FD\n", "image.hex:1: length field says 2"},
      {"too short", ":0000\n", "image.hex:1: record too short"},
      {"past 0xFFFF", Line(0, 0xFFF8, Counting(16)) + kEnd,
       "image.hex:1: data runs to address 0x10007"},
      {"linear address", Line(4, 0, {0, 1}) + kEnd, "image.hex:1: extended linear address 0x0001"},
      {"segment past 0xFFFF", Line(2, 0, {0x10, 0}) + Line(0, 0, {1}) + kEnd,
       "image.hex:2: data runs to address 0x10000"},
      {"address written twice", Line(0, 0x10, Counting(4)) + Line(0, 0x13, {9}) + kEnd,
       "image.hex:2: address 0x0013 was already written by line 1"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ErrorOf(c.text).rfind(c.message, 0), 0u) << c.what << ": " << ErrorOf(c.text);
}

}  // namespace
