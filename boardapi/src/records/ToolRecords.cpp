#include "ToolRecords.h"

#include <cstring>

#include "shared/SharedObject.h"
#include "shared/SharedState.h"

namespace vantrel::records {

using namespace vantrel::shared;

void ReadOutputImages(int slot, usbOutput* on, usbOutput* off) {
  SharedState& state = State();
  // Lock 1 before lock 2, as the library takes them.
  SharedLockGuard onLock(state.outOnCopies);
  SharedLockGuard offLock(state.outOffCopies);
  if (const std::uint8_t* copy = Record(state.outOnCopies, kOutputCopySize, slot))
    std::memcpy(on->output, copy, kOutputCopySize);
  if (const std::uint8_t* copy = Record(state.outOffCopies, kOutputCopySize, slot))
    std::memcpy(off->output, copy, kOutputCopySize);
}

bool OutputImagesKnown() {
  const auto* block = dynamic_cast<const SharedBlockObject*>(&State().outOnCopies);
  return block != nullptr && block->Segment() != nullptr && block->Segment()->View() != nullptr &&
         !block->Segment()->Created();
}

std::uint32_t ReadEepromLastAddress(int slot) {
  SharedState& state = State();
  SharedLockGuard lock(state.eeproms);
  const std::uint8_t* copy = Record(state.eeproms, kEepromConfigCopySize, slot);
  if (copy == nullptr) return 0;
  return std::uint32_t(copy[2]) | std::uint32_t(copy[3]) << 8;
}

}  // namespace vantrel::records
