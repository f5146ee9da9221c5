#include "libusb/BusyRetry.h"

#include <libusb.h>

namespace vantrel::usbhost {

bool IsBusyResult(int result) {
  return result == LIBUSB_ERROR_ACCESS || result == LIBUSB_ERROR_BUSY;
}

int RetryWhileBusy(const std::function<int()>& attempt, RetryClock::time_point deadline,
                   std::chrono::milliseconds interval,
                   const std::function<bool(std::chrono::milliseconds)>& sleep,
                   const std::function<RetryClock::time_point()>& now) {
  int result = 0;
  RetryUntil(
      [&] {
        result = attempt();
        return !IsBusyResult(result);
      },
      deadline, interval, sleep, now);
  return result;
}

}  // namespace vantrel::usbhost
