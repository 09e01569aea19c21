#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
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
   Chip::Packet packet;
};

std::vector<PublishedRule> rulesOfEverySixTypes() {
   const U32 dns = Netbase::IpAddr("8.8.8.8").value();
   const U32 host = Netbase::IpAddr("10.0.0.1").value();
   return {
       {1,
        NatTest::staticSrcNapt(),
        {.protocol = 6},
        {.srcIp = host, .srcPort = 80, .ipProtocol = 6}},
       {2,
        NatTest::staticDestNapt(),
        {.nextHop = 5, .vlans = {10}},
        {.l3Ingress = 10,
         .dstIp = Netbase::IpAddr("203.0.113.5").value(),
         .dstPort = 80,
         .ipProtocol = 17}},
       {3,
        NatTest::twiceSrcNapt(),
        {.nextHop = 0},
        {.srcIp = host,
         .dstIp = Netbase::IpAddr("198.51.100.7").value(),
         .srcPort = 1000,
         .dstPort = 53,
         .ipProtocol = 17}},
       {4,
        NatTest::twiceDestNapt(),
        {.vlans = {20}},
        {.l3Ingress = 20,
         .srcIp = Netbase::IpAddr("198.51.100.7").value(),
         .dstIp = Netbase::IpAddr("203.0.113.5").value(),
         .srcPort = 1000,
         .dstPort = 80,
         .ipProtocol = 17}},
       {5,
        NatTest::dynamicSrc(17),
        {},
        {.srcIp = host, .dstIp = dns, .srcPort = 1000, .dstPort = 53, .ipProtocol = 17}},
       {6,
        NatTest::dynamicDest(17),
        {.nextHop = 7, .vlans = {30}},
        {.srcIp = dns,
         .dstIp = Netbase::IpAddr("192.0.2.1").value(),
         .srcPort = 53,
         .dstPort = 3000,
         .ipProtocol = 17}},
   };
}

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
      commitAll(1);
      for (const PublishedRule& rule : rules) {
         const auto match = chip_.classify(module, rule.packet);
         EXPECT_TRUE(match) << "uid " << rule.uid;
         if (match) actionsBefore[rule.uid] = match->actions;
      }
   }

   void commitAll(U32 expectedResult) {
      for (const PublishedRule& rule : rules) {
         agent->programmer->doCommitHwConfig(TesselNat::Uid(rule.uid));
         bool found = false;
         EXPECT_EQ(agent->programmer->quillShoalStatusDir()
                       ->safeLookup(Quill::QuillShoalKey(rule.uid), found)
                       .result(),
                   expectedResult)
             << "uid " << rule.uid;
      }
   }

   // Every rule's packet still meets the actions it met before the restart.
   void expectPacketsClassifyAsBefore(const char* when) {
      for (const PublishedRule& rule : rules) {
         const auto match = chip_.classify(module, rule.packet);
         ASSERT_TRUE(match) << "uid " << rule.uid << " missed " << when;
         const auto got = match->actions.items();
         const auto wanted = actionsBefore.at(rule.uid).items();
         EXPECT_TRUE(std::equal(got.begin(), got.end(), wanted.begin(), wanted.end()))
             << "uid " << rule.uid << " " << when;
      }
   }

   // The group holds exactly what the entry-id table records, in the chip and the manager.
   void expectGroupHoldsTheRecordedEntries() {
      const std::set<U32> recorded = agent->programmer->entryIds();
      EXPECT_EQ(recorded.size(), natEntries);
      EXPECT_EQ(agent->nat->entriesHeld(module), recorded);
      std::vector<U32> inChip(natEntries + 1);
      U32 count = 0;
      ASSERT_EQ(chip_.bcm_field_entry_multi_get(module, 1, inChip, &count), 0);
      inChip.resize(count);
      EXPECT_EQ(std::set<U32>(inChip.begin(), inChip.end()), recorded);
   }

   const std::vector<PublishedRule> rules = rulesOfEverySixTypes();
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
   ASSERT_TRUE(agent->programmer->hitlessInitPhase());
   for (const PublishedRule& rule : rules) {
      agent->programmer->doCommitHwConfig(TesselNat::Uid(rule.uid));
      expectPacketsClassifyAsBefore("while reprogramming");
   }
   commitAll(1);

   // The agent's TCAM flash download, then the step reported done: the programmer is
   // initialised, switches port translation on and leaves its hitless phase.
   agent->groups->doFlashDownload();
   scsd->flashDownloadWaitIs(3, true);
   expectPacketsClassifyAsBefore("after the flash download");
   expectGroupHoldsTheRecordedEntries();
   EXPECT_TRUE(agent->nat->entriesRecovered(module).empty());
   EXPECT_TRUE(agent->programmer->initialized());
   EXPECT_FALSE(agent->programmer->hitlessInitPhase());
   EXPECT_EQ(chip_.portTranslationControl(module) >> 20 & 1, 1u) << "translation enabled";
   EXPECT_THAT(
       [&] { agent->programmer->doCommitHwConfig(TesselNat::Uid(1)); },
       testing::Throws<Kiv::AssertionFailure>(testing::Property(
           &Kiv::AssertionFailure::expression,
           testing::StrEq("hitlessInitPhase() && \"invalid hw access with clean shadow\""))));
}

TEST_F(RestartTest, ColdRestartResetsTheChipAndProgramsAfresh) {
   agent.reset();
   chip_.doReset();
   EXPECT_FALSE(chip_.classify(module, rules[0].packet));
   agent = std::make_unique<Agent>(*this, Start::cold);
   for (const PublishedRule& rule : rules) controlPlane.requestIs(TesselNat::Uid(rule.uid));
   commitAll(1);
   expectPacketsClassifyAsBefore("after the cold restart");
   expectGroupHoldsTheRecordedEntries();
}

}  // namespace
