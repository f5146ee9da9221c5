// A process using the library's shared state, driven by its command line.
// Each argument is one command, its fields separated by ':'; objects are
// numbered by their locks (1 OutOnCopies, 2 OutOffCopies, 3 K27EEPROMS,
// 4 K27BUFFERS). Every command prints one line (info several) on stdout.
//
//   write:<obj>:<slot>:<byte>   byte 0 of the record, under the lock   -> "wrote"
//   read:<obj>:<slot>           byte 0 of the record                   -> "value <n>"
//   read32:<obj>:<slot>         bytes 0-3 of the record                -> "value32 <n>"
//   count:<obj>:<times>         adds 1 to bytes 0-3 of record 15, each
//                               time under the lock                    -> "counted"
//   lock:<obj> / unlock:<obj>                                          -> "locked <obj>" /
//   "unlocked <obj>" trylock:<obj>               (stays held when got)                  -> "trylock
//   <obj> got|busy" info                        the heap header and the heap's blocks  -> "heap
//   ...", "block ..."..., "end" objects                     per object: block offset or -1, lock
//   handle 1/0 detach                      detaches the objects as unloading does -> "detached"
//   locks                       named locks open in the process        -> "locks <n>"
//   available                   -> "available", or "unavailable <why>"
//   wait                        prints "waiting", then reads one line of stdin
// At the end "done", exit status 0.
#include <sched.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "shared/NamedMutexLock.h"
#include "shared/SharedObject.h"
#include "shared/SharedState.h"

namespace {

using namespace vantrel::shared;

SharedBlockObject& Object(int number) {
  SharedState& state = State();
  SharedObject* objects[] = {&state.outOnCopies, &state.outOffCopies, &state.eeproms,
                             &state.buffers};
  if (number < 1 || number > 4) {
    std::cout << "error object " << number << std::endl;
    std::exit(2);
  }
  return dynamic_cast<SharedBlockObject&>(*objects[number - 1]);
}

std::size_t RecordSize(int number) {
  switch (number) {
    case 3:
      return kEepromConfigCopySize;
    case 4:
      return kReceiveBufferSize;
    default:
      return kOutputCopySize;
  }
}

std::uint8_t* RecordOf(int number, int slot) {
  return Record(Object(number), RecordSize(number), slot);
}

std::vector<std::string> Fields(const std::string& command) {
  std::vector<std::string> fields;
  std::stringstream stream(command);
  std::string field;
  while (std::getline(stream, field, ':')) fields.push_back(field);
  return fields;
}

int Number(const std::vector<std::string>& fields, std::size_t index) {
  if (index >= fields.size()) {
    std::cout << "error missing field" << std::endl;
    std::exit(2);
  }
  return std::atoi(fields[index].c_str());
}

void Info() {
  SharedSegment* segment = Object(1).Segment();
  if (segment == nullptr || segment->View() == nullptr) {
    std::cout << "heap none" << std::endl << "end" << std::endl;
    return;
  }
  SharedHeap heap = segment->Heap();
  const SharedHeapHeader& header = heap.Header();
  // The heap is read under the region's lock, as attaching writes it.
  segment->Lock().Lock();
  std::cout << "heap " << header.units << ' ' << header.initCount << ' ' << header.region.name
            << ' ' << header.region.lock.name << ' ' << header.region.lock.count << ' '
            << header.region.size << std::endl;
  heap.ForEachBlock([](std::uint32_t unit, SharedBlockHeader* block) {
    std::cout << "block " << unit << ' ' << (block->name[0] != '\0' ? block->name : "-") << ' '
              << block->length << ' ' << block->refCount << std::endl;
    return true;
  });
  segment->Lock().Unlock();
  std::cout << "end" << std::endl;
}

void Objects() {
  for (int number = 1; number <= 4; ++number) {
    SharedBlockObject& object = Object(number);
    long offset = -1;
    if (object.Block() != nullptr)
      offset = static_cast<long>(object.Segment()->Heap().OffsetOf(object.Block()));
    const bool handle = object.LockHandle() != nullptr && object.LockHandle()->HasHandle();
    std::cout << "object " << number << ' ' << offset << ' ' << (handle ? 1 : 0) << std::endl;
  }
}

void Count(int number, int times) {
  SharedBlockObject& object = Object(number);
  for (int i = 0; i < times; ++i) {
    SharedLockGuard guard(object);
    std::uint8_t* record = RecordOf(number, kBoardSlots - 1);
    std::uint32_t value;
    std::memcpy(&value, record, sizeof value);
    // Give the other side every chance to run between the read and the write.
    if (i % 16 == 0) sched_yield();
    ++value;
    std::memcpy(record, &value, sizeof value);
  }
  std::cout << "counted" << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::vector<std::string> fields = Fields(argv[i]);
    const std::string& command = fields.empty() ? std::string() : fields[0];
    if (command == "write") {
      SharedBlockObject& object = Object(Number(fields, 1));
      SharedLockGuard guard(object);
      RecordOf(Number(fields, 1), Number(fields, 2))[0] =
          static_cast<std::uint8_t>(Number(fields, 3));
      std::cout << "wrote" << std::endl;
    } else if (command == "read") {
      SharedLockGuard guard(Object(Number(fields, 1)));
      std::cout << "value " << int(RecordOf(Number(fields, 1), Number(fields, 2))[0]) << std::endl;
    } else if (command == "read32") {
      SharedLockGuard guard(Object(Number(fields, 1)));
      std::uint32_t value;
      std::memcpy(&value, RecordOf(Number(fields, 1), Number(fields, 2)), sizeof value);
      std::cout << "value32 " << value << std::endl;
    } else if (command == "count") {
      Count(Number(fields, 1), Number(fields, 2));
    } else if (command == "lock") {
      Object(Number(fields, 1)).Lock();
      std::cout << "locked " << Number(fields, 1) << std::endl;
    } else if (command == "unlock") {
      Object(Number(fields, 1)).Unlock();
      std::cout << "unlocked " << Number(fields, 1) << std::endl;
    } else if (command == "trylock") {
      const bool got = Object(Number(fields, 1)).TryLock();
      std::cout << "trylock " << Number(fields, 1) << (got ? " got" : " busy") << std::endl;
    } else if (command == "info") {
      Info();
    } else if (command == "objects") {
      Objects();
    } else if (command == "detach") {
      dynamic_cast<SharedLockObject&>(State().download).Detach();
      for (int number = 4; number >= 1; --number) Object(number).Detach();
      std::cout << "detached" << std::endl;
    } else if (command == "available") {
      if (Available())
        std::cout << "available" << std::endl;
      else
        std::cout << "unavailable " << UnavailableReason() << std::endl;
    } else if (command == "locks") {
      std::cout << "locks " << NamedMutexLock::CountInProcess() << std::endl;
    } else if (command == "wait") {
      std::cout << "waiting" << std::endl;
      std::string line;
      std::getline(std::cin, line);
    } else {
      std::cout << "error " << argv[i] << std::endl;
      return 2;
    }
  }
  std::cout << "done" << std::endl;
  return 0;
}
