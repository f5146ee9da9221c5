#include "SharedRecords.h"

#include <cstring>

#include "shared/SharedObject.h"
#include "shared/SharedState.h"

namespace k27ctl {

OutputImages ReadOutputImages(int slot) {
  using namespace vantrel::shared;
  OutputImages images;
  SharedState& state = State();
  // Lock 1 before lock 2, as the library takes them.
  SharedLockGuard onLock(state.outOnCopies);
  SharedLockGuard offLock(state.outOffCopies);
  if (const std::uint8_t* on = Record(state.outOnCopies, kOutputCopySize, slot))
    std::memcpy(images.on.output, on, kOutputCopySize);
  if (const std::uint8_t* off = Record(state.outOffCopies, kOutputCopySize, slot))
    std::memcpy(images.off.output, off, kOutputCopySize);
  return images;
}

bool OutputImagesKnown() {
  using namespace vantrel::shared;
  const auto* block = dynamic_cast<const SharedBlockObject*>(&State().outOnCopies);
  return block != nullptr && block->Segment() != nullptr && block->Segment()->View() != nullptr &&
         !block->Segment()->Created();
}

std::uint32_t ReadEepromLastAddress(int slot) {
  using namespace vantrel::shared;
  SharedState& state = State();
  SharedLockGuard lock(state.eeproms);
  const std::uint8_t* copy = Record(state.eeproms, kEepromConfigCopySize, slot);
  if (copy == nullptr) return 0;
  return std::uint32_t(copy[2]) | std::uint32_t(copy[3]) << 8;
}

}  // namespace k27ctl
