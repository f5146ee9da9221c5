// The libusb results that mean "refused for now": LIBUSB_ERROR_ACCESS or
// LIBUSB_ERROR_BUSY while udev is still applying its rules (permissions,
// other drivers letting go), retried within the window of RetryWindow.h.
#pragma once

#include <chrono>
#include <functional>

#include "RetryWindow.h"

namespace vantrel::usbhost {

// True for the results that are worth another attempt.
bool IsBusyResult(int result);

// Calls `attempt` (which returns a libusb result) until it gives something
// other than ACCESS or BUSY, or until `deadline` has passed, and returns the
// last result. Between attempts it calls `sleep` with the pause (never
// beyond the deadline); a sleep that returns false (the caller is stopping)
// ends the retries with the last result.
int RetryWhileBusy(const std::function<int()>& attempt, RetryClock::time_point deadline,
                   std::chrono::milliseconds interval,
                   const std::function<bool(std::chrono::milliseconds)>& sleep,
                   const std::function<RetryClock::time_point()>& now = RetryClock::now);

}  // namespace vantrel::usbhost
