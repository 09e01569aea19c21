#include "TesselNat/programmer/nat_slave_programmer_sm.h"

#include <vector>

#include "TesselNat/programmer/nat_entry_constants.h"
#include "platform/framework/kiv/assert.h"

namespace Tessel {

NatSlaveProgrammerSm::NatSlaveProgrammerSm(
    const Kiv::Ptr<const Quill::QuillShoalConfigDir>& quillShoalConfigDir,
    const Kiv::Ptr<Quill::QuillShoalStatusDir>& quillShoalStatusDir,
    const Kiv::Ptr<const Ember::NatHwShadow>& shadow,
    const Kiv::Ptr<const TesselNat::UidHwKeyTable>& uidHwKeyTable,
    const Kiv::Ptr<const TesselNat::HwKeyUidTable>& hwKeyUidTable,
    const Kiv::Ptr<const TesselNat::ModSetDir>& ingModSetDir, TesselCentral::ModId modId,
    const Kiv::Ptr<TesselTcamGroupManager>& tcamGroupManager,
    const Kiv::Ptr<const TesselCommonSmData>& scsd)
    : SlaveProgrammerSm(quillShoalConfigDir, quillShoalStatusDir, shadow, uidHwKeyTable,
                        hwKeyUidTable, ingModSetDir),
      modId_(modId),
      tcamGroupManager_(tcamGroupManager),
      scsd_(scsd) {
   if (scsd_) {
      scsdReactor_ = new ScsdReactor(this, scsd_);
      scsdReactor_->isActiveIs(true);
      hitlessInitPhase_ = scsd_->hitlessInit();
   }
   doInit();
}

NatSlaveProgrammerSm::~NatSlaveProgrammerSm() {
   deactivateReactors();
   if (scsdReactor_) scsdReactor_->ownerIs(nullptr);
   scsdReactor_ = nullptr;
   entryIdTableDelAll();
}

std::set<U32> NatSlaveProgrammerSm::entryIds() const {
   std::set<U32> ids;
   for (const EntryIdTableEntry& record : entryIdTable_) {
      for (const auto& [vlanId, id] : record.defaultEntryIdMap()) ids.insert(id);
      for (const auto& [vlanId, id] : record.fragEntryIdMap()) ids.insert(id);
   }
   return ids;
}

Kiv::Ptr<NatSlaveProgrammerSm> NatSlaveProgrammerSm::NatSlaveProgrammerSmIs(
    const Kiv::Ptr<const Quill::QuillShoalConfigDir>& quillShoalConfigDir,
    const Kiv::Ptr<Quill::QuillShoalStatusDir>& quillShoalStatusDir,
    const Kiv::Ptr<const Ember::NatHwShadow>& shadow,
    const Kiv::Ptr<const TesselNat::UidHwKeyTable>& uidHwKeyTable,
    const Kiv::Ptr<const TesselNat::HwKeyUidTable>& hwKeyUidTable,
    const Kiv::Ptr<const TesselNat::ModSetDir>& ingModSetDir, TesselCentral::ModId modId,
    const Kiv::Ptr<TesselTcamGroupManager>& tcamGroupManager,
    const Kiv::Ptr<const TesselCommonSmData>& scsd) {
   Kiv::Ptr<NatSlaveProgrammerSm> programmer(
       new NatSlaveProgrammerSm(quillShoalConfigDir, quillShoalStatusDir, shadow, uidHwKeyTable,
                                hwKeyUidTable, ingModSetDir, modId, tcamGroupManager, scsd));
   programmer->hasNotificationActiveIs(true);
   return programmer;
}

Kiv::Ptr<NatSlaveProgrammerSm> natSlaveProgrammerSmFactory(
    const Kiv::Ptr<const Quill::QuillShoalConfigDir>& quillShoalConfigDir,
    const Kiv::Ptr<Quill::QuillShoalStatusDir>& quillShoalStatusDir,
    const Kiv::Ptr<const Ember::NatHwShadow>& shadow,
    const Kiv::Ptr<const TesselNat::UidHwKeyTable>& uidHwKeyTable,
    const Kiv::Ptr<const TesselNat::HwKeyUidTable>& hwKeyUidTable,
    const Kiv::Ptr<const TesselNat::ModSetDir>& ingModSetDir, TesselCentral::ModId modId,
    const Kiv::Ptr<TesselTcamGroupManager>& tcamGroupManager,
    const Kiv::Ptr<const TesselCommonSmData>& scsd) {
   return NatSlaveProgrammerSm::NatSlaveProgrammerSmIs(quillShoalConfigDir, quillShoalStatusDir,
                                                       shadow, uidHwKeyTable, hwKeyUidTable,
                                                       ingModSetDir, modId, tcamGroupManager, scsd);
}

Kiv::Ptr<Kiv::TypeNode> NatSlaveProgrammerSm::typeNode() {
   static const Kiv::Ptr<Kiv::TypeNode> node = [] {
      using P = NatSlaveProgrammerSm;
      Kiv::Ptr<Kiv::TypeNode> type(new Kiv::TypeNode("Tessel::NatSlaveProgrammerSm"));
      // The base's attributes come first: its six tables and whether it is initialised.
      type->attributeIs(Kiv::attribute("quillShoalConfigDir", &P::quillShoalConfigDir));
      type->attributeIs(Kiv::attribute("quillShoalStatusDir", &P::quillShoalStatusDir));
      type->attributeIs(Kiv::attribute("shadow", &P::shadow));
      type->attributeIs(Kiv::attribute("uidHwKeyTable", &P::uidHwKeyTable));
      type->attributeIs(Kiv::attribute("hwKeyUidTable", &P::hwKeyUidTable));
      type->attributeIs(Kiv::attribute("ingModSetDir", &P::ingModSetDir));
      type->attributeIs(Kiv::attribute("initialized", &P::initialized));
      type->attributeIs(Kiv::attribute("modId", &P::modId));
      type->attributeIs(Kiv::attribute("unit", &P::unit));
      type->attributeIs(Kiv::attribute("tcamGroupManager", &P::tcamGroupManager));
      type->attributeIs(Kiv::attribute("tcamEntryManager", &P::tcamEntryManager));
      type->attributeIs(Kiv::attribute("scsd", &P::scsd));
      type->attributeIs(Kiv::attribute("hitlessInitPhase", &P::hitlessInitPhase));
      type->collectionIs(Kiv::collection("entryIdTable", &P::entryIdTable, &P::entryIdTableIs,
                                         &P::entryIdTableDel));
      type->operationIs(Kiv::operation("doInit", static_cast<void (P::*)()>(&P::doInit)));
      type->operationIs(
          Kiv::operation("doInit", static_cast<void (P::*)(TcamFlashDownloadReq)>(&P::doInit)));
      type->operationIs(Kiv::operation("doProgram", &P::doProgram));
      type->operationIs(Kiv::operation("doProgramEntry", &P::doProgramEntry));
      type->operationIs(Kiv::operation("doDeleteEntry", &P::doDeleteEntry));
      type->operationIs(Kiv::operation("doProgramDynamicNatEntry", &P::doProgramDynamicNatEntry));
      type->operationIs(Kiv::operation("doShow", &P::doShow));
      type->operationIs(Kiv::operation("doVerify", &P::doVerify));
      type->operationIs(Kiv::operation("doVerifySrcIp", &P::doVerifySrcIp));
      type->operationIs(Kiv::operation("doVerifyDstIp", &P::doVerifyDstIp));
      type->operationIs(Kiv::operation("doVerifySrcL4Port", &P::doVerifySrcL4Port));
      type->operationIs(Kiv::operation("doVerifyDstL4Port", &P::doVerifyDstL4Port));
      type->operationIs(Kiv::operation("doVerifyIpProtocol", &P::doVerifyIpProtocol));
      type->operationIs(Kiv::operation("doVerifyL3Ingress", &P::doVerifyL3Ingress));
      type->operationIs(Kiv::operation("doCommitHwConfig", &P::doCommitHwConfig));
      type->operationIs(Kiv::operation("handleInitialized", &P::handleInitialized));
      return type;
   }();
   return node;
}

void NatSlaveProgrammerSm::hasNotificationActiveIs(bool active) {
   if (active == hasNotificationActive()) return;
   SlaveProgrammerSm::hasNotificationActiveIs(active);
   if (scsdReactor_) scsdReactor_->isActiveIs(active);
}

void NatSlaveProgrammerSm::deactivateReactors() {
   SlaveProgrammerSm::deactivateReactors();
   if (scsdReactor_) scsdReactor_->isActiveIs(false);
}

Kiv::Ptr<TesselUnboundedTcamEntryManager> NatSlaveProgrammerSm::tcamEntryManager() const {
   if (!tcamGroupManager_) return nullptr;
   return tcamGroupManager_->unboundedEntryManager(natTcamGroupAssignment);
}

Kiv::Ptr<TesselUnboundedTcamEntryManager> NatSlaveProgrammerSm::requiredEntryManager() const {
   Kiv::Ptr<TesselUnboundedTcamEntryManager> entryManager = tcamEntryManager();
   KIV_ASSERT( entryManager );
   return entryManager;
}

void NatSlaveProgrammerSm::entryIdTableDelAll() {
   std::vector<Ember::NatHwKey> keys;
   keys.reserve(entryIdTables());
   entryIdTable_.forEach(
       [&keys](const EntryIdTableEntry& record) { keys.push_back(record.key()); });
   for (const Ember::NatHwKey& key : keys) entryIdTableDel(key);
}

bool NatSlaveProgrammerSm::needsFragEntry(const Ember::NatHwKey& hwKey) {
   return hwKey.isStaticNapt() || hwKey.isTwiceNapt() ||
          hwKey.type() == Ember::NatKeyType::dynamicSrcNat ||
          hwKey.type() == Ember::NatKeyType::dynamicDestNat;
}

void NatSlaveProgrammerSm::installEntry(U32 entryId, bool reinstall) const {
   Kiv::Ptr<TesselUnboundedTcamEntryManager> entryManager = requiredEntryManager();
   if (reinstall) {
      entryManager->reinstallEntry(unit(), entryId);
   } else {
      entryManager->installEntry(unit(), entryId);
   }
}

}  // namespace Tessel
