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
      scsd_(scsd),
      hitlessInitPhase_(scsd && scsd->hitlessInit()) {}

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
