#include "k27/common/SeqPacketSocket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace vantrel::common {
namespace {

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(UniqueFd, ClosesItsDescriptorOnceAndHandsItOnWhenMoved) {
  int raw[2];
  ASSERT_EQ(::pipe(raw), 0);
  {
    UniqueFd first(raw[0]);
    UniqueFd second(std::move(first));
    EXPECT_FALSE(first.Valid());
    EXPECT_EQ(second.Get(), raw[0]);
    UniqueFd third;
    third = std::move(second);
    EXPECT_TRUE(IsOpen(raw[0]));
    UniqueFd& same = third;
    third = std::move(same);  // moving onto itself keeps it
    EXPECT_TRUE(IsOpen(raw[0]));
  }
  EXPECT_FALSE(IsOpen(raw[0]));

  UniqueFd kept(raw[1]);
  const int released = kept.Release();
  EXPECT_FALSE(kept);
  EXPECT_TRUE(IsOpen(released));
  kept.Reset(released);
  kept.Reset();
  EXPECT_FALSE(IsOpen(released));
}

// A program started with standard output closed: the sockets the library
// opens must not take descriptor 1, or the program's output would be sent
// to the daemon. Standard input is used as the closed one here, so that the
// test runner's own output is never at stake.
TEST(SeqPacketSocket, NeverTakesAStandardStreamsNumber) {
  const int savedInput = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
  ASSERT_GE(savedInput, 3);
  ::close(0);
  int socketFd = -1;
  bool inputStillClosed = false;
  bool closeOnExec = false;
  {
    UniqueFd socket = NewSeqPacketSocket();
    socketFd = socket.Get();
    inputStillClosed = !IsOpen(0);
    closeOnExec = (::fcntl(socketFd, F_GETFD) & FD_CLOEXEC) != 0;
  }
  ASSERT_EQ(::dup2(savedInput, 0), 0);
  ::close(savedInput);
  EXPECT_GT(socketFd, 2);
  EXPECT_TRUE(inputStillClosed);
  EXPECT_TRUE(closeOnExec);
  EXPECT_EQ(KeepOffStandardStreams(-1), -1);
}

TEST(SeqPacketSocket, AddressesFitTheirPathWithItsTerminatorOrAreRefused) {
  const std::size_t room = sizeof(sockaddr_un{}.sun_path);
  const std::string longest(room - 1, 'a');
  const auto address = UnixAddress(longest);
  ASSERT_TRUE(address);
  EXPECT_EQ(std::string(address->sun_path), longest);
  EXPECT_EQ(address->sun_family, AF_UNIX);

  errno = 0;
  EXPECT_FALSE(UnixAddress(std::string(room, 'a')));
  EXPECT_EQ(errno, ENAMETOOLONG);
  EXPECT_NE(SocketPathError(std::string(room, 'a')).find("too long"), std::string::npos);
  errno = 0;
  EXPECT_FALSE(UnixAddress(""));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_FALSE(UnixAddress(std::string_view("/tmp/a\0b", 8)));

  errno = 0;
  EXPECT_FALSE(ConnectSeqPacket(std::string(room + 10, 'b')));
  EXPECT_EQ(errno, ENAMETOOLONG);
}

class SocketFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/k27c-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST_F(SocketFolder, AClientReachesAListenerAndMessagesKeepTheirBounds) {
  const std::string path = (dir_ / "s").string();
  const auto address = UnixAddress(path);
  ASSERT_TRUE(address);
  UniqueFd listener = BindSeqPacket(*address);
  ASSERT_TRUE(listener) << std::strerror(errno);
  ASSERT_TRUE(Listen(listener, 4));
  EXPECT_TRUE(std::filesystem::is_socket(path));

  UniqueFd client = ConnectSeqPacket(path);
  ASSERT_TRUE(client) << std::strerror(errno);
  UniqueFd served = AcceptSeqPacket(listener);
  ASSERT_TRUE(served);
  EXPECT_TRUE(::fcntl(served.Get(), F_GETFD) & FD_CLOEXEC);
  EXPECT_TRUE(::fcntl(client.Get(), F_GETFD) & FD_CLOEXEC);

  ASSERT_EQ(::send(client.Get(), "abc", 3, MSG_NOSIGNAL), 3);
  ASSERT_EQ(::send(client.Get(), "de", 2, MSG_NOSIGNAL), 2);
  char buffer[8];
  EXPECT_EQ(::recv(served.Get(), buffer, sizeof buffer, 0), 3);
  EXPECT_EQ(::recv(served.Get(), buffer, sizeof buffer, 0), 2);
  client.Reset();
  EXPECT_EQ(::recv(served.Get(), buffer, sizeof buffer, 0), 0);
}

TEST_F(SocketFolder, ConnectingToNothingFailsWithTheReasonAndNoDescriptorLeft) {
  const int before = ::dup(0);
  ::close(before);
  errno = 0;
  EXPECT_FALSE(ConnectSeqPacket((dir_ / "none").string()));
  EXPECT_EQ(errno, ENOENT);
  // The descriptor the attempt used is free again.
  const int after = ::dup(0);
  EXPECT_EQ(after, before);
  ::close(after);

  const auto address = UnixAddress((dir_ / "s").string());
  ASSERT_TRUE(address);
  UniqueFd bound = BindSeqPacket(*address, kNonBlocking);
  ASSERT_TRUE(bound);
  errno = 0;
  EXPECT_FALSE(BindSeqPacket(*address));  // taken
  EXPECT_EQ(errno, EADDRINUSE);
}

}  // namespace
}  // namespace vantrel::common
