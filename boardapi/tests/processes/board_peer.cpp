// A user's program for the cross-process tests: connects to board 0 through
// the daemon with the public interface only.
//   board_peer outputs FIRST COUNT  - threads FIRST..FIRST+COUNT-1 of the output
//                                     stress, one VantrelUSB each
//   board_peer set OUTPUT ON         - one SetOutputBit
//   board_peer drain                - takes timestamped bytes from port A and
//                                     prints each byte received as two hex digits
#include <vantrel/VantrelUSB.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "OutputStress.h"

namespace {

int RunOutputs(int first, int count) {
  std::vector<std::thread> threads;
  std::vector<int> failures(static_cast<std::size_t>(count), 0);
  for (int t = 0; t < count; ++t) {
    threads.emplace_back([t, first, &failures] {
      VantrelUSB board;
      if (!board.init(0)) {
        failures[static_cast<std::size_t>(t)] = -1;
        return;
      }
      for (const auto& call : output_stress::Calls(first + t))
        if (!board.SetOutputBit(static_cast<_usbOutputBitId>(call.output), call.on))
          ++failures[static_cast<std::size_t>(t)];
      board.close();
    });
  }
  for (auto& thread : threads) thread.join();
  for (int failed : failures)
    if (failed != 0) {
      std::fprintf(stderr, "board_peer: %d failed calls\n", failed);
      return 1;
    }
  return 0;
}

int RunDrain() {
  VantrelUSB board;
  if (!board.init(0)) return 1;
  // Every byte has arrived before the peers start: a run of time values
  // alone means the port is empty.
  int idle = 0;
  while (idle < 20) {
    unsigned char byte = 0, time = 0;
    int hasByte = 0;
    if (!board.ReceiveByteWithTimestamp(USB_SERIAL_PORT_A, &byte, &time, &hasByte)) return 1;
    if (hasByte) {
      std::printf("%02X\n", byte);
      idle = 0;
    } else {
      ++idle;
    }
  }
  board.close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "outputs") == 0)
    return RunOutputs(std::atoi(argv[2]), std::atoi(argv[3]));
  if (argc == 2 && std::strcmp(argv[1], "drain") == 0) return RunDrain();
  if (argc == 4 && std::strcmp(argv[1], "set") == 0) {
    VantrelUSB board;
    return board.init(0) &&
                   board.SetOutputBit(static_cast<_usbOutputBitId>(std::atoi(argv[2])), std::atoi(argv[3]))
               ? 0
               : 1;
  }
  std::fprintf(stderr, "usage: board_peer outputs FIRST COUNT | set OUTPUT ON | drain\n");
  return 2;
}
