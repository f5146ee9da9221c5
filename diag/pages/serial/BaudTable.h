// The baud rates each board serial port offers, as the serial port and
// ccTalk pages list them, and how a rate carries over when the port changes.
#pragma once

#include <array>
#include <cstdint>

struct BaudEntry {
  // Row, in the other port's list, of the same rate or, where that port
  // lacks it, of the next higher one.
  std::int32_t counterpart;
  std::uint32_t baudRate;  // bits per second; 0 ends the port's list
  const char* name;        // null where baudRate is 0
};

inline constexpr int kBaudPortCount = 2;  // port A, port B
inline constexpr int kBaudRows = 12;

// baudTable[row][port]: port A has 7 entries, port B 12, fastest first.
extern const std::array<std::array<BaudEntry, kBaudPortCount>, kBaudRows> baudTable;

// Entries in the port's list (up to the first rate of 0); 0 for a port
// other than A (0) or B (1).
int BaudListLength(int port);
// The row of `baudRate` in the port's list, or -1.
int BaudRow(int port, std::uint32_t baudRate);
// The rate to use on `newPort` when the technician switches to it from the
// other port at `baudRate`: the counterpart of that rate's entry in the other
// port's list, or `baudRate` itself when that list lacks it.
std::uint32_t TranslatedBaud(int newPort, std::uint32_t baudRate);
