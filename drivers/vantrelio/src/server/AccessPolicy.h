// Who may use the maintenance codes of a board socket (AccessOf in
// ControlCodes.h). A connection is judged once, when it is accepted, by the
// credentials the kernel recorded when the client connected; nothing the
// client says counts.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vantrel::driver {

struct PeerCredentials {
  pid_t pid = 0;
  uid_t uid = 0;
  gid_t gid = 0;              // primary group
  std::vector<gid_t> groups;  // supplementary groups
};

// The client at the other end of a connected Unix socket: SO_PEERCRED, and
// SO_PEERGROUPS for its supplementary groups (none when the kernel cannot
// tell). Nothing when SO_PEERCRED fails.
std::optional<PeerCredentials> PeerCredentialsOf(int fd);

// " by pid P uid U gid G", or " (peer unknown)", for the log.
std::string Describe(const std::optional<PeerCredentials>& peer);

class AccessPolicy {
 public:
  // Privileged: these users, and the members (by primary or supplementary
  // group) of these groups.
  AccessPolicy(std::set<uid_t> users, std::set<gid_t> groups);

  // The daemon's: root; the daemon's own effective user, who could trace
  // the daemon anyway; and the administrators' group, when there is one.
  // Without `implicitUsers` only the group counts (for the tests that run
  // a daemon as their own user and must be an ordinary client of it).
  static AccessPolicy ForDaemon(std::optional<gid_t> adminGroup, bool implicitUsers = true);

  bool Privileged(const PeerCredentials& peer) const;

 private:
  std::set<uid_t> users_;
  std::set<gid_t> groups_;
};

// What a connection does with a request of `code`: STATUS_SUCCESS when it
// goes to the board's handler, else the status it is refused with at once,
// the handler never reached. A privileged connection may use every code.
std::uint32_t Admission(std::uint32_t code, bool privileged);

}  // namespace vantrel::driver
