#include <benchmark/benchmark.h>

#include <memory>

#include "TesselNat/programmer/nat_entry_constants.h"
#include "TesselNat/programmer/nat_slave_programmer_sm.h"
#include "control_plane/nat_control_plane.h"
#include "platform/framework/kiv/activity_lock.h"
#include "platform/switch/chip/simulated_chip.h"
#include "platform/switch/sdk/sdk.h"
#include "platform/switch/tcam/tessel_tcam_group_manager.h"

namespace {

constexpr U16 module = 1;

// A module's programmer on a simulated chip with `rules` static destination NAPT rules
// published, each on two VLANs (four field entries per rule).
class LoadedProgrammer {
public:
   explicit LoadedProgrammer(U32 rules) : installed_(chip_) {
      groups_->unboundedEntryManagerIs(
          TcamGroupConfig{Tessel::natTcamGroupAssignment, 1, 4 * rules, 1, 1});
      for (U32 uid = 1; uid <= rules; ++uid) {
         const Ember::NatHwKey key(
             Ember::NatKeyType::staticDestNat, {}, {}, {Netbase::IpAddr(0xCB007100 + uid), 80},
             {Netbase::IpAddr(0x0A000000 + uid), 8080}, Ember::NatAclId(1), 0, 0);
         Ember::NatHwData data(6, {}, 1, 5);
         const U16 vlans[] = {10, 20};
         data.vlanIdsIs(2, vlans);
         controlPlane_.ruleIs({TesselNat::Uid(uid), key, data, {TesselCentral::ModId(module)}, {}});
      }
   }

   void commitAll(U32 rules) {
      for (U32 uid = 1; uid <= rules; ++uid) programmer_->doCommitHwConfig(TesselNat::Uid(uid));
   }

private:
   Kiv::ActivityGuard framework_{Kiv::activityLock()};
   Chip::SimulatedChip chip_{Chip::SimulatedChip::Config{2, 8192}};
   Shim::ScopedBackend installed_;
   Kiv::Ptr<TesselTcamGroupManager> groups_ = new TesselTcamGroupManager(8192);
   Kiv::Ptr<Shoal::SharedStore> sharedMemory_ = new Shoal::SharedStore;
   ControlPlane::NatControlPlane controlPlane_{sharedMemory_};
   Kiv::Ptr<Quill::QuillShoalStatusDir> statuses_ = new Quill::QuillShoalStatusDir("status");
   Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer_ = new Tessel::NatSlaveProgrammerSm(
       controlPlane_.quillShoalConfigDir(), statuses_, controlPlane_.shadow(),
       controlPlane_.uidHwKeyTable(), controlPlane_.hwKeyUidTable(), controlPlane_.ingModSetDir(),
       TesselCentral::ModId(module), groups_, nullptr);
};

// First commit of every rule: entries taken, recorded, written and installed.
void BM_CommitNewRules(benchmark::State& state) {
   const auto rules = static_cast<U32>(state.range(0));
   std::unique_ptr<LoadedProgrammer> loaded;
   for (auto _ : state) {
      state.PauseTiming();
      loaded.reset();
      loaded = std::make_unique<LoadedProgrammer>(rules);
      state.ResumeTiming();
      loaded->commitAll(rules);
   }
   state.SetItemsProcessed(state.iterations() * rules);
}
BENCHMARK(BM_CommitNewRules)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

// Commit again: every entry rewritten in place and reinstalled.
void BM_RecommitRules(benchmark::State& state) {
   const auto rules = static_cast<U32>(state.range(0));
   LoadedProgrammer loaded(rules);
   loaded.commitAll(rules);
   for (auto _ : state) loaded.commitAll(rules);
   state.SetItemsProcessed(state.iterations() * rules);
}
BENCHMARK(BM_RecommitRules)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
