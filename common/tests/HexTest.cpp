#include "k27/common/Hex.h"

#include <gtest/gtest.h>

#include <array>

namespace vantrel::common {
namespace {

TEST(Hex, FormatsEveryByteAsTwoDigitsInTheAskedCase) {
  const std::array<std::uint8_t, 5> bytes = {0x00, 0x0A, 0x7F, 0xA5, 0xFF};
  EXPECT_EQ(ToHex(bytes), "000A7FA5FF");
  EXPECT_EQ(ToHex(bytes, HexCase::kLower), "000a7fa5ff");
  EXPECT_EQ(ToHex({}), "");

  std::string text = "out=";
  AppendHex(text, std::span(bytes).first(2), HexCase::kLower, " ");
  EXPECT_EQ(text, "out=00 0a ");
}

TEST(Hex, ParsesDigitPairsOfEitherCaseAndRefusesAnythingElse) {
  EXPECT_EQ(ParseHex("00aAfF19"), (std::vector<std::uint8_t>{0x00, 0xAA, 0xFF, 0x19}));
  EXPECT_EQ(ParseHex(""), std::vector<std::uint8_t>{});
  EXPECT_FALSE(ParseHex("ABC"));   // odd count
  EXPECT_FALSE(ParseHex("0G"));    // not a digit
  EXPECT_FALSE(ParseHex("0 A1"));  // nothing between pairs
  EXPECT_FALSE(ParseHex("0x1F"));
  EXPECT_FALSE(ParseHex(std::string_view("0\0", 2)));
}

// Every parser of the project reads its digits here: the neighbours of each
// digit range in ASCII, characters that convert to a digit's code when cut to
// eight bits, and a negative char must all be refused.
TEST(Hex, ReadsOneDigitOfEitherCaseAndNothingElse) {
  struct Case {
    char32_t c;
    int value;  // -1: not a digit
  };
  const Case cases[] = {
      {U'0', 0},           {U'9', 9},   {U'a', 10},      {U'f', 15},      {U'A', 10},
      {U'F', 15},          {U'c', 12},  {U'C', 12},      {U'/', -1},      {U':', -1},
      {U'@', -1},          {U'G', -1},  {U'`', -1},      {U'g', -1},      {U'x', -1},
      {U' ', -1},          {U'\0', -1}, {U'\u0130', -1}, {U'\uFF10', -1}, {U'\u0161', -1},
      {U'\U00010041', -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "U+" << std::hex << std::uint32_t(c.c));
    const auto value = HexDigitValue(c.c);
    EXPECT_EQ(value ? int(*value) : -1, c.value);
    EXPECT_EQ(IsHexDigit(c.c), c.value >= 0);
  }
  // A char of a Latin-1 text above 0x7F is negative where char is signed.
  EXPECT_FALSE(HexDigitValue(static_cast<char>(0xC1)));
  EXPECT_EQ(HexDigitValue(char16_t(u'b')), 11);
}

TEST(Hex, ParsesTheRunAfterAPrefixAsRecordReadersCutIt) {
  // An Intel HEX line: ':' then digit pairs of mixed case.
  const std::string_view line = ":0300300002337a1E";
  EXPECT_EQ(ParseHex(line.substr(1)),
            (std::vector<std::uint8_t>{0x03, 0x00, 0x30, 0x00, 0x02, 0x33, 0x7A, 0x1E}));
  EXPECT_FALSE(ParseHex(line.substr(2)));      // odd count
  EXPECT_FALSE(ParseHex(line.substr(0, 16)));  // the ':' is no digit
  EXPECT_EQ(ParseHex(line.substr(line.size())), std::vector<std::uint8_t>{});
  EXPECT_FALSE(ParseHex(std::string_view(":0G").substr(1)));
  EXPECT_FALSE(ParseHex("ff\xC1\xC1"));  // bytes above 0x7F are no digits
}

TEST(Hex, RoundTripsEveryByteValue) {
  std::vector<std::uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[std::size_t(i)] = std::uint8_t(i);
  EXPECT_EQ(ParseHex(ToHex(all)), all);
  EXPECT_EQ(ParseHex(ToHex(all, HexCase::kLower)), all);
}

}  // namespace
}  // namespace vantrel::common
