// k27ctl as an end-of-line test station uses it, against `vantrelio
// --simulate`: dumps that never destroy their target, loads that are read
// back, image digests, ccTalk polls that count line faults and go on, boards
// picked by serial number, fixture waits on an input, and messages that say
// what to do.
#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "CtlTestFixture.h"

namespace vantrel::ctl::test {
namespace {

// SHA-256 of "abc" (FIPS 180-2, appendix B.1).
constexpr char kAbcSha256[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

struct stat StatOf(const fs::path& path) {
  struct stat status {};
  ::lstat(path.c_str(), &status);
  return status;
}

class K27ctlStationTest : public CtlTest {
 protected:
  static void SetUpTestSuite() { StartDaemon({"--eeprom-bytes", "8192"}, true); }
};

// ---- Dumps ------------------------------------------------------------------

TEST_F(K27ctlStationTest, DumpRefusesWhatIsNotARegularFileAndLeavesItAsItIs) {
  const fs::path fifo = dir_ / "station.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const fs::path toFifo = dir_ / "link-to-fifo.bin";
  fs::create_symlink(fifo, toFifo);
  // The system's device only through a link of the test's own: a dump that
  // went wrong would replace the link, never the device.
  const fs::path toNull = dir_ / "link-to-null.bin";
  fs::create_symlink("/dev/null", toNull);
  const std::vector<std::pair<fs::path, std::string>> targets{
      {fifo, " is a FIFO, not a regular file"},
      {toFifo, " is a symbolic link to a FIFO"},
      {toNull, " is a symbolic link to a character device"},
  };
  for (const auto& [target, reason] : targets) {
    const Result r = Ctl({"eeprom", "dump", target.string()});
    EXPECT_EQ(r.status, 1) << target;
    EXPECT_TRUE(Contains(r.err, reason)) << r.err;
    EXPECT_EQ(LineCount(r.err), 1u) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  EXPECT_TRUE(S_ISFIFO(StatOf(fifo).st_mode));
  EXPECT_TRUE(fs::is_symlink(toFifo));
  EXPECT_TRUE(fs::is_symlink(toNull));

  // A device node of the kind of /dev/full, where one may be made.
  if (geteuid() == 0) {
    const fs::path node = dir_ / "full";
    ASSERT_EQ(::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
    const Result r = Ctl({"eeprom", "dump", node.string()});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(S_ISCHR(StatOf(node).st_mode));
    EXPECT_EQ(StatOf(node).st_rdev, makedev(1, 7));
    EXPECT_FALSE(fs::exists(node.string() + ".partial"));
  }
}

TEST_F(K27ctlStationTest, DumpRewritesAFileInPlaceOnlyAfterTheWholeReadOrGoesToStandardOutput) {
  // An existing file keeps its inode and mode; it gets the whole image.
  const fs::path file = dir_ / "station-eeprom.bin";
  WriteFile(file, "an older image");
  ::chmod(file.c_str(), 0600);
  const ino_t inode = StatOf(file).st_ino;
  const Result dump = Ctl({"eeprom", "dump", file.string()});
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_EQ(fs::file_size(file), 8191u - 8u);
  EXPECT_EQ(StatOf(file).st_ino, inode);
  EXPECT_EQ(StatOf(file).st_mode & 07777, 0600u);

  // "-" is standard output, with the summary on standard error.
  const Result out = Ctl({"eeprom", "dump", "-", "--count", "16"});
  ASSERT_EQ(out.status, 0) << out.err;
  EXPECT_EQ(out.out, ReadFile(file).substr(0, 16));
  EXPECT_FALSE(fs::exists("-"));  // beside the test, where a file named - would go
  EXPECT_TRUE(Contains(out.err, "dumped 16 bytes from 0x0008 to standard output, sha256 "))
      << out.err;

  // A read that fails writes nothing.
  WriteFile(file, "kept");
  SimCtl({"fault", "6", "46", "status=15", "1"});
  const Result failed = Ctl({"sram", "dump", file.string(), "--count", "1000"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_TRUE(Contains(failed.err, "USB_MESSAGE_SRAM_ADDRESSING_ERROR")) << failed.err;
  EXPECT_EQ(ReadFile(file), "kept");
}

// ---- Loads and image digests -------------------------------------------------

TEST_F(K27ctlStationTest, LoadReadsBackUnlessToldNotToAndEveryImageHasItsSha256) {
  const fs::path abc = dir_ / "abc.bin";
  WriteFile(abc, "abc");
  auto mark = Mark();
  const Result load = Ctl({"--json", "sram", "load", abc.string(), "--address", "0x200"});
  ASSERT_EQ(load.status, 0) << load.err;
  EXPECT_EQ(load.out, "{\"file\":\"" + abc.string() +
                          "\",\"written\":3,\"verified\":true,\"first_difference\":null,"
                          "\"sha256\":\"" +
                          kAbcSha256 + "\"}\n");
  EXPECT_TRUE(Traced(mark, "ch=6 out=46030002"));  // read back, 3 at 0x0200

  mark = Mark();
  const Result unchecked = Ctl({"sram", "load", abc.string(), "--address", "0x200", "--no-verify"});
  ASSERT_EQ(unchecked.status, 0) << unchecked.err;
  EXPECT_TRUE(Contains(unchecked.out, "not verified")) << unchecked.out;
  EXPECT_FALSE(Traced(mark, "ch=6 out=46"));

  // The read-back finds the byte the board gives wrong.
  SimCtl({"fault", "6", "46", "corrupt", "1"});
  const Result wrong = Ctl({"--json", "sram", "load", abc.string(), "--address", "0x200"});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_TRUE(Contains(wrong.out, "\"verified\":false,\"first_difference\":514,")) << wrong.out;
  EXPECT_TRUE(Contains(wrong.err, "verify failed at 0x0202: wrote 0x63, read 0x9C")) << wrong.err;

  // What was loaded dumps and compares to the same digest.
  const fs::path back = dir_ / "abc-back.hex";
  const Result dump =
      Ctl({"--json", "sram", "dump", back.string(), "--address", "0x200", "--count", "3"});
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_TRUE(Contains(dump.out, std::string("\"format\":\"hex\",\"sha256\":\"") + kAbcSha256))
      << dump.out;
  const Result compare = Ctl({"--json", "sram", "compare", back.string()});
  ASSERT_EQ(compare.status, 0) << compare.err;
  EXPECT_TRUE(Contains(compare.out, std::string("\"sha256\":\"") + kAbcSha256)) << compare.out;
}

// ---- ccTalk ------------------------------------------------------------------

TEST_F(K27ctlStationTest, CcTalkPollCountsEveryLineFaultAndGoesOn) {
  SimCtl({"serial", "B", "attach", "cctalk"});
  const std::vector<std::pair<Strings, std::string>> faults{
      {{"echo", "altered"}, "the local echo differs from the request: sent 020001FEFF"},
      {{"echo", "short"}, "read back 020001FE\n"},
      {{"reply", "checksum"}, "invalid reply from address 2: bad checksum (01000200FE)"},
      {{"reply", "address"}, "the reply is addressed from 3 to 1"},
      {{"power", "off"}, "no local echo of the request: the ccTalk bus has no 12V power"},
  };
  for (const auto& [fault, text] : faults) {
    Strings command{"serial", "B"};
    command.insert(command.end(), fault.begin(), fault.end());
    SimCtl(command);
    const Result poll = Ctl({"--json", "cctalk", "poll", "--repeat", "3", "--interval", "0"});
    EXPECT_EQ(poll.status, 1) << fault[1];
    EXPECT_EQ(poll.out, "{\"sent\":3,\"good\":0,\"timed_out\":0,\"invalid\":3,\"error\":null}\n")
        << fault[1];
    EXPECT_TRUE(Contains(poll.err, text)) << poll.err;
    EXPECT_FALSE(Contains(poll.err, "CcctalkMessage")) << poll.err;
    SimCtl({"serial", "B", "echo", "normal"});
    SimCtl({"serial", "B", "reply", "normal"});
    SimCtl({"serial", "B", "power", "on"});
  }

  // One transaction with a bad echo is an object as a time-out is.
  SimCtl({"serial", "B", "echo", "altered"});
  const Result one = Ctl({"--json", "cctalk", "2", "simple poll"});
  EXPECT_EQ(one.status, 1);
  EXPECT_TRUE(Contains(one.out, "\"reply\":null,\"error\":\"the local echo differs")) << one.out;
  SimCtl({"serial", "B", "echo", "normal"});

  // A board failure ends the poll, with the counts so far.
  SimCtl({"fault", "4", "66", "status=1"});
  const Result broken = Ctl({"--json", "cctalk", "poll", "--repeat", "3"});
  SimCtl({"fault", "4", "66", "none"});
  EXPECT_EQ(broken.status, 1);
  // One object: the counts, and the failure that ended the poll.
  EXPECT_EQ(
      broken.out.rfind("{\"sent\":0,\"good\":0,\"timed_out\":0,\"invalid\":0,\"error\":{\"code\":1,"
                       "\"name\":\"USB_MESSAGE_NOT_RECOGNISED\",",
                       0),
      0u)
      << broken.out;
  EXPECT_EQ(std::count(broken.out.begin(), broken.out.end(), '\n'), 1) << broken.out;
  EXPECT_TRUE(Contains(broken.err, "ReceiveByteWithTimestamp: ")) << broken.err;
  EXPECT_EQ(Ctl({"cctalk", "poll", "--repeat", "2", "--interval", "0"}).status, 0);
}

TEST_F(K27ctlStationTest, CcTalkNamesNeedADictionaryAndANameNotFoundNamesTheFolders) {
  SimCtl({"serial", "B", "attach", "cctalk"});
  const fs::path none = dir_ / "no-dictionaries";
  fs::create_directories(none);
  const Result missing = Ctl({"cctalk", "--dictionaries", none.string(), "2", "simple poll"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(Contains(missing.err, "no ccTalk dictionary found in " + none.string()))
      << missing.err;
  EXPECT_TRUE(Contains(missing.err, "k27-cctalk-dictionaries")) << missing.err;
  // A poll needs no dictionary: simple poll is header 254.
  EXPECT_EQ(Ctl({"cctalk", "--dictionaries", none.string(), "poll", "--repeat", "1"}).status, 0);

  const Result unknown = Ctl({"cctalk", "2", "no such command"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_TRUE(Contains(unknown.err, "share/k27diag/dictionaries (")) << unknown.err;
}

// ---- Fresh-board messages ---------------------------------------------------

TEST_F(K27ctlStationTest, RandomOnADisabledGeneratorSaysHowToEnableIt) {
  ASSERT_EQ(Ctl({"--board", "1", "random", "disable"}).status, 0);
  const Result disabled = Ctl({"--board", "1", "random"});
  EXPECT_EQ(disabled.status, 1);
  EXPECT_TRUE(Contains(disabled.err, "random number generator is disabled")) << disabled.err;
  EXPECT_TRUE(Contains(disabled.err, "'k27ctl random --seed VALUE'")) << disabled.err;
  EXPECT_EQ(Ctl({"--board", "1", "random", "--seed", "7"}).status, 0);
  EXPECT_EQ(Ctl({"--board", "1", "random"}).status, 0);
}

// ---- Boards by serial number, fixture waits ---------------------------------

TEST_F(K27ctlStationTest, BoardsAreFoundByTheirOwnSerialNumbers) {
  const Result second = Ctl({"--serial", "K2700002", "--json", "dips"});
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_TRUE(Contains(second.out, "\"address\":1")) << second.out;
  const Result first = Ctl({"--serial", "4b32373030303031", "--json", "dips"});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_TRUE(Contains(first.out, "\"address\":0")) << first.out;
  EXPECT_TRUE(Contains(Ctl({"--json", "list"}).out, "\"serial_text\":\"K2700002\""));

  const Result absent = Ctl({"--serial", "K2700009", "dips"});
  EXPECT_EQ(absent.status, 1);
  EXPECT_TRUE(Contains(absent.err, "no board with serial number K2700009")) << absent.err;
  EXPECT_EQ(Ctl({"--serial", "K2 7", "dips"}).status, 2);
  EXPECT_EQ(Ctl({"--serial", "K2700001", "--board", "0", "dips"}).status, 2);
}

TEST_F(K27ctlStationTest, WaitInputEndsWhenTheInputReadsTheValueOrFailsAfterTheTime) {
  SimCtl({"inputs", "FFFFFFF8FF"});
  const Result late = Ctl({"--json", "wait-input", "3", "0", "--within", "0.1"});
  EXPECT_EQ(late.status, 1);
  EXPECT_TRUE(Contains(late.out, "{\"input\":3,\"name\":\"input3\",\"value\":0,\"reached\":false,"))
      << late.out;
  EXPECT_TRUE(Contains(late.out, "\"reads\":1}")) << late.out;
  EXPECT_TRUE(Contains(late.err, "input3 did not read 0 within 0.1 s")) << late.err;

  auto wait = Start({"--json", "wait-input", "3", "0", "--within", "60"});
  const auto mark = Mark();
  ASSERT_TRUE(WaitForTrace(mark, "ezusb-0 ch=1 out=4B"));
  SimCtl({"inputs", "F7FFFFF8FF"});
  EXPECT_EQ(wait->Wait(), 0) << wait->Stderr();
  EXPECT_TRUE(Contains(wait->Stdout(), "\"value\":0,\"reached\":true,")) << wait->Stdout();
  EXPECT_EQ(Ctl({"wait-input", "3", "0", "--within", "0"}).status, 0);  // it reads 0 already
  SimCtl({"inputs", "FFFFFFF8FF"});

  for (const Strings& bad : {Strings{"wait-input", "3", "0"}, Strings{"wait-input", "40", "0"},
                             Strings{"wait-input", "3", "2", "--within", "1"},
                             Strings{"wait-input", "3", "0", "--within", "soon"}})
    EXPECT_EQ(Ctl(bad).status, 2) << bad[1] << " " << bad[2];
}

}  // namespace
}  // namespace vantrel::ctl::test
