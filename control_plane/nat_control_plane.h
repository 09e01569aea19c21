#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
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
// up to the data's faIdLimit (at least one key), to be committed by the listed modules (those
// of them that are in the switch; the others get it when they come). The
// base key carries `data`; each later key carries its entry of `keyData` (its own filter and
// protocol), or `data` when the list is shorter.
struct NatRule {
   TesselNat::Uid uid;
   Ember::NatHwKey hwKey0;
   Ember::NatHwData data;
   std::vector<TesselCentral::ModId> modules;
   std::vector<Ember::NatHwData> keyData;
};

// How the modules answered a rule's current request.
enum class Answer : U8 {
   waiting,     // some pending module has not answered the current request yet
   programmed,  // every pending module answered result 1: the rule is clean (or gone)
   failed,      // some module answered 2: the rule stays dirty until retried
};

// Paths of the NAT tables, where the control plane publishes them and the plug-in mounts them.
inline constexpr const char* configDirPath = "tesselnat/ingQuillShoalConfigDir";
inline constexpr const char* hwKeyUidTablePath = "tesselnat/hwKeyUidTable";
inline constexpr const char* uidHwKeyTablePath = "tesselnat/uidHwKeyTable";
inline constexpr const char* shadowPath = "tesselnat/hwShadow";
inline constexpr const char* modSetDirPath = "tesselnat/ingModSetDir";
// A module's status directory, written by the agent only.
Kiv::String statusDirPath(TesselCentral::ModId modId);
// The answers a module's status directory holds. Every module answers every live request,
// whether or not the rule names it, so this bounds the live rules.
inline constexpr U32 answersPerModule = 16384;

// A stand-in for the NAT control plane: publishes rules into the shared NAT tables the way
// the real one does (shadow entries with their dirty state, both uid tables, the pending
// module set and a new translation request) and reads the modules' answers.
//
// A reader may look at the tables between any two of its writes, so the request that asks
// for a rule is written after everything the rule is made of (each key's shadow entry and
// uid, the base key, the pending set) and deleted before any of it: wherever a reader looks,
// a request names a whole rule.
class NatControlPlane {
public:
   // Publishes the NAT tables at their paths in `store`, creating those not there yet.
   // `modules`: the modules in the switch now. `liveRules`: the most rules live at once, what
   // the modules' status directories can answer.
   NatControlPlane(const Kiv::Ptr<Shoal::SharedStore>& store, std::set<U16> modules,
                   U32 liveRules = answersPerModule);
   ~NatControlPlane();

   // Publishes `rule` as new or changed: every key dirty, a new request. Keys of an earlier
   // version of the rule beyond the new faIdLimit leave the shadow once every module answered
   // the new request (a commit of the earlier version may still be programming them); a
   // module the new version
   // no longer names is not asked, and keeps what it had (dropping a module takes a removal
   // and a new rule). A new rule that the modules could not answer (as many live rules as
   // the limit already) is refused before anything is published: the reason comes back, and
   // nothing changed.
   std::optional<std::string> ruleIs(const NatRule& rule);
   // Asks every module in the switch for the rule's removal: its keys dirty "deleted", a new
   // request. A uid with no rule (never published, or refused) has nothing to remove.
   void ruleRemovalIs(TesselNat::Uid uid);
   // Forgets a removed rule entirely, as the control plane does once every module answered.
   void ruleDel(TesselNat::Uid uid);
   // Marks the rule's keys clean, as after a warm restart.
   void ruleCleanIs(TesselNat::Uid uid);
   // A new request for a published rule without changing its state, asked of every module
   // the rule names (those in the switch).
   void requestIs(TesselNat::Uid uid);
   // Asks again for a rule to be programmed, as after a failure: its keys dirty (unless it
   // is being removed) and a new request.
   void ruleRetryIs(TesselNat::Uid uid);
   // Publishes every rule again as new, as for an agent that came back cold; a rule being
   // removed is removed at once.
   void doRepublish();
   // An agent is about to come back: every rule is asked for again, as it was asked (a
   // removal stays one), since the new agent answers them all anew. The answers of the
   // previous run echo the earlier requests, so none of them passes for the new run's, also
   // where the control plane reads them before the new agent replaced its directories.
   void answersReread();
   // The module left the switch: no rule waits for it any more, and the rules keep naming it.
   void moduleDel(TesselCentral::ModId modId);
   // The module came (a line card inserted in its slot, empty): every rule that names it is
   // asked of it. The other modules are asked too only where they have not programmed the
   // rule's current version; the rest answer without touching hardware.
   void moduleIs(TesselCentral::ModId modId);
   bool moduleHas(TesselCentral::ModId modId) const { return modules_.contains(modId.value()); }

   // Reads the modules' answers to every outstanding request. A rule all its modules
   // answered with success is marked clean; a removed one leaves every table. A failure
   // leaves the rule dirty until requestIs retries it.
   void doReadAnswers();
   // The answer to the rule's current request, as last read; `programmed` for a uid the
   // control plane does not know (a removed rule).
   Answer answer(TesselNat::Uid uid) const;
   // Rules whose current request is not answered by all their modules yet.
   std::size_t outstandingRequests() const { return outstanding_.size(); }
   bool ruleHas(TesselNat::Uid uid) const { return rules_.contains(uid.value()); }

   // The module's status directory as the control plane reads it; null while the module's
   // agent has made none.
   const Quill::QuillShoalStatusDir* statusDir(TesselCentral::ModId modId);

   U32 reqVersion(TesselNat::Uid uid) const;
   // The keys the rule currently has in the shadow.
   std::vector<Ember::NatHwKey> keys(TesselNat::Uid uid) const;
   // Every key of every rule.
   std::vector<Ember::NatHwKey> shadowKeys() const;
   // The rule as last published.
   const NatRule& rule(TesselNat::Uid uid) const { return rules_.at(uid.value()); }

   const Kiv::Ptr<Ember::NatHwShadow>& shadow() const { return shadow_; }
   const Kiv::Ptr<TesselNat::HwKeyUidTable>& hwKeyUidTable() const { return hwKeyUidTable_; }
   const Kiv::Ptr<TesselNat::UidHwKeyTable>& uidHwKeyTable() const { return uidHwKeyTable_; }
   const Kiv::Ptr<TesselNat::ModSetDir>& ingModSetDir() const { return ingModSetDir_; }
   const Kiv::Ptr<Quill::QuillShoalConfigDir>& quillShoalConfigDir() const { return configDir_; }

private:
   struct StatusMount;

   const Quill::QuillShoalStatusDir* statusDirOf(TesselCentral::ModId modId);
   // The answer of `modId` to the uid's request `reqVersion`.
   Answer moduleAnswer(TesselCentral::ModId modId, U32 uid, U32 reqVersion);
   void dirtyIs(TesselNat::Uid uid, Ember::NatHwShadowEntry::Dirty dirty);
   // Publishes the uid's pending set: `modules` that are in the switch.
   void pendingSetIs(TesselNat::Uid uid, const std::vector<TesselCentral::ModId>& modules);
   // A new request for the uid, asked of `modules` (those in the switch).
   void requestOf(TesselNat::Uid uid, const std::vector<TesselCentral::ModId>& modules);
   // Removes the rule's keys from faId `from` on from the shadow and the key-to-uid table.
   void keysDel(TesselNat::Uid uid, U32 from);
   // The rule's keys from faId `from` on, which it no longer has, wait in retired_.
   void keysRetire(TesselNat::Uid uid, U32 from);
   void retiredDel(U32 uid);

   Kiv::Ptr<Quill::QuillShoalConfigDir> configDir_;
   Kiv::Ptr<TesselNat::HwKeyUidTable> hwKeyUidTable_;
   Kiv::Ptr<TesselNat::UidHwKeyTable> uidHwKeyTable_;
   Kiv::Ptr<Ember::NatHwShadow> shadow_;
   Kiv::Ptr<TesselNat::ModSetDir> ingModSetDir_;
   std::map<U32, NatRule> rules_;  // by uid
   std::map<U32, U32> keyCounts_;  // keys each rule has in the shadow, by uid
   // Keys of earlier versions of a rule, still in the shadow until the rule's request is
   // answered, by uid.
   std::map<U32, std::set<Ember::NatHwKey>> retired_;
   Kiv::Ptr<Shoal::SharedStore> store_;
   std::map<U32, bool> outstanding_;  // uid -> the request asks for the rule's removal
   std::set<U32> failed_;             // uids of the rules a module failed
   std::set<U16> modules_;            // the modules in the switch
   const U32 liveRules_;
   std::map<U16, std::unique_ptr<StatusMount>> statusMounts_;  // by module
   U64 readPass_ = 0;
   // Every request gets a value no earlier request had, whatever its uid: an answer left in
   // the directory of a module that was out while a uid went and came back must not pass for
   // the answer to the uid's new request.
   U32 lastReqVersion_ = 0;
};

}  // namespace ControlPlane
