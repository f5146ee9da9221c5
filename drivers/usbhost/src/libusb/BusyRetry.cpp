#include "libusb/BusyRetry.h"

#include <libusb.h>

#include <algorithm>

namespace vantrel::usbhost {

bool IsBusyResult(int result) {
  return result == LIBUSB_ERROR_ACCESS || result == LIBUSB_ERROR_BUSY;
}

int RetryWhileBusy(const std::function<int()>& attempt, RetryClock::time_point deadline,
                   std::chrono::milliseconds interval,
                   const std::function<bool(std::chrono::milliseconds)>& sleep,
                   const std::function<RetryClock::time_point()>& now) {
  for (;;) {
    const int result = attempt();
    if (!IsBusyResult(result)) return result;
    const auto at = now();
    if (at >= deadline) return result;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - at);
    if (!sleep(std::min(interval, left))) return result;
  }
}

}  // namespace vantrel::usbhost
