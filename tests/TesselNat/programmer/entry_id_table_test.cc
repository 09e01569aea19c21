#include "TesselNat/programmer/entry_id_table.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "platform/framework/kiv/assert.h"
#include "platform/framework/kiv/errors.h"
#include "platform/framework/kiv/type_registry.h"

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

// The pairs of a map in iteration order.
std::vector<std::pair<U16, U32>> pairs(const EntryIdTableEntry::EntryIdMap& map) {
   return {map.begin(), map.end()};
}

TEST(EntryIdTableEntryTest, MapsKeepVlanOrderAndCountsThroughGrowthCopiesAndRemovals) {
   EntryIdTableEntry entry(keyWithFaId(0));
   for (U16 vlan : {30, 10, 50, 20, 40}) entry.defaultEntryIdIs(vlan, 100 + vlan);
   entry.fragEntryIdIs(20, 7);
   entry.fragEntryIdIs(60, 8);  // a fragment id without a default id on its VLAN
   using Pairs = std::vector<std::pair<U16, U32>>;
   EXPECT_EQ(pairs(entry.defaultEntryIdMap()),
             (Pairs{{10, 110}, {20, 120}, {30, 130}, {40, 140}, {50, 150}}));
   EXPECT_EQ(pairs(entry.fragEntryIdMap()), (Pairs{{20, 7}, {60, 8}}));
   EXPECT_EQ(entry.defaultEntryIds(), 5u);
   EXPECT_EQ(entry.fragEntryIds(), 2u);
   EXPECT_FALSE(entry.defaultEntryIdHas(60));

   // Copies are deep: changing one leaves the other.
   EntryIdTableEntry copy = entry;
   copy.defaultEntryIdDel(20);
   copy.fragEntryIdDel(60);
   copy.defaultEntryIdIs(30, 9);
   EXPECT_EQ(entry.defaultEntryId(20), 120u);
   EXPECT_EQ(entry.defaultEntryId(30), 130u);
   EXPECT_EQ(pairs(copy.defaultEntryIdMap()), (Pairs{{10, 110}, {30, 9}, {40, 140}, {50, 150}}));
   // VLAN 20 keeps its fragment id when its default id goes.
   EXPECT_EQ(pairs(copy.fragEntryIdMap()), (Pairs{{20, 7}}));
   EXPECT_EQ(copy.defaultEntryIds(), 4u);
   EXPECT_FALSE(copy == entry);

   EntryIdTableEntry moved = std::move(copy);
   EXPECT_EQ(moved.defaultEntryIds(), 4u);
   moved.defaultEntryIdDelAll();
   EXPECT_TRUE(moved.defaultEntryIdMap().empty());
   EXPECT_EQ(pairs(moved.fragEntryIdMap()), (Pairs{{20, 7}}));
   moved.fragEntryIdDelAll();
   EXPECT_EQ(moved, EntryIdTableEntry(keyWithFaId(0)));
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

TEST(EntryIdTableEntryTest, DescriptorReadsKeyAndBothMapsOfARecordCarriedByValue) {
   const Kiv::Ptr<Kiv::TypeNode> type = EntryIdTableEntry::typeNode();
   std::vector<Kiv::String> members;
   for (const Kiv::MemberDescriptor& member : type->members()) members.push_back(member.name);
   EXPECT_EQ(members, (std::vector<Kiv::String>{"key", "defaultEntryId", "fragEntryId"}));

   const std::any value = record(4, 10, 5, 6);
   EXPECT_EQ(std::any_cast<Ember::NatHwKey>(type->valueAttribute(value, "key")), keyWithFaId(4));
   EXPECT_EQ(std::any_cast<U32>(type->valueMember(value, "defaultEntryId", U16{10})), 5u);
   EXPECT_EQ(std::any_cast<U32>(type->valueMember(value, "fragEntryId", U16{10})), 6u);
   EXPECT_EQ(std::any_cast<U32>(type->valueMember(value, "fragEntryId", U16{11})), 0u);
   EXPECT_EQ(type->valueText(value), record(4, 10, 5, 6).stringValue());
   EXPECT_THROW(type->valueMember(value, "defaultEntryId", 10), Kiv::TypeException);
   EXPECT_THROW(type->valueAttribute(keyWithFaId(4), "key"), Kiv::TypeException);
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

// Thousands of keys added and removed in an order that packs long probe runs and moves records
// around: every key still finds exactly its own record, with its ids, and no removed one is found.
TEST_F(EntryIdTableTest, ChurnKeepsEveryKeyFindingItsOwnRecord) {
   std::map<U32, U32> model;  // faId -> default entry id
   const auto check = [&] {
      ASSERT_EQ(table.size(), model.size());
      for (U32 faId = 0; faId < 3000; ++faId) {
         const std::optional<EntryIdTableEntry> found = table.find(keyWithFaId(faId));
         const auto expected = model.find(faId);
         ASSERT_EQ(found.has_value(), expected != model.end()) << faId;
         if (found) {
            ASSERT_EQ(*found, record(faId, 10, expected->second)) << faId;
         }
      }
   };
   for (U32 faId = 0; faId < 3000; ++faId) {
      table.entryIs(record(faId, 10, faId + 1));
      model[faId] = faId + 1;
   }
   check();
   for (U32 faId = 0; faId < 3000; faId += 3) {
      EXPECT_EQ(table.entryDel(keyWithFaId(faId)), record(faId, 10, faId + 1));
      model.erase(faId);
   }
   check();
   for (U32 faId = 0; faId < 3000; faId += 2) {
      table.entryIs(record(faId, 10, faId + 7));
      model[faId] = faId + 7;
   }
   check();
   for (U32 faId = 2999; faId < 3000; faId -= 5) {
      table.entryDel(keyWithFaId(faId));
      model.erase(faId);
   }
   check();
}

}  // namespace
