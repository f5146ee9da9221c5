#include "shared/SharedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vantrel::shared {

namespace {
constexpr mode_t kSharedMode = 0666;
// Another process may unlink the object between our two attempts; a few
// rounds settle it.
constexpr int kOpenAttempts = 8;
}  // namespace

int OpenSharedFile(const std::string& systemName) {
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    int fd = shm_open(systemName.c_str(), O_RDWR | O_CREAT | O_EXCL, kSharedMode);
    if (fd >= 0) {
      // The umask narrowed the mode given to shm_open.
      (void)fchmod(fd, kSharedMode);
      return fd;
    }
    if (errno != EEXIST) return -1;
    fd = shm_open(systemName.c_str(), O_RDWR, 0);
    if (fd >= 0) return fd;
    if (errno != ENOENT) return -1;
  }
  return -1;
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
