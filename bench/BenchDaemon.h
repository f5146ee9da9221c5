#pragma once

#include <cstdio>
#include <cstdlib>

#include <vantrel/testsupport/SimDaemon.h>

namespace vantrel::bench {

// The simulated daemon a benchmark program shares, started once on first
// use, with the library of this process pointed at it; null when it did not
// start (its log then on standard error).
inline testsupport::SimDaemon* SharedDaemon() {
  static testsupport::SimDaemon daemon;
  static const bool started = [] {
    if (!daemon.Start()) {
      std::fputs(daemon.Log().c_str(), stderr);
      return false;
    }
    ::setenv("VANTREL_DEVICE_DIR", daemon.DeviceDir().c_str(), 1);
    return true;
  }();
  return started ? &daemon : nullptr;
}

}  // namespace vantrel::bench
