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

#include <vantrel/driver/ControlCodes.h>
#include <vantrel/driver/ControlProtocol.h>

#include "server/ControlServer.h"
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

}  // namespace
}  // namespace vantrel
