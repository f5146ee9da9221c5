#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "SimUsbTestSupport.h"
#include "k27sim/SimUsbBoard.h"

namespace vantrel::sim::test {
namespace {

using namespace std::chrono_literals;
using Events = std::vector<std::string>;
using Writes = std::vector<CpuControl>;

constexpr std::uint16_t kCpucs = SimEzUsbPart::kCpuControlAddress;

class SimEzUsbPartTest : public ::testing::Test {
 protected:
  std::shared_ptr<SimBoard> board = std::make_shared<SimBoard>();
  std::shared_ptr<SimEzUsbPart> part = std::make_shared<SimEzUsbPart>(board);

  void RunLoader() {
    ASSERT_EQ(SetCpuReset(*part, true), UsbOutcome::Ack);
    ASSERT_EQ(WriteImage(*part, LoaderStandIn()), UsbOutcome::Ack);
    ASSERT_EQ(SetCpuReset(*part, false), UsbOutcome::Ack);
  }
};

TEST_F(SimEzUsbPartTest, AnswersWithThePartsOwnIdentity) {
  EXPECT_EQ(part->VendorId(), 0x0547);
  EXPECT_EQ(part->ProductId(), 0x2131);
  const ControlResult device = GetDescriptor(*part, 1, 0, 18);
  ASSERT_EQ(device.bytes.size(), 18u);
  EXPECT_EQ(device.bytes[8] | device.bytes[9] << 8, 0x0547);
  EXPECT_EQ(device.bytes[10] | device.bytes[11] << 8, 0x2131);
  const ControlResult config = GetDescriptor(*part, 2, 0, 255);
  ASSERT_EQ(config.bytes.size(), 18u);
  EXPECT_EQ(config.bytes[4], 1);      // one interface
  EXPECT_EQ(config.bytes[9 + 4], 0);  // without endpoints
  EXPECT_EQ(GetDescriptor(*part, 3, 0, 255).outcome, UsbOutcome::Stall);
  EXPECT_EQ(SetConfiguration(*part, 1), UsbOutcome::Ack);
  Bytes buffer(64);
  EXPECT_EQ(part->Out(0x01, Bytes{1}).outcome, UsbOutcome::Stall);
  EXPECT_EQ(part->In(0x81, buffer).outcome, UsbOutcome::Stall);
  EXPECT_EQ(VendorRead(*part, 0xA4, 0, 1).outcome, UsbOutcome::Stall);
}

TEST_F(SimEzUsbPartTest, CpuControlRegisterHoldsAndReleasesThe8051) {
  EXPECT_TRUE(part->CpuHeld());  // so at power-up
  EXPECT_EQ(VendorRead(*part, 0xA0, kCpucs, 1).bytes, Bytes{1});
  EXPECT_EQ(SetCpuReset(*part, false), UsbOutcome::Ack);
  EXPECT_FALSE(part->CpuHeld());
  EXPECT_EQ(VendorRead(*part, 0xA0, kCpucs, 1).bytes, Bytes{0});
  SetCpuReset(*part, false);
  SetCpuReset(*part, true);
  EXPECT_TRUE(part->CpuHeld());
  EXPECT_EQ(VendorWrite(*part, 0xA0, kCpucs, {0x03}), UsbOutcome::Ack);  // bit 0 counts
  EXPECT_EQ(part->CpuControlWrites(),
            (Writes{CpuControl::Run, CpuControl::Run, CpuControl::Hold, CpuControl::Hold}));
}

TEST_F(SimEzUsbPartTest, FirmwareLoadReachesInternalMemoryOnly) {
  EXPECT_EQ(VendorWrite(*part, 0xA0, 0x1B30, Bytes(16, 0x11)), UsbOutcome::Ack);  // up to 0x1B3F
  EXPECT_EQ(VendorRead(*part, 0xA0, 0x1B30, 16).bytes, Bytes(16, 0x11));
  EXPECT_EQ(VendorWrite(*part, 0xA0, 0x1B31, Bytes(16, 0x22)),
            UsbOutcome::Stall);  // crosses the end
  EXPECT_EQ(VendorWrite(*part, 0xA0, 0x2000, {1}), UsbOutcome::Stall);
  EXPECT_EQ(VendorWrite(*part, 0xA0, 0xFFFF, {1, 2}), UsbOutcome::Stall);
  EXPECT_EQ(part->InternalMemory(0x1B3F, 4), Bytes{0x11});

  // The USB core serves it while the 8051 runs too.
  SetCpuReset(*part, false);
  EXPECT_EQ(VendorWrite(*part, 0xA0, 0x0010, {9, 8}), UsbOutcome::Ack);
  EXPECT_EQ(part->InternalMemory(0x0010, 2), (Bytes{9, 8}));
}

TEST_F(SimEzUsbPartTest, ExternalMemoryIsServedOnlyWhileALoaderRuns) {
  EXPECT_EQ(VendorWrite(*part, 0xA3, 0x2000, {1, 2, 3}),
            UsbOutcome::Stall);  // held, nothing loaded
  SetCpuReset(*part, false);
  EXPECT_EQ(VendorWrite(*part, 0xA3, 0x2000, {1, 2, 3}),
            UsbOutcome::Stall);  // runs, nothing loaded
  EXPECT_FALSE(part->LoaderRunning());

  RunLoader();
  EXPECT_TRUE(part->LoaderRunning());
  EXPECT_EQ(VendorWrite(*part, 0xA3, 0x2000, {1, 2, 3}), UsbOutcome::Ack);
  EXPECT_EQ(VendorRead(*part, 0xA3, 0x2000, 3).bytes, (Bytes{1, 2, 3}));
  EXPECT_EQ(VendorWrite(*part, 0xA3, 0xFFF0, Bytes(16, 4)), UsbOutcome::Ack);  // to the last byte
  EXPECT_EQ(VendorWrite(*part, 0xA3, 0xFFF1, Bytes(16, 4)), UsbOutcome::Stall);
  EXPECT_EQ(part->ExternalMemory(0x2000, 3), (Bytes{1, 2, 3}));
  EXPECT_EQ(part->InternalMemory(0x2000, 3), Bytes{});  // not the internal memory

  SetCpuReset(*part, true);  // the loader stops with the 8051
  EXPECT_FALSE(part->LoaderRunning());
  EXPECT_EQ(VendorRead(*part, 0xA3, 0x2000, 3).outcome, UsbOutcome::Stall);
}

TEST_F(SimEzUsbPartTest, LogsEveryVendorRequest) {
  VendorWrite(*part, 0xA0, 0x0100, Bytes(20, 0x33));
  VendorRead(*part, 0xA0, 0x0100, 2);
  VendorWrite(*part, 0xA3, 0x4000, {5});
  GetDescriptor(*part, 1, 0, 18);  // not a vendor request
  const std::vector<VendorRequestRecord> log = part->VendorRequests();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].setup.requestType, 0x40);
  EXPECT_EQ(log[0].setup.request, 0xA0);
  EXPECT_EQ(log[0].setup.value, 0x0100);
  EXPECT_EQ(log[0].setup.length, 20);
  EXPECT_EQ(log[0].data, Bytes(16, 0x33));  // the first 16 bytes
  EXPECT_EQ(log[1].setup.requestType, 0xC0);
  EXPECT_EQ(log[1].data, (Bytes{0x33, 0x33}));
  EXPECT_EQ(log[2].setup.request, 0xA3);
  EXPECT_EQ(log[2].outcome, UsbOutcome::Stall);
}

TEST_F(SimEzUsbPartTest, DownloadedBoardFirmwareComesBackAsTheBoard) {
  SimUsbBus bus(4);
  BusRecorder recorder(bus);
  bus.Plug(3, part);

  RunLoader();
  EXPECT_EQ(VendorWrite(*part, 0xA3, 0x8000, Bytes(16, 0x77)), UsbOutcome::Ack);
  SetCpuReset(*part, true);
  ASSERT_EQ(WriteImage(*part, BoardFirmware()), UsbOutcome::Ack);
  SetCpuReset(*part, true);
  EXPECT_EQ(recorder.Events(), Events{"+3"});
  EXPECT_EQ(SetCpuReset(*part, false), UsbOutcome::Ack);  // answered, then the part leaves

  EXPECT_EQ(recorder.Events(), (Events{"+3", "-3", "+3"}));
  const auto usb = std::dynamic_pointer_cast<SimUsbBoard>(bus.DeviceAt(3));
  ASSERT_TRUE(usb);
  EXPECT_EQ(recorder.LastPlugged(), usb);
  EXPECT_EQ(usb->VendorId(), kBoardVendor);
  EXPECT_EQ(usb->ProductId(), kBoardProduct);
  EXPECT_EQ(usb->Board(), board);
  EXPECT_EQ(GetDescriptor(*usb, 2, 0, 255).bytes.size(), 116u);
  EXPECT_EQ(part->CpuControlWrites(), (Writes{CpuControl::Hold, CpuControl::Run, CpuControl::Hold,
                                              CpuControl::Hold, CpuControl::Run}));
  EXPECT_TRUE(part->BoardFirmwareStarted());
  EXPECT_EQ(GetDescriptor(*part, 1, 0, 18).outcome, UsbOutcome::Gone);  // the bare part has left

  // The board's endpoints work as the driver uses them.
  ASSERT_EQ(SetConfiguration(*usb, 1), UsbOutcome::Ack);
  usb->Out(0x05, Bytes{0x40});
  Bytes buffer(64);
  const UsbTransferOutcome reply = usb->In(0x85, buffer);
  ASSERT_EQ(reply.outcome, UsbOutcome::Ack);
  EXPECT_EQ(buffer[0], 0x40);
}

TEST_F(SimEzUsbPartTest, NoReEnumerationWithoutABoardDescriptorBlock) {
  SimUsbBus bus(1);
  BusRecorder recorder(bus);
  bus.Plug(1, part);

  Bytes damaged = BuildBoardDescriptorBlock(kBoardVendor, kBoardProduct);
  damaged[18 + 2] = 117;  // wTotalLength beyond the endpoints
  const std::vector<MemoryImage> images{
      LoaderStandIn(), BoardFirmwareWith(damaged),
      BoardFirmwareWith(BuildBoardDescriptorBlock(0x0547, 0x2131)),  // the bare part's own identity
  };
  for (const MemoryImage& image : images) {
    EXPECT_EQ(Download(*part, image), UsbOutcome::Ack);
    EXPECT_EQ(bus.DeviceAt(1), part);
    EXPECT_TRUE(part->LoaderRunning());  // what runs is taken for a loader
    EXPECT_EQ(VendorWrite(*part, 0xA3, 0x3000, {1}), UsbOutcome::Ack);
  }
  EXPECT_EQ(recorder.Events(), Events{"+1"});
}

TEST_F(SimEzUsbPartTest, BoardStateSurvivesReEnumerationAndPowerCycles) {
  SimUsbBus bus(2);
  bus.Plug(2, part);
  Download(*part, BoardFirmware());
  auto usb = std::dynamic_pointer_cast<SimUsbBoard>(bus.DeviceAt(2));
  ASSERT_TRUE(usb);
  SetConfiguration(*usb, 1);
  usb->Out(0x06, WriteRequest(0x47, 0x0200, {0xC0, 0xFF, 0xEE}));
  Bytes buffer(64);
  ASSERT_EQ(usb->In(0x86, buffer).outcome, UsbOutcome::Ack);

  // Power cycle: the part comes back bare, with the board behind it.
  bus.Unplug(2);
  const auto again = std::make_shared<SimEzUsbPart>(board);
  bus.Plug(2, again);
  Download(*again, BoardFirmware());
  usb = std::dynamic_pointer_cast<SimUsbBoard>(bus.DeviceAt(2));
  ASSERT_TRUE(usb);
  SetConfiguration(*usb, 1);
  usb->Out(0x06, ReadRequest(0x46, 3, 0x0200));
  const UsbTransferOutcome reply = usb->In(0x86, buffer);
  ASSERT_EQ(reply.length, 5u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 5), (Bytes{0x46, kOk, 0xC0, 0xFF, 0xEE}));
}

TEST_F(SimEzUsbPartTest, DelayedReEnumerationAfterAFailedRunWrite) {
  part = std::make_shared<SimEzUsbPart>(
      board, SimEzUsbPartOptions{.reEnumerationDelay = 30ms, .runWriteFails = true});
  SimUsbBus bus(1);
  BusRecorder recorder(bus);
  bus.Plug(1, part);
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(Download(*part, BoardFirmware()), UsbOutcome::Gone);
  EXPECT_EQ(part->VendorRequests().back().outcome, UsbOutcome::Gone);
  EXPECT_EQ(bus.DeviceAt(1), nullptr);  // away while the board firmware starts
  EXPECT_EQ(GetDescriptor(*part, 1, 0, 18).outcome, UsbOutcome::Gone);

  ASSERT_TRUE(recorder.WaitForEvents(3));
  EXPECT_GE(std::chrono::steady_clock::now() - before, 30ms);
  EXPECT_EQ(recorder.Events(), (Events{"+1", "-1", "+1"}));
  const auto usb = std::dynamic_pointer_cast<SimUsbBoard>(bus.DeviceAt(1));
  ASSERT_TRUE(usb);
  EXPECT_EQ(usb->VendorId(), kBoardVendor);
}

}  // namespace
}  // namespace vantrel::sim::test
