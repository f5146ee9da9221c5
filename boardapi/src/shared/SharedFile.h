// POSIX shared memory objects and the byte-range locks taken on them.
#pragma once

#include <sys/types.h>

#include <string>

namespace vantrel::shared {

// Opens the shared memory object `systemName` read/write, creating it when it
// does not exist yet. A new object belongs to the board group (BoardGroup())
// and is readable and writable by its members only (0660 whatever the
// umask): anybody else could hold a lock for ever or change the records that
// guard the boards. A process that cannot give a new object that group (it
// is not a member) removes it again and fails. An object that exists already
// is used only when it is the board group's (ObjectTrust.h); any other is
// refused (EPERM) and reported by UntrustedObjectRefusal(). Returns the
// descriptor (close-on-exec) or -1 with errno set.
int OpenSharedFile(const std::string& systemName);

// The first object this process could not open, as "name: reason", with the
// errno; "" and 0 when every one opened.
std::string FirstOpenFailure(int* error = nullptr);

// The first object this process refused because it was not the board
// group's: the object, its owner and mode, and how to clear it; "" when none.
std::string UntrustedObjectRefusal();

// Open-file-description lock on the single byte at `offset`: F_RDLCK, F_WRLCK
// or F_UNLCK. With `wait` it blocks until granted; without, it fails at once
// when another description holds a conflicting lock. The lock goes with the
// description: closing the last descriptor, or the death of the process,
// releases it.
bool LockByte(int fd, short type, off_t offset, bool wait);

}  // namespace vantrel::shared
