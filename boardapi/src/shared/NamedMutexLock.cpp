#include "shared/NamedMutexLock.h"

#include <cstring>
#include <mutex>

#include "shared/SystemNames.h"

namespace vantrel::shared {

namespace {

// Constant-initialised, so usable from any static constructor or destructor.
std::mutex listMutex;
NamedMutexLock* listHead = nullptr;

bool SameName(const SharedLockDescriptor& a, const SharedLockDescriptor& b) {
  return std::strncmp(a.name, b.name, kObjectNameSize) == 0;
}

}  // namespace

NamedMutexLock::NamedMutexLock(const SharedLockDescriptor& descriptor) : descriptor_(descriptor) {
  descriptor_.name[kObjectNameSize - 1] = '\0';
  handle_ = SharedMutex::Open(SystemObjectName(descriptor_.name));
}

NamedMutexLock* NamedMutexLock::Get(const SharedLockDescriptor& descriptor) {
  std::lock_guard<std::mutex> guard(listMutex);
  for (NamedMutexLock* entry = listHead; entry != nullptr; entry = entry->next_) {
    if (SameName(entry->descriptor_, descriptor)) {
      ++entry->useCount_;
      return entry;
    }
  }
  auto* entry = new NamedMutexLock(descriptor);
  entry->next_ = listHead;
  listHead = entry;
  return entry;
}

void NamedMutexLock::Release(NamedMutexLock* lock) {
  if (lock == nullptr) return;
  {
    std::lock_guard<std::mutex> guard(listMutex);
    if (--lock->useCount_ > 0) return;
    for (NamedMutexLock** link = &listHead; *link != nullptr; link = &(*link)->next_) {
      if (*link == lock) {
        *link = lock->next_;
        break;
      }
    }
  }
  delete lock;
}

std::size_t NamedMutexLock::CountInProcess() {
  std::lock_guard<std::mutex> guard(listMutex);
  std::size_t count = 0;
  for (NamedMutexLock* entry = listHead; entry != nullptr; entry = entry->next_) ++count;
  return count;
}

int NamedMutexLock::UseCount() const {
  std::lock_guard<std::mutex> guard(listMutex);
  return useCount_;
}

void NamedMutexLock::Lock() {
  if (handle_) handle_->Lock();
}

void NamedMutexLock::Unlock() {
  if (handle_) handle_->Unlock();
}

bool NamedMutexLock::TryLock() { return handle_ ? handle_->TryLock() : true; }

}  // namespace vantrel::shared
