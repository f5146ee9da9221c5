// Example program: connects to board 0 as a user's program would and prints
// what the board tells about itself.
#include <vantrel/VantrelUSB.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void PrintText(const char* label, const unsigned char* text, std::size_t room) {
  std::printf("%-16s %.*s\n", label, static_cast<int>(strnlen(reinterpret_cast<const char*>(text), room)),
              reinterpret_cast<const char*>(text));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
    std::puts("usage: k27demo [DEVICE-INDEX]\n"
              "Connects to a K27 board through the vantrelio daemon and prints its versions,\n"
              "its EEPROM geometry and the first 64 public EEPROM bytes.");
    return 0;
  }
  const int index = argc > 1 ? std::atoi(argv[1]) : 0;
  VantrelUSB board;
  if (!board.init(index)) {
    std::fprintf(stderr, "k27demo: cannot connect to board %d (error %d)\n", index,
                 static_cast<int>(board.GetLastError()));
    return 1;
  }
  // Board replies carry no terminating zero: give them room and a zero.
  unsigned char text[64] = {};
  board.GetDllVersion(text);
  PrintText("library", text, sizeof text);
  std::memset(text, 0, sizeof text);
  if (board.Get8051Version(text)) PrintText("8051 firmware", text, sizeof text);
  std::memset(text, 0, sizeof text);
  if (board.GetPICVersion(text)) PrintText("PIC firmware", text, sizeof text);

  K27EEPROM geometry{};
  if (!board.CheckEEPROM(&geometry) || !board.ConfigureEEPROM(&geometry)) {
    std::fprintf(stderr, "k27demo: EEPROM probe failed (error %d)\n",
                 static_cast<int>(board.GetLastError()));
    return 1;
  }
  std::printf("EEPROM           %u bytes, page %u, %u address byte(s), bus address 0x%02X\n",
              geometry.lastAddress + 1u, geometry.pageSize, geometry.addressBytes,
              geometry.deviceAddress);

  unsigned char bytes[64];
  if (!board.ReadEEPROM(8, bytes, sizeof bytes)) {
    std::fprintf(stderr, "k27demo: EEPROM read failed (error %d)\n",
                 static_cast<int>(board.GetLastError()));
    return 1;
  }
  for (std::size_t row = 0; row < sizeof bytes; row += 16) {
    std::printf("EEPROM %04zX:", 8 + row);
    for (std::size_t i = 0; i < 16; ++i) std::printf(" %02X", bytes[row + i]);
    std::printf("\n");
  }
  board.close();
  return 0;
}
