#pragma once

#include "platform/framework/kiv/entity.h"
#include "platform/framework/kiv/reactor.h"
#include "platform/records/ember/nat_hw_shadow.h"
#include "platform/records/quill/quill_shoal_dirs.h"
#include "platform/records/tessel_nat/uid.h"
#include "platform/records/tessel_nat/uid_tables.h"

namespace TesselNat {

// Base of a module's NAT programmer: holds the shared NAT tables, watches the translation
// requests and asks the derived programmer to commit each uid whose request this module has
// not answered yet (no status, or a status echoing another value). When a request goes away,
// so does its answer: the status directory holds the answers of live requests only, also
// when it outlived an earlier programmer of the module (a line card re-inserted in its slot
// finds its old directory). It also keeps the `initialized` flag and calls
// handleInitialized() each time the flag is set.
//
// Table pointers may be null (an unresolved mount); a null configuration directory means
// no requests are watched.
class SlaveProgrammerSm : public Kiv::Entity {
public:
   SlaveProgrammerSm(const Kiv::Ptr<const Quill::QuillShoalConfigDir>& quillShoalConfigDir,
                     const Kiv::Ptr<Quill::QuillShoalStatusDir>& quillShoalStatusDir,
                     const Kiv::Ptr<const Ember::NatHwShadow>& shadow,
                     const Kiv::Ptr<const UidHwKeyTable>& uidHwKeyTable,
                     const Kiv::Ptr<const HwKeyUidTable>& hwKeyUidTable,
                     const Kiv::Ptr<const ModSetDir>& ingModSetDir);
   ~SlaveProgrammerSm() override;

   const Kiv::Ptr<const Quill::QuillShoalConfigDir>& quillShoalConfigDir() const {
      return quillShoalConfigDir_;
   }
   const Kiv::Ptr<Quill::QuillShoalStatusDir>& quillShoalStatusDir() const {
      return quillShoalStatusDir_;
   }
   const Kiv::Ptr<const Ember::NatHwShadow>& shadow() const { return shadow_; }
   const Kiv::Ptr<const UidHwKeyTable>& uidHwKeyTable() const { return uidHwKeyTable_; }
   const Kiv::Ptr<const HwKeyUidTable>& hwKeyUidTable() const { return hwKeyUidTable_; }
   const Kiv::Ptr<const ModSetDir>& ingModSetDir() const { return ingModSetDir_; }

   // Retargets the request watch; null stops it.
   void quillShoalConfigDirIs(const Kiv::Ptr<const Quill::QuillShoalConfigDir>& dir);
   void quillShoalConfigDirDel() { quillShoalConfigDirIs(nullptr); }

   bool initialized() const { return initialized_; }
   // Sets the flag, then calls handleInitialized().
   void initializedIs(bool initialized);

   // Makes the module's hardware agree with the NAT state of `uid` and answers its request.
   virtual void doCommitHwConfig(Uid uid) = 0;
   virtual void handleInitialized() {}

   void hasNotificationActiveIs(bool active) override;
   // Silences the reactors for good: marks this object deleted and deactivates them.
   virtual void deactivateReactors();

protected:
   // A request was added, changed or removed: commits it if it is present and unanswered,
   // removes its answer if it is gone.
   virtual void handleQuillShoalConfig(const Quill::QuillShoalKey& key);

private:
   // Removes the answers of requests that are gone.
   void staleStatusesDel();
   // Queues a walk that handles every request, for a programmer made once the requests had
   // filled their mount: one whose module came later hears only of requests changed after
   // it was made, and the agent's first commit pass is behind it.
   void requestsCatchUpSoon();

   class ConfigReactor : public Kiv::Reactor<SlaveProgrammerSm, Quill::QuillShoalConfigDir> {
   public:
      using Reactor::Reactor;
      void onRecord(const Quill::QuillShoalKey& key) override {
         owner()->handleQuillShoalConfig(key);
      }
   };

   Kiv::Ptr<const Quill::QuillShoalConfigDir> quillShoalConfigDir_;
   Kiv::Ptr<Quill::QuillShoalStatusDir> quillShoalStatusDir_;
   Kiv::Ptr<const Ember::NatHwShadow> shadow_;
   Kiv::Ptr<const UidHwKeyTable> uidHwKeyTable_;
   Kiv::Ptr<const HwKeyUidTable> hwKeyUidTable_;
   Kiv::Ptr<const ModSetDir> ingModSetDir_;
   Kiv::Ptr<ConfigReactor> configReactor_;
   bool initialized_ = false;
};

}  // namespace TesselNat
