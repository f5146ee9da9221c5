// Example program: connects to board 0 as a user's program would and prints
// what the board tells about itself.
#include <vantrel/VantrelUSB.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <chrono>

namespace {

void PrintText(const char* label, const unsigned char* text, std::size_t room) {
  std::printf("%-16s %.*s\n", label,
              static_cast<int>(strnlen(reinterpret_cast<const char*>(text), room)),
              reinterpret_cast<const char*>(text));
}

// A light chasing along the first eight lamps, then every other lamp on.
bool LampPattern(VantrelUSB& board) {
  for (int lamp = 0; lamp < 8; ++lamp) {
    unsigned char image[5] = {static_cast<unsigned char>(1u << lamp), 0, 0, 0, 0};
    if (!board.SetOutputs(image)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
  }
  unsigned char alternate[5] = {0x55, 0x55, 0x55, 0x55, 0x00};
  if (!board.SetOutputs(alternate)) return false;
  std::printf("lamps            0x55 0x55 0x55 0x55 0x00 (every other lamp on)\n");
  return true;
}

// Reel 0 of three, 200 half-steps a turn, 150 half-steps forward.
bool SpinReel(VantrelUSB& board) {
  if (!board.ConfigureReels(3, 200, 0) || !board.ReelSynchroniseEnable(0)) return false;
  if (!board.SpinReels(0, 0x01, 150)) return false;
  usbReelStatus status{};
  for (int poll = 0; poll < 200; ++poll) {
    if (!board.GetReelStatus(&status)) return false;
    if (poll % 10 == 0 || !status.busy[0])
      std::printf("reel 0           Position: %03d Error: %03d Busy: %03d Sync: %03d\n",
                  status.position[0], status.error[0], status.busy[0], status.sync[0]);
    if (!status.busy[0]) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Bytes sent on port A come back through the loopback plug.
bool SerialLoopback(VantrelUSB& board) {
  _DCB line{};
  line.DCBlength = sizeof line;
  line.BaudRate = 9600;
  if (!board.SetConfig(USB_SERIAL_PORT_A, &line, USB_PORT_TYPE_RS232)) return false;
  unsigned char message[] = "K27 loopback";
  const unsigned length = sizeof message - 1;
  if (!board.Send(USB_SERIAL_PORT_A, message, length)) return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  unsigned char received[VANTREL_RECEIVE_LIMIT];
  unsigned long got = 0;
  if (!board.Receive(USB_SERIAL_PORT_A, received, &got)) return false;
  std::printf("serial port A    sent \"%s\", received \"%.*s\" (%lu bytes)\n",
              reinterpret_cast<char*>(message), static_cast<int>(got),
              reinterpret_cast<char*>(received), got);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
    std::puts(
        "usage: k27demo [DEVICE-INDEX]\n"
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

  if (!LampPattern(board) || !SpinReel(board) || !SerialLoopback(board)) {
    std::fprintf(stderr, "k27demo: board call failed (error %d)\n",
                 static_cast<int>(board.GetLastError()));
    return 1;
  }
  board.close();
  return 0;
}
