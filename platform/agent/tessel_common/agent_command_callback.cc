#include "platform/agent/tessel_common/agent_command_callback.h"

#include "platform/agent/plugin/loader.h"

namespace TesselCommon {

Kiv::Ptr<Kiv::PtrInterface> AgentCommandCallback::sharedEntity(const Kiv::String& name) const {
   return loader_ ? loader_->sharedEntity(name) : nullptr;
}

Kiv::Ptr<const TesselCommonSmData> AgentCommandCallback::scsd() const {
   return Kiv::ptrCast<TesselCommonSmData>(sharedEntity("tesselCommon"));
}

}  // namespace TesselCommon
