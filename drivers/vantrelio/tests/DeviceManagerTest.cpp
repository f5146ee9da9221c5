// Plug and play through the whole stack on the simulated bus: bare parts are
// loaded and come back as boards, instances are the lowest free ones, and a
// board that leaves takes its socket and ends the exchanges in flight.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <thread>

#include "device/DeviceManager.h"
#include "TestClient.h"
#include "vantrel/protocol/ControlCodes.h"
#include "k27fw/FirmwareIds.h"
#include "k27sim/SimBoard.h"
#include "k27sim/SimEzUsbPart.h"
#include "k27sim/SimUsb.h"
#include "k27sim/SimUsbBoard.h"
#include "vantrel/usbhost/Backends.h"

namespace vantrel::driver {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using test::ExchangeBlock;
using test::MakeTempDir;
using test::TestClient;

// A bare part that takes every control request and never completes one,
// until it leaves the bus.
class SilentPart final : public vantrel::sim::SimUsbDevice {
 public:
  std::uint16_t VendorId() const override { return kLoaderVendorId; }
  std::uint16_t ProductId() const override { return kLoaderProductId; }
  vantrel::sim::UsbTransferOutcome Control(const vantrel::sim::UsbSetup&,
                                           std::span<std::uint8_t>) override {
    ++attempts;
    return {LeftBus() ? vantrel::sim::UsbOutcome::Gone : vantrel::sim::UsbOutcome::Nak, 0};
  }
  vantrel::sim::UsbTransferOutcome Out(std::uint8_t, std::span<const std::uint8_t>) override {
    return {vantrel::sim::UsbOutcome::Stall, 0};
  }
  vantrel::sim::UsbTransferOutcome In(std::uint8_t, std::span<std::uint8_t>) override {
    return {vantrel::sim::UsbOutcome::Stall, 0};
  }
  std::atomic<int> attempts{0};
};

class DeviceManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    DeviceManagerOptions options;
    options.deviceDir = dir_;
    options.loaderId = {kLoaderVendorId, kLoaderProductId};
    options.boardId = {kBoardVendorId, kBoardProductId};
    options.transferTimeLimit = 300ms;
    options.log = [this](const std::string& line) {
      std::lock_guard lock(logMutex_);
      log_.push_back(line);
    };
    manager_ = std::make_unique<DeviceManager>(options);
    host_ = usbhost::MakeSimBus(bus_);
    host_->Start(manager_->Events());
  }
  void TearDown() override {
    host_->Stop();
    manager_->RemoveAll();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::shared_ptr<vantrel::sim::SimBoard> Plug(int port) {
    auto board = std::make_shared<vantrel::sim::SimBoard>();
    vantrel::sim::SimEzUsbPartOptions part;
    part.vendorId = kLoaderVendorId;
    part.productId = kLoaderProductId;
    bus_.Plug(port, std::make_shared<vantrel::sim::SimEzUsbPart>(board, part));
    return board;
  }
  bool WaitForInstances(const std::vector<int>& expected) {
    for (int i = 0; i < 1000; ++i) {
      if (manager_->Instances() == expected) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }
  bool LogHas(const std::string& text) {
    std::lock_guard lock(logMutex_);
    for (const auto& line : log_)
      if (line.find(text) != std::string::npos) return true;
    return false;
  }

  fs::path dir_;
  vantrel::sim::SimUsbBus bus_{10};
  std::unique_ptr<DeviceManager> manager_;
  std::unique_ptr<usbhost::SimHostBus> host_;
  std::mutex logMutex_;
  std::vector<std::string> log_;
};

TEST_F(DeviceManagerTest, BarePartsAreLoadedAndTheNinthBoardGetsNoDevice) {
  for (int port = 1; port <= 9; ++port) Plug(port);
  ASSERT_TRUE(WaitForInstances({0, 1, 2, 3, 4, 5, 6, 7}));
  // The ninth part may still be loading when the eighth board is served.
  for (int i = 0; i < 1000 && !LogHas("gets no device"); ++i) std::this_thread::sleep_for(5ms);
  EXPECT_TRUE(LogHas("gets no device"));
  EXPECT_EQ(manager_->Instances().size(), 8u);
  for (int n = 0; n < 8; ++n) EXPECT_TRUE(fs::exists(dir_ / ("ezusb-" + std::to_string(n))));
  EXPECT_FALSE(fs::exists(dir_ / "ezusb-8"));

  // The board found at the port that leaves loses its instance; the next
  // board takes the lowest free one. The parts load side by side, so any
  // port may hold instance 3.
  int port3 = 0;
  for (int port = 1; port <= 9 && port3 == 0; ++port)
    if (LogHas("at 1-" + std::to_string(port) + " is \\Device\\Ezusb-3")) port3 = port;
  ASSERT_NE(port3, 0);
  bus_.Unplug(port3);
  ASSERT_TRUE(WaitForInstances({0, 1, 2, 4, 5, 6, 7}));
  EXPECT_FALSE(fs::exists(dir_ / "ezusb-3"));
  Plug(10);
  ASSERT_TRUE(WaitForInstances({0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(DeviceManagerTest, APartThatNeverAnswersHoldsUpNoOtherBoard) {
  auto silent = std::make_shared<SilentPart>();
  bus_.Plug(1, silent);
  ASSERT_TRUE(WaitForInstances({}));
  for (int i = 0; i < 1000 && silent->attempts.load() == 0; ++i) std::this_thread::sleep_for(5ms);
  ASSERT_GT(silent->attempts.load(), 0);
  // Its download waits; other parts are loaded and served meanwhile, and
  // boards still leave.
  Plug(2);
  ASSERT_TRUE(WaitForInstances({0}));
  Plug(3);
  ASSERT_TRUE(WaitForInstances({0, 1}));
  bus_.Unplug(2);
  ASSERT_TRUE(WaitForInstances({1}));
  // Its departure ends its download; a part at the same place is loaded.
  bus_.Unplug(1);
  Plug(1);
  ASSERT_TRUE(WaitForInstances({0, 1}));
  EXPECT_TRUE(LogHas("firmware load at"));
}

TEST_F(DeviceManagerTest, ExchangesReachTheBoardThroughTheWholeStack) {
  auto board = Plug(1);
  ASSERT_TRUE(WaitForInstances({0}));
  TestClient client(dir_ / "ezusb-0");
  EXPECT_EQ(client.Control(IOCTL_VIO_SELECT_INTERFACE, Bytes{0, 1}, 0).status, STATUS_SUCCESS);
  const auto reply = client.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(6, Bytes{0x4A}), 144);
  ASSERT_EQ(reply.status, STATUS_SUCCESS);
  EXPECT_EQ(reply.information, 144u);
  EXPECT_EQ(LoadLe32(reply.output.data() + 12), 3u);
  EXPECT_EQ(reply.output[16], 0x4A);
  EXPECT_EQ(reply.output[18], 0);  // no application image yet
  EXPECT_EQ(client.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(8, Bytes{0x4A}), 144).status,
            STATUS_INVALID_PARAMETER);
}

TEST_F(DeviceManagerTest, BoardThatNeverAnswersIsCancelledAtTheLimit) {
  auto board = Plug(1);
  ASSERT_TRUE(WaitForInstances({0}));
  board->InjectFault(2, 0x06, {vantrel::sim::FaultKind::NoReply, 0, -1});
  TestClient client(dir_ / "ezusb-0");
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(client.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(2, Bytes{0x06}), 144).status,
            STATUS_CANCELLED);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 250ms);
  const auto urb = client.Control(IOCTL_VIO_GET_LAST_URB_ERROR, Bytes{}, 4);
  ASSERT_EQ(urb.status, STATUS_SUCCESS);
  EXPECT_EQ(LoadLe32(urb.output.data()), usbhost::USBD_STATUS_CANCELED);
}

TEST_F(DeviceManagerTest, UnplugDuringAnExchangeEndsItAndLaterRequestsFail) {
  auto board = Plug(1);
  ASSERT_TRUE(WaitForInstances({0}));
  board->InjectFault(2, 0x06, {vantrel::sim::FaultKind::NoReply, 0, -1});
  TestClient client(dir_ / "ezusb-0");
  const std::uint64_t commandsBefore = board->CommandCount(2);
  auto exchange = std::async(std::launch::async, [&] {
    return client.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(2, Bytes{0x06}), 144).status;
  });
  // The unplug comes only once the command has reached the board.
  for (int i = 0; i < 2000 && board->CommandCount(2) == commandsBefore; ++i)
    std::this_thread::sleep_for(1ms);
  ASSERT_GT(board->CommandCount(2), commandsBefore);
  const auto unplugged = std::chrono::steady_clock::now();
  bus_.Unplug(1);
  ASSERT_EQ(exchange.wait_for(5s), std::future_status::ready);
  EXPECT_NE(exchange.get(), STATUS_SUCCESS);
  EXPECT_LT(std::chrono::steady_clock::now() - unplugged, 2s);
  ASSERT_TRUE(WaitForInstances({}));
  EXPECT_TRUE(client.WaitForClose(2000));
  for (int i = 0; i < 400 && fs::exists(dir_ / "ezusb-0"); ++i) std::this_thread::sleep_for(5ms);
  EXPECT_FALSE(fs::exists(dir_ / "ezusb-0"));
}

TEST_F(DeviceManagerTest, StopAndStartRequestsReachTheBoard) {
  Plug(2);
  ASSERT_TRUE(WaitForInstances({0}));
  host_->DeliverRequest(2, usbhost::PnpRequest::Stop);
  host_->DeliverRequest(2, usbhost::PnpRequest::Start);
  host_->DeliverRequest(2, usbhost::PnpRequest::QueryCapabilities);
  for (int i = 0; i < 200 && !LogHas("start: "); ++i) std::this_thread::sleep_for(5ms);
  EXPECT_TRUE(LogHas("stop: 0x00000000"));
  EXPECT_TRUE(LogHas("start: 0x00000000"));
  TestClient client(dir_ / "ezusb-0");
  EXPECT_EQ(client.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(6, Bytes{0x4A}), 144).status,
            STATUS_SUCCESS);
}

TEST_F(DeviceManagerTest, ArrivalReportedAgainIsStillOneDevice) {
  Plug(1);
  ASSERT_TRUE(WaitForInstances({0}));
  TestClient client(dir_ / "ezusb-0");
  // A rescan reports every device present again.
  host_->Rescan();
  host_->Rescan();
  Plug(2);
  ASSERT_TRUE(WaitForInstances({0, 1}));
  EXPECT_EQ(client.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(6, Bytes{0x4A}), 144).status,
            STATUS_SUCCESS);
  std::lock_guard lock(logMutex_);
  EXPECT_EQ(std::count_if(log_.begin(), log_.end(),
                          [](const std::string& line) {
                            return line.find("Ezusb-0, started") != std::string::npos;
                          }),
            1);
}

TEST_F(DeviceManagerTest, RescanFindsADepartureThatWasNotReported) {
  Plug(1);
  ASSERT_TRUE(WaitForInstances({0}));
  // The bus forgets to tell: the board is gone without a report.
  bus_.SetObserver({});
  bus_.Unplug(1);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(manager_->Instances(), std::vector<int>{0});
  host_->Rescan();
  ASSERT_TRUE(WaitForInstances({}));
  EXPECT_FALSE(fs::exists(dir_ / "ezusb-0"));
}

TEST_F(DeviceManagerTest, AccessRefusedRightAfterArrivalIsRetried) {
  auto board = std::make_shared<vantrel::sim::SimUsbBoard>(
      std::make_shared<vantrel::sim::SimBoard>(), kBoardVendorId, kBoardProductId);
  board->RefuseOpens(3);
  bus_.Plug(1, board);
  ASSERT_TRUE(WaitForInstances({0}));
  TestClient client(dir_ / "ezusb-0");
  EXPECT_EQ(client.Control(IOCTL_VIO_BULK_EXCHANGE, ExchangeBlock(6, Bytes{0x4A}), 144).status,
            STATUS_SUCCESS);
}

TEST_F(DeviceManagerTest, DeviceThatStaysRefusedIsDroppedUntilItComesBack) {
  std::vector<std::string> busLog;
  std::mutex busLogMutex;
  host_->Stop();
  host_->SetLog([&](const std::string& line) {
    std::lock_guard lock(busLogMutex);
    busLog.push_back(line);
  });
  host_->Start(manager_->Events());
  auto board = std::make_shared<vantrel::sim::SimUsbBoard>(
      std::make_shared<vantrel::sim::SimBoard>(), kBoardVendorId, kBoardProductId);
  board->RefuseOpens(1000);
  bus_.Plug(1, board);
  const auto dropped = [&] {
    std::lock_guard lock(busLogMutex);
    return !busLog.empty();
  };
  for (int i = 0; i < 1000 && !dropped(); ++i) std::this_thread::sleep_for(5ms);
  ASSERT_TRUE(dropped());
  EXPECT_NE(busLog.front().find("dropped"), std::string::npos) << busLog.front();
  EXPECT_TRUE(manager_->Instances().empty());
  EXPECT_FALSE(fs::exists(dir_ / "ezusb-0"));

  // Plugged again (the refusals over), it is served.
  board->RefuseOpens(0);
  bus_.Unplug(1);
  bus_.Plug(1, std::make_shared<vantrel::sim::SimUsbBoard>(
                   std::make_shared<vantrel::sim::SimBoard>(), kBoardVendorId, kBoardProductId));
  ASSERT_TRUE(WaitForInstances({0}));
}

// A bare part that is pulled out after `writes` firmware-load requests.
class PartPulledMidDownload final : public vantrel::sim::SimUsbDevice {
 public:
  PartPulledMidDownload(std::shared_ptr<vantrel::sim::SimEzUsbPart> part,
                        vantrel::sim::SimUsbBus& bus, int port, int writes)
      : part_(std::move(part)), bus_(bus), port_(port), writes_(writes) {}
  std::uint16_t VendorId() const override { return part_->VendorId(); }
  std::uint16_t ProductId() const override { return part_->ProductId(); }
  vantrel::sim::UsbTransferOutcome Control(const vantrel::sim::UsbSetup& setup,
                                           std::span<std::uint8_t> data) override {
    if (LeftBus()) return {vantrel::sim::UsbOutcome::Gone, 0};
    if ((setup.requestType & 0x60) == 0x40 && ++written_ == writes_) {
      bus_.Unplug(port_);
      return {vantrel::sim::UsbOutcome::Gone, 0};
    }
    return part_->Control(setup, data);
  }
  vantrel::sim::UsbTransferOutcome Out(std::uint8_t endpoint,
                                       std::span<const std::uint8_t> data) override {
    return LeftBus() ? vantrel::sim::UsbTransferOutcome{vantrel::sim::UsbOutcome::Gone, 0}
                     : part_->Out(endpoint, data);
  }
  vantrel::sim::UsbTransferOutcome In(std::uint8_t endpoint,
                                      std::span<std::uint8_t> buffer) override {
    return LeftBus() ? vantrel::sim::UsbTransferOutcome{vantrel::sim::UsbOutcome::Gone, 0}
                     : part_->In(endpoint, buffer);
  }
  int Written() const { return written_; }

 private:
  std::shared_ptr<vantrel::sim::SimEzUsbPart> part_;
  vantrel::sim::SimUsbBus& bus_;
  const int port_;
  const int writes_;
  int written_ = 0;
};

TEST_F(DeviceManagerTest, BoardPulledDuringTheDownloadLeavesNothingBehind) {
  vantrel::sim::SimEzUsbPartOptions options;
  options.vendorId = kLoaderVendorId;
  options.productId = kLoaderProductId;
  auto pulled = std::make_shared<PartPulledMidDownload>(
      std::make_shared<vantrel::sim::SimEzUsbPart>(std::make_shared<vantrel::sim::SimBoard>(),
                                                   options),
      bus_, 1, 6);
  bus_.Plug(1, pulled);
  for (int i = 0; i < 1000 && !LogHas("firmware load at"); ++i) std::this_thread::sleep_for(5ms);
  ASSERT_TRUE(LogHas("firmware load at"));
  EXPECT_GE(pulled->Written(), 6);
  host_->Rescan();
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(manager_->Instances().empty());
  for (const auto& entry : fs::directory_iterator(dir_))
    ADD_FAILURE() << "left behind: " << entry.path();

  // The same port serves the next part as usual, under the lowest instance.
  Plug(1);
  ASSERT_TRUE(WaitForInstances({0}));
}

}  // namespace
}  // namespace vantrel::driver
