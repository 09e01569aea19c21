#include "platform/records/tessel_nat/slave_programmer_sm.h"

namespace TesselNat {

SlaveProgrammerSm::SlaveProgrammerSm(
    const Kiv::Ptr<const Quill::QuillShoalConfigDir>& quillShoalConfigDir,
    const Kiv::Ptr<Quill::QuillShoalStatusDir>& quillShoalStatusDir,
    const Kiv::Ptr<const Ember::NatHwShadow>& shadow,
    const Kiv::Ptr<const UidHwKeyTable>& uidHwKeyTable,
    const Kiv::Ptr<const HwKeyUidTable>& hwKeyUidTable,
    const Kiv::Ptr<const ModSetDir>& ingModSetDir)
    : Kiv::Entity("NatSlaveProgrammerSm"),
      quillShoalStatusDir_(quillShoalStatusDir),
      shadow_(shadow),
      uidHwKeyTable_(uidHwKeyTable),
      hwKeyUidTable_(hwKeyUidTable),
      ingModSetDir_(ingModSetDir) {
   quillShoalConfigDirIs(quillShoalConfigDir);
}

SlaveProgrammerSm::~SlaveProgrammerSm() {
   if (configReactor_) configReactor_->ownerIs(nullptr);
}

void SlaveProgrammerSm::quillShoalConfigDirIs(
    const Kiv::Ptr<const Quill::QuillShoalConfigDir>& dir) {
   quillShoalConfigDir_ = dir;
   if (!dir) {
      if (configReactor_) configReactor_->ownerIs(nullptr);
      configReactor_ = nullptr;
      return;
   }
   if (configReactor_) {
      configReactor_->notifierIs(dir);
      return;
   }
   configReactor_ = new ConfigReactor(this, dir);
   configReactor_->isActiveIs(hasNotificationActive());
}

void SlaveProgrammerSm::initializedIs(bool initialized) {
   initialized_ = initialized;
   handleInitialized();
}

void SlaveProgrammerSm::hasNotificationActiveIs(bool active) {
   Kiv::Entity::hasNotificationActiveIs(active);
   if (configReactor_) configReactor_->isActiveIs(active);
}

void SlaveProgrammerSm::deactivateReactors() {
   deletedIs();
   if (configReactor_) configReactor_->isActiveIs(false);
}

void SlaveProgrammerSm::handleQuillShoalConfig(const Quill::QuillShoalKey& key) {
   bool found = false;
   const Quill::QuillShoalConfig config = quillShoalConfigDir_->safeLookup(key, found);
   if (!found) return;
   if (quillShoalStatusDir_) {
      const Quill::QuillShoalStatus status = quillShoalStatusDir_->safeLookup(key, found);
      if (found && status.reqVersion() == config.reqVersion()) return;
   }
   doCommitHwConfig(Uid(key.uid()));
}

}  // namespace TesselNat
