// The hostile soak of the driver daemon: victims that play by the rules
// exchange on fixed channels of simulated boards while, for the first half
// of the run, attackers read the pipes raw (privileged, and unprivileged
// when the soak runs as root), make exchanges across two channels, stall
// replies through the simulator's console and are killed mid-exchange;
// probes queued one after another on a held channel show the order in which
// it serves its waiters (from the daemon's --trace). The second half is
// calm: every victim must be served again before the end.
#pragma once

#include <string>

namespace vantrel::soak {

struct HostileOptions {
  int seconds = 30;
  int boards = 2;
  int victims = 8;
  std::string daemon;
};

// Runs it and prints the figures; the exit status: 1 on a stolen or crossed
// reply, a raw code served to an unprivileged client, a cross-channel
// exchange not refused, a waiter served out of arrival order, a victim left
// unserved after the attacks, a hung request or a daemon that died.
int RunHostile(const HostileOptions& options);

}  // namespace vantrel::soak
