#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "SimTestSupport.h"
#include "k27sim/CcTalkDevicePeer.h"

namespace vantrel::sim::test {
namespace {

// A test or control tool drives and inspects the board while host clients
// exchange commands on other threads; run under a race detector this shows
// that every member takes the board's lock and peers take their own.
TEST(SimBoardThreads, DrivingAndInspectingWhileClientsExchange) {
  RunningBoard board;
  auto device = std::make_shared<CcTalkDevicePeer>();
  board.AttachPeer(kPortB, device);
  std::atomic<bool> stop{false};

  std::thread io([&] {
    for (int i = 0; i < 300; ++i) {
      Send(board, 1, {0x4B});
      Send(board, 1, {0x57, 0, 0x01, 0, 10});
      Send(board, 1, {0x5C});
    }
  });
  std::thread serial([&] {
    for (int i = 0; i < 300; ++i) {
      Send(board, 4, {0x62, 2, 0, 1, 254, 255});
      Send(board, 4, {0x66});
    }
  });
  std::thread tool([&] {
    std::uint8_t n = 0;
    while (!stop) {
      board.SetInputs({n, n, n, n, n});
      board.PushReceived(kPortA, Bytes{n});
      device->SetPowered(n % 2 == 0);
      device->AddEvent(n);
      (void)board.Reel(0);
      (void)board.SentBytes(kPortB);
      board.AdvanceMicros(500);
      ++n;
    }
  });
  Send(board, 1, {0x56, 1, 0, 200, 0});
  io.join();
  serial.join();
  stop = true;
  tool.join();
  EXPECT_EQ(board.SentBytes(kPortB).size(), 300u * 5);
}

}  // namespace
}  // namespace vantrel::sim::test
