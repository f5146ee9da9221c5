// A reply that stalls halts the board's IN pipe. The daemon resets the pipe
// before it lets the channel go, so that the next program finds the board
// working: it connects (its start probes the EEPROM on that very channel)
// and exchanges on the channel.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <vantrel/VantrelUSB.h>
#include <vantrel/protocol/ControlCodes.h>
#include <vantrel/protocol/SimConsoleProtocol.h>

#include <vantrel/testsupport/SimDaemon.h>

#include "ChildProcess.h"
#include "link/SocketDeviceLink.h"

namespace {

namespace drv = vantrel::driver;
using vantrel::test::Spawn;
using vantrel::test::Wait;

class StalledChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(daemon_.Start()) << daemon_.Log();
    ::setenv("VANTREL_DEVICE_DIR", daemon_.DeviceDir().c_str(), 1);
  }
  void TearDown() override { daemon_.Stop(); }

  // One command to board 0 through the simulator's console; true when done.
  bool Console(const std::string& words) {
    auto link = vantrel::SocketDeviceLink::Connect(daemon_.ConsoleSocket().string());
    if (!link) return false;
    const std::string request = "0\n" + words;
    std::vector<std::uint8_t> reply(4096);
    std::uint32_t returned = 0;
    return link->Control(drv::kSimConsoleCode,
                         {reinterpret_cast<const std::uint8_t*>(request.data()), request.size()},
                         reply, &returned) &&
           returned > 0 && reply[0] == '0';
  }

  vantrel::testsupport::SimDaemon daemon_;
};

TEST_F(StalledChannelTest, TheNextProgramConnectsAndUsesTheChannel) {
  ASSERT_TRUE(Console("fault\n2\n05\nstall\n1\n"));
  {
    // An EEPROM read on channel 2 meets the stall.
    auto link = vantrel::SocketDeviceLink::Open(0);
    ASSERT_TRUE(link);
    std::vector<std::uint8_t> block(drv::BulkExchangeBlock::kSize, 0), answer(block.size());
    drv::StoreLe32(block.data() + drv::BulkExchangeBlock::kOutPipe, 3);
    drv::StoreLe32(block.data() + drv::BulkExchangeBlock::kInPipe, 2);
    drv::StoreLe32(block.data() + drv::BulkExchangeBlock::kOutLength, 4);
    drv::StoreLe32(block.data() + drv::BulkExchangeBlock::kInLength, 65);
    const std::uint8_t read[] = {0x05, 0x00, 0x00, 0x01};
    std::copy(std::begin(read), std::end(read),
              block.begin() + drv::BulkExchangeBlock::kHeaderSize);
    std::uint32_t returned = 0;
    EXPECT_FALSE(link->Control(drv::IOCTL_VIO_BULK_EXCHANGE, block, answer, &returned));
  }
  // Other programs, started afresh: one connects, one also writes and reads
  // the EEPROM.
  EXPECT_EQ(Wait(Spawn({BOARD_PEER_PATH, "init"})), 0) << daemon_.Log();
  EXPECT_EQ(Wait(Spawn({BOARD_PEER_PATH, "eeprom", "32768", "1", "0"})), 0) << daemon_.Log();
}

}  // namespace
