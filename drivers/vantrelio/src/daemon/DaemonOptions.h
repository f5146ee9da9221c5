// The daemon's command line: what it asks for, and the answers to --help,
// --version and a usage error.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "device/DeviceManager.h"

namespace vantrel::driver {

// The exit status of a command line the daemon refuses.
inline constexpr int kUsageError = 2;

struct DaemonOptions {
  bool simulate = false;
  bool verbose = false;
  // Only errors and warnings are written.
  bool quiet = false;
  bool exchangeLocks = true;
  // Empty: the default, vantrel for real boards; a simulated daemon is a
  // developer's own and keeps its own group.
  std::string group;
  // Whose members may use the maintenance codes besides root and the
  // daemon's own user; empty: none.
  std::string adminGroup;
  // False: only the administrators' group, not root or the daemon's own
  // user (for the tests that run a daemon as an ordinary client of it).
  bool implicitAdmins = true;
  // Started as root: the user to become once the device folder, the trace
  // and the capture are open; empty: stay who started it.
  std::string user;
  std::optional<std::string> deviceDir;
  std::optional<std::string> tracePath;
  std::optional<std::string> capturePath;
  unsigned boards = 1;
  unsigned isoDevices = 0;
  unsigned eepromBytes = 32768;
  unsigned connectionsPerBoard = DeviceManagerOptions::kDefaultConnectionsPerBoard;
  unsigned connectionsPerUser = DeviceManagerOptions::kDefaultConnectionsPerUser;
  // None: three quarters of connectionsPerBoard.
  std::optional<unsigned> connectionsPerUserPerBoard;
  // Also look at the bus at this period, besides the hotplug events; 0: only
  // where hotplug is unavailable (then every second).
  unsigned pollSeconds = 0;
  // The firmware loads' time limits, retries and images (the tests shorten
  // them; not in the help).
  LoadSettings loads;
  bool externalTestRecords = false;
};

// The connections each client user may hold on one board, as given or by
// default.
unsigned ConnectionsPerUserPerBoard(const DaemonOptions& options);

struct CommandLine {
  enum class Action { Serve, ShowHelp, ShowVersion, Refuse };
  Action action = Action::Serve;
  DaemonOptions options;
  // Refuse only: what is wrong, in one line.
  std::string error;
};

// Reads the arguments after the program name. Not reentrant (getopt_long).
CommandLine ParseCommandLine(int argc, char** argv);

// Answers a command line that does not ask to serve: the help or the version
// on `out`, a usage error on `err`. Returns the exit status, or nothing when
// the daemon is to serve.
std::optional<int> AnswerCommandLine(const CommandLine& line, std::ostream& out, std::ostream& err);

}  // namespace vantrel::driver
