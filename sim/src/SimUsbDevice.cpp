// A simulated device's link to the bus it is plugged into.
#include <utility>

#include "k27sim/SimUsb.h"

namespace vantrel::sim {

bool SimUsbDevice::ReEnumerateAs(std::shared_ptr<SimUsbDevice> successor,
                                 std::chrono::milliseconds absence) {
  std::function<bool(std::shared_ptr<SimUsbDevice>, std::chrono::milliseconds)> reEnumerate;
  {
    std::lock_guard lock(callbackMutex_);
    reEnumerate = reEnumerate_;
  }
  return reEnumerate && reEnumerate(std::move(successor), absence);
}

bool SimUsbDevice::LeftBus() const {
  std::lock_guard lock(callbackMutex_);
  return place_ == Place::Left;
}

}  // namespace vantrel::sim
