#include "shared/ObjectTrust.h"

#include <pwd.h>

#include <cstdio>
#include <vector>

#include "shared/BoardGroup.h"

namespace vantrel::shared {

namespace {

constexpr mode_t kOthers = S_IRWXO;
constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;

std::string UserOf(uid_t uid) {
  char number[48];
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    std::snprintf(number, sizeof number, " (uid %lu)", static_cast<unsigned long>(uid));
    return std::string(found->pw_name) + number;
  }
  std::snprintf(number, sizeof number, "uid %lu", static_cast<unsigned long>(uid));
  return number;
}

std::string ModeOf(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

}  // namespace

TrustVerdict JudgeObject(const struct stat& status, gid_t boardGroup) {
  const std::string group = GroupName(boardGroup);
  if ((status.st_mode & kOthers) != 0)
    return {ObjectTrust::kForeign, "its mode gives users outside the board group " + group +
                                       " access (objects left by older builds have mode 0666)"};
  if (status.st_uid != 0 && !IsGroupMember(status.st_uid, boardGroup))
    return {ObjectTrust::kForeign,
            "its owner is neither root nor a member of the board group " + group};
  if (status.st_gid != boardGroup)
    return {ObjectTrust::kSettingUp, "it does not belong to the board group " + group};
  if ((status.st_mode & kGroupReadWrite) != kGroupReadWrite)
    return {ObjectTrust::kSettingUp,
            "its mode does not let the board group " + group + " read and write it"};
  return {};
}

std::string UntrustedObjectReport(const std::string& path, const struct stat& status,
                                  const std::string& why) {
  return path + " belongs to " + UserOf(status.st_uid) + ", group " + GroupName(status.st_gid) +
         ", mode " + ModeOf(status.st_mode) + ": " + why +
         ", so whoever controls it could hold the boards' locks or change their shared "
         "records. Remove it, as root, when no program uses the boards: sudo rm " +
         path;
}

}  // namespace vantrel::shared
