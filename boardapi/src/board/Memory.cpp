// EEPROM and SRAM: geometry probe and configuration, checked and chunked
// transfers. EEPROM work holds lock 3 across all its exchanges.
#include <vantrel/VantrelUSB.h>

#include <cstring>

#include "board/BoardContext.h"
#include "board/ChunkedTransfer.h"
#include "board/Commands.h"
#include "board/EepromGeometry.h"
#include "shared/SharedState.h"

namespace {

using vantrel::shared::SharedLockGuard;
namespace cmd = vantrel::commands;

constexpr std::uint32_t kFirstPublicAddress = 8;
constexpr std::uint32_t kProbeBytes = 100;
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

}  // namespace

// Memory transfers reach the board through PerformUSBIO; an empty read reply
// is recorded as a byte-count error.
#define VANTREL_EXCHANGE [this](auto&&... a) { return PerformUSBIO(a...); }
#define VANTREL_ON_EMPTY [this] { context_->lastError = USB_DEVICE_BYTE_COUNT_ERROR; }

int VantrelUSB::ConfigureEEPROM(K27EEPROM* geometry) {
  auto& eeproms = vantrel::shared::State().eeproms;
  SharedLockGuard lock(eeproms);
  std::uint8_t* copy = EepromCopy(context_->deviceIndex);
  std::memcpy(copy, geometry, sizeof(K27EEPROM));
  copy[6] = 1;
  unsigned char payload[5] = {geometry->pageSize, geometry->addressBytes,
                              static_cast<unsigned char>(geometry->lastAddress >> 8),
                              static_cast<unsigned char>(geometry->lastAddress & 0xFF),
                              geometry->deviceAddress};
  unsigned long length = 0;
  return PerformUSBIO(cmd::kEepromConfigure, USB_CHANNEL_EEPROM, payload, sizeof payload, nullptr,
                      &length);
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
  return vantrel::ChunkedWrite(VANTREL_EXCHANGE, cmd::kSramWrite, USB_CHANNEL_MEMORY, address,
                               data, length);
}

int VantrelUSB::CheckEEPROM(K27EEPROM* geometry) {
  K27EEPROM probe = vantrel::GeometryForCapacity(32768);
  if (!ConfigureEEPROM(&probe)) return 0;

  unsigned char reference[kProbeBytes];
  std::uint32_t address, limit;
  if (UncheckedReadEEPROM(0, reference, kProbeBytes)) {
    address = 4096;
    limit = 32768;
  } else {
    // Not a two-byte part: its failed read is not this connection's error.
    context_->lastError = USB_MESSAGE_EXECUTION_SUCCESS;
    probe = vantrel::GeometryForCapacity(2048);
    if (!ConfigureEEPROM(&probe)) return 0;
    if (!UncheckedReadEEPROM(0, reference, kProbeBytes)) return 0;
    address = 128;
    limit = 1024;
  }

  std::uint32_t capacity;
  for (;;) {
    unsigned char sample[kProbeBytes];
    if (!UncheckedReadEEPROM(static_cast<unsigned short>(address), sample, kProbeBytes)) return 0;
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
  *geometry = vantrel::GeometryForCapacity(capacity);
  return 1;
}
