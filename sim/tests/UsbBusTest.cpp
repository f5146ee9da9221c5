#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "SimUsbTestSupport.h"
#include "k27sim/SimUsbBoard.h"

namespace vantrel::sim::test {
namespace {

using namespace std::chrono_literals;
using Events = std::vector<std::string>;

std::shared_ptr<SimUsbBoard> NewBoard() {
  return std::make_shared<SimUsbBoard>(std::make_shared<SimBoard>(), kBoardVendor, kBoardProduct);
}

TEST(SimUsbBus, PlugsAndUnplugsAreReportedInOrder) {
  SimUsbBus bus(4);
  BusRecorder recorder(bus);
  const auto first = NewBoard();
  const auto second = NewBoard();

  bus.Plug(1, first);
  bus.Plug(4, second);
  EXPECT_EQ(bus.DeviceAt(1), first);
  EXPECT_EQ(bus.DeviceAt(4), second);
  EXPECT_EQ(bus.DeviceAt(2), nullptr);
  EXPECT_EQ(bus.DeviceAt(0), nullptr);
  EXPECT_EQ(bus.DeviceAt(5), nullptr);

  bus.Unplug(2);            // empty: nothing to report
  bus.Plug(4, NewBoard());  // an occupied port loses its device first
  bus.Plug(1, nullptr);     // the same as unplugging
  bus.Unplug(4);
  EXPECT_EQ(recorder.Events(), (Events{"+1", "+4", "-4", "+4", "-1", "-4"}));
  EXPECT_EQ(bus.DeviceAt(4), nullptr);
}

TEST(SimUsbBus, RefusesPortsItLacksAndDevicesPluggedTwice) {
  EXPECT_THROW(SimUsbBus(0), std::invalid_argument);
  EXPECT_THROW(SimUsbBus(256), std::invalid_argument);
  SimUsbBus bus(2);
  SimUsbBus other(2);
  EXPECT_EQ(bus.Ports(), 2);
  const auto board = NewBoard();
  EXPECT_THROW(bus.Plug(3, board), std::out_of_range);
  EXPECT_THROW(bus.Unplug(0), std::out_of_range);
  bus.Plug(1, board);
  EXPECT_THROW(bus.Plug(2, board), std::invalid_argument);
  EXPECT_THROW(other.Plug(1, board), std::invalid_argument);
  EXPECT_EQ(bus.DeviceAt(2), nullptr);
  bus.Unplug(1);
  other.Plug(1, board);  // free again
  EXPECT_EQ(other.DeviceAt(1), board);
}

TEST(SimUsbBus, UnpluggedDeviceIsGoneUntilPluggedAgain) {
  SimUsbBus bus;
  const auto board = NewBoard();
  // A device that never was on a bus serves its requests.
  EXPECT_EQ(GetDescriptor(*board, 1, 0, 18).outcome, UsbOutcome::Ack);
  bus.Plug(2, board);
  EXPECT_EQ(SetConfiguration(*board, 1), UsbOutcome::Ack);
  bus.Unplug(2);
  EXPECT_EQ(GetDescriptor(*board, 1, 0, 18).outcome, UsbOutcome::Gone);
  Bytes buffer(64);
  EXPECT_EQ(board->Out(0x02, Bytes{0x06}).outcome, UsbOutcome::Gone);
  EXPECT_EQ(board->In(0x82, buffer).outcome, UsbOutcome::Gone);
  bus.Plug(2, board);
  EXPECT_EQ(GetDescriptor(*board, 1, 0, 18).outcome, UsbOutcome::Ack);
}

// The observer is called without the bus's lock: it can read the bus and
// change it, and the change it makes is reported after its own call.
TEST(SimUsbBus, ObserverMayUseTheBusFromItsCall) {
  SimUsbBus bus(3);
  const auto follower = NewBoard();
  Events events;
  bus.SetObserver({[&](int port, std::shared_ptr<SimUsbDevice> device) {
                     events.push_back("+" + std::to_string(port));
                     EXPECT_EQ(bus.DeviceAt(port), device);
                     if (port == 1) bus.Plug(2, follower);
                     events.push_back("end+" + std::to_string(port));
                   },
                   [&](int port) { events.push_back("-" + std::to_string(port)); }});
  bus.Plug(1, NewBoard());
  EXPECT_EQ(events, (Events{"+1", "end+1", "+2", "end+2"}));
  EXPECT_EQ(bus.DeviceAt(2), follower);
}

TEST(SimUsbBus, ConcurrentChangesAreReportedOneAtATimeInOrder) {
  constexpr int kPorts = 4;
  constexpr int kRounds = 200;
  SimUsbBus bus(kPorts);
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::mutex mutex;
  std::map<int, Events> perPort;
  auto record = [&](int port, const char* what) {
    if (inside.fetch_add(1) != 0) overlapped = true;
    {
      std::lock_guard lock(mutex);
      perPort[port].push_back(what);
    }
    inside.fetch_sub(1);
  };
  bus.SetObserver({[&](int port, std::shared_ptr<SimUsbDevice>) { record(port, "+"); },
                   [&](int port) { record(port, "-"); }});

  std::vector<std::thread> threads;
  for (int port = 1; port <= kPorts; ++port) {
    threads.emplace_back([&bus, port] {
      for (int i = 0; i < kRounds; ++i) {
        bus.Plug(port, NewBoard());
        bus.Unplug(port);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_FALSE(overlapped);
  for (int port = 1; port <= kPorts; ++port) {
    const Events& events = perPort[port];
    ASSERT_EQ(events.size(), 2u * kRounds) << "port " << port;
    for (std::size_t i = 0; i < events.size(); ++i)
      ASSERT_EQ(events[i], i % 2 == 0 ? "+" : "-") << "port " << port << " event " << i;
  }
}

TEST(SimUsbBus, ReplacedDeviceComesBackAfterItsAbsence) {
  SimUsbBus bus(2);
  BusRecorder recorder(bus);
  const auto successor = NewBoard();
  bus.Plug(1, NewBoard());

  const auto before = std::chrono::steady_clock::now();
  bus.Replace(1, successor, 30ms);
  EXPECT_EQ(recorder.Events(), (Events{"+1", "-1"}));
  EXPECT_EQ(bus.DeviceAt(1), nullptr);
  ASSERT_TRUE(recorder.WaitForEvents(3));
  EXPECT_GE(std::chrono::steady_clock::now() - before, 30ms);
  EXPECT_EQ(recorder.Events(), (Events{"+1", "-1", "+1"}));
  EXPECT_EQ(bus.DeviceAt(1), successor);

  // Pulling the cable while the device is away: it does not come back.
  bus.Replace(1, NewBoard(), 20ms);
  bus.Unplug(1);
  std::this_thread::sleep_for(60ms);
  EXPECT_EQ(recorder.Events(), (Events{"+1", "-1", "+1", "-1"}));
  EXPECT_EQ(bus.DeviceAt(1), nullptr);

  bus.Replace(2, NewBoard());  // an empty port: nothing happens
  EXPECT_EQ(recorder.Events().size(), 4u);
}

TEST(SimUsbBus, BusGoneWhileADeviceIsAwayReportsNothingMore) {
  std::atomic<int> reports{0};
  {
    SimUsbBus bus(1);
    bus.SetObserver(
        {[&](int, std::shared_ptr<SimUsbDevice>) { ++reports; }, [&](int) { ++reports; }});
    bus.Plug(1, NewBoard());
    bus.Replace(1, NewBoard(), 20ms);
  }
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(reports, 2);
}

TEST(SimUsbBus, FrameCounterAdvancesByHandOrWithTheClock) {
  SimUsbBus manual;
  EXPECT_EQ(manual.FrameNumber(), 0u);
  manual.AdvanceFrames(5);
  std::this_thread::sleep_for(5ms);
  EXPECT_EQ(manual.FrameNumber(), 5u);
  manual.AdvanceFrames(0xFFFFFFFFu);  // wraps
  EXPECT_EQ(manual.FrameNumber(), 4u);

  SimUsbBus clocked(8, SimUsbBus::FrameClock::WallClock);
  clocked.AdvanceFrames(1000);
  const std::uint32_t start = clocked.FrameNumber();
  EXPECT_GE(start, 1000u);
  std::this_thread::sleep_for(20ms);
  EXPECT_GE(clocked.FrameNumber() - start, 20u);
}

}  // namespace
}  // namespace vantrel::sim::test
