// Right after a device arrives, opening it or claiming an interface can be
// refused for a moment (udev still applying its rules, other drivers letting
// go). Such attempts are repeated for a while before the failure counts.
#pragma once

#include <chrono>
#include <functional>

namespace vantrel::usbhost {

using RetryClock = std::chrono::steady_clock;

// How long after an arrival refusals are retried, and how often.
inline constexpr std::chrono::milliseconds kBusyRetryWindow{2000};
inline constexpr std::chrono::milliseconds kBusyRetryInterval{100};

// Calls `attempt` until it succeeds (returns true) or `deadline` has passed,
// and tells whether the last attempt succeeded. Between attempts it calls
// `sleep` with the pause (never beyond the deadline); a sleep that returns
// false (the caller is stopping) ends the retries.
bool RetryUntil(const std::function<bool()>& attempt, RetryClock::time_point deadline,
                std::chrono::milliseconds interval,
                const std::function<bool(std::chrono::milliseconds)>& sleep,
                const std::function<RetryClock::time_point()>& now = RetryClock::now);

}  // namespace vantrel::usbhost
