#include "shared/BoardGroup.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <vantrel/protocol/ControlProtocol.h>

namespace vantrel::shared {

namespace {

constexpr const char* kDefaultBoardGroup = "vantrel";
constexpr std::size_t kEntryBuffer = 16384;

struct Group {
  gid_t id;
  std::string name;
};

// Numbers by snprintf: std::to_string would export one of the standard
// library's template instances from the shared library.
std::string Decimal(unsigned long value) {
  char text[24];
  std::snprintf(text, sizeof text, "%lu", value);
  return text;
}

Group FindBoardGroup() {
  const char* dir = std::getenv(driver::ControlProtocol::kDeviceDirEnv);
  const std::string folder =
      (dir != nullptr && *dir != '\0') ? dir : driver::ControlProtocol::kDefaultDeviceDir;
  struct stat status {};
  if (stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
    return {status.st_gid, GroupName(status.st_gid)};
  std::vector<char> buffer(kEntryBuffer);
  group entry{};
  group* found = nullptr;
  if (getgrnam_r(kDefaultBoardGroup, &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr)
    return {found->gr_gid, kDefaultBoardGroup};
  return {getegid(), GroupName(getegid())};
}

const Group& TheBoardGroup() {
  static const Group group = FindBoardGroup();
  return group;
}

bool ProcessIsMember(gid_t group) {
  if (getegid() == group || getgid() == group) return true;
  const int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  const int got = getgroups(count, groups.data());
  if (got <= 0) return false;
  groups.resize(static_cast<std::size_t>(got));
  return std::find(groups.begin(), groups.end(), group) != groups.end();
}

}  // namespace

gid_t BoardGroup() { return TheBoardGroup().id; }
std::string BoardGroupName() { return TheBoardGroup().name; }

std::string GroupName(gid_t id) {
  std::vector<char> buffer(kEntryBuffer);
  group entry{};
  group* found = nullptr;
  if (getgrgid_r(id, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
    return found->gr_name;
  return Decimal(id);
}

bool IsGroupMember(uid_t uid, gid_t group) {
  if (uid == geteuid() && ProcessIsMember(group)) return true;
  std::vector<char> buffer(kEntryBuffer);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
    return false;
  if (found->pw_gid == group) return true;
  int count = 64;
  std::vector<gid_t> groups;
  for (int round = 0; round < 4; ++round) {
    groups.resize(static_cast<std::size_t>(count));
    int wanted = count;
    if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &wanted) >= 0) {
      groups.resize(static_cast<std::size_t>(wanted));
      return std::find(groups.begin(), groups.end(), group) != groups.end();
    }
    // Too small: `wanted` now holds the number needed.
    count = std::max(wanted, count * 2);
  }
  return false;
}

std::string JoinGroupAdvice(gid_t group, const std::string& where) {
  if (group == 0)
    return where +
           " belongs to the group root: the daemon was started without a board group, so only "
           "root may use the boards. Give it one ('sudo groupadd vantrel' if the group is "
           "missing, then start the daemon with '--group vantrel'), join it with 'sudo usermod "
           "-aG vantrel $USER' and log in again.";
  const std::string name = GroupName(group);
  return "the boards are for members of the group " + name + ", which owns " + where +
         ". Join it with 'sudo usermod -aG " + name + " $USER' and log in again.";
}

}  // namespace vantrel::shared
