// The daemon's side of its systemd service: whether systemd started it,
// readiness, the watchdog and the stop. Outside systemd (no NOTIFY_SOCKET)
// the notifications do nothing.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace vantrel::driver {

bool StartedByServiceManager();

// Serving: the first look at the bus is done and the sockets exist.
void NotifyReady(const std::string& status);
void NotifyStopping();

// How often systemd wants to hear that the daemon is alive (half its
// watchdog time-out); none when it watches nothing.
std::optional<std::chrono::milliseconds> WatchdogInterval();
void NotifyAlive();

}  // namespace vantrel::driver
