// Whether a shared memory object that some process made before us may be
// used. /dev/shm is writable by everybody: whoever creates a name first owns
// the object, and an object that another user controls lets that user hold
// the boards' locks for ever or rewrite their shared records under a running
// program.
#pragma once

#include <sys/stat.h>

#include <string>

namespace vantrel::shared {

enum class ObjectTrust {
  kTrusted,
  // Owned by root or a member of the board group, closed to others, but not
  // yet the group's: its creator is still giving it the group and the mode.
  kSettingUp,
  // Open to others, or made by a user outside the board group: never used.
  kForeign,
};

struct TrustVerdict {
  ObjectTrust trust = ObjectTrust::kTrusted;
  std::string why;  // what is wrong with it; empty when trusted
};

// Trusted: owned by root or a member of `boardGroup`, of that group, readable
// and writable by it, with no access for others.
TrustVerdict JudgeObject(const struct stat& status, gid_t boardGroup);

// For the user: the object, its owner, group and mode, what is wrong and how
// to clear it.
std::string UntrustedObjectReport(const std::string& path, const struct stat& status,
                                  const std::string& why);

}  // namespace vantrel::shared
