// EEPROM and SRAM: geometry probe and configuration, checked and chunked
// transfers. EEPROM work holds lock 3 across all its exchanges.
#include <vantrel/VantrelUSB.h>

#include <cstring>

#include "board/BoardContext.h"
#include "board/ChunkedTransfer.h"
#include "board/Commands.h"
#include "board/EepromGeometry.h"
#include "board/EepromProbe.h"
#include "shared/SharedState.h"

namespace {

using vantrel::shared::SharedLockGuard;
namespace cmd = vantrel::commands;

constexpr std::uint32_t kFirstPublicAddress = 8;
// SRAM addresses are 16-bit: a longer transfer would go round the memory.
constexpr std::uint32_t kMaxSramTransfer = 65536;

std::uint8_t* EepromCopy(int slot) {
  auto& state = vantrel::shared::State();
  return vantrel::shared::Record(state.eeproms, vantrel::shared::kEepromConfigCopySize, slot);
}

// Public transfers start at address 8 and end at or below the slot's shared
// last address.
bool InPublicRange(unsigned short address, std::uint32_t length, int slot) {
  const std::uint8_t* copy = EepromCopy(slot);
  const std::uint32_t lastAddress = std::uint32_t(copy[2]) | std::uint32_t(copy[3]) << 8;
  return address >= kFirstPublicAddress && std::uint64_t(address) + length <= lastAddress;
}

constexpr std::size_t kConfiguredFlag = 6;

// After a probe, under lock 3: the board gets back the geometry of the slot's
// shared copy, so that the two agree again. When that fails the board may be
// left with a trial geometry, under which transfers would reach the wrong
// addresses: the copy is then marked unconfigured, and every transfer is
// refused until the board is connected again. A slot that was never
// configured refuses them already. The caller's error code is kept when
// `keepError` is set.
template <typename Exchange>
int RestoreEepromGeometry(Exchange&& exchange, int slot, usbErrorCode& lastError, bool keepError) {
  std::uint8_t* copy = EepromCopy(slot);
  if (copy[kConfiguredFlag] != 1) return 1;
  K27EEPROM geometry;
  std::memcpy(&geometry, copy, sizeof geometry);
  const usbErrorCode before = lastError;
  const int restored = vantrel::SendEepromGeometry(exchange, geometry);
  if (!restored) std::memset(copy, 0, vantrel::shared::kEepromConfigCopySize);
  if (keepError) lastError = before;
  return restored;
}

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
  auto& eeproms = vantrel::shared::State().eeproms;
  SharedLockGuard lock(eeproms);
  std::uint8_t* copy = EepromCopy(context_->deviceIndex);
  std::memcpy(copy, geometry, sizeof(K27EEPROM));
  copy[kConfiguredFlag] = 1;
  return vantrel::SendEepromGeometry(VANTREL_EXCHANGE, *geometry);
}

int VantrelUSB::UncheckedReadEEPROM(unsigned short address, unsigned char* buffer,
                                    std::uint32_t length) {
  SharedLockGuard lock(vantrel::shared::State().eeproms);
  return vantrel::ChunkedRead(VANTREL_EXCHANGE, VANTREL_ON_EMPTY, cmd::kEepromRead,
                              USB_CHANNEL_EEPROM, address, buffer, length);
}

int VantrelUSB::ReadEEPROM(unsigned short address, unsigned char* buffer, std::uint32_t length) {
  SharedLockGuard lock(vantrel::shared::State().eeproms);
  if (!InPublicRange(address, length, context_->deviceIndex)) {
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
  return vantrel::ChunkedRead(VANTREL_EXCHANGE, VANTREL_ON_EMPTY, cmd::kEepromRead,
                              USB_CHANNEL_EEPROM, address, buffer, length);
}

int VantrelUSB::WriteEEPROM(unsigned short address, unsigned char* data, std::uint32_t length) {
  SharedLockGuard lock(vantrel::shared::State().eeproms);
  if (!InPublicRange(address, length, context_->deviceIndex)) {
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
  return vantrel::ChunkedWrite(VANTREL_EXCHANGE, cmd::kEepromWrite, USB_CHANNEL_EEPROM, address,
                               data, length);
}

int VantrelUSB::ReadSRAM(unsigned short address, unsigned char* buffer, std::uint32_t length) {
  if (length > kMaxSramTransfer) {
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
  return vantrel::ChunkedRead(VANTREL_EXCHANGE, VANTREL_ON_EMPTY, cmd::kSramRead,
                              USB_CHANNEL_MEMORY, address, buffer, length);
}

int VantrelUSB::WriteSRAM(unsigned short address, unsigned char* data, std::uint32_t length) {
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
int VantrelUSB::CheckEEPROM(K27EEPROM* geometry) {
  SharedLockGuard lock(vantrel::shared::State().eeproms);
  K27EEPROM found{};
  if (!vantrel::ProbeEeprom(VANTREL_EXCHANGE, VANTREL_PROBE_READ, context_->lastError, &found)) {
    RestoreEepromGeometry(VANTREL_EXCHANGE, context_->deviceIndex, context_->lastError, true);
    return 0;
  }
  if (!RestoreEepromGeometry(VANTREL_EXCHANGE, context_->deviceIndex, context_->lastError, false))
    return 0;
  *geometry = found;
  return 1;
}
