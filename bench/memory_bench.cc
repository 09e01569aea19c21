// The plug-in's heap per programmed rule: what the programmer keeps for a single-VLAN key
// (its entry-id record and all else), without the chip, the TCAM manager's bookkeeping or
// the status records, which live in shared memory.

#include <benchmark/benchmark.h>

#include "TesselNat/programmer/nat_entry_constants.h"
#include "bench/heap_counter.h"
#include "bench/loaded_programmer.h"
#include "bench/sdk_recorder.h"
#include "platform/framework/kiv/activity_lock.h"
#include "platform/switch/chip/simulated_chip.h"
#include "platform/switch/sdk/sdk.h"
#include "platform/switch/tcam/tessel_tcam_group_manager.h"

namespace {

using Bench::LoadedProgrammer;
using Bench::entriesPerRule;
using Bench::module;

// What the TCAM manager keeps for `entries` entries, with the chip left out.
Bench::HeapUse tcamManagerHeap(U32 entries) {
   const Kiv::ActivityGuard framework(Kiv::activityLock());
   Chip::SimulatedChip chip(Chip::SimulatedChip::Config{2, entries});
   Bench::SdkRecorder notCounted(chip);
   const Shim::ScopedBackend installed(notCounted);
   const Kiv::Ptr<TesselTcamGroupManager> groups = new TesselTcamGroupManager(entries);
   const auto manager =
       groups->unboundedEntryManagerIs({Tessel::natTcamGroupAssignment, 1, entries, 1, 1});
   const Bench::HeapUse before = Bench::heapUse();
   for (U32 i = 0; i < entries; ++i) manager->getEntry(module, Tessel::natTcamEntryName);
   const Bench::HeapUse after = Bench::heapUse();
   return {after.bytes - before.bytes, after.allocations - before.allocations};
}

void BM_PluginHeapPerRule(benchmark::State& state) {
   const auto rules = static_cast<U32>(state.range(0));
   double bytes = 0;
   double allocations = 0;
   const Bench::HeapCount counting;
   for (auto _ : state) {
      Bench::HeapUse before;
      Bench::HeapUse after;
      {
         LoadedProgrammer loaded(rules);
         Bench::SdkRecorder notCounted(loaded.chip());
         const Shim::ScopedBackend installed(notCounted);
         before = Bench::heapUse();
         loaded.commitAll();
         after = Bench::heapUse();
      }
      const Bench::HeapUse tcam = tcamManagerHeap(entriesPerRule * rules);
      bytes = static_cast<double>(after.bytes - before.bytes - tcam.bytes) / rules;
      allocations =
          static_cast<double>(after.allocations - before.allocations - tcam.allocations) / rules;
   }
   state.counters["bytes_per_rule"] = bytes;
   state.counters["allocations_per_rule"] = allocations;
}
BENCHMARK(BM_PluginHeapPerRule)
    ->Arg(1024)
    ->Arg(65535)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
