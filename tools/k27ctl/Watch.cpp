#include "Watch.h"

#include <time.h>

#include <string>

namespace vantrel::ctl {

namespace {
constexpr int kWatchCode = 'w', kCountCode = 'n', kTimeoutCode = 't';
}

std::vector<option> WatchLimits::Options() {
  return {{"watch", no_argument, nullptr, kWatchCode},
          {"count", required_argument, nullptr, kCountCode},
          {"timeout", required_argument, nullptr, kTimeoutCode}};
}

bool WatchLimits::Handle(int code, const char* value) {
  if (code == kWatchCode)
    watch = true;
  else if (code == kCountCode)
    count = static_cast<long>(ParseNumber(value, 1, 1000000000, "--count"));
  else if (code == kTimeoutCode)
    timeout = ParseSeconds(value, 1e6, "--timeout");
  else
    return false;
  return true;
}

int RunWatch(const WatchLimits& limits, int intervalMs, const std::function<int()>& poll) {
  WatchSignals();
  const std::int64_t start = MonotonicMs();
  long reported = 0;
  for (;;) {
    reported += poll();
    if (limits.count && reported >= *limits.count) return kExitOk;
    if (Interrupted()) return kExitOk;
    if (limits.timeout &&
        MonotonicMs() - start >= static_cast<std::int64_t>(*limits.timeout * 1000)) {
      if (!limits.count) return kExitOk;
      throw Failure("timed out after " + std::to_string(MonotonicMs() - start) + " ms with " +
                        std::to_string(reported) + " of " + std::to_string(*limits.count) +
                        " changes",
                    "TIMED_OUT");
    }
    const timespec pause{0, intervalMs * 1000000L};
    ::nanosleep(&pause, nullptr);
  }
}

}  // namespace vantrel::ctl
