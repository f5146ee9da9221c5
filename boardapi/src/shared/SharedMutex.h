// A mutex that every process on the machine finds under one name: recursive
// for the owning thread, exclusive between threads and processes, and taken
// over by the next waiter when its owner dies holding it.
//
// It lives in a small shared memory object of its own holding a process-shared,
// robust, recursive pthread mutex; an uncontended lock and unlock stay in user
// space.
//
// A mutex's mapping stays for the rest of the process once opened, and is
// reused when the name is opened again. The thread library and the kernel
// keep every robust mutex a thread holds on a list inside the mutexes
// themselves: unmapping one that is still held (say the process ends, and the
// library unloads, while a thread holds it) would crash the next lock
// operation and keep the kernel from handing the mutex to the next waiter
// when the process dies.
#pragma once

#include <memory>
#include <string>

namespace vantrel::shared {

class SharedMutex {
 public:
  // Opens the mutex `systemName` (a shared memory name), creating and
  // initialising it when no process has yet. nullptr when the system refuses.
  static std::unique_ptr<SharedMutex> Open(const std::string& systemName);

  ~SharedMutex() = default;
  SharedMutex(const SharedMutex&) = delete;
  SharedMutex& operator=(const SharedMutex&) = delete;

  // Waits without a time-out. A mutex left behind by a dead owner is made
  // consistent and taken; the caller proceeds as its owner.
  void Lock();
  // Takes the mutex when no other thread holds it (or this one already does).
  bool TryLock();
  // Releasing a mutex the thread does not hold does nothing.
  void Unlock();

  // The mutex as it lies in shared memory.
  struct Object;

 private:
  explicit SharedMutex(Object* object) : object_(object) {}
  Object* object_;
};

}  // namespace vantrel::shared
