#include "daemon/RunAsUser.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vantrel::driver {

StartIdentity CheckStartIdentity(bool isRoot, bool underServiceManager, bool userGiven) {
  if (!isRoot || userGiven) return {};
  if (underServiceManager)
    return {StartIdentity::Verdict::Refuse,
            "started by systemd as root without --user: the daemon does not serve with every "
            "privilege. Give the unit User=vantrelio (as the packaged unit does) or pass "
            "--user NAME"};
  return {StartIdentity::Verdict::ServeWarned,
          "running as root: a fault in the daemon would have the whole machine. Start it "
          "through its unit (systemctl start vantrelio) or with --user vantrelio"};
}

std::optional<RunAs> LookupRunAs(const std::string& name, std::optional<gid_t> extraGroup,
                                 std::string* why) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  const int error = ::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
  if (found == nullptr) {
    *why = "user '" + name + "' " +
           (error != 0 ? std::string("cannot be looked up: ") + std::strerror(error)
                       : std::string("does not exist"));
    return std::nullopt;
  }
  RunAs target{name, found->pw_uid, found->pw_gid, {}};
  int count = 32;
  for (;;) {
    target.groups.resize(static_cast<std::size_t>(count));
    const int want = count;
    if (::getgrouplist(name.c_str(), target.gid, target.groups.data(), &count) >= 0) break;
    if (count <= want) count = want * 2;  // some libraries leave it unchanged
    if (count > 65536) {
      *why = "the groups of user '" + name + "' cannot be listed";
      return std::nullopt;
    }
  }
  target.groups.resize(static_cast<std::size_t>(count));
  if (extraGroup &&
      std::find(target.groups.begin(), target.groups.end(), *extraGroup) == target.groups.end())
    target.groups.push_back(*extraGroup);
  return target;
}

bool SwitchTo(const RunAs& target, std::string* why) {
  const auto fail = [why](const std::string& what) {
    *why = what + ": " + std::strerror(errno);
    return false;
  };
  if (::geteuid() != 0) {
    if (::getuid() == target.uid && ::geteuid() == target.uid) return true;
    *why = "only root can become user '" + target.name + "'";
    return false;
  }
  if (::setgroups(target.groups.size(), target.groups.data()) != 0) return fail("setgroups");
  if (::setresgid(target.gid, target.gid, target.gid) != 0) return fail("setresgid");
  if (::setresuid(target.uid, target.uid, target.uid) != 0) return fail("setresuid");
  // A switch that left a way back is no switch.
  if (target.uid != 0 && (::setuid(0) == 0 || ::seteuid(0) == 0)) {
    *why = "root could be regained after becoming '" + target.name + "'";
    return false;
  }
  return true;
}

}  // namespace vantrel::driver
