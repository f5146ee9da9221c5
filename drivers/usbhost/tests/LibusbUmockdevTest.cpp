// The libusb backend against devices on the emulated USB bus (emulation/):
// umockdev sysfs records with the descriptors, and usbfs nodes that answer
// libusb's ioctls as the kernel would for a simulated device behind them.
// Runs under umockdev-wrapper, in the same process as the emulation; libusb
// itself is unmodified. No real USB device is ever looked at: outside
// umockdev-wrapper the tests are skipped.
#include "UmockdevFixture.h"

namespace vantrel::usbhost::umockdevtest {
namespace {

TEST_F(Umockdev, EnumeratesTheMatchingDeviceAtStart) {
  auto device = StartWithBoard();
  ASSERT_NE(device, nullptr);
  const DeviceIdentity identity = device->Identity();
  EXPECT_EQ(identity.bus, 1);
  EXPECT_EQ(identity.portPath, std::vector<std::uint8_t>{3});
  EXPECT_EQ(identity.vendorId, kVendor);
  EXPECT_EQ(identity.productId, kProduct);
  EXPECT_EQ(identity.Location(), "1-3");
  EXPECT_FALSE(device->CurrentFrameNumber().has_value());
  // Only the board: the root hub does not match, and the enumeration and the
  // hotplug events together report the board once.
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(recorder_->Arrived().size(), 1u);
  EXPECT_TRUE(recorder_->Logged().empty());
}

TEST_F(Umockdev, ControlTransfers) {
  auto device = StartWithBoard();
  ASSERT_NE(device, nullptr);

  std::vector<std::uint8_t> id(4);
  auto read = Control(*device, 0xC0, EchoDevice::kReadId, 0x0142, id);
  ASSERT_TRUE(read->WaitFor(5s));
  EXPECT_EQ(read->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(read->Result().transferred, 4u);
  EXPECT_EQ(id, (std::vector<std::uint8_t>{'K', '2', '7', 0x42}));

  // A longer buffer: short, which is an error only when asked so.
  std::vector<std::uint8_t> longer(16, 0);
  auto shortOk = Control(*device, 0xC0, EchoDevice::kReadId, 1, longer, true);
  ASSERT_TRUE(shortOk->WaitFor(5s));
  EXPECT_EQ(shortOk->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(shortOk->Result().transferred, 4u);
  auto shortNotOk = Control(*device, 0xC0, EchoDevice::kReadId, 1, longer, false);
  ASSERT_TRUE(shortNotOk->WaitFor(5s));
  EXPECT_EQ(shortNotOk->Result().status, USBD_STATUS_ERROR_SHORT_TRANSFER);
  EXPECT_EQ(shortNotOk->Result().transferred, 4u);

  std::vector<std::uint8_t> payload = {1, 2, 3, 4, 5};
  auto write = Control(*device, 0x40, EchoDevice::kWrite, 0, payload);
  ASSERT_TRUE(write->WaitFor(5s));
  EXPECT_EQ(write->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(write->Result().transferred, 5u);
  EXPECT_EQ(emulated_[0]->Written(), payload);

  auto stall = Control(*device, 0x40, EchoDevice::kStall, 0, {});
  ASSERT_TRUE(stall->WaitFor(5s));
  EXPECT_EQ(stall->Result().status, USBD_STATUS_STALL_PID);
}

TEST_F(Umockdev, ConfigurationAndBulkExchange) {
  EmulatedDevice* emulated = nullptr;
  auto device = StartWithBoard(&emulated);
  ASSERT_NE(device, nullptr);

  InterfaceInfo info;
  ASSERT_EQ(device->SelectConfiguration(1, 0, 0, &info), USBD_STATUS_SUCCESS);
  EXPECT_EQ(info.number, 0);
  EXPECT_EQ(info.alternateSetting, 0);
  EXPECT_EQ(info.interfaceClass, 0xFF);
  ASSERT_EQ(info.endpoints.size(), 2u);
  EXPECT_EQ(info.endpoints[0].address, 0x02);
  EXPECT_EQ(info.endpoints[0].type, EndpointType::Bulk);
  EXPECT_EQ(info.endpoints[0].maxPacketSize, 64);
  EXPECT_EQ(info.endpoints[1].address, 0x86);
  EXPECT_EQ(emulated->Claimed(), std::vector<unsigned>{0});
  // Already configuration 1: not set again, and setting 0 needs no request.
  EXPECT_TRUE(emulated->Configurations().empty());
  EXPECT_TRUE(emulated->Settings().empty());

  std::vector<std::uint8_t> out = {'h', 'e', 'l', 'l', 'o'};
  auto sent = Bulk(*device, 0x02, out);
  ASSERT_TRUE(sent->WaitFor(5s));
  EXPECT_EQ(sent->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(sent->Result().transferred, 5u);

  std::vector<std::uint8_t> in(64, 0);
  auto received = Bulk(*device, 0x86, in);
  ASSERT_TRUE(received->WaitFor(5s));
  EXPECT_EQ(received->Result().status, USBD_STATUS_SUCCESS);
  ASSERT_EQ(received->Result().transferred, 5u);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), in.begin()));

  // An IN transfer waiting for data completes when the data comes.
  std::vector<std::uint8_t> later(64, 0);
  auto waiting = Bulk(*device, 0x86, later, false);
  EXPECT_FALSE(waiting->WaitFor(100ms));
  std::vector<std::uint8_t> more = {7, 8, 9};
  Bulk(*device, 0x02, more)->Wait();
  ASSERT_TRUE(waiting->WaitFor(5s));
  EXPECT_EQ(waiting->Result().status, USBD_STATUS_ERROR_SHORT_TRANSFER);
  EXPECT_EQ(waiting->Result().transferred, 3u);

  // Another setting of the claimed interface.
  InterfaceInfo alternate;
  ASSERT_EQ(device->SelectInterface(0, 1, &alternate), USBD_STATUS_SUCCESS);
  EXPECT_EQ(alternate.alternateSetting, 1);
  ASSERT_EQ(alternate.endpoints.size(), 1u);
  EXPECT_EQ(alternate.endpoints[0].address, 0x81);
  EXPECT_EQ(alternate.endpoints[0].type, EndpointType::Interrupt);
  EXPECT_EQ(alternate.endpoints[0].interval, 10);
  EXPECT_EQ(emulated->Settings(), (std::vector<std::pair<unsigned, unsigned>>{{0, 1}}));
  EXPECT_EQ(device->SelectInterface(0, 5, &alternate), USBD_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(device->SelectInterface(4, 0, &alternate), USBD_STATUS_INVALID_PARAMETER);
  // Back to setting 0 through SelectConfiguration: now a request is needed.
  ASSERT_EQ(device->SelectConfiguration(1, 0, 0, &info), USBD_STATUS_SUCCESS);
  EXPECT_EQ(emulated->Settings(), (std::vector<std::pair<unsigned, unsigned>>{{0, 1}, {0, 0}}));
  EXPECT_EQ(emulated->Claimed(), std::vector<unsigned>{0});  // claimed once

  EXPECT_EQ(device->ResetEndpoint(0x86), USBD_STATUS_SUCCESS);
  EXPECT_EQ(emulated->ClearedHalts(), std::vector<unsigned>{0x86});
  EXPECT_EQ(device->ResetPort(), USBD_STATUS_SUCCESS);
  EXPECT_EQ(emulated->Resets(), 1);

  EXPECT_EQ(device->Deconfigure(), USBD_STATUS_SUCCESS);
  EXPECT_EQ(emulated->Configurations(), std::vector<int>{-1});
}

TEST_F(Umockdev, IsochronousPackets) {
  auto device = StartWithBoard();
  ASSERT_NE(device, nullptr);
  // Packets at offsets with gaps between them.
  std::vector<std::uint8_t> data(64, 0xEE);
  TransferRequest r;
  r.type = TransferType::Isochronous;
  r.endpoint = 0x83;
  r.data = data;
  r.isoPackets = {{0, 8}, {16, 8}, {32, 8}, {48, 8}};
  auto in = device->Submit(r);
  ASSERT_TRUE(in->WaitFor(5s));
  const TransferResult& result = in->Result();
  EXPECT_EQ(result.status, USBD_STATUS_SUCCESS);
  ASSERT_EQ(result.isoPackets.size(), 4u);
  EXPECT_EQ(result.transferred, 1u + 2u + 3u + 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(result.isoPackets[i].offset, 16 * i);
    EXPECT_EQ(result.isoPackets[i].actualLength, i + 1);
    EXPECT_EQ(result.isoPackets[i].status, i == 2 ? USBD_STATUS_ISO_TD_ERROR : USBD_STATUS_SUCCESS);
    for (std::size_t b = 0; b < 16; ++b)
      EXPECT_EQ(data[16 * i + b], b < i + 1 ? 0xA0 + i : 0xEE) << i << "/" << b;
  }

  std::vector<std::uint8_t> outData(12);
  for (std::size_t i = 0; i < outData.size(); ++i) outData[i] = static_cast<std::uint8_t>(i);
  r.endpoint = 0x03;
  r.data = outData;
  r.isoPackets = {{8, 4}, {0, 4}};  // sent in packet order, not buffer order
  auto out = device->Submit(r);
  ASSERT_TRUE(out->WaitFor(5s));
  EXPECT_EQ(out->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(out->Result().transferred, 8u);
  EXPECT_EQ(emulated_[0]->IsoWritten(), (std::vector<std::uint8_t>{8, 9, 10, 11, 0, 1, 2, 3}));

  // What libusb cannot carry is refused at once.
  r.startAsap = false;
  auto framed = device->Submit(r);
  ASSERT_TRUE(framed->Completed());
  EXPECT_EQ(framed->Result().status, USBD_STATUS_INVALID_PARAMETER);
  r.startAsap = true;
  r.isoPackets = {{10, 4}};  // beyond the buffer
  auto beyond = device->Submit(r);
  ASSERT_TRUE(beyond->Completed());
  EXPECT_EQ(beyond->Result().status, USBD_STATUS_INVALID_PARAMETER);
}

TEST_F(Umockdev, CancelAndAbort) {
  EmulatedDevice* emulated = nullptr;
  auto device = StartWithBoard(&emulated);
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_SUCCESS);

  std::vector<std::uint8_t> in(64);
  auto waiting = Bulk(*device, 0x86, in);
  EXPECT_FALSE(waiting->WaitFor(100ms));
  EXPECT_FALSE(waiting->Completed());
  waiting->Cancel();
  ASSERT_TRUE(waiting->WaitFor(5s));
  EXPECT_EQ(waiting->Result().status, USBD_STATUS_CANCELED);
  EXPECT_EQ(waiting->Result().transferred, 0u);
  waiting->Cancel();  // once completed, nothing more
  EXPECT_EQ(waiting->Result().status, USBD_STATUS_CANCELED);

  // Abort ends every transfer of the endpoint, and only those, before it
  // returns.
  std::vector<std::uint8_t> a(64), b(64), c(8);
  auto first = Bulk(*device, 0x86, a);
  auto second = Bulk(*device, 0x86, b);
  TransferRequest interrupt;
  interrupt.type = TransferType::Interrupt;
  interrupt.endpoint = 0x81;
  interrupt.data = c;
  auto other = device->Submit(interrupt);
  for (int i = 0; i < 500 && emulated->WaitingIn() < 3; ++i) std::this_thread::sleep_for(10ms);
  device->AbortEndpoint(0x86);
  EXPECT_TRUE(first->Completed());
  EXPECT_TRUE(second->Completed());
  EXPECT_EQ(first->Result().status, USBD_STATUS_CANCELED);
  EXPECT_EQ(second->Result().status, USBD_STATUS_CANCELED);
  EXPECT_FALSE(other->Completed());
  device->AbortEndpoint(0x81);
  EXPECT_TRUE(other->Completed());
  EXPECT_EQ(other->Result().status, USBD_STATUS_CANCELED);
  EXPECT_EQ(emulated->Discarded(), 4u);
}

TEST_F(Umockdev, BusyClaimRightAfterArrivalIsRetried) {
  EmulatedDevice& emulated = Plug(3);
  emulated.FailClaims(3);
  StartBus();
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  auto device = recorder_->Arrived().front();
  InterfaceInfo info;
  EXPECT_EQ(device->SelectConfiguration(1, 0, 0, &info), USBD_STATUS_SUCCESS);
  EXPECT_EQ(emulated.ClaimAttempts(), 4);
  EXPECT_EQ(emulated.Claimed(), std::vector<unsigned>{0});
}

TEST_F(Umockdev, BusyClaimGivesUpAfterTheWindow) {
  EmulatedDevice& emulated = Plug(3);
  emulated.FailClaims(1000);
  StartBus();
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  auto device = recorder_->Arrived().front();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_REQUEST_FAILED);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_GT(emulated.ClaimAttempts(), 2);
  // Long after the arrival a busy interface fails at once.
  const int attempts = emulated.ClaimAttempts();
  EXPECT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_REQUEST_FAILED);
  EXPECT_EQ(emulated.ClaimAttempts(), attempts + 1);
}

TEST_F(Umockdev, HotplugArrivalAndDeparture) {
  StartBus();
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(recorder_->Arrived().empty());

  EmulatedDevice& emulated = Plug(3);
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  auto device = recorder_->Arrived().front();
  EXPECT_EQ(device->Identity().Location(), "1-3");
  ASSERT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_SUCCESS);

  std::vector<std::uint8_t> in(64);
  auto waiting = Bulk(*device, 0x86, in);
  for (int i = 0; i < 500 && emulated.WaitingIn() < 1; ++i) std::this_thread::sleep_for(10ms);

  Unplug(3);
  ASSERT_TRUE(recorder_->WaitDepartures(1));
  const DeviceIdentity left = recorder_->Departed().front();
  EXPECT_EQ(left.Location(), "1-3");
  EXPECT_EQ(left.vendorId, kVendor);
  // What was in flight ends as gone, and so does everything later, at once.
  ASSERT_TRUE(waiting->WaitFor(5s));
  EXPECT_EQ(waiting->Result().status, USBD_STATUS_DEVICE_GONE);
  auto late = Bulk(*device, 0x86, in);
  EXPECT_TRUE(late->Completed());
  EXPECT_EQ(late->Result().status, USBD_STATUS_DEVICE_GONE);
  EXPECT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_DEVICE_GONE);
  EXPECT_EQ(device->ResetPort(), USBD_STATUS_DEVICE_GONE);
  EXPECT_EQ(recorder_->Departed().size(), 1u);
}

TEST_F(Umockdev, ReEnumerationOnTheSamePlug) {
  EmulatedDevice* emulated = nullptr;
  auto first = StartWithBoard(&emulated);
  ASSERT_NE(first, nullptr);
  Unplug(3);
  ASSERT_TRUE(recorder_->WaitDepartures(1));
  // The same plug, a new bus address: a new device with a new handle.
  EmulatedDevice& again = Plug(3);
  ASSERT_TRUE(recorder_->WaitArrivals(2));
  auto second = recorder_->Arrived().back();
  EXPECT_NE(second, first);
  EXPECT_EQ(second->Identity().Location(), "1-3");
  std::vector<std::uint8_t> id(4);
  auto read = Control(*second, 0xC0, EchoDevice::kReadId, 9, id);
  ASSERT_TRUE(read->WaitFor(5s));
  EXPECT_EQ(read->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(Control(*first, 0xC0, EchoDevice::kReadId, 9, id)->Result().status,
            USBD_STATUS_DEVICE_GONE);
  ASSERT_EQ(second->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_SUCCESS);
  EXPECT_EQ(again.Claimed(), std::vector<unsigned>{0});
  EXPECT_TRUE(emulated->Claimed().empty());
}

TEST_F(Umockdev, RescanReportsNothingTwice) {
  EmulatedDevice* emulated = nullptr;
  auto device = StartWithBoard(&emulated);
  ASSERT_NE(device, nullptr);
  bus_->Rescan();
  bus_->Rescan();
  Plug(4);
  ASSERT_TRUE(recorder_->WaitArrivals(2));
  bus_->Rescan();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(recorder_->Arrived().size(), 2u);
  EXPECT_TRUE(recorder_->Departed().empty());
  // The first handle is still the live one.
  EXPECT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_SUCCESS);
}

TEST_F(Umockdev, PollingFindsArrivalsAndDepartures) {
  Plug(3);
  bus_ = MakePollingLibusbBus({{kVendor, kProduct}});
  bus_->SetLog(recorder_->Log());
  bus_->Start(recorder_->Events());
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  EXPECT_EQ(recorder_->Arrived()[0]->Identity().Location(), "1-3");

  Plug(4);
  ASSERT_TRUE(recorder_->WaitArrivals(2, 5s));
  EXPECT_EQ(recorder_->Arrived()[1]->Identity().Location(), "1-4");
  Unplug(3);
  ASSERT_TRUE(recorder_->WaitDepartures(1, 5s));
  EXPECT_EQ(recorder_->Departed()[0].Location(), "1-3");
  // Later looks report nothing twice.
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(recorder_->Arrived().size(), 2u);
  EXPECT_EQ(recorder_->Departed().size(), 1u);
  EXPECT_TRUE(recorder_->Logged().empty());
  std::vector<std::uint8_t> in(8);
  EXPECT_EQ(Bulk(*recorder_->Arrived()[0], 0x86, in)->Result().status, USBD_STATUS_DEVICE_GONE);
}

TEST_F(Umockdev, DeviceThatCannotBeOpenedIsDroppedWithALogMessage) {
  std::vector<std::uint8_t> descriptors = kDeviceDescriptor;
  descriptors.insert(descriptors.end(), kConfiguration.begin(), kConfiguration.end());
  std::string why;
  ASSERT_TRUE(emulation_->AddRecord(emulation::RecordOf({{4}, 100, descriptors, 1, false}),
                                    &why))  // no device node
      << why;
  StartBus();
  ASSERT_TRUE(recorder_->WaitLog(1));
  const std::string message = recorder_->Logged().front();
  EXPECT_NE(message.find("1234:5678 at 1-4"), std::string::npos) << message;
  EXPECT_NE(message.find("dropped"), std::string::npos) << message;
  EXPECT_TRUE(recorder_->Arrived().empty());
  // A board plugged later is served as usual.
  Plug(3);
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  EXPECT_EQ(recorder_->Arrived().front()->Identity().Location(), "1-3");
}

TEST_F(Umockdev, ClosingWithTransfersInFlight) {
  EmulatedDevice* emulated = nullptr;
  auto device = StartWithBoard(&emulated);
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_SUCCESS);
  std::vector<std::uint8_t> in(64);
  auto waiting = Bulk(*device, 0x86, in);
  for (int i = 0; i < 500 && emulated->WaitingIn() < 1; ++i) std::this_thread::sleep_for(10ms);

  // The bus stops: the device is gone for its user, who still holds it.
  bus_->Stop();
  ASSERT_TRUE(waiting->WaitFor(5s));
  EXPECT_EQ(waiting->Result().status, USBD_STATUS_DEVICE_GONE);
  EXPECT_EQ(Bulk(*device, 0x86, in)->Result().status, USBD_STATUS_DEVICE_GONE);
  EXPECT_TRUE(recorder_->Departed().empty());  // stopping reports nothing
  bus_.reset();

  // The last user lets go after the bus: cancel, reap, close, exit.
  auto stillWaiting = waiting;
  device.reset();
  recorder_->Clear();
  EXPECT_TRUE(stillWaiting->Completed());
}

TEST_F(Umockdev, DroppingADeviceCancelsWhatIsInFlight) {
  EmulatedDevice* emulated = nullptr;
  auto device = StartWithBoard(&emulated);
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_SUCCESS);
  std::vector<std::uint8_t> in(64);
  auto waiting = Bulk(*device, 0x86, in);
  for (int i = 0; i < 500 && emulated->WaitingIn() < 1; ++i) std::this_thread::sleep_for(10ms);
  // The bus and its user both let go while the transfer waits.
  bus_.reset();
  device.reset();
  recorder_->Clear();
  ASSERT_TRUE(waiting->WaitFor(5s));
  EXPECT_EQ(waiting->Result().status, USBD_STATUS_DEVICE_GONE);
  EXPECT_EQ(emulated->Discarded(), 1u);
}

TEST_F(Umockdev, RestartsAfterStop) {
  auto device = StartWithBoard();
  ASSERT_NE(device, nullptr);
  device.reset();
  bus_->Stop();
  recorder_->Clear();
  bus_->Start(recorder_->Events());
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  auto again = recorder_->Arrived().front();
  std::vector<std::uint8_t> id(4);
  auto read = Control(*again, 0xC0, EchoDevice::kReadId, 7, id);
  ASSERT_TRUE(read->WaitFor(5s));
  EXPECT_EQ(read->Result().status, USBD_STATUS_SUCCESS);
}

TEST_F(Umockdev, PollSeesWhatNoHotplugEventReported) {
  // Hotplug and a look at the bus every 200 ms (--poll), as on a machine
  // whose uevents never reach libusb: devices that come and go without an
  // event are found by the looks alone.
  bus_ = MakeLibusbBus({{kVendor, kProduct}}, 200ms);
  bus_->SetLog(recorder_->Log());
  bus_->Start(recorder_->Events());
  Plug(3);
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  // Gone without its removal's uevent: hotplug never hears of it.
  emulation_->UnplugWithoutUevent(3);
  ASSERT_TRUE(recorder_->WaitDepartures(1));
  EXPECT_EQ(recorder_->Departed()[0].Location(), "1-3");
  EXPECT_EQ(recorder_->Arrived().size(), 1u);
  // Every device on the bus, whatever its identifiers, for messages.
  Plug(4);
  ASSERT_TRUE(recorder_->WaitArrivals(2));
  const auto present = bus_->Present();
  EXPECT_TRUE(std::any_of(present.begin(), present.end(), [](const DeviceIdentity& d) {
    return d.Location() == "1-4" && d.vendorId == kVendor;
  }));
  EXPECT_TRUE(recorder_->Logged().empty());
}

}  // namespace
}  // namespace vantrel::usbhost::umockdevtest
