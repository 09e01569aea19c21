#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#include "tests/support/programmer_fixture.h"

namespace {

using NatTest::DataFields;
using Start = TesselTcamGroupManager::Start;

// One rule of each type, every one translating ports: 12 entries in all.
struct PublishedRule {
   U32 uid;
   Ember::NatHwKey key;
   DataFields data;

   Chip::Packet packet() const {
      return NatTest::packetOf(key, data, data.vlans.empty() ? U16{0} : data.vlans[0]);
   }
};

// A switch whose agent restarts: the chip, the shared memory with the control plane's tables
// and the shared agent state stay; the agent's mounts, TCAM managers and programmer are
// destroyed and built again. The NAT group is exactly as large as the rules need.
class RestartTest : public ShimTest::SdkFixture {
protected:
   static constexpr U16 module = 1;
   static constexpr U32 natEntries = 12;

   struct Agent {
      Agent(RestartTest& world, Start start)
          : entityManager(new KivShoal::EntityManager("agent", world.sharedMemory)),
            groups(new TesselTcamGroupManager(64, start, {module})),
            nat(groups->unboundedEntryManagerIs(
                {Tessel::natTcamGroupAssignment, 1, natEntries, 2, 1})),
            programmer(NatTest::programmerOn(*entityManager,
                                             NatTest::statusDirOf(*entityManager, module), module,
                                             groups, world.scsd)) {}

      Kiv::Ptr<KivShoal::EntityManager> entityManager;
      Kiv::Ptr<TesselTcamGroupManager> groups;
      Kiv::Ptr<TesselUnboundedTcamEntryManager> nat;
      Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer;
   };

   RestartTest() {
      for (const PublishedRule& rule : rules) {
         controlPlane.ruleIs({TesselNat::Uid(rule.uid),
                              rule.key,
                              NatTest::natData(rule.data),
                              {TesselCentral::ModId(module)},
                              {}});
      }
      agent = std::make_unique<Agent>(*this, Start::cold);
      for (const PublishedRule& rule : rules) {
         commit(rule);
         const auto match = chip_.classify(module, rule.packet());
         EXPECT_TRUE(match) << "uid " << rule.uid;
         if (match) actionsBefore[rule.uid] = match->actions;
      }
   }

   // Commits the rule, which must succeed.
   void commit(const PublishedRule& rule) {
      agent->programmer->doCommitHwConfig(TesselNat::Uid(rule.uid));
      bool found = false;
      EXPECT_EQ(agent->programmer->quillShoalStatusDir()
                    ->safeLookup(Quill::QuillShoalKey(rule.uid), found)
                    .result(),
                1u)
          << "uid " << rule.uid;
   }

   // Every rule's packet still meets the actions it met before the restart.
   void expectPacketsClassifyAsBefore(const char* when) {
      for (const PublishedRule& rule : rules) {
         const auto match = chip_.classify(module, rule.packet());
         ASSERT_TRUE(match) << "uid " << rule.uid << " missed " << when;
         EXPECT_THAT(match->actions.items(),
                     testing::ElementsAreArray(actionsBefore.at(rule.uid).items()))
             << "uid " << rule.uid << " " << when;
      }
   }

   const std::vector<PublishedRule> rules = {
       {1, NatTest::staticSrcNapt(), {.protocol = 6}},
       {2, NatTest::staticDestNapt(), {.nextHop = 5, .vlans = {10}}},
       {3, NatTest::twiceSrcNapt(), {.nextHop = 0}},
       {4, NatTest::twiceDestNapt(), {.vlans = {20}}},
       {5, NatTest::dynamicSrc(17), {}},
       {6, NatTest::dynamicDest(17), {.nextHop = 7, .vlans = {30}}},
   };
   Kiv::Ptr<Shoal::SharedStore> sharedMemory = new Shoal::SharedStore;
   ControlPlane::NatControlPlane controlPlane{sharedMemory, {module}};
   Kiv::Ptr<TesselCommonSmData> scsd = new TesselCommonSmData("tesselCommon");
   std::unique_ptr<Agent> agent;
   std::map<U32, Chip::ActionList> actionsBefore;
};

TEST_F(RestartTest, WarmRestartOfAFullGroupNeverLetsAPacketMissAndLeavesExactlyTheNewEntries) {
   for (const PublishedRule& rule : rules) controlPlane.ruleCleanIs(TesselNat::Uid(rule.uid));
   agent.reset();
   expectPacketsClassifyAsBefore("with the agent down");

   scsd->hitlessInitIs(true);
   scsd->flashDownloadWaitIs(3, false);
   agent = std::make_unique<Agent>(*this, Start::warm);
   for (const PublishedRule& rule : rules) {
      commit(rule);
      expectPacketsClassifyAsBefore("while reprogramming");
   }

   // The agent's TCAM flash download, then the step reported done: the programmer is
   // initialised, switches port translation on and leaves its hitless phase.
   agent->groups->doFlashDownload();
   scsd->flashDownloadWaitIs(3, true);
   expectPacketsClassifyAsBefore("after the flash download");
   // The group holds exactly what the entry-id table records, in the chip and the manager.
   const std::set<U32> recorded = agent->programmer->entryIds();
   EXPECT_EQ(recorded.size(), natEntries);
   EXPECT_EQ(agent->nat->entriesHeld(module), recorded);
   std::vector<U32> inChip(natEntries + 1);
   U32 count = 0;
   ASSERT_EQ(chip_.bcm_field_entry_multi_get(module, 1, inChip, &count), 0);
   inChip.resize(count);
   EXPECT_EQ(std::set<U32>(inChip.begin(), inChip.end()), recorded);
}

}  // namespace
