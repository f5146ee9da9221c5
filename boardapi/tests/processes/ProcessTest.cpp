// Several processes using one board through the daemon: the shared output
// copies and the shared timestamped-receive buffer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <vantrel/VantrelUSB.h>
#include <vantrel/protocol/ControlCodes.h>
#include <vantrel/protocol/SimConsoleProtocol.h>

#include <vantrel/testsupport/SimDaemon.h>

#include "ChildProcess.h"
#include "OutputStress.h"
#include "SimConsoleClient.h"
#include "link/SocketDeviceLink.h"
#include "shared/SharedState.h"

namespace {

using vantrel::test::Spawn;
using vantrel::test::Wait;

namespace fs = std::filesystem;

std::string Hex(const unsigned char* bytes, std::size_t count) {
  std::string text;
  char pair[3];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
    text += pair;
  }
  return text;
}

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(daemon_.Start()) << daemon_.Log();
    ::setenv("VANTREL_DEVICE_DIR", daemon_.DeviceDir().c_str(), 1);
    ASSERT_NE(board_.init(0), 0);
    unsigned char off[5] = {};
    ASSERT_NE(board_.SetOutputs(off), 0);
  }
  void TearDown() override {
    board_.close();
    daemon_.Stop();
  }

  std::string Console(const std::vector<std::string>& words) {
    return vantrel::test::Console(daemon_.ConsoleSocket(), words);
  }

  static std::string SharedCopies() {
    auto& state = vantrel::shared::State();
    auto* on = vantrel::shared::Record(state.outOnCopies, vantrel::shared::kOutputCopySize, 0);
    auto* off = vantrel::shared::Record(state.outOffCopies, vantrel::shared::kOutputCopySize, 0);
    return "on=" + Hex(on, 5) + " off=" + Hex(off, 5);
  }

  vantrel::testsupport::SimDaemon daemon_;
  VantrelUSB board_;
};

TEST_F(ProcessTest, OutputBitsSetFromTwoProcessesBothStay) {
  ASSERT_NE(board_.SetOutputBit(static_cast<_usbOutputBitId>(3), 1), 0);
  ASSERT_EQ(Wait(Spawn({BOARD_PEER_PATH, "set", "12", "1"})), 0);
  EXPECT_EQ(SharedCopies(), "on=0810000000 off=0810000000");
  EXPECT_EQ(Console({"outputs"}), "on=0810000000 off=0810000000 brightness=0\n");
  // And the other way round: this process starts from what the other left.
  ASSERT_NE(board_.SetOutputBit(static_cast<_usbOutputBitId>(32), 1), 0);
  EXPECT_EQ(Console({"outputs"}), "on=0810000001 off=0810000001 brightness=0\n");
}

TEST_F(ProcessTest, FourProcessesOfTwoThreadsLoseNoOutputUpdate) {
  std::vector<pid_t> peers;
  for (int first = 0; first < vantrel::test::outputstress::kThreads; first += 2)
    peers.push_back(Spawn({BOARD_PEER_PATH, "outputs", std::to_string(first), "2"}));
  for (pid_t peer : peers) EXPECT_EQ(Wait(peer), 0);
  const auto image = vantrel::test::outputstress::FinalImage();
  const std::string expected = Hex(image.data(), image.size());
  EXPECT_EQ(SharedCopies(), "on=" + expected + " off=" + expected);
  EXPECT_EQ(Console({"outputs"}), "on=" + expected + " off=" + expected + " brightness=0\n");
}

// The period-bit forms change one period's shared copy and send it whole;
// ModifyOutputs changes both copies and sends masks. Mixed across processes,
// no update may be lost from either copy or from the board.
TEST_F(ProcessTest, PeriodBitsAndModifyOutputsFromSeveralProcessesLoseNothing) {
  std::vector<pid_t> peers;
  for (int first = 0; first < vantrel::test::outputstress::kThreads; first += 2)
    peers.push_back(Spawn(
        {BOARD_PEER_PATH, first % 4 == 0 ? "outputs" : "period", std::to_string(first), "2"}));
  for (pid_t peer : peers) EXPECT_EQ(Wait(peer), 0);
  const auto image = vantrel::test::outputstress::FinalImage();
  const std::string expected = Hex(image.data(), image.size());
  EXPECT_EQ(SharedCopies(), "on=" + expected + " off=" + expected);
  EXPECT_EQ(Console({"outputs"}), "on=" + expected + " off=" + expected + " brightness=0\n");
}

TEST_F(ProcessTest, TimestampedBytesAreHandedOutOnceAcrossProcesses) {
  constexpr int kBytes = 200;
  std::string pushed;
  for (int i = 0; i < kBytes; ++i) pushed += Hex(reinterpret_cast<const unsigned char*>(&i), 1);
  ASSERT_EQ(Console({"serial", "A", "push", pushed}), "");
  ASSERT_EQ(Console({"advance", "1000"}), "");  // every byte has arrived

  std::vector<pid_t> peers;
  std::vector<fs::path> outputs;
  for (int p = 0; p < 3; ++p) {
    outputs.push_back(daemon_.Folder() / ("drain-" + std::to_string(p)));
    peers.push_back(Spawn({BOARD_PEER_PATH, "drain"}, outputs.back().string()));
  }
  std::multiset<int> received;
  for (std::size_t p = 0; p < peers.size(); ++p) {
    EXPECT_EQ(Wait(peers[p]), 0);
    std::ifstream in(outputs[p]);
    std::string line;
    while (std::getline(in, line)) received.insert(std::stoi(line, nullptr, 16));
  }
  ASSERT_EQ(received.size(), static_cast<std::size_t>(kBytes));
  for (int i = 0; i < kBytes; ++i) EXPECT_EQ(received.count(i), 1u) << "byte " << i;
}

TEST_F(ProcessTest, PipeWriteCarriesItsDataThroughTheDaemon) {
  // The image-query command written straight to channel 6's OUT pipe, its
  // reply read from the IN pipe: data that travels in the output buffer.
  auto link = vantrel::SocketDeviceLink::Open(0);
  ASSERT_TRUE(link);
  std::uint8_t pipe[4] = {11, 0, 0, 0};
  std::uint8_t command[1] = {0x4A};
  std::uint32_t moved = 0;
  ASSERT_TRUE(link->Control(vantrel::driver::IOCTL_VIO_PIPE_WRITE, pipe, command, &moved));
  pipe[0] = 10;
  std::uint8_t reply[64] = {};
  ASSERT_TRUE(link->Control(vantrel::driver::IOCTL_VIO_PIPE_READ, pipe, reply, &moved));
  ASSERT_EQ(moved, 3u);
  EXPECT_EQ(reply[0], 0x4A);
  EXPECT_EQ(reply[1], 0);
  EXPECT_EQ(reply[2], 1);  // the image runs: init downloaded it
}

}  // namespace
