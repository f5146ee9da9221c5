// The daemon's stack in-process over a simulated bus whose frame counter the
// test moves: the device manager, its sockets, the host layer, and a
// simulated isochronous device (IN pipe 0, OUT pipe 1) served as a board.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "device/DeviceManager.h"
#include "TestClient.h"
#include "k27fw/FirmwareIds.h"
#include "k27sim/SimIsoDevice.h"
#include "k27sim/SimUsb.h"
#include "vantrel/protocol/ControlCodes.h"
#include "vantrel/protocol/ControlProtocol.h"
#include "vantrel/usbhost/Backends.h"

namespace vantrel::driver::isotest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using test::Reply;
using test::TestClient;

constexpr std::uint32_t kInPipe = 0;
constexpr std::uint32_t kOutPipe = 1;
constexpr std::size_t kRecord = 12;

inline Bytes IsoRecord(std::uint32_t pipe, std::uint32_t packetSize, std::uint32_t packetCount,
                       std::uint32_t framesPerBuffer, std::uint32_t bufferCount) {
  Bytes record(IsoTransferRecord::kSize);
  StoreLe32(record.data() + 0, pipe);
  StoreLe32(record.data() + 4, packetSize);
  StoreLe32(record.data() + 8, packetCount);
  StoreLe32(record.data() + 12, framesPerBuffer);
  StoreLe32(record.data() + 16, bufferCount);
  return record;
}

// One 12-byte packet record: offset, length, status.
struct PacketRecord {
  std::uint32_t offset, length, status;
};
inline PacketRecord RecordAt(const Bytes& bytes, std::size_t at) {
  return {LoadLe32(&bytes[at]), LoadLe32(&bytes[at + 4]), LoadLe32(&bytes[at + 8])};
}
// The sequence number an IN packet of the simulated device starts with.
inline std::uint32_t SequenceAt(const Bytes& bytes, std::size_t at) { return LoadLe32(&bytes[at]); }

class IsoStackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::MakeTempDir();
    DeviceManagerOptions options;
    options.deviceDir = dir_;
    options.loaderId = {kLoaderVendorId, kLoaderProductId};
    options.boardId = {kBoardVendorId, kBoardProductId};
    options.transferTimeLimit = 300ms;
    manager_ = std::make_unique<DeviceManager>(options);
    host_ = usbhost::MakeSimBus(bus_);
    host_->Start(manager_->Events());
    iso_ = std::make_shared<vantrel::sim::SimIsoDevice>(
        vantrel::sim::SimIsoDeviceOptions{kBoardVendorId, kBoardProductId, 256});
    bus_.Plug(1, iso_);
    ASSERT_TRUE(WaitFor([&] { return manager_->Instances() == std::vector<int>{0}; }));
    client_ = std::make_unique<TestClient>(dir_ / "ezusb-0");
  }
  void TearDown() override {
    client_.reset();
    host_->Stop();
    manager_->RemoveAll();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  static bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }

  // A request with `output` as the output buffer's bytes for the codes
  // that carry data to the device.
  Reply Call(std::uint32_t code, const Bytes& in, std::uint32_t outLength,
             const Bytes& output = {}) {
    Bytes message = test::RequestMessage(code, std::uint32_t(in.size()), outLength, in);
    if (ControlProtocol::SendsOutputBuffer(code)) {
      Bytes data = output;
      data.resize(outLength);
      message.insert(message.end(), data.begin(), data.end());
    }
    client_->SendRaw(message);
    return client_->Receive();
  }

  // Runs `request` on another thread and moves the frame counter one frame
  // per millisecond until it has returned, as a running bus would.
  Reply WhileFramesRun(const std::function<Reply()>& request) {
    auto reply = std::async(std::launch::async, request);
    for (int i = 0; i < 20000 && reply.wait_for(0ms) != std::future_status::ready; ++i) {
      bus_.AdvanceFrames(1);
      std::this_thread::sleep_for(1ms);
    }
    return reply.get();
  }

  // Moves the counter by `frames` and waits until the device has served
  // `transfers` transfers in all. A request that the stream sends again
  // only after the counter has moved is scheduled on later frames: while
  // the device serves nothing, the counter moves on a frame at a time.
  bool RunFrames(std::uint32_t frames, std::uint32_t transfers) {
    bus_.AdvanceFrames(frames);
    int idle = 0;
    return WaitFor([&] {
      if (iso_->TransfersServed() >= transfers) return true;
      if (++idle % 50 == 0) bus_.AdvanceFrames(1);
      return false;
    });
  }

  fs::path dir_;
  vantrel::sim::SimUsbBus bus_{4};
  std::unique_ptr<DeviceManager> manager_;
  std::unique_ptr<usbhost::SimHostBus> host_;
  std::shared_ptr<vantrel::sim::SimIsoDevice> iso_;
  std::unique_ptr<TestClient> client_;
};

}  // namespace vantrel::driver::isotest
