// The daemon over libusb on the emulated bus: bare parts loaded, their
// boards served and used through the library and k27ctl, several at once,
// power cycles, parts that never answer, a kernel driver in the way.
#include <signal.h>

#include <future>
#include <vector>

#include <vantrel/VantrelUSB.h>

#include <vantrel/testsupport/ChildProcess.h>

#include "EmulatedDaemon.h"

namespace vantrel::driver::emulated {
namespace {

// Writes a pattern into the board's SRAM and reads it back: exchanges on
// the board's bulk endpoints, through the daemon.
bool SramRoundTrip(VantrelUSB& board, unsigned char fill) {
  std::vector<unsigned char> out(32, fill), in(32, 0);
  if (board.WriteSRAM(0x9000, out.data(), 32) == 0) return false;
  if (board.ReadSRAM(0x9000, in.data(), 32) == 0) return false;
  return in == out;
}

using DaemonOnUsb = EmulatedDaemonTest;

TEST_F(DaemonOnUsb, LoadsABarePartAndServesItsBoard) {
  StartDaemon();
  auto board = NewBoard();
  auto part = BarePart(board);
  bus_->Plug(1, part);
  ASSERT_TRUE(WaitServed(0)) << daemon_->Log();
  // The load as the loader does it: hold, first stage (each image's pass
  // over internal memory begins with a hold), run, board firmware, hold,
  // run; then the board's own device on the same port.
  using vantrel::sim::CpuControl;
  EXPECT_TRUE(part->BoardFirmwareStarted());
  EXPECT_EQ(part->CpuControlWrites(),
            (std::vector<CpuControl>{CpuControl::Hold, CpuControl::Hold, CpuControl::Run,
                                     CpuControl::Hold, CpuControl::Hold, CpuControl::Run}));
  ASSERT_TRUE(bus_->Settle());
  EXPECT_EQ(bus_->Arrivals(), 2);
  auto usbfs = bus_->At(1);
  ASSERT_NE(usbfs, nullptr);
  EXPECT_EQ(usbfs->Device()->VendorId(), kBoardVendorId);
  EXPECT_EQ(usbfs->Device()->ProductId(), kBoardProductId);
  EXPECT_EQ(usbfs->Claimed(), std::vector<unsigned>{0});

  VantrelUSB library;
  ASSERT_NE(library.init(0), 0);
  EXPECT_TRUE(SramRoundTrip(library, 0x5A));
  library.close();

  testsupport::ChildProcess ctl({K27CTL_PATH, "list"});
  EXPECT_EQ(ctl.Wait(), 0) << ctl.Stderr();
  EXPECT_NE(ctl.Stdout().find('0'), std::string::npos) << ctl.Stdout();
}

TEST_F(DaemonOnUsb, BarePartsPresentAtTheStartAreLoadedToo) {
  PlugBarePart(2);
  StartDaemon();
  ASSERT_TRUE(WaitServed(0)) << daemon_->Log();
  VantrelUSB library;
  ASSERT_NE(library.init(0), 0);
  EXPECT_TRUE(SramRoundTrip(library, 0x11));
}

TEST_F(DaemonOnUsb, TwoBarePartsAtOnceGetInstancesZeroAndOne) {
  StartDaemon();
  bus_->Sim().Plug(1, BarePart(NewBoard(0)));
  bus_->Sim().Plug(2, BarePart(NewBoard(1)));
  ASSERT_TRUE(WaitServed(0)) << daemon_->Log();
  ASSERT_TRUE(WaitServed(1)) << daemon_->Log();
  VantrelUSB first, second;
  ASSERT_NE(first.init(0), 0);
  ASSERT_NE(second.init(1), 0);
  EXPECT_TRUE(SramRoundTrip(first, 0x01));
  EXPECT_TRUE(SramRoundTrip(second, 0x02));
  EXPECT_TRUE(SramRoundTrip(first, 0x03));
}

TEST_F(DaemonOnUsb, APowerCycledBoardIsLoadedAndServedAgain) {
  StartDaemon();
  auto board = PlugBarePart(1);
  ASSERT_TRUE(WaitServed(0)) << daemon_->Log();
  {
    VantrelUSB library;
    ASSERT_NE(library.init(0), 0);
    EXPECT_TRUE(SramRoundTrip(library, 0x77));
  }
  bus_->Unplug(1);
  ASSERT_TRUE(daemon_->WaitForLog(RemovedLine(0))) << daemon_->Log();
  // The same board: its part has lost the firmware, the SRAM kept its bytes.
  bus_->Plug(1, BarePart(board));
  ASSERT_TRUE(WaitServed(0, 2)) << daemon_->Log();
  VantrelUSB library;
  ASSERT_NE(library.init(0), 0);
  std::vector<unsigned char> in(32, 0);
  ASSERT_NE(library.ReadSRAM(0x9000, in.data(), 32), 0);
  EXPECT_EQ(in, std::vector<unsigned char>(32, 0x77));
}

TEST_F(DaemonOnUsb, APartThatNeverAnswersHoldsUpNoOtherBoard) {
  StartDaemon();
  UsbfsFaults silent;
  silent.nak = true;
  bus_->SetFaults(1, silent);
  PlugBarePart(1);
  ASSERT_TRUE(daemon_->WaitForLog("arrived at 1-1: loading firmware")) << daemon_->Log();
  ASSERT_TRUE(WaitWaitingUrbs(1, 1));
  PlugBarePart(2);
  ASSERT_TRUE(WaitServed(0)) << daemon_->Log();
  EXPECT_NE(daemon_->Log().find("at 1-2 is \\Device\\Ezusb-0"), std::string::npos)
      << daemon_->Log();
  VantrelUSB library;
  ASSERT_NE(library.init(0), 0);
  EXPECT_TRUE(SramRoundTrip(library, 0x42));
}

TEST_F(DaemonOnUsb, SigtermDuringAHungLoadEndsTheDaemonPromptly) {
  StartDaemon();
  UsbfsFaults silent;
  silent.nak = true;
  bus_->SetFaults(1, silent);
  PlugBarePart(1);
  ASSERT_TRUE(daemon_->WaitForLog("loading firmware")) << daemon_->Log();
  ASSERT_TRUE(WaitWaitingUrbs(1, 1));
  // Well within systemd's stop time-out, whatever the load was waiting for.
  EXPECT_EQ(daemon_->Stop(SIGTERM, 10s), 0) << daemon_->Log();
}

TEST_F(DaemonOnUsb, AKernelDriverBoundToTheBoardIsDetachedAndTheInterfaceClaimed) {
  StartDaemon();
  UsbfsFaults bound;
  bound.boundDriver = "usbtest";
  bus_->SetFaults(1, bound);
  PlugBarePart(1);
  ASSERT_TRUE(WaitServed(0)) << daemon_->Log();
  auto usbfs = bus_->At(1);
  ASSERT_NE(usbfs, nullptr);
  EXPECT_EQ(usbfs->DetachedDrivers(), std::vector<std::string>{"usbtest"});
  EXPECT_EQ(usbfs->Claimed(), std::vector<unsigned>{0});
  VantrelUSB library;
  ASSERT_NE(library.init(0), 0);
  EXPECT_TRUE(SramRoundTrip(library, 0x24));
}

TEST_F(DaemonOnUsb, WithPollABoardGoneWithoutItsUeventIsRemoved) {
  StartDaemon({"--poll", "1"});
  PlugBarePart(1);
  ASSERT_TRUE(WaitServed(0)) << daemon_->Log();
  // As where uevents never reach libusb: only the daemon's looks see it go.
  bus_->UnplugWithoutUevent(1);
  ASSERT_TRUE(daemon_->WaitForLog(RemovedLine(0))) << daemon_->Log();
  VantrelUSB library;
  EXPECT_EQ(library.init(0), 0);
}

TEST_F(DaemonOnUsb, ABoardThatCannotBeOpenedIsDroppedWithAMessage) {
  if (!EmulatedUsbBus::CanRefuseOpens())
    GTEST_SKIP() << "opening a device node cannot be refused for this user here";
  UsbfsFaults refused;
  refused.refuseOpen = true;
  bus_->SetFaults(1, refused);
  // Present before the daemon starts: the node is refused a moment after its
  // "add" uevent, and a daemon already running could open it in between.
  PlugBarePart(1);
  StartDaemon();
  ASSERT_TRUE(daemon_->WaitForLog("cannot be opened")) << daemon_->Log();
  EXPECT_NE(daemon_->Log().find("LIBUSB_ERROR_ACCESS"), std::string::npos) << daemon_->Log();
  // The next part is served as usual.
  PlugBarePart(2);
  ASSERT_TRUE(WaitServed(0)) << daemon_->Log();
}

}  // namespace
}  // namespace vantrel::driver::emulated
