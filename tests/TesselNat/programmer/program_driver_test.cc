#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/programmer_fixture.h"

namespace {

using NatTest::DataFields;
using NatTest::natData;
using testing::ElementsAre;

// doProgram and doDeleteEntry: entries taken from and given back to the NAT group, recorded
// per VLAN, written default before fragment.
class ProgramDriverTest : public NatTest::ProgrammerFixture {
protected:
   explicit ProgramDriverTest(U32 natEntries = 48) : ProgrammerFixture(natEntries) {}

   bool program(const Ember::NatHwKey& key, const DataFields& data, U16 vlanId) {
      publish(7, key, data);
      sdkCallsClear();
      return programmer->doProgram(key, key, natData(data), vlanId);
   }

   size_t creates() const {
      const auto calls = sdkCalls();
      return std::count_if(calls.begin(), calls.end(), [](const std::string& call) {
         return call.starts_with("bcm_field_entry_create_at");
      });
   }

   const Ember::NatHwKey srcNat = NatTest::natKey(
       {Ember::NatKeyType::staticSrcNat, NatTest::ep("10.0.0.1"), NatTest::ep("192.0.2.1")});
   Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer = newProgrammer();
};

TEST_F(ProgramDriverTest, FirstProgrammingAddsThenAgainUpdatesInPlace) {
   ASSERT_TRUE(program(srcNat, {}, 0));
   EXPECT_EQ(creates(), 1u);
   const Tessel::EntryIdTableEntry first = programmer->entryIdTable(srcNat);
   EXPECT_EQ(first.defaultEntryIds(), 1u);
   EXPECT_NE(first.defaultEntryId(0), 0u);
   EXPECT_EQ(first.fragEntryIds(), 0u);
   EXPECT_THAT(programmerTraces(),
               ElementsAre("doProgram key: " + srcNat.stringValue() + " for vlanId 0",
                           "SPSm:: adding entry " + std::to_string(first.defaultEntryId(0)) +
                               " for vlan 0"));
   EXPECT_EQ(sdkCalls().back(), "bcm_field_entry_install( unit, entryId )");

   ASSERT_TRUE(program(srcNat, {}, 0));
   EXPECT_EQ(creates(), 0u);
   EXPECT_EQ(programmer->entryIdTable(srcNat), first);
   EXPECT_THAT(
       programmerTraces(),
       ElementsAre(testing::_, "SPSm:: updating entry " + std::to_string(first.defaultEntryId(0)) +
                                   " for vlan 0"));
   EXPECT_EQ(sdkCalls().back(), "bcm_field_entry_reinstall( unit, entryId )");
}

// Entries are freed in the order they were taken, and the record stays, empty.
TEST_F(ProgramDriverTest, PortTranslatingAndDynamicKeysGetAFragmentEntryWrittenSecondFreedSecond) {
   for (const Ember::NatHwKey& key : {NatTest::staticDestNapt(), NatTest::dynamicSrc()}) {
      SCOPED_TRACE(key.stringValue());
      ASSERT_TRUE(program(key, {.vlans = {10}}, 10));
      EXPECT_EQ(creates(), 2u);
      const Tessel::EntryIdTableEntry entry = programmer->entryIdTable(key);
      ASSERT_TRUE(entry.fragEntryIdHas(10));
      const std::string defaultId = std::to_string(entry.defaultEntryId(10));
      const std::string fragId = std::to_string(entry.fragEntryId(10));
      EXPECT_THAT(programmerTraces(),
                  ElementsAre(testing::_, "SPSm:: adding entry " + defaultId + " for vlan 10",
                              "SPSm:: adding frag entry " + fragId + " for vlan 10"));
      EXPECT_EQ(chip_.entry(module, entry.fragEntryId(10))->installState(),
                Chip::InstallState::installed);

      sdkCallsClear();
      programmer->doDeleteEntry(key, 10);
      EXPECT_THAT(sdkCalls(), ElementsAre("bcm_field_entry_destroy( unit, entryId )",
                                          "bcm_field_entry_destroy( unit, entryId )"));
      EXPECT_THAT(
          programmerTraces(),
          ElementsAre("SPSm:: freeing entry " + defaultId + " for key " + key.stringValue(),
                      "SPSm:: freeing frag entry " + fragId + " for key " + key.stringValue()));
      EXPECT_TRUE(entriesHeld().empty());
      EXPECT_EQ(programmer->entryIdTable(key), Tessel::EntryIdTableEntry(key));
      EXPECT_TRUE(programmer->entryIdTableHas(key));
   }
}

TEST_F(ProgramDriverTest, FragmentEntryLooksTheUidUpAgainAfterTheDefaultEntrysCalls) {
   const Ember::NatHwKey key = NatTest::staticDestNapt();
   publish(7, key, {.vlans = {10}});
   // The control plane renumbers the rule while the default entry's last actions are written.
   Kiv::eventLoop().workIs(
       [&] { controlPlane.hwKeyUidTable()->entryIs(TesselNat::UidEntry(key, TesselNat::Uid(9))); });
   Shim::sdk_.faultInjector().workDuringNthCallIs(Shim::Operation::actionAdd, 3);
   ASSERT_TRUE(programmer->doProgram(key, key, natData({.vlans = {10}}), 10));
   const Tessel::EntryIdTableEntry entry = programmer->entryIdTable(key);
   const auto uidOf = [&](U32 id) {
      return chip_.entry(module, id)
          ->actions()
          .find(Shim::sdk_.bcmFieldActionAssignOpaqueObject1())
          ->param0;
   };
   EXPECT_EQ(uidOf(entry.defaultEntryId(10)), 7u);
   EXPECT_EQ(uidOf(entry.fragEntryId(10)), 9u);
}

TEST_F(ProgramDriverTest, BrokenInvariantsStop) {
   expectAssertion("shadow()->entryHas( hwKey )", [&] {
      programmer->doProgram(NatTest::staticDestNapt(), srcNat, natData({}), 10);
   });
   const Ember::NatHwKey napt = NatTest::staticSrcNapt();
   ASSERT_TRUE(program(napt, {}, 0));
   Tessel::EntryIdTableEntry withoutFrag = programmer->entryIdTable(napt);
   withoutFrag.fragEntryIdDelAll();
   programmer->entryIdTableIs(withoutFrag);
   expectAssertion("entry.fragEntryIdHas( vlanId )",
                   [&] { programmer->doProgram(napt, napt, natData({}), 0); });
}

class FullTcamTest : public ProgramDriverTest {
protected:
   FullTcamTest() : ProgramDriverTest(3) {}
};

// Short of a fragment entry a key gives its default entry back; short of a default entry it
// keeps an empty record. Each failure logs the key.
TEST_F(FullTcamTest, AFailedAllocationGivesBackWhatItTookAndLogsTheKey) {
   for (U32 i = 0; i < 2; ++i) natEntryManager->getEntry(module, "other");
   const std::set<U32> heldBefore = entriesHeld();
   const Ember::NatHwKey key = NatTest::staticDestNapt();
   EXPECT_FALSE(program(key, {.vlans = {10}}, 10));
   EXPECT_EQ(entriesHeld(), heldBefore);
   EXPECT_FALSE(programmer->entryIdTable(key).defaultEntryIdHas(10));
   EXPECT_THAT(sdkCalls(), ElementsAre("bcm_field_entry_create_at( unit, group(), entryId, slot )",
                                       "bcm_field_entry_destroy( unit, entryId )"));

   natEntryManager->getEntry(module, "other");
   EXPECT_FALSE(program(srcNat, {}, 0));
   EXPECT_EQ(creates(), 0u);
   EXPECT_TRUE(programmer->entryIdTableHas(srcNat));
   EXPECT_EQ(programmer->entryIdTable(srcNat), Tessel::EntryIdTableEntry(srcNat));
   ASSERT_EQ(logs.records().size(), 2u);
   const std::string full = "Hardware resources are insufficient to add NAT rule with key <";
   EXPECT_EQ(logs.records()[0].text, full + key.stringValue() + ">");
   EXPECT_EQ(logs.records()[1].text, full + srcNat.stringValue() + ">");
}

}  // namespace
