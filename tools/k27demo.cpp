// Example program: connects to a board as a user's program would, prints
// what the board tells about itself and exercises its lamps, a reel and
// serial port A. It is shipped as an example of the library, so it uses
// nothing but the library's public header.
#include <getopt.h>

#include <vantrel/VantrelUSB.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kLastDeviceIndex = 15;  // the library keeps 16 board slots

constexpr const char kUsage[] =
    "usage: k27demo [DEVICE-INDEX]\n"
    "       k27demo --help\n"
    "\n"
    "Example program of the K27 board library. Connects to the board with the\n"
    "given index (0 to 15, default 0) through the vantrelio daemon and prints\n"
    "the library and firmware versions, the EEPROM geometry and the first 64\n"
    "public EEPROM bytes. Then it runs a light along the first eight lamps and\n"
    "leaves every other lamp on, spins reel 0 (of three) 150 half-steps and\n"
    "sends a text on serial port A, printing what comes back through a\n"
    "loopback plug.\n"
    "\n"
    "A board call that fails ends the program with status 1 and the name of\n"
    "the board's error; a bad command line ends it with status 2.\n"
    "\n"
    "Environment:\n"
    "  VANTREL_DEVICE_DIR  the daemon's device folder (a simulated daemon's)\n"
    "\n"
    "Options:\n"
    "  -h, --help  print this text and exit\n";

// The name of a board error code, as the header spells it.
std::string ErrorName(usbErrorCode code) {
  switch (code) {
#define K27DEMO_ERROR_NAME(name) \
  case name:                     \
    return #name;
    K27DEMO_ERROR_NAME(USB_MESSAGE_EXECUTION_SUCCESS)
    K27DEMO_ERROR_NAME(USB_MESSAGE_NOT_RECOGNISED)
    K27DEMO_ERROR_NAME(USB_MESSAGE_LENGTH_ERROR)
    K27DEMO_ERROR_NAME(USB_MESSAGE_EXECUTION_FAILURE)
    K27DEMO_ERROR_NAME(USB_DEVICE_WRITE_ERROR)
    K27DEMO_ERROR_NAME(USB_DEVICE_READ_ERROR)
    K27DEMO_ERROR_NAME(USB_DEVICE_RESPONSE_ERROR)
    K27DEMO_ERROR_NAME(USB_DEVICE_BYTE_COUNT_ERROR)
    K27DEMO_ERROR_NAME(USB_MESSAGE_PARAMETER_OUT_OF_RANGE)
    K27DEMO_ERROR_NAME(USB_MESSAGE_UNKNOWN_HANDSHAKE_MODE)
    K27DEMO_ERROR_NAME(USB_MESSAGE_ILLEGAL_BAUD_RATE)
    K27DEMO_ERROR_NAME(USB_MESSAGE_ILLEGAL_PORT)
    K27DEMO_ERROR_NAME(USB_MESSAGE_I2C_NACK)
    K27DEMO_ERROR_NAME(USB_MESSAGE_I2C_ERROR)
    K27DEMO_ERROR_NAME(USB_MESSAGE_EXECUTION_TIMEOUT)
    K27DEMO_ERROR_NAME(USB_MESSAGE_SRAM_ADDRESSING_ERROR)
    K27DEMO_ERROR_NAME(USB_MESSAGE_REEL_NUMBER_ERROR)
    K27DEMO_ERROR_NAME(USB_MESSAGE_REEL_BUSY)
    K27DEMO_ERROR_NAME(USB_MESSAGE_SPIN_TABLE_LENGTH_ERROR)
    K27DEMO_ERROR_NAME(USB_MESSAGE_TOO_FEW_REEL_STEPS)
    K27DEMO_ERROR_NAME(USB_MESSAGE_REEL_STATUS_LENGTH_ERROR)
    K27DEMO_ERROR_NAME(USB_MESSAGE_SYNC_REQUEST_LENGTH_ERROR)
#undef K27DEMO_ERROR_NAME
  }
  return "unknown error " + std::to_string(static_cast<int>(code));
}

// "k27demo: WHAT failed: NAME" with the board's last error.
int BoardFailed(VantrelUSB& board, const char* what) {
  std::fprintf(stderr, "k27demo: %s failed: %s\n", what, ErrorName(board.GetLastError()).c_str());
  return kExitFailure;
}

int UsageError(const char* text, const char* argument) {
  std::fprintf(stderr, "k27demo: %s%s\n", text, argument);
  std::fprintf(stderr, "Try 'k27demo --help' for more information.\n");
  return kExitUsage;
}

// The device index operand: decimal, 0 to 15.
bool ParseIndex(const char* text, int* index) {
  if (*text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < 0 || value > kLastDeviceIndex) return false;
  *index = static_cast<int>(value);
  return true;
}

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
  static const option kOptions[] = {{"help", no_argument, nullptr, 'h'}, {nullptr, 0, nullptr, 0}};
  opterr = 0;  // the messages below say what was wrong
  for (;;) {
    const int code = getopt_long(argc, argv, "h", kOptions, nullptr);
    if (code == -1) break;
    if (code == 'h') {
      std::fputs(kUsage, stdout);
      return 0;
    }
    // A long option as written (with any argument it does not take), a
    // short one alone out of its group.
    const char* given = argv[optind - 1];
    if (std::strncmp(given, "--", 2) == 0) return UsageError("bad option ", given);
    const char shortOption[3] = {'-', static_cast<char>(optopt), '\0'};
    return UsageError("bad option ", shortOption);
  }
  int index = 0;
  if (optind < argc && !ParseIndex(argv[optind], &index))
    return UsageError("the device index must be a number from 0 to 15, not ", argv[optind]);
  if (optind + 1 < argc) return UsageError("unexpected argument ", argv[optind + 1]);

  VantrelUSB board;
  if (!board.init(index)) {
    const usbErrorCode code = board.GetLastError();
    if (code == USB_MESSAGE_EXECUTION_SUCCESS) {
      // Nothing answered at all: no board, or no daemon.
      std::fprintf(stderr, "k27demo: board %d is not there (is vantrelio running?)\n", index);
      return kExitFailure;
    }
    std::fprintf(stderr, "k27demo: cannot connect to board %d: %s\n", index,
                 ErrorName(code).c_str());
    return kExitFailure;
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
  if (!board.CheckEEPROM(&geometry) || !board.ConfigureEEPROM(&geometry))
    return BoardFailed(board, "EEPROM probe");
  std::printf("EEPROM           %u bytes, page %u, %u address byte(s), bus address 0x%02X\n",
              geometry.lastAddress + 1u, geometry.pageSize, geometry.addressBytes,
              geometry.deviceAddress);

  unsigned char bytes[64];
  if (!board.ReadEEPROM(8, bytes, sizeof bytes)) return BoardFailed(board, "EEPROM read");
  for (std::size_t row = 0; row < sizeof bytes; row += 16) {
    std::printf("EEPROM %04zX:", 8 + row);
    for (std::size_t i = 0; i < 16; ++i) std::printf(" %02X", bytes[row + i]);
    std::printf("\n");
  }

  if (!LampPattern(board)) return BoardFailed(board, "lamp pattern");
  if (!SpinReel(board)) return BoardFailed(board, "reel spin");
  if (!SerialLoopback(board)) return BoardFailed(board, "serial loopback");
  board.close();
  return 0;
}
