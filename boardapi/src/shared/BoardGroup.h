// The group whose members use the boards, and what a user outside it is told.
#pragma once

#include <sys/types.h>

#include <string>

namespace vantrel::shared {

// The group of the daemon's device folder ($VANTREL_DEVICE_DIR, else
// /run/vantrel) when the folder exists: the daemon gives its sockets and the
// folder it creates to the board group. Without the folder, the group
// "vantrel"; without that, the caller's own group. Found once per process.
gid_t BoardGroup();
std::string BoardGroupName();

// The name of a group, or its number when no group has that number.
std::string GroupName(gid_t group);

// True when `uid` belongs to `group`, as its primary group or a
// supplementary one. For the calling process's own user its credentials
// count too, so that a user without an account entry is still a member of
// its own groups.
bool IsGroupMember(uid_t uid, gid_t group);

// What a user outside `group` does to reach the boards. `where` names what
// belongs to the group (the device folder, a socket). Group root means the
// daemon was started without a board group: only root may use the boards
// until it has one.
std::string JoinGroupAdvice(gid_t group, const std::string& where);

}  // namespace vantrel::shared
