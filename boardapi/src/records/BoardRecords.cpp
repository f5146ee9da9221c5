#include <vantrel/BoardRecords.h>

#include <cstring>

#include "shared/SharedObject.h"
#include "shared/SharedState.h"

namespace vantrel::records {

using namespace vantrel::shared;

namespace {

bool IsSlot(int slot) { return slot >= 0 && slot < kBoardSlots; }

}  // namespace

void ReadOutputImages(int slot, usbOutput* on, usbOutput* off) {
  if (!IsSlot(slot)) {
    if (on) *on = usbOutput{};
    if (off) *off = usbOutput{};
    return;
  }
  SharedState& state = State();
  // Lock 1 before lock 2, as the library takes them.
  SharedLockGuard onLock(state.outOnCopies);
  SharedLockGuard offLock(state.outOffCopies);
  if (const std::uint8_t* copy = Record(state.outOnCopies, kOutputCopySize, slot); copy && on)
    std::memcpy(on->output, copy, kOutputCopySize);
  if (const std::uint8_t* copy = Record(state.outOffCopies, kOutputCopySize, slot); copy && off)
    std::memcpy(off->output, copy, kOutputCopySize);
}

bool OutputImagesKnown() {
  const auto* block = dynamic_cast<const SharedBlockObject*>(&State().outOnCopies);
  return block != nullptr && block->Segment() != nullptr && block->Segment()->View() != nullptr &&
         !block->Segment()->Created();
}

std::uint32_t ReadEepromLastAddress(int slot) {
  if (!IsSlot(slot)) return 0;
  SharedState& state = State();
  SharedLockGuard lock(state.eeproms);
  const std::uint8_t* copy = Record(state.eeproms, kEepromConfigCopySize, slot);
  if (copy == nullptr) return 0;
  return std::uint32_t(copy[2]) | std::uint32_t(copy[3]) << 8;
}

}  // namespace vantrel::records
