#include "platform/records/tessel_nat/slave_programmer_sm.h"

#include <vector>

#include "platform/framework/kiv/event_loop.h"

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
   staleStatusesDel();
}

void SlaveProgrammerSm::staleStatusesDel() {
   if (!quillShoalStatusDir_ || !quillShoalConfigDir_) return;
   std::vector<Quill::QuillShoalKey> stale;
   Quill::QuillShoalKey key;
   Shoal::IterHint hint;
   try {
      for (bool more = quillShoalStatusDir_->first(key, hint); more;
           more = quillShoalStatusDir_->next(key, hint)) {
         if (!quillShoalConfigDir_->quillConfigHas(key)) stale.push_back(key);
      }
   } catch (const Sentry::CorruptionDetectedException& e) {
      // What was not walked stays; its requests are answered again when they change.
      quillShoalStatusDir_->doCorruptionDetected(e.msg());
   }
   for (const Quill::QuillShoalKey& gone : stale) quillShoalStatusDir_->quillStatusDel(gone);
}

SlaveProgrammerSm::~SlaveProgrammerSm() {
   if (configReactor_) configReactor_->ownerIs(nullptr);
}

void SlaveProgrammerSm::quillShoalConfigDirIs(
    const Kiv::Ptr<const Quill::QuillShoalConfigDir>& dir) {
   quillShoalConfigDir_ = dir;
   if (quillShoalStatusDir_) quillShoalStatusDir_->requestsIs(dir);
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
   // A programmer made before its requests filled, at the agent's start, is answered for by
   // the agent's first commit pass, once every table the commits read has filled too.
   if (active && quillShoalConfigDir_ && quillShoalConfigDir_->mountComplete()) {
      requestsCatchUpSoon();
   }
}

void SlaveProgrammerSm::requestsCatchUpSoon() {
   Kiv::eventLoop().workIs([self = Kiv::Ptr<SlaveProgrammerSm>(this)] {
      const Kiv::Ptr<const Quill::QuillShoalConfigDir> requests = self->quillShoalConfigDir_;
      if (self->deleted() || !self->hasNotificationActive() || !requests) return;
      std::vector<Quill::QuillShoalKey> keys;
      Quill::QuillShoalKey key;
      Shoal::IterHint hint;
      try {
         for (bool more = requests->first(key, hint); more; more = requests->next(key, hint)) {
            keys.push_back(key);
         }
      } catch (const Sentry::CorruptionDetectedException& e) {
         // What was not walked is answered when it changes.
         requests->doCorruptionDetected(e.msg());
      }
      // Each commit gives up the activity lock in its SDK calls, so the walk is taken first.
      for (const Quill::QuillShoalKey& request : keys) {
         if (self->deleted()) return;
         self->handleQuillShoalConfig(request);
      }
   });
}

void SlaveProgrammerSm::deactivateReactors() {
   deletedIs();
   if (configReactor_) configReactor_->isActiveIs(false);
}

void SlaveProgrammerSm::handleQuillShoalConfig(const Quill::QuillShoalKey& key) {
   bool found = false;
   const Quill::QuillShoalConfig config = quillShoalConfigDir_->safeLookup(key, found);
   if (!found) {
      if (quillShoalStatusDir_ && !quillShoalConfigDir_->quillConfigHas(key)) {
         quillShoalStatusDir_->quillStatusDel(key);
      }
      return;
   }
   if (quillShoalStatusDir_) {
      const Quill::QuillShoalStatus status = quillShoalStatusDir_->safeLookup(key, found);
      if (found && status.reqVersion() == config.reqVersion()) return;
   }
   doCommitHwConfig(Uid(key.uid()));
}

}  // namespace TesselNat
