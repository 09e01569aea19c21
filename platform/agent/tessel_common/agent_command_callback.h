#pragma once

#include "platform/agent/command/agent_command_callback.h"
#include "platform/framework/kiv/ptr.h"
#include "platform/records/tessel_common/tessel_common_sm_data.h"

namespace Plugin {
class Loader;
}

namespace TesselCommon {

// The Tessel agent's command callback: one created by the loader reaches the objects the
// agent shares with its plug-ins, as a mounter does.
class AgentCommandCallback : public Agent::AgentCommandCallback {
public:
   using Agent::AgentCommandCallback::AgentCommandCallback;

   // The object shared under `name`, or null when nothing is (or the loader is gone).
   Kiv::Ptr<Kiv::PtrInterface> sharedEntity(const Kiv::String& name) const;
   // The agent's shared state ("tesselCommon"), or null.
   Kiv::Ptr<const TesselCommonSmData> scsd() const;

private:
   friend class Plugin::Loader;

   Plugin::Loader* loader_ = nullptr;
};

}  // namespace TesselCommon
