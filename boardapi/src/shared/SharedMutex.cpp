#include "shared/SharedMutex.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "shared/SharedFile.h"

namespace vantrel::shared {

struct SharedMutex::Object {
  // Set last, once the mutex is initialised. Carries the mutex's size so that
  // a process built with another pthread layout does not use it.
  std::atomic<std::uint32_t> magic;
  std::uint32_t reserved;
  pthread_mutex_t mutex;
};

namespace {

constexpr std::uint32_t kMagic = 0x4B32'3700u | static_cast<std::uint32_t>(sizeof(pthread_mutex_t));
// Byte 0 of the object's file guards its one-time initialisation.
constexpr off_t kInitGuard = 0;

bool InitialiseMutex(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attributes;
  if (pthread_mutexattr_init(&attributes) != 0) return false;
  bool ok = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
            pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
            pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0 &&
            pthread_mutex_init(mutex, &attributes) == 0;
  pthread_mutexattr_destroy(&attributes);
  return ok;
}

// Under the initialisation guard: size the object, map it, and initialise the
// mutex unless a process already has. A creator that died half-way left no
// magic, so its work is simply done again.
SharedMutex::Object* MapAndInitialise(int fd, std::size_t size, std::uint32_t magic) {
  struct stat status {};
  if (fstat(fd, &status) != 0) return nullptr;
  if (static_cast<std::size_t>(status.st_size) < size &&
      ftruncate(fd, static_cast<off_t>(size)) != 0)
    return nullptr;
  void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) return nullptr;
  auto* object = static_cast<SharedMutex::Object*>(view);
  const std::uint32_t found = object->magic.load(std::memory_order_acquire);
  if (found == magic) return object;
  if (found == 0 && InitialiseMutex(&object->mutex)) {
    object->magic.store(magic, std::memory_order_release);
    return object;
  }
  // Not ours (another layout) or not initialisable.
  munmap(view, size);
  return nullptr;
}

SharedMutex::Object* MapMutex(const std::string& systemName) {
  const int fd = OpenSharedFile(systemName);
  if (fd < 0) return nullptr;
  SharedMutex::Object* object = nullptr;
  if (LockByte(fd, F_WRLCK, kInitGuard, true)) {
    object = MapAndInitialise(fd, sizeof(SharedMutex::Object), kMagic);
    LockByte(fd, F_UNLCK, kInitGuard, false);
  }
  close(fd);
  return object;
}

// The mappings opened so far, for the life of the process. Fixed storage
// (constant-initialised, nothing to free); a name beyond it is mapped anew
// each time it is opened.
struct MappedMutex {
  char name[192];
  SharedMutex::Object* object;
};
constexpr std::size_t kMappedMutexes = 16;
std::mutex mappedMutex;
MappedMutex mapped[kMappedMutexes];

SharedMutex::Object* FindOrMap(const std::string& systemName) {
  std::lock_guard<std::mutex> guard(mappedMutex);
  const bool cacheable = systemName.size() < sizeof mapped[0].name;
  for (MappedMutex& entry : mapped) {
    if (entry.object == nullptr) break;
    if (cacheable && systemName == entry.name) return entry.object;
  }
  SharedMutex::Object* object = MapMutex(systemName);
  if (object == nullptr || !cacheable) return object;
  for (MappedMutex& entry : mapped) {
    if (entry.object == nullptr) {
      std::memcpy(entry.name, systemName.c_str(), systemName.size() + 1);
      entry.object = object;
      break;
    }
  }
  return object;
}

}  // namespace

std::unique_ptr<SharedMutex> SharedMutex::Open(const std::string& systemName) {
  Object* object = FindOrMap(systemName);
  if (object == nullptr) return nullptr;
  return std::unique_ptr<SharedMutex>(new SharedMutex(object));
}

void SharedMutex::Lock() {
  if (pthread_mutex_lock(&object_->mutex) == EOWNERDEAD) pthread_mutex_consistent(&object_->mutex);
}

bool SharedMutex::TryLock() {
  const int result = pthread_mutex_trylock(&object_->mutex);
  if (result == EOWNERDEAD) {
    pthread_mutex_consistent(&object_->mutex);
    return true;
  }
  return result == 0;
}

void SharedMutex::Unlock() { pthread_mutex_unlock(&object_->mutex); }

}  // namespace vantrel::shared
