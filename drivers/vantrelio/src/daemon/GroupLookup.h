// The group that owns the device folder and the sockets, by name.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

namespace vantrel::driver {

// The group's id; none, with the reason ("does not exist") in `why`, when
// there is no such group or it cannot be looked up.
std::optional<gid_t> LookupGroup(const std::string& name, std::string* why);

// The board group's id; none, with the reason and the way out given to
// `report`, when there is no such group or it cannot be looked up.
std::optional<gid_t> FindGroup(const std::string& name,
                               const std::function<void(const std::string&)>& report);

}  // namespace vantrel::driver
