// Firmware loads through the daemon's plug and play on the simulated bus: a
// part that never answers is given up at the time limit and logged as an
// error, failed loads are tried again with back-off and on request (SIGHUP),
// and a board that comes back with other identifiers is named.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "device/DeviceManager.h"
#include "TestClient.h"
#include "k27fw/FirmwareIds.h"
#include "k27fw/LoaderImages.h"
#include "k27sim/SimBoard.h"
#include "k27sim/SimEzUsbPart.h"
#include "k27sim/SimUsb.h"
#include "vantrel/usbhost/Backends.h"

namespace vantrel::driver {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

// A bare part whose vendor requests can be left unanswered (NAKed until the
// request is cancelled) or stalled (those to `stallAddress` only, when set),
// before it behaves as the real one.
class ScriptedPart final : public vantrel::sim::SimEzUsbPart {
 public:
  ScriptedPart() : SimEzUsbPart(std::make_shared<vantrel::sim::SimBoard>(), Options()) {}
  static vantrel::sim::SimEzUsbPartOptions Options() {
    vantrel::sim::SimEzUsbPartOptions options;
    options.vendorId = kLoaderVendorId;
    options.productId = kLoaderProductId;
    return options;
  }
  vantrel::sim::UsbTransferOutcome Control(const vantrel::sim::UsbSetup& setup,
                                           std::span<std::uint8_t> data) override {
    if ((setup.requestType & 0x60) == 0x40 && !LeftBus()) {
      if (silent.load()) return {vantrel::sim::UsbOutcome::Nak, 0};
      if (stalls.load() > 0 && (stallAddress < 0 || setup.value == stallAddress)) {
        --stalls;
        return {vantrel::sim::UsbOutcome::Stall, 0};
      }
    }
    return SimEzUsbPart::Control(setup, data);
  }
  std::atomic<bool> silent{false};
  std::atomic<int> stalls{0};
  int stallAddress = -1;
};

class FirmwareLoadTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (host_) host_->Stop();
    if (manager_) manager_->RemoveAll();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Short limits unless the test sets others.
  void Start(LoadSettings loads, usbhost::UsbId boardId = {kBoardVendorId, kBoardProductId}) {
    dir_ = test::MakeTempDir();
    DeviceManagerOptions options;
    options.deviceDir = dir_;
    options.loaderId = {kLoaderVendorId, kLoaderProductId};
    options.boardId = boardId;
    options.loads = loads;
    options.log = [this](const std::string& line) { Record(info_, line); };
    options.logError = [this](const std::string& line) { Record(errors_, line); };
    options.busDevices = [this] { return host_->Present(); };
    manager_ = std::make_unique<DeviceManager>(options);
    host_ = usbhost::MakeSimBus(bus_);
    host_->Start(manager_->Events());
  }
  static LoadSettings Quick() {
    LoadSettings loads;
    loads.requestTimeLimit = 100ms;
    loads.retries = 2;
    loads.backoff = 20ms;
    loads.boardWait = 5s;
    return loads;
  }
  void Record(Lines& lines, const std::string& line) {
    std::lock_guard lock(mutex_);
    lines.push_back(line);
  }
  Lines Errors() {
    std::lock_guard lock(mutex_);
    return errors_;
  }
  bool ErrorsHave(const std::string& text, int limitMs = 10000) {
    for (int waited = 0; waited < limitMs; waited += 5) {
      const Lines lines = Errors();
      if (std::any_of(lines.begin(), lines.end(),
                      [&](const auto& line) { return line.find(text) != std::string::npos; }))
        return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }
  bool WaitForInstances(const std::vector<int>& expected) {
    for (int i = 0; i < 2000; ++i) {
      if (manager_->Instances() == expected) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }

  fs::path dir_;
  vantrel::sim::SimUsbBus bus_{4};
  std::unique_ptr<DeviceManager> manager_;
  std::unique_ptr<usbhost::SimHostBus> host_;
  std::mutex mutex_;
  Lines info_, errors_;
};

TEST_F(FirmwareLoadTest, SilentPartIsGivenUpAtTheLimitAndLoadedOnRetryOnceItAnswers) {
  Start(Quick());
  auto part = std::make_shared<ScriptedPart>();
  part->silent = true;
  bus_.Plug(1, part);
  ASSERT_TRUE(ErrorsHave("given up after 3 attempt(s)"));
  // Each attempt ends at its first request, cancelled at the limit; the
  // waits between grow.
  const std::string unanswered =
      "firmware load at 1-1 failed: holding the 8051 in reset: request 0xA0 at address 0x7F92 "
      "not answered within 100 ms (cancelled, USB status 0xC0010000)";
  EXPECT_EQ(Errors(), (Lines{unanswered + "; trying again in 20 ms (attempt 1 of 3)",
                             unanswered + "; trying again in 40 ms (attempt 2 of 3)",
                             unanswered + "; given up after 3 attempt(s): SIGHUP (systemctl "
                                          "reload vantrelio) or a replug tries again"}));
  EXPECT_TRUE(manager_->Instances().empty());
  EXPECT_TRUE(part->CpuControlWrites().empty());

  // Answering now, it is loaded when asked, without a replug.
  part->silent = false;
  EXPECT_EQ(manager_->RetryFailedLoads(), 1u);
  ASSERT_TRUE(WaitForInstances({0}));
  EXPECT_EQ(Errors().size(), 3u);
  // Nothing is left to try again.
  EXPECT_EQ(manager_->RetryFailedLoads(), 0u);
}

TEST_F(FirmwareLoadTest, FailedLoadIsTriedAgainAfterItsBackOff) {
  LoadSettings loads = Quick();
  loads.boardWait = 200ms;  // the failed load's final run write went out
  Start(loads);
  // The board firmware's first record fails once: the firmware is not
  // there, the part stays bare, and the second attempt loads it.
  auto part = std::make_shared<ScriptedPart>();
  part->stalls = 1;
  part->stallAddress = BoardFirmwareImage[0].address;
  bus_.Plug(1, part);
  ASSERT_TRUE(WaitForInstances({0}));
  char address[8];
  std::snprintf(address, sizeof address, "0x%04X", part->stallAddress);
  EXPECT_EQ(Errors(), (Lines{"firmware load at 1-1 failed: writing the board firmware into "
                             "internal memory: request 0xA0 at address " +
                             std::string(address) +
                             ", USB status 0xC0000004; trying again in 20 ms (attempt 1 of 3)"}));
  // A failure before that leaves the sequence going, and the board comes
  // back all the same: no error.
  auto early = std::make_shared<ScriptedPart>();
  early->stalls = 1;
  bus_.Plug(2, early);
  ASSERT_TRUE(WaitForInstances({0, 1}));
  EXPECT_EQ(Errors().size(), 1u);
}

TEST_F(FirmwareLoadTest, RetryCutsTheBackOffShortAndADepartureEndsIt) {
  LoadSettings loads = Quick();
  loads.backoff = 10min;
  loads.boardWait = 100ms;
  Start(loads);
  auto part = std::make_shared<ScriptedPart>();
  part->stalls = 1000;
  bus_.Plug(1, part);
  ASSERT_TRUE(ErrorsHave("trying again in 600 s (attempt 1 of 3)"));
  part->stalls = 0;
  EXPECT_EQ(manager_->RetryFailedLoads(), 1u);
  ASSERT_TRUE(WaitForInstances({0}));

  // A part that leaves while it waits is not tried again.
  auto second = std::make_shared<ScriptedPart>();
  second->stalls = 1000;
  bus_.Plug(2, second);
  ASSERT_TRUE(ErrorsHave("firmware load at 1-2 failed"));
  bus_.Unplug(2);
  ASSERT_TRUE(WaitForInstances({0}));
  for (int i = 0; i < 400 && manager_->RetryFailedLoads() != 0; ++i)
    std::this_thread::sleep_for(5ms);
  EXPECT_EQ(manager_->RetryFailedLoads(), 0u);
  // And the stop ends a load that waits ten minutes at once (TearDown).
}

TEST_F(FirmwareLoadTest, BoardWithOtherIdentifiersIsNamedWithTheServedOnes) {
  LoadSettings loads = Quick();
  loads.boardWait = 100ms;
  const std::uint16_t served = static_cast<std::uint16_t>(kBoardProductId + 1);
  Start(loads, {kBoardVendorId, served});
  bus_.Plug(3, std::make_shared<ScriptedPart>());
  ASSERT_TRUE(ErrorsHave("no board came back at 1-3"));
  char found[16], wanted[16];
  std::snprintf(found, sizeof found, "%04x:%04x", kBoardVendorId, kBoardProductId);
  std::snprintf(wanted, sizeof wanted, "%04x:%04x", kBoardVendorId, served);
  EXPECT_EQ(Errors(),
            (Lines{"no board came back at 1-3 within 100 ms of its firmware load: found " +
                   std::string(found) + " there, but this daemon serves boards with " + wanted +
                   " (the build's K27_BOARD_VENDOR_ID and K27_BOARD_PRODUCT_ID; built "
                   "with K27_FIRMWARE_DIR, the board firmware's device descriptor must "
                   "carry the same)"}));
  EXPECT_TRUE(manager_->Instances().empty());
}

TEST(NoBoardMessage, NamesABarePartThatStayedAndAnEmptyPlace) {
  const usbhost::UsbId loader{0x0547, 0x2131}, board{0x1209, 0x0001};
  const std::vector<usbhost::DeviceIdentity> found{
      {1, {2}, 0x0547, 0x2131}, {1, {3}, 0x1209, 0x0005}, {2, {2}, 0x1234, 0x5678}};
  const std::string bare = NoBoardMessage("1-2", 5s, found, loader, board);
  EXPECT_NE(bare.find("within 5 s of its firmware load: found 0547:2131 (the bare part: its "
                      "firmware did not start) there, but this daemon serves boards with "
                      "1209:0001"),
            std::string::npos)
      << bare;
  const std::string none = NoBoardMessage("1-4", 1500ms, found, loader, board);
  EXPECT_NE(none.find("within 1500 ms of its firmware load: found nothing there"),
            std::string::npos)
      << none;
}

TEST_F(FirmwareLoadTest, ExternalRecordsReachTheExternalMemoryThroughTheFirstStageLoader) {
  LoadSettings loads = Quick();
  loads.images = loader::LoaderDevice::BuiltInImagesWithExternalRecords();
  Start(loads);
  auto part = std::make_shared<ScriptedPart>();
  bus_.Plug(1, part);
  ASSERT_TRUE(WaitForInstances({0}));
  std::size_t records = 0;
  for (const FirmwareRecord& record : ExternalMemoryTestImage) {
    if (record.type != kFirmwareRecordData) break;
    ++records;
    EXPECT_GT(record.address, 0x1B3F);
    EXPECT_EQ(part->ExternalMemory(record.address, record.length),
              std::vector<std::uint8_t>(record.data, record.data + record.length))
        << std::hex << record.address;
  }
  EXPECT_EQ(records, kExternalMemoryTestImageRecords - 1);
  const auto requests = part->VendorRequests();
  EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                          [](const auto& r) {
                            return r.setup.request == 0xA3 &&
                                   r.outcome == vantrel::sim::UsbOutcome::Ack;
                          }),
            static_cast<std::ptrdiff_t>(records));
  EXPECT_TRUE(Errors().empty());
}

}  // namespace
}  // namespace vantrel::driver
