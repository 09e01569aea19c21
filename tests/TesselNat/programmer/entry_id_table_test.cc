#include "TesselNat/programmer/entry_id_table.h"

#include <gtest/gtest.h>

#include "platform/framework/kiv/assert.h"
#include "platform/framework/kiv/errors.h"

namespace {

using Tessel::EntryIdTableEntry;

Ember::NatHwKey keyWithFaId(U32 faId) {
   return Ember::NatHwKey()
       .typeIs(Ember::NatKeyType::staticSrcNat)
       .srcIpAndPortOldIs({Netbase::IpAddr("10.0.0.1"), 0})
       .srcIpAndPortNewIs({Netbase::IpAddr("192.0.2.1"), 0})
       .faIdIs(faId);
}

EntryIdTableEntry record(U32 faId, U16 vlan, U32 defaultId, U32 fragId = 0) {
   EntryIdTableEntry entry(keyWithFaId(faId));
   entry.defaultEntryIdIs(vlan, defaultId);
   if (fragId) entry.fragEntryIdIs(vlan, fragId);
   return entry;
}

TEST(EntryIdTableEntryTest, EqualityComparesKeyThenBothMaps) {
   EXPECT_EQ(record(0, 10, 5), record(0, 10, 5));
   EXPECT_FALSE(record(0, 10, 5, 6) == record(0, 10, 5, 7));
   EXPECT_FALSE(record(0, 10, 5) == record(1, 10, 5));
   EXPECT_FALSE(record(0, 10, 5) == record(0, 20, 5));
}

TEST(EntryIdTableEntryTest, OnlyAnAllZeroRecordWithoutIdsIsEmpty) {
   EXPECT_TRUE(!EntryIdTableEntry());
   EXPECT_FALSE(!EntryIdTableEntry(keyWithFaId(0)));
   EntryIdTableEntry zeroKeyWithId;
   zeroKeyWithId.defaultEntryIdIs(0, 1);
   EXPECT_FALSE(!zeroKeyWithId);
}

TEST(EntryIdTableEntryTest, TextShowsNoneForBothCollectionsWhateverTheyHold) {
   const EntryIdTableEntry entry = record(0, 10, 5, 6);
   EXPECT_EQ(entry.stringValue(),
             "Value('Tessel::EntryIdTableEntry', ** {'key': " + entry.key().toString() +
                 ", 'defaultEntryId': None, 'fragEntryId': None})");
}

TEST(EntryIdTableEntryTest, GenericHashAndTextConstructionAreRefused) {
   EXPECT_THROW(EntryIdTableEntry().hash(), Kiv::TypeException);
   auto previous = Kiv::assertionHandlerIs(&Kiv::throwingAssertionHandler);
   try {
      EntryIdTableEntry::fromString("x");
      ADD_FAILURE() << "no assertion";
   } catch (const Kiv::AssertionFailure& failure) {
      EXPECT_EQ(failure.expression(),
                "!\"No String constructor for EntryIdTableEntry - has collection\"");
   }
   Kiv::assertionHandlerIs(previous);
}

class EntryIdTableTest : public ::testing::Test {
protected:
   Tessel::EntryIdTable table;
};

TEST_F(EntryIdTableTest, AbsentKeyReadsAsAnEmptyRecordNotOneCarryingTheKey) {
   const EntryIdTableEntry read = table.entry(keyWithFaId(3));
   EXPECT_TRUE(!read);
   EXPECT_EQ(read.key(), Ember::NatHwKey());
}

TEST_F(EntryIdTableTest, DelReturnsTheRecordAndAbsentDelChangesNothing) {
   table.entryIs(record(0, 10, 5));
   table.entryIs(record(1, 10, 6));
   EXPECT_TRUE(!table.entryDel(keyWithFaId(2)));
   EXPECT_EQ(table.size(), 2u);
   EXPECT_EQ(table.entryDel(keyWithFaId(1)), record(1, 10, 6));
   EXPECT_FALSE(table.has(keyWithFaId(1)));
   EXPECT_TRUE(table.has(keyWithFaId(0)));
}

}  // namespace
