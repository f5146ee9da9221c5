// The EEPROM record of each board slot in the shared block "K27EEPROMS",
// read and written under lock 3:
//   bytes 0-5  the geometry last configured (K27EEPROM)
//   byte 6     1 once configured; bytes 2-3 then bound the public transfers
//   byte 7     1 while a process may leave the board with another geometry
//              than bytes 0-5 (the capacity probe, a configuration)
// Every process that changes the board's geometry holds lock 3 from the
// mark to its end. Whoever else takes lock 3 and finds the mark knows the
// process that set it died holding the lock, maybe with a trial geometry on
// the board: it gives the board the recorded geometry back before its own work.
#pragma once

#include <cstdint>
#include <cstring>

#include <vantrel/VantrelTypes.h>

#include "board/EepromProbe.h"
#include "shared/SharedState.h"

namespace vantrel::eeprom {

constexpr std::size_t kConfiguredFlag = 6;
constexpr std::size_t kChangeMark = 7;
constexpr std::uint32_t kFirstPublicAddress = 8;

inline std::uint8_t* Record(int slot) {
  return shared::Record(shared::State().eeproms, shared::kEepromConfigCopySize, slot);
}

// Public transfers start at address 8 and end at or below the slot's shared
// last address.
inline bool InPublicRange(const std::uint8_t* record, unsigned short address,
                          std::uint32_t length) {
  const std::uint32_t lastAddress = std::uint32_t(record[2]) | std::uint32_t(record[3]) << 8;
  return address >= kFirstPublicAddress && std::uint64_t(address) + length <= lastAddress;
}

// The board gets the recorded geometry back, so that the two agree again.
// When that fails (or nothing was ever recorded) the board may be left with
// a trial geometry, under which transfers would reach the wrong addresses:
// the record is then cleared to unconfigured, mark included, and every
// transfer is refused until init probes again. The caller's error code is
// kept when `keepError` is set.
template <typename Exchange>
int RestoreBoardGeometry(Exchange&& exchange, std::uint8_t* record, usbErrorCode& lastError,
                         bool keepError) {
  if (record[kConfiguredFlag] != 1) {
    std::memset(record, 0, shared::kEepromConfigCopySize);
    return 1;
  }
  K27EEPROM geometry;
  std::memcpy(&geometry, record, sizeof geometry);
  const usbErrorCode before = lastError;
  const int restored = SendEepromGeometry(exchange, geometry);
  if (!restored) std::memset(record, 0, shared::kEepromConfigCopySize);
  if (keepError) lastError = before;
  return restored;
}

// Right after taking lock 3 for a slot's EEPROM work: repairs what a process
// that died changing the board's geometry left behind. 0 when the board could
// not be given its geometry back (the slot is then unconfigured).
template <typename Exchange>
int RecoverAbandonedChange(Exchange&& exchange, std::uint8_t* record, usbErrorCode& lastError,
                           bool keepError) {
  if (record[kChangeMark] == 0) return 1;
  const int restored = RestoreBoardGeometry(exchange, record, lastError, keepError);
  record[kChangeMark] = 0;
  return restored;
}

}  // namespace vantrel::eeprom
