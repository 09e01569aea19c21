#include <gtest/gtest.h>

#include "platform/tessel_nat/hw_key_entry.h"
#include "platform/tessel_nat/mod_set_entry.h"
#include "platform/tessel_nat/uid_entry.h"

namespace {

using Ember::NatHwKey;
using Ember::NatKeyType;
using TesselCentral::ModId;
using TesselNat::ModSet;
using TesselNat::Uid;

const NatHwKey someKey = NatHwKey().typeIs(NatKeyType::staticSrcNat).faIdIs(9);

TEST(ModSetTest, HoldsEachModuleIncludingBothEnds) {
   ModSet set;
   EXPECT_TRUE(set.empty());
   for (int id : {0, 63, 64}) set.moduleIs(ModId(id));
   EXPECT_EQ(set.modules(), 3u);
   EXPECT_TRUE(set.hasModule(ModId(63)));
   EXPECT_TRUE(set.hasModule(ModId(64)));
   EXPECT_FALSE(set.hasModule(ModId(1)));
   EXPECT_EQ(set.stringValue(), "{0, 63, 64}");

   set.moduleDel(ModId(64));
   set.moduleDel(ModId(5));  // absent: no effect
   EXPECT_FALSE(set.hasModule(ModId(64)));
   EXPECT_TRUE(set.hasModule(ModId(63)));
   EXPECT_EQ(set.modules(), 2u);
}

TEST(TesselNatRecordsTest, DefaultsHoldUidZeroAndDifferFromBuiltRecords) {
   EXPECT_EQ(TesselNat::UidEntry().uid(), 0u);
   EXPECT_EQ(TesselNat::HwKeyEntry().key(), 0u);
   EXPECT_EQ(TesselNat::ModSetEntry().key(), 0u);

   const TesselNat::UidEntry uidEntry(someKey, Uid(7));
   EXPECT_EQ(uidEntry.key(), someKey);
   EXPECT_EQ(uidEntry.uid(), 7u);
   EXPECT_NE(uidEntry, TesselNat::UidEntry());

   const TesselNat::HwKeyEntry hwKeyEntry(Uid(7), someKey);
   EXPECT_EQ(hwKeyEntry.key(), 7u);
   EXPECT_EQ(hwKeyEntry.hwKey(), someKey);

   ModSet modules;
   modules.moduleIs(ModId(3));
   const TesselNat::ModSetEntry modSetEntry(Uid(7), modules);
   EXPECT_EQ(modSetEntry.stringValue(), "uid: 7 modules: {3}");
   EXPECT_NE(modSetEntry, TesselNat::ModSetEntry(Uid(7), ModSet()));
}

}  // namespace
