// The --watch loop shared by inputs and reels: poll, report changes, stop on
// --count changes, --timeout seconds or a signal.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "Cli.h"

namespace vantrel::ctl {

struct WatchLimits {
  bool watch = false;
  std::optional<long> count;      // changes to report before ending
  std::optional<double> timeout;  // seconds before ending

  // The getopt_long entries and their handling, for each watching command.
  static std::vector<option> Options();
  bool Handle(int code, const char* value);
};

// Calls `poll` every `intervalMs` until it has reported `count` changes (it
// returns how many it reported), the time-out or SIGINT/SIGTERM. A time-out
// before --count is reached fails; otherwise the watch ends with success.
int RunWatch(const WatchLimits& limits, int intervalMs, const std::function<int()>& poll);

}  // namespace vantrel::ctl
