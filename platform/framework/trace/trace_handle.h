#pragma once

#include <atomic>
#include <string_view>
#include <vector>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"

namespace Kiv {

// A named trace facility with ten levels (0..9), each switched on or off on its own. The
// level mask is read with a relaxed atomic load so that a call site whose level is off costs
// one load and one test; switching levels from another thread takes effect eventually, which
// is all tracing needs.
class TraceHandle {
public:
   static constexpr U32 maxLevel = 9;

   TraceHandle(const TraceHandle&) = delete;
   TraceHandle& operator=(const TraceHandle&) = delete;

   const String& name() const { return name_; }

   // False for levels above maxLevel.
   bool enabled(U32 level) const {
      return level <= maxLevel && (mask_.load(std::memory_order_relaxed) & (1u << level)) != 0;
   }

   // Throws RangeException for a level above maxLevel.
   void levelIs(U32 level, bool on);
   void allLevelsIs(bool on);

private:
   friend TraceHandle& traceHandle(std::string_view name);
   explicit TraceHandle(std::string_view name) : name_(name) {}

   const String name_;
   std::atomic<U32> mask_{0};
};

// The facility called `name`, created with every level off on first use. The reference stays
// valid until the process exits; concurrent first uses of one name get the same object.
TraceHandle& traceHandle(std::string_view name);
// The names of the facilities made so far, in ascending order.
std::vector<String> traceFacilities();

}  // namespace Kiv
