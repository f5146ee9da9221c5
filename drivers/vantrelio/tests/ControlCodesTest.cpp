// The control codes other than the bulk exchange.
#include "DriverTestSupport.h"

namespace vantrel::driver::test {
namespace {

class ControlCodesTest : public DriverTest {
 protected:
  void SetUp() override { StartDevice(); }
  std::vector<vantrel::driver::fake::ControlCall> CallsAfterStart() {
    std::vector<vantrel::driver::fake::ControlCall> calls = board->ControlCalls();
    calls.erase(calls.begin(), calls.begin() + 3);
    return calls;
  }
};

Bytes VendorRecord(std::uint8_t request, std::uint16_t value, std::uint16_t length,
                   std::uint8_t direction, std::uint8_t dataByte) {
  return {request,   0,       std::uint8_t(value),  std::uint8_t(value >> 8),
          0,         0,       std::uint8_t(length), std::uint8_t(length >> 8),
          direction, dataByte};
}

TEST_F(ControlCodesTest, PipeTableCopyFitsTheCallersBuffer) {
  const Reply table = Call(IOCTL_VIO_GET_PIPE_TABLE, {}, 400);
  ASSERT_EQ(table.status, STATUS_SUCCESS);
  ASSERT_EQ(table.information, 16u + 14 * 20);
  EXPECT_EQ(LoadLe16(table.out.data()), 296);
  EXPECT_EQ(LoadLe32(table.out.data() + 12), 14u);
  const std::uint8_t* pipe1 = table.out.data() + 16 + 20;
  EXPECT_EQ(LoadLe16(pipe1), 64);
  EXPECT_EQ(pipe1[2], 0x01);
  EXPECT_EQ(LoadLe32(pipe1 + 4), 2u);
  EXPECT_EQ(LoadLe32(pipe1 + 12), 65535u);

  EXPECT_EQ(Call(IOCTL_VIO_GET_PIPE_TABLE, {}, 295).status, STATUS_INVALID_PARAMETER);
}

TEST_F(ControlCodesTest, DescriptorReads) {
  const Reply device18 = Call(IOCTL_VIO_GET_DEVICE_DESCRIPTOR, {}, 18);
  EXPECT_EQ(device18.information, 18u);
  EXPECT_EQ(device18.out, vantrel::driver::fake::BoardDeviceDescriptor());
  EXPECT_EQ(Call(IOCTL_VIO_GET_DEVICE_DESCRIPTOR, {}, 17).status, STATUS_INVALID_PARAMETER);
  const Reply config = Call(IOCTL_VIO_GET_CONFIG_DESCRIPTOR, {}, 200);
  EXPECT_EQ(config.information, 116u);

  const Reply product = Call(IOCTL_VIO_GET_STRING_DESCRIPTOR, {2, 0, 0x09, 0x04}, 255);
  EXPECT_EQ(product.status, STATUS_SUCCESS);
  EXPECT_EQ(product.information, 2u + 2 * 17);
  EXPECT_EQ(CallsAfterStart().back().setup.index, 0x0409);
  EXPECT_EQ(Call(IOCTL_VIO_GET_STRING_DESCRIPTOR, {2, 0, 9, 4}, 0).status,
            STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Call(IOCTL_VIO_GET_STRING_DESCRIPTOR, {7, 0, 9, 4}, 255).status, STATUS_UNSUCCESSFUL);

  // A failed read still succeeds, with nothing read.
  board->SetFault(0, Fault::Stall);
  const Reply failed = Call(IOCTL_VIO_GET_DEVICE_DESCRIPTOR, {}, 18);
  EXPECT_EQ(failed.status, STATUS_SUCCESS);
  EXPECT_EQ(failed.information, 0u);
}

TEST_F(ControlCodesTest, SelectInterfaceReplacesTheTableOnlyWhenTheSettingIsSelected) {
  const PipeTablePtr start = device->State().PipeTable();
  EXPECT_EQ(Call(IOCTL_VIO_SELECT_INTERFACE, {0, 1}, 0).status, STATUS_SUCCESS);
  EXPECT_EQ(device->State().PipeTable(), start);
  EXPECT_EQ(board->SelectInterfaceCalls(), 0);

  // Alternate setting 1 with an interrupt and an isochronous pipe, in a
  // configuration longer than the first read's 265 bytes.
  std::vector<vantrel::driver::fake::FakeInterface> settings = {
      {0, 0, vantrel::driver::fake::BoardEndpoints()},
      {0,
       1,
       {{0x81, vantrel::driver::fake::usb::EndpointType::Interrupt, 8, 10},
        {0x02, vantrel::driver::fake::usb::EndpointType::Isochronous, 64, 1}}}};
  for (std::uint8_t n = 1; n <= 3; ++n)
    settings.push_back({n, 0, vantrel::driver::fake::BoardEndpoints()});
  board->SetDescriptors(vantrel::driver::fake::BoardDeviceDescriptor(), settings);
  const std::size_t total = vantrel::driver::fake::ConfigDescriptor(settings).size();
  ASSERT_GT(total, 265u);

  board->SetSelectStatus(USBD_STATUS_STALL_PID);
  EXPECT_EQ(Call(IOCTL_VIO_SELECT_INTERFACE, {0, 1}, 0).status, STATUS_SUCCESS);
  EXPECT_EQ(device->State().PipeTable(), start);
  EXPECT_EQ(LastUrbError(), USBD_STATUS_STALL_PID);

  board->SetSelectStatus(USBD_STATUS_SUCCESS);
  EXPECT_EQ(Call(IOCTL_VIO_SELECT_INTERFACE, {0, 1}, 0).status, STATUS_SUCCESS);
  const std::vector<vantrel::driver::fake::ControlCall> calls = CallsAfterStart();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2].setup.length, 265);
  EXPECT_EQ(calls.back().setup.length, total);
  const PipeTablePtr alternate = device->State().PipeTable();
  EXPECT_EQ(alternate->alternateSetting, 1);
  ASSERT_EQ(alternate->pipes.size(), 2u);
  EXPECT_EQ(alternate->pipes[0].pipeType, PipeType::Interrupt);
  EXPECT_EQ(alternate->pipes[1].maximumTransferSize, 65535u);

  // Pipe codes on that table: interrupt transfers are fine, only bulk
  // exchanges need a bulk pipe, iso codes end after the pipe check.
  EXPECT_EQ(Call(IOCTL_VIO_PIPE_READ, Le32(1), 8).status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Exchange(ExchangeBlock(1, 0, {1})).status, STATUS_INVALID_PARAMETER);
  Bytes iso = Le32(1);
  iso.resize(20);
  EXPECT_EQ(Call(IOCTL_VIO_ISO_READ, iso, 1000).status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Call(IOCTL_VIO_START_ISO_STREAM, Le32(1), 0).status, STATUS_INVALID_PARAMETER);
}

TEST_F(ControlCodesTest, VendorRequestData) {
  EXPECT_EQ(Call(IOCTL_VIO_VENDOR_REQUEST, VendorRecord(0xA0, 0x7F92, 1, 0, 1), 0).status,
            STATUS_SUCCESS);
  EXPECT_EQ(Call(IOCTL_VIO_VENDOR_REQUEST, VendorRecord(0xA0, 0x1000, 4, 0, 9), 0).status,
            STATUS_SUCCESS);
  std::vector<vantrel::driver::fake::ControlCall> calls = CallsAfterStart();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].setup.requestType, 0x40);
  EXPECT_EQ(calls[0].setup.value, 0x7F92);
  EXPECT_EQ(calls[0].data, Bytes{1});
  EXPECT_EQ(calls[1].data, (Bytes{0, 1, 2, 3}));

  board->SetVendorInData({5, 6, 7, 8, 9, 10});
  const Reply read = Call(IOCTL_VIO_VENDOR_REQUEST, VendorRecord(0xA2, 0, 4, 1, 0), 10);
  EXPECT_EQ(read.information, 4u);
  EXPECT_EQ(Bytes(read.out.begin(), read.out.begin() + 4), (Bytes{5, 6, 7, 8}));
  EXPECT_EQ(CallsAfterStart().back().setup.requestType, 0xC0);
  EXPECT_EQ(Call(IOCTL_VIO_VENDOR_REQUEST, VendorRecord(0xA2, 0, 11, 1, 0), 10).status,
            STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Call(IOCTL_VIO_VENDOR_REQUEST, Bytes(9, 0), 10).status, STATUS_INVALID_PARAMETER);

  board->SetFault(0, Fault::Stall);
  const Reply stalled = Call(IOCTL_VIO_VENDOR_REQUEST, VendorRecord(0xA2, 0, 4, 1, 0), 10);
  EXPECT_EQ(stalled.status, STATUS_SUCCESS);
  EXPECT_EQ(stalled.information, 0u);
  EXPECT_EQ(LastUrbError(), USBD_STATUS_STALL_PID);
}

TEST_F(ControlCodesTest, ControlRequestTypeAndRecipient) {
  board->SetVendorInData({1, 2, 3});
  const std::uint8_t expected[2][4] = {{0xA0, 0xA1, 0xA2, 0xA3}, {0xC0, 0xC1, 0xC2, 0xC3}};
  for (std::uint8_t type = 1; type <= 2; ++type) {
    for (std::uint8_t recipient = 0; recipient < 4; ++recipient) {
      const Reply reply =
          Call(IOCTL_VIO_CONTROL_REQUEST, {1, type, recipient, 0, 0x33, 0, 0x34, 0x12, 0x02, 0}, 8);
      EXPECT_EQ(reply.information, 3u);
      EXPECT_EQ(CallsAfterStart().back().setup.requestType, expected[type - 1][recipient]);
      EXPECT_EQ(CallsAfterStart().back().setup.value, 0x1234);
    }
  }
  EXPECT_EQ(Call(IOCTL_VIO_CONTROL_REQUEST, {0, 3, 0, 0, 1, 0, 0, 0, 0, 0}, 0).status,
            STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Call(IOCTL_VIO_CONTROL_REQUEST, {0, 2, 4, 0, 1, 0, 0, 0, 0, 0}, 0).status,
            STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Call(IOCTL_VIO_CONTROL_REQUEST, Bytes(11, 1), 0).status, STATUS_INVALID_PARAMETER);
  const Reply out = Call(IOCTL_VIO_CONTROL_REQUEST, {0, 2, 0, 0, 1, 0, 0, 0, 0, 0}, 2, {7, 8});
  EXPECT_EQ(out.information, 2u);
  EXPECT_EQ(CallsAfterStart().back().data, (Bytes{7, 8}));
}

TEST_F(ControlCodesTest, DownloadsWriteWholeBlocksAndSixtyFourByteChunks) {
  Bytes image(1000);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = std::uint8_t(i * 7);
  EXPECT_EQ(Call(IOCTL_VIO_DOWNLOAD_BLOCKS, image, 0).status, STATUS_SUCCESS);
  std::vector<vantrel::driver::fake::ControlCall> calls = CallsAfterStart();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].setup.request, 0xA0);
  EXPECT_EQ(calls[0].setup.value, 0);
  EXPECT_EQ(calls[0].data, Bytes(image.begin(), image.begin() + 512));

  const Bytes data(130, 0x5A);
  EXPECT_EQ(Call(IOCTL_VIO_DOWNLOAD_AT, {0x00, 0x08}, 130, data).status, STATUS_SUCCESS);
  calls = CallsAfterStart();
  ASSERT_EQ(calls.size(), 4u);
  const std::uint16_t addresses[] = {0x0800, 0x0840, 0x0880};
  const std::size_t lengths[] = {64, 64, 2};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(calls[1 + i].setup.value, addresses[i]);
    EXPECT_EQ(calls[1 + i].data, Bytes(lengths[i], 0x5A));
  }

  // The first failed chunk ends DOWNLOAD_AT; a failed block does not stop
  // the other blocks; both report success.
  board->SetControlFault([](const vantrel::driver::fake::usb::SetupPacket& s) {
    return s.value == 0x0840 || s.value == 0x0200 ? Fault::Stall : Fault::None;
  });
  EXPECT_EQ(Call(IOCTL_VIO_DOWNLOAD_AT, {0x00, 0x08}, 130, data).status, STATUS_SUCCESS);
  EXPECT_EQ(CallsAfterStart().size(), 6u);
  EXPECT_EQ(Call(IOCTL_VIO_DOWNLOAD_BLOCKS, Bytes(1536), 0).status, STATUS_SUCCESS);
  EXPECT_EQ(CallsAfterStart().size(), 9u);
  EXPECT_EQ(Call(IOCTL_VIO_DOWNLOAD_AT, {0x00, 0x08, 0}, 130, data).status, STATUS_SUCCESS);
  EXPECT_EQ(Call(IOCTL_VIO_DOWNLOAD_AT, {0x00, 0x08}, 0).status, STATUS_SUCCESS);
  EXPECT_EQ(CallsAfterStart().size(), 9u);
}

TEST_F(ControlCodesTest, PipeCodes) {
  const Reply write = Call(IOCTL_VIO_PIPE_WRITE, Le32(3), 3, {0x20, 1, 2});
  EXPECT_EQ(write.information, 3u);
  EXPECT_EQ(board->Written(0x02), (std::vector<Bytes>{{0x20, 1, 2}}));
  const Reply read = Call(IOCTL_VIO_PIPE_READ, Le32(2), 64);
  EXPECT_EQ(read.information, 2u);
  EXPECT_EQ(read.out[0], 0x20);
  EXPECT_EQ(Call(IOCTL_VIO_PIPE_READ, Le32(2), 65536).status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Call(IOCTL_VIO_PIPE_READ, Le32(14), 8).status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Call(IOCTL_VIO_PIPE_READ, {2, 0}, 8).status, STATUS_INVALID_PARAMETER);

  EXPECT_EQ(Call(IOCTL_VIO_RESET_PIPE, Le32(5), 0).status, STATUS_SUCCESS);
  board->SetFault(0x03, Fault::Stall);
  EXPECT_EQ(Call(IOCTL_VIO_RESET_PIPE, Le32(5), 0).status, STATUS_UNSUCCESSFUL);
  EXPECT_EQ(board->ResetEndpoints(), (std::vector<std::uint8_t>{0x03, 0x03}));
  EXPECT_EQ(Call(IOCTL_VIO_ABORT_PIPE, Le32(6), 0).status, STATUS_SUCCESS);
  EXPECT_EQ(Call(IOCTL_VIO_ABORT_PIPE, Le32(14), 0).status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(board->Aborted(), std::vector<std::uint8_t>{0x84});

  Bytes iso = Le32(0);
  iso.resize(20);
  EXPECT_EQ(Call(IOCTL_VIO_ISO_WRITE, iso, 100).status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Call(IOCTL_VIO_READ_ISO_STREAM, iso, 0).status, STATUS_UNSUCCESSFUL);
  EXPECT_EQ(Call(IOCTL_VIO_READ_ISO_STREAM, iso, 1).status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Call(IOCTL_VIO_STOP_ISO_STREAM, {}, 0).status, STATUS_SUCCESS);
  EXPECT_TRUE(device->State().streamStop);
}

TEST_F(ControlCodesTest, PipeCodesWithoutAPipeTable) {
  device = std::make_unique<BoardDevice>(board, 0, 200ms);
  EXPECT_EQ(Call(IOCTL_VIO_GET_PIPE_TABLE, {}, 400).information, 0u);
  EXPECT_EQ(Call(IOCTL_VIO_PIPE_WRITE, Le32(1), 1).status, STATUS_UNSUCCESSFUL);
  EXPECT_EQ(Exchange(ExchangeBlock(1, 0, {1})).status, STATUS_UNSUCCESSFUL);
  EXPECT_EQ(Call(IOCTL_VIO_ABORT_PIPE, Le32(0), 0).status, STATUS_UNSUCCESSFUL);
  Bytes iso = Le32(0);
  iso.resize(20);
  EXPECT_EQ(Call(IOCTL_VIO_ISO_READ, iso, 100).status, STATUS_UNSUCCESSFUL);
}

TEST_F(ControlCodesTest, DeviceCodesAndShortBuffers) {
  EXPECT_EQ(Call(IOCTL_VIO_NOP, Bytes(7), 0).status, STATUS_SUCCESS);
  EXPECT_EQ(Call(IOCTL_VIO_RESET_PORT, {}, 0).status, STATUS_SUCCESS);
  EXPECT_EQ(Call(IOCTL_VIO_GET_DRIVER_VERSION, {}, 6).out, (Bytes{1, 0, 1, 0, 0, 0}));
  EXPECT_EQ(Call(IOCTL_VIO_GET_DRIVER_VERSION, {}, 5).status, STATUS_UNSUCCESSFUL);
  EXPECT_EQ(Call(IOCTL_VIO_GET_LAST_URB_ERROR, {}, 3).status, STATUS_UNSUCCESSFUL);

  EXPECT_EQ(Call(IOCTL_VIO_GET_FRAME_NUMBER, {}, 4).status, STATUS_UNSUCCESSFUL);
  board->SetFrameNumber(0);
  EXPECT_EQ(Call(IOCTL_VIO_GET_FRAME_NUMBER, {}, 4).status, STATUS_UNSUCCESSFUL);
  board->SetFrameNumber(0x1234);
  const Reply frame = Call(IOCTL_VIO_GET_FRAME_NUMBER, {}, 4);
  EXPECT_EQ(frame.information, 4u);
  EXPECT_EQ(LoadLe32(frame.out.data()), 0x1234u);
  EXPECT_EQ(Call(IOCTL_VIO_GET_FRAME_NUMBER, {}, 3).status, STATUS_INVALID_PARAMETER);

  const Reply unknown = Call(0x222010, Bytes(4), 16);
  EXPECT_EQ(unknown.status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(unknown.information, 0u);
  EXPECT_EQ(unknown.out, Bytes(16, 0xEE));
}

}  // namespace
}  // namespace vantrel::driver::test
