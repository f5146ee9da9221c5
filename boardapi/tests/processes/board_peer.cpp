// A user's program for the cross-process tests: connects to board 0 through
// the daemon with the public interface only.
//   board_peer outputs FIRST COUNT  - threads FIRST..FIRST+COUNT-1 of the output
//                                     stress, one VantrelUSB each
//   board_peer set OUTPUT ON         - one SetOutputBit
//   board_peer drain                - takes timestamped bytes from port A and
//                                     prints each byte received as two hex digits
//   board_peer sram ADDRESS FILL COUNT - reads the 62 SRAM bytes at ADDRESS COUNT
//                                     times; each must be FILL. Exit status 3 at
//                                     the first read that returns other bytes, 4
//                                     at the first failed read (or exchange of
//                                     init), 1 without a connection
//   board_peer period FIRST COUNT    - as outputs, but each call changes both
//                                     periods with the period-bit forms
//   board_peer init                  - one init: 0 connected, 4 failed with an
//                                     error code, 1 failed without one
//   board_peer connect               - init as above, printing "error N" with
//                                     the error code of a failure
//   board_peer eeprom CAPACITY ROUNDS ID - ROUNDS times: init, CheckEEPROM,
//                                     this peer's own range written and read
//                                     back, a write that ends at the last
//                                     address allowed and one a byte beyond.
//                                     Exit status 4 init failed, 5 wrong
//                                     geometry, 6 an allowed transfer failed,
//                                     7 other bytes read back, 8 the write
//                                     beyond the end was not refused with 8
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
      for (const auto& call : vantrel::test::outputstress::Calls(first + t))
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

int RunPeriods(int first, int count) {
  std::vector<std::thread> threads;
  std::vector<int> failures(static_cast<std::size_t>(count), 0);
  for (int t = 0; t < count; ++t) {
    threads.emplace_back([t, first, &failures] {
      VantrelUSB board;
      if (!board.init(0)) {
        failures[static_cast<std::size_t>(t)] = -1;
        return;
      }
      for (const auto& call : vantrel::test::outputstress::Calls(first + t)) {
        const int byte = call.output < 32 ? call.output / 8 : 4;
        const int bit = call.output < 32 ? call.output % 8 : call.output - 32;
        const auto id = static_cast<_usbOutputId>(byte);
        if (!board.SetOnPeriodOutputBit(id, bit, call.on) ||
            !board.SetOffPeriodOutputBit(id, bit, call.on))
          ++failures[static_cast<std::size_t>(t)];
      }
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

int RunInit(bool sayError) {
  VantrelUSB board;
  if (board.init(0)) return 0;
  if (sayError) std::printf("error %d\n", static_cast<int>(board.GetLastError()));
  return board.GetLastError() == USB_MESSAGE_EXECUTION_SUCCESS ? 1 : 4;
}

// This peer's own range lies where the capacity probe never reads (its
// reference at 0-99 and its samples at powers of two from 128), so that no
// peer's data can make a part look smaller than it is.
int RunEeprom(unsigned capacity, int rounds, int id) {
  const unsigned own = 360u + 50u * static_cast<unsigned>(id);
  constexpr unsigned kOwnBytes = 50;
  constexpr unsigned kEdgeBytes = 100;
  VantrelUSB board;
  for (int round = 0; round < rounds; ++round) {
    if (!board.init(0)) {
      std::fprintf(stderr, "board_peer: round %d: init failed with %d\n", round,
                   static_cast<int>(board.GetLastError()));
      return 4;
    }
    K27EEPROM geometry{};
    if (!board.CheckEEPROM(&geometry) || geometry.lastAddress + 1u != capacity) {
      std::fprintf(stderr,
                   "board_peer: round %d: CheckEEPROM gave last address 0x%04X (error %d)\n", round,
                   geometry.lastAddress, static_cast<int>(board.GetLastError()));
      return 5;
    }
    unsigned char data[kEdgeBytes], back[kEdgeBytes];
    for (unsigned i = 0; i < kEdgeBytes; ++i)
      data[i] = static_cast<unsigned char>(id * 64 + round + i);
    if (!board.WriteEEPROM(static_cast<unsigned short>(own), data, kOwnBytes) ||
        !board.ReadEEPROM(static_cast<unsigned short>(own), back, kOwnBytes) ||
        !board.WriteEEPROM(static_cast<unsigned short>(capacity - 1 - kEdgeBytes), data,
                           kEdgeBytes)) {
      std::fprintf(stderr, "board_peer: round %d: a transfer in range failed with %d\n", round,
                   static_cast<int>(board.GetLastError()));
      return 6;
    }
    if (std::memcmp(data, back, kOwnBytes) != 0) {
      std::fprintf(stderr, "board_peer: round %d: other bytes read back at 0x%04X\n", round, own);
      return 7;
    }
    board.ClearErrors();
    if (board.WriteEEPROM(static_cast<unsigned short>(capacity - kEdgeBytes), data, kEdgeBytes) ||
        board.GetLastError() != USB_MESSAGE_PARAMETER_OUT_OF_RANGE) {
      std::fprintf(stderr,
                   "board_peer: round %d: a write past the end was not refused (error %d)\n", round,
                   static_cast<int>(board.GetLastError()));
      return 8;
    }
  }
  board.close();
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

int RunSram(unsigned address, unsigned fill, int count) {
  VantrelUSB board;
  // No connection (1), or one whose own exchanges went wrong (4).
  if (!board.init(0)) return board.GetLastError() == USB_MESSAGE_EXECUTION_SUCCESS ? 1 : 4;
  for (int i = 0; i < count; ++i) {
    unsigned char bytes[62] = {};
    if (!board.ReadSRAM(static_cast<unsigned short>(address), bytes, sizeof bytes)) {
      std::fprintf(stderr, "board_peer: read %d of 0x%04X failed: error %d\n", i, address,
                   static_cast<int>(board.GetLastError()));
      return 4;
    }
    for (unsigned char byte : bytes)
      if (byte != fill) {
        std::fprintf(stderr, "board_peer: read %d of 0x%04X returned 0x%02X, not 0x%02X\n", i,
                     address, byte, fill);
        return 3;
      }
  }
  board.close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "outputs") == 0)
    return RunOutputs(std::atoi(argv[2]), std::atoi(argv[3]));
  if (argc == 4 && std::strcmp(argv[1], "period") == 0)
    return RunPeriods(std::atoi(argv[2]), std::atoi(argv[3]));
  if (argc == 2 && std::strcmp(argv[1], "drain") == 0) return RunDrain();
  if (argc == 2 && std::strcmp(argv[1], "init") == 0) return RunInit(false);
  if (argc == 2 && std::strcmp(argv[1], "connect") == 0) return RunInit(true);
  if (argc == 5 && std::strcmp(argv[1], "eeprom") == 0)
    return RunEeprom(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 0)), std::atoi(argv[3]),
                     std::atoi(argv[4]));
  if (argc == 4 && std::strcmp(argv[1], "set") == 0) {
    VantrelUSB board;
    return board.init(0) && board.SetOutputBit(static_cast<_usbOutputBitId>(std::atoi(argv[2])),
                                               std::atoi(argv[3]))
               ? 0
               : 1;
  }
  if (argc == 5 && std::strcmp(argv[1], "sram") == 0)
    return RunSram(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 0)),
                   static_cast<unsigned>(std::strtoul(argv[3], nullptr, 0)), std::atoi(argv[4]));
  std::fprintf(
      stderr,
      "usage: board_peer outputs FIRST COUNT | period FIRST COUNT | set OUTPUT ON | drain |\n"
      "                  sram ADDRESS FILL COUNT | init | eeprom CAPACITY ROUNDS ID\n");
  return 2;
}
