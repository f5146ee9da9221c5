// The library's four shared objects, attached when the library is loaded and
// detached when it is unloaded.
#include "shared/SharedState.h"

#include <array>
#include <cerrno>
#include <cstring>

#include <vantrel/protocol/ControlProtocol.h>

#include "shared/BoardGroup.h"
#include "shared/SharedFile.h"
#include "shared/SharedObject.h"

namespace vantrel::shared {

namespace {

// Never destroyed: the objects stay usable (detached, without a block) for
// whatever runs after the library's own teardown.
template <class T>
union Persistent {
  template <class... Args>
  constexpr explicit Persistent(Args... args) : value(args...) {}
  ~Persistent() {}
  T value;
};

// Sizes asked include the block header; each holds sixteen records.
constexpr std::uint32_t kOutputCopiesSize = 204;
constexpr std::uint32_t kEepromCopiesSize = 252;
constexpr std::uint32_t kReceiveBuffersSize = 1180;
static_assert(kOutputCopiesSize - kUnitSize >= kBoardSlots * kOutputCopySize);
static_assert(kEepromCopiesSize - kUnitSize >= kBoardSlots * kEepromConfigCopySize);
static_assert(kReceiveBuffersSize - kUnitSize >= kBoardSlots * kReceiveBufferSize);

constinit Persistent<SharedBlockObject> outOnCopies("OutOnCopies", 0u, kOutputCopiesSize, 1);
constinit Persistent<SharedBlockObject> outOffCopies("OutOffCopies", 0u, kOutputCopiesSize, 2);
constinit Persistent<SharedBlockObject> eeproms("K27EEPROMS", 0u, kEepromCopiesSize, 3);
constinit Persistent<SharedBlockObject> buffers("K27BUFFERS", 0u, kReceiveBuffersSize, 4);

constinit Persistent<SharedLockObject> download(5);

constinit SharedState state{outOnCopies.value, outOffCopies.value, eeproms.value, buffers.value,
                            download.value};

// In attach order.
SharedBlockObject* const kObjects[] = {&outOnCopies.value, &outOffCopies.value, &eeproms.value,
                                       &buffers.value};

// Runs before the library's other static constructors and after their
// destructors, so that the blocks are there for all of them.
struct Lifetime {
  Lifetime() {
    for (SharedBlockObject* object : kObjects) object->Attach();
    download.value.Attach();
  }
  ~Lifetime() {
    download.value.Detach();
    for (auto it = std::rbegin(kObjects); it != std::rend(kObjects); ++it) (*it)->Detach();
  }
};
__attribute__((init_priority(101))) Lifetime lifetime;

// Record for an object of another kind that has no room for it; cleared on
// every use so that nothing is carried between callers.
thread_local std::array<std::uint8_t, kMaxRecordSize> scratchRecord{};

}  // namespace

SharedState& State() { return state; }

bool Available() {
  for (SharedBlockObject* object : kObjects) {
    const NamedMutexLock* lock = object->LockHandle();
    if (object->Block() == nullptr || lock == nullptr || !lock->HasHandle()) return false;
    // The region's own lock guards the heap that every block lives in.
    const SharedSegment* segment = object->Segment();
    if (segment == nullptr || !segment->Lock().HasHandle()) return false;
  }
  const NamedMutexLock* lock = download.value.LockHandle();
  return lock != nullptr && lock->HasHandle();
}

std::string UnavailableReason() {
  if (Available()) return {};
  if (const std::string refusal = UntrustedObjectRefusal(); !refusal.empty())
    return "the shared board state is refused: " + refusal;
  int error = 0;
  const std::string failure = FirstOpenFailure(&error);
  if (error == EACCES || error == EPERM)
    return "no access to the shared board state (" + failure + "): " +
           JoinGroupAdvice(BoardGroup(),
                           "the device folder " + driver::ControlProtocol::DeviceDirectory());
  return "the shared board state could not be set up (" +
         (failure.empty() ? std::string("no room for its records") : failure) +
         "): without it processes would overwrite each other's records.";
}

std::uint8_t* Record(SharedObject& object, std::size_t recordSize, int slot) {
  if (auto* block = dynamic_cast<SharedBlockObject*>(&object))
    return block->RecordAddress(recordSize, slot);
  if (std::uint8_t* data = object.Data(); data != nullptr && slot >= 0 && slot < kBoardSlots)
    return data + static_cast<std::size_t>(slot) * recordSize;
  if (recordSize > scratchRecord.size()) return nullptr;
  scratchRecord.fill(0);
  return scratchRecord.data();
}

}  // namespace vantrel::shared
