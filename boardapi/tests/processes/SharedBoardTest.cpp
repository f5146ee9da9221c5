// Several processes connecting to one board at the same moment through the
// daemon: the image download and the EEPROM probe are done by one process at
// a time, and nobody transfers under another process's trial geometry.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <vantrel/testsupport/SimDaemon.h>

#include "ChildProcess.h"

namespace {

using vantrel::test::Spawn;
using vantrel::test::Wait;

namespace fs = std::filesystem;

// One exchange of the daemon's trace: "ezusb-N ch=C out=HEX in=HEX".
struct Traced {
  int channel = 0;
  std::vector<unsigned> out;
};

std::vector<unsigned> FromHex(const std::string& hex) {
  std::vector<unsigned> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(std::stoul(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

class SharedBoardTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("VANTREL_DEVICE_DIR", daemon_.DeviceDir().c_str(), 1); }
  void TearDown() override { daemon_.Stop(); }

  // A daemon with one simulated board, as it comes up: no application image.
  void StartDaemon(unsigned eepromBytes) {
    daemon_.Options().arguments = {"--eeprom-bytes", std::to_string(eepromBytes), "--trace",
                                   TracePath().string()};
    ASSERT_TRUE(daemon_.Start()) << daemon_.Log();
  }

  // Runs the peers at once; their exit statuses.
  std::vector<int> RunPeers(const std::vector<std::vector<std::string>>& peerArgs) {
    std::vector<pid_t> peers;
    for (const auto& args : peerArgs) {
      std::vector<std::string> argv = {BOARD_PEER_PATH};
      argv.insert(argv.end(), args.begin(), args.end());
      peers.push_back(Spawn(argv));
    }
    std::vector<int> results;
    for (pid_t peer : peers) results.push_back(peer > 0 ? Wait(peer) : -1);
    return results;
  }

  fs::path TracePath() const { return daemon_.Folder() / "trace"; }

  std::vector<Traced> Trace() const {
    std::vector<Traced> exchanges;
    std::ifstream in(TracePath());
    std::string word;
    Traced current;
    while (in >> word) {
      if (word.rfind("ch=", 0) == 0) current.channel = std::stoi(word.substr(3));
      if (word.rfind("out=", 0) == 0) current.out = FromHex(word.substr(4));
      if (word.rfind("in=", 0) == 0) exchanges.push_back(current);
    }
    return exchanges;
  }

  int Count(int channel, unsigned command) const {
    int count = 0;
    for (const Traced& t : Trace())
      if (t.channel == channel && !t.out.empty() && t.out[0] == command) ++count;
    return count;
  }

  vantrel::testsupport::SimDaemon daemon_;
};

TEST_F(SharedBoardTest, ExactlyOneOfSeveralConnectingProcessesDownloadsTheImage) {
  StartDaemon(32768);
  EXPECT_EQ(RunPeers({{"init"}, {"init"}, {"init"}, {"init"}}), std::vector<int>(4, 0));
  EXPECT_EQ(Count(6, 0x48), 1) << "download begins";
  EXPECT_EQ(Count(6, 0x49), 1) << "download ends";
  EXPECT_EQ(Count(6, 0x47), 247) << "image writes";
  EXPECT_EQ(Count(6, 0x4A), 4) << "one image query per connecting process";
}

// What the board sees of one connection to a board without the image, in
// order: the query, begin, the image's chunks, end, and nothing else on the
// memory channel.
TEST_F(SharedBoardTest, OneConnectionQueriesOnceThenDownloads) {
  StartDaemon(32768);
  EXPECT_EQ(RunPeers({{"init"}}), std::vector<int>{0});
  std::vector<unsigned> memoryCommands;
  for (const Traced& t : Trace())
    if (t.channel == 6 && !t.out.empty()) memoryCommands.push_back(t.out[0]);
  std::vector<unsigned> expected = {0x4A, 0x48};
  expected.insert(expected.end(), 247, 0x47);
  expected.push_back(0x49);
  EXPECT_EQ(memoryCommands, expected);
}

class SharedEepromTest : public SharedBoardTest, public ::testing::WithParamInterface<unsigned> {};

// Three processes connect again and again while the others transfer: each
// sees the part's own geometry, every transfer in range goes through, the
// write a byte too long is refused, and no write reaches past the part's
// last allowed byte (where it would wrap round onto addresses 0-7).
TEST_P(SharedEepromTest, ConnectingProcessesNeverSeeATrialGeometry) {
  const unsigned capacity = GetParam();
  StartDaemon(capacity);
  const std::string c = std::to_string(capacity);
  EXPECT_EQ(
      RunPeers({{"eeprom", c, "20", "0"}, {"eeprom", c, "20", "1"}, {"eeprom", c, "20", "2"}}),
      std::vector<int>(3, 0))
      << "4 init failed, 5 wrong geometry, 6 a transfer in range failed, 7 other bytes read back, "
         "8 a write past the end was not refused";
  int writes = 0;
  for (const Traced& t : Trace()) {
    if (t.channel != 2 || t.out.size() < 4 || t.out[0] != 0x04) continue;
    ++writes;
    const unsigned length = t.out[1];
    const unsigned address = t.out[2] | t.out[3] << 8;
    EXPECT_GE(address, 8u);
    EXPECT_LE(address + length, capacity - 1) << "write of " << length << " at " << address;
  }
  EXPECT_GE(writes, 3 * 20 * 3);
}

INSTANTIATE_TEST_SUITE_P(Parts, SharedEepromTest, ::testing::Values(1024u, 4096u, 32768u));

}  // namespace
