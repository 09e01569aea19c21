#pragma once

#include "platform/agent/plugin/loader.h"
#include "platform/agent/plugin/mounter.h"

namespace TesselCommon {

// The Tessel agent's mounter base: a mounter that reaches the objects the agent shares.
class MounterBase : public Plugin::Mounter {
public:
   using Plugin::Mounter::Mounter;

   // The object shared under `name`, or null when nothing is (or the loader is gone).
   Kiv::Ptr<Kiv::PtrInterface> sharedEntity(const Kiv::String& name) const {
      return loader() ? loader()->sharedEntity(name) : nullptr;
   }
};

}  // namespace TesselCommon
