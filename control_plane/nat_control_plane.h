#pragma once

#include <map>
#include <vector>

#include "platform/records/ember/nat_hw_data.h"
#include "platform/records/ember/nat_hw_key.h"
#include "platform/records/ember/nat_hw_shadow.h"
#include "platform/records/quill/quill_shoal_dirs.h"
#include "platform/records/tessel_central/mod_id.h"
#include "platform/records/tessel_nat/uid.h"
#include "platform/records/tessel_nat/uid_tables.h"
#include "platform/tables/shoal/shared_store.h"

namespace ControlPlane {

// One NAT rule as the control plane publishes it: keys hwKey0, hwKey0 with faId + 1, ...
// up to the data's faIdLimit (at least one key), all with the same data, to be committed by
// the listed modules.
struct NatRule {
   TesselNat::Uid uid;
   Ember::NatHwKey hwKey0;
   Ember::NatHwData data;
   std::vector<TesselCentral::ModId> modules;
};

// Paths of the NAT tables, where the control plane publishes them and the plug-in mounts them.
inline constexpr const char* configDirPath = "tesselnat/ingQuillShoalConfigDir";
inline constexpr const char* hwKeyUidTablePath = "tesselnat/hwKeyUidTable";
inline constexpr const char* uidHwKeyTablePath = "tesselnat/uidHwKeyTable";
inline constexpr const char* shadowPath = "tesselnat/hwShadow";
inline constexpr const char* modSetDirPath = "tesselnat/ingModSetDir";

// A stand-in for the NAT control plane: publishes rules into the shared NAT tables the way
// the real one does (shadow entries with their dirty state, both uid tables, the pending
// module set and a new translation request) and reads the modules' answers.
class NatControlPlane {
public:
   // Publishes the NAT tables at their paths in `store`, creating those not there yet.
   explicit NatControlPlane(const Kiv::Ptr<Shoal::SharedStore>& store);

   // Publishes `rule` as new or changed: every key dirty, a new request. Keys of an earlier
   // version of the rule beyond the new faIdLimit leave the shadow.
   void ruleIs(const NatRule& rule);
   // Asks for the rule's removal: its keys dirty "deleted", a new request.
   void ruleRemovalIs(TesselNat::Uid uid);
   // Forgets a removed rule entirely, as the control plane does once every module answered.
   void ruleDel(TesselNat::Uid uid);
   // Marks the rule's keys clean, as after a warm restart.
   void ruleCleanIs(TesselNat::Uid uid);
   // A new request for the uid without changing its state.
   void requestIs(TesselNat::Uid uid);

   U32 reqVersion(TesselNat::Uid uid) const;
   // The keys the rule currently has in the shadow.
   std::vector<Ember::NatHwKey> keys(TesselNat::Uid uid) const;
   // The rule as last published.
   const NatRule& rule(TesselNat::Uid uid) const { return rules_.at(uid.value()); }

   const Kiv::Ptr<Ember::NatHwShadow>& shadow() const { return shadow_; }
   const Kiv::Ptr<TesselNat::HwKeyUidTable>& hwKeyUidTable() const { return hwKeyUidTable_; }
   const Kiv::Ptr<TesselNat::UidHwKeyTable>& uidHwKeyTable() const { return uidHwKeyTable_; }
   const Kiv::Ptr<TesselNat::ModSetDir>& ingModSetDir() const { return ingModSetDir_; }
   const Kiv::Ptr<Quill::QuillShoalConfigDir>& quillShoalConfigDir() const { return configDir_; }

private:
   void dirtyIs(TesselNat::Uid uid, Ember::NatHwShadowEntry::Dirty dirty);
   // Removes the rule's keys from faId `from` on from the shadow and the key-to-uid table.
   void keysDel(TesselNat::Uid uid, U32 from);

   Kiv::Ptr<Quill::QuillShoalConfigDir> configDir_;
   Kiv::Ptr<TesselNat::HwKeyUidTable> hwKeyUidTable_;
   Kiv::Ptr<TesselNat::UidHwKeyTable> uidHwKeyTable_;
   Kiv::Ptr<Ember::NatHwShadow> shadow_;
   Kiv::Ptr<TesselNat::ModSetDir> ingModSetDir_;
   std::map<U32, NatRule> rules_;  // by uid
   std::map<U32, U32> keyCounts_;  // keys each rule has in the shadow, by uid
};

}  // namespace ControlPlane
