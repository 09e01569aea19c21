#pragma once

#include <set>
#include <vector>

#include "TesselNat/diagnostics/verify_disagreement.h"
#include "TesselNat/programmer/entry_id_table.h"
#include "platform/framework/kiv/assert.h"
#include "platform/framework/kiv/ptr.h"
#include "platform/framework/kiv/reactor.h"
#include "platform/framework/kiv/type_registry.h"
#include "platform/records/ember/nat_hw_data.h"
#include "platform/records/ember/nat_hw_key.h"
#include "platform/records/tessel_central/mod_id.h"
#include "platform/records/tessel_common/tessel_common_sm_data.h"
#include "platform/records/tessel_nat/slave_programmer_sm.h"
#include "platform/switch/tcam/tessel_tcam_group_manager.h"

namespace Tessel {

// The NAT programmer of one switch module: turns the NAT keys of committed uids into field
// entries of the chip's ingress TCAM, records which entries implement which key on which
// VLAN, and answers each commit with a status record.
//
// Runs on the framework thread with the activity lock held; every SDK call releases the lock
// for its duration. A negative SDK code and a broken invariant of the mounted state are
// fatal. A full TCAM is not: it is event-logged and the commit answers result 2.
class NatSlaveProgrammerSm : public TesselNat::SlaveProgrammerSm {
public:
   // Constructs a programmer and switches its notifications on.
   static Kiv::Ptr<NatSlaveProgrammerSm> NatSlaveProgrammerSmIs(
       const Kiv::Ptr<const Quill::QuillShoalConfigDir>& quillShoalConfigDir,
       const Kiv::Ptr<Quill::QuillShoalStatusDir>& quillShoalStatusDir,
       const Kiv::Ptr<const Ember::NatHwShadow>& shadow,
       const Kiv::Ptr<const TesselNat::UidHwKeyTable>& uidHwKeyTable,
       const Kiv::Ptr<const TesselNat::HwKeyUidTable>& hwKeyUidTable,
       const Kiv::Ptr<const TesselNat::ModSetDir>& ingModSetDir, TesselCentral::ModId modId,
       const Kiv::Ptr<TesselTcamGroupManager>& tcamGroupManager,
       const Kiv::Ptr<const TesselCommonSmData>& scsd);

   // Constructs with the base's six tables, then watches `scsd` (when given) and takes the
   // warm-start flag from it as the hitless phase, then runs doInit(). The reactor on `scsd` is
   // active from construction; the base's reactors wait for hasNotificationActiveIs(true).
   NatSlaveProgrammerSm(const Kiv::Ptr<const Quill::QuillShoalConfigDir>& quillShoalConfigDir,
                        const Kiv::Ptr<Quill::QuillShoalStatusDir>& quillShoalStatusDir,
                        const Kiv::Ptr<const Ember::NatHwShadow>& shadow,
                        const Kiv::Ptr<const TesselNat::UidHwKeyTable>& uidHwKeyTable,
                        const Kiv::Ptr<const TesselNat::HwKeyUidTable>& hwKeyUidTable,
                        const Kiv::Ptr<const TesselNat::ModSetDir>& ingModSetDir,
                        TesselCentral::ModId modId,
                        const Kiv::Ptr<TesselTcamGroupManager>& tcamGroupManager,
                        const Kiv::Ptr<const TesselCommonSmData>& scsd);
   // Silences the reactors and forgets the entry-id table; no hardware is touched: the
   // programmed entries stay in the chip.
   ~NatSlaveProgrammerSm() override;

   TesselCentral::ModId modId() const { return modId_; }
   // The SDK unit of every SDK call: the module id.
   U16 unit() const { return modId_.value(); }
   const Kiv::Ptr<TesselTcamGroupManager>& tcamGroupManager() const { return tcamGroupManager_; }
   // The entry manager of the NAT TCAM group; null without a group manager or when the group
   // manager has none for the NAT group.
   Kiv::Ptr<TesselUnboundedTcamEntryManager> tcamEntryManager() const;
   const Kiv::Ptr<const TesselCommonSmData>& scsd() const { return scsd_; }
   bool hitlessInitPhase() const { return hitlessInitPhase_; }
   void hitlessInitPhaseIs(bool hitlessInitPhase) { hitlessInitPhase_ = hitlessInitPhase; }

   // The entry-id table. Readers get copies: an absent key reads as an empty record.
   EntryIdTableEntry entryIdTable(const Ember::NatHwKey& key) const {
      return entryIdTable_.entry(key);
   }
   void entryIdTableIs(const EntryIdTableEntry& entry) { entryIdTable_.entryIs(entry); }
   // The key's record, created without ids when the key has none yet.
   EntryIdTableEntry entryIdTableOrNew(const Ember::NatHwKey& key) {
      return entryIdTable_.entryOrNew(key);
   }
   EntryIdTableEntry entryIdTableDel(const Ember::NatHwKey& key) {
      return entryIdTable_.entryDel(key);
   }
   void entryIdTableDelAll();
   bool entryIdTableHas(const Ember::NatHwKey& key) const { return entryIdTable_.has(key); }
   // A copy of the key's record, or nothing: a test and a read in one lookup.
   std::optional<EntryIdTableEntry> entryIdTableFind(const Ember::NatHwKey& key) const {
      return entryIdTable_.find(key);
   }
   void entryIdTableReadAheadOf(const Ember::NatHwKey& key) const {
      entryIdTable_.readAheadOf(key);
   }
   void entryIdTableRemovalReadAhead() const { entryIdTable_.removalReadAhead(); }
   U32 entryIdTables() const { return entryIdTable_.size(); }
   // Visits every record, in the table's own order.
   template <class F>
   void entryIdTableForEach(F&& visit) const {
      entryIdTable_.forEach(visit);
   }
   // Every entry id the table records, default and fragment: what the entry manager must hold
   // for this module, for leak checks.
   std::set<U32> entryIds() const;

   // Writes field entry `entryId` so that it implements `hwKey` on ingress VLAN `vlanId` (0
   // for the source family): qualifiers, actions, then install (or reinstall when
   // `reinstall`). `frag` selects the key's fragment entry. Dynamic keys go to
   // doProgramDynamicNatEntry. Fatal: an unsupported key, a destination key on VLAN 0.
   void doProgramEntry(U32 entryId, bool reinstall, bool frag, const Ember::NatHwKey& hwKey,
                       const Ember::NatHwData& shadowData, const Ember::NatHwKey& hwKey0,
                       const Ember::NatHwData& shadowData0, U16 vlanId, U32 uid);
   // The same for a dynamic key (one translated flow). Fatal: a destination key whose base
   // data has no VLAN in slot 0.
   void doProgramDynamicNatEntry(U32 entryId, bool reinstall, bool frag,
                                 const Ember::NatHwKey& hwKey, const Ember::NatHwData& shadowData,
                                 const Ember::NatHwKey& hwKey0, const Ember::NatHwData& shadowData0,
                                 U32 uid);

   // Programs `hwKey` on `vlanId`: takes the entries it needs from the NAT TCAM group if it
   // has none there yet, records them and writes them. False, with the TCAM-full message
   // raised and nothing written or held, when the group had no free entry.
   bool doProgram(const Ember::NatHwKey& hwKey, const Ember::NatHwKey& hwKey0,
                  const Ember::NatHwData& shadowData0, U16 vlanId);
   // Frees the key's default and fragment entries on `vlanId` and forgets them. The key's
   // record must hold a default entry for the VLAN.
   void doDeleteEntry(const Ember::NatHwKey& hwKey, U16 vlanId);
   // Makes the module's hardware agree with the NAT state of `uid` and writes one status.
   void doCommitHwConfig(TesselNat::Uid uid) override;

   // Writes the one-line dump of every programmed key and VLAN to the descriptor `socket`:
   // hardware ids per pipe and copy, uid, shadow state. `moduleId` is not used.
   void doShow(U32 socket, TesselCentral::ModId moduleId) const;
   // Cross-checks the entry-id table against the shadow and the qualifiers the chip holds;
   // the first disagreement is a fatal assertion. Expects a quiescent, fully programmed
   // module.
   void doVerify();
   // The same checks in the same order, without stopping: every disagreement found. A check
   // that something exists skips what depends on it when it fails.
   std::vector<VerifyDisagreement> doAudit();
   // Each reads one qualifier of entry `entryId` back: present, it must hold the expected
   // value (and mask); absent, the expected value must be 0. Fatal otherwise.
   void doVerifySrcIp(U32 entryId, const Netbase::IpAddrWithFullMask& ipAddr);
   void doVerifyDstIp(U32 entryId, const Netbase::IpAddrWithFullMask& ipAddr);
   void doVerifySrcL4Port(U32 entryId, U16 l4Port);
   void doVerifyDstL4Port(U32 entryId, U16 l4Port);
   void doVerifyIpProtocol(U32 entryId, U8 protocol);
   void doVerifyL3Ingress(U32 entryId, U16 vlanId);

   // Examines every flash-download wait of the shared state, in its order.
   void doInit();
   // The programmer becomes initialised, and its hitless phase ends, when wait 3 is done.
   void doInit(TcamFlashDownloadReq req);
   // Once initialised, switches L4 port translation on in the chip.
   void handleInitialized() override;

   void hasNotificationActiveIs(bool active) override;
   // Also silences the reactor on the shared state.
   void deactivateReactors() override;

   // The type's descriptor: attributes, the entry-id table and the operations in
   // declaration order, invocable by name.
   static Kiv::Ptr<Kiv::TypeNode> typeNode();

private:
   class ScsdReactor : public Kiv::Reactor<NatSlaveProgrammerSm, TesselCommonSmData> {
   public:
      using Reactor::Reactor;
      void onFlashDownloadWait(TcamFlashDownloadReq req) override { owner()->doInit(req); }
   };

   // The key needs a fragment entry besides its default entry: it translates ports, or it
   // is dynamic.
   static bool needsFragEntry(const Ember::NatHwKey& hwKey);
   // The entry manager, which must exist whenever entries are taken, written or freed.
   Kiv::Ptr<TesselUnboundedTcamEntryManager> requiredEntryManager() const;
   void installEntry(U32 entryId, bool reinstall) const;
   void quillStatusIs(TesselNat::Uid uid, U32 result);
   // A verification check: true when `ok`. Otherwise verification stops the agent with the
   // assertion at `site`, and the audit records the disagreement and returns false.
   bool verifyThat(bool ok, const Kiv::AssertionSite& site, U64 expected, U64 read);

   const TesselCentral::ModId modId_;
   const Kiv::Ptr<TesselTcamGroupManager> tcamGroupManager_;
   const Kiv::Ptr<const TesselCommonSmData> scsd_;
   Kiv::Ptr<ScsdReactor> scsdReactor_;
   bool hitlessInitPhase_ = false;
   EntryIdTable entryIdTable_;
   // Set while an audit runs; `verifyAt_` is what the walk is checking.
   std::vector<VerifyDisagreement>* auditFindings_ = nullptr;
   VerifyDisagreement verifyAt_;
};

// Generic construction from constructor arguments: NatSlaveProgrammerSm::NatSlaveProgrammerSmIs.
Kiv::Ptr<NatSlaveProgrammerSm> natSlaveProgrammerSmFactory(
    const Kiv::Ptr<const Quill::QuillShoalConfigDir>& quillShoalConfigDir,
    const Kiv::Ptr<Quill::QuillShoalStatusDir>& quillShoalStatusDir,
    const Kiv::Ptr<const Ember::NatHwShadow>& shadow,
    const Kiv::Ptr<const TesselNat::UidHwKeyTable>& uidHwKeyTable,
    const Kiv::Ptr<const TesselNat::HwKeyUidTable>& hwKeyUidTable,
    const Kiv::Ptr<const TesselNat::ModSetDir>& ingModSetDir, TesselCentral::ModId modId,
    const Kiv::Ptr<TesselTcamGroupManager>& tcamGroupManager,
    const Kiv::Ptr<const TesselCommonSmData>& scsd);

}  // namespace Tessel
