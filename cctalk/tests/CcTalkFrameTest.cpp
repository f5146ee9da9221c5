// ccTalk frames without a board: building, the field readers, equality,
// validation and the hex dump.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "CcctalkMessage.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Of(const CcctalkMessage& m) { return Bytes(m.bytes().begin(), m.bytes().end()); }

CcctalkMessage Raw(const Bytes& raw) {
  CcctalkMessage m;
  EXPECT_EQ(m.assign(raw), CcctalkMessage::kOk);
  return m;
}

constexpr const char* kIncomplete = "CcctalkMessage::validate () { incomplete message }";
constexpr const char* kChecksum = "CcctalkMessage::validate () { checksum error }";

TEST(CcTalkFrame, BuildFillsHeaderDataAndChecksum) {
  CcctalkMessage poll;
  EXPECT_EQ(poll.build(2, 0, 1, 254), CcctalkMessage::kOk);
  EXPECT_EQ(Of(poll), (Bytes{0x02, 0x00, 0x01, 0xFE, 0xFF}));
  EXPECT_EQ(poll.length(), 5u);
  EXPECT_EQ(poll.validate(), CcctalkMessage::kOk);
  EXPECT_EQ(poll.errorText(), "none");

  const std::array<std::uint8_t, 2> inhibit{0xFF, 0x7F};
  CcctalkMessage modify;
  modify.build(2, 2, 1, 231, inhibit);
  EXPECT_EQ(Of(modify), (Bytes{2, 2, 1, 231, 0xFF, 0x7F,
                               static_cast<std::uint8_t>(-(2 + 2 + 1 + 231 + 0xFF + 0x7F))}));
  EXPECT_EQ(modify.validate(), CcctalkMessage::kOk);

  // Fewer data bytes than the count: the rest are zeros, nothing is read
  // beyond what was given.
  CcctalkMessage shortData;
  shortData.build(3, 4, 1, 10, std::span<const std::uint8_t>(inhibit).first(1));
  EXPECT_EQ(Of(shortData), (Bytes{3, 4, 1, 10, 0xFF, 0, 0, 0,
                                  static_cast<std::uint8_t>(-(3 + 4 + 1 + 10 + 0xFF))}));
}

TEST(CcTalkFrame, SetDataKeepsAddressesAndHeader) {
  CcctalkMessage m;
  m.build(40, 0, 1, 245);
  const Bytes data{1, 2, 3};
  EXPECT_EQ(m.setData(data), CcctalkMessage::kOk);
  EXPECT_EQ(Of(m),
            (Bytes{40, 3, 1, 245, 1, 2, 3, static_cast<std::uint8_t>(-(40 + 3 + 1 + 245 + 6))}));
  EXPECT_EQ(m.validate(), CcctalkMessage::kOk);
  EXPECT_EQ(m.setData({}), CcctalkMessage::kOk);
  EXPECT_EQ(Of(m), (Bytes{40, 0, 1, 245, static_cast<std::uint8_t>(-(40 + 1 + 245))}));

  // The largest frame, and one byte too many, which leaves it alone.
  const Bytes full(255, 0xAA);
  EXPECT_EQ(m.setData(full), CcctalkMessage::kOk);
  EXPECT_EQ(m.length(), 260u);
  EXPECT_EQ(m.validate(), CcctalkMessage::kOk);
  const Bytes tooMany(256, 0x55);
  EXPECT_EQ(m.setData(tooMany), CcctalkMessage::kFail);
  EXPECT_EQ(m.length(), 260u);
  EXPECT_EQ(m.bytes()[4], 0xAA);
}

TEST(CcTalkFrame, NewMessageIsEmpty) {
  CcctalkMessage empty;
  EXPECT_EQ(empty.length(), 0u);
  EXPECT_EQ(empty.destination(), 255);
  EXPECT_EQ(empty.dataCount(), 0);
  EXPECT_EQ(empty.source(), 255);
  EXPECT_EQ(empty.header(), 255);
  EXPECT_EQ(empty.errorText(), "none");
}

TEST(CcTalkFrame, EqualityComparesLengthAndValidBytes) {
  CcctalkMessage a;
  CcctalkMessage b;
  EXPECT_TRUE(a == b);
  a.build(2, 0, 1, 254);
  b.build(2, 0, 1, 254);
  EXPECT_TRUE(a == b);
  b.build(2, 0, 1, 253);
  EXPECT_FALSE(a == b);
  // Same leading bytes, different lengths.
  const Bytes one{7};
  b.build(2, 0, 1, 254);
  b.setData(one);
  EXPECT_FALSE(a == b);
  // Bytes beyond the length do not count.
  b.setData({});
  EXPECT_TRUE(a == b);
  EXPECT_TRUE(a.echo() == CcctalkMessage{});
}

TEST(CcTalkFrame, ValidateReportsLengthThenChecksum) {
  EXPECT_EQ(Raw({2, 0, 1, 254, 0xFF}).validate(), CcctalkMessage::kOk);

  // Byte 1 says 3 data bytes but the frame has 6 bytes.
  CcctalkMessage wrongCount = Raw({2, 3, 1, 10, 0, 0});
  EXPECT_EQ(wrongCount.validate(), CcctalkMessage::kFail);
  EXPECT_EQ(wrongCount.errorText(), kIncomplete);

  // A 5-byte frame with a wrong last byte.
  CcctalkMessage badSum = Raw({2, 0, 1, 254, 0xFE});
  EXPECT_EQ(badSum.validate(), CcctalkMessage::kFail);
  EXPECT_EQ(badSum.errorText(), kChecksum);
  // A length error is reported before a checksum error.
  CcctalkMessage both = Raw({2, 9, 1, 254, 0x00});
  EXPECT_EQ(both.validate(), CcctalkMessage::kFail);
  EXPECT_EQ(both.errorText(), kIncomplete);

  // Too short, and every further error is appended.
  CcctalkMessage tooShort = Raw({2, 0, 1, 0xFD});
  EXPECT_EQ(tooShort.validate(), CcctalkMessage::kFail);
  EXPECT_EQ(tooShort.errorText(), kIncomplete);
  EXPECT_EQ(tooShort.validate(), CcctalkMessage::kFail);
  EXPECT_EQ(tooShort.errorText(), std::string(kIncomplete) + kIncomplete);
  EXPECT_EQ(CcctalkMessage{}.validate(), CcctalkMessage::kFail);

  // The field readers follow the raw length.
  EXPECT_EQ(tooShort.header(), 0xFD);
  EXPECT_EQ(Raw({9, 4}).source(), 255);
  EXPECT_EQ(Raw({9, 4}).dataCount(), 4);
  EXPECT_EQ(Raw({9}).dataCount(), 0);

  // A frame longer than the largest is refused and changes nothing.
  CcctalkMessage kept = Raw({2, 0, 1, 254, 0xFF});
  EXPECT_EQ(kept.assign(Bytes(261, 0)), CcctalkMessage::kFail);
  EXPECT_EQ(Of(kept), (Bytes{2, 0, 1, 254, 0xFF}));
}

TEST(CcTalkFrame, DumpOfShortFrameHasNoPadding) {
  CcctalkMessage poll;
  poll.build(2, 0, 1, 254);
  EXPECT_EQ(poll.dump(), std::string("02 00 01 fe ff - ...\xfe\xff\n"));
  EXPECT_EQ(CcctalkMessage{}.dump(), "");
}

TEST(CcTalkFrame, DumpOfLongFramePadsTheLastRun) {
  CcctalkMessage m;
  Bytes data;
  for (std::uint8_t i = 0; i < 15; ++i) data.push_back(static_cast<std::uint8_t>('A' + i));
  m.build(0x10, 0, 0x1F, 0x20);
  m.setData(data);  // 20 bytes
  ASSERT_EQ(m.length(), 20u);
  const std::string dump = m.dump();
  const auto split = dump.find('\n');
  ASSERT_NE(split, std::string::npos);
  const std::string first = dump.substr(0, split);
  const std::string second = dump.substr(split + 1);
  EXPECT_EQ(first, "10 0f 1f 20 41 42 43 44 45 46 47 48 49 4a 4b 4c - ... ABCDEFGHIJKL");
  const std::uint8_t checksum = m.bytes()[19];
  char hex[4];
  std::snprintf(hex, sizeof hex, "%02x ", checksum);
  std::string expected = std::string("4d 4e 4f ") + hex + std::string(36, ' ') + "- MNO";
  expected.push_back(checksum < 0x20 ? '.' : static_cast<char>(checksum));
  expected += "\n";
  EXPECT_EQ(second, expected);

  // Exactly 16 bytes: one line, and no padding is needed.
  m.setData(std::span<const std::uint8_t>(data).first(11));
  EXPECT_EQ(m.dump().size(), 16u * 3 + 2 + 16 + 1);
}

}  // namespace
