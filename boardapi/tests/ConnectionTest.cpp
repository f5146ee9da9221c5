// Connecting: the image download, a board that is absent, closing, and
// objects that share a context.
#include <gtest/gtest.h>

#include <k27fw/BoardImage.h>

#include <vantrel/testsupport/SimBoardFixture.h>

namespace vantrel::testing {
namespace {

TEST(ConnectionTest, ImageIsDownloadedOnceAndArrivesByteForByte) {
  SimBus bus({vantrel::sim::SimBoardOptions{}});
  VantrelUSB board;
  ASSERT_NE(board.init(0), 0);
  EXPECT_TRUE(bus.Board().ApplicationRunning());

  // Exactly one query, begin, 247 writes of at most 60 bytes from address 0,
  // end: the download lock adds no exchange of its own.
  std::vector<Exchange> memory;
  for (auto& e : bus.Log())
    if (e.channel == 6) memory.push_back(e);
  ASSERT_EQ(memory.size(), 1u + 1u + 247u + 1u);
  EXPECT_EQ(memory[0].out, (std::vector<std::uint8_t>{0x4A}));
  EXPECT_EQ(memory[0].in, (std::vector<std::uint8_t>{0x4A, 0, 0}));
  EXPECT_EQ(memory[1].out, (std::vector<std::uint8_t>{0x48}));
  for (std::size_t i = 2; i + 1 < memory.size(); ++i) ASSERT_EQ(memory[i].out[0], 0x47) << i;
  EXPECT_EQ(memory.back().out, (std::vector<std::uint8_t>{0x49}));
  const auto& second = memory[3].out;
  ASSERT_EQ(second.size(), 64u);
  EXPECT_EQ(second[0], 0x47);
  EXPECT_EQ(second[1], 60);
  EXPECT_EQ(second[2], 60);  // address 60, low byte first
  EXPECT_EQ(second[3], 0);
  const auto& last = memory[memory.size() - 2].out;
  EXPECT_EQ(last[1], kBoardImageSize - 246 * 60);

  auto stored = bus.Board().Sram(0, kBoardImageSize);
  EXPECT_TRUE(std::equal(stored.begin(), stored.end(), BoardImage));

  // A board that runs the image is left alone.
  bus.ClearLog();
  ASSERT_NE(board.init(0), 0);
  EXPECT_EQ(bus.Commands(6, 0x47).size(), 0u);
  EXPECT_EQ(bus.Commands(6, 0x48).size(), 0u);
  EXPECT_EQ(bus.Commands(6, 0x4A).size(), 1u);
}

TEST(ConnectionTest, FailedDownloadFailsTheConnection) {
  SimBus bus({vantrel::sim::SimBoardOptions{}});
  bus.Board().InjectFault(6, 0x47, {vantrel::sim::FaultKind::Status, 15, 1});
  VantrelUSB board;
  EXPECT_EQ(board.init(0), 0);
  EXPECT_EQ(board.GetLastError(), USB_MESSAGE_SRAM_ADDRESSING_ERROR);
  EXPECT_FALSE(bus.Board().ApplicationRunning());
  EXPECT_EQ(bus.Commands(6, 0x49).size(), 0u);
}

TEST(ConnectionTest, AbsentBoardFailsWithoutAnErrorCode) {
  SimBus bus({vantrel::sim::SimBoardOptions{}});
  VantrelUSB board;
  EXPECT_EQ(board.init(3), 0);
  EXPECT_EQ(board.GetLastError(), USB_MESSAGE_EXECUTION_SUCCESS);
  EXPECT_EQ(board.close(), 1);  // nothing was opened
  unsigned char text[64];
  EXPECT_EQ(board.Get8051Version(text), 0);
  EXPECT_EQ(board.GetLastError(), USB_DEVICE_WRITE_ERROR);
}

TEST(ConnectionTest, IndexOutsideTheBoardSlotsIsRefused) {
  SimBus bus({vantrel::sim::SimBoardOptions{}});
  VantrelUSB board;
  EXPECT_EQ(board.init(16), 0);
  EXPECT_EQ(board.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
  EXPECT_EQ(board.init(-1), 0);
  EXPECT_EQ(board.GetLastError(), USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
}

TEST(ConnectionTest, CloseReleasesTheConnectionOnce) {
  SimBus bus({vantrel::sim::SimBoardOptions{}});
  VantrelUSB board;
  EXPECT_EQ(board.close(), 1);
  ASSERT_NE(board.init(0), 0);
  EXPECT_EQ(board.close(), 1);
  EXPECT_EQ(board.close(), 0);  // the stale handle is closed already
  unsigned char text[64];
  EXPECT_EQ(board.Get8051Version(text), 0);
  EXPECT_EQ(board.GetLastError(), USB_DEVICE_WRITE_ERROR);
  ASSERT_NE(board.init(0), 0);  // init replaces the stale handle
  EXPECT_NE(board.Get8051Version(text), 0);
}

TEST(ConnectionTest, AssignedObjectsShareOneContext) {
  SimBus bus({vantrel::sim::SimBoardOptions{}});
  auto first = std::make_unique<VantrelUSB>();
  ASSERT_NE(first->init(0), 0);
  VantrelUSB second;
  second = *first;
  VantrelUSB third(second);
  bus.Board().InjectFault(2, 0x06, {vantrel::sim::FaultKind::Status, 13});
  unsigned char text[64];
  EXPECT_EQ(third.Get8051Version(text), 0);
  EXPECT_EQ(first->GetLastError(), USB_MESSAGE_I2C_ERROR);
  first.reset();  // the others keep the context
  EXPECT_EQ(second.GetLastError(), USB_MESSAGE_I2C_ERROR);
  EXPECT_NE(second.Get8051Version(text), 0);
  VantrelUSB& same = second;
  second = same;         // assigned to itself: the context is kept
  third = VantrelUSB();  // third drops the shared context for a new one
  EXPECT_EQ(second.GetLastError(), USB_MESSAGE_I2C_ERROR);
}

TEST(ConnectionTest, BoardsAreOpenedByIndex) {
  SimBus bus({WithEeprom(128), WithEeprom(65536)});
  VantrelUSB zero, one;
  ASSERT_NE(zero.init(0), 0);
  ASSERT_NE(one.init(1), 0);
  EXPECT_TRUE(bus.Board(0).ApplicationRunning());
  EXPECT_TRUE(bus.Board(1).ApplicationRunning());
}

}  // namespace
}  // namespace vantrel::testing
