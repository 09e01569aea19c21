#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "tests/support/programmer_fixture.h"

namespace {

using NatTest::DataFields;

// Random sequences of commits (adds, changes of data, VLAN lists and key counts, removals,
// requests for other modules) on a TCAM too small for all of them, while another user of
// the NAT group takes and frees entries. After every commit the entries the programmer
// holds must be exactly the ids its entry-id table records, and a successful commit must
// leave each key of the rule on exactly the VLANs it should be on.
//
// The sequences are fixed by a base seed (TESSEL_NAT_SEED, default below) plus the case
// number; a failure names its seed, and setting TESSEL_NAT_SEED replays it.
class CommitPropertyTest : public NatTest::ProgrammerFixture,
                           public ::testing::WithParamInterface<int> {
protected:
   static constexpr int steps = 80;
   static constexpr U32 uids = 6;

   CommitPropertyTest() : ProgrammerFixture(16) {}

   static unsigned baseSeed() {
      const char* fromEnvironment = std::getenv("TESSEL_NAT_SEED");
      return fromEnvironment ? static_cast<unsigned>(std::strtoul(fromEnvironment, nullptr, 10))
                             : 20261205u;
   }

   // Uid u always carries the key of type u, so that the keys of different uids differ.
   static Ember::NatHwKey keyOf(U32 uid) {
      switch (uid) {
         case 1:
            return NatTest::staticSrcNapt();
         case 2:
            return NatTest::staticDestNapt();
         case 3:
            return NatTest::twiceSrcNapt();
         case 4:
            return NatTest::twiceDestNapt();
         case 5:
            return NatTest::dynamicSrc(6);
         default:
            return NatTest::dynamicDest(17);
      }
   }

   static bool perVlan(const Ember::NatHwKey& key) {
      return key.type() == Ember::NatKeyType::staticDestNat ||
             key.type() == Ember::NatKeyType::twiceDestNat ||
             key.type() == Ember::NatKeyType::dynamicDestNat;
   }

   DataFields randomData() {
      std::vector<U16> vlans{10, 20, 30};
      std::shuffle(vlans.begin(), vlans.end(), rng);
      vlans.resize(pick(0, 3));
      const U64 nextHops[] = {0, ~U64{0}, 5};
      return {.protocol = static_cast<U8>(pick(0, 1) ? 6 : 0),
              .nextHop = nextHops[pick(0, 2)],
              .vlans = vlans,
              .faIdLimit = static_cast<U32>(pick(0, 3))};
   }

   int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }

   std::set<U16> vlansOf(const Tessel::EntryIdTableEntry& entry, bool frag) const {
      std::set<U16> vlans;
      for (const auto& [vlan, id] : frag ? entry.fragEntryIdMap() : entry.defaultEntryIdMap()) {
         vlans.insert(vlan);
      }
      return vlans;
   }

   // Held entries equal recorded ids, none twice, none 0; fragments only beside defaults.
   void checkHeldEqualsRecorded() {
      std::multiset<U32> recorded;
      programmer->entryIdTableForEach([&](const Tessel::EntryIdTableEntry& entry) {
         for (const auto& [vlan, id] : entry.defaultEntryIdMap()) recorded.insert(id);
         for (const auto& [vlan, id] : entry.fragEntryIdMap()) {
            recorded.insert(id);
            EXPECT_TRUE(entry.defaultEntryIdHas(vlan)) << entry.key().stringValue();
         }
      });
      EXPECT_EQ(recorded.count(0), 0u);
      std::set<U32> expected(recorded.begin(), recorded.end());
      EXPECT_EQ(expected.size(), recorded.size()) << "an id recorded twice";
      for (U32 id : otherUser) expected.insert(id);
      EXPECT_EQ(entriesHeld(), expected);
   }

   // After a successful commit of a published rule: each key on exactly its VLANs.
   void checkRuleProgrammed(U32 uid, const DataFields& data) {
      const Ember::NatHwKey key0 = keyOf(uid);
      const std::set<U16> wanted =
          perVlan(key0) ? std::set<U16>(data.vlans.begin(), data.vlans.end()) : std::set<U16>{0};
      const U32 keys = std::max<U32>(1, data.faIdLimit);
      for (U32 faId = 0; faId < keys + 1; ++faId) {
         Ember::NatHwKey key = key0;
         key.faIdIs(faId);
         const Tessel::EntryIdTableEntry entry = programmer->entryIdTable(key);
         SCOPED_TRACE(key.stringValue());
         if (faId == keys) {
            EXPECT_FALSE(programmer->entryIdTableHas(key));
            continue;
         }
         EXPECT_EQ(vlansOf(entry, false), wanted);
         EXPECT_EQ(vlansOf(entry, true), wanted);  // every key of the table translates ports
      }
   }

   void step() {
      const U32 uid = static_cast<U32>(pick(1, uids));
      const TesselNat::Uid rule(uid);
      const int action = pick(0, 9);
      if (action <= 5) {
         const DataFields data = randomData();
         const bool pending = action != 5;
         publish(uid, keyOf(uid), data, pending);
         programmer->doCommitHwConfig(rule);
         if (pending && status(uid).result() == 1) checkRuleProgrammed(uid, data);
      } else if (action <= 7 && published(uid)) {
         controlPlane.ruleRemovalIs(rule);
         programmer->doCommitHwConfig(rule);
         controlPlane.ruleDel(rule);
      } else if (action == 8) {
         if (const U32 id = natEntryManager->getEntry(module, "other")) otherUser.insert(id);
      } else if (!otherUser.empty()) {
         const U32 id = *otherUser.begin();
         natEntryManager->freeEntry(module, id);
         otherUser.erase(id);
      }
      checkHeldEqualsRecorded();
   }

   bool published(U32 uid) const {
      return controlPlane.uidHwKeyTable()->entryHas(TesselNat::Uid(uid));
   }

   const unsigned seed = baseSeed() + static_cast<unsigned>(GetParam());
   std::mt19937 rng{seed};
   std::set<U32> otherUser;
   Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer = newProgrammer();
};

TEST_P(CommitPropertyTest, EntriesHeldAlwaysEqualTheRecordedIds) {
   SCOPED_TRACE("replay with TESSEL_NAT_SEED=" + std::to_string(seed) +
                " --gtest_filter=*CommitPropertyTest*/0");
   for (int i = 0; i < steps && !HasFailure(); ++i) step();
}

INSTANTIATE_TEST_SUITE_P(Seeds, CommitPropertyTest, ::testing::Range(0, 40));

}  // namespace
