#include "pages/serial/BaudTable.h"

const std::array<std::array<BaudEntry, kBaudPortCount>, kBaudRows> baudTable{{
    {{{0, 62500, "UART_BAUDA_62k5"}, {0, 62500, "UART_BAUDB_62k5"}}},
    {{{2, 38400, "UART_BAUDA_38k4"}, {0, 57600, "UART_BAUDB_57k6"}}},
    {{{3, 19200, "UART_BAUDA_19k2"}, {1, 38400, "UART_BAUDB_38k4"}}},
    {{{5, 9600, "UART_BAUDA_9k6"}, {2, 19200, "UART_BAUDB_19k2"}}},
    {{{6, 4800, "UART_BAUDA_4k8"}, {2, 14400, "UART_BAUDB_14k4"}}},
    {{{7, 2400, "UART_BAUDA_2k4"}, {3, 9600, "UART_BAUDB_9k6"}}},
    {{{8, 1200, "UART_BAUDA_1k2"}, {4, 4800, "UART_BAUDB_4k8"}}},
    {{{0, 0, nullptr}, {5, 2400, "UART_BAUDB_2k4"}}},
    {{{0, 0, nullptr}, {6, 1200, "UART_BAUDB_1k2"}}},
    {{{0, 0, nullptr}, {6, 600, "UART_BAUDB_600"}}},
    {{{0, 0, nullptr}, {6, 300, "UART_BAUDB_300"}}},
    {{{0, 0, nullptr}, {6, 110, "UART_BAUDB_110"}}},
}};

namespace {

bool KnownPort(int port) { return port >= 0 && port < kBaudPortCount; }

}  // namespace

int BaudListLength(int port) {
  if (!KnownPort(port)) return 0;
  int n = 0;
  while (n < kBaudRows && baudTable[n][port].baudRate != 0) ++n;
  return n;
}

int BaudRow(int port, std::uint32_t baudRate) {
  const int n = BaudListLength(port);
  for (int row = 0; row < n; ++row)
    if (baudTable[row][port].baudRate == baudRate) return row;
  return -1;
}

std::uint32_t TranslatedBaud(int newPort, std::uint32_t baudRate) {
  if (!KnownPort(newPort)) return baudRate;
  const int otherPort = 1 - newPort;
  const int row = BaudRow(otherPort, baudRate);
  if (row < 0) return baudRate;
  const int counterpart = baudTable[row][otherPort].counterpart;
  // The counterpart lies inside the new port's list for every entry; a row
  // outside it keeps the rate rather than reading past the table.
  if (counterpart < 0 || counterpart >= BaudListLength(newPort)) return baudRate;
  return baudTable[counterpart][newPort].baudRate;
}
