#include "AccessPolicy.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "vantrel/protocol/ControlCodes.h"

namespace vantrel::driver {

namespace {

// The supplementary groups the peer had when it connected. The kernel says
// how much room they need when the first guess is too small.
std::vector<gid_t> PeerGroupsOf(int fd) {
  std::vector<gid_t> groups(32);
  for (int attempt = 0; attempt < 4; ++attempt) {
    socklen_t size = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &size) == 0) {
      groups.resize(size / sizeof(gid_t));
      return groups;
    }
    if (errno != ERANGE) break;
    groups.resize(size / sizeof(gid_t) + 1);
  }
  return {};
}

}  // namespace

std::optional<PeerCredentials> PeerCredentialsOf(int fd) {
  ::ucred peer{};
  socklen_t size = sizeof(peer);
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return std::nullopt;
  return PeerCredentials{peer.pid, peer.uid, peer.gid, PeerGroupsOf(fd)};
}

std::string Describe(const std::optional<PeerCredentials>& peer) {
  if (!peer) return " (peer unknown)";
  return " by pid " + std::to_string(peer->pid) + " uid " + std::to_string(peer->uid) + " gid " +
         std::to_string(peer->gid);
}

AccessPolicy::AccessPolicy(std::set<uid_t> users, std::set<gid_t> groups)
    : users_(std::move(users)), groups_(std::move(groups)) {}

AccessPolicy AccessPolicy::ForDaemon(std::optional<gid_t> adminGroup, bool implicitUsers) {
  std::set<uid_t> users;
  if (implicitUsers) users = {0, ::geteuid()};
  std::set<gid_t> groups;
  if (adminGroup) groups.insert(*adminGroup);
  return AccessPolicy(std::move(users), std::move(groups));
}

bool AccessPolicy::Privileged(const PeerCredentials& peer) const {
  if (users_.count(peer.uid) != 0 || groups_.count(peer.gid) != 0) return true;
  return std::any_of(peer.groups.begin(), peer.groups.end(),
                     [this](gid_t group) { return groups_.count(group) != 0; });
}

std::uint32_t Admission(std::uint32_t code, bool privileged) {
  if (privileged) return STATUS_SUCCESS;
  switch (AccessOf(code)) {
    case CodeAccess::BoardProtocol:
      return STATUS_SUCCESS;
    case CodeAccess::Maintenance:
      return STATUS_ACCESS_DENIED;
    case CodeAccess::Unknown:
      break;
  }
  // What the handler would answer, without reaching it.
  return STATUS_INVALID_PARAMETER;
}

}  // namespace vantrel::driver
