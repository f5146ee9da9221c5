// The library's link to the daemon over a real socket: which buffers travel
// each way, and a daemon that stops while a client holds its connection.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include <k27/common/SeqPacketSocket.h>
#include <vantrel/protocol/ControlCodes.h>
#include <vantrel/protocol/ControlProtocol.h>
#include <vantrel/testsupport/DaemonServer.h>

#include "link/SocketDeviceLink.h"

namespace vantrel {
namespace {

namespace drv = vantrel::driver;
using Bytes = std::vector<std::uint8_t>;

// Keeps what each request brought and answers with the output buffer
// reversed, so that the caller sees what the driver wrote.
class RecordingHandler final : public drv::ControlHandler {
 public:
  struct Request {
    std::uint32_t code;
    Bytes in;
    Bytes out;
  };
  drv::ControlResult Control(std::uint32_t code, std::span<const std::uint8_t> in,
                             std::span<std::uint8_t> out) override {
    std::lock_guard lock(mutex_);
    requests_.push_back({code, Bytes(in.begin(), in.end()), Bytes(out.begin(), out.end())});
    std::reverse(out.begin(), out.end());
    return {drv::STATUS_SUCCESS, static_cast<std::uint32_t>(out.size())};
  }
  Request Last() {
    std::lock_guard lock(mutex_);
    return requests_.back();
  }

 private:
  std::mutex mutex_;
  std::vector<Request> requests_;
};

class SocketLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/k27-link-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    server_ = std::make_unique<drv::ControlServer>(dir_);
    server_->AddEndpoint(std::string(drv::ControlProtocol::kSocketPrefix) + "0", &handler_);
    server_->Start();
    link_ = SocketDeviceLink::Connect(server_->SocketPath(0).string());
    ASSERT_TRUE(link_);
  }
  void TearDown() override {
    link_.reset();
    server_.reset();
    std::filesystem::remove_all(dir_);
  }

  std::filesystem::path dir_;
  RecordingHandler handler_;
  std::unique_ptr<drv::ControlServer> server_;
  std::unique_ptr<SocketDeviceLink> link_;
};

TEST_F(SocketLinkTest, InDirectCodesCarryTheirOutputBufferToTheDriver) {
  // The data of these codes is in the output buffer: it must reach the
  // driver as the caller filled it.
  const Bytes pipe = {3, 0, 0, 0};
  const Bytes address = {0x00, 0x08};
  const Bytes setup = {0, 2, 0, 0, 0x51, 0, 0x34, 0x12, 0, 0};
  for (const auto& [code, in] :
       {std::pair{drv::IOCTL_VIO_PIPE_WRITE, pipe}, std::pair{drv::IOCTL_VIO_DOWNLOAD_AT, address},
        std::pair{drv::IOCTL_VIO_CONTROL_REQUEST, setup}}) {
    Bytes data(130);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
    const Bytes sent = data;
    std::uint32_t returned = 0;
    ASSERT_TRUE(link_->Control(code, in, data, &returned)) << std::hex << code;
    const auto request = handler_.Last();
    EXPECT_EQ(request.code, code);
    EXPECT_EQ(request.in, in);
    EXPECT_EQ(request.out, sent) << std::hex << code;
  }
}

TEST_F(SocketLinkTest, OutDirectAndBufferedOutputsTravelBackOnly) {
  Bytes data(64, 0xEE);
  std::uint32_t returned = 0;
  ASSERT_TRUE(link_->Control(drv::IOCTL_VIO_PIPE_READ, Bytes{2, 0, 0, 0}, data, &returned));
  // The caller's bytes stay here; the driver starts from a clean buffer.
  EXPECT_EQ(handler_.Last().out, Bytes(64, 0));
  EXPECT_EQ(returned, 64u);
  EXPECT_EQ(data, Bytes(64, 0));
}

TEST_F(SocketLinkTest, StoppedDaemonFailsEveryRequestWithoutASignal) {
  ::signal(SIGPIPE, SIG_DFL);  // a SIGPIPE would end the test
  server_->Stop();
  Bytes data(144, 0x5A);
  std::uint32_t returned = 7;
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(link_->Control(drv::IOCTL_VIO_BULK_EXCHANGE, Bytes(144), data, &returned));
    EXPECT_EQ(returned, 0u);
  }
  EXPECT_EQ(data, Bytes(144, 0x5A));  // a failed request writes nothing
  EXPECT_FALSE(SocketDeviceLink::Connect(server_->SocketPath(0).string()));
}

// A daemon played by hand on a bare socket, to say exactly when it answers
// and closes.
class HandPlayedDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/k27-hand-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    const auto address = vantrel::common::UnixAddress((dir_ / "ezusb-0").string());
    ASSERT_TRUE(address);
    listener_ = vantrel::common::BindSeqPacket(*address);
    ASSERT_TRUE(listener_ && vantrel::common::Listen(listener_, 4));
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // A client connected, and the daemon's end of its connection.
  std::unique_ptr<SocketDeviceLink> Connect(vantrel::common::UniqueFd* accepted) {
    auto link = SocketDeviceLink::Connect((dir_ / "ezusb-0").string());
    *accepted = vantrel::common::AcceptSeqPacket(listener_);
    return link;
  }
  static void Refuse(const vantrel::common::UniqueFd& fd, std::uint32_t status,
                     std::uint32_t limit) {
    const auto refusal = drv::EncodeRefusal(status, limit);
    ASSERT_EQ(::send(fd.Get(), refusal.data(), refusal.size(), 0),
              static_cast<ssize_t>(refusal.size()));
  }
  LinkResult Select(SocketDeviceLink& link) {
    std::uint32_t returned = 0;
    return link.Control(drv::IOCTL_VIO_SELECT_INTERFACE, Bytes{0, 1}, {}, &returned);
  }

  std::filesystem::path dir_;
  vantrel::common::UniqueFd listener_;
};

TEST_F(HandPlayedDaemonTest, RefusalIsReadAsTheFirstRequestsStatusAndLimit) {
  ::signal(SIGPIPE, SIG_DFL);  // a SIGPIPE would end the test
  // Answered while the daemon still holds the connection, and left behind by
  // one that has closed it before the request was sent.
  for (const bool closedFirst : {false, true}) {
    SCOPED_TRACE(closedFirst);
    vantrel::common::UniqueFd accepted;
    auto link = Connect(&accepted);
    ASSERT_TRUE(link && accepted);
    Refuse(accepted, drv::STATUS_TOO_MANY_OPENED_FILES, 64);
    if (closedFirst) accepted.Reset();
    const LinkResult result = Select(*link);
    EXPECT_EQ(result.kind, LinkResult::Kind::kFailed);
    EXPECT_EQ(result.status, drv::STATUS_TOO_MANY_OPENED_FILES);
    EXPECT_EQ(result.information, 64u);
    accepted.Reset();
    EXPECT_EQ(Select(*link).kind, LinkResult::Kind::kLost);
  }
}

TEST_F(HandPlayedDaemonTest, SilentCloseIsLostAndSilenceIsNoReply) {
  vantrel::common::UniqueFd accepted;
  auto link = Connect(&accepted);
  ASSERT_TRUE(link && accepted);
  accepted.Reset();
  EXPECT_EQ(Select(*link).kind, LinkResult::Kind::kLost);

  ::setenv(SocketDeviceLink::kReplyTimeoutEnv, "50", 1);
  link = Connect(&accepted);
  ::unsetenv(SocketDeviceLink::kReplyTimeoutEnv);
  ASSERT_TRUE(link && accepted);
  EXPECT_EQ(Select(*link).kind, LinkResult::Kind::kNoReply);
}

}  // namespace
}  // namespace vantrel
