// Transfers of the daemon over libusb on the emulated bus: the 5 s limit on
// a board that stops answering, an unplug while a transfer waits, the USB
// capture as tshark reads it, and isochronous transfers.
#include <unistd.h>

#include <filesystem>
#include <future>
#include <vector>

#include <vantrel/VantrelUSB.h>

#include <vantrel/testsupport/ChildProcess.h>

#include "EmulatedDaemon.h"
#include "TestClient.h"
#include "k27/common/NtStatus.h"
#include "k27sim/SimIsoDevice.h"
#include "vantrel/protocol/ControlCodes.h"
#include "vantrel/usbhost/UsbTypes.h"

namespace vantrel::driver::emulated {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kSramChannel = 6;

bool ReadSram(VantrelUSB& board, std::vector<unsigned char>& in) {
  return board.ReadSRAM(0x9000, in.data(), static_cast<std::uint32_t>(in.size())) != 0;
}

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  for (std::size_t at = 0; at <= dirs.size();) {
    const std::size_t end = std::min(dirs.find(':', at), dirs.size());
    const fs::path candidate = fs::path(dirs.substr(at, end - at)) / name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    at = end + 1;
  }
  return {};
}

using DaemonOnUsbTransfers = EmulatedDaemonTest;

TEST_F(DaemonOnUsbTransfers, ASilentBoardFailsTheCallAfterFiveSecondsAndTheNextCallWorks) {
  StartDaemon();
  auto board = PlugBarePart(1);
  ASSERT_TRUE(WaitServed(0)) << daemon_->Log();
  VantrelUSB library;
  ASSERT_NE(library.init(0), 0);
  std::vector<unsigned char> in(16);
  ASSERT_TRUE(ReadSram(library, in));

  // The SRAM channel takes its commands and never answers: the reply's IN
  // transfer waits until the daemon's limit on one USB request cancels it.
  for (int command = 0; command < 256; ++command)
    board->InjectFault(kSramChannel, std::uint8_t(command),
                       {vantrel::sim::FaultKind::NoReply, 0, -1});
  const std::size_t discarded = bus_->At(1)->Discarded();
  const auto start = Clock::now();
  EXPECT_FALSE(ReadSram(library, in));
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, 4900ms);
  EXPECT_LT(waited, 9900ms);  // one limit, not two
  EXPECT_EQ(bus_->At(1)->Discarded(), discarded + 1);

  board->ClearFaults();
  EXPECT_TRUE(ReadSram(library, in));
}

TEST_F(DaemonOnUsbTransfers, AnUnplugEndsTheTransferInFlight) {
  StartDaemon();
  PlugBarePart(1);
  ASSERT_TRUE(WaitServed(0)) << daemon_->Log();
  VantrelUSB library;
  ASSERT_NE(library.init(0), 0);
  std::vector<unsigned char> in(16);
  ASSERT_TRUE(ReadSram(library, in));

  bus_->At(1)->SetNak(true);
  const std::size_t before = bus_->At(1)->WaitingUrbs();
  auto call = std::async(std::launch::async, [&] { return ReadSram(library, in); });
  ASSERT_TRUE(WaitWaitingUrbs(1, before + 1));
  const auto unplugged = Clock::now();
  bus_->Unplug(1);
  // Ended by the departure, not by the 5 s limit.
  ASSERT_EQ(call.wait_for(testsupport::kWaitLimit), std::future_status::ready);
  EXPECT_FALSE(call.get());
  EXPECT_LT(Clock::now() - unplugged, 4500ms);
  ASSERT_TRUE(daemon_->WaitForLog(RemovedLine(0))) << daemon_->Log();
  EXPECT_EQ(library.init(0), 0);  // the socket went with the board
}

TEST_F(DaemonOnUsbTransfers, TheCaptureOfALoadAndAnExchangeOpensInTshark) {
  const std::string tshark = FindProgram("tshark");
  if (tshark.empty()) GTEST_SKIP() << "tshark is not installed";
  const fs::path capture = daemon_->Folder() / "usb.pcap";
  StartDaemon({"--capture", capture.string()});
  PlugBarePart(1);
  ASSERT_TRUE(WaitServed(0)) << daemon_->Log();
  {
    VantrelUSB library;
    ASSERT_NE(library.init(0), 0);
    std::vector<unsigned char> in(16);
    ASSERT_TRUE(ReadSram(library, in));
  }
  ASSERT_EQ(daemon_->Stop(), 0) << daemon_->Log();

  testsupport::ChildProcess read(
      {tshark, "-r", capture.string(), "-T", "fields", "-e", "usb.transfer_type", "-e",
       "usb.setup.bRequest", "-e", "usb.endpoint_address"},
      {"LD_PRELOAD", "HOME=" + daemon_->Folder().string()});
  ASSERT_EQ(read.Wait(), 0) << read.Stderr();
  const std::string decoded = read.Stdout();
  // The firmware-load requests (0xA0 = 160) and bulk transfers on the board.
  EXPECT_NE(decoded.find("0x02\t160"), std::string::npos) << decoded.substr(0, 2000);
  EXPECT_NE(decoded.find("0x03\t\t0x8"), std::string::npos) << decoded.substr(0, 2000);
}

std::vector<std::uint8_t> IsoRecord(std::uint32_t pipe, std::uint32_t packetSize,
                                    std::uint32_t packets, std::uint32_t framesPerBuffer,
                                    std::uint32_t buffers) {
  std::vector<std::uint8_t> record(IsoTransferRecord::kSize);
  StoreLe32(&record[IsoTransferRecord::kPipeIndex], pipe);
  StoreLe32(&record[IsoTransferRecord::kPacketSize], packetSize);
  StoreLe32(&record[IsoTransferRecord::kPacketCount], packets);
  StoreLe32(&record[IsoTransferRecord::kFramesPerBuffer], framesPerBuffer);
  StoreLe32(&record[IsoTransferRecord::kBufferCount], buffers);
  return record;
}

TEST_F(DaemonOnUsbTransfers, IsochronousTransfersOverLibusb) {
  StartDaemon();
  // An isochronous device with the board's identifiers: IN pipe 0, OUT pipe 1.
  auto iso = std::make_shared<vantrel::sim::SimIsoDevice>(
      vantrel::sim::SimIsoDeviceOptions{kBoardVendorId, kBoardProductId, 64});
  bus_->Plug(3, iso);
  ASSERT_TRUE(WaitServed(0)) << daemon_->Log();
  test::TestClient client(daemon_->Socket(0));

  // 8 packets of 16 bytes, 2 per request, 2 requests in flight.
  constexpr std::uint32_t kSize = 16, kRecord = IsoTransferRecord::kPacketStatusSize;
  const test::Reply read =
      client.Control(IOCTL_VIO_ISO_READ, IsoRecord(0, kSize, 8, 2, 2), 8 * (kSize + kRecord));
  ASSERT_EQ(read.status, vantrel::common::STATUS_SUCCESS);
  ASSERT_EQ(read.output.size(), 8 * (kSize + kRecord));
  std::uint32_t previous = 0;
  for (std::uint32_t i = 0; i < 8; ++i) {
    const std::uint32_t sequence = LoadLe32(&read.output[i * kSize]);
    if (i > 0) {
      EXPECT_GT(sequence, previous) << "packet " << i;
    }
    previous = sequence;
    const std::uint8_t* status = &read.output[8 * kSize + i * kRecord];
    EXPECT_EQ(LoadLe32(status + 4), kSize) << "packet " << i;
    EXPECT_EQ(LoadLe32(status + 8), usbhost::USBD_STATUS_SUCCESS) << "packet " << i;
  }

  // 4 packets of 8 bytes out, 1 per request, 2 requests in flight; the data
  // travels in the request's output buffer.
  const std::vector<std::uint8_t> record = IsoRecord(1, 8, 4, 1, 2);
  const std::uint32_t outLength = 4 * (8 + kRecord);
  std::vector<std::uint8_t> message =
      test::RequestMessage(IOCTL_VIO_ISO_WRITE, std::uint32_t(record.size()), outLength, record);
  std::vector<std::uint8_t> data(outLength, 0);
  for (std::uint8_t i = 0; i < 32; ++i) data[i] = i;
  message.insert(message.end(), data.begin(), data.end());
  client.SendRaw(message);
  const test::Reply sent = client.Receive();
  EXPECT_EQ(sent.status, vantrel::common::STATUS_SUCCESS);
  EXPECT_EQ(iso->Received(), std::vector<std::uint8_t>(data.begin(), data.begin() + 32));
  EXPECT_EQ(iso->TransfersServed(), 4u + 4u);
}

}  // namespace
}  // namespace vantrel::driver::emulated
