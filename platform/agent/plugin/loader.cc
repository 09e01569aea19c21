#include "platform/agent/plugin/loader.h"

#include <mutex>
#include <set>

#include "platform/framework/kiv/errors.h"
#include "platform/framework/kiv/type_registry.h"

namespace Plugin {
namespace {

struct LoadedLibraries {
   std::mutex mutex;
   std::set<Kiv::String> names;
};

LoadedLibraries& loadedLibraries() {
   static LoadedLibraries libraries;
   return libraries;
}

}  // namespace

Loader::Loader(Kiv::Ptr<KivShoal::EntityManager> shoalEntityManager)
    : shoalEntityManager_(std::move(shoalEntityManager)) {}

// The mounters go first, while what they may reach through the loader still exists; a
// callback the command server still holds finds nothing shared any more.
Loader::~Loader() {
   for (auto& [name, mounter] : mounters_) mounter->loader_ = nullptr;
   mounters_.clear();
   for (auto& [name, callback] : commandCallbacks_) callback->loader_ = nullptr;
}

void Loader::libraryIs(const Kiv::String& library, const Registration& registration) {
   LoadedLibraries& libraries = loadedLibraries();
   {
      std::lock_guard<std::mutex> guard(libraries.mutex);
      if (!libraries.names.insert(library).second) return;
   }
   registration();
}

bool Loader::libraryLoaded(const Kiv::String& library) {
   LoadedLibraries& libraries = loadedLibraries();
   std::lock_guard<std::mutex> guard(libraries.mutex);
   return libraries.names.contains(library);
}

void Loader::sharedEntityIs(const Kiv::String& name, const Kiv::Ptr<Kiv::PtrInterface>& entity) {
   shared_[name] = entity;
}

Kiv::Ptr<Kiv::PtrInterface> Loader::sharedEntity(const Kiv::String& name) const {
   if (const auto found = shared_.find(name); found != shared_.end()) return found->second;
   const auto mounter = mounters_.find(name);
   return mounter == mounters_.end() ? nullptr : mounter->second;
}

Kiv::Ptr<Mounter> Loader::mounterIs(const Kiv::String& typeName, const Kiv::Name& name) {
   const Kiv::Ptr<Kiv::TypeNode> type = Kiv::typeNode(typeName);
   if (!type) Kiv::throwTypeException(Kiv::typeErrorText(typeName, "mounterIs"));
   const Kiv::Ptr<Mounter> mounter =
       Kiv::ptrCast<Mounter>(type->newEntityForDir(name, shoalEntityManager_));
   if (!mounter) Kiv::throwTypeException(Kiv::typeErrorText(typeName, "mounterIs: not a mounter"));
   mounter->loader_ = this;
   mounter->shoalEntityManager_ = shoalEntityManager_;
   mounters_[name] = mounter;
   return mounter;
}

Kiv::Ptr<TesselCommon::AgentCommandCallback> Loader::commandCallbackIs(const Kiv::String& typeName,
                                                                       const Kiv::Name& name) {
   const Kiv::Ptr<Kiv::TypeNode> type = Kiv::typeNode(typeName);
   if (!type) Kiv::throwTypeException(Kiv::typeErrorText(typeName, "commandCallbackIs"));
   const auto callback =
       Kiv::ptrCast<TesselCommon::AgentCommandCallback>(type->newEntityForDir(name, nullptr));
   if (!callback) {
      Kiv::throwTypeException(Kiv::typeErrorText(typeName, "commandCallbackIs: not a callback"));
   }
   callback->loader_ = this;
   commandCallbacks_[name] = callback;
   return callback;
}

}  // namespace Plugin
