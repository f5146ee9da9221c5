// EEPROM and SRAM: the capacity probe, range checks and chunking.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <utility>
#include <numeric>
#include <vector>

#include "shared/SharedState.h"
#include <vantrel/testsupport/ScriptedBoard.h>
#include <vantrel/testsupport/SimBoardFixture.h>

namespace vantrel::testing {
namespace {

std::vector<std::uint8_t> Configured(SimBus& bus) {
  auto configures = bus.Commands(2, 0x03);
  return configures.empty() ? std::vector<std::uint8_t>{} : configures.back().out;
}

class ProbeTest : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(ProbeTest, FindsTheCapacityAndConfiguresIt) {
  const std::uint32_t capacity = GetParam();
  SimBus bus({WithEeprom(capacity)});
  VantrelUSB board;
  ASSERT_NE(board.init(0), 0);
  EXPECT_EQ(board.GetLastError(), USB_MESSAGE_EXECUTION_SUCCESS);

  K27EEPROM found{};
  ASSERT_NE(board.CheckEEPROM(&found), 0);
  EXPECT_EQ(found.lastAddress + 1u, capacity);
  EXPECT_EQ(found.addressBytes, capacity <= 2048 ? 1 : 2);
  EXPECT_EQ(found.deviceAddress, capacity <= 2048 ? 0x50 : 0x51);
  ASSERT_NE(board.ConfigureEEPROM(&found), 0);
  const auto last = Configured(bus);
  ASSERT_EQ(last.size(), 6u);
  EXPECT_EQ(last[3], (capacity - 1) >> 8);  // high byte first on the wire
  EXPECT_EQ(last[4], (capacity - 1) & 0xFF);

  // The device's last byte lies beyond the public transfers.
  std::vector<unsigned char> bytes(capacity - 8);
  EXPECT_NE(board.ReadEEPROM(8, bytes.data(), capacity - 9), 0);
  EXPECT_EQ(board.ReadEEPROM(8, bytes.data(), capacity - 8), 0);
  EXPECT_EQ(board.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
}

INSTANTIATE_TEST_SUITE_P(EveryCapacity, ProbeTest,
                         ::testing::Values(128u, 256u, 512u, 1024u, 2048u, 4096u, 8192u, 16384u,
                                           32768u, 65536u));

TEST(ProbeTest, FourKilobytePartIsTakenFromItsFirstWrap) {
  SimBus bus({WithEeprom(4096)});
  VantrelUSB board;
  ASSERT_NE(board.init(0), 0);
  bus.ClearLog();
  K27EEPROM found{};
  ASSERT_NE(board.CheckEEPROM(&found), 0);
  EXPECT_EQ(found.lastAddress, 0x0FFF);
  EXPECT_EQ(found.pageSize, 32);
  // Reference at 0 and the first probe at 4096, two chunks each.
  const auto reads = bus.Commands(2, 0x05);
  ASSERT_EQ(reads.size(), 4u);
  EXPECT_EQ(reads[0].out, (std::vector<std::uint8_t>{0x05, 62, 0x00, 0x00}));
  EXPECT_EQ(reads[1].out, (std::vector<std::uint8_t>{0x05, 38, 62, 0x00}));
  EXPECT_EQ(reads[2].out, (std::vector<std::uint8_t>{0x05, 62, 0x00, 0x10}));
}

class EepromTest : public ::testing::Test {
 protected:
  EepromTest() : bus_({WithEeprom(32768)}) {}
  void SetUp() override {
    ASSERT_NE(board_.init(0), 0);
    bus_.ClearLog();
  }
  SimBus bus_;
  VantrelUSB board_;
};

TEST_F(EepromTest, RangeChecksComeBeforeAnyExchange) {
  unsigned char bytes[200] = {};
  EXPECT_EQ(board_.ReadEEPROM(7, bytes, 1), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
  board_.ClearErrors();
  EXPECT_NE(board_.ReadEEPROM(8, bytes, 0), 0);
  EXPECT_NE(board_.WriteEEPROM(32667, bytes, 100), 0);
  const auto afterWrite = bus_.Log().size();
  EXPECT_EQ(board_.WriteEEPROM(32668, bytes, 100), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
  EXPECT_EQ(board_.WriteEEPROM(8, bytes, 0xFFFFFFFFu), 0);  // no overflow of the bound
  EXPECT_EQ(bus_.Log().size(), afterWrite);
  EXPECT_EQ(bus_.Commands(2, 0x05).size(), 0u);
}

TEST_F(EepromTest, WrittenBytesReadBackAcrossChunks) {
  std::vector<unsigned char> data(150);
  std::iota(data.begin(), data.end(), 1);
  ASSERT_NE(board_.WriteEEPROM(1000, data.data(), 150), 0);
  const auto writes = bus_.Commands(2, 0x04);
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0].out[1], 60);
  EXPECT_EQ(writes[2].out[1], 30);
  EXPECT_EQ(writes[1].out[2], (1060 & 0xFF));
  EXPECT_EQ(writes[1].out[3], (1060 >> 8));

  std::vector<unsigned char> back(150);
  ASSERT_NE(board_.ReadEEPROM(1000, back.data(), 150), 0);
  EXPECT_EQ(back, data);
  const auto eeprom = bus_.Board().Eeprom();
  EXPECT_TRUE(std::equal(data.begin(), data.end(), eeprom.begin() + 1000));
}

TEST_F(EepromTest, FailedChunkStopsTheTransfer) {
  bus_.Board().InjectFault(2, 0x04, {vantrel::sim::FaultKind::Status, 12, 1});
  unsigned char data[130] = {};
  EXPECT_EQ(board_.WriteEEPROM(100, data, 130), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_I2C_NACK);
  EXPECT_EQ(bus_.Commands(2, 0x04).size(), 1u);
}

TEST_F(EepromTest, GeometryIsSharedPerBoardSlot) {
  // A second object on the same slot sees the geometry that init stored.
  VantrelUSB other;
  other = VantrelUSB();
  unsigned char byte = 0;
  // Slot 0's geometry lets the range check pass; the object has no connection.
  EXPECT_EQ(other.ReadEEPROM(8, &byte, 1), 0);
  EXPECT_EQ(other.GetLastError(), USB_DEVICE_WRITE_ERROR);
  EXPECT_EQ(other.ReadEEPROM(32760, &byte, 8), 0);
  EXPECT_EQ(other.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
}

TEST(EepromSlotTest, UnconfiguredSlotRefusesEveryTransfer) {
  SimBus bus({vantrel::sim::SimBoardOptions{}});
  VantrelUSB board;
  EXPECT_EQ(board.init(15), 0);  // absent: slot 15 never configured
  unsigned char byte = 0;
  EXPECT_EQ(board.ReadEEPROM(8, &byte, 1), 0);
  EXPECT_EQ(board.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
}

TEST(EepromProbeTest, OneByteDeviceConnectsWithoutAnError) {
  SimBus bus({WithEeprom(1024)});
  VantrelUSB board;
  ASSERT_NE(board.init(0), 0);
  EXPECT_EQ(board.GetLastError(), USB_MESSAGE_EXECUTION_SUCCESS);
  const auto last = Configured(bus);
  EXPECT_EQ(last, (std::vector<std::uint8_t>{0x03, 16, 1, 0x03, 0xFF, 0x50}));
}

// The probe's trial geometries are the board's business while it runs: once
// CheckEEPROM returns, the board and the shared copy hold the slot's geometry
// again, and a transfer past the part's end is still refused.
TEST(EepromProbeTest, CheckLeavesTheSlotsGeometryOnTheBoard) {
  SimBus bus({WithEeprom(4096)});
  VantrelUSB board;
  ASSERT_NE(board.init(0), 0);
  bus.ClearLog();
  K27EEPROM found{};
  ASSERT_NE(board.CheckEEPROM(&found), 0);
  EXPECT_EQ(found.lastAddress, 0x0FFF);
  EXPECT_EQ(Configured(bus), (std::vector<std::uint8_t>{0x03, 32, 2, 0x0F, 0xFF, 0x51}));
  unsigned char data[100] = {};
  EXPECT_EQ(board.WriteEEPROM(4000, data, 100), 0);
  EXPECT_EQ(board.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
  EXPECT_NE(board.WriteEEPROM(3995, data, 100), 0);
  EXPECT_EQ(bus.Commands(2, 0x04).back().out[2], (3995 + 60) & 0xFF);
}

class EepromRestoreTest : public ScriptedBoardTest {};

TEST_F(EepromRestoreTest, BoardLeftWithATrialGeometryTakesNoTransfer) {
  script_->Reply(2, 0x03, {0x03, 0});   // the probe's trial geometry
  script_->Reply(2, 0x03, {0x03, 13});  // giving the board its geometry back fails
  K27EEPROM found{};
  EXPECT_EQ(board_.CheckEEPROM(&found), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_I2C_ERROR);
  script_->Clear();
  unsigned char byte = 0;
  EXPECT_EQ(board_.ReadEEPROM(8, &byte, 1), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
  EXPECT_TRUE(script_->All().empty());
  // Connecting again configures the part again.
  ASSERT_NE(board_.init(0), 0);
  EXPECT_NE(board_.ReadEEPROM(8, &byte, 1), 0);
}

// A process that died in the probe (or in a configuration) left the mark in
// the slot's record and maybe a trial geometry on the board, under which a
// 2 KiB part NACKs every transfer. Whoever takes the EEPROM lock next gives
// the board the recorded geometry back before its own work.
class AbandonedProbeTest : public ::testing::Test {
 protected:
  AbandonedProbeTest() : bus_({WithEeprom(2048)}) {}
  void SetUp() override {
    ASSERT_NE(board_.init(0), 0);
    record_ = shared::Record(shared::State().eeproms, shared::kEepromConfigCopySize, 0);
    ASSERT_EQ(record_[7], 0);
  }
  // What the dead prober left: the two-byte trial geometry and the mark.
  void LeaveTrialGeometry() {
    const std::uint8_t trial[] = {0x03, 64, 2, 0x7F, 0xFF, 0x51};
    ASSERT_EQ(bus_.Board().Exchange(2, trial).bytes.at(1), 0);
    record_[7] = 1;
    bus_.ClearLog();
  }
  SimBus bus_;
  VantrelUSB board_;
  std::uint8_t* record_ = nullptr;
};

TEST_F(AbandonedProbeTest, EveryEepromOperationRepairsTheBoardFirst) {
  const std::vector<std::uint8_t> recorded = {0x03, 16, 1, 0x07, 0xFF, 0x50};
  unsigned char bytes[20] = {1, 2, 3};
  K27EEPROM geometry{16, 1, 0x07FF, 0x50};
  const std::pair<const char*, std::function<int()>> operations[] = {
      {"ReadEEPROM", [&] { return board_.ReadEEPROM(100, bytes, 20); }},
      {"WriteEEPROM", [&] { return board_.WriteEEPROM(100, bytes, 20); }},
      {"CheckEEPROM", [&] { return board_.CheckEEPROM(&geometry); }},
      {"ConfigureEEPROM", [&] { return board_.ConfigureEEPROM(&geometry); }},
  };
  for (const auto& [name, operation] : operations) {
    SCOPED_TRACE(name);
    LeaveTrialGeometry();
    EXPECT_NE(operation(), 0) << board_.GetLastError();
    const auto log = bus_.Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front().out, recorded);
    EXPECT_EQ(record_[7], 0);
    EXPECT_EQ(Configured(bus_), recorded);
  }
  EXPECT_EQ(geometry.lastAddress, 0x07FF);
}

TEST_F(AbandonedProbeTest, FailedRepairLeavesTheSlotUnconfiguredUntilInit) {
  LeaveTrialGeometry();
  bus_.Board().InjectFault(2, 0x03, {vantrel::sim::FaultKind::Status, 13, 1});
  unsigned char byte = 0;
  EXPECT_EQ(board_.ReadEEPROM(100, &byte, 1), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_I2C_ERROR);
  EXPECT_EQ(std::vector<std::uint8_t>(record_, record_ + 8), std::vector<std::uint8_t>(8, 0));
  bus_.ClearLog();
  EXPECT_EQ(board_.ReadEEPROM(100, &byte, 1), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
  EXPECT_TRUE(bus_.Log().empty());
  ASSERT_NE(board_.init(0), 0);
  EXPECT_NE(board_.ReadEEPROM(100, &byte, 1), 0);
}

// The mark is the prober's own while it runs: its reads must not take it for
// a dead one's, and it is gone once the probe has ended, whatever the end.
TEST_F(AbandonedProbeTest, ProbeClearsItsOwnMarkAndNeverRepairsItself) {
  bus_.ClearLog();
  K27EEPROM found{};
  ASSERT_NE(board_.CheckEEPROM(&found), 0);
  EXPECT_EQ(found.lastAddress, 0x07FF);
  // Two trial geometries, then the slot's own: nothing in between.
  ASSERT_EQ(bus_.Commands(2, 0x03).size(), 3u);
  EXPECT_EQ(record_[7], 0);
  bus_.Board().InjectFault(2, 0x05, {vantrel::sim::FaultKind::Status, 12, 2});
  EXPECT_EQ(board_.CheckEEPROM(&found), 0);
  EXPECT_EQ(record_[7], 0);
}

class SramTest : public ::testing::Test {
 protected:
  SramTest() : bus_({vantrel::sim::SimBoardOptions{}}) {}
  void SetUp() override {
    ASSERT_NE(board_.init(0), 0);
    bus_.ClearLog();
  }
  SimBus bus_;
  VantrelUSB board_;
};

TEST_F(SramTest, TransfersAreCutIntoChunks) {
  std::vector<unsigned char> data(130);
  std::iota(data.begin(), data.end(), 7);
  ASSERT_NE(board_.WriteSRAM(0x2000, data.data(), 130), 0);
  std::vector<unsigned char> back(130);
  ASSERT_NE(board_.ReadSRAM(0x2000, back.data(), 130), 0);
  EXPECT_EQ(back, data);

  const auto writes = bus_.Commands(6, 0x47);
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0].out.size(), 64u);
  EXPECT_EQ(writes[2].out.size(), 14u);
  const auto reads = bus_.Commands(6, 0x46);
  ASSERT_EQ(reads.size(), 3u);
  EXPECT_EQ(reads[0].out, (std::vector<std::uint8_t>{0x46, 62, 0x00, 0x20}));
  EXPECT_EQ(reads[1].out, (std::vector<std::uint8_t>{0x46, 62, 62, 0x20}));
  EXPECT_EQ(reads[2].out, (std::vector<std::uint8_t>{0x46, 6, 124, 0x20}));
}

TEST_F(SramTest, BadRepliesNeverOverrunTheBufferOrHang) {
  // More data than asked for: only the chunk reaches the buffer.
  bus_.Board().InjectFault(6, 0x46, {vantrel::sim::FaultKind::Long, 0, 1});
  unsigned char buffer[10];
  std::memset(buffer, 0xAA, sizeof buffer);
  ASSERT_NE(board_.ReadSRAM(0, buffer, 4), 0);
  EXPECT_EQ(buffer[4], 0xAA);

  // No data at all would make no progress: the read fails instead.
  bus_.Board().InjectFault(6, 0x46, {vantrel::sim::FaultKind::Status, 0, 1});
  EXPECT_EQ(board_.ReadSRAM(0, buffer, 4), 0);
  EXPECT_EQ(board_.GetLastError(), USB_DEVICE_BYTE_COUNT_ERROR);

  // Longer than the 16-bit address space.
  std::vector<unsigned char> big(65537);
  EXPECT_EQ(board_.ReadSRAM(0, big.data(), 65537), 0);
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
}

TEST_F(SramTest, ChunkAddressesWrapAtTheTop) {
  std::vector<unsigned char> data(120, 0x5A);
  // 0xFFC4 + 60 = 0x10000: the second chunk starts again at address 0.
  ASSERT_NE(board_.WriteSRAM(0xFFC4, data.data(), 120), 0);
  const auto writes = bus_.Commands(6, 0x47);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[1].out[2], 0x00);
  EXPECT_EQ(writes[1].out[3], 0x00);
  EXPECT_EQ(bus_.Board().Sram(0, 60), std::vector<std::uint8_t>(60, 0x5A));
}

TEST_F(SramTest, BoardAddressingErrorIsReported) {
  unsigned char data[32] = {};
  EXPECT_EQ(board_.WriteSRAM(0xFFF0, data, 32), 0);  // one chunk across the top
  EXPECT_EQ(board_.GetLastError(), USB_MESSAGE_SRAM_ADDRESSING_ERROR);
}

}  // namespace
}  // namespace vantrel::testing
