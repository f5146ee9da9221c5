#include "shared/SharedHeap.h"

#include <cstdio>
#include <cstring>
#include <limits>

namespace vantrel::shared {

namespace {

void CopyName(char (&target)[kObjectNameSize], const char* name) {
  std::memset(target, 0, kObjectNameSize);
  std::strncpy(target, name, kObjectNameSize - 1);
}

bool SameName(const char (&stored)[kObjectNameSize], const char* name) {
  return std::strncmp(stored, name, kObjectNameSize) == 0;
}

}  // namespace

SharedLockDescriptor MakeLockDescriptor(const char* base, int number, std::uint32_t count) {
  SharedLockDescriptor descriptor{};
  std::snprintf(descriptor.name, sizeof descriptor.name, "%s_SEM_%d", base, number);
  descriptor.count = count;
  return descriptor;
}

SharedRegionDescriptor MakeRegionDescriptor(const char* name, std::uint32_t id,
                                            const SharedLockDescriptor& lock, std::uint32_t size) {
  SharedRegionDescriptor descriptor{};
  CopyName(descriptor.name, name);
  descriptor.id = id;
  descriptor.lock = lock;
  descriptor.size = size;
  return descriptor;
}

std::uint32_t UnitsForMapping(std::size_t mappingSize) {
  if (mappingSize < kHeapOverhead) return 0;
  return static_cast<std::uint32_t>((mappingSize - kHeapOverhead) / kUnitSize);
}

std::uint32_t UnitsForBlock(std::size_t bytes) {
  const std::size_t units = (bytes + kUnitSize - 1) / kUnitSize;
  if (units == 0) return 1;
  if (units > std::numeric_limits<std::uint32_t>::max())
    return std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(units);
}

SharedHeapHeader& SharedHeap::Header() const { return *reinterpret_cast<SharedHeapHeader*>(base_); }

void SharedHeap::Initialise(const SharedRegionDescriptor& region) const {
  SharedHeapHeader& header = Header();
  header.region = region;
  header.initCount = 1;
  header.units = UnitsForMapping(region.size);
  SharedBlockHeader* first = BlockAt(0);
  CopyName(first->name, "");
  first->id = 0;
  first->lock = MakeLockDescriptor("", 0, 1);
  first->refCount = 0;
  first->length = Units();
}

std::uint32_t SharedHeap::Units() const {
  const std::uint32_t fits = UnitsForMapping(mappingSize_);
  const std::uint32_t recorded = Header().units;
  return recorded < fits ? recorded : fits;
}

SharedBlockHeader* SharedHeap::BlockAt(std::uint32_t unit) const {
  return reinterpret_cast<SharedBlockHeader*>(base_ + kHeapStart + std::size_t{unit} * kUnitSize);
}

std::uint32_t SharedHeap::UnitOf(const SharedBlockHeader* block) const {
  return static_cast<std::uint32_t>(OffsetOf(block) - kHeapStart) / kUnitSize;
}

std::size_t SharedHeap::OffsetOf(const SharedBlockHeader* block) const {
  return static_cast<std::size_t>(reinterpret_cast<const std::uint8_t*>(block) - base_);
}

SharedBlockHeader* SharedHeap::Find(const char* name, std::uint32_t id, std::uint32_t units) const {
  SharedBlockHeader* found = nullptr;
  ForEachBlock([&](std::uint32_t, SharedBlockHeader* block) {
    if (block->id == id && SameName(block->name, name) && block->length >= units) {
      found = block;
      return false;
    }
    return true;
  });
  return found;
}

SharedBlockHeader* SharedHeap::Attach(const char* name, std::uint32_t id, std::size_t sizeAsked,
                                      bool* taken) const {
  *taken = false;
  const std::uint32_t units = UnitsForBlock(sizeAsked);
  SharedBlockHeader* block = Find(name, id, units);
  if (block != nullptr && block->refCount != 0) {
    // Blocks are never given back, so the count only grows; it stops at its
    // maximum rather than wrapping round to "free".
    if (block->refCount != std::numeric_limits<std::uint32_t>::max()) ++block->refCount;
    return block;
  }
  if (block == nullptr) {
    // First fit.
    ForEachBlock([&](std::uint32_t, SharedBlockHeader* candidate) {
      if (candidate->refCount == 0 && candidate->length >= units) {
        block = candidate;
        return false;
      }
      return true;
    });
    if (block == nullptr) return nullptr;
  }
  // A free block carrying the name is one whose taking was cut short; it is
  // taken again in place.
  Take(block, units, name, id);
  *taken = true;
  return block;
}

void SharedHeap::Take(SharedBlockHeader* block, std::uint32_t units, const char* name,
                      std::uint32_t id) const {
  // The order of the writes keeps the heap walkable and the block findable
  // whatever point a process dies at: the remainder's header first, the
  // reference count last.
  const std::uint32_t length = block->length;
  if (length > units) {
    SharedBlockHeader* rest = BlockAt(UnitOf(block) + units);
    rest->length = length - units;
    rest->refCount = 0;
  }
  CopyName(block->name, name);
  block->id = id;
  block->lock = MakeLockDescriptor("", 0, 1);
  block->length = units;
  block->refCount = 1;
}

}  // namespace vantrel::shared
