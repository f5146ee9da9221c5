// Right after a device arrives, opening it or claiming an interface can fail
// with LIBUSB_ERROR_ACCESS or LIBUSB_ERROR_BUSY while udev is still applying
// its rules (permissions, other drivers letting go). Such calls are repeated
// for a while before the failure counts.
#pragma once

#include <chrono>
#include <functional>

namespace vantrel::usbhost {

using RetryClock = std::chrono::steady_clock;

// How long after an arrival such failures are retried, and how often.
inline constexpr std::chrono::milliseconds kBusyRetryWindow{2000};
inline constexpr std::chrono::milliseconds kBusyRetryInterval{100};

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
