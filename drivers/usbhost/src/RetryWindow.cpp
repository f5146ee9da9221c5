#include "RetryWindow.h"

#include <algorithm>

namespace vantrel::usbhost {

bool RetryUntil(const std::function<bool()>& attempt, RetryClock::time_point deadline,
                std::chrono::milliseconds interval,
                const std::function<bool(std::chrono::milliseconds)>& sleep,
                const std::function<RetryClock::time_point()>& now) {
  for (;;) {
    if (attempt()) return true;
    const auto at = now();
    if (at >= deadline) return false;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - at);
    if (!sleep(std::min(interval, left))) return false;
  }
}

}  // namespace vantrel::usbhost
