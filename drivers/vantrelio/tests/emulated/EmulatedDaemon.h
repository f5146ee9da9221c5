// The daemon binary as a machine runs it, over libusb, in a test: this
// process (run under umockdev-wrapper) owns the emulated USB bus, whose
// devices are the simulator's bare parts and boards, and starts the built
// vantrelio without --simulate as its child, with umockdev's preload and the
// testbed's folder, so that libusb in the daemon sees the emulated bus.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <vantrel/testsupport/SimDaemon.h>

#include "emulation/EmulatedUsbBus.h"
#include "k27fw/FirmwareIds.h"
#include "k27sim/SimBoard.h"
#include "k27sim/SimEzUsbPart.h"

namespace vantrel::driver::emulated {

using namespace std::chrono_literals;
using usbhost::emulation::EmulatedUsbBus;
using usbhost::emulation::UsbfsDevice;
using usbhost::emulation::UsbfsFaults;

// The line the daemon writes once board `instance` is served.
inline std::string ServedLine(int instance) {
  return "is \\Device\\Ezusb-" + std::to_string(instance) + ", started";
}
inline std::string RemovedLine(int instance) {
  return "\\Device\\Ezusb-" + std::to_string(instance) + " deleted";
}

class EmulatedDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!EmulatedUsbBus::InMockEnvironment())
      GTEST_SKIP() << "needs umockdev-wrapper (umockdev is not installed, or the test was run "
                      "outside ctest)";
    bus_ = std::make_unique<EmulatedUsbBus>();
    testsupport::SimDaemonOptions options;
    options.simulate = false;
    daemon_ = std::make_unique<testsupport::SimDaemon>(options);
    // The library in this process finds the daemon's sockets there.
    ::setenv("VANTREL_DEVICE_DIR", daemon_->DeviceDir().c_str(), 1);
  }
  void TearDown() override {
    // The daemon lets go of the emulated devices before they go.
    if (daemon_ && daemon_->Running()) {
      const int status = daemon_->Stop();
      EXPECT_EQ(status, 0) << daemon_->Log();
    }
    if (HasFailure() && daemon_) std::cerr << "daemon log:\n" << daemon_->Log();
    daemon_.reset();
    bus_.reset();
  }

  void StartDaemon(std::vector<std::string> arguments = {}) {
    daemon_->Options().arguments = std::move(arguments);
    ASSERT_TRUE(daemon_->Start()) << daemon_->Log();
  }

  // A board that has no firmware yet, as after power-up.
  static std::shared_ptr<vantrel::sim::SimBoard> NewBoard(std::uint8_t address = 0) {
    vantrel::sim::SimBoardOptions options;
    options.realTime = true;
    options.boardAddress = address;
    return std::make_shared<vantrel::sim::SimBoard>(options);
  }
  // The bare EZ-USB part of `board`, with the loader's identifiers.
  static std::shared_ptr<vantrel::sim::SimEzUsbPart> BarePart(
      std::shared_ptr<vantrel::sim::SimBoard> board) {
    vantrel::sim::SimEzUsbPartOptions options;
    options.vendorId = kLoaderVendorId;
    options.productId = kLoaderProductId;
    options.reEnumerationDelay = 20ms;  // about what hardware takes
    return std::make_shared<vantrel::sim::SimEzUsbPart>(std::move(board), options);
  }
  // Plugs a bare part of a new board into `port`; its board.
  std::shared_ptr<vantrel::sim::SimBoard> PlugBarePart(int port, std::uint8_t address = 0) {
    auto board = NewBoard(address);
    bus_->Plug(port, BarePart(board));
    return board;
  }
  bool WaitServed(int instance, int times = 1) {
    return daemon_->WaitForLog(ServedLine(instance), testsupport::kWaitLimit, times);
  }
  // Waits until the device at `port` has `count` URBs waiting for an answer.
  bool WaitWaitingUrbs(int port, std::size_t count,
                       std::chrono::milliseconds limit = testsupport::kWaitLimit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      auto usbfs = bus_->At(port);
      if (usbfs && usbfs->WaitingUrbs() >= count) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(5ms);  // polls a condition, bounded by the limit
    }
  }

  std::unique_ptr<EmulatedUsbBus> bus_;
  std::unique_ptr<testsupport::SimDaemon> daemon_;
};

}  // namespace vantrel::driver::emulated
