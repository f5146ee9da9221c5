// The EEPROM capacity probe: trial geometries and reads that look for the
// address at which the part wraps round. The caller holds lock 3 for the whole
// probe and for whatever it does with the result.
#pragma once

#include <cstdint>
#include <cstring>

#include <vantrel/VantrelTypes.h>

#include "board/Commands.h"
#include "board/EepromGeometry.h"

namespace vantrel {

// Tells the board a geometry (command 0x03) without touching the shared copy.
template <typename Exchange>
int SendEepromGeometry(Exchange&& exchange, const K27EEPROM& geometry) {
  unsigned char payload[5] = {geometry.pageSize, geometry.addressBytes,
                              static_cast<unsigned char>(geometry.lastAddress >> 8),
                              static_cast<unsigned char>(geometry.lastAddress & 0xFF),
                              geometry.deviceAddress};
  unsigned long length = 0;
  return exchange(commands::kEepromConfigure, USB_CHANNEL_EEPROM, payload, 5ul, nullptr, &length);
}

// Finds the part's capacity. Leaves the board configured with the last trial
// geometry; the shared copy is not touched. `lastError` is cleared after the
// failed two-byte trial, so that a one-byte part connects without an error.
// UncheckedRead(address, buffer, length) -> int reads without a range check.
template <typename Exchange, typename UncheckedRead>
int ProbeEeprom(Exchange&& exchange, UncheckedRead&& uncheckedRead, usbErrorCode& lastError,
                K27EEPROM* geometry) {
  constexpr std::uint32_t kProbeBytes = 100;
  auto read = [&](std::uint32_t address, unsigned char* buffer) {
    return uncheckedRead(static_cast<unsigned short>(address), buffer, kProbeBytes);
  };
  if (!SendEepromGeometry(exchange, GeometryForCapacity(32768))) return 0;

  unsigned char reference[kProbeBytes];
  std::uint32_t address, limit;
  if (read(0, reference)) {
    address = 4096;
    limit = 32768;
  } else {
    // Not a two-byte part: its failed read is not this connection's error.
    lastError = USB_MESSAGE_EXECUTION_SUCCESS;
    if (!SendEepromGeometry(exchange, GeometryForCapacity(2048))) return 0;
    if (!read(0, reference)) return 0;
    address = 128;
    limit = 1024;
  }

  std::uint32_t capacity;
  for (;;) {
    unsigned char sample[kProbeBytes];
    if (!read(address, sample)) return 0;
    const bool wrapped = std::memcmp(sample, reference, kProbeBytes) == 0;
    if (address < limit) {
      if (wrapped) {
        capacity = address;
        break;
      }
      address *= 2;
    } else {
      capacity = wrapped ? limit : 2 * limit;
      break;
    }
  }
  *geometry = GeometryForCapacity(capacity);
  return 1;
}

}  // namespace vantrel
