// The simulated daemon's launcher: ready when it serves, in a folder of its
// own, stopped cleanly or killed when it hangs.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <filesystem>

#include <vantrel/testsupport/SimDaemon.h>

namespace vantrel::testsupport {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(SimDaemonTest, ServesEveryBoardAndTheConsoleOnceStartedAndCanStartAgain) {
  // The test's own device folder must not lead the daemon elsewhere.
  ::setenv("VANTREL_DEVICE_DIR", "/nonexistent/k27", 1);
  SimDaemon daemon({.boards = 2, .arguments = {"--verbose"}});
  ASSERT_TRUE(daemon.Start()) << daemon.Log();
  EXPECT_TRUE(daemon.Running());
  EXPECT_TRUE(fs::is_socket(daemon.Socket(0)));
  EXPECT_TRUE(fs::is_socket(daemon.Socket(1)));
  EXPECT_FALSE(fs::exists(daemon.Socket(2)));
  EXPECT_TRUE(fs::is_socket(daemon.ConsoleSocket()));
  EXPECT_EQ(daemon.DeviceDir().parent_path(), daemon.Folder());
  EXPECT_TRUE(daemon.Start());  // already running: nothing to do

  EXPECT_EQ(daemon.Stop(SIGINT), 0) << daemon.Log();
  EXPECT_FALSE(daemon.Running());
  EXPECT_TRUE(fs::is_empty(daemon.DeviceDir()));
  EXPECT_EQ(daemon.Stop(), kNotStarted);
  EXPECT_TRUE(daemon.WaitForLog("stopping on"));  // what an ended run wrote stays

  // A second run looks at its own lines only, not the first run's.
  ASSERT_TRUE(daemon.Start()) << daemon.Log();
  EXPECT_FALSE(daemon.WaitForLog("stopping on", 0ms));
  EXPECT_EQ(daemon.Stop(), 0);
  EXPECT_TRUE(daemon.WaitForLog("stopping on"));
  EXPECT_EQ(Count(daemon.Log(), "serving 2 simulated board(s)"), 2) << daemon.Log();
  ::unsetenv("VANTREL_DEVICE_DIR");
}

TEST(SimDaemonTest, FolderFromTheEnvironmentOrMadeBeforehand) {
  SimDaemon fromEnvironment({.deviceDirFromEnvironment = true});
  ASSERT_TRUE(fromEnvironment.Start()) << fromEnvironment.Log();
  EXPECT_TRUE(fromEnvironment.WaitForLog("in " + fromEnvironment.DeviceDir().string()));

  SimDaemon madeBefore({.makeDeviceDir = true});
  EXPECT_TRUE(fs::is_directory(madeBefore.Folder()));
  ASSERT_TRUE(madeBefore.Start()) << madeBefore.Log();
  // A folder of the user's own keeps its permissions (the daemon gives the
  // one it makes 0770).
  EXPECT_NE(fs::status(madeBefore.DeviceDir()).permissions() & fs::perms::all, fs::perms(0770));
}

TEST(SimDaemonTest, DaemonThatEndsAtTheStartFailsTheStartAtOnceWithItsReason) {
  SimDaemon daemon({.arguments = {"--eeprom-bytes", "64"}});
  // An hour: only the daemon's end can make Start return in time.
  EXPECT_FALSE(daemon.Start(std::chrono::hours(1)));
  EXPECT_FALSE(daemon.Running());
  EXPECT_NE(daemon.Log().find("vantrelio: "), std::string::npos) << daemon.Log();

  SimDaemon missing({.program = "/nonexistent/vantrelio"});
  EXPECT_FALSE(missing.Start(std::chrono::hours(1)));
  EXPECT_NE(missing.Log().find("cannot run /nonexistent/vantrelio"), std::string::npos);
}

TEST(SimDaemonTest, DaemonThatDoesNotStopIsKilled) {
  SimDaemon daemon;
  ASSERT_TRUE(daemon.Start()) << daemon.Log();
  const pid_t pid = daemon.Pid();
  daemon.Signal(SIGSTOP);
  EXPECT_EQ(daemon.Stop(SIGTERM, 50ms), kHung);
  EXPECT_FALSE(daemon.Running());
  EXPECT_NE(::kill(pid, 0), 0);  // gone and reaped
  EXPECT_FALSE(daemon.WaitForLog("never written", 1h));
}

}  // namespace
}  // namespace vantrel::testsupport
