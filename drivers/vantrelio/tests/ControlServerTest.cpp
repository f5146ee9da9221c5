// The control sockets over real Unix sockets in a temporary folder.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "server/ConnectionQuota.h"
#include "server/ControlServer.h"
#include "BoardServer.h"
#include "SimBoardDevice.h"
#include "TestClient.h"
#include "k27sim/SimBoard.h"
#include "vantrel/protocol/ControlCodes.h"
#include "vantrel/protocol/ControlProtocol.h"

namespace vantrel::driver {
namespace {

using test::ExchangeBlock;
using test::Reply;
using test::RequestMessage;
using test::ResponseOf;
using test::TestClient;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

bool IsSocket(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

template <typename Predicate>
bool Eventually(Predicate predicate) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// The lines of a server's log, for the tests that count them.
class LogLines {
 public:
  ControlServer::Log Sink() {
    return [this](const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    };
  }
  std::size_t Count(const std::string& text) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const auto& l) {
      return l.find(text) != std::string::npos;
    }));
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

class ControlServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = test::MakeTempDir();
    for (int n = 0; n < 2; ++n) {
      devices.push_back(std::make_unique<test::SimBoardDevice>(n));
      boards.push_back(&devices.back()->Board());
      handlers.push_back(devices.back()->Handler());
    }
  }
  void TearDown() override {
    server.reset();
    fs::remove_all(dir);
  }
  void StartServer(const fs::path& folder) {
    server = test::MakeBoardServer(folder, {handlers[0], handlers[1]});
    server->Start();
  }
  void StartServer() { StartServer(dir); }

  // One exchange of command 0x4A on channel 6 that must be answered.
  static void ExpectServed(TestClient& client) {
    const Reply r = client.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(6, Bytes{0x4A}), 144);
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, 144u);
    ASSERT_EQ(r.output.size(), 144u);
    EXPECT_EQ(ResponseOf(r.output), (Bytes{0x4A, 0x00, 0x00}));
  }

  fs::path dir;
  std::vector<std::unique_ptr<test::SimBoardDevice>> devices;
  std::vector<vantrel::sim::SimBoard*> boards;
  std::vector<ControlHandler*> handlers;
  LogLines log;
  // Goes first: the handlers and the log serve it until it has stopped.
  std::unique_ptr<ControlServer> server;
};

TEST_F(ControlServerTest, EachInstanceHasItsSocketUntilStop) {
  const fs::path folder = dir / "run" / "vantrel";  // missing: created
  StartServer(folder);
  EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms(0770));
  for (int n = 0; n < 2; ++n) {
    const fs::path path = folder / ("ezusb-" + std::to_string(n));
    EXPECT_EQ(server->SocketPath(n), path);
    ASSERT_TRUE(IsSocket(path));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms(0660));
  }
  EXPECT_FALSE(fs::exists(folder / "ezusb-2"));

  // Each socket reaches its own board.
  TestClient zero(server->SocketPath(0)), one(server->SocketPath(1));
  ExpectServed(one);
  EXPECT_EQ(boards[0]->CommandCount(6), 0u);
  EXPECT_EQ(boards[1]->CommandCount(6), 1u);
  ExpectServed(zero);

  // Stop ends connected clients too.
  server->Stop();
  EXPECT_TRUE(zero.WaitForClose());
  EXPECT_TRUE(one.WaitForClose());
  EXPECT_FALSE(fs::exists(folder / "ezusb-0"));
  EXPECT_FALSE(fs::exists(folder / "ezusb-1"));
  EXPECT_THROW(TestClient{folder / "ezusb-0"}, std::system_error);
  server->Stop();  // a second stop does nothing
}

TEST_F(ControlServerTest, SocketsAndTheFolderTheyCreateBelongToTheGroup) {
  // Any group of the process's own will do; root may give away any.
  const gid_t group = ::getuid() == 0 ? 65534 : ::getgid();
  const fs::path created = dir / "run";
  server = test::MakeBoardServer(created, {handlers[0]});
  server->SetGroup(group);
  server->Start();
  struct stat st {};
  ASSERT_EQ(::stat(created.c_str(), &st), 0);
  EXPECT_EQ(st.st_gid, group);
  EXPECT_EQ(st.st_mode & 07777, 0770u);
  ASSERT_EQ(::stat(server->SocketPath(0).c_str(), &st), 0);
  EXPECT_EQ(st.st_gid, group);
  EXPECT_EQ(st.st_mode & 07777, 0660u);
  EXPECT_THROW(server->SetGroup(group), std::logic_error);
  server->Stop();

  // A folder that exists already is left as its owner made it.
  fs::permissions(dir, fs::perms(0711), fs::perm_options::replace);
  server = test::MakeBoardServer(dir, {handlers[0]});
  server->SetGroup(group);
  server->Start();
  EXPECT_EQ(fs::status(dir).permissions() & fs::perms::all, fs::perms(0711));
  ASSERT_EQ(::stat(server->SocketPath(0).c_str(), &st), 0);
  EXPECT_EQ(st.st_gid, group);
}

TEST_F(ControlServerTest, ConnectionsAreLoggedWithThePeersCredentials) {
  std::mutex mutex;
  std::vector<std::string> lines;
  server = test::MakeBoardServer(dir, {handlers[0]}, [&](const std::string& line) {
    std::lock_guard lock(mutex);
    lines.push_back(line);
  });
  server->Start();
  TestClient client(server->SocketPath(0));
  ExpectServed(client);
  const std::string expected = "connection opened on ezusb-0 by pid " + std::to_string(::getpid()) +
                               " uid " + std::to_string(::getuid()) + " ";
  client.Close();
  server.reset();  // its log goes before `lines`
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                          [&](const std::string& line) { return line.rfind(expected, 0) == 0; }))
      << "no line starts with: " << expected;
}

TEST_F(ControlServerTest, SeveralClientsAreServedAtOnce) {
  StartServer();
  constexpr int kClients = 6, kRounds = 100;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < kClients; ++c) {
    threads.emplace_back([&, c] {
      TestClient client(server->SocketPath(c % 2));
      const std::uint8_t command = static_cast<std::uint8_t>(0x20 + c);
      for (int i = 0; i < kRounds; ++i) {
        // Clients share channels, each keeps its own replies.
        const int channel = 1 + i % 2;
        const Reply r =
            client.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(channel, Bytes{command, 0}), 144);
        if (r.status != STATUS_SUCCESS || r.output.size() != 144 ||
            ResponseOf(r.output).at(0) != command)
          ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(boards[0]->CommandCount(1) + boards[0]->CommandCount(2), 3u * kRounds);
  EXPECT_EQ(boards[1]->CommandCount(1) + boards[1]->CommandCount(2), 3u * kRounds);
}

TEST_F(ControlServerTest, MalformedRequestsAreRefusedAndTheConnectionGoesOn) {
  StartServer();
  TestClient client(server->SocketPath(0));
  const Bytes block = ExchangeBlock(6, Bytes{0x4A});
  struct Case {
    const char* what;
    Bytes message;
  };
  Bytes bigInput(ControlProtocol::kMaxPayload + 1, 0);
  const std::vector<Case> cases{
      {"empty message", Bytes{}},
      {"shorter than the header", Bytes{0xA0, 0x20, 0x22, 0x00, 0x90}},
      {"input length above the bytes sent",
       RequestMessage(IOCTL_VIO_BULK_EXCHANGE, 145, 144, block)},
      {"input length below the bytes sent",
       RequestMessage(IOCTL_VIO_BULK_EXCHANGE, 100, 144, block)},
      {"output length above the limit",
       RequestMessage(IOCTL_VIO_BULK_EXCHANGE, 144, ControlProtocol::kMaxPayload + 1, block)},
      {"input above the limit",
       RequestMessage(IOCTL_VIO_BULK_EXCHANGE, ControlProtocol::kMaxPayload + 1, 144, bigInput)},
      {"unknown code", RequestMessage(0x22FFFC, 144, 144, block)},
      {"short output buffer", RequestMessage(IOCTL_VIO_BULK_EXCHANGE, 144, 143, block)},
  };
  for (const Case& c : cases) {
    client.SendRaw(c.message);
    const Reply r = client.Receive();
    EXPECT_EQ(r.status, STATUS_INVALID_PARAMETER) << c.what;
    EXPECT_EQ(r.information, 0u) << c.what;
    EXPECT_TRUE(r.output.empty()) << c.what;
  }
  ExpectServed(client);
  EXPECT_EQ(boards[0]->CommandCount(6), 1u);
}

TEST_F(ControlServerTest, ReplyCarriesOnlyTheBytesTheHandlerReported) {
  StartServer();
  TestClient client(server->SocketPath(0));
  // Interface selection: success with no output, whatever room was offered.
  Reply r = client.Control(IOCTL_VIO_SELECT_INTERFACE, Bytes{0, 1}, 64);
  EXPECT_EQ(r.status, STATUS_SUCCESS);
  EXPECT_EQ(r.information, 0u);
  EXPECT_TRUE(r.output.empty());
  // An exchange offered more room than the block gets the block only.
  r = client.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(6, Bytes{0x4A}), 1000);
  EXPECT_EQ(r.status, STATUS_SUCCESS);
  EXPECT_EQ(r.information, 144u);
  EXPECT_EQ(r.output.size(), 144u);
  // A failed exchange returns no output.
  boards[0]->InjectFault(6, 0x4A, {vantrel::sim::FaultKind::Stall});
  r = client.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(6, Bytes{0x4A}), 144);
  EXPECT_EQ(r.status, STATUS_UNSUCCESSFUL);
  EXPECT_TRUE(r.output.empty());
}

TEST_F(ControlServerTest, ClientsThatVanishMidRequestHarmNobodyElse) {
  StartServer();
  TestClient steady(server->SocketPath(0));
  ExpectServed(steady);
  {
    // Half a request, then gone.
    TestClient half(server->SocketPath(0));
    half.SendRaw(Bytes{0xA0, 0x20, 0x22});
  }
  {
    // A whole request, gone before the reply.
    TestClient gone(server->SocketPath(0));
    gone.SendRaw(RequestMessage(IOCTL_VIO_BULK_EXCHANGE, 144, 144, ExchangeBlock(6, Bytes{0x4A})));
  }
  {
    // Connected and gone without a word.
    TestClient silent(server->SocketPath(1));
  }
  {
    // Header only, claiming input that never comes; stays connected.
    TestClient stuck(server->SocketPath(0));
    stuck.SendRaw(RequestMessage(IOCTL_VIO_BULK_EXCHANGE, 144, 144, Bytes{}));
    EXPECT_EQ(stuck.Receive().status, STATUS_INVALID_PARAMETER);
    ExpectServed(steady);
  }
  EXPECT_TRUE(Eventually([&] { return server->ActiveConnections() == 1; }));
  for (int i = 0; i < 5; ++i) ExpectServed(steady);
  TestClient later(server->SocketPath(1));
  ExpectServed(later);
}

TEST_F(ControlServerTest, StopDoesNotWaitForClientsThatDoNotRead) {
  StartServer();
  TestClient greedy(server->SocketPath(0));
  // Requests whose replies are never read: once the client's queue is full
  // the server cannot send, stops reading, and the client's sends back up.
  const Bytes request =
      RequestMessage(IOCTL_VIO_BULK_EXCHANGE, 144, 144, ExchangeBlock(6, Bytes{0x4A}));
  int sent = 0;
  while (sent < 100000 && greedy.TrySend(request)) ++sent;
  ASSERT_LT(sent, 100000);
  EXPECT_TRUE(Eventually([&] { return !greedy.TrySend(request); }));
  // Another client is still served meanwhile.
  TestClient other(server->SocketPath(0));
  ExpectServed(other);

  const auto start = std::chrono::steady_clock::now();
  server->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(fs::exists(dir / "ezusb-0"));
}

TEST_F(ControlServerTest, StaleSocketIsReplacedButNothingElseIs) {
  // A socket file left by a process that is gone.
  {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = (dir / "ezusb-0").string();
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
  }
  StartServer();
  TestClient client(server->SocketPath(0));
  ExpectServed(client);

  // A second server on the same folder finds the sockets in use.
  auto rival = test::MakeBoardServer(dir, {handlers[0], handlers[1]});
  EXPECT_THROW(rival->Start(), std::runtime_error);
  ExpectServed(client);
  server->Stop();

  // A file that is not a socket is left alone.
  { std::ofstream(dir / "ezusb-1") << "not a socket"; }
  EXPECT_THROW(StartServer(), std::runtime_error);
  EXPECT_FALSE(fs::exists(dir / "ezusb-0"));  // nothing left behind
  EXPECT_TRUE(fs::is_regular_file(dir / "ezusb-1"));
}

}  // namespace
}  // namespace vantrel::driver

namespace vantrel::driver {
namespace {

std::size_t OpenDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

std::size_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// The connection's first message, once the server has refused it.
Reply RefusalOf(TestClient& client) {
  const Reply r = client.Receive();
  EXPECT_TRUE(client.WaitForClose());
  return r;
}

TEST_F(ControlServerTest, EndedConnectionsReleaseTheirThreadAndDescriptorAtOnce) {
  StartServer();
  const std::size_t before = OpenDescriptors();
  {
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < 20; ++i) {
      clients.push_back(std::make_unique<TestClient>(server->SocketPath(i % 2)));
      ExpectServed(*clients.back());
    }
  }
  // Nobody connects again: the server releases them by itself.
  EXPECT_TRUE(Eventually([&] { return server->HeldConnections() == 0; }));
  EXPECT_TRUE(Eventually([&] { return OpenDescriptors() == before; }))
      << OpenDescriptors() << " descriptors open, " << before << " before";
}

TEST_F(ControlServerTest, ConnectionsWithoutAThreadAreToldAndLoggedOnceWithTheirCount) {
  server = test::MakeBoardServer(dir, {handlers[0]}, log.Sink());
  server->Start();
  constexpr int kUnlucky = 30;
  server->FailThreadStartsForTest(kUnlucky);
  for (int i = 0; i < kUnlucky; ++i) {
    TestClient unlucky(server->SocketPath(0));
    const Reply r = RefusalOf(unlucky);
    EXPECT_EQ(r.status, STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(r.information, 0u);
  }
  EXPECT_TRUE(Eventually([&] { return server->HeldConnections() == 0; }));
  TestClient next(server->SocketPath(0));
  ExpectServed(next);
  // One line when it began, one with the count when it ended; the accept
  // thread writes that one after the next thread has started, so the client
  // may be served before it is written.
  EXPECT_TRUE(Eventually([&] {
    return log.Count("connection threads start again; connections closed without a thread: 30") ==
           1u;
  }));
  EXPECT_EQ(log.Count("cannot start a connection thread"), 1u);
}

TEST_F(ControlServerTest, FailedAcceptsAreLoggedOnceWithTheirCount) {
  server = test::MakeBoardServer(dir, {handlers[0]}, log.Sink());
  server->Start();
  // Out of descriptors: the pending connection is tried again and again
  // until it can be taken.
  server->FailAcceptsForTest(4);
  TestClient client(server->SocketPath(0));
  ExpectServed(client);
  EXPECT_EQ(log.Count("cannot accept: Too many open files"), 1u);
  EXPECT_EQ(log.Count("accepting again; failed accepts: 4 in all"), 1u);
}

TEST_F(ControlServerTest, AStalledReplyLeavesTheChannelWorkingForTheNextClient) {
  StartServer();
  // The EEPROM read stalls once: the IN pipe of channel 2 halts.
  boards[0]->InjectFault(2, 0x05, {vantrel::sim::FaultKind::Stall});
  {
    TestClient first(server->SocketPath(0));
    const Reply r =
        first.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(2, Bytes{0x05, 0, 0, 1}), 144);
    EXPECT_EQ(r.status, STATUS_UNSUCCESSFUL);
  }
  TestClient next(server->SocketPath(0));
  const Reply version = next.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(2, Bytes{0x06}), 144);
  ASSERT_EQ(version.status, STATUS_SUCCESS);
  EXPECT_EQ(ResponseOf(version.output).at(0), 0x06);

  // A raw read whose reply stalls leaves its pipe working too.
  boards[0]->InjectFault(6, 0x4A, {vantrel::sim::FaultKind::Stall});
  const auto write = EncodeRequest(IOCTL_VIO_PIPE_WRITE, Bytes{11, 0, 0, 0}, Bytes{0x4A});
  ASSERT_TRUE(write);
  next.SendRaw(*write);
  EXPECT_EQ(next.Receive().status, STATUS_SUCCESS);
  EXPECT_EQ(next.Control(IOCTL_VIO_PIPE_READ, Bytes{10, 0, 0, 0}, 64).status, STATUS_UNSUCCESSFUL);
  ExpectServed(next);
}

TEST_F(ControlServerTest, ConnectionsBeyondTheLimitsAreRefusedAndEachLimitIsLoggedOnce) {
  server = test::MakeBoardServer(dir, {handlers[0], handlers[1]}, log.Sink());
  auto quota = std::make_shared<ConnectionQuota>(3);
  server->SetLimits({2, quota, {}});
  server->Start();

  auto first = std::make_unique<TestClient>(server->SocketPath(0));
  TestClient second(server->SocketPath(0));
  ExpectServed(*first);
  ExpectServed(second);
  // The socket is full: each further connection is told so, with the
  // socket's limit, and closed.
  for (int i = 0; i < 3; ++i) {
    TestClient refused(server->SocketPath(0));
    const Reply r = RefusalOf(refused);
    EXPECT_EQ(r.status, STATUS_TOO_MANY_OPENED_FILES);
    EXPECT_EQ(r.information, 2u);
    EXPECT_TRUE(r.output.empty());
  }
  // The other socket has room, until the user holds its three: then the
  // user's quota is what is named.
  TestClient third(server->SocketPath(1));
  ExpectServed(third);
  EXPECT_EQ(quota->Held(::getuid()), 3u);
  for (int i = 0; i < 2; ++i) {
    TestClient refused(server->SocketPath(1));
    const Reply r = RefusalOf(refused);
    EXPECT_EQ(r.status, STATUS_QUOTA_EXCEEDED);
    EXPECT_EQ(r.information, 3u);
  }
  EXPECT_EQ(log.Count("refusing connections: ezusb-0 serves 2 connections"), 1u);
  EXPECT_EQ(log.Count("refusing connections: uid " + std::to_string(::getuid())), 1u);

  // A connection that ends makes room at once.
  first.reset();
  EXPECT_TRUE(Eventually([&] { return quota->Held(::getuid()) == 2; }));
  TestClient again(server->SocketPath(0));
  ExpectServed(again);
  EXPECT_TRUE(Eventually([&] {
    return log.Count("accepting connections again (ezusb-0); connections refused: 3 in all") == 1;
  }));
  server->Stop();
  EXPECT_EQ(quota->Held(::getuid()), 0u);
}

TEST_F(ControlServerTest, OneUsersConnectionsToABoardStopAtItsShareAndLeaveItsOtherBoards) {
  server = test::MakeBoardServer(dir, {handlers[0], handlers[1]}, log.Sink());
  // The board would take four; one user gets two of them.
  server->SetLimits({4, nullptr, {}, 2});
  server->Start();

  auto first = std::make_unique<TestClient>(server->SocketPath(0));
  TestClient second(server->SocketPath(0));
  ExpectServed(*first);
  ExpectServed(second);
  for (int i = 0; i < 2; ++i) {
    TestClient refused(server->SocketPath(0));
    const Reply r = RefusalOf(refused);
    EXPECT_EQ(r.status, STATUS_TOO_MANY_SESSIONS);
    EXPECT_EQ(r.information, 2u);
  }
  const std::string user = "uid " + std::to_string(::getuid());
  EXPECT_EQ(log.Count("refusing connections: " + user +
                      " holds 2 connections to ezusb-0, its limit "
                      "per board"),
            1u);
  // The share is per board: the other board takes the same user.
  TestClient elsewhere(server->SocketPath(1));
  TestClient elsewhereToo(server->SocketPath(1));
  ExpectServed(elsewhere);
  ExpectServed(elsewhereToo);

  first.reset();
  // Released with its thread: room again at once.
  EXPECT_TRUE(Eventually([&] { return server->ActiveConnections() == 3; }));
  TestClient again(server->SocketPath(0));
  ExpectServed(again);
  EXPECT_TRUE(Eventually(
      [&] { return log.Count("accepting connections again (" + user + " on ezusb-0)") == 1; }));
  // Before the log it writes to goes.
  server->Stop();
}

// A client in a child process as another user (uid and group 54322, no
// account): 0 when it was served, 1 when refused as over its share of the
// board, 2 otherwise.
int ServedAsAnotherUser(const fs::path& socket) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(54322) != 0 || ::setuid(54322) != 0) ::_exit(3);
    try {
      TestClient client(socket);
      const Reply r = client.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(6, Bytes{0x4A}), 144);
      ::_exit(r.status == STATUS_SUCCESS ? 0 : r.status == STATUS_TOO_MANY_SESSIONS ? 1 : 2);
    } catch (...) {
      ::_exit(4);
    }
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(ControlServerTest, AnotherUserGetsInWhileOneHoldsItsWholeShareOfTheBoard) {
  if (::getuid() != 0) GTEST_SKIP() << "needs root, to run a client as another user";
  server = test::MakeBoardServer(dir, {handlers[0], handlers[1]});
  server->SetLimits({4, nullptr, {}, 2});
  server->Start();
  fs::permissions(dir, fs::perms(0711), fs::perm_options::replace);
  fs::permissions(server->SocketPath(0), fs::perms(0666), fs::perm_options::replace);

  TestClient first(server->SocketPath(0));
  TestClient second(server->SocketPath(0));
  ExpectServed(first);
  ExpectServed(second);
  TestClient refused(server->SocketPath(0));
  EXPECT_EQ(RefusalOf(refused).status, STATUS_TOO_MANY_SESSIONS);
  EXPECT_EQ(ServedAsAnotherUser(server->SocketPath(0)), 0);
}

TEST_F(ControlServerTest, RequestsOfEverySizeAreServedAndOversizedOnesDropped) {
  StartServer();
  TestClient client(server->SocketPath(0));
  // The largest input, and a request no larger than the limit allows whose
  // lengths disagree with it.
  const Bytes largest(ControlProtocol::kMaxPayload, 0x11);
  EXPECT_EQ(client.Control(IOCTL_VIO_NOP, largest, 0).status, STATUS_SUCCESS);
  {
    // A datagram larger than any request: dropped unread, the connection
    // goes on.
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    const int room = 1 << 20;
    ASSERT_EQ(::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof(room)), 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = server->SocketPath(0).string();
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    Bytes huge = RequestMessage(IOCTL_VIO_NOP, 0, 0, {});
    huge.resize(2 * ControlProtocol::kMaxPayload + 4096, 0);
    ASSERT_EQ(::send(fd, huge.data(), huge.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(huge.size()));
    std::uint8_t reply[64];
    ASSERT_EQ(::recv(fd, reply, sizeof(reply), 0), 8);
    EXPECT_EQ(LoadLe32(reply), STATUS_INVALID_PARAMETER);
    const Bytes nop = RequestMessage(IOCTL_VIO_NOP, 0, 0, {});
    ASSERT_EQ(::send(fd, nop.data(), nop.size(), MSG_NOSIGNAL), static_cast<ssize_t>(nop.size()));
    ASSERT_EQ(::recv(fd, reply, sizeof(reply), 0), 8);
    EXPECT_EQ(LoadLe32(reply), STATUS_SUCCESS);
    ::close(fd);
  }
}

TEST_F(ControlServerTest, IdleConnectionsHoldNoRequestBuffers) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's own bookkeeping per thread dwarfs what is measured";
#endif
  StartServer();
  // Each connection that has been served and waits for its next request
  // costs its thread's stack pages, not a buffer of the largest request.
  constexpr std::size_t kConnections = 200;
  const std::size_t before = ResidentBytes();
  std::vector<std::unique_ptr<TestClient>> idle;
  for (std::size_t i = 0; i < kConnections; ++i) {
    idle.push_back(std::make_unique<TestClient>(server->SocketPath(0)));
    ExpectServed(*idle.back());
  }
  const std::size_t grown = ResidentBytes() - std::min(before, ResidentBytes());
  EXPECT_LT(grown, kConnections * 64 * 1024)
      << grown / kConnections << " bytes per idle connection";
}

}  // namespace
}  // namespace vantrel::driver
