#include "shared/SharedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <grp.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <vantrel/driver/ControlProtocol.h>

namespace vantrel::shared {

namespace {

constexpr mode_t kSharedMode = 0660;
constexpr const char* kBoardGroupName = "vantrel";
// Another process may unlink the object between our two attempts, or have
// just made it and not yet given it the board group; a few rounds settle it.
constexpr int kOpenAttempts = 8;
constexpr auto kRetryPause = std::chrono::milliseconds(2);

// Constant-initialised: objects are opened from the library's first static
// constructor, before any constructor of this file could run.
std::mutex failureMutex;
char firstFailure[256] = {};
int firstFailureError = 0;

int Fail(const std::string& systemName, int error) {
  {
    std::lock_guard<std::mutex> guard(failureMutex);
    if (firstFailure[0] == '\0') {
      std::snprintf(firstFailure, sizeof firstFailure, "/dev/shm%s: %s", systemName.c_str(),
                    std::strerror(error));
      firstFailureError = error;
    }
  }
  errno = error;
  return -1;
}

struct Group {
  gid_t id;
  std::string name;
};

std::string NameOfGroup(gid_t id) {
  std::vector<char> buffer(4096);
  group entry{};
  group* found = nullptr;
  if (getgrgid_r(id, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
    return found->gr_name;
  return std::to_string(id);
}

Group FindBoardGroup() {
  const char* dir = std::getenv(driver::ControlProtocol::kDeviceDirEnv);
  const std::string folder =
      (dir != nullptr && *dir != '\0') ? dir : driver::ControlProtocol::kDefaultDeviceDir;
  struct stat status {};
  if (stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
    return {status.st_gid, NameOfGroup(status.st_gid)};
  std::vector<char> buffer(4096);
  group entry{};
  group* found = nullptr;
  if (getgrnam_r(kBoardGroupName, &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr)
    return {found->gr_gid, kBoardGroupName};
  return {getegid(), NameOfGroup(getegid())};
}

const Group& TheBoardGroup() {
  static const Group group = FindBoardGroup();
  return group;
}

}  // namespace

gid_t BoardGroup() { return TheBoardGroup().id; }
std::string BoardGroupName() { return TheBoardGroup().name; }

std::string FirstOpenFailure(int* error) {
  std::lock_guard<std::mutex> guard(failureMutex);
  if (error != nullptr) *error = firstFailureError;
  return firstFailure;
}

int OpenSharedFile(const std::string& systemName) {
  int error = 0;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    if (attempt > 0 && error == EACCES) std::this_thread::sleep_for(kRetryPause);
    int fd = shm_open(systemName.c_str(), O_RDWR | O_CREAT | O_EXCL, kSharedMode);
    if (fd >= 0) {
      // The group first, then the mode that the umask narrowed: the object is
      // never open to anybody outside the board group.
      if (fchown(fd, static_cast<uid_t>(-1), BoardGroup()) != 0 || fchmod(fd, kSharedMode) != 0) {
        error = errno;
        shm_unlink(systemName.c_str());
        close(fd);
        return Fail(systemName, error);
      }
      return fd;
    }
    if (errno != EEXIST) return Fail(systemName, errno);
    fd = shm_open(systemName.c_str(), O_RDWR, 0);
    if (fd >= 0) return fd;
    error = errno;
    if (error != ENOENT && error != EACCES) return Fail(systemName, error);
  }
  return Fail(systemName, error);
}

bool LockByte(int fd, short type, off_t offset, bool wait) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = offset;
  range.l_len = 1;
  range.l_pid = 0;
  for (;;) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &range) == 0) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace vantrel::shared
