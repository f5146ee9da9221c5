#include "k27/common/Hex.h"

#include <gtest/gtest.h>

#include <array>

namespace k27::common {
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

TEST(Hex, RoundTripsEveryByteValue) {
  std::vector<std::uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[std::size_t(i)] = std::uint8_t(i);
  EXPECT_EQ(ParseHex(ToHex(all)), all);
  EXPECT_EQ(ParseHex(ToHex(all, HexCase::kLower)), all);
}

}  // namespace
}  // namespace k27::common
