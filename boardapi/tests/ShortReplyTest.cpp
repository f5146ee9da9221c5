// Readers whose reply fills a record of fixed size: a reply that brings fewer
// bytes than the record holds is a byte-count error, and the caller's record
// keeps what it held.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <vantrel/testsupport/ScriptedBoard.h>

namespace vantrel::testing {
namespace {

constexpr unsigned char kMark = 0x5A;

// One reader: where its command goes, how many data bytes it needs, and the
// call, which reads into records that start filled with kMark.
struct Reader {
  std::string name;
  int channel;
  std::uint8_t command;
  std::size_t needed;
  std::function<int(VantrelUSB&)> call;
};

// Every out-parameter of every reader, filled with kMark before each call.
struct Records {
  unsigned char bytes[64];
  usbInput inputs;
  usbMultiplexedInput multiplexed;
  ReelStatusEx reelsEx;
  usbReelStatus reels;
  unsigned char first, second;
  int secondInt, thirdInt, bit;
  ReleaseHopperCoinsStatus hopper;
  unsigned long clock;
  unsigned short word;

  void Fill() { std::memset(static_cast<void*>(this), kMark, sizeof *this); }
  bool Untouched() const {
    const auto* p = reinterpret_cast<const unsigned char*>(this);
    for (std::size_t i = 0; i < sizeof *this; ++i)
      if (p[i] != kMark) return false;
    return true;
  }
};

std::vector<Reader> Readers(Records& r) {
  const auto in = static_cast<_usbInputBitId>(3);
  return {
      {"GetInputs bytes", 1, 0x4B, 5, [&](VantrelUSB& b) { return b.GetInputs(r.bytes); }},
      {"GetInputs", 1, 0x4B, 5, [&](VantrelUSB& b) { return b.GetInputs(&r.inputs); }},
      {"GetInputBit", 1, 0x4B, 5,
       [&](VantrelUSB& b) { return b.GetInputBit(static_cast<_usbInputBitId>(0), &r.bit); }},
      {"GetChangedInputs", 1, 0x51, 5,
       [&](VantrelUSB& b) { return b.GetChangedInputs(&r.inputs); }},
      {"GetRawInputs", 1, 0x52, 5, [&](VantrelUSB& b) { return b.GetRawInputs(&r.inputs); }},
      {"GetMultiplexedInputs", 1, 0x73, 13,
       [&](VantrelUSB& b) { return b.GetMultiplexedInputs(&r.multiplexed); }},
      {"ReadPulsedInputCounter", 1, 0x6F, 1,
       [&](VantrelUSB& b) { return b.ReadPulsedInputCounter(in, &r.first); }},
      {"GetParallelHopperStatus", 1, 0x71, 2,
       [&](VantrelUSB& b) { return b.GetParallelHopperStatus(in, &r.hopper, &r.second); }},
      {"PulseOutputResult", 1, 0x50, 3,
       [&](VantrelUSB& b) { return b.PulseOutputResult(&r.first, &r.secondInt, &r.thirdInt); }},
      {"GetReelStatusEx", 1, 0x5C, 18,
       [&](VantrelUSB& b) { return b.GetReelStatusEx(&r.reelsEx); }},
      {"GetReelStatus", 1, 0x5C, 18, [&](VantrelUSB& b) { return b.GetReelStatus(&r.reels); }},
      {"GetClock", 5, 0x15, 4, [&](VantrelUSB& b) { return b.GetClock(&r.clock); }},
      {"NextSecuritySwitchRead", 5, 0x29, 5,
       [&](VantrelUSB& b) { return b.NextSecuritySwitchRead(&r.clock, &r.first); }},
      {"ReadAndResetSecuritySwitchFlags", 5, 0x40, 2,
       [&](VantrelUSB& b) { return b.ReadAndResetSecuritySwitchFlags(&r.first, &r.second); }},
      {"CachedReadAndResetSecuritySwitchFlags", 5, 0x43, 2,
       [&](VantrelUSB& b) { return b.CachedReadAndResetSecuritySwitchFlags(&r.first, &r.second); }},
      {"GetRandomNumber", 5, 0x44, 2, [&](VantrelUSB& b) { return b.GetRandomNumber(&r.word); }},
      {"GetParityErrors", 4, 0x64, 2,
       [&](VantrelUSB& b) { return b.GetParityErrors(USB_SERIAL_PORT_B, &r.word); }},
  };
}

class ShortReplyTest : public ScriptedBoardTest {};

TEST_F(ShortReplyTest, ReplyShorterThanTheRecordFailsAndLeavesItAlone) {
  Records records;
  for (const Reader& reader : Readers(records)) {
    // Echo and status alone, and one byte short of the record.
    for (std::size_t data : {std::size_t{0}, reader.needed - 1}) {
      Bytes reply = {reader.command, 0};
      reply.resize(2 + data, 0x00);
      script_->Reply(reader.channel, reader.command, reply);
      records.Fill();
      board_.ClearErrors();
      EXPECT_EQ(reader.call(board_), 0) << reader.name << " with " << data << " bytes";
      EXPECT_EQ(board_.GetLastError(), USB_DEVICE_BYTE_COUNT_ERROR) << reader.name;
      EXPECT_TRUE(records.Untouched()) << reader.name << " with " << data << " bytes";
    }
  }
}

TEST_F(ShortReplyTest, ReplyThatFillsTheRecordSucceeds) {
  Records records;
  for (const Reader& reader : Readers(records)) {
    Bytes reply = {reader.command, 0};
    reply.resize(2 + reader.needed, 0x01);
    script_->Reply(reader.channel, reader.command, reply);
    records.Fill();
    EXPECT_NE(reader.call(board_), 0) << reader.name;
    EXPECT_FALSE(records.Untouched()) << reader.name;
  }
}

}  // namespace
}  // namespace vantrel::testing
