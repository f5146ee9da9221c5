#include "k27/common/UniqueFd.h"

#include <unistd.h>

namespace k27::common {

void UniqueFd::Reset(int fd) {
  // close is not retried on EINTR: on Linux the descriptor is gone either way.
  if (fd_ >= 0 && fd_ != fd) ::close(fd_);
  fd_ = fd;
}

}  // namespace k27::common
