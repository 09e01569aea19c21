#include "TesselNat/diagnostics/nat_cli_callback.h"

#include "TesselNat/agent/nat_mounter.h"
#include "TesselNat/nat_trace.h"
#include "platform/framework/trace/trace.h"

namespace Tessel {

NatCliCallback::NatCliCallback(Kiv::Name name)
    : TesselModuleCommandCallback(std::move(name), "TesselNat") {}

Kiv::Ptr<NatMounter> NatCliCallback::natMounter() const {
   return Kiv::ptrCast<NatMounter>(sharedEntity(name()));
}

void NatCliCallback::doProcessCommand(U32 socket, Kiv::String command, U16 unit) {
   KIV_TRACE(natTrace(), traceCommand,
             "Socket: " + std::to_string(socket) + ", Command: " + command +
                 ", Unit: " + std::to_string(unit));
   const TesselCentral::ModId modId(unit);
   const Kiv::Ptr<NatMounter> mounter = natMounter();
   if (!mounter) return;
   const Kiv::Ptr<NatSlaveRootSm>& rootSm = mounter->rootSm();
   if (!rootSm) return;
   const Kiv::Ptr<NatSlaveProgrammerSm> programmer = rootSm->natSlaveProgrammerSm(modId);
   if (!programmer) return;
   programmer->doShow(socket, modId);
}

Kiv::Ptr<Kiv::PtrInterface> natCliCallbackFactory(const Kiv::Name& name,
                                                  const Kiv::Ptr<Kiv::Entity>&) {
   Kiv::Ptr<NatCliCallback> callback(new NatCliCallback(name));
   callback->hasNotificationActiveIs(true);
   return callback;
}

Kiv::Ptr<Kiv::TypeNode> NatCliCallback::typeNode() {
   static const Kiv::Ptr<Kiv::TypeNode> node = [] {
      using C = NatCliCallback;
      Kiv::Ptr<Kiv::TypeNode> type(new Kiv::TypeNode("Tessel::NatCliCallback"));
      type->attributeIs(Kiv::attribute("name", &Kiv::Entity::name));
      type->attributeIs(Kiv::attribute("fullName", &Kiv::Entity::fullName));
      type->attributeIs(Kiv::attribute("parent", &Kiv::Entity::parent));
      type->attributeIs(Kiv::attribute("parentAttrName", &Kiv::Entity::parentAttrName));
      type->attributeIs(Kiv::attribute("entity", &Kiv::Entity::entity));
      type->attributeIs(Kiv::attribute("commandType", &C::commandType));
      type->operationIs(Kiv::operation("createAgentAsyncCommandRequestSm",
                                       &C::createAgentAsyncCommandRequestSm));
      type->operationIs(Kiv::operation("sharedEntity", &C::sharedEntity));
      type->operationIs(Kiv::operation("handleCommand", &C::handleCommand));
      type->attributeIs(Kiv::attribute("scsd", &C::scsd));
      type->operationIs(Kiv::operation("doProcessSliceCommand", &C::doProcessSliceCommand));
      type->operationIs(Kiv::operation("doProcessCommand", &C::doProcessCommand));
      type->attributeIs(Kiv::attribute("natMounter", &C::natMounter));
      type->factoryIs(&natCliCallbackFactory);
      return type;
   }();
   return node;
}

}  // namespace Tessel
