// The vantrelio executable, started as a process.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TestClient.h"
#include "vantrel/driver/ControlCodes.h"

#ifndef VANTRELIO_PATH
#error "VANTRELIO_PATH names the daemon executable"
#endif

namespace vantrel::driver {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using test::ExchangeBlock;
using test::ResponseOf;
using test::TestClient;

constexpr int kTimeoutMs = 20000;

// A child process with its standard output and error read through pipes.
class Daemon {
 public:
  Daemon(std::vector<std::string> args, std::optional<std::string> deviceDirEnv = std::nullopt) {
    // Everything the child needs is made before the fork.
    std::string program = VANTRELIO_PATH;
    std::vector<char*> argv{program.data()};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e)
      if (std::string_view(*e).rfind("VANTREL_DEVICE_DIR=", 0) != 0) environment.emplace_back(*e);
    if (deviceDirEnv) environment.push_back("VANTREL_DEVICE_DIR=" + *deviceDirEnv);
    std::vector<char*> envp;
    for (std::string& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);

    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      ::execve(program.c_str(), argv.data(), envp.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Daemon() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    ::close(out_);
    ::close(err_);
  }

  // Reads standard error until a line contains `text`; false on time-out or
  // end of output.
  bool WaitForLine(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
    for (;;) {
      for (std::size_t pos; (pos = pending_.find('\n')) != std::string::npos;) {
        const std::string line = pending_.substr(0, pos);
        pending_.erase(0, pos + 1);
        stderr_ += line + '\n';
        if (line.find(text) != std::string::npos) return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{err_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) != 1) return false;
      char buffer[512];
      const ssize_t n = ::read(err_, buffer, sizeof(buffer));
      if (n <= 0) return false;
      pending_.append(buffer, static_cast<std::size_t>(n));
    }
  }

  // Waits for the exit and returns the exit status (-signal when killed).
  int Wait() {
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
    for (;;) {
      const pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) break;
      if (r < 0) return -1000;
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return -2000;
      }
      ::usleep(5000);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }

  void Signal(int signal) { ::kill(pid_, signal); }
  std::string Stdout() { return ReadAll(out_); }
  std::string Stderr() { return stderr_ + pending_ + ReadAll(err_); }

 private:
  static std::string ReadAll(int fd) {
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof(buffer))) > 0;)
      text.append(buffer, static_cast<std::size_t>(n));
    return text;
  }

  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  std::string pending_, stderr_;
};

class DaemonTest : public ::testing::Test {
 protected:
  void SetUp() override { dir = test::MakeTempDir(); }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

TEST_F(DaemonTest, HelpDescribesTheOptions) {
  Daemon d({"--help"});
  EXPECT_EQ(d.Wait(), 0);
  const std::string text = d.Stdout();
  for (const char* option : {"--simulate", "--device-dir", "--boards", "--eeprom-bytes", "--trace",
                             "--verbose", "--group", "SIGHUP", "VANTREL_DEVICE_DIR"})
    EXPECT_NE(text.find(option), std::string::npos) << option;
  // The test hook is nobody's business.
  EXPECT_EQ(text.find("--unlocked-exchanges"), std::string::npos);
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
    Daemon d(args, dir.string());
    EXPECT_EQ(d.Wait(), 2) << joined;
    EXPECT_NE(d.Stderr().find("vantrelio: "), std::string::npos) << joined;
  }
  EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(DaemonTest, ServesUntilSignalledAndRemovesItsSockets) {
  for (int signal : {SIGTERM, SIGINT}) {
    const fs::path folder = dir / ("run-" + std::to_string(signal));
    // The folder comes from the environment here.
    Daemon d({"--simulate", "--boards", "3", "--eeprom-bytes", "128"}, folder.string());
    ASSERT_TRUE(d.WaitForLine("vantrelio: serving 3 simulated board(s) in " + folder.string()))
        << d.Stderr();
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
    d.Signal(signal);
    EXPECT_EQ(d.Wait(), 0) << d.Stderr();
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_empty(folder));
  }
}

TEST_F(DaemonTest, TraceHasOneLinePerExchange) {
  const fs::path trace = dir / "trace.log";
  Daemon d({"--simulate", "--device-dir", dir.string(), "--trace", trace.string(), "--verbose"});
  ASSERT_TRUE(d.WaitForLine("serving 1 simulated board(s)")) << d.Stderr();
  TestClient client(dir / "ezusb-0");
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
  d.Signal(SIGTERM);
  EXPECT_EQ(d.Wait(), 0);
  // --verbose shows the same exchanges.
  EXPECT_NE(d.Stderr().find("ezusb-0 ch=6 out=4A in=4A0000"), std::string::npos) << d.Stderr();
}

TEST_F(DaemonTest, SocketInUseIsAnError) {
  Daemon first({"--simulate", "--device-dir", dir.string()});
  ASSERT_TRUE(first.WaitForLine("serving"));
  Daemon second({"--simulate", "--device-dir", dir.string()});
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_NE(second.Stderr().find("served by another process"), std::string::npos)
      << second.Stderr();
  TestClient client(dir / "ezusb-0");
  EXPECT_EQ(client.Control(IOCTL_VIO_SELECT_INTERFACE, Bytes{0, 1}, 0).status, STATUS_SUCCESS);
}

TEST_F(DaemonTest, SimulatedIsochronousDevicesStreamInRealTime) {
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--simulate", "--iso-devices", "8"},
        std::vector<std::string>{"--simulate", "--boards", "2", "--iso-devices", "7"}}) {
    Daemon d(bad, dir.string());
    EXPECT_EQ(d.Wait(), 2);
  }
  Daemon help({"--help"});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(help.Stdout().find("--iso-devices"), std::string::npos);

  Daemon d({"--simulate", "--device-dir", dir.string(), "--iso-devices", "1"});
  ASSERT_TRUE(d.WaitForLine("serving 1 simulated board(s)")) << d.Stderr();
  // The board is instance 0, the isochronous device instance 1.
  TestClient client(dir / "ezusb-1");
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
  d.Signal(SIGTERM);
  EXPECT_EQ(d.Wait(), 0) << d.Stderr();
}

TEST_F(DaemonTest, GroupOwnsTheFolderAndSocketsAndClientsAreLoggedByCredentials) {
  const group* own = ::getgrgid(::getgid());
  ASSERT_NE(own, nullptr);
  const fs::path folder = dir / "run";
  Daemon d({"--simulate", "--device-dir", folder.string(), "--group", own->gr_name, "--verbose"});
  ASSERT_TRUE(d.WaitForLine("serving 1 simulated board(s)")) << d.Stderr();
  EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms(0770));
  EXPECT_EQ(fs::status(folder / "ezusb-0").permissions() & fs::perms::all, fs::perms(0660));
  TestClient client(folder / "ezusb-0");
  EXPECT_TRUE(d.WaitForLine("connection opened on ezusb-0 by pid " + std::to_string(::getpid()) +
                            " uid " + std::to_string(::getuid())))
      << d.Stderr();

  // A rescan finds the board it serves already: the connection goes on.
  d.Signal(SIGHUP);
  ASSERT_TRUE(d.WaitForLine("looking at the bus again")) << d.Stderr();
  EXPECT_EQ(client.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(6, Bytes{0x4A}), 144).status,
            STATUS_SUCCESS);
  d.Signal(SIGTERM);
  EXPECT_EQ(d.Wait(), 0);
  const std::string log = d.Stderr();
  EXPECT_EQ(log.find("does not exist"), std::string::npos) << log;
  // Served once, removed once: at the stop.
  EXPECT_EQ(log.find("Ezusb-0 deleted"), log.rfind("Ezusb-0 deleted")) << log;
  EXPECT_EQ(log.find("Ezusb-0, started"), log.rfind("Ezusb-0, started")) << log;
}

TEST_F(DaemonTest, ConnectionLimitsComeFromOptionsAndARefusalIsLoggedOnce) {
  Daemon d({"--simulate", "--device-dir", dir.string(), "--boards", "2",
            "--max-connections-per-board", "2", "--max-connections-per-user", "3"});
  ASSERT_TRUE(d.WaitForLine("serving 2 simulated board(s)")) << d.Stderr();
  TestClient a(dir / "ezusb-0"), b(dir / "ezusb-0");
  for (TestClient* client : {&a, &b})
    EXPECT_EQ(client->Control(IOCTL_VIO_NOP, {}, 0).status, STATUS_SUCCESS);
  for (int i = 0; i < 4; ++i) {
    TestClient refused(dir / "ezusb-0");
    EXPECT_EQ(refused.Receive().status, STATUS_TOO_MANY_OPENED_FILES);
    EXPECT_TRUE(refused.WaitForClose());
  }
  TestClient c(dir / "ezusb-1");
  EXPECT_EQ(c.Control(IOCTL_VIO_NOP, {}, 0).status, STATUS_SUCCESS);
  TestClient overUser(dir / "ezusb-1");
  EXPECT_EQ(overUser.Receive().status, STATUS_TOO_MANY_OPENED_FILES);
  d.Signal(SIGTERM);
  EXPECT_EQ(d.Wait(), 0);
  const std::string log = d.Stderr();
  const auto first = log.find("refusing connections: ezusb-0");
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_EQ(first, log.rfind("refusing connections: ezusb-0")) << log;
  EXPECT_NE(log.find("refusing connections: uid"), std::string::npos) << log;
}

TEST_F(DaemonTest, MissingGroupIsReportedAndTheBoardsAreServedAnyway) {
  Daemon d({"--simulate", "--device-dir", dir.string(), "--group", "k27-no-such-group"});
  ASSERT_TRUE(d.WaitForLine("group 'k27-no-such-group' does not exist")) << d.Stderr();
  ASSERT_TRUE(d.WaitForLine("serving 1 simulated board(s)")) << d.Stderr();
  TestClient client(dir / "ezusb-0");
  EXPECT_EQ(client.Control(IOCTL_VIO_SELECT_INTERFACE, Bytes{0, 1}, 0).status, STATUS_SUCCESS);
}

// A simulated daemon is a developer's own: without --group it keeps its own
// group and says nothing about vantrel.
TEST_F(DaemonTest, SimulatedDaemonKeepsItsOwnGroupByDefault) {
  Daemon d({"--simulate", "--device-dir", dir.string()});
  ASSERT_TRUE(d.WaitForLine("serving 1 simulated board(s)"));
  struct stat socket {};
  ASSERT_EQ(::stat((dir / "ezusb-0").c_str(), &socket), 0);
  EXPECT_EQ(socket.st_gid, ::getegid());
  d.Signal(SIGTERM);
  EXPECT_EQ(d.Wait(), 0);
  EXPECT_EQ(d.Stderr().find("group"), std::string::npos) << d.Stderr();
}

}  // namespace
}  // namespace vantrel::driver
