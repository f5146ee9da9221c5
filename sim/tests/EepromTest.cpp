#include <gtest/gtest.h>

#include <optional>

#include "SimTestSupport.h"

namespace vantrel::sim::test {
namespace {

constexpr std::uint8_t kConfigure = 0x03;
constexpr std::uint8_t kWrite = 0x04;
constexpr std::uint8_t kRead = 0x05;

// Configures the geometry that the host would send for `capacity`.
SimReply Configure(SimBoard& board, std::uint32_t capacity) {
  const bool oneByte = capacity <= 2048;
  const std::uint16_t last = static_cast<std::uint16_t>(capacity - 1);
  return Send(board, 2,
              {kConfigure, 16, static_cast<std::uint8_t>(oneByte ? 1 : 2),
               static_cast<std::uint8_t>(last >> 8), static_cast<std::uint8_t>(last),
               static_cast<std::uint8_t>(oneByte ? 0x50 : 0x51)});
}

std::optional<Bytes> ReadBytes(SimBoard& board, std::uint16_t address, std::size_t length) {
  Bytes out;
  while (out.size() < length) {
    const auto n = static_cast<std::uint8_t>(std::min<std::size_t>(62, length - out.size()));
    const SimReply reply =
        Send(board, 2, ReadRequest(kRead, n, static_cast<std::uint16_t>(address + out.size())));
    if (Status(reply) != kOk) return std::nullopt;
    const Bytes data = Data(reply);
    out.insert(out.end(), data.begin(), data.end());
  }
  return out;
}

// The host's size probe: wrap-around of the first 100 bytes.
std::optional<std::uint32_t> ProbeCapacity(SimBoard& board) {
  Configure(board, 32768);
  std::optional<Bytes> reference = ReadBytes(board, 0, 100);
  std::uint32_t probe = 4096;
  std::uint32_t limit = 32768;
  if (!reference) {
    Configure(board, 2048);
    reference = ReadBytes(board, 0, 100);
    if (!reference) return std::nullopt;
    probe = 128;
    limit = 1024;
  }
  for (;; probe *= 2) {
    const std::optional<Bytes> data = ReadBytes(board, static_cast<std::uint16_t>(probe), 100);
    if (!data) return std::nullopt;
    if (*data == *reference) return probe;
    if (probe >= limit) return 2 * limit;
  }
}

TEST(SimEeprom, ProbeFindsTheTrueCapacityOfEveryPart) {
  for (std::uint32_t capacity = 128; capacity <= 65536; capacity *= 2) {
    for (std::uint32_t seed : {0u, 1u, 0x4B32u, 0xFFFFFFFFu}) {
      SimBoard board({.eepromBytes = capacity, .eepromSeed = seed});
      EXPECT_EQ(ProbeCapacity(board), capacity) << "capacity " << capacity << " seed " << seed;
    }
  }
}

TEST(SimEeprom, InvalidCapacitiesAreMadeValid) {
  const std::pair<std::uint32_t, std::uint32_t> cases[] = {
      {0, 128},       {1, 128},       {128, 128},     {129, 256},         {3000, 4096},
      {65535, 65536}, {65536, 65536}, {65537, 65536}, {0xFFFFFFFF, 65536}};
  for (const auto& [requested, expected] : cases) {
    SimBoard board({.eepromBytes = requested});
    EXPECT_EQ(board.EepromBytes(), expected) << requested;
    EXPECT_EQ(board.Eeprom().size(), expected) << requested;
  }
}

TEST(SimEeprom, SeedChangesTheContent) {
  SimBoard a({.eepromBytes = 1024, .eepromSeed = 1});
  SimBoard b({.eepromBytes = 1024, .eepromSeed = 2});
  SimBoard c({.eepromBytes = 1024, .eepromSeed = 1});
  EXPECT_NE(a.Eeprom(), b.Eeprom());
  EXPECT_EQ(a.Eeprom(), c.Eeprom());
}

TEST(SimEeprom, PartAnswersOnlyToItsOwnFamilyGeometry) {
  SimBoard small({.eepromBytes = 2048});
  SimBoard large({.eepromBytes = 4096});
  for (SimBoard* board : {&small, &large}) {
    // Nothing configured yet.
    EXPECT_EQ(Status(Send(*board, 2, ReadRequest(kRead, 1, 0))), kI2cNack);
    EXPECT_EQ(Status(Send(*board, 2, WriteRequest(kWrite, 0, {1}))), kI2cNack);
  }
  Configure(small, 32768);
  Configure(large, 2048);
  EXPECT_EQ(Status(Send(small, 2, ReadRequest(kRead, 1, 0))), kI2cNack);
  EXPECT_EQ(Status(Send(large, 2, ReadRequest(kRead, 1, 0))), kI2cNack);
  // Right address width, wrong bus address.
  EXPECT_EQ(Status(Send(large, 2, {kConfigure, 32, 2, 0x0F, 0xFF, 0x50})), kOk);
  EXPECT_EQ(Status(Send(large, 2, WriteRequest(kWrite, 0, {1}))), kI2cNack);
  EXPECT_EQ(large.Eeprom(), SimBoard({.eepromBytes = 4096}).Eeprom());

  Configure(small, 2048);
  Configure(large, 4096);
  EXPECT_EQ(Status(Send(small, 2, ReadRequest(kRead, 1, 0))), kOk);
  EXPECT_EQ(Status(Send(large, 2, ReadRequest(kRead, 1, 0))), kOk);
}

TEST(SimEeprom, ReadAndWriteWrapAtTheEndOfThePart) {
  SimBoard board({.eepromBytes = 128});
  Configure(board, 128);
  const Bytes content = board.Eeprom();

  EXPECT_EQ(Data(Send(board, 2, ReadRequest(kRead, 4, 128))),
            Bytes(content.begin(), content.begin() + 4));
  EXPECT_EQ(Data(Send(board, 2, ReadRequest(kRead, 4, 0xFFFE))),
            (Bytes{content[126], content[127], content[0], content[1]}));

  ASSERT_EQ(Status(Send(board, 2, WriteRequest(kWrite, 126, {0xA1, 0xA2, 0xA3}))), kOk);
  const Bytes after = board.Eeprom();
  EXPECT_EQ(after[126], 0xA1);
  EXPECT_EQ(after[127], 0xA2);
  EXPECT_EQ(after[0], 0xA3);
  EXPECT_EQ(after[1], content[1]);

  board.SetEeprom(127, Bytes{0x11, 0x22});
  EXPECT_EQ(Data(Send(board, 2, ReadRequest(kRead, 2, 127))), (Bytes{0x11, 0x22}));
}

TEST(SimEeprom, WriteStoresAWholeChunkAcrossPageBoundaries) {
  SimBoard board;
  Configure(board, 32768);
  Bytes data(60);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i + 1);
  ASSERT_EQ(Status(Send(board, 2, WriteRequest(kWrite, 40, data))), kOk);
  EXPECT_EQ(Data(Send(board, 2, ReadRequest(kRead, 60, 40))), data);
}

TEST(SimEeprom, MalformedRequestsAnswerLengthError) {
  SimBoard board;
  Configure(board, 32768);
  const Bytes before = board.Eeprom();
  const Bytes bad[] = {
      {kConfigure, 64, 2, 0x7F, 0xFF},           // configuration one byte short
      {kConfigure, 64, 2, 0x7F, 0xFF, 0x51, 0},  // and one too long
      ReadRequest(kRead, 0, 0),
      ReadRequest(kRead, 63, 0),
      {kRead, 1, 0},                             // address high byte missing
      {kWrite, 1, 0},                            // header cut short
      WriteRequest(kWrite, 0, {}),               // nothing to write
      {kWrite, 2, 0, 0, 0xAA},                   // fewer data bytes than announced
      {kWrite, 1, 0, 0, 0xAA, 0xBB},             // more data bytes than announced
      WriteRequest(kWrite, 0, Bytes(61, 0xAA)),  // chunk above 60 bytes
      {0x06, 0},                                 // version takes no payload
  };
  for (const Bytes& request : bad) {
    const SimReply reply = Send(board, 2, request);
    EXPECT_EQ(reply.bytes, (Bytes{request[0], kLengthError}));
  }
  EXPECT_EQ(board.Eeprom(), before);
  EXPECT_EQ(Data(Send(board, 2, ReadRequest(kRead, 62, 0))).size(), 62u);
}

TEST(SimEeprom, VersionTextFitsTheCallersTwelveByteBuffer) {
  SimBoard board;
  const Bytes data = Data(Send(board, 2, {0x06}));
  ASSERT_LE(data.size(), 12u);
  ASSERT_FALSE(data.empty());
  EXPECT_EQ(data.back(), 0);
  EXPECT_EQ(std::string(data.begin(), data.end() - 1), "V2.04");
}

}  // namespace
}  // namespace vantrel::sim::test
