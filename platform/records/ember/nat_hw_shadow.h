#pragma once

#include "platform/records/ember/nat_hw_key.h"
#include "platform/records/ember/nat_hw_shadow_entry.h"
#include "platform/tables/shoal/table.h"

namespace Ember {

// The NAT hardware shadow, collection `entrys`: every key the control plane wants in
// hardware, with its data and dirty state. Mounted read-only by the plug-in.
class NatHwShadow : public Shoal::Table<NatHwKey, NatHwShadowEntry> {
public:
   static constexpr const char* typeName = "Ember::NatHwShadow";
   using Table::Table;

   bool entryHas(const NatHwKey& key) const { return has(key); }
   U32 entrys() const { return count(); }
   void entryIs(const NatHwShadowEntry& entry) { recordIs(entry); }
   void entryDel(const NatHwKey& key) { recordDel(key); }
};

}  // namespace Ember
