// Library, product, 8051 and PIC versions and the PIC's serial number.
#include <vantrel/VantrelUSB.h>

#include <cstring>

#include "board/ArgumentCheck.h"
#include "board/BoardContext.h"
#include "board/Commands.h"

namespace {
constexpr char kDllVersion[] = "35";
constexpr char kProductVersion[] = "28";
constexpr unsigned long kSerialNumberBytes = 8;
}  // namespace

int VantrelUSB::GetDllVersion(unsigned char* text) {
  VANTREL_REQUIRE(text != nullptr);
  std::memcpy(text, kDllVersion, sizeof kDllVersion);
  return 1;
}

int VantrelUSB::GetProductVersion(unsigned char* text) {
  VANTREL_REQUIRE(text != nullptr);
  std::memcpy(text, kProductVersion, sizeof kProductVersion);
  return 1;
}

int VantrelUSB::Get8051Version(unsigned char* text) {
  VANTREL_REQUIRE(text != nullptr);
  unsigned long length = 0;
  return PerformUSBIO(vantrel::commands::k8051Version, USB_CHANNEL_EEPROM, nullptr, 0, text,
                      &length);
}

int VantrelUSB::GetPICVersion(unsigned char* text) {
  VANTREL_REQUIRE(text != nullptr);
  unsigned long length = 0;
  return PerformUSBIO(vantrel::commands::kPicVersion, USB_CHANNEL_PIC, nullptr, 0, text, &length);
}

int VantrelUSB::GetPICSerialNumber(unsigned char* serial) {
  VANTREL_REQUIRE(serial != nullptr);
  unsigned long length = 0;
  return PerformUSBIO(vantrel::commands::kPicSerialNumber, USB_CHANNEL_PIC, nullptr, 0, serial,
                      &length);
}

int VantrelUSB::SetPICSerialNumber(unsigned char* serial) {
  VANTREL_REQUIRE(serial != nullptr);
  unsigned long length = 0;
  return PerformUSBIO(vantrel::commands::kPicSetSerialNumber, USB_CHANNEL_PIC, serial,
                      kSerialNumberBytes, nullptr, &length);
}
