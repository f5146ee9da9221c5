// Firmware loads over libusb on the emulated bus that go wrong: a part that
// never answers is given up within the loads' limits and logged as an
// error, a failed load is tried again on SIGHUP without a replug, and the
// external-memory pass (0xA3) of a first-stage loader runs.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include <vantrel/VantrelUSB.h>

#include "EmulatedDaemon.h"

namespace vantrel::driver::emulated {
namespace {

using Clock = std::chrono::steady_clock;

// Shortened limits, so that a load gives up in about a second: each request
// 300 ms, one retry after 100 ms, 500 ms for a board to come back.
const std::vector<std::string> kShortLoads = {
    "--load-request-limit-ms", "300", "--load-retries",  "1",
    "--load-backoff-ms",       "100", "--board-wait-ms", "500"};

// The journal's priority prefix of an error line.
constexpr const char* kError = "<3>vantrelio: ";

class DaemonOnUsbLoads : public EmulatedDaemonTest {
 protected:
  void SetUp() override {
    EmulatedDaemonTest::SetUp();
    if (IsSkipped()) return;
    // The log file as the daemon's journal stream: each line then carries
    // its priority, so that the test sees what was logged as an error.
    const int fd = ::open(daemon_->LogPath().c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    struct stat st {};
    ASSERT_EQ(::fstat(fd, &st), 0);
    ::close(fd);
    daemon_->Options().environment.push_back("JOURNAL_STREAM=" + std::to_string(st.st_dev) + ":" +
                                             std::to_string(st.st_ino));
  }

  static bool Works(int instance) {
    VantrelUSB library;
    if (library.init(instance) == 0) return false;
    std::vector<unsigned char> out(16, 0x3C), in(16, 0);
    return library.WriteSRAM(0x9100, out.data(), 16) != 0 &&
           library.ReadSRAM(0x9100, in.data(), 16) != 0 && in == out;
  }
};

TEST_F(DaemonOnUsbLoads, APartThatNeverAnswersIsGivenUpAndLoadedOnSighupOnceItAnswers) {
  StartDaemon(kShortLoads);
  UsbfsFaults silent;
  silent.nak = true;
  bus_->SetFaults(1, silent);
  const auto plugged = Clock::now();
  PlugBarePart(1);
  ASSERT_TRUE(daemon_->WaitForLog("given up after 2 attempt(s)")) << daemon_->Log();
  // Two attempts of one request each, 300 ms apiece, and the pause between.
  EXPECT_GE(Clock::now() - plugged, 700ms);
  EXPECT_LT(Clock::now() - plugged, 10s);  // given up, not left hanging
  EXPECT_NE(daemon_->Log().find(std::string(kError) + "firmware load at 1-1 failed"),
            std::string::npos)
      << daemon_->Log();
  auto usbfs = bus_->At(1);
  ASSERT_NE(usbfs, nullptr);
  EXPECT_EQ(usbfs->Discarded(), 2u);  // each attempt's request cancelled at its limit
  EXPECT_EQ(usbfs->WaitingUrbs(), 0u);
  EXPECT_FALSE(std::filesystem::exists(daemon_->Socket(0)));

  // The part answers from now on, and so does the board it becomes.
  bus_->SetFaults(1, {});
  usbfs->SetNak(false);
  daemon_->Signal(SIGHUP);
  ASSERT_TRUE(WaitServed(0)) << daemon_->Log();
  EXPECT_TRUE(Works(0));
}

TEST_F(DaemonOnUsbLoads, AFailedLoadIsLoadedAgainOnSighupWithoutAReplug) {
  StartDaemon(kShortLoads);
  UsbfsFaults stalled;
  stalled.stall = true;
  bus_->SetFaults(1, stalled);
  PlugBarePart(1);
  ASSERT_TRUE(daemon_->WaitForLog("given up after 2 attempt(s)")) << daemon_->Log();
  EXPECT_NE(daemon_->Log().find(std::string(kError) + "firmware load at 1-1 failed"),
            std::string::npos)
      << daemon_->Log();

  bus_->SetFaults(1, {});
  bus_->At(1)->SetStall(false);
  daemon_->Signal(SIGHUP);
  ASSERT_TRUE(WaitServed(0)) << daemon_->Log();
  EXPECT_TRUE(Works(0));
  // The bare part arrived once, its board once: nobody replugged anything.
  ASSERT_TRUE(bus_->Settle());
  EXPECT_EQ(bus_->Arrivals(), 2);
}

TEST_F(DaemonOnUsbLoads, TheExternalMemoryPassRunsOverLibusb) {
  StartDaemon({"--external-test-records"});
  auto board = NewBoard();
  auto part = BarePart(board);
  bus_->Plug(1, part);
  ASSERT_TRUE(WaitServed(0)) << daemon_->Log();
  std::vector<vantrel::sim::VendorRequestRecord> external;
  for (const auto& request : part->VendorRequests())
    if (request.setup.request == vantrel::sim::SimEzUsbPart::kExternalMemoryRequest)
      external.push_back(request);
  ASSERT_FALSE(external.empty());
  for (const auto& request : external) {
    EXPECT_GT(request.setup.value, vantrel::sim::SimEzUsbPart::kInternalMemoryEnd);
    EXPECT_EQ(request.outcome, vantrel::sim::UsbOutcome::Ack);
    // What the first-stage loader wrote is in the part's external memory.
    EXPECT_EQ(part->ExternalMemory(request.setup.value, request.data.size()), request.data);
  }
  VantrelUSB library;
  ASSERT_NE(library.init(0), 0);
}

}  // namespace
}  // namespace vantrel::driver::emulated
