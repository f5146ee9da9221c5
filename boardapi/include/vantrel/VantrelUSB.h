// The K27 board API: one VantrelUSB object per board.
//
// Every operation returns non-zero on success and 0 on failure; the cause of
// the last failure stays in the object until the next failure, ClearErrors or
// init, and is read with GetLastError.
//
// The library talks to the vantrelio daemon, which owns the boards. Board N is
// the socket "ezusb-N" in $VANTREL_DEVICE_DIR (default /run/vantrel).
#pragma once

#include <vantrel/VantrelTypes.h>

struct BoardContext;

class VantrelUSB {
 public:
  VantrelUSB();
  // Frees the context once no other object shares it. Any connection the
  // context still holds is released with it.
  ~VantrelUSB();
  // Both objects share one context (one connection, one error code) afterwards.
  VantrelUSB(const VantrelUSB& other);
  VantrelUSB& operator=(const VantrelUSB& other);

  // Connects to board `deviceIndex`, downloads the application image when the
  // board has none, probes and configures the EEPROM.
  int init(int deviceIndex);
  // 1 when nothing was ever opened, else the result of closing the connection.
  int close();
  usbErrorCode GetLastError();
  int ClearErrors();

  // Versions. GetDllVersion and GetProductVersion write a zero-terminated text.
  // Get8051Version, GetPICVersion and GetPICSerialNumber copy the whole reply
  // data (at most 62 bytes) and add no terminating zero: size the buffer for it.
  int GetDllVersion(unsigned char* text);
  int GetProductVersion(unsigned char* text);
  int Get8051Version(unsigned char* text);
  int GetPICVersion(unsigned char* text);
  int GetPICSerialNumber(unsigned char* serial);
  int SetPICSerialNumber(unsigned char* serial);  // 8 bytes

  // EEPROM and SRAM. Public EEPROM transfers must start at address 8 or above
  // and end at or below the configured last address; otherwise they fail with
  // USB_MESSAGE_PARAMETER_OUT_OF_RANGE and nothing is sent.
  int ConfigureEEPROM(K27EEPROM* geometry);
  int CheckEEPROM(K27EEPROM* geometry);
  int ReadEEPROM(unsigned short address, unsigned char* buffer, std::uint32_t length);
  int WriteEEPROM(unsigned short address, unsigned char* data, std::uint32_t length);
  int ReadSRAM(unsigned short address, unsigned char* buffer, std::uint32_t length);
  int WriteSRAM(unsigned short address, unsigned char* data, std::uint32_t length);

 private:
  int InitPort(int deviceIndex);
  int PerformUSBIO(unsigned char command, int channel, unsigned char* payload,
                   unsigned long payloadLength, unsigned char* reply,
                   unsigned long* replyLength);
  int Download8051Software();
  int UncheckedReadEEPROM(unsigned short address, unsigned char* buffer, std::uint32_t length);

  BoardContext* context_;
};
