#include "k27/common/UniqueFd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace vantrel::common {

void UniqueFd::Reset(int fd) {
  // close is not retried on EINTR: on Linux the descriptor is gone either way.
  if (fd_ >= 0 && fd_ != fd) ::close(fd_);
  fd_ = fd;
}

int KeepOffStandardStreams(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  const int error = errno;
  ::close(fd);
  errno = error;
  return moved;
}

}  // namespace vantrel::common
