#include "shared/SharedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "k27/common/UniqueFd.h"
#include "shared/BoardGroup.h"
#include "shared/ObjectTrust.h"

namespace vantrel::shared {

using vantrel::common::KeepOffStandardStreams;

namespace {

constexpr mode_t kSharedMode = 0660;
// Another process may unlink the object between our two attempts, or have
// just made it and not yet given it the board group and its mode; rounds
// until this time has passed settle it, even on a loaded machine.
constexpr auto kSettleTime = std::chrono::seconds(1);
constexpr auto kRetryPause = std::chrono::milliseconds(2);

// Constant-initialised: objects are opened from the library's first static
// constructor, before any constructor of this file could run.
std::mutex failureMutex;
char firstFailure[256] = {};
int firstFailureError = 0;
char firstRefusal[1024] = {};

std::string PathOf(const std::string& systemName) { return "/dev/shm" + systemName; }

int Fail(const std::string& systemName, int error) {
  {
    std::lock_guard<std::mutex> guard(failureMutex);
    if (firstFailure[0] == '\0') {
      std::snprintf(firstFailure, sizeof firstFailure, "%s: %s", PathOf(systemName).c_str(),
                    std::strerror(error));
      firstFailureError = error;
    }
  }
  errno = error;
  return -1;
}

int Refuse(const std::string& systemName, const struct stat& status, const std::string& why) {
  {
    std::lock_guard<std::mutex> guard(failureMutex);
    if (firstRefusal[0] == '\0')
      std::snprintf(firstRefusal, sizeof firstRefusal, "%s",
                    UntrustedObjectReport(PathOf(systemName), status, why).c_str());
  }
  return Fail(systemName, EPERM);
}

// A new object: mode 0 until it has the board group, so that nobody but
// root opens it before, and root's openers wait for the group and mode.
// -1 with `exists` set when the name is taken already.
int Create(const std::string& systemName, bool* exists) {
  *exists = false;
  const int fd = KeepOffStandardStreams(shm_open(systemName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0));
  if (fd < 0) {
    *exists = errno == EEXIST;
    return *exists ? -1 : Fail(systemName, errno);
  }
  if (fchown(fd, static_cast<uid_t>(-1), BoardGroup()) != 0 || fchmod(fd, kSharedMode) != 0) {
    const int error = errno;
    shm_unlink(systemName.c_str());
    close(fd);
    return Fail(systemName, error);
  }
  return fd;
}

}  // namespace

std::string FirstOpenFailure(int* error) {
  std::lock_guard<std::mutex> guard(failureMutex);
  if (error != nullptr) *error = firstFailureError;
  return firstFailure;
}

std::string UntrustedObjectRefusal() {
  std::lock_guard<std::mutex> guard(failureMutex);
  return firstRefusal;
}

int OpenSharedFile(const std::string& systemName) {
  const auto deadline = std::chrono::steady_clock::now() + kSettleTime;
  int error = ENOENT;
  struct stat settling {};
  TrustVerdict verdict;
  for (bool first = true;; first = false) {
    if (!first) {
      if (std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(kRetryPause);
    }
    bool exists = false;
    int fd = Create(systemName, &exists);
    if (fd >= 0 || !exists) return fd;

    struct stat status {};
    fd = KeepOffStandardStreams(shm_open(systemName.c_str(), O_RDWR, 0));
    if (fd >= 0) {
      const bool known = fstat(fd, &status) == 0;
      error = errno;
      if (known) verdict = JudgeObject(status, BoardGroup());
      if (known && verdict.trust == ObjectTrust::kTrusted) return fd;
      close(fd);
      if (!known) return Fail(systemName, error);
    } else {
      error = errno;
      if (error == ENOENT) continue;  // removed since: create it again
      if (error != EACCES) return Fail(systemName, error);
      // Closed to us: either we are outside the board group, or the object
      // is not the group's.
      if (stat(PathOf(systemName).c_str(), &status) != 0) continue;
      verdict = JudgeObject(status, BoardGroup());
      if (verdict.trust == ObjectTrust::kTrusted) return Fail(systemName, EACCES);
    }
    if (verdict.trust == ObjectTrust::kForeign) return Refuse(systemName, status, verdict.why);
    settling = status;
  }
  if (verdict.trust == ObjectTrust::kSettingUp) return Refuse(systemName, settling, verdict.why);
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
