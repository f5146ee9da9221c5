// k27ctl's conventions against `vantrelio --simulate`: checked output, JSON
// failure objects, the exit-status table, options anywhere on the line, and
// the messages that tell why a board cannot be reached.
#include <gtest/gtest.h>

#include <algorithm>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "CtlTestFixture.h"

namespace vantrel::ctl::test {
namespace {

// A folder of its own for sockets the test makes, open to every user.
class ScratchFolder {
 public:
  ScratchFolder() {
    char name[] = "/tmp/k27ctl-conventions.XXXXXX";
    path_ = ::mkdtemp(name) != nullptr ? name : "";
    ::chmod(path_.c_str(), 0755);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

// A SOCK_SEQPACKET socket bound at `path`; listening, or closed again so that
// only the file is left.
int BindSocket(const fs::path& path, bool listening) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return -1;
  if (listening) {
    ::listen(fd, 4);
    return fd;
  }
  ::close(fd);
  return -1;
}

class K27ctlConventionsTest : public CtlTest {
 protected:
  static void SetUpTestSuite() { StartDaemon({}, false); }

  // k27ctl with its standard output redirected by the shell (`redirect`).
  static Result Redirected(const std::string& redirect, const Strings& args) {
    Strings argv{"/bin/sh", "-c", "exec \"$0\" \"$@\" " + redirect, K27CTL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return Wait(argv);
  }
};

// {"error":{"code":…,"name":NAME,"message":…}} and nothing else on stdout.
void ExpectJsonError(const Result& r, const std::string& name, const std::string& code = "null") {
  const std::regex shape("\\{\"error\":\\{\"code\":" + code + ",\"name\":\"" + name +
                         "\",\"message\":\"[^\"\\n]+\"\\}\\}\n");
  EXPECT_TRUE(std::regex_match(r.out, shape)) << r.out;
  EXPECT_TRUE(Contains(r.err, "k27ctl: ")) << r.err;
}

// ---- Output -----------------------------------------------------------------

TEST_F(K27ctlConventionsTest, AFailedWriteToStandardOutputExitsWith1AndSaysWhy) {
  for (const auto& [redirect, args] : std::vector<std::pair<std::string, Strings>>{
           {">/dev/full", {"--json", "list"}},
           {">/dev/full", {"eeprom", "read", "8", "64"}},
           {">/dev/full", {"--help"}},
           {">/dev/full", {"inputs", "--help"}},
           {">&-", {"list"}},
           {">&-", {"--version"}},
       }) {
    const Result r = Redirected(redirect, args);
    EXPECT_EQ(r.status, 1) << redirect << " " << args.back() << ": " << r.err;
    EXPECT_TRUE(Contains(r.err, "k27ctl: cannot write to standard output: ")) << r.err;
  }
  // A closed standard output got nothing the libraries opened: their shared
  // records are intact, and the next run works.
  const Result after = Ctl({"list"});
  EXPECT_EQ(after.status, 0) << after.err;
  EXPECT_TRUE(Contains(after.out, "board 1: address 1")) << after.out;
}

// ---- JSON failures -------------------------------------------------------------

TEST_F(K27ctlConventionsTest, EveryFailureInJsonIsAnObjectOnStandardOutput) {
  ExpectJsonError(Ctl({"--json", "inputs", "--colour"}), "USAGE");
  ExpectJsonError(Ctl({"inputs", "--colour", "--json"}), "USAGE");  // before getopt reached it
  ExpectJsonError(Ctl({"-j", "frobnicate"}), "USAGE");
  ExpectJsonError(Ctl({"--json", "--board", "5", "inputs"}), "NO_DAEMON");
  ExpectJsonError(Ctl({"--json", "--address", "7", "dips"}), "FAILED");
  // What came before the failure stays, the failure follows.
  const Result receive =
      Ctl({"--json", "serial", "B", "receive", "--count", "5", "--timeout", "0.1"});
  EXPECT_TRUE(Contains(receive.out,
                       "{\"port\":\"B\",\"count\":0,\"bytes\":\"\",\"text\":\"\"}\n"
                       "{\"error\":{\"code\":null,\"name\":\"TIMED_OUT\""))
      << receive.out;
  // A board error carries its code and name.
  Process fault({K27SIMCTL_PATH, "--device-dir", daemon_->DeviceDir().string(), "fault", "5", "15",
                 "short", "1"});
  ASSERT_EQ(fault.Wait(), 0) << fault.Stderr();
  const Result board = Ctl({"clock", "get", "--json"});
  EXPECT_EQ(board.status, 1);
  ExpectJsonError(board, "USB_DEVICE_BYTE_COUNT_ERROR", "[0-9]+");
  EXPECT_TRUE(Contains(board.out, "\"message\":\"GetClock: USB_DEVICE_BYTE_COUNT_ERROR\""))
      << board.out;
  // A failure of the ccTalk frame code reads as what happened.
  SimCtl({"serial", "B", "attach", "cctalk"});
  SimCtl({"serial", "B", "power", "off"});
  const Result dead = Ctl({"--json", "cctalk", "2", "254"});
  SimCtl({"serial", "B", "power", "on"});
  EXPECT_EQ(dead.status, 1);
  EXPECT_EQ(dead.err,
            "k27ctl: no local echo of the request: the ccTalk bus has no 12V power, or nothing is "
            "attached\n");
  // One object: the transaction's result, whose "error" tells the failure.
  EXPECT_EQ(std::count(dead.out.begin(), dead.out.end(), '\n'), 1) << dead.out;
  EXPECT_NE(dead.out.find("\"reply\":null,\"error\":\"no local echo of the request: the ccTalk "
                          "bus has no 12V power"),
            std::string::npos)
      << dead.out;

  // Without --json, standard output stays empty.
  EXPECT_EQ(Ctl({"--board", "5", "inputs"}).out, "");
}

// ---- Exit statuses ---------------------------------------------------------------

TEST_F(K27ctlConventionsTest, TimeOutsAndFilesGiveOneExitStatusEach) {
  // A receive and a watch that miss their --count both fail, after printing
  // what came.
  const Result receive = Ctl({"serial", "B", "receive", "--count", "5", "--timeout", "0.2"});
  EXPECT_EQ(receive.status, 1) << receive.err;
  EXPECT_TRUE(Contains(receive.out, "nothing received on port B")) << receive.out;
  EXPECT_TRUE(Contains(receive.err, "received 0 of 5 bytes")) << receive.err;
  const Result watch = Ctl({"inputs", "--watch", "--count", "5", "--timeout", "0.2"});
  EXPECT_EQ(watch.status, 1) << watch.err;
  // Without --count, running out the time is the end asked for.
  EXPECT_EQ(Ctl({"serial", "B", "receive", "--timeout", "0.1"}).status, 0);
  EXPECT_EQ(Ctl({"inputs", "--watch", "--timeout", "0.1"}).status, 0);

  // A file that cannot be read fails as one that cannot be written does;
  // invalid contents stay a usage error.
  ScratchFolder scratch;
  EXPECT_EQ(Ctl({"sram", "load", "/nonexistent/file.bin"}).status, 1);
  EXPECT_EQ(Ctl({"sram", "dump", "/nonexistent/file.bin", "--count", "16"}).status, 1);
  const fs::path corrupt = scratch.Path() / "corrupt.hex";
  {
    std::FILE* f = std::fopen(corrupt.c_str(), "w");
    std::fputs(":zz\n", f);
    std::fclose(f);
  }
  EXPECT_EQ(Ctl({"sram", "load", corrupt.string()}).status, 2);

  const Result help = Ctl({"--help"});
  EXPECT_TRUE(Contains(help.out, "Exit status:\n  0  success")) << help.out;
  EXPECT_TRUE(Contains(help.out, "  2  usage")) << help.out;
}

// ---- Options ---------------------------------------------------------------------

TEST_F(K27ctlConventionsTest, GlobalOptionsStandAnywhereWithShortForms) {
  for (const char* version : {"--version", "-V"}) {
    const Result r = Ctl({version});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::regex_match(r.out, std::regex("k27ctl [0-9]+\\.[0-9]+\n"))) << r.out;
  }
  const Result before = Ctl({"--json", "--board", "1", "dips"});
  ASSERT_EQ(before.status, 0) << before.err;
  EXPECT_TRUE(Contains(before.out, "\"address\":1")) << before.out;
  for (const Strings& args : std::vector<Strings>{{"dips", "--json", "--board", "1"},
                                                  {"-j", "-b", "1", "dips"},
                                                  {"dips", "-jb1"},
                                                  {"-b1", "dips", "-j"},
                                                  {"dips", "--board=1", "-t", "5", "--json"}}) {
    const Result r = Ctl(args);
    EXPECT_EQ(r.status, 0) << args.front() << ": " << r.err;
    EXPECT_EQ(r.out, before.out) << args.front();
  }
  EXPECT_EQ(Ctl({"list", "--json"}).status, 0);
  EXPECT_EQ(Ctl({"-h"}).status, 0);

  // After inputs, --timeout is the watch's own; -t is the daemon's wait.
  const Result watch = Ctl({"inputs", "--watch", "--timeout", "0.1", "-t", "20"});
  EXPECT_EQ(watch.status, 0) << watch.err;
  for (const Strings& bad : std::vector<Strings>{{"-t", "0", "dips"},
                                                 {"dips", "--timeout", "soon"},
                                                 {"dips", "--address", "1", "-b", "1"},
                                                 {"-x", "dips"}}) {
    const Result r = Ctl(bad);
    EXPECT_EQ(r.status, 2) << bad.front() << " " << bad.back() << ": " << r.err;
  }
}

// ---- Reaching the daemon ---------------------------------------------------------

TEST_F(K27ctlConventionsTest, UnreachableBoardsSayWhy) {
  ScratchFolder scratch;
  const std::string dir = scratch.Path().string();

  // No socket at all, and a socket left by a daemon that ended.
  const Result none = Ctl({"dips"}, dir);
  EXPECT_EQ(none.status, 1);
  EXPECT_TRUE(Contains(none.err, "no daemon serves board 0: there is no socket " + dir))
      << none.err;
  BindSocket(scratch.Path() / "ezusb-0", false);
  const Result stale = Ctl({"dips"}, dir);
  EXPECT_EQ(stale.status, 1);
  EXPECT_TRUE(Contains(stale.err, "no daemon serves board 0: nothing listens on")) << stale.err;

  // A socket the user may not reach names the group to join. As root, the
  // command runs as nobody against root's socket.
  const fs::path socket = scratch.Path() / "ezusb-1";
  const int listening = BindSocket(socket, true);
  ASSERT_GE(listening, 0);
  Strings argv{K27CTL_PATH, "--board", "1", "--json", "dips"};
  std::string group;
  if (::geteuid() == 0) {
    ::chmod(socket.c_str(), 0660);
    argv.insert(argv.begin(),
                {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    group = "root";
  } else {
    ::chmod(socket.c_str(), 0);
  }
  const Result denied = Wait(argv, dir);
  ::close(listening);
  EXPECT_EQ(denied.status, 1) << denied.err;
  EXPECT_TRUE(Contains(denied.err, "cannot reach the socket " + socket.string() +
                                       " (permission: join group " + group))
      << denied.err;
  ExpectJsonError(denied, "NO_ACCESS");
}

TEST_F(K27ctlConventionsTest, AStoppedDaemonDoesNotAnswerWithinTheTimeout) {
  daemon_->Signal(SIGSTOP);
  struct Resume {
    ~Resume() { daemon_->Signal(SIGCONT); }
  } resume;
  for (const Strings& args :
       std::vector<Strings>{{"--timeout", "0.3", "dips"}, {"inputs", "-t", "0.3", "--json"}}) {
    const Result r = Ctl(args);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(Contains(r.err, "k27ctl: the daemon does not answer for board 0")) << r.err;
    EXPECT_TRUE(Contains(r.err, "waited 0.3 s")) << r.err;
  }
}

}  // namespace
}  // namespace vantrel::ctl::test
