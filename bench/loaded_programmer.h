#pragma once

#include "TesselNat/programmer/nat_entry_constants.h"
#include "TesselNat/programmer/nat_slave_programmer_sm.h"
#include "control_plane/nat_control_plane.h"
#include "platform/framework/kiv/activity_lock.h"
#include "platform/switch/chip/simulated_chip.h"
#include "platform/switch/sdk/sdk.h"
#include "platform/switch/tcam/tessel_tcam_group_manager.h"

namespace Bench {

inline constexpr U16 module = 1;
inline constexpr U32 entriesPerRule = 2;  // a port-translating key on one VLAN: default and fragment

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
   // Withdraws every rule, as the control plane does before the commits that remove them.
   void removalsPublish() {
      for (U32 uid = 1; uid <= rules_; ++uid) controlPlane_.ruleRemovalIs(TesselNat::Uid(uid));
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

}  // namespace Bench
