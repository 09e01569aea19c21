#include "platform/switch/tcam/tessel_tcam_group_manager.h"

#include "platform/framework/kiv/assert.h"
#include "platform/framework/kiv/constructor_argument.h"

namespace {

// Raises the name-in-use error for the first attribute in which `wanted` differs from `current`.
void checkSameConfig(const TcamGroupConfig& wanted, const TcamGroupConfig& current) {
   Kiv::requireSameConstructorArgument("group", wanted.group, current.group);
   Kiv::requireSameConstructorArgument("entriesPerUnit", wanted.entriesPerUnit,
                                       current.entriesPerUnit);
   Kiv::requireSameConstructorArgument("pipes", wanted.pipes, current.pipes);
   Kiv::requireSameConstructorArgument("copiesPerPipe", wanted.copiesPerPipe,
                                       current.copiesPerPipe);
}

}  // namespace

TesselTcamGroupManager::~TesselTcamGroupManager() {
   for (auto& [assignment, manager] : entryManagers_) manager->groupManager_ = nullptr;
}

Kiv::Ptr<TesselUnboundedTcamEntryManager> TesselTcamGroupManager::unboundedEntryManagerIs(
    const TcamGroupConfig& config) {
   if (const auto found = entryManagers_.find(config.assignment); found != entryManagers_.end()) {
      checkSameConfig(config, found->second->config());
      return found->second;
   }
   KIV_ASSERT( !managerOfGroup( config.group ) );
   KIV_ASSERT( config.entriesPerUnit <= slotsPerUnit_ - nextFreeSlot_ );
   Kiv::Ptr<TesselUnboundedTcamEntryManager> manager(new TesselUnboundedTcamEntryManager(
       this, config, nextFreeSlot_, slotsPerUnit_, warmPhase_ ? &units_ : nullptr));
   nextFreeSlot_ += config.entriesPerUnit;
   entryManagers_.emplace(config.assignment, manager);
   return manager;
}

Kiv::Ptr<TesselUnboundedTcamEntryManager> TesselTcamGroupManager::unboundedEntryManager(
    TcamGroupAssignment assignment) const {
   const auto found = entryManagers_.find(assignment);
   return found == entryManagers_.end() ? nullptr : found->second;
}

void TesselTcamGroupManager::doFlashDownload() {
   for (auto& [assignment, manager] : entryManagers_) manager->doFlashDownload();
   warmPhase_ = false;
}

U32 TesselTcamGroupManager::getNumPipe(U32 group) const {
   const TesselUnboundedTcamEntryManager* manager = managerOfGroup(group);
   return manager ? manager->config().pipes : 0;
}

// Every unit has the same layout, so the unit plays no part.
U32 TesselTcamGroupManager::getNumCopiesPerPipe(U16, U32 group) const {
   const TesselUnboundedTcamEntryManager* manager = managerOfGroup(group);
   return manager ? manager->config().copiesPerPipe : 0;
}

const TesselUnboundedTcamEntryManager* TesselTcamGroupManager::managerOfGroup(U32 group) const {
   for (const auto& [assignment, manager] : entryManagers_) {
      if (manager->group() == group) return manager.ptr();
   }
   return nullptr;
}
