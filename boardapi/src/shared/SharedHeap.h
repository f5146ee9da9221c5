// Layout of the shared mapping and the block allocator that carves it.
//
//   offset 0     SharedHeapHeader (128 bytes)
//   offset 128   the heap: blocks of whole 124-byte units, one after another
//
// Every block starts with a SharedBlockHeader (one unit) and its data follows
// at block offset 124. Integers are 32-bit little-endian, kept in place.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace vantrel::shared {

static_assert(std::endian::native == std::endian::little,
              "the shared heap's integers are little-endian and are used in place");

inline constexpr std::size_t kObjectNameSize = 50;
inline constexpr std::size_t kUnitSize = 124;
inline constexpr std::size_t kHeapHeaderSize = 128;
inline constexpr std::size_t kHeapStart = kHeapHeaderSize;
// What the unit count leaves out of the mapping: the header plus one unit.
inline constexpr std::size_t kHeapOverhead = 252;

struct SharedLockDescriptor {
  char name[kObjectNameSize];
  std::uint8_t pad0[2];
  std::uint32_t count;
  std::uint8_t pad1[4];
};
static_assert(sizeof(SharedLockDescriptor) == 60);
static_assert(offsetof(SharedLockDescriptor, count) == 52);

struct SharedRegionDescriptor {
  char name[kObjectNameSize];
  std::uint8_t pad0[2];
  std::uint32_t id;
  SharedLockDescriptor lock;
  std::uint32_t size;
};
static_assert(sizeof(SharedRegionDescriptor) == 120);
static_assert(offsetof(SharedRegionDescriptor, id) == 52);
static_assert(offsetof(SharedRegionDescriptor, lock) == 56);
static_assert(offsetof(SharedRegionDescriptor, size) == 116);

struct SharedHeapHeader {
  SharedRegionDescriptor region;
  std::uint32_t initCount;
  std::uint32_t units;
};
static_assert(sizeof(SharedHeapHeader) == kHeapHeaderSize);
static_assert(offsetof(SharedHeapHeader, initCount) == 120);
static_assert(offsetof(SharedHeapHeader, units) == 124);

struct SharedBlockHeader {
  char name[kObjectNameSize];
  std::uint8_t pad0[2];
  std::uint32_t id;
  SharedLockDescriptor lock;
  std::uint32_t refCount;  // 0: free
  std::uint32_t length;    // in units, header included
};
static_assert(sizeof(SharedBlockHeader) == kUnitSize);
static_assert(offsetof(SharedBlockHeader, id) == 52);
static_assert(offsetof(SharedBlockHeader, lock) == 56);
static_assert(offsetof(SharedBlockHeader, refCount) == 116);
static_assert(offsetof(SharedBlockHeader, length) == 120);

// Name "<base>_SEM_<number>" (cut to 49 characters) with the recorded count.
SharedLockDescriptor MakeLockDescriptor(const char* base, int number, std::uint32_t count);
SharedRegionDescriptor MakeRegionDescriptor(const char* name, std::uint32_t id,
                                            const SharedLockDescriptor& lock, std::uint32_t size);

// Units a mapping of `mappingSize` bytes holds: (size - 252) / 124.
std::uint32_t UnitsForMapping(std::size_t mappingSize);
// Units a block of `bytes` (header included) takes: bytes / 124 rounded up,
// at least the header's one.
std::uint32_t UnitsForBlock(std::size_t bytes);

// The heap inside a mapped view. It does no locking; callers hold lock 0.
class SharedHeap {
 public:
  SharedHeap(std::uint8_t* base, std::size_t mappingSize)
      : base_(base), mappingSize_(mappingSize) {}

  SharedHeapHeader& Header() const;
  // Writes the header of a fresh mapping: the region's descriptor, count 1,
  // the unit total and one free block spanning all of it.
  void Initialise(const SharedRegionDescriptor& region) const;

  // The header's unit total, cut to what the mapping holds so that a damaged
  // header cannot send the walk outside the view.
  std::uint32_t Units() const;
  SharedBlockHeader* BlockAt(std::uint32_t unit) const;
  std::uint32_t UnitOf(const SharedBlockHeader* block) const;
  // Byte offset of the block in the mapping.
  std::size_t OffsetOf(const SharedBlockHeader* block) const;

  // Calls visit(unit, block) for each block from the first. The walk ends at
  // the unit total or at the first block whose length is 0 or runs past it.
  template <class Visit>
  void ForEachBlock(Visit visit) const {
    const std::uint32_t units = Units();
    std::uint32_t unit = 0;
    while (unit < units) {
      SharedBlockHeader* block = BlockAt(unit);
      const std::uint32_t length = block->length;
      if (length == 0 || length > units - unit) return;
      if (!visit(unit, block)) return;
      unit += length;
    }
  }

  // The block with that id and name that holds at least `units` units, taken
  // or free, or nullptr.
  SharedBlockHeader* Find(const char* name, std::uint32_t id, std::uint32_t units) const;

  // Finds the block by name and id and counts one more reference to it, or
  // takes a new block of `sizeAsked` bytes (first fit, split) and names it.
  // Returns nullptr when no block fits. `taken` tells whether the block was
  // taken now (its data is then whatever the fresh mapping held).
  SharedBlockHeader* Attach(const char* name, std::uint32_t id, std::size_t sizeAsked,
                            bool* taken) const;

 private:
  // Makes `block` (free, at least `units` long) a taken block of exactly
  // `units` with that name and id; the rest of it becomes a free block.
  void Take(SharedBlockHeader* block, std::uint32_t units, const char* name,
            std::uint32_t id) const;

  std::uint8_t* base_;
  std::size_t mappingSize_;
};

}  // namespace vantrel::shared
