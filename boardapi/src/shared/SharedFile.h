// POSIX shared memory objects and the byte-range locks taken on them.
#pragma once

#include <sys/types.h>

#include <string>

namespace vantrel::shared {

// Opens the shared memory object `systemName` read/write, creating it when it
// does not exist yet. A new object is made readable and writable by every user
// (0666 whatever the umask), so that processes of different users on one
// machine share the same state. Returns the descriptor (close-on-exec) or -1.
int OpenSharedFile(const std::string& systemName);

// Open-file-description lock on the single byte at `offset`: F_RDLCK, F_WRLCK
// or F_UNLCK. With `wait` it blocks until granted; without, it fails at once
// when another description holds a conflicting lock. The lock goes with the
// description: closing the last descriptor, or the death of the process,
// releases it.
bool LockByte(int fd, short type, off_t offset, bool wait);

}  // namespace vantrel::shared
