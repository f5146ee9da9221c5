// A board whose replies a test writes: every exchange is recorded, and a
// command answers with the next reply queued for it, or else with its echo
// and status 0. The image counts as present and EEPROM reads return zeros, so
// init succeeds against it.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <vantrel/VantrelUSB.h>
#include <vantrel/protocol/ControlCodes.h>
#include <vantrel/driver/ControlHandler.h>

#include "link/DeviceLink.h"
#include "vantrel/testsupport/InProcessDeviceLink.h"

namespace vantrel::testing {

using Bytes = std::vector<std::uint8_t>;

class ScriptedBoard : public driver::ControlHandler {
 public:
  struct Sent {
    int channel;
    Bytes bytes;
  };

  // Queues the whole reply (echo and status included) for a command.
  void Reply(int channel, std::uint8_t command, Bytes reply) {
    std::lock_guard lock(mutex_);
    replies_[{channel, command}].push_back(std::move(reply));
  }
  // The exchanges on a channel since the last Clear, as sent.
  std::vector<Sent> SentOn(int channel) {
    std::lock_guard lock(mutex_);
    std::vector<Sent> found;
    for (auto& s : sent_)
      if (s.channel == channel) found.push_back(s);
    return found;
  }
  std::vector<Sent> All() {
    std::lock_guard lock(mutex_);
    return sent_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    sent_.clear();
  }

  driver::ControlResult Control(std::uint32_t code, std::span<const std::uint8_t> in,
                                std::span<std::uint8_t> out) override {
    using namespace driver;
    using Block = BulkExchangeBlock;
    if (code == IOCTL_VIO_SELECT_INTERFACE) return {STATUS_SUCCESS, 0};
    if (code != IOCTL_VIO_BULK_EXCHANGE || in.size() < Block::kSize || out.size() < Block::kSize)
      return {STATUS_INVALID_PARAMETER, 0};
    const int channel = static_cast<int>(LoadLe32(in.data() + Block::kOutPipe) + 1) / 2;
    const std::uint32_t outLength = LoadLe32(in.data() + Block::kOutLength);
    Bytes command(in.begin() + Block::kHeaderSize, in.begin() + Block::kHeaderSize + outLength);
    Bytes reply = Answer(channel, command);
    std::copy(in.begin(), in.begin() + Block::kSize, out.begin());
    std::copy(reply.begin(), reply.end(), out.begin() + Block::kHeaderSize);
    StoreLe32(out.data() + Block::kInLength, static_cast<std::uint32_t>(reply.size()));
    return {STATUS_SUCCESS, Block::kSize};
  }

 private:
  Bytes Answer(int channel, const Bytes& command) {
    std::lock_guard lock(mutex_);
    sent_.push_back({channel, command});
    auto queued = replies_.find({channel, command[0]});
    if (queued != replies_.end() && !queued->second.empty()) {
      Bytes reply = queued->second.front();
      queued->second.pop_front();
      return reply;
    }
    if (channel == 6 && command[0] == 0x4A) return {0x4A, 0, 1};
    if (channel == 2 && command[0] == 0x05) return ZeroRead(command);
    return {command[0], 0};
  }
  static Bytes ZeroRead(const Bytes& command) {
    Bytes reply(2 + command.at(1), 0);
    reply[0] = command[0];
    return reply;
  }

  std::mutex mutex_;
  std::map<std::pair<int, std::uint8_t>, std::deque<Bytes>> replies_;
  std::vector<Sent> sent_;
};

// Installs a scripted board as device 0 for the test's lifetime and connects.
class ScriptedBoardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDeviceOpener([this](int index) -> std::unique_ptr<DeviceLink> {
      if (index != 0) return nullptr;
      return std::make_unique<InProcessDeviceLink>(script_);
    });
    ASSERT_NE(board_.init(0), 0);
    script_->Clear();
  }
  void TearDown() override { SetDeviceOpener({}); }

  // The bytes of the only exchange made on a channel since SetUp.
  Bytes Only(int channel) {
    auto sent = script_->SentOn(channel);
    EXPECT_EQ(sent.size(), 1u);
    return sent.empty() ? Bytes{} : sent.front().bytes;
  }

  std::shared_ptr<ScriptedBoard> script_ = std::make_shared<ScriptedBoard>();
  VantrelUSB board_;
};

}  // namespace vantrel::testing
