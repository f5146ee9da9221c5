// The vantrelio executable, started as a process.
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <vantrel/testsupport/ChildProcess.h>
#include <vantrel/testsupport/SimDaemon.h>

#include "TestClient.h"
#include "vantrel/protocol/ControlCodes.h"
#include "vantrel/protocol/ControlProtocol.h"
#include "vantrel/protocol/SimConsoleProtocol.h"

namespace vantrel::driver {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using test::ExchangeBlock;
using test::ResponseOf;
using test::TestClient;
using testsupport::ChildProcess;
using testsupport::SimDaemon;

// The daemon run as a command: its options and what it says about them.
ChildProcess Vantrelio(std::vector<std::string> args,
                       std::optional<std::string> deviceDirEnv = std::nullopt) {
  args.insert(args.begin(), testsupport::VantrelioPath());
  return ChildProcess(args, {deviceDirEnv ? "VANTREL_DEVICE_DIR=" + *deviceDirEnv
                                          : std::string("VANTREL_DEVICE_DIR"),
                             "NOTIFY_SOCKET", "INVOCATION_ID", "WATCHDOG_USEC", "WATCHDOG_PID"});
}

class DaemonTest : public ::testing::Test {
 protected:
  void SetUp() override { dir = test::MakeTempDir(); }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

TEST_F(DaemonTest, HelpDescribesTheOptions) {
  ChildProcess d = Vantrelio({"--help"});
  EXPECT_EQ(d.Wait(), 0);
  const std::string text = d.Stdout();
  for (const char* option :
       {"--simulate", "--device-dir", "--boards", "--eeprom-bytes", "--trace", "--verbose",
        "--group", "--admin-group", "STATUS_ACCESS_DENIED", "SIGHUP", "VANTREL_DEVICE_DIR"})
    EXPECT_NE(text.find(option), std::string::npos) << option;
  // The test hooks are nobody's business.
  EXPECT_EQ(text.find("--unlocked-exchanges"), std::string::npos);
  EXPECT_EQ(text.find("--no-implicit-admins"), std::string::npos);
}

TEST_F(DaemonTest, BadOptionsExitWithStatus2) {
  const std::vector<std::vector<std::string>> cases{
      {"--simulate", "--boards", "0"},         {"--simulate", "--boards", "9"},
      {"--simulate", "--boards", "two"},       {"--simulate", "--boards"},
      {"--simulate", "--eeprom-bytes", "64"},  {"--simulate", "--eeprom-bytes", "1000"},
      {"--simulate", "--eeprom-bytes=131072"}, {"--simulate", "--frobnicate"},
      {"--simulate", "--verbose=yes"},         {"--simulate", "--capture"},
  };
  for (const auto& args : cases) {
    std::string joined;
    for (const auto& a : args) joined += a + ' ';
    ChildProcess d = Vantrelio(args, dir.string());
    EXPECT_EQ(d.Wait(), 2) << joined;
    EXPECT_NE(d.Stderr().find("vantrelio: "), std::string::npos) << joined;
  }
  EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(DaemonTest, ServesUntilSignalledAndRemovesItsSockets) {
  for (int signal : {SIGTERM, SIGINT}) {
    // The folder comes from the environment here.
    SimDaemon d(
        {.boards = 3, .arguments = {"--eeprom-bytes", "128"}, .deviceDirFromEnvironment = true});
    const fs::path folder = d.DeviceDir();
    ASSERT_TRUE(d.Start()) << d.Log();
    ASSERT_TRUE(d.WaitForLog("vantrelio: serving 3 simulated board(s) in " + folder.string()))
        << d.Log();
    for (int n = 0; n < 3; ++n) ASSERT_TRUE(fs::is_socket(folder / ("ezusb-" + std::to_string(n))));
    EXPECT_FALSE(fs::exists(folder / "ezusb-3"));
    {
      TestClient client(folder / "ezusb-2");
      EXPECT_EQ(client.Control(IOCTL_VIO_SELECT_INTERFACE, Bytes{0, 1}, 0).status, STATUS_SUCCESS);
      const test::Reply r =
          client.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(6, Bytes{0x4A}), 144);
      ASSERT_EQ(r.status, STATUS_SUCCESS);
      EXPECT_EQ(ResponseOf(r.output), (Bytes{0x4A, 0x00, 0x00}));
    }
    TestClient idle(folder / "ezusb-0");  // still connected at the stop
    EXPECT_EQ(d.Stop(signal), 0) << d.Log();
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_empty(folder));
  }
}

TEST_F(DaemonTest, TraceHasOneLinePerExchange) {
  const fs::path trace = dir / "trace.log";
  SimDaemon d({.arguments = {"--trace", trace.string(), "--verbose"}});
  ASSERT_TRUE(d.Start()) << d.Log();
  TestClient client(d.Socket(0));
  ASSERT_EQ(client.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(6, Bytes{0x4A}), 144).status,
            STATUS_SUCCESS);
  auto lines = [&] {
    std::vector<std::string> all;
    std::ifstream in(trace);
    for (std::string line; std::getline(in, line);) all.push_back(line);
    return all;
  };
  // Written before the reply was sent, so it is there now.
  EXPECT_EQ(lines(), std::vector<std::string>{"ezusb-0 ch=6 out=4A in=4A0000"});
  // Refused requests reach no transfer and leave no line.
  EXPECT_EQ(client.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(8, Bytes{0x4A}), 144).status,
            STATUS_INVALID_PARAMETER);
  ASSERT_EQ(
      client.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(2, Bytes{0x06, 0x01}), 144).status,
      STATUS_SUCCESS);
  const auto all = lines();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[1].rfind("ezusb-0 ch=2 out=0601 in=06", 0), 0u) << all[1];
  EXPECT_EQ(d.Stop(), 0);
  // --verbose shows the same exchanges.
  EXPECT_NE(d.Log().find("ezusb-0 ch=6 out=4A in=4A0000"), std::string::npos) << d.Log();
}

TEST_F(DaemonTest, SocketInUseIsAnError) {
  SimDaemon first;
  ASSERT_TRUE(first.Start()) << first.Log();
  ChildProcess second = Vantrelio({"--simulate", "--device-dir", first.DeviceDir().string()});
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_NE(second.Stderr().find("served by another process"), std::string::npos)
      << second.Stderr();
  TestClient client(first.Socket(0));
  EXPECT_EQ(client.Control(IOCTL_VIO_SELECT_INTERFACE, Bytes{0, 1}, 0).status, STATUS_SUCCESS);
}

TEST_F(DaemonTest, SimulatedIsochronousDevicesStreamInRealTime) {
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--simulate", "--iso-devices", "8"},
        std::vector<std::string>{"--simulate", "--boards", "2", "--iso-devices", "7"}}) {
    ChildProcess d = Vantrelio(bad, dir.string());
    EXPECT_EQ(d.Wait(), 2);
  }
  ChildProcess help = Vantrelio({"--help"});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(help.Stdout().find("--iso-devices"), std::string::npos);

  SimDaemon d({.arguments = {"--iso-devices", "1"}});
  ASSERT_TRUE(d.Start()) << d.Log();
  // The board is instance 0, the isochronous device instance 1.
  TestClient client(d.Socket(1));
  auto record = [](std::uint32_t pipe, std::uint32_t size, std::uint32_t count,
                   std::uint32_t frames, std::uint32_t buffers) {
    Bytes r(20);
    for (std::size_t i = 0; i < 5; ++i)
      StoreLe32(r.data() + 4 * i,
                std::array<std::uint32_t, 5>{pipe, size, count, frames, buffers}[i]);
    return r;
  };
  ASSERT_EQ(client.Control(IOCTL_VIO_START_ISO_STREAM, record(0, 64, 64, 8, 4), 0).status,
            STATUS_SUCCESS);
  std::vector<std::uint32_t> sequences;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (sequences.size() < 32 && std::chrono::steady_clock::now() < deadline) {
    const test::Reply r =
        client.Control(IOCTL_VIO_READ_ISO_STREAM, record(0, 64, 64, 0, 0), 76 * 64);
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    const std::size_t n = r.information / 76;
    for (std::size_t i = 0; i < n; ++i) {
      sequences.push_back(LoadLe32(r.output.data() + i * 64));
      EXPECT_EQ(LoadLe32(r.output.data() + n * 64 + i * 12 + 4), 64u);  // length
      EXPECT_EQ(LoadLe32(r.output.data() + n * 64 + i * 12 + 8), 0u);   // status
    }
    ::usleep(5000);
  }
  ASSERT_GE(sequences.size(), 32u);
  for (std::size_t i = 0; i < sequences.size(); ++i) EXPECT_EQ(sequences[i], i);
  EXPECT_EQ(client.Control(IOCTL_VIO_START_ISO_STREAM, record(0, 64, 64, 8, 4), 0).status,
            STATUS_DEVICE_BUSY);
  EXPECT_EQ(client.Control(IOCTL_VIO_STOP_ISO_STREAM, {}, 0).status, STATUS_SUCCESS);

  // A transfer to the sink while the stream winds down on the other pipe.
  // Its output buffer (data and room for the records) travels with the request.
  const Bytes input = record(1, 16, 4, 1, 2);
  Bytes message = test::RequestMessage(IOCTL_VIO_ISO_WRITE, 20, 4 * 28, input);
  message.resize(message.size() + 4 * 28, 0x5A);
  client.SendRaw(message);
  const test::Reply write = client.Receive();
  ASSERT_EQ(write.status, STATUS_SUCCESS);
  EXPECT_EQ(write.information, 0u);
  EXPECT_EQ(write.output.size(), 4u * 28);
  EXPECT_EQ(d.Stop(), 0) << d.Log();
}

TEST_F(DaemonTest, GroupOwnsTheFolderAndSocketsAndClientsAreLoggedByCredentials) {
  const group* own = ::getgrgid(::getgid());
  ASSERT_NE(own, nullptr);
  SimDaemon d({.arguments = {"--group", own->gr_name, "--verbose"}});
  const fs::path folder = d.DeviceDir();
  ASSERT_TRUE(d.Start()) << d.Log();
  EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms(0770));
  EXPECT_EQ(fs::status(folder / "ezusb-0").permissions() & fs::perms::all, fs::perms(0660));
  TestClient client(folder / "ezusb-0");
  EXPECT_TRUE(d.WaitForLog("connection opened on ezusb-0 by pid " + std::to_string(::getpid()) +
                           " uid " + std::to_string(::getuid())))
      << d.Log();

  // A rescan finds the board it serves already: the connection goes on.
  d.Signal(SIGHUP);
  ASSERT_TRUE(d.WaitForLog("looking at the bus again")) << d.Log();
  EXPECT_EQ(client.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(6, Bytes{0x4A}), 144).status,
            STATUS_SUCCESS);
  EXPECT_EQ(d.Stop(), 0);
  const std::string log = d.Log();
  EXPECT_EQ(log.find("does not exist"), std::string::npos) << log;
  // Served once, removed once: at the stop.
  EXPECT_EQ(log.find("Ezusb-0 deleted"), log.rfind("Ezusb-0 deleted")) << log;
  EXPECT_EQ(log.find("Ezusb-0, started"), log.rfind("Ezusb-0, started")) << log;
}

TEST_F(DaemonTest, ConnectionLimitsComeFromOptionsAndARefusalIsLoggedOnce) {
  SimDaemon d(
      {.boards = 2,
       .arguments = {"--max-connections-per-board", "2", "--max-connections-per-user", "3"}});
  ASSERT_TRUE(d.Start()) << d.Log();
  TestClient a(d.Socket(0)), b(d.Socket(0));
  for (TestClient* client : {&a, &b})
    EXPECT_EQ(client->Control(IOCTL_VIO_NOP, {}, 0).status, STATUS_SUCCESS);
  for (int i = 0; i < 4; ++i) {
    TestClient refused(d.Socket(0));
    const test::Reply r = refused.Receive();
    EXPECT_EQ(r.status, STATUS_TOO_MANY_OPENED_FILES);
    EXPECT_EQ(r.information, 2u);
    EXPECT_TRUE(refused.WaitForClose());
  }
  TestClient c(d.Socket(1));
  EXPECT_EQ(c.Control(IOCTL_VIO_NOP, {}, 0).status, STATUS_SUCCESS);
  TestClient overUser(d.Socket(1));
  const test::Reply quota = overUser.Receive();
  EXPECT_EQ(quota.status, STATUS_QUOTA_EXCEEDED);
  EXPECT_EQ(quota.information, 3u);
  EXPECT_EQ(d.Stop(), 0);
  const std::string log = d.Log();
  const auto first = log.find("refusing connections: ezusb-0");
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_EQ(first, log.rfind("refusing connections: ezusb-0")) << log;
  EXPECT_NE(log.find("refusing connections: uid"), std::string::npos) << log;
}

// Channel 6's image query written and its reply read with the raw codes:
// the status of the read, or of the write when that failed.
std::uint32_t RawImageQuery(TestClient& client) {
  const auto write = EncodeRequest(IOCTL_VIO_PIPE_WRITE, Bytes{11, 0, 0, 0}, Bytes{0x4A});
  client.SendRaw(*write);
  const test::Reply written = client.Receive();
  if (written.status != STATUS_SUCCESS) return written.status;
  return client.Control(IOCTL_VIO_PIPE_READ, Bytes{10, 0, 0, 0}, 64).status;
}

TEST_F(DaemonTest, TheRawCodesAreForTheAdministratorsGroup) {
  // The test is the daemon's own user, privileged by that alone unless the
  // daemon is told to count only the group.
  const group* own = ::getgrgid(::getgid());
  ASSERT_NE(own, nullptr);
  {
    SimDaemon d({.arguments = {"--no-implicit-admins"}});
    ASSERT_TRUE(d.Start()) << d.Log();
    TestClient client(d.Socket(0));
    EXPECT_EQ(RawImageQuery(client), STATUS_ACCESS_DENIED);
    EXPECT_EQ(client.Control(IOCTL_VIO_SELECT_INTERFACE, Bytes{0, 1}, 0).status, STATUS_SUCCESS);
    EXPECT_EQ(client.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(6, Bytes{0x4A}), 144).status,
              STATUS_SUCCESS);
  }
  {
    SimDaemon d(
        {.arguments = {"--no-implicit-admins", "--admin-group", own->gr_name, "--verbose"}});
    ASSERT_TRUE(d.Start()) << d.Log();
    TestClient client(d.Socket(0));
    EXPECT_EQ(RawImageQuery(client), STATUS_SUCCESS);
    EXPECT_TRUE(d.WaitForLog("uid " + std::to_string(::getuid()))) << d.Log();
    EXPECT_NE(d.Log().find("maintenance allowed"), std::string::npos) << d.Log();
  }
  {
    // A group that does not exist is reported; root and the daemon's own
    // user keep the raw codes.
    SimDaemon d({.arguments = {"--admin-group", "k27-no-such-group"}});
    ASSERT_TRUE(d.Start()) << d.Log();
    EXPECT_TRUE(d.WaitForLog("administrators' group 'k27-no-such-group' does not exist"))
        << d.Log();
    TestClient client(d.Socket(0));
    EXPECT_EQ(RawImageQuery(client), STATUS_SUCCESS);
  }
}

// One command to the simulated boards' console; true when it was done.
bool ConsoleCommand(const SimDaemon& d, const std::vector<std::string>& words) {
  std::string text = "0\n";
  for (const std::string& word : words) text += word + "\n";
  TestClient console(d.ConsoleSocket());
  const test::Reply r =
      console.Control(kSimConsoleCode, Bytes(text.begin(), text.end()), kSimConsoleReplyMax);
  return r.status == STATUS_SUCCESS && !r.output.empty() && r.output[0] == '0';
}

TEST_F(DaemonTest, AStalledReplyLeavesTheChannelWorkingForTheNextConnection) {
  SimDaemon d;
  ASSERT_TRUE(d.Start()) << d.Log();
  ASSERT_TRUE(ConsoleCommand(d, {"fault", "2", "05", "stall", "1"}));
  {
    TestClient first(d.Socket(0));
    EXPECT_EQ(
        first.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(2, Bytes{0x05, 0, 0, 1}), 144).status,
        STATUS_UNSUCCESSFUL);
  }
  TestClient next(d.Socket(0));
  const test::Reply r = next.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(2, Bytes{0x06}), 144);
  ASSERT_EQ(r.status, STATUS_SUCCESS);
  EXPECT_EQ(ResponseOf(r.output).at(0), 0x06);
  EXPECT_EQ(d.Stop(), 0) << d.Log();
}

// The descriptor number a process gets next: its lowest free one.
rlim_t LowestFreeDescriptor(pid_t pid) {
  std::set<rlim_t> open;
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
    open.insert(std::stoul(entry.path().filename().string()));
  rlim_t free = 0;
  while (open.count(free) != 0) ++free;
  return free;
}

TEST_F(DaemonTest, RunningOutOfDescriptorsIsLoggedOnceWithACount) {
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizers' runtime opens descriptors of its own while it checks
  // (a pipe to probe memory for the vptr check): in a daemon with none left
  // it reports a fault that is not there and stops the daemon.
  GTEST_SKIP() << "the sanitizers need descriptors of their own in the daemon";
#endif
  SimDaemon d;
  ASSERT_TRUE(d.Start()) << d.Log();
  // Room for one more descriptor: one connection.
  rlimit old{};
  ASSERT_EQ(::prlimit(d.Pid(), RLIMIT_NOFILE, nullptr, &old), 0);
  rlimit low = old;
  low.rlim_cur = LowestFreeDescriptor(d.Pid()) + 1;
  ASSERT_EQ(::prlimit(d.Pid(), RLIMIT_NOFILE, &low, nullptr), 0);
  auto served = std::make_unique<TestClient>(d.Socket(0));
  EXPECT_EQ(served->Control(IOCTL_VIO_NOP, {}, 0).status, STATUS_SUCCESS);
  TestClient waiting(d.Socket(0));  // queued: the daemon cannot take it
  ASSERT_TRUE(d.WaitForLog("cannot accept: Too many open files")) << d.Log();
  // The served one leaves: the waiting one is taken, and the count logged.
  served.reset();
  EXPECT_EQ(waiting.Control(IOCTL_VIO_NOP, {}, 0).status, STATUS_SUCCESS);
  ASSERT_TRUE(d.WaitForLog("accepting again; failed accepts: ")) << d.Log();
  ASSERT_EQ(::prlimit(d.Pid(), RLIMIT_NOFILE, &old, nullptr), 0);
  EXPECT_EQ(d.Stop(), 0);
  const std::string log = d.Log();
  EXPECT_EQ(log.find("cannot accept"), log.rfind("cannot accept")) << log;
}

TEST_F(DaemonTest, MissingGroupIsReportedAndTheBoardsAreServedAnyway) {
  SimDaemon d({.arguments = {"--group", "k27-no-such-group"}});
  ASSERT_TRUE(d.Start()) << d.Log();
  ASSERT_TRUE(d.WaitForLog("group 'k27-no-such-group' does not exist")) << d.Log();
  TestClient client(d.Socket(0));
  EXPECT_EQ(client.Control(IOCTL_VIO_SELECT_INTERFACE, Bytes{0, 1}, 0).status, STATUS_SUCCESS);
}

// A simulated daemon is a developer's own: without --group it keeps its own
// group and says nothing about vantrel.
TEST_F(DaemonTest, SimulatedDaemonKeepsItsOwnGroupByDefault) {
  SimDaemon d;
  ASSERT_TRUE(d.Start()) << d.Log();
  struct stat socket {};
  ASSERT_EQ(::stat(d.Socket(0).c_str(), &socket), 0);
  EXPECT_EQ(socket.st_gid, ::getegid());
  EXPECT_EQ(d.Stop(), 0);
  EXPECT_EQ(d.Log().find("group"), std::string::npos) << d.Log();
}

}  // namespace
}  // namespace vantrel::driver
