#include "daemon/ServiceManager.h"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace vantrel::driver {

bool StartedByServiceManager() {
  const auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
  };
  return set("NOTIFY_SOCKET") || set("INVOCATION_ID");
}

void NotifyReady(const std::string& status) {
  // The environment stays: the watchdog notifications need NOTIFY_SOCKET.
  ::sd_notify(0, ("READY=1\nSTATUS=" + status).c_str());
}

void NotifyStopping() { ::sd_notify(0, "STOPPING=1"); }

std::optional<std::chrono::milliseconds> WatchdogInterval() {
  std::uint64_t timeout = 0;
  if (::sd_watchdog_enabled(0, &timeout) <= 0 || timeout == 0) return std::nullopt;
  const auto half =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::microseconds(timeout / 2));
  return std::max(half, std::chrono::milliseconds(1));
}

void NotifyAlive() { ::sd_notify(0, "WATCHDOG=1"); }

}  // namespace vantrel::driver
