#include "daemon/GroupLookup.h"

#include <grp.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace vantrel::driver {

std::optional<gid_t> LookupGroup(const std::string& name, std::string* why) {
  std::vector<char> buffer(16384);
  group entry{};
  group* found = nullptr;
  const int error = ::getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
  if (found != nullptr) return found->gr_gid;
  *why = error != 0 ? std::string("cannot be looked up: ") + std::strerror(error)
                    : std::string("does not exist");
  return std::nullopt;
}

std::optional<gid_t> FindGroup(const std::string& name,
                               const std::function<void(const std::string&)>& report) {
  std::string why;
  if (const std::optional<gid_t> found = LookupGroup(name, &why)) return found;
  // The daemon's own group by name when it has one, for the message.
  std::vector<char> buffer(16384);
  std::string own = std::to_string(::getegid());
  group ownEntry{};
  group* ownFound = nullptr;
  if (::getgrgid_r(::getegid(), &ownEntry, buffer.data(), buffer.size(), &ownFound) == 0 &&
      ownFound != nullptr)
    own = ownFound->gr_name;
  report("group '" + name + "' " + why +
         "; the device folder and sockets keep the daemon's group '" + own +
         "'. Create it (groupadd --system " + name + ") or name another with --group.");
  return std::nullopt;
}

}  // namespace vantrel::driver
