// EEPROM and SRAM: geometry probe and configuration, checked and chunked
// transfers. EEPROM work holds lock 3 across all its exchanges.
#include <vantrel/VantrelUSB.h>

#include <cstring>

#include "board/ArgumentCheck.h"
#include "board/BoardContext.h"
#include "board/ChunkedTransfer.h"
#include "board/Commands.h"
#include "board/EepromGeometry.h"
#include "board/EepromProbe.h"
#include "board/EepromRecord.h"
#include "shared/SharedState.h"

namespace {

using vantrel::shared::SharedLockGuard;
namespace cmd = vantrel::commands;
namespace eeprom = vantrel::eeprom;

// SRAM addresses are 16-bit: a longer transfer would go round the memory.
constexpr std::uint32_t kMaxSramTransfer = 65536;

}  // namespace

// Memory transfers reach the board through PerformUSBIO; an empty read reply
// is recorded as a byte-count error.
#define VANTREL_EXCHANGE [this](auto&&... a) { return PerformUSBIO(a...); }
#define VANTREL_ON_EMPTY [this] { context_->lastError = USB_DEVICE_BYTE_COUNT_ERROR; }
#define VANTREL_PROBE_READ                                      \
  [this](unsigned short a, unsigned char* b, std::uint32_t n) { \
    return UncheckedReadEEPROM(a, b, n);                        \
  }

int VantrelUSB::ConfigureEEPROM(K27EEPROM* geometry) {
  VANTREL_REQUIRE(geometry != nullptr);
  SharedLockGuard lock(vantrel::shared::State().eeproms);
  std::uint8_t* record = eeprom::Record(context_->deviceIndex);
  // The geometry sent below replaces whatever the repair leaves.
  eeprom::RecoverAbandonedChange(VANTREL_EXCHANGE, record, context_->lastError, true);
  std::memcpy(record, geometry, sizeof(K27EEPROM));
  record[eeprom::kConfiguredFlag] = 1;
  // Marked until the board has answered: a process that dies waiting for it
  // leaves the repair to the next one.
  record[eeprom::kChangeMark] = 1;
  const int sent = vantrel::SendEepromGeometry(VANTREL_EXCHANGE, *geometry);
  record[eeprom::kChangeMark] = 0;
  return sent;
}

int VantrelUSB::UncheckedReadEEPROM(unsigned short address, unsigned char* buffer,
                                    std::uint32_t length) {
  SharedLockGuard lock(vantrel::shared::State().eeproms);
  return vantrel::ChunkedRead(VANTREL_EXCHANGE, VANTREL_ON_EMPTY, cmd::kEepromRead,
                              USB_CHANNEL_EEPROM, address, buffer, length);
}

int VantrelUSB::ReadEEPROM(unsigned short address, unsigned char* buffer, std::uint32_t length) {
  VANTREL_REQUIRE(buffer != nullptr || length == 0);
  SharedLockGuard lock(vantrel::shared::State().eeproms);
  std::uint8_t* record = eeprom::Record(context_->deviceIndex);
  if (!eeprom::RecoverAbandonedChange(VANTREL_EXCHANGE, record, context_->lastError, false))
    return 0;
  if (!eeprom::InPublicRange(record, address, length)) {
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
  return vantrel::ChunkedRead(VANTREL_EXCHANGE, VANTREL_ON_EMPTY, cmd::kEepromRead,
                              USB_CHANNEL_EEPROM, address, buffer, length);
}

int VantrelUSB::WriteEEPROM(unsigned short address, unsigned char* data, std::uint32_t length) {
  VANTREL_REQUIRE(data != nullptr || length == 0);
  SharedLockGuard lock(vantrel::shared::State().eeproms);
  std::uint8_t* record = eeprom::Record(context_->deviceIndex);
  if (!eeprom::RecoverAbandonedChange(VANTREL_EXCHANGE, record, context_->lastError, false))
    return 0;
  if (!eeprom::InPublicRange(record, address, length)) {
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
  return vantrel::ChunkedWrite(VANTREL_EXCHANGE, cmd::kEepromWrite, USB_CHANNEL_EEPROM, address,
                               data, length);
}

int VantrelUSB::ReadSRAM(unsigned short address, unsigned char* buffer, std::uint32_t length) {
  VANTREL_REQUIRE(buffer != nullptr || length == 0);
  if (length > kMaxSramTransfer) {
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
  return vantrel::ChunkedRead(VANTREL_EXCHANGE, VANTREL_ON_EMPTY, cmd::kSramRead,
                              USB_CHANNEL_MEMORY, address, buffer, length);
}

int VantrelUSB::WriteSRAM(unsigned short address, unsigned char* data, std::uint32_t length) {
  VANTREL_REQUIRE(data != nullptr || length == 0);
  if (length > kMaxSramTransfer) {
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
  return vantrel::ChunkedWrite(VANTREL_EXCHANGE, cmd::kSramWrite, USB_CHANNEL_MEMORY, address, data,
                               length);
}

// The probe tries geometries on the board that are not the part's own. Other
// processes must never transfer under one of them nor see one in the shared
// copy: the whole probe holds lock 3, trial geometries go to the board only,
// and the board gets the shared copy's geometry back before the lock goes.
// The probe's own reads (UncheckedReadEEPROM) never look for the mark.
int VantrelUSB::CheckEEPROM(K27EEPROM* geometry) {
  VANTREL_REQUIRE(geometry != nullptr);
  SharedLockGuard lock(vantrel::shared::State().eeproms);
  std::uint8_t* record = eeprom::Record(context_->deviceIndex);
  // The probe ends by giving the board the recorded geometry anyway.
  eeprom::RecoverAbandonedChange(VANTREL_EXCHANGE, record, context_->lastError, true);
  record[eeprom::kChangeMark] = 1;
  K27EEPROM found{};
  const int probed =
      vantrel::ProbeEeprom(VANTREL_EXCHANGE, VANTREL_PROBE_READ, context_->lastError, &found);
  // A failed probe reports its own error, not the restore's.
  const int restored =
      eeprom::RestoreBoardGeometry(VANTREL_EXCHANGE, record, context_->lastError, !probed);
  record[eeprom::kChangeMark] = 0;
  if (!probed || !restored) return 0;
  *geometry = found;
  return 1;
}
