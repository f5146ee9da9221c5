// Whom the daemon runs as: the check at start (root is for a person at the
// terminal, never for the service manager) and the switch to its own user
// after it has opened what needs root.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace vantrel::driver {

// The account to switch to: its ids and every group it is to keep.
struct RunAs {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
};

struct StartIdentity {
  enum class Verdict { Serve, ServeWarned, Refuse };
  Verdict verdict = Verdict::Serve;
  // ServeWarned and Refuse: the one line to log, with the way out.
  std::string message;
};

// Whether a daemon with these privileges may serve. `underServiceManager`:
// systemd started it (NOTIFY_SOCKET or INVOCATION_ID is set).
StartIdentity CheckStartIdentity(bool isRoot, bool underServiceManager, bool userGiven);

// The user `name` with its primary group, its supplementary groups and
// `extraGroup` (the board group, which the daemon gives the sockets to);
// none, with the reason in `why`, when there is no such user.
std::optional<RunAs> LookupRunAs(const std::string& name, std::optional<gid_t> extraGroup,
                                 std::string* why);

// Becomes `target` for good: groups, then group, then user, so that no
// privilege is left to win the others back. Without root only a process that
// already is `target` succeeds. False, with the reason in `why`, on failure.
bool SwitchTo(const RunAs& target, std::string* why);

}  // namespace vantrel::driver
