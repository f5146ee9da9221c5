// k27ctl against `vantrelio --simulate`: what each command sends to the
// board (read from the daemon's exchange trace), what it prints, and its
// exit status. The simulated board is driven and inspected with k27simctl.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "CtlTestFixture.h"

namespace vantrel::ctl::test {
namespace {

class K27ctlTest : public CtlTest {
 protected:
  static void SetUpTestSuite() { StartDaemon({"--eeprom-bytes", "8192"}, true); }

  // Exchanges of the kind that write: the connection's EEPROM configuration
  // is not one, data and commands are.
  static Strings Writes(std::uintmax_t mark) {
    Strings writes;
    for (const auto& line : TraceSince(mark)) {
      const bool read =
          line.find("out=4A") != std::string::npos || line.find("out=05") != std::string::npos ||
          line.find("out=03") != std::string::npos || line.find("out=4B") != std::string::npos;
      if (!read) writes.push_back(line);
    }
    return writes;
  }
};

// ---- Boards, connection and exit statuses ----------------------------------

TEST_F(K27ctlTest, ListShowsEveryBoardWithItsIdentity) {
  const Result people = Ctl({"list"});
  ASSERT_EQ(people.status, 0) << people.err;
  EXPECT_EQ(LineCount(people.out), 2u) << people.out;
  EXPECT_TRUE(Contains(people.out, "board 0: address 0  library 35.28")) << people.out;
  EXPECT_TRUE(Contains(people.out, "board 1: address 1")) << people.out;
  EXPECT_TRUE(Contains(people.out, "EEPROM 8192 bytes (page 32, 2 address bytes, device 0x51)"))
      << people.out;

  const Result json = Ctl({"--json", "list"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(LineCount(json.out), 1u);
  EXPECT_TRUE(Contains(
      json.out,
      "{\"boards\":[{\"instance\":0,\"address\":0,\"library\":\"35.28\",\"firmware_8051\":"))
      << json.out;
  EXPECT_TRUE(Contains(
      json.out, "\"pic\":\"P1.03\",\"serial\":\"4B32373030303031\",\"serial_text\":\"K2700001\""))
      << json.out;
  EXPECT_TRUE(Contains(
      json.out,
      "\"eeprom\":{\"bytes\":8192,\"page_size\":32,\"address_bytes\":2,\"device_address\":81}"))
      << json.out;
  EXPECT_TRUE(Contains(json.out, "{\"instance\":1,\"address\":1,")) << json.out;
}

TEST_F(K27ctlTest, UsageErrorsExitWith2AndSendNothing) {
  const std::vector<Strings> cases{
      {},
      {"frobnicate"},
      {"--board", "9", "inputs"},
      {"--board", "1", "--address", "1", "dips"},
      {"--colour", "inputs"},
      {"inputs", "--count", "2"},
      {"inputs", "extra"},
      {"outputs", "set", "0102"},
      {"outputs", "set", "01020304C0"},
      {"outputs", "on", "38"},
      {"outputs", "brightness", "11"},
      {"lamp-test", "--delay", "soon"},
      {"reels", "spin", "3", "10"},
      {"reels", "spin", "0", "70000"},
      {"reels", "configure", "3", "200", "--ramp-up", "1,2,,3"},
      {"reels", "spin", "0", "10", "--direction", "0"},
      {"eeprom", "read", "7", "1"},
      {"eeprom", "read", "8"},
      {"sram", "read", "0xFFFF", "2"},
      {"clock", "set", "0x100000000"},
      {"clock", "set"},
      {"random", "0"},
      {"random", "99999999999999999999999999"},
      {"random", "0xFFFFFFFFFFFFFFFFFFFF"},
      {"random", "2x"},
      {"eeprom", "read", "0x", "1"},
      {"spi", "transfer", "12", "0A"},
      {"serial", "C", "send", "00"},
      {"serial", "A", "send", "0G"},
      {"serial", "A", "config", "--baud", "14400"},
      {"cctalk", "2", "no such command"},
      {"cctalk", "2", "address change"},
      {"cctalk", "300", "254"},
      {"cctalk", "poll", "--repeat", "0"},
  };
  const auto mark = Mark();
  for (const auto& args : cases) {
    std::string joined;
    for (const auto& a : args) joined += a + ' ';
    const Result r = Ctl(args);
    EXPECT_EQ(r.status, 2) << joined << ": " << r.err;
    EXPECT_EQ(LineCount(r.err), 1u) << joined << ": " << r.err;
    EXPECT_TRUE(Contains(r.err, "k27ctl: ")) << joined;
    EXPECT_TRUE(r.out.empty()) << joined << ": " << r.out;
  }
  EXPECT_TRUE(Writes(mark).empty()) << Writes(mark).front();
}

TEST_F(K27ctlTest, EveryCommandHasHelp) {
  const Result top = Ctl({"--help"});
  EXPECT_EQ(top.status, 0);
  const auto mark = Mark();
  for (const char* command :
       {"list", "inputs", "dips", "hoppers", "outputs", "lamp-test", "reels", "eeprom", "sram",
        "clock", "security", "random", "spi", "serial", "cctalk"}) {
    EXPECT_TRUE(Contains(top.out, std::string("  ") + command + " ")) << command;
    const Result r = Ctl({command, "--help"});
    EXPECT_EQ(r.status, 0) << command;
    EXPECT_TRUE(Contains(r.out, std::string("usage: k27ctl ") + command))
        << command << ": " << r.out;
  }
  EXPECT_TRUE(TraceSince(mark).empty()) << "--help touched the board";
}

TEST_F(K27ctlTest, BoardFailuresExitWith1AndNameTheError) {
  SimCtl({"fault", "5", "15", "short", "1"});
  const Result shortReply = Ctl({"clock", "get"});
  EXPECT_EQ(shortReply.status, 1);
  EXPECT_EQ(shortReply.err, "k27ctl: GetClock: USB_DEVICE_BYTE_COUNT_ERROR\n");

  SimCtl({"fault", "6", "46", "status=15", "1"});
  const Result status = Ctl({"sram", "read", "0", "4"});
  EXPECT_EQ(status.status, 1);
  EXPECT_TRUE(Contains(status.err, "USB_MESSAGE_SRAM_ADDRESSING_ERROR")) << status.err;

  const Result absent = Ctl({"--board", "5", "inputs"});
  EXPECT_EQ(absent.status, 1);
  EXPECT_TRUE(Contains(absent.err, "no daemon serves board 5")) << absent.err;

  const Result noAddress = Ctl({"--address", "7", "inputs"});
  EXPECT_EQ(noAddress.status, 1);
  EXPECT_TRUE(Contains(noAddress.err, "no board with address 7")) << noAddress.err;
}

// ---- Inputs -----------------------------------------------------------------

TEST_F(K27ctlTest, InputsAndDipsReadTheBoardNamedByNumberOrAddress) {
  SimCtl({"inputs", "F7FFFFF8FF"});
  const Result once = Ctl({"--json", "inputs"});
  ASSERT_EQ(once.status, 0) << once.err;
  EXPECT_EQ(once.out,
            "{\"raw\":\"F7FFFFF8FF\",\"inputs\":\"F7FFFF\",\"dips\":\"F8\",\"address\":0,\"byte4\":"
            "\"FF\",\"low\":[3]}\n");
  EXPECT_TRUE(Contains(Ctl({"inputs"}).out, "inputs reading 0: 3\n"));

  SimCtl({"--board", "1", "dips", "0D"});
  const auto mark = Mark();
  const Result dips = Ctl({"--address", "5", "--json", "dips"});
  ASSERT_EQ(dips.status, 0) << dips.err;
  EXPECT_EQ(dips.out, "{\"dips\":\"0D\",\"address\":5,\"switches\":[1,0,1,1,0,0,0,0]}\n");
  EXPECT_TRUE(Traced(mark, "ezusb-1 ch=1 out=4B"));
  SimCtl({"--board", "1", "dips", "F9"});
}

TEST_F(K27ctlTest, InputsWatchReportsEachChangeAndEndsOnCount) {
  SimCtl({"inputs", "FFFFFFF8FF"});
  auto watch = Start({"--json", "inputs", "--watch", "--count", "2", "--timeout", "60"});
  // Watching once it polls.
  const auto mark = Mark();
  ASSERT_TRUE(WaitForTrace(mark, "ezusb-0 ch=1 out=4B"));
  SimCtl({"inputs", "FEFFFFF8FF"});
  const auto first = watch->ReadLine();
  ASSERT_TRUE(first) << watch->Stderr();
  EXPECT_TRUE(Contains(
      *first, "\"raw\":\"FEFFFFF8FF\",\"changed\":[{\"name\":\"input0\",\"bit\":0,\"value\":0}]}"))
      << *first;
  EXPECT_EQ(first->rfind("{\"time_ms\":", 0), 0u) << *first;
  SimCtl({"inputs", "FFFFFFF0FF"});
  const auto second = watch->ReadLine();
  ASSERT_TRUE(second);
  EXPECT_TRUE(Contains(
      *second,
      "[{\"name\":\"input0\",\"bit\":0,\"value\":1},{\"name\":\"dip3\",\"bit\":27,\"value\":0}]"))
      << *second;
  EXPECT_EQ(watch->Wait(), 0) << watch->Stderr();
  EXPECT_FALSE(watch->ReadLine(std::chrono::milliseconds(0)));

  // A time-out with no --count ends well; one that comes before the count does not.
  EXPECT_EQ(Ctl({"inputs", "--watch", "--timeout", "0.1"}).status, 0);
  const Result early = Ctl({"inputs", "--watch", "--count", "1", "--timeout", "0.1"});
  EXPECT_EQ(early.status, 1);
  EXPECT_TRUE(Contains(early.err, "0 of 1 changes")) << early.err;
  SimCtl({"inputs", "FFFFFFF8FF"});
}

TEST_F(K27ctlTest, HoppersReadStatusAndPay) {
  const auto mark = Mark();
  const Result pay = Ctl({"hoppers", "pay", "4", "33", "0x0102"});
  ASSERT_EQ(pay.status, 0) << pay.err;
  EXPECT_TRUE(Traced(mark, "ch=1 out=7004000021010200"));
  const Result status = Ctl({"--json", "hoppers", "4"});
  ASSERT_EQ(status.status, 0) << status.err;
  EXPECT_EQ(status.out.rfind("{\"hoppers\":[{\"input\":4,\"status\":", 0), 0u) << status.out;
  EXPECT_TRUE(Traced(mark, "ch=1 out=7104"));
}

// ---- Outputs ----------------------------------------------------------------

// Holds the library loaded, as a game or k27diag would, so that the output
// images it keeps outlive each k27ctl run.
class LibraryHolder {
 public:
  explicit LibraryHolder(std::unique_ptr<Process> process) : process_(std::move(process)) {}
  ~LibraryHolder() {
    process_->Signal(SIGTERM);
    EXPECT_EQ(process_->Wait(), 0) << process_->Stderr();
  }

 private:
  std::unique_ptr<Process> process_;
};

TEST_F(K27ctlTest, OutputsChangeBothPeriodsAndShowTheSharedImages) {
  auto mark = Mark();
  LibraryHolder holder(Start({"inputs", "--watch"}));
  ASSERT_TRUE(WaitForTrace(mark, "ezusb-0 ch=1 out=4B"));

  mark = Mark();
  ASSERT_EQ(Ctl({"outputs", "set", "0102030405"}).status, 0);
  EXPECT_TRUE(Traced(mark, "ezusb-0 ch=1 out=4D0102030405FEFDFCFBFA"));
  EXPECT_EQ(SimCtl({"outputs"}).substr(0, 30), "on=0102030405 off=0102030405 b");

  mark = Mark();
  const Result on = Ctl({"--json", "outputs", "on", "32", "0x1F"});
  ASSERT_EQ(on.status, 0) << on.err;
  EXPECT_TRUE(Traced(mark, "ch=1 out=4D00000080010000000000"));
  EXPECT_EQ(on.out,
            "{\"known\":true,\"on\":\"0102038405\",\"off\":\"0102038405\",\"outputs_on\":[0,9,16,"
            "17,26,31,32,34]}\n");

  ASSERT_EQ(Ctl({"outputs", "off", "0", "37"}).status, 0);
  const Result get = Ctl({"outputs", "get"});
  EXPECT_EQ(get.out.substr(0, get.out.find("\n(")),
            "on period 0002038405  off period 0002038405\noutputs on: 9 16 17 26 31 32 34");
  EXPECT_TRUE(Contains(get.out, "\n(the images last sent by a program through the library"))
      << get.out;
  EXPECT_TRUE(Contains(Ctl({"--json", "outputs", "get"}).out,
                       "{\"known\":true,\"source\":\"last-sent\",\"on\":\"0002038405\""));

  mark = Mark();
  ASSERT_EQ(Ctl({"outputs", "brightness", "5"}).status, 0);
  EXPECT_TRUE(Traced(mark, "ch=1 out=540000000000"));
  EXPECT_TRUE(Traced(mark, "ch=1 out=5505"));
  ASSERT_EQ(Ctl({"outputs", "brightness", "10"}).status, 0);
  EXPECT_TRUE(Traced(mark, "ch=1 out=540002038405"));

  ASSERT_EQ(Ctl({"outputs", "set", "A50000003F"}).status, 0);
  mark = Mark();
  const Result test = Ctl({"--json", "lamp-test", "--delay", "0"});
  ASSERT_EQ(test.status, 0) << test.err;
  EXPECT_EQ(LineCount(test.out), 39u);
  EXPECT_TRUE(Contains(test.out, "{\"output\":0}\n{\"output\":1}\n"));
  EXPECT_TRUE(Contains(
      test.out, "{\"tested\":38,\"restored\":{\"on\":\"A50000003F\",\"off\":\"A50000003F\"}}\n"));
  EXPECT_TRUE(Traced(mark, "ch=1 out=4D0100000000FEFFFFFFFF"));
  EXPECT_TRUE(Traced(mark, "ch=1 out=4D0000000020FFFFFFFFDF"));
  EXPECT_TRUE(Traced(mark, "ezusb-0 ch=1 out=53A50000003F"));
  EXPECT_TRUE(Traced(mark, "ezusb-0 ch=1 out=54A50000003F"));
  EXPECT_EQ(SimCtl({"outputs"}).substr(0, 28), "on=A50000003F off=A50000003F");
}

TEST_F(K27ctlTest, OutputsSayWhenNoProgramKnowsTheImages) {
  // Nothing holds the library: every k27ctl run starts from empty copies,
  // which get says without failing and without the text of set.
  const Result get = Ctl({"--json", "outputs", "get"});
  EXPECT_EQ(get.status, 0) << get.err;
  EXPECT_EQ(get.out,
            "{\"known\":false,\"source\":\"none\",\"on\":null,\"off\":null,\"outputs_on\":"
            "null}\n");
  const Result told = Ctl({"outputs", "get"});
  EXPECT_EQ(told.status, 0) << told.err;
  EXPECT_EQ(told.out.rfind("the outputs are not known: the board cannot report them", 0), 0u)
      << told.out;
  EXPECT_FALSE(Contains(told.out, "left alone")) << told.out;

  ASSERT_EQ(Ctl({"outputs", "set", "0000000001"}).status, 0);
  const Result on = Ctl({"--json", "outputs", "on", "3"});
  EXPECT_EQ(on.status, 0) << on.err;
  EXPECT_TRUE(Contains(on.out, "\"known\":false")) << on.out;
  EXPECT_EQ(SimCtl({"outputs"}).substr(0, 28), "on=0800000001 off=0800000001");
  EXPECT_EQ(Ctl({"outputs", "brightness", "10"}).status, 1);

  const auto mark = Mark();
  const Result given =
      Ctl({"lamp-test", "--delay", "0", "--lamps-only", "--restore", "0800000001"});
  ASSERT_EQ(given.status, 0) << given.err;
  EXPECT_EQ(LineCount(given.out), 33u);
  EXPECT_TRUE(Traced(mark, "out=530800000001"));
  const Result unknown = Ctl({"lamp-test", "--delay", "0", "--lamps-only"});
  ASSERT_EQ(unknown.status, 0) << unknown.err;
  EXPECT_TRUE(Contains(unknown.err, "every output is left off")) << unknown.err;
  EXPECT_EQ(SimCtl({"outputs"}).substr(0, 28), "on=0000000000 off=0000000000");
}

// ---- Reels ------------------------------------------------------------------

TEST_F(K27ctlTest, ReelsConfigureSpinAndWatch) {
  auto mark = Mark();
  ASSERT_EQ(Ctl({"reels", "configure", "3", "200", "--ramp-up", "10,20,30", "--sync"}).status, 0);
  EXPECT_TRUE(Traced(mark, "ch=1 out=560300C800"));
  EXPECT_TRUE(Traced(mark, "ch=1 out=5802030A141E"));
  EXPECT_TRUE(Traced(mark, "ch=1 out=5B02"));

  auto watch = Start({"--json", "reels", "status", "--watch", "--count", "1"});
  mark = Mark();
  ASSERT_TRUE(WaitForTrace(mark, "ch=1 out=5C"));
  ASSERT_EQ(Ctl({"reels", "spin", "1", "300", "--direction", "-1"}).status, 0);
  EXPECT_TRUE(Traced(mark, "ch=1 out=5701FF012C"));
  const auto line = watch->ReadLine();
  ASSERT_TRUE(line) << watch->Stderr();
  EXPECT_TRUE(Contains(*line, "\"reels\":[{\"reel\":0,\"position\":")) << *line;
  EXPECT_TRUE(Contains(*line, "{\"reel\":1,\"position\":")) << *line;
  EXPECT_EQ(watch->Wait(), 0);

  const Result status = Ctl({"reels", "status"});
  EXPECT_EQ(LineCount(status.out), 3u);
  EXPECT_EQ(status.out.rfind("reel 0: position ", 0), 0u) << status.out;
}

// ---- Memories ---------------------------------------------------------------

std::vector<std::uint8_t> RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> bytes(count);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

TEST_F(K27ctlTest, SramLoadVerifyDumpAndCompareInBothFormats) {
  const auto bytes = RandomBytes(1000, 7);
  const fs::path raw = dir_ / "image.bin";
  WriteFile(raw, std::string(bytes.begin(), bytes.end()));
  auto mark = Mark();
  const Result load =
      Ctl({"--json", "sram", "load", raw.string(), "--address", "0x100", "--verify"});
  ASSERT_EQ(load.status, 0) << load.err;
  EXPECT_EQ(load.out.rfind("{\"file\":\"" + raw.string() +
                               "\",\"written\":1000,\"verified\":true,\"first_difference\":null,"
                               "\"sha256\":\"",
                           0),
            0u)
      << load.out;
  EXPECT_TRUE(load.err.empty()) << "a progress bar in a pipe: " << load.err;
  EXPECT_TRUE(Traced(mark, "ch=6 out=473C0001"));  // 60 bytes at 0x0100
  EXPECT_TRUE(Traced(mark, "ch=6 out=463E0001"));  // read back, 62 at 0x0100

  // Dumped as Intel HEX and compared; the dump reads what was loaded.
  const fs::path hex = dir_ / "dump.hex";
  const Result dump = Ctl({"sram", "dump", hex.string(), "--address", "0x100", "--count", "1000"});
  ASSERT_EQ(dump.status, 0) << dump.err;
  const std::string text = ReadFile(hex);
  EXPECT_EQ(text.substr(0, 9), ":10010000");
  EXPECT_EQ(text.substr(text.size() - 12), ":00000001FF\n");
  EXPECT_EQ(Ctl({"sram", "compare", hex.string()}).status, 0);
  EXPECT_EQ(Ctl({"sram", "compare", raw.string(), "--address", "0x100"}).status, 0);

  // One byte changed at 0x0100 + 500: compare names it.
  auto changed = bytes;
  changed[500] ^= 0xFF;
  WriteFile(raw, std::string(changed.begin(), changed.end()));
  const Result differs = Ctl({"--json", "sram", "compare", raw.string(), "--address", "0x100"});
  EXPECT_EQ(differs.status, 1);
  EXPECT_TRUE(Contains(differs.out, "\"equal\":false,\"differences\":1,\"first_difference\":756,"))
      << differs.out;
  EXPECT_TRUE(Contains(differs.err, "at 0x02F4")) << differs.err;
}

TEST_F(K27ctlTest, CorruptIntelHexIsRefusedBeforeAnythingIsWritten) {
  const std::vector<std::pair<std::string, std::string>> files{
      {"checksum", ":0401000001020304F2\n:00000001FF\n"},
      {"cut short", ":0401000001020304F1\n"},
      {"length", ":0501000001020304F2\n:00000001FF\n"},
      {"not hex", ":04010000010203G4F2\n:00000001FF\n"},
      {"after end", ":00000001FF\n:0401000001020304F1\n"},
      {"beyond 0xFFFF", ":020000040001F9\n:0401000001020304F1\n:00000001FF\n"},
      {"conflict", ":0401000001020304F1\n:0101000009F5\n:00000001FF\n"},
  };
  // A good file first, to show what a corrupt one would have written.
  const fs::path good = dir_ / "good.hex";
  WriteFile(good, ":0401000001020304F1\n:00000001FF\n");
  auto mark = Mark();
  ASSERT_EQ(Ctl({"sram", "load", good.string()}).status, 0);
  EXPECT_TRUE(Traced(mark, "ch=6 out=4704000101020304"));
  for (const auto& [what, content] : files) {
    const fs::path path = dir_ / "bad.hex";
    WriteFile(path, content);
    mark = Mark();
    const Result r = Ctl({"sram", "load", path.string()});
    EXPECT_EQ(r.status, 2) << what << ": " << r.err;
    EXPECT_TRUE(Writes(mark).empty()) << what;
  }
}

TEST_F(K27ctlTest, EepromKeepsToItsRangeAndRoundTrips) {
  // The first eight bytes are not the library's to touch; the end is the
  // probed device's (8192 bytes, of which the library reaches 8191).
  const Result tooFar = Ctl({"eeprom", "read", "8190", "2"});
  EXPECT_EQ(tooFar.status, 2) << tooFar.err;
  const Result edge = Ctl({"--json", "eeprom", "read", "8190", "1"});
  EXPECT_EQ(edge.status, 0) << edge.err;

  const auto bytes = RandomBytes(300, 11);
  const fs::path raw = dir_ / "eeprom.bin";
  WriteFile(raw, std::string(bytes.begin(), bytes.end()));
  const auto mark = Mark();
  ASSERT_EQ(Ctl({"eeprom", "load", raw.string(), "--verify"}).status, 0);
  EXPECT_TRUE(Traced(mark, "ch=2 out=043C0800"));  // 60 bytes at 8
  const Result read = Ctl({"--json", "eeprom", "read", "8", "4"});
  EXPECT_EQ(
      read.out, "{\"address\":8,\"count\":4,\"bytes\":\"" + [&] {
        std::ostringstream hex;
        for (int i = 0; i < 4; ++i) {
          char pair[3];
          std::snprintf(pair, sizeof pair, "%02X", bytes[static_cast<std::size_t>(i)]);
          hex << pair;
        }
        return hex.str();
      }() + "\"}\n");

  const fs::path whole = dir_ / "eeprom-dump.bin";
  ASSERT_EQ(Ctl({"eeprom", "dump", whole.string()}).status, 0);
  EXPECT_EQ(fs::file_size(whole), 8191u - 8u);
  EXPECT_EQ(ReadFile(whole).substr(0, 300), std::string(bytes.begin(), bytes.end()));

  const fs::path big = dir_ / "too-big.bin";
  WriteFile(big, std::string(8200, 'x'));
  const auto before = Mark();
  EXPECT_EQ(Ctl({"eeprom", "load", big.string()}).status, 2);
  EXPECT_TRUE(Writes(before).empty());
}

// ---- Clock, security, random numbers, SPI ----------------------------------

TEST_F(K27ctlTest, ClockSecurityRandomAndSpi) {
  auto mark = Mark();
  ASSERT_EQ(Ctl({"clock", "set", "258"}).status, 0);
  EXPECT_TRUE(Traced(mark, "ezusb-0 ch=5 out=1402010000"));
  const Result clock = Ctl({"--json", "clock", "get"});
  ASSERT_EQ(clock.status, 0) << clock.err;
  EXPECT_EQ(clock.out.rfind("{\"clock\":", 0), 0u);
  EXPECT_EQ(Ctl({"clock", "set", "--from-system"}).status, 0);

  const Result records = Ctl({"--json", "security", "read"});
  ASSERT_EQ(records.status, 0) << records.err;
  EXPECT_EQ(records.out.rfind("{\"records\":[", 0), 0u) << records.out;
  EXPECT_EQ(Ctl({"security", "clear"}).status, 0);
  EXPECT_EQ(Ctl({"--json", "security", "flags"}).out.rfind("{\"flags\":[", 0), 0u);

  const Result numbers = Ctl({"--json", "random", "3", "--seed", "0x12345678"});
  ASSERT_EQ(numbers.status, 0) << numbers.err;
  EXPECT_EQ(std::count(numbers.out.begin(), numbers.out.end(), ','), 2) << numbers.out;

  mark = Mark();
  ASSERT_EQ(Ctl({"spi", "enable"}).status, 0);
  const Result spi = Ctl({"--json", "spi", "transfer", "12", "0ABC", "--receive", "16"});
  ASSERT_EQ(spi.status, 0) << spi.err;
  EXPECT_TRUE(Traced(mark, "ch=7 out=5E"));
  EXPECT_TRUE(Traced(mark, "ch=7 out=600C10000ABC"));
  EXPECT_EQ(spi.out.rfind("{\"received\":\"", 0), 0u);
  ASSERT_EQ(Ctl({"spi", "sec", "0x11", "0x22", "0102"}).status, 0);
  EXPECT_TRUE(Traced(mark, "ch=7 out=6030200011220201023"));
}

// ---- Serial ports and ccTalk -----------------------------------------------

TEST_F(K27ctlTest, SerialConfigSendAndReceiveThroughALoopback) {
  SimCtl({"serial", "A", "attach", "loopback"});
  auto mark = Mark();
  ASSERT_EQ(Ctl({"serial", "A", "config", "--baud", "19200", "--parity", "even"}).status, 0);
  EXPECT_TRUE(Traced(mark, "ch=3 out=6100010000F600"));
  ASSERT_EQ(Ctl({"serial", "a", "send", "--text", "hi"}).status, 0);
  EXPECT_TRUE(Traced(mark, "ch=3 out=626869"));
  const Result got = Ctl({"--json", "serial", "A", "receive", "--timeout", "20", "--count", "2"});
  ASSERT_EQ(got.status, 0) << got.err;
  EXPECT_EQ(got.out, "{\"port\":\"A\",\"count\":2,\"bytes\":\"6869\",\"text\":\"hi\"}\n");
  ASSERT_EQ(Ctl({"serial", "A", "send", "00:01:FF"}).status, 0);
  EXPECT_TRUE(Traced(mark, "ch=3 out=620001FF"));
  SimCtl({"serial", "A", "attach", "none"});
}

TEST_F(K27ctlTest, CcTalkTransactionsByNameAndNumber) {
  SimCtl({"serial", "B", "attach", "cctalk"});
  SimCtl({"serial", "B", "power", "on"});
  const auto mark = Mark();
  const Result poll = Ctl({"--json", "cctalk", "2", "simple-poll"});
  ASSERT_EQ(poll.status, 0) << poll.err;
  EXPECT_EQ(poll.out,
            "{\"request\":{\"destination\":2,\"source\":1,\"header\":254,\"name\":\"Simple "
            "poll\",\"data\":\"\","
            "\"text\":\"\",\"frame\":\"020001FEFF\"},\"reply\":{\"destination\":1,\"source\":2,"
            "\"header\":0,"
            "\"name\":\"ACK\",\"data\":\"\",\"text\":\"\",\"frame\":\"01000200FD\",\"layout\":\"\"}"
            ",\"error\":null}\n");
  EXPECT_TRUE(Traced(mark, "ezusb-0 ch=4 out=6102000000B2FF"));  // ccTalk at 9600 on port B
  EXPECT_TRUE(Traced(mark, "ch=4 out=62020001FEFF"));

  const Result category = Ctl({"cctalk", "2", "245"});
  ASSERT_EQ(category.status, 0) << category.err;
  EXPECT_TRUE(Contains(category.out, "reply   ACK with equipment category [0] from 2 to 1, data"))
      << category.out;
  EXPECT_TRUE(Contains(category.out, "|Coin Acceptor|")) << category.out;
  EXPECT_TRUE(Contains(category.out, "data layout: [ ASCII characters ]")) << category.out;

  const Result inhibit = Ctl({"cctalk", "2", "modify inhibit status", "0xFF", "3"});
  EXPECT_EQ(inhibit.status, 0) << inhibit.err;
  EXPECT_TRUE(Traced(mark, "ch=4 out=62020201E7FF0312"));

  const Result nobody = Ctl({"--json", "cctalk", "9", "254"});
  EXPECT_EQ(nobody.status, 1);
  EXPECT_TRUE(
      Contains(nobody.out, "\"reply\":null,\"error\":\"no reply from address 9 (timed out)\""))
      << nobody.out;

  SimCtl({"serial", "B", "power", "off"});
  const Result dead = Ctl({"cctalk", "2", "254"});
  EXPECT_EQ(dead.status, 1);
  EXPECT_TRUE(Contains(dead.err, "no 12V power")) << dead.err;
  SimCtl({"serial", "B", "power", "on"});
}

TEST_F(K27ctlTest, CcTalkScanAndPollCount) {
  SimCtl({"serial", "B", "attach", "cctalk"});
  SimCtl({"serial", "B", "power", "on"});
  const Result scan = Ctl({"--json", "cctalk", "scan", "--first", "1", "--last", "4"});
  ASSERT_EQ(scan.status, 0) << scan.err;
  EXPECT_EQ(scan.out,
            "{\"devices\":[{\"address\":2,\"category\":\"Coin "
            "Acceptor\",\"product\":\"K27SimCoin\"}],\"polled\":3}\n");
  EXPECT_TRUE(scan.err.empty()) << scan.err;

  const Result good = Ctl({"--json", "cctalk", "poll", "--repeat", "3", "--interval", "0"});
  ASSERT_EQ(good.status, 0) << good.err;
  EXPECT_EQ(good.out, "{\"sent\":3,\"good\":3,\"timed_out\":0,\"invalid\":0,\"error\":null}\n");

  const Result missing = Ctl({"cctalk", "poll", "7", "--repeat", "2", "--interval", "0"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "sent 2  good 0  timed out 2  invalid 0\n");
}

}  // namespace
}  // namespace vantrel::ctl::test
