#pragma once

#include <map>
#include <vector>

#include "platform/framework/kiv/entity.h"
#include "platform/framework/kiv/types.h"
#include "platform/records/tessel_central/mod_id.h"

// A hardware-agent start-up step whose completion plug-ins wait for; the NAT programmer
// waits for request 3, the NAT TCAM flash download.
using TcamFlashDownloadReq = U32;

// The agent state shared with its plug-ins (published as "tesselCommon"): which modules
// exist and which SDK unit drives each, which flash-download steps are done, and whether
// the agent is warm-starting. Notifies once per changed key of its two maps and once per
// change of the warm-start flag.
class TesselCommonSmData : public Kiv::Entity {
public:
   class Notifiee : public Kiv::NotifieeOf<TesselCommonSmData> {
   public:
      virtual void onModuleToUnit(TesselCentral::ModId) {}
      virtual void onFlashDownloadWait(TcamFlashDownloadReq) {}
      virtual void onHitlessInit() {}
   };

   using Kiv::Entity::Entity;

   // Module to unit; `found` false (and unit 0) for an absent module.
   U16 moduleToUnit(TesselCentral::ModId modId, bool& found) const;
   std::vector<TesselCentral::ModId> moduleToUnitKeys() const;
   void moduleToUnitIs(TesselCentral::ModId modId, U16 unit);
   void moduleToUnitDel(TesselCentral::ModId modId);

   // Whether a flash-download step is done; `found` false for an absent step.
   bool flashDownloadWait(TcamFlashDownloadReq req, bool& found) const;
   std::vector<TcamFlashDownloadReq> flashDownloadWaitKeys() const;
   void flashDownloadWaitIs(TcamFlashDownloadReq req, bool done);
   void flashDownloadWaitDel(TcamFlashDownloadReq req);

   // True while the agent initialises hitlessly after a warm restart.
   bool hitlessInit() const { return hitlessInit_; }
   void hitlessInitIs(bool hitlessInit);

private:
   std::map<TesselCentral::ModId, U16> moduleToUnit_;
   std::map<TcamFlashDownloadReq, bool> flashDownloadWait_;
   bool hitlessInit_ = false;
};
