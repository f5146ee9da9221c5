// Cost of guarding a record of the shared state when no other thread or
// process wants the lock: it must stay in user space.
//
// Run it under its own namespace (VANTREL_SHARED_NAMESPACE=bench) to keep it
// off the state of programs using boards on the same machine.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "shared/SharedState.h"

namespace {

using namespace vantrel::shared;

void LockUnlock(benchmark::State& state) {
  SharedObject& eeproms = State().eeproms;
  for (auto _ : state) {
    eeproms.Lock();
    eeproms.Unlock();
  }
}
BENCHMARK(LockUnlock);

// The inner lock of an operation that calls another one under the same lock.
void NestedLockUnlock(benchmark::State& state) {
  SharedObject& eeproms = State().eeproms;
  SharedLockGuard outer(eeproms);
  for (auto _ : state) {
    eeproms.Lock();
    eeproms.Unlock();
  }
}
BENCHMARK(NestedLockUnlock);

// A whole guarded update of one record, as the output operations do it.
void GuardedRecordUpdate(benchmark::State& state) {
  SharedObject& outputs = State().outOnCopies;
  for (auto _ : state) {
    SharedLockGuard guard(outputs);
    std::uint8_t* copy = Record(outputs, kOutputCopySize, 0);
    copy[0] ^= 1;
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(GuardedRecordUpdate);

}  // namespace
