// The daemon as systemd runs it: readiness once the sockets exist, the
// watchdog fed from the bus's event thread, the refusal to serve as root
// under systemd, and the switch to its own user.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <vantrel/testsupport/ChildProcess.h>
#include <vantrel/testsupport/SimDaemon.h>

#include "TestClient.h"

namespace vantrel::driver {
namespace {

namespace fs = std::filesystem;
using testsupport::ChildProcess;

const std::vector<std::string> kNoServiceManager{"NOTIFY_SOCKET", "INVOCATION_ID", "WATCHDOG_USEC",
                                                 "WATCHDOG_PID", "VANTREL_DEVICE_DIR"};

ChildProcess Vantrelio(std::vector<std::string> args, std::vector<std::string> environment) {
  args.insert(args.begin(), testsupport::VantrelioPath());
  std::vector<std::string> env = kNoServiceManager;
  env.insert(env.end(), environment.begin(), environment.end());
  return ChildProcess(args, env);
}

std::optional<std::string> OwnUserName() {
  const passwd* entry = ::getpwuid(::getuid());
  if (entry == nullptr) return std::nullopt;
  return std::string(entry->pw_name);
}

// What the service manager hears: datagrams on its notification socket.
class NotifySocket {
 public:
  explicit NotifySocket(const fs::path& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    bound_ =
        fd_ >= 0 && ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    // The daemon may run as another user (root tests switch it).
    ::chmod(path.c_str(), 0666);
  }
  ~NotifySocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Bound() const { return bound_; }
  // The next message holding `field`, or nothing within the limit.
  std::optional<std::string> WaitFor(const std::string& field) {
    timeval limit{30, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::recv(fd_, buffer, sizeof(buffer), 0);
      if (n < 0) return std::nullopt;
      const std::string message(buffer, static_cast<std::size_t>(n));
      if (("\n" + message + "\n").find("\n" + field) != std::string::npos) return message;
    }
  }

 private:
  fs::path path_;
  int fd_ = -1;
  bool bound_ = false;
};

class DaemonServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = test::MakeTempDir();
    // Reachable by a daemon that has switched to another user.
    fs::permissions(dir, fs::perms(0755), fs::perm_options::replace);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

TEST_F(DaemonServiceTest, ReadyOnceTheSocketsExistThenAliveFromTheBusThreadThenStopping) {
  const std::optional<std::string> user = OwnUserName();
  if (!user) GTEST_SKIP() << "this user has no name";
  NotifySocket manager(dir / "notify");
  ASSERT_TRUE(manager.Bound());
  const fs::path devices = dir / "dev";
  // Under a service manager even root names its user.
  ChildProcess d =
      Vantrelio({"--simulate", "--boards", "2", "--device-dir", devices.string(), "--user", *user},
                {"NOTIFY_SOCKET=" + (dir / "notify").string(), "WATCHDOG_USEC=40000"});
  const std::optional<std::string> ready = manager.WaitFor("READY=1");
  ASSERT_TRUE(ready) << d.Stderr();
  EXPECT_NE(ready->find("STATUS=serving the boards in " + devices.string()), std::string::npos);
  // Told ready only once the clients can connect.
  EXPECT_TRUE(fs::is_socket(devices / "ezusb-0"));
  EXPECT_TRUE(fs::is_socket(devices / "ezusb-1"));
  // Every half time-out, 20 ms here: two beats.
  EXPECT_TRUE(manager.WaitFor("WATCHDOG=1"));
  EXPECT_TRUE(manager.WaitFor("WATCHDOG=1"));
  d.Signal(SIGTERM);
  EXPECT_TRUE(manager.WaitFor("STOPPING=1"));
  EXPECT_EQ(d.Wait(), 0) << d.Stderr();
  EXPECT_EQ(d.Stderr().find("running as root"), std::string::npos) << d.Stderr();
}

TEST_F(DaemonServiceTest, WithoutAWatchdogNoBeatIsSentAndReadinessStillIs) {
  const std::optional<std::string> user = OwnUserName();
  if (!user) GTEST_SKIP() << "this user has no name";
  NotifySocket manager(dir / "notify");
  ASSERT_TRUE(manager.Bound());
  ChildProcess d =
      Vantrelio({"--simulate", "--device-dir", (dir / "dev").string(), "--user", *user},
                {"NOTIFY_SOCKET=" + (dir / "notify").string()});
  ASSERT_TRUE(manager.WaitFor("READY=1")) << d.Stderr();
  d.Signal(SIGTERM);
  const std::optional<std::string> next = manager.WaitFor("STOPPING=1");
  ASSERT_TRUE(next);
  EXPECT_EQ(next->find("WATCHDOG"), std::string::npos);
  EXPECT_EQ(d.Wait(), 0) << d.Stderr();
}

TEST_F(DaemonServiceTest, RootRefusesUnderSystemdWithoutUserAndWarnsOnceByHand) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  for (const char* variable : {"INVOCATION_ID=0123456789abcdef", "NOTIFY_SOCKET=/nonexistent"}) {
    ChildProcess refused =
        Vantrelio({"--simulate", "--device-dir", (dir / "refused").string()}, {variable});
    EXPECT_EQ(refused.Wait(), 1) << variable;
    EXPECT_NE(refused.Stderr().find("started by systemd as root without --user"), std::string::npos)
        << refused.Stderr();
    EXPECT_FALSE(fs::exists(dir / "refused")) << "nothing made before the refusal";
  }

  testsupport::SimDaemon byHand;
  ASSERT_TRUE(byHand.Start()) << byHand.Log();
  ASSERT_TRUE(byHand.WaitForLog("vantrelio: serving")) << byHand.Log();
  EXPECT_EQ(byHand.Stop(SIGTERM), 0) << byHand.Log();
  const std::string log = byHand.Log();
  const std::string warning = "vantrelio: running as root";
  const auto first = log.find(warning);
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.find(warning, first + 1), std::string::npos) << log;
  EXPECT_NE(log.find("--user vantrelio", first), std::string::npos) << log;
}

// /proc/PID/status field `name` (Uid, Gid, CapEff, ...), its first value.
std::string StatusField(pid_t pid, const std::string& name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(name + ":", 0) == 0) {
      const auto start = line.find_first_not_of(" \t", name.size() + 1);
      return line.substr(start, line.find_first_of(" \t", start) - start);
    }
  return {};
}

TEST_F(DaemonServiceTest, RootStartedWithUserServesAsThatUserWithoutCapabilities) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  const passwd* nobody = ::getpwnam("nobody");
  if (nobody == nullptr) GTEST_SKIP() << "no user 'nobody' here";
  const fs::path devices = dir / "dev";
  const fs::path trace = dir / "trace.log";
  ChildProcess d = Vantrelio({"--simulate", "--device-dir", devices.string(), "--user", "nobody",
                              "--trace", trace.string()},
                             {});
  // The log goes to standard error; reading standard output pumps both.
  const auto deadline = std::chrono::steady_clock::now() + testsupport::kWaitLimit;
  while (d.Stderr().find("vantrelio: serving") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline)
    d.ReadLine(std::chrono::milliseconds(100));
  ASSERT_TRUE(fs::is_socket(devices / "ezusb-0")) << d.Stderr();
  EXPECT_EQ(StatusField(d.Pid(), "Uid"), std::to_string(nobody->pw_uid));
  EXPECT_EQ(StatusField(d.Pid(), "Gid"), std::to_string(nobody->pw_gid));
  EXPECT_EQ(StatusField(d.Pid(), "CapEff"), "0000000000000000");
  EXPECT_EQ(StatusField(d.Pid(), "CapPrm"), "0000000000000000");
  struct stat folder {};
  ASSERT_EQ(::stat(devices.c_str(), &folder), 0);
  EXPECT_EQ(folder.st_uid, nobody->pw_uid);
  EXPECT_EQ(folder.st_mode & 07777, 0770u);
  // Opened as root before the switch: the trace stays writable.
  EXPECT_TRUE(fs::exists(trace));
  d.Signal(SIGTERM);
  EXPECT_EQ(d.Wait(), 0) << d.Stderr();
  EXPECT_NE(d.Stderr().find("running as user 'nobody'"), std::string::npos) << d.Stderr();
  EXPECT_EQ(d.Stderr().find("running as root"), std::string::npos) << d.Stderr();

  ChildProcess unknown =
      Vantrelio({"--simulate", "--device-dir", devices.string(), "--user", "no-such-user-k27"}, {});
  EXPECT_EQ(unknown.Wait(), 1);
  EXPECT_NE(unknown.Stderr().find("user 'no-such-user-k27' does not exist"), std::string::npos)
      << unknown.Stderr();
}

}  // namespace
}  // namespace vantrel::driver
