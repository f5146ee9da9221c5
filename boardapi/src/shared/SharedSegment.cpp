#include "shared/SharedSegment.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

#include "shared/SharedFile.h"
#include "shared/SystemNames.h"

namespace vantrel::shared {

namespace {

constexpr off_t kAttachGuard = 0;
constexpr off_t kPresence = 1;

// Constant-initialised, so usable from any static constructor or destructor.
// Taken before the region's lock wherever both are held.
std::mutex listMutex;
SharedSegment* listHead = nullptr;

bool SameRegion(const SharedRegionDescriptor& a, const SharedRegionDescriptor& b) {
  return a.id == b.id && std::strncmp(a.name, b.name, kObjectNameSize) == 0 &&
         std::strncmp(a.lock.name, b.lock.name, kObjectNameSize) == 0;
}

}  // namespace

SharedSegment::SharedSegment(const SharedRegionDescriptor& region) : descriptor_(region) {
  descriptor_.name[kObjectNameSize - 1] = '\0';
  lock_ = NamedMutexLock::Get(descriptor_.lock);
  Open();
}

SharedSegment::~SharedSegment() {
  NamedMutexLock::Release(lock_);
  // Only unmapped and closed: the byte-range locks go with the last
  // descriptor of the open file, which a forked child may still hold.
  if (view_ != nullptr) munmap(view_, descriptor_.size);
  if (fd_ >= 0) close(fd_);
}

void SharedSegment::Open() {
  const std::size_t size = descriptor_.size;
  if (size < kHeapOverhead) return;
  const int fd = OpenSharedFile(SystemObjectName(descriptor_.name));
  if (fd < 0) return;
  if (!LockByte(fd, F_WRLCK, kAttachGuard, true)) {
    close(fd);
    return;
  }
  bool ok = true;
  const bool alone = LockByte(fd, F_WRLCK, kPresence, false);
  if (alone) {
    // Drop whatever the last processes left and start from zeros.
    ok = ftruncate(fd, 0) == 0 && ftruncate(fd, static_cast<off_t>(size)) == 0;
  } else {
    struct stat status {};
    ok = LockByte(fd, F_RDLCK, kPresence, true) && fstat(fd, &status) == 0 &&
         static_cast<std::size_t>(status.st_size) == size;
  }
  void* view = MAP_FAILED;
  if (ok) view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    // Closing the only descriptor drops both locks.
    close(fd);
    return;
  }
  if (alone) {
    SharedHeap(static_cast<std::uint8_t*>(view), size).Initialise(descriptor_);
    // Atomic conversion: the mapping is never without a holder of byte 1.
    // Kept exclusive, it would make every later attach wait for ever.
    if (!LockByte(fd, F_RDLCK, kPresence, true)) {
      munmap(view, size);
      close(fd);
      return;
    }
    created_ = true;
  }
  view_ = static_cast<std::uint8_t*>(view);
  fd_ = fd;
  LockByte(fd, F_UNLCK, kAttachGuard, false);
}

SharedSegment* SharedSegment::Attach(const SharedRegionDescriptor& region) {
  std::lock_guard<std::mutex> guard(listMutex);
  SharedSegment* segment = listHead;
  while (segment != nullptr && !SameRegion(segment->descriptor_, region)) segment = segment->next_;
  if (segment == nullptr) {
    segment = new SharedSegment(region);
    segment->next_ = listHead;
    listHead = segment;
  }
  segment->lock_->Lock();
  ++segment->attachCount_;
  segment->lock_->Unlock();
  return segment;
}

void SharedSegment::Detach(SharedSegment* segment) {
  if (segment == nullptr) return;
  {
    std::lock_guard<std::mutex> guard(listMutex);
    segment->lock_->Lock();
    const int remaining = --segment->attachCount_;
    segment->lock_->Unlock();
    if (remaining > 0) return;
    for (SharedSegment** link = &listHead; *link != nullptr; link = &(*link)->next_) {
      if (*link == segment) {
        *link = segment->next_;
        break;
      }
    }
  }
  delete segment;
}

int SharedSegment::AttachCount() const {
  std::lock_guard<std::mutex> guard(listMutex);
  return attachCount_;
}

}  // namespace vantrel::shared
