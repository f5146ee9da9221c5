// Start, stop, removal, open and the synchronous USB request's time limit.
#include <future>
#include <thread>

#include "DriverTestSupport.h"

namespace vantrel::driver::test {
namespace {

using LifecycleTest = DriverTest;

TEST_F(LifecycleTest, OpenIsRefusedUntilAStartHasSucceeded) {
  EXPECT_EQ(device->State().deviceName, "\\Device\\Ezusb-0");
  EXPECT_EQ(device->State().linkName, "\\DosDevices\\Ezusb-0");
  EXPECT_EQ(device->OpenHandle(), STATUS_UNSUCCESSFUL);

  board->SetControlFault([](const vantrel::driver::fake::usb::SetupPacket& s) {
    return s.value == 0x0100 ? Fault::Stall : Fault::None;
  });
  EXPECT_EQ(device->Start(), STATUS_UNSUCCESSFUL);
  EXPECT_FALSE(device->State().DeviceDesc());
  EXPECT_EQ(device->State().lastUrbError, USBD_STATUS_STALL_PID);
  EXPECT_EQ(device->OpenHandle(), STATUS_UNSUCCESSFUL);

  board->SetControlFault({});
  StartDevice();
  EXPECT_EQ(device->OpenHandle(), STATUS_SUCCESS);
  EXPECT_EQ(device->OpenHandle(), STATUS_SUCCESS);
  device->Close();
  EXPECT_EQ(device->State().openCount, 1);
}

TEST_F(LifecycleTest, StartReadsTheWholeConfigurationAndKeepsTheFirstInterfacesPipes) {
  StartDevice();
  const std::vector<vantrel::driver::fake::ControlCall> calls = board->ControlCalls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].setup.requestType, 0x80);
  EXPECT_EQ(calls[0].setup.request, 6);
  EXPECT_EQ(calls[0].setup.value, 0x0100);
  EXPECT_EQ(calls[0].setup.length, 18);
  EXPECT_EQ(calls[1].setup.value, 0x0200);
  EXPECT_EQ(calls[1].setup.length, 9);
  EXPECT_EQ(calls[2].setup.length, 116 + 16);

  const BoardDeviceState& state = device->State();
  EXPECT_TRUE(state.isStarted);
  EXPECT_TRUE(state.linkCreated);
  EXPECT_EQ(state.ConfigHandle(), 1);
  const DeviceDescriptor expected = [] {
    DeviceDescriptor d{};
    const Bytes bytes = vantrel::driver::fake::BoardDeviceDescriptor();
    std::copy(bytes.begin(), bytes.end(), d.begin());
    return d;
  }();
  EXPECT_EQ(state.DeviceDesc(), expected);
  const PipeTablePtr table = state.PipeTable();
  ASSERT_TRUE(table);
  ASSERT_EQ(table->pipes.size(), 14u);
  for (std::size_t k = 0; k < 7; ++k) {
    EXPECT_EQ(table->pipes[2 * k].endpointAddress, 0x81 + k);
    EXPECT_EQ(table->pipes[2 * k + 1].endpointAddress, 0x01 + k);
  }
  for (const PipeInformation& pipe : table->pipes) {
    EXPECT_EQ(pipe.pipeType, PipeType::Bulk);
    EXPECT_EQ(pipe.maximumTransferSize, 65535u);
    EXPECT_TRUE(pipe.pipeHandle);
  }
}

TEST_F(LifecycleTest, StartFailsWithoutAnInterfaceOrWhenTheSelectionFails) {
  board->SetConfigDescriptor({9, 2, 9, 0, 0, 1, 0, 0x80, 50});
  EXPECT_EQ(device->Start(), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(board->SelectConfigurationCalls(), 0);

  board->SetDescriptors(vantrel::driver::fake::BoardDeviceDescriptor(),
                        {{0, 0, vantrel::driver::fake::BoardEndpoints()}});
  board->SetSelectStatus(USBD_STATUS_REQUEST_FAILED);
  EXPECT_EQ(device->Start(), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(device->State().lastUrbError, USBD_STATUS_REQUEST_FAILED);
  EXPECT_FALSE(device->State().isStarted);
  EXPECT_FALSE(device->State().PipeTable());
}

TEST_F(LifecycleTest, StopDeconfiguresAndAStartAfterItReplacesTheRecord) {
  StartDevice();
  const PipeTablePtr firstTable = device->State().PipeTable();
  EXPECT_EQ(device->Stop(), STATUS_SUCCESS);
  EXPECT_EQ(board->DeconfigureCalls(), 1);
  EXPECT_TRUE(device->State().isStarted);
  EXPECT_EQ(device->State().PipeTable(), firstTable);

  Bytes changed = vantrel::driver::fake::BoardDeviceDescriptor();
  changed[12] = 0x02;  // bcdDevice
  board->SetDescriptors(changed, {{0, 0, vantrel::driver::fake::BoardEndpoints()}});
  StartDevice();
  EXPECT_EQ(board->SelectConfigurationCalls(), 2);
  EXPECT_EQ(device->State().DeviceDesc().value()[12], 0x02);
  EXPECT_NE(device->State().PipeTable(), firstTable);
  EXPECT_EQ(device->State().PipeTable()->pipes, firstTable->pipes);
}

TEST_F(LifecycleTest, CapabilitiesAndSurpriseRemoval) {
  DeviceCapabilities old{0, false};
  EXPECT_EQ(device->QueryCapabilities(old), STATUS_SUCCESS);
  EXPECT_FALSE(old.surpriseRemovalOk);
  DeviceCapabilities current{1, false};
  EXPECT_EQ(device->QueryCapabilities(current), STATUS_SUCCESS);
  EXPECT_TRUE(current.surpriseRemovalOk);

  StartDevice();
  EXPECT_EQ(device->SurpriseRemoval(), STATUS_SUCCESS);
  EXPECT_TRUE(device->State().isStarted);
  EXPECT_EQ(Exchange(ExchangeBlock(1, 0, {0x10})).status, STATUS_SUCCESS);
}

TEST_F(LifecycleTest, WorkReferencesAreRefusedOnceRemovalBegan) {
  BoardDeviceState state(3);
  EXPECT_EQ(state.linkName, "\\DosDevices\\Ezusb-3");
  EXPECT_TRUE(state.ioRefs.Acquire());
  state.ioRefs.BeginRemoval();
  EXPECT_FALSE(state.ioRefs.Acquire());
  // The request's reference is left; the device's own went with the removal.
  EXPECT_EQ(state.ioRefs.Count(), 1);
  state.ioRefs.Release();
  EXPECT_EQ(state.ioRefs.Count(), 0);
  state.ioRefs.WaitForIdle();  // returns at once
}

TEST_F(LifecycleTest, AReplyThatNeverComesIsCancelledAfterTheTimeLimit) {
  UseTimeLimit(150ms);
  StartDevice();
  board->SetResponder([](int, const Bytes&) { return std::nullopt; });
  const auto begin = std::chrono::steady_clock::now();
  const Reply reply = Exchange(ExchangeBlock(1, 0, {0x10}));
  EXPECT_GE(std::chrono::steady_clock::now() - begin, 150ms);
  EXPECT_EQ(reply.status, STATUS_CANCELLED);
  EXPECT_EQ(reply.information, 0u);
  EXPECT_EQ(LastUrbError(), USBD_STATUS_CANCELED);
  EXPECT_FALSE(board->WaitPending(0x81, 1, 0ms));
}

TEST_F(LifecycleTest, RemoveAbortsTheExchangeInFlightAndReturns) {
  UseTimeLimit(60s);
  StartDevice();
  board->SetResponder([](int, const Bytes&) { return std::nullopt; });
  auto exchange =
      std::async(std::launch::async, [&] { return Exchange(ExchangeBlock(3, 2, {7})); });
  ASSERT_TRUE(board->WaitPending(0x82));

  EXPECT_EQ(device->Remove(), STATUS_SUCCESS);
  const Reply reply = exchange.get();
  EXPECT_EQ(reply.status, STATUS_CANCELLED);
  EXPECT_EQ(device->State().lastUrbError, USBD_STATUS_CANCELED);
  const std::vector<std::uint8_t> expected = {0x81, 0x01, 0x82, 0x02, 0x83, 0x03, 0x84,
                                              0x04, 0x85, 0x05, 0x86, 0x06, 0x87, 0x07};
  EXPECT_EQ(board->Aborted(), expected);
  EXPECT_FALSE(device->State().PipeTable());
  EXPECT_FALSE(device->State().DeviceDesc());
  EXPECT_FALSE(device->State().linkCreated);
}

TEST_F(LifecycleTest, RemoveWaitsForRequestsInFlightAndRefusesNewOnes) {
  UseTimeLimit(60s);
  StartDevice();
  board->SetFault(0, Fault::NakForever);
  auto read =
      std::async(std::launch::async, [&] { return Call(IOCTL_VIO_GET_CONFIG_DESCRIPTOR, {}, 64); });
  ASSERT_TRUE(board->WaitPending(0));
  auto remove = std::async(std::launch::async, [&] { return device->Remove(); });
  while (!device->State().ioRefs.Removing()) std::this_thread::yield();

  EXPECT_EQ(Call(IOCTL_VIO_NOP, {}, 0).status, STATUS_DELETE_PENDING);
  EXPECT_EQ(device->Start(), STATUS_DELETE_PENDING);
  EXPECT_EQ(device->OpenHandle(), STATUS_DELETE_PENDING);
  EXPECT_EQ(remove.wait_for(50ms), std::future_status::timeout);

  board->FailPending(0);
  EXPECT_EQ(read.get().information, 0u);
  EXPECT_EQ(remove.get(), STATUS_SUCCESS);
  EXPECT_EQ(device->Remove(), STATUS_DELETE_PENDING);
  EXPECT_EQ(Call(IOCTL_VIO_GET_DRIVER_VERSION, {}, 6).status, STATUS_DELETE_PENDING);
}

}  // namespace
}  // namespace vantrel::driver::test
