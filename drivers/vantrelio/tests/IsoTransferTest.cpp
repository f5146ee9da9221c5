// Isochronous transfers that run to their end inside one request, through
// the daemon's socket to a simulated isochronous device, and the K27 board,
// whose pipes are all bulk, refusing every isochronous code.
#include "IsoTestSupport.h"
#include "k27sim/SimBoard.h"
#include "k27sim/SimUsbBoard.h"

namespace vantrel::driver::isotest {
namespace {

using IsoTransferTest = IsoStackTest;

TEST_F(IsoTransferTest, EachRequestCarriesEveryBufferCountthGroup) {
  // 8 packets, 2 per request, 2 requests: request 0 carries packets 0-1 and
  // then 4-5, request 1 carries 2-3 and then 6-7. The device numbers its
  // packets in the order it sends them.
  constexpr std::uint32_t kSize = 16;
  const Reply reply = WhileFramesRun([&] {
    return Call(IOCTL_VIO_ISO_READ, IsoRecord(kInPipe, kSize, 8, 2, 2), 8 * (kSize + kRecord));
  });
  ASSERT_EQ(reply.status, STATUS_SUCCESS);
  // Information 0; the reply carries the data and the records all the same.
  EXPECT_EQ(reply.information, 0u);
  ASSERT_EQ(reply.output.size(), 8 * (kSize + kRecord));
  EXPECT_EQ(iso_->TransfersServed(), 4u);
  for (std::uint32_t i = 0; i < 8; ++i) {
    EXPECT_EQ(SequenceAt(reply.output, i * kSize), i) << "packet " << i;
    const PacketRecord record = RecordAt(reply.output, 8 * kSize + i * kRecord);
    EXPECT_EQ(record.offset, (i % 2) * kSize) << "packet " << i;
    EXPECT_EQ(record.length, kSize) << "packet " << i;
    EXPECT_EQ(record.status, usbhost::USBD_STATUS_SUCCESS) << "packet " << i;
  }
}

TEST_F(IsoTransferTest, WriteSendsThePacketsInTheirOrder) {
  constexpr std::uint32_t kSize = 8;
  Bytes data(4 * (kSize + kRecord), 0);
  for (std::size_t i = 0; i < 4 * kSize; ++i) data[i] = std::uint8_t(i);
  const Reply reply = WhileFramesRun([&] {
    return Call(IOCTL_VIO_ISO_WRITE, IsoRecord(kOutPipe, kSize, 4, 1, 2),
                std::uint32_t(data.size()), data);
  });
  ASSERT_EQ(reply.status, STATUS_SUCCESS);
  EXPECT_EQ(iso_->Received(), Bytes(data.begin(), data.begin() + 4 * kSize));
  for (std::uint32_t i = 0; i < 4; ++i) {
    const PacketRecord record = RecordAt(reply.output, 4 * kSize + i * kRecord);
    EXPECT_EQ(record.offset, 0u);
    EXPECT_EQ(record.length, kSize);
    EXPECT_EQ(record.status, usbhost::USBD_STATUS_SUCCESS);
  }
}

TEST_F(IsoTransferTest, AFailedPacketShowsOnlyInItsRecord) {
  constexpr std::uint32_t kSize = 16;
  iso_->InjectPacketFaults(1);
  const Reply reply = WhileFramesRun([&] {
    return Call(IOCTL_VIO_ISO_READ, IsoRecord(kInPipe, kSize, 4, 2, 1), 4 * (kSize + kRecord));
  });
  ASSERT_EQ(reply.status, STATUS_SUCCESS);
  const PacketRecord failed = RecordAt(reply.output, 4 * kSize);
  EXPECT_EQ(failed.length, 0u);
  EXPECT_EQ(failed.status, usbhost::USBD_STATUS_ISO_TD_ERROR);
  for (std::uint32_t i = 1; i < 4; ++i) {
    EXPECT_EQ(RecordAt(reply.output, 4 * kSize + i * kRecord).status, usbhost::USBD_STATUS_SUCCESS);
    EXPECT_EQ(SequenceAt(reply.output, i * kSize), i);
  }
}

TEST_F(IsoTransferTest, RecordsThatCannotBeCarriedAreRefused) {
  for (const std::uint32_t code :
       {IOCTL_VIO_ISO_READ, IOCTL_VIO_ISO_WRITE, IOCTL_VIO_START_ISO_STREAM}) {
    SCOPED_TRACE(code);
    const std::uint32_t out = code == IOCTL_VIO_START_ISO_STREAM ? 0 : 4 * 28;
    // Nothing to divide by.
    EXPECT_EQ(Call(code, IsoRecord(kInPipe, 0, 4, 2, 2), out).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Call(code, IsoRecord(kInPipe, 16, 4, 0, 2), out).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Call(code, IsoRecord(kInPipe, 16, 4, 2, 0), out).status, STATUS_INVALID_PARAMETER);
    // Pipes: past the table, and a record too short to name one.
    EXPECT_EQ(Call(code, IsoRecord(2, 16, 4, 2, 2), out).status, STATUS_INVALID_PARAMETER);
    Bytes shortRecord = IsoRecord(kInPipe, 16, 4, 2, 2);
    shortRecord.pop_back();
    EXPECT_EQ(Call(code, shortRecord, out).status, STATUS_INVALID_PARAMETER);
  }
  // A count that is not a whole number of rounds of all requests.
  EXPECT_EQ(Call(IOCTL_VIO_ISO_READ, IsoRecord(kInPipe, 16, 6, 2, 2), 6 * 28).status,
            STATUS_INVALID_PARAMETER);
  // A buffer one byte short of the data and the records.
  EXPECT_EQ(Call(IOCTL_VIO_ISO_READ, IsoRecord(kInPipe, 16, 4, 2, 2), 4 * 28 - 1).status,
            STATUS_UNSUCCESSFUL);
  // Sizes whose product overflows 32 bits are compared without overflowing.
  EXPECT_EQ(Call(IOCTL_VIO_ISO_READ, IsoRecord(kInPipe, 0xFFFFFFFFu, 4, 1, 1), 100).status,
            STATUS_UNSUCCESSFUL);
  // No packets: nothing goes to the device.
  const Reply none = Call(IOCTL_VIO_ISO_READ, IsoRecord(kInPipe, 16, 0, 2, 2), 0);
  EXPECT_EQ(none.status, STATUS_SUCCESS);
  EXPECT_EQ(none.information, 0u);
  bus_.AdvanceFrames(100);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(iso_->TransfersServed(), 0u);
}

TEST_F(IsoTransferTest, TheK27BoardRefusesEveryIsochronousCode) {
  bus_.Plug(2, std::make_shared<vantrel::sim::SimUsbBoard>(
                   std::make_shared<vantrel::sim::SimBoard>(), kBoardVendorId, kBoardProductId));
  ASSERT_TRUE(WaitFor([&] { return manager_->Instances() == std::vector<int>{0, 1}; }));
  client_ = std::make_unique<TestClient>(dir_ / "ezusb-1");
  for (std::uint32_t pipe = 0; pipe < 14; ++pipe) {
    SCOPED_TRACE(pipe);
    const Bytes record = IsoRecord(pipe, 64, 4, 2, 2);
    EXPECT_EQ(Call(IOCTL_VIO_ISO_READ, record, 4 * 76).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Call(IOCTL_VIO_ISO_WRITE, record, 4 * 76).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Call(IOCTL_VIO_START_ISO_STREAM, record, 0).status, STATUS_INVALID_PARAMETER);
  }
  // With no stream started there is nothing to read.
  EXPECT_EQ(Call(IOCTL_VIO_READ_ISO_STREAM, IsoRecord(0, 64, 4, 2, 2), 4 * 76).status,
            STATUS_UNSUCCESSFUL);
}

}  // namespace
}  // namespace vantrel::driver::isotest
