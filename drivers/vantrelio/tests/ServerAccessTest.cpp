// Who may use which codes on a board socket: the board's protocol for every
// client, the maintenance codes for the privileged, judged by the
// credentials the kernel gives for the connection.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <vector>

#include "server/AccessPolicy.h"
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
using test::ResponseOf;
using test::TestClient;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// One request whatever its method: the output buffer (`out`, zeros when
// empty) travels with the codes that send it, so that the request is well
// formed.
Reply Request(TestClient& client, std::uint32_t code, const Bytes& in, std::uint32_t outLength,
              Bytes out = {}) {
  if (out.empty()) out.resize(outLength, 0);
  const auto message = EncodeRequest(code, in, out);
  if (!message) return {STATUS_UNSUCCESSFUL, 0, {}};
  client.SendRaw(*message);
  return client.Receive();
}

class ServerAccessTest : public ::testing::Test {
 protected:
  void SetUp() override { dir = test::MakeTempDir(); }
  void TearDown() override {
    server.reset();
    fs::remove_all(dir);
  }
  void Serve(AccessPolicy policy, std::optional<gid_t> group = std::nullopt) {
    server = test::MakeBoardServer(dir, {board.Handler()});
    if (group) server->SetGroup(*group);
    server->SetAccessPolicy(std::move(policy));
    server->Start();
  }

  // The image query written to channel 6's OUT pipe and its reply read from
  // the IN pipe: the raw codes a board client must not use.
  static void ExpectRawCodesServed(TestClient& client) {
    const Reply write = Request(client, IOCTL_VIO_PIPE_WRITE, {11, 0, 0, 0}, 1, {0x4A});
    EXPECT_EQ(write.status, STATUS_SUCCESS);
    const Reply read = Request(client, IOCTL_VIO_PIPE_READ, {10, 0, 0, 0}, 64);
    ASSERT_EQ(read.status, STATUS_SUCCESS);
    EXPECT_EQ(Bytes(read.output.begin(), read.output.begin() + 3), (Bytes{0x4A, 0x00, 0x00}));
  }

  fs::path dir;
  test::SimBoardDevice board{0};
  std::unique_ptr<ControlServer> server;
};

TEST_F(ServerAccessTest, WithoutPrivilegeOnlyTheBoardsProtocolReachesTheBoard) {
  // Nobody is privileged, the test's own user (even root) neither.
  Serve(AccessPolicy({}, {}));
  TestClient client(server->SocketPath(0));
  const std::size_t commands = board.Board().CommandCount(6);
  // Every code a client could send, by function and method: the raw ones are
  // refused before the board's handler, with nothing back.
  for (std::uint32_t function = 0x800; function <= 0x830; ++function) {
    for (std::uint32_t method = 0; method < 4; ++method) {
      const std::uint32_t code = CtlCode(function, method);
      const Reply r = Request(client, code, Bytes{11, 0, 0, 0}, 64);
      switch (AccessOf(code)) {
        case CodeAccess::Maintenance:
          EXPECT_EQ(r.status, STATUS_ACCESS_DENIED) << std::hex << code;
          EXPECT_EQ(r.information, 0u) << std::hex << code;
          EXPECT_TRUE(r.output.empty()) << std::hex << code;
          break;
        case CodeAccess::BoardProtocol:
          EXPECT_NE(r.status, STATUS_ACCESS_DENIED) << std::hex << code;
          break;
        case CodeAccess::Unknown:
          EXPECT_EQ(r.status, STATUS_INVALID_PARAMETER) << std::hex << code;
          break;
      }
    }
  }
  // The write of the sweep never reached the board.
  EXPECT_EQ(board.Board().CommandCount(6), commands);
  // What the library does is served, and the connection goes on.
  EXPECT_EQ(Request(client, IOCTL_VIO_SELECT_INTERFACE, {0, 1}, 0).status, STATUS_SUCCESS);
  const Reply exchange =
      client.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(6, Bytes{0x4A}), 144);
  ASSERT_EQ(exchange.status, STATUS_SUCCESS);
  EXPECT_EQ(ResponseOf(exchange.output), (Bytes{0x4A, 0x00, 0x00}));
  const Reply version = Request(client, IOCTL_VIO_GET_DRIVER_VERSION, {}, 6);
  EXPECT_EQ(version.status, STATUS_SUCCESS);
  EXPECT_EQ(version.output, (Bytes{1, 0, 1, 0, 0, 0}));
  EXPECT_EQ(Request(client, IOCTL_VIO_GET_PIPE_TABLE, {}, 400).information, 16u + 14 * 20);
  EXPECT_EQ(Request(client, IOCTL_VIO_GET_DEVICE_DESCRIPTOR, {}, 18).information, 18u);
}

TEST_F(ServerAccessTest, ListedUsersAndMembersOfTheGroupGetTheRawCodes) {
  for (AccessPolicy policy : {AccessPolicy({::getuid()}, {}), AccessPolicy({}, {::getgid()}),
                              AccessPolicy::ForDaemon(std::nullopt)}) {
    Serve(std::move(policy));
    TestClient client(server->SocketPath(0));
    ExpectRawCodesServed(client);
    server.reset();
  }
}

TEST_F(ServerAccessTest, ThePeersCredentialsComeFromTheKernel) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
  const std::optional<PeerCredentials> peer = PeerCredentialsOf(pair[0]);
  ::close(pair[0]);
  ::close(pair[1]);
  ASSERT_TRUE(peer);
  EXPECT_EQ(peer->pid, ::getpid());
  EXPECT_EQ(peer->uid, ::getuid());
  EXPECT_EQ(peer->gid, ::getgid());
  std::vector<gid_t> own(static_cast<std::size_t>(::getgroups(0, nullptr)));
  ASSERT_EQ(::getgroups(static_cast<int>(own.size()), own.data()), static_cast<int>(own.size()));
  EXPECT_EQ(std::set<gid_t>(peer->groups.begin(), peer->groups.end()),
            std::set<gid_t>(own.begin(), own.end()));

  // A group counts by the primary or any supplementary membership.
  const PeerCredentials member{1, 5000, 5000, {20, 4242}};
  EXPECT_TRUE(AccessPolicy({}, {4242}).Privileged(member));
  EXPECT_TRUE(AccessPolicy({}, {5000}).Privileged(member));
  EXPECT_TRUE(AccessPolicy({5000}, {}).Privileged(member));
  EXPECT_FALSE(AccessPolicy({0}, {0, 21}).Privileged(member));
  EXPECT_TRUE(AccessPolicy::ForDaemon(std::nullopt).Privileged({1, 0, 0, {}}));
  EXPECT_TRUE(AccessPolicy::ForDaemon(std::nullopt).Privileged({1, ::geteuid(), 5000, {}}));
  EXPECT_FALSE(AccessPolicy::ForDaemon(4242, false).Privileged({1, 0, 0, {}}));
  EXPECT_TRUE(AccessPolicy::ForDaemon(4242, false).Privileged(member));
}

// A client in a child process as another user, uid and primary group 54321
// with the supplementary group 4242: 0 when the raw codes were served, 1
// when refused, 2 otherwise.
int RawReadAsAnotherUser(const fs::path& socket) {
  const pid_t child = ::fork();
  if (child == 0) {
    const gid_t supplementary = 4242;
    if (::setgroups(1, &supplementary) != 0 || ::setgid(54321) != 0 || ::setuid(54321) != 0)
      ::_exit(3);
    try {
      TestClient client(socket);
      const Reply r = Request(client, IOCTL_VIO_GET_LAST_URB_ERROR, {}, 4);
      if (r.status != STATUS_SUCCESS) ::_exit(2);
      const Reply raw = Request(client, IOCTL_VIO_PIPE_READ, {10, 0, 0, 0}, 64);
      ::_exit(raw.status == STATUS_ACCESS_DENIED ? 1 : 0);
    } catch (...) {
      ::_exit(4);
    }
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(ServerAccessTest, ASupplementaryGroupOfAnotherUserIsSeen) {
  if (::getuid() != 0) GTEST_SKIP() << "needs root, to run a client as another user";
  // The client reaches the socket through its group 4242.
  fs::permissions(dir, fs::perms(0711), fs::perm_options::replace);
  Serve(AccessPolicy({}, {4242}), 4242);
  EXPECT_EQ(RawReadAsAnotherUser(server->SocketPath(0)), 0);
  server.reset();
  Serve(AccessPolicy::ForDaemon(std::nullopt), 4242);
  EXPECT_EQ(RawReadAsAnotherUser(server->SocketPath(0)), 1);
}

}  // namespace
}  // namespace vantrel::driver
