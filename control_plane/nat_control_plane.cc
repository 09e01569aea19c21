#include "control_plane/nat_control_plane.h"

#include <algorithm>
#include <utility>

#include "platform/records/tessel_nat/nat_table_types.h"

namespace ControlPlane {

// A read-only mount of a module's status directory. The agent creates the directory and it
// goes with the agent, so the mount follows whatever table the store holds at the path.
struct NatControlPlane::StatusMount {
   std::shared_ptr<Shoal::TableState> state;
   Kiv::Ptr<Quill::QuillShoalStatusDir> dir;
   U64 pass = 0;  // the reading pass that last found it in the store
};

Kiv::String statusDirPath(TesselCentral::ModId modId) {
   return Kiv::format("tesselnat/ingQuillShoalStatusDir/%u", unsigned{modId.value()});
}

namespace {

Ember::NatHwKey keyWithFaId(const Ember::NatHwKey& hwKey0, U32 faId) {
   Ember::NatHwKey key = hwKey0;
   key.faIdIs(faId);
   return key;
}

}  // namespace

NatControlPlane::NatControlPlane(const Kiv::Ptr<Shoal::SharedStore>& store, std::set<U16> modules,
                                 U32 liveRules)
    : store_(store), modules_(std::move(modules)), liveRules_(liveRules) {
   TesselNat::natTableTypesIs();
   configDir_ = Shoal::publisherMount<Quill::QuillShoalConfigDir>(*store, configDirPath);
   hwKeyUidTable_ = Shoal::publisherMount<TesselNat::HwKeyUidTable>(*store, hwKeyUidTablePath);
   uidHwKeyTable_ = Shoal::publisherMount<TesselNat::UidHwKeyTable>(*store, uidHwKeyTablePath);
   shadow_ = Shoal::publisherMount<Ember::NatHwShadow>(*store, shadowPath);
   ingModSetDir_ = Shoal::publisherMount<TesselNat::ModSetDir>(*store, modSetDirPath);
}

NatControlPlane::~NatControlPlane() = default;

std::optional<std::string> NatControlPlane::ruleIs(const NatRule& rule) {
   const U32 uid = rule.uid.value();
   if (!rules_.contains(uid) && rules_.size() >= liveRules_) {
      return "refused: " + std::to_string(liveRules_) +
             " rules are live, as many as a module's status directory can answer";
   }
   const U32 first = rule.hwKey0.faId();
   const U32 count =
       std::max<U32>(1, rule.data.faIdLimit() > first ? rule.data.faIdLimit() - first : 0);
   auto previous = rules_.find(uid);
   if (previous != rules_.end()) {
      // A rule keeps its keys below the new limit only if its base key stayed the same.
      const bool sameKeys = previous->second.hwKey0 == rule.hwKey0;
      keysRetire(rule.uid, sameKeys ? first + count : previous->second.hwKey0.faId());
   }
   rules_.insert_or_assign(uid, rule);
   keyCounts_[uid] = count;

   const auto retired = retired_.find(uid);
   for (U32 faId = first; faId < first + count; ++faId) {
      const Ember::NatHwKey key = keyWithFaId(rule.hwKey0, faId);
      if (retired != retired_.end()) retired->second.erase(key);
      const U32 index = faId - first;
      const Ember::NatHwData& data =
          index >= 1 && index <= rule.keyData.size() ? rule.keyData[index - 1] : rule.data;
      shadow_->entryIs(Ember::NatHwShadowEntry(key, data, Ember::NatHwShadowEntry::Dirty::dirty));
      hwKeyUidTable_->entryIs(TesselNat::UidEntry(key, rule.uid));
   }
   uidHwKeyTable_->entryIs(TesselNat::HwKeyEntry(rule.uid, rule.hwKey0));
   requestIs(rule.uid);
   outstanding_[uid] = false;
   return std::nullopt;
}

void NatControlPlane::pendingSetIs(TesselNat::Uid uid,
                                   const std::vector<TesselCentral::ModId>& modules) {
   TesselNat::ModSet pending;
   for (TesselCentral::ModId modId : modules) {
      if (moduleHas(modId)) pending.moduleIs(modId);
   }
   ingModSetDir_->modSetIs(TesselNat::ModSetEntry(uid, pending));
}

// Asked of every module in the switch: a hitless pass after a warm restart programs every
// rule on every module, also on those the rule does not name.
void NatControlPlane::ruleRemovalIs(TesselNat::Uid uid) {
   if (!rules_.contains(uid.value())) return;
   dirtyIs(uid, Ember::NatHwShadowEntry::Dirty::deleted);
   std::vector<TesselCentral::ModId> everyModule;
   for (U16 module : modules_) everyModule.emplace_back(module);
   requestOf(uid, everyModule);
   outstanding_[uid.value()] = true;
}

// The request goes first: a reader between two of these writes finds either the whole rule or
// no request for it, never a request whose keys are gone.
void NatControlPlane::ruleDel(TesselNat::Uid uid) {
   configDir_->quillConfigDel(Quill::QuillShoalKey(uid.value()));
   ingModSetDir_->modSetDel(uid);
   uidHwKeyTable_->entryDel(uid);
   keysDel(uid, rules_.at(uid.value()).hwKey0.faId());
   retiredDel(uid.value());
   rules_.erase(uid.value());
   keyCounts_.erase(uid.value());
   outstanding_.erase(uid.value());
   failed_.erase(uid.value());
}

void NatControlPlane::ruleCleanIs(TesselNat::Uid uid) {
   dirtyIs(uid, Ember::NatHwShadowEntry::Dirty::clean);
}

void NatControlPlane::requestIs(TesselNat::Uid uid) {
   requestOf(uid, rules_.at(uid.value()).modules);
}

// The pending set goes first: a module reads it when the request reaches it.
void NatControlPlane::requestOf(TesselNat::Uid uid,
                                const std::vector<TesselCentral::ModId>& modules) {
   pendingSetIs(uid, modules);
   const Quill::QuillShoalKey key(uid.value());
   configDir_->quillConfigIs(Quill::QuillShoalConfig(key, ++lastReqVersion_));
   // A retry asks again for what was asked.
   outstanding_.try_emplace(uid.value(), false);
   failed_.erase(uid.value());
}

void NatControlPlane::ruleRetryIs(TesselNat::Uid uid) {
   const auto request = outstanding_.find(uid.value());
   const bool removal = request != outstanding_.end() && request->second;
   if (!removal) dirtyIs(uid, Ember::NatHwShadowEntry::Dirty::dirty);
   requestIs(uid);
}

void NatControlPlane::doRepublish() {
   std::vector<U32> removed;
   for (const auto& [uid, removal] : outstanding_) {
      if (removal) removed.push_back(uid);
   }
   for (U32 uid : removed) ruleDel(TesselNat::Uid(uid));
   std::vector<NatRule> rules;
   for (const auto& [uid, rule] : rules_) rules.push_back(rule);
   for (const NatRule& rule : rules) ruleIs(rule);
}

void NatControlPlane::answersReread() {
   std::vector<TesselCentral::ModId> everyModule;
   for (U16 module : modules_) everyModule.emplace_back(module);
   for (const auto& [uid, rule] : rules_) {
      const auto request = outstanding_.find(uid);
      const bool removal = request != outstanding_.end() && request->second;
      requestOf(rule.uid, removal ? everyModule : rule.modules);
   }
   failed_.clear();
}

namespace {

bool names(const NatRule& rule, TesselCentral::ModId modId) {
   return std::find(rule.modules.begin(), rule.modules.end(), modId) != rule.modules.end();
}

}  // namespace

void NatControlPlane::moduleDel(TesselCentral::ModId modId) {
   modules_.erase(modId.value());
   for (const auto& [uid, rule] : rules_) {
      if (names(rule, modId)) pendingSetIs(rule.uid, rule.modules);
   }
   statusMounts_.erase(modId.value());
}

void NatControlPlane::moduleIs(TesselCentral::ModId modId) {
   if (!modules_.insert(modId.value()).second) return;
   for (const auto& [uid, rule] : rules_) {
      const auto request = outstanding_.find(uid);
      // A rule on its way out has nothing on the new card to remove.
      if (!names(rule, modId) || (request != outstanding_.end() && request->second)) continue;
      const bool settled = request == outstanding_.end() && !failed_.contains(uid);
      dirtyIs(rule.uid, Ember::NatHwShadowEntry::Dirty::dirty);
      requestOf(rule.uid, settled ? std::vector<TesselCentral::ModId>{modId} : rule.modules);
   }
}

void NatControlPlane::doReadAnswers() {
   ++readPass_;
   for (auto request = outstanding_.begin(); request != outstanding_.end();) {
      const U32 uid = request->first;
      const bool removal = request->second;
      const auto known = rules_.find(uid);
      if (known == rules_.end()) {
         request = outstanding_.erase(request);
         continue;
      }
      const NatRule& rule = known->second;
      const U32 version = reqVersion(rule.uid);
      Answer answer = Answer::programmed;
      const auto heard = [&](TesselCentral::ModId modId) {
         const Answer of = moduleAnswer(modId, uid, version);
         if (of == Answer::failed) answer = Answer::failed;
         if (of == Answer::waiting && answer == Answer::programmed) answer = Answer::waiting;
      };
      // A removal was asked of every module; each reads the request until it answers.
      if (removal) {
         for (U16 module : modules_) heard(TesselCentral::ModId(module));
      } else {
         for (TesselCentral::ModId modId : rule.modules) {
            if (moduleHas(modId)) heard(modId);
         }
      }
      if (answer == Answer::waiting) {
         ++request;
         continue;
      }
      request = outstanding_.erase(request);
      retiredDel(uid);
      if (answer == Answer::failed) {
         failed_.insert(uid);
      } else if (removal) {
         ruleDel(TesselNat::Uid(uid));
      } else {
         ruleCleanIs(TesselNat::Uid(uid));
      }
   }
}

Answer NatControlPlane::answer(TesselNat::Uid uid) const {
   if (failed_.contains(uid.value())) return Answer::failed;
   return outstanding_.contains(uid.value()) ? Answer::waiting : Answer::programmed;
}

// The module's directory is looked for in the store once per reading pass.
const Quill::QuillShoalStatusDir* NatControlPlane::statusDirOf(TesselCentral::ModId modId) {
   std::unique_ptr<StatusMount>& mount = statusMounts_[modId.value()];
   if (!mount || mount->pass != readPass_) {
      const Kiv::String path = statusDirPath(modId);
      const std::optional<Shoal::SharedStore::Table> table = store_->table(path);
      if (!table) {
         mount.reset();
         return nullptr;
      }
      if (!mount || mount->state != table->state) {
         mount.reset(new StatusMount{
             table->state,
             new Quill::QuillShoalStatusDir(path, table->state, Shoal::Access::readOnly)});
      }
      mount->pass = readPass_;
   }
   return mount->dir.ptr();
}

const Quill::QuillShoalStatusDir* NatControlPlane::statusDir(TesselCentral::ModId modId) {
   // A directory the agent made anew since the last reading pass is looked for again.
   ++readPass_;
   return statusDirOf(modId);
}

Answer NatControlPlane::moduleAnswer(TesselCentral::ModId modId, U32 uid, U32 reqVersion) {
   const Quill::QuillShoalStatusDir* dir = statusDirOf(modId);
   if (!dir) return Answer::waiting;
   bool found = false;
   const Quill::QuillShoalStatus status = dir->safeLookup(Quill::QuillShoalKey(uid), found);
   if (!found || status.reqVersion() != reqVersion) return Answer::waiting;
   return status.result() == 1 ? Answer::programmed : Answer::failed;
}

U32 NatControlPlane::reqVersion(TesselNat::Uid uid) const {
   bool found = false;
   return configDir_->safeLookup(Quill::QuillShoalKey(uid.value()), found).reqVersion();
}

std::vector<Ember::NatHwKey> NatControlPlane::keys(TesselNat::Uid uid) const {
   std::vector<Ember::NatHwKey> keys;
   auto rule = rules_.find(uid.value());
   if (rule == rules_.end()) return keys;
   const U32 first = rule->second.hwKey0.faId();
   for (U32 faId = first; faId < first + keyCounts_.at(uid.value()); ++faId) {
      keys.push_back(keyWithFaId(rule->second.hwKey0, faId));
   }
   return keys;
}

std::vector<Ember::NatHwKey> NatControlPlane::shadowKeys() const {
   std::vector<Ember::NatHwKey> all;
   for (const auto& [uid, rule] : rules_) {
      const std::vector<Ember::NatHwKey> ofRule = keys(rule.uid);
      all.insert(all.end(), ofRule.begin(), ofRule.end());
   }
   return all;
}

void NatControlPlane::dirtyIs(TesselNat::Uid uid, Ember::NatHwShadowEntry::Dirty dirty) {
   for (const Ember::NatHwKey& key : keys(uid)) {
      bool found = false;
      Ember::NatHwShadowEntry entry = shadow_->safeLookup(key, found);
      entry.dirtyIs(dirty);
      shadow_->entryIs(entry);
   }
}

void NatControlPlane::keysDel(TesselNat::Uid uid, U32 from) {
   auto rule = rules_.find(uid.value());
   if (rule == rules_.end()) return;
   const U32 end = rule->second.hwKey0.faId() + keyCounts_.at(uid.value());
   for (U32 faId = from; faId < end; ++faId) {
      const Ember::NatHwKey key = keyWithFaId(rule->second.hwKey0, faId);
      shadow_->entryDel(key);
      hwKeyUidTable_->entryDel(key);
   }
}

void NatControlPlane::keysRetire(TesselNat::Uid uid, U32 from) {
   auto rule = rules_.find(uid.value());
   if (rule == rules_.end()) return;
   const U32 end = rule->second.hwKey0.faId() + keyCounts_.at(uid.value());
   for (U32 faId = from; faId < end; ++faId) {
      retired_[uid.value()].insert(keyWithFaId(rule->second.hwKey0, faId));
   }
}

void NatControlPlane::retiredDel(U32 uid) {
   const auto retired = retired_.find(uid);
   if (retired == retired_.end()) return;
   for (const Ember::NatHwKey& key : retired->second) {
      shadow_->entryDel(key);
      hwKeyUidTable_->entryDel(key);
   }
   retired_.erase(retired);
}

}  // namespace ControlPlane
