// The per-board records that every process using the library sees the same
// way, kept in the named shared memory "K27SharedMemory" and guarded by the
// named locks "K27Mutex_SEM_1" .. "_4".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrel::shared {

constexpr int kBoardSlots = 16;

// One block of the shared heap with its lock.
class SharedObject {
 public:
  virtual ~SharedObject() = default;
  // Re-entrant for the owning thread, exclusive between threads and processes.
  // A lock whose owner died is taken over by the next waiter.
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  // The block's data (block address + 124), or nullptr without a block.
  virtual std::uint8_t* Data() = 0;
};

class SharedLockGuard {
 public:
  explicit SharedLockGuard(SharedObject& object) : object_(object) { object_.Lock(); }
  ~SharedLockGuard() { object_.Unlock(); }
  SharedLockGuard(const SharedLockGuard&) = delete;
  SharedLockGuard& operator=(const SharedLockGuard&) = delete;

 private:
  SharedObject& object_;
};

// Record sizes inside the four blocks; record n belongs to board slot n.
constexpr std::size_t kOutputCopySize = 5;
constexpr std::size_t kEepromConfigCopySize = 8;
constexpr std::size_t kReceiveBufferSize = 66;

// The four blocks, attached when the library is loaded and detached when it
// is unloaded.
struct SharedState {
  SharedObject& outOnCopies;   // "OutOnCopies", lock 1
  SharedObject& outOffCopies;  // "OutOffCopies", lock 2
  SharedObject& eeproms;       // "K27EEPROMS", lock 3
  SharedObject& buffers;       // "K27BUFFERS", lock 4
  // Lock 5, no block: one process at a time queries a board for its
  // application image and downloads it.
  SharedObject& download;
};

SharedState& State();

// True when every block lies in the shared mapping and every lock has its
// system object: only then do the records mean the same to every process.
bool Available();

// Why the shared state is not available, for the user ("" when it is).
std::string UnavailableReason();

// Record of `slot` in a block, or a process-local scratch record when the
// block could not be taken, so that callers never write outside the heap.
// The same holds for a slot outside 0..15 and for a record that would run
// past the block's end. Records are at most 66 bytes (kReceiveBufferSize);
// a larger one that does not fit the block gives nullptr.
std::uint8_t* Record(SharedObject& object, std::size_t recordSize, int slot);

}  // namespace vantrel::shared
