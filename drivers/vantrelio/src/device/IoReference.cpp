// The work count: every plug-and-play and control request holds one
// reference while it runs; removal waits until the count has dropped to 0.
#include "BoardDeviceState.h"

namespace vantrel::driver {

bool AcquireIoRef(BoardDeviceState& state) {
  state.ioRefCount.fetch_add(1);
  if (state.isRemoving.load()) {
    if (state.ioRefCount.fetch_sub(1) == 1) state.noIoEvent.Set();
    return false;
  }
  return true;
}

void ReleaseIoRef(BoardDeviceState& state) {
  if (state.ioRefCount.fetch_sub(1) == 1) state.noIoEvent.Set();
}

}  // namespace vantrel::driver
