#pragma once

#include <memory>
#include <set>

#include "TesselNat/agent/nat_mounter.h"
#include "platform/agent/plugin/loader.h"
#include "platform/records/tessel_common/tessel_common_sm_data.h"
#include "platform/switch/tcam/tessel_tcam_group_manager.h"
#include "platform/tables/kiv_shoal/entity_manager.h"
#include "platform/tables/shoal/shared_store.h"
#include "simulator/switch/agent_control.h"

namespace Simulator {

// One run of the agent, built as the agent builds itself: shared objects published, the
// plug-in library loaded, its mounter and command callback created by type name, the mounter
// initialised. It follows the driver's part of `control` (modules coming and going, flash
// downloads, planned crashes and pauses) and reports there when it has nothing left to do.
// Everything it knows of an earlier run is what the segment holds: the chip behind the SDK
// shim and the shared tables in `store`.
//
// The agent's process hosts it on its loop; a test hosts it in its own process over a private
// segment. On the framework thread, with the activity lock held.
class AgentHost {
public:
   static constexpr const char* pluginName = "TesselNat";
   // The command type of the audit the host answers on the command socket: "<module> ..."
   // gets, per module, its verification, the keys and entry ids of its entry-id table and the
   // entries its TCAM manager holds, as auditText() writes them.
   static constexpr const char* auditCommandType = "NatAudit";

   AgentHost(const Kiv::Ptr<Shoal::SharedStore>& store, AgentControl& control, bool warm);
   ~AgentHost();
   AgentHost(const AgentHost&) = delete;
   AgentHost& operator=(const AgentHost&) = delete;

   // Acts on what the driver changed, runs the framework's work until nothing is left, and
   // says so in the control record; rings the driver when `ringDriver`. Run after every
   // handler of the agent's loop.
   void doQuiet(bool ringDriver);

   const Kiv::Ptr<TesselCommon::AgentCommandCallback>& commandCallback() const {
      return callback_;
   }
   const Kiv::Ptr<Agent::AgentCommandCallbackBase>& auditCallback() const { return audit_; }
   Kiv::Ptr<Tessel::NatSlaveRootSm> rootSm() const { return mounter_->rootSm(); }
   Kiv::Ptr<TesselUnboundedTcamEntryManager> natEntryManager() const;

private:
   class ReadyReactor;

   void doFollowControl();
   void modulesFollow();
   void doFlashDownload();
   void plansFollow();
   [[noreturn]] static void die();
   void doPause();

   AgentControl& control_;
   Kiv::Ptr<Shoal::SharedStore> store_;
   Kiv::Ptr<KivShoal::EntityManager> entityManager_;
   Kiv::Ptr<TesselCommonSmData> scsd_;
   Kiv::Ptr<TesselTcamGroupManager> groups_;
   std::unique_ptr<Plugin::Loader> loader_;
   std::unique_ptr<ReadyReactor> readyReactor_;
   Kiv::Ptr<Tessel::NatMounter> mounter_;
   Kiv::Ptr<TesselCommon::AgentCommandCallback> callback_;
   Kiv::Ptr<Agent::AgentCommandCallbackBase> audit_;
   U32 generationSeen_ = 0;
   U32 flashDownloadsSeen_ = 0;
   U32 plansSeen_ = 0;
   // The root's commit pass is under way and a crash is planned in it.
   bool commitPassCrash_ = false;
   std::set<U16> modules_;
};

}  // namespace Simulator
