#pragma once

#include "platform/records/ember/nat_hw_key.h"
#include "platform/records/tessel_nat/hw_key_entry.h"
#include "platform/records/tessel_nat/mod_set_entry.h"
#include "platform/records/tessel_nat/uid_entry.h"
#include "platform/tables/shoal/table.h"

namespace TesselNat {

// Uid of the rule a hardware key belongs to, keyed by the key.
class HwKeyUidTable : public Shoal::Table<Ember::NatHwKey, UidEntry> {
public:
   static constexpr const char* typeName = "TesselNat::HwKeyUidTable";
   using Table::Table;

   bool entryHas(const Ember::NatHwKey& key) const { return has(key); }
   void entryIs(const UidEntry& entry) { recordIs(entry); }
   void entryDel(const Ember::NatHwKey& key) { recordDel(key); }
};

// Base hardware key of each rule, collection `entry`, keyed by uid.
class UidHwKeyTable : public Shoal::Table<U32, HwKeyEntry> {
public:
   static constexpr const char* typeName = "TesselNat::UidHwKeyTable";
   using Table::Table;

   bool entryHas(Uid uid) const { return has(uid.value()); }
   void entryIs(const HwKeyEntry& entry) { recordIs(entry); }
   void entryDel(Uid uid) { recordDel(uid.value()); }
};

// Modules that still have to commit each uid, keyed by uid.
class ModSetDir : public Shoal::Table<U32, ModSetEntry> {
public:
   static constexpr const char* typeName = "TesselNat::ModSetDir";
   using Table::Table;

   void modSetIs(const ModSetEntry& entry) { recordIs(entry); }
   void modSetDel(Uid uid) { recordDel(uid.value()); }
};

}  // namespace TesselNat
