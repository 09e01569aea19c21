#include "platform/framework/trace/trace_handle.h"

#include <map>
#include <memory>
#include <mutex>

#include "platform/framework/kiv/errors.h"

namespace Kiv {
namespace {

constexpr U32 allLevelsMask = (1u << (TraceHandle::maxLevel + 1)) - 1;

struct Registry {
   std::mutex mutex;
   std::map<String, std::unique_ptr<TraceHandle>, std::less<>> handles;
};

// Never destroyed: handles are used from static destructors and from threads that outlive
// main().
Registry& registry() {
   static Registry* const instance = new Registry;
   return *instance;
}

}  // namespace

void TraceHandle::levelIs(U32 level, bool on) {
   if (level > maxLevel) {
      throwRangeException(format("trace level %u is outside 0..%u", level, maxLevel));
   }
   const U32 bit = 1u << level;
   if (on) {
      mask_.fetch_or(bit, std::memory_order_relaxed);
   } else {
      mask_.fetch_and(~bit, std::memory_order_relaxed);
   }
}

void TraceHandle::allLevelsIs(bool on) {
   mask_.store(on ? allLevelsMask : 0, std::memory_order_relaxed);
}

TraceHandle& traceHandle(std::string_view name) {
   Registry& handles = registry();
   const std::lock_guard<std::mutex> hold(handles.mutex);
   auto it = handles.handles.find(name);
   if (it == handles.handles.end()) {
      it =
          handles.handles.emplace(String(name), std::unique_ptr<TraceHandle>(new TraceHandle(name)))
              .first;
   }
   return *it->second;
}

std::vector<String> traceFacilities() {
   Registry& handles = registry();
   const std::lock_guard<std::mutex> hold(handles.mutex);
   std::vector<String> names;
   for (const auto& [name, handle] : handles.handles) names.push_back(name);
   return names;
}

}  // namespace Kiv
