// Work references of a device: every request holds one while it runs, and
// the removal waits until the last one has been released.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vantrel::common {

class IoRefCount {
 public:
  // Starts with the one reference that the device holds on itself until it
  // is removed.
  IoRefCount() = default;
  IoRefCount(const IoRefCount&) = delete;
  IoRefCount& operator=(const IoRefCount&) = delete;

  // Takes a reference for one request; false (and none taken) once the
  // removal has begun.
  bool Acquire();
  void Release();
  // The removal: refuses new references and drops the device's own. Calling
  // it again does nothing.
  void BeginRemoval();
  // Waits without limit until every request in flight has released its
  // reference; only after BeginRemoval.
  void WaitForIdle();
  // Both of the above.
  void RemoveAndWait();
  bool Removing() const;
  // References held now, the device's own included (for diagnostics).
  std::int32_t Count() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable noIo_;
  std::int32_t count_ = 1;
  bool removing_ = false;
};

// A reference held for a scope; check `Held()` before doing the work.
class IoRef {
 public:
  explicit IoRef(IoRefCount& refs) : refs_(refs), held_(refs.Acquire()) {}
  ~IoRef() {
    if (held_) refs_.Release();
  }
  IoRef(const IoRef&) = delete;
  IoRef& operator=(const IoRef&) = delete;
  bool Held() const { return held_; }

 private:
  IoRefCount& refs_;
  const bool held_;
};

}  // namespace vantrel::common
