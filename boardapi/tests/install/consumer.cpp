// A user's program, built only from the installed headers and library, run
// against the simulated daemon. Argument: the EEPROM capacity it must find.
#include <vantrel/BoardRecords.h>
#include <vantrel/VantrelUSB.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#define CHECK(condition)                                                                      \
  do {                                                                                        \
    if (!(condition)) {                                                                       \
      std::fprintf(stderr, "consumer: line %d: %s failed (error %d)\n", __LINE__, #condition, \
                   static_cast<int>(board.GetLastError()));                                   \
      return 1;                                                                               \
    }                                                                                         \
  } while (0)

int main(int argc, char** argv) {
  const unsigned long capacity = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 0;
  VantrelUSB board;
  CHECK(board.init(0));
  CHECK(board.init(0));  // the image is present now: no second download

  K27EEPROM geometry{};
  CHECK(board.CheckEEPROM(&geometry));
  CHECK(geometry.lastAddress + 1ul == capacity);
  CHECK(board.ConfigureEEPROM(&geometry));
  // The shared records that tools read beside the programs driving a board.
  CHECK(vantrel::records::ReadEepromLastAddress(0) == geometry.lastAddress);
  CHECK(vantrel::records::ReadEepromLastAddress(16) == 0);
  usbOutput on{}, off{};
  vantrel::records::ReadOutputImages(0, &on, nullptr);
  vantrel::records::ReadOutputImages(0, nullptr, &off);
  (void)vantrel::records::OutputImagesKnown();

  unsigned char data[100], back[100];
  for (int i = 0; i < 100; ++i) data[i] = static_cast<unsigned char>(i * 7 + 3);
  CHECK(board.WriteEEPROM(8, data, 100));
  CHECK(board.ReadEEPROM(8, back, 100));
  CHECK(std::memcmp(data, back, 100) == 0);
  CHECK(!board.WriteEEPROM(7, data, 1));
  CHECK(board.GetLastError() == USB_MESSAGE_PARAMETER_OUT_OF_RANGE);
  CHECK(!board.ReadEEPROM(static_cast<unsigned short>(capacity - 8), back, 8));

  unsigned char sram[130], sramBack[130];
  for (int i = 0; i < 130; ++i) sram[i] = static_cast<unsigned char>(255 - i);
  CHECK(board.WriteSRAM(0x4000, sram, 130));
  CHECK(board.ReadSRAM(0x4000, sramBack, 130));
  CHECK(std::memcmp(sram, sramBack, 130) == 0);
  CHECK(board.close());
  std::puts("consumer: ok");
  return 0;
}
