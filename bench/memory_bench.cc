// The plug-in's heap per programmed rule: what the programmer keeps for a single-VLAN key
// (its entry-id record and all else), without the chip, the TCAM manager's bookkeeping or
// the status records, which live in shared memory.

#include <benchmark/benchmark.h>

#include "TesselNat/programmer/nat_entry_constants.h"
#include "TesselNat/programmer/nat_slave_programmer_sm.h"
#include "bench/heap_counter.h"
#include "bench/sdk_recorder.h"
#include "control_plane/nat_control_plane.h"
#include "platform/framework/kiv/activity_lock.h"
#include "platform/switch/chip/simulated_chip.h"
#include "platform/switch/sdk/sdk.h"
#include "platform/switch/tcam/tessel_tcam_group_manager.h"

namespace {

constexpr U16 module = 1;
constexpr U32 entriesPerRule = 2;  // a port-translating key on one VLAN: default and fragment

// A module's programmer with `rules` static destination NAPT rules on one VLAN published, and
// a status record already there for each, as after an earlier answer.
class LoadedProgrammer {
public:
   explicit LoadedProgrammer(U32 rules) : rules_(rules) {
      groups_->unboundedEntryManagerIs(
          TcamGroupConfig{Tessel::natTcamGroupAssignment, 1, entriesPerRule * rules, 1, 1});
      for (U32 uid = 1; uid <= rules; ++uid) {
         const Ember::NatHwKey key(
             Ember::NatKeyType::staticDestNat, {}, {}, {Netbase::IpAddr(0xCB000000 + uid), 80},
             {Netbase::IpAddr(0x0A000000 + uid), 8080}, Ember::NatAclId(1), 0, 0);
         Ember::NatHwData data(6, {}, 1, 5);
         const U16 vlan = 10;
         data.vlanIdsIs(1, {&vlan, 1});
         controlPlane_.ruleIs({TesselNat::Uid(uid), key, data, {TesselCentral::ModId(module)}, {}});
         statuses_->quillStatusIs(Quill::QuillShoalStatus(Quill::QuillShoalKey(uid), 0, 0));
      }
   }

   void commitAll() {
      for (U32 uid = 1; uid <= rules_; ++uid) programmer_->doCommitHwConfig(TesselNat::Uid(uid));
   }
   Chip::SimulatedChip& chip() { return chip_; }

private:
   const U32 rules_;
   Kiv::ActivityGuard framework_{Kiv::activityLock()};
   Chip::SimulatedChip chip_{Chip::SimulatedChip::Config{2, entriesPerRule* rules_}};
   Shim::ScopedBackend installed_{chip_};
   Kiv::Ptr<TesselTcamGroupManager> groups_ = new TesselTcamGroupManager(entriesPerRule * rules_);
   Kiv::Ptr<Shoal::SharedStore> sharedMemory_ = new Shoal::SharedStore;
   // Its own status directory answers them all.
   ControlPlane::NatControlPlane controlPlane_{sharedMemory_, {module}, rules_};
   Kiv::Ptr<Quill::QuillShoalStatusDir> statuses_ = new Quill::QuillShoalStatusDir("status");
   Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer_ = new Tessel::NatSlaveProgrammerSm(
       controlPlane_.quillShoalConfigDir(), statuses_, controlPlane_.shadow(),
       controlPlane_.uidHwKeyTable(), controlPlane_.hwKeyUidTable(), controlPlane_.ingModSetDir(),
       TesselCentral::ModId(module), groups_, nullptr);
};

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
