#include "control_plane/nat_control_plane.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/framework/kiv/reactor.h"
#include "platform/tables/kiv_shoal/entity_manager.h"
#include "tests/support/nat_builders.h"

namespace {

using ControlPlane::Answer;
using TesselCentral::ModId;
using Dirty = Ember::NatHwShadowEntry::Dirty;

// The control plane reading the agents' answers: the status directories are the agent's,
// written through the agent's own writer mounts and gone with the agent.
class NatControlPlaneTest : public ::testing::Test {
protected:
   NatControlPlaneTest() { startAgent(); }
   ~NatControlPlaneTest() override { Kiv::eventLoop().workDelAll(); }

   void startAgent() {
      agent = nullptr;
      agent = new KivShoal::EntityManager("agent", store);
      for (U16 module : {1, 2}) {
         statusDirs[module - 1] = Kiv::ptrCast<Quill::QuillShoalStatusDir>(agent->doMount(
             ControlPlane::statusDirPath(ModId(module)), Quill::QuillShoalStatusDir::typeName,
             KivShoal::MountInfo(KivShoal::KivShoalType::writer)));
      }
   }

   void ruleIs(std::vector<ModId> modules = {ModId(1)}) {
      controlPlane.ruleIs({uid, key, NatTest::natData({.vlans = {10}}), std::move(modules), {}});
   }

   // Module `module` answers the rule's current request, and the control plane reads it.
   void answered(U16 module, U32 result) {
      statusDirs[module - 1]->quillStatusIs(Quill::QuillShoalStatus(
          Quill::QuillShoalKey(uid.value()), result, controlPlane.reqVersion(uid)));
      controlPlane.doReadAnswers();
   }

   Ember::NatHwShadowEntry shadowEntry(const Ember::NatHwKey& hwKey) const {
      bool found = false;
      return controlPlane.shadow()->safeLookup(hwKey, found);
   }
   Dirty dirty(const Ember::NatHwKey& hwKey) const { return shadowEntry(hwKey).dirty(); }

   // Whether modules 1 and 2 are asked for the rule's current request.
   std::pair<bool, bool> pending() const {
      bool found = false;
      const TesselNat::ModSet set = controlPlane.ingModSetDir()->safeLookup(uid, found).modSet();
      return {set.hasModule(ModId(1)), set.hasModule(ModId(2))};
   }

   const Ember::NatHwKey key = NatTest::staticDestNapt();
   const TesselNat::Uid uid{7};
   Kiv::Ptr<Shoal::SharedStore> store = new Shoal::SharedStore;
   ControlPlane::NatControlPlane controlPlane{store, {1, 2}};
   Kiv::Ptr<KivShoal::EntityManager> agent;
   Kiv::Ptr<Quill::QuillShoalStatusDir> statusDirs[2];
};

TEST_F(NatControlPlaneTest, RuleTurnsCleanOnlyWhenEveryModuleAnsweredItsCurrentRequest) {
   const Ember::NatHwData data(6, {}, /*faIdLimit=*/2, 5);
   const Ember::NatHwData keyData(17, {}, 2, 5);
   controlPlane.ruleIs({uid, key, data, {ModId(1), ModId(2)}, {keyData}});
   const std::vector<Ember::NatHwKey> keys = controlPlane.keys(uid);
   ASSERT_EQ(keys.size(), 2u);
   EXPECT_EQ(shadowEntry(keys[0]).protocol(), 6);
   EXPECT_EQ(shadowEntry(keys[1]).protocol(), 17);

   answered(1, 1);
   EXPECT_EQ(controlPlane.answer(uid), Answer::waiting);
   EXPECT_EQ(dirty(keys[1]), Dirty::dirty);
   answered(2, 1);
   EXPECT_EQ(controlPlane.answer(uid), Answer::programmed);
   EXPECT_EQ(dirty(keys[0]), Dirty::clean);
   EXPECT_EQ(dirty(keys[1]), Dirty::clean);
}

TEST_F(NatControlPlaneTest, FailedRuleStaysDirtyUntilARetryAndAnswersAreReadAgainAfterARestart) {
   ruleIs();
   answered(1, 2);
   EXPECT_EQ(controlPlane.answer(uid), Answer::failed);
   EXPECT_EQ(dirty(key), Dirty::dirty);
   controlPlane.requestIs(uid);
   EXPECT_EQ(controlPlane.answer(uid), Answer::waiting);
   answered(1, 1);
   ASSERT_EQ(dirty(key), Dirty::clean);

   // A retry of a programmed rule asks for it again.
   controlPlane.ruleRetryIs(uid);
   EXPECT_EQ(dirty(key), Dirty::dirty);
   answered(1, 1);
   // A new agent answers every request again; a failure it reports is seen.
   startAgent();
   controlPlane.answersReread();
   EXPECT_EQ(controlPlane.answer(uid), Answer::waiting);
   answered(1, 2);
   EXPECT_EQ(controlPlane.answer(uid), Answer::failed);
}

// The directories of a dead agent stay until its successor makes its own: what they hold
// answers the requests of the previous run, not the successor's.
TEST_F(NatControlPlaneTest, AnAnswerOfThePreviousRunDoesNotPassForTheNewRuns) {
   ruleIs();
   answered(1, 1);
   controlPlane.answersReread();
   controlPlane.doReadAnswers();
   EXPECT_EQ(controlPlane.answer(uid), Answer::waiting);
   startAgent();
   answered(1, 2);
   EXPECT_EQ(controlPlane.answer(uid), Answer::failed);
}

// A removal is asked of every module, which reads the request until it answers: the rule
// stays until the last of them answered, not only those it names.
TEST_F(NatControlPlaneTest, ARemovalWaitsForEveryModuleItAsked) {
   ruleIs({ModId(1)});
   answered(1, 1);
   controlPlane.ruleRemovalIs(uid);
   answered(1, 1);
   EXPECT_TRUE(controlPlane.quillShoalConfigDir()->quillConfigHas(Quill::QuillShoalKey(7)));
   answered(2, 1);
   EXPECT_FALSE(controlPlane.ruleHas(uid));
}

TEST_F(NatControlPlaneTest, RemovedRuleLeavesEveryTableOnceAnsweredEvenAfterAnAgentRestart) {
   ruleIs();
   answered(1, 1);
   controlPlane.ruleRemovalIs(uid);
   EXPECT_EQ(dirty(key), Dirty::deleted);
   EXPECT_EQ(pending(), std::pair(true, true))
       << "a hitless pass may have programmed the rule on a module it does not name";

   // The agent restarts: its status directories go and come back empty.
   startAgent();
   controlPlane.doReadAnswers();
   EXPECT_TRUE(controlPlane.ruleHas(uid));
   answered(1, 1);
   answered(2, 1);
   EXPECT_FALSE(controlPlane.ruleHas(uid));
   EXPECT_FALSE(controlPlane.shadow()->entryHas(key));
   EXPECT_FALSE(controlPlane.hwKeyUidTable()->entryHas(key));
   EXPECT_FALSE(controlPlane.uidHwKeyTable()->entryHas(uid));
   controlPlane.ruleRemovalIs(uid);
   EXPECT_FALSE(controlPlane.quillShoalConfigDir()->quillConfigHas(Quill::QuillShoalKey(7)))
       << "a uid with no rule has nothing to remove";

   // The uid comes back: an answer to its earlier life, left in the directory of a module that
   // was out meanwhile, must not pass for an answer to the new request.
   bool found = false;
   const U32 removal = statusDirs[0]->safeLookup(Quill::QuillShoalKey(7), found).reqVersion();
   ruleIs();
   EXPECT_GT(controlPlane.reqVersion(uid), removal);
}

// A rule keeps naming a module that leaves. When the module comes back the rule is asked of it
// alone (the other module has it), and every later request asks both again.
TEST_F(NatControlPlaneTest, ModuleThatComesBackIsAskedAloneAndLaterRequestsAskEveryModule) {
   ruleIs({ModId(1), ModId(2)});
   answered(1, 1);
   answered(2, 1);
   controlPlane.moduleDel(ModId(2));
   EXPECT_EQ(pending(), std::pair(true, false));

   const U32 before = controlPlane.reqVersion(uid);
   controlPlane.moduleIs(ModId(2));
   EXPECT_EQ(pending(), std::pair(false, true));
   EXPECT_EQ(controlPlane.reqVersion(uid), before + 1);
   EXPECT_EQ(dirty(key), Dirty::dirty);
   answered(1, 1);
   EXPECT_EQ(controlPlane.answer(uid), Answer::waiting)
       << "module 2 answered only the request before it left, which does not count";
   answered(2, 1);
   EXPECT_EQ(controlPlane.answer(uid), Answer::programmed);

   controlPlane.ruleRemovalIs(uid);
   EXPECT_EQ(pending(), std::pair(true, true));
}

struct Looker : Kiv::PtrInterface {};

// Looks at the tables whenever one of them is written.
template <class Table>
class BetweenWrites : public Kiv::Reactor<Looker, Table> {
public:
   BetweenWrites(Looker* looker, const Kiv::Ptr<Table>& table, std::function<void()> look)
       : Kiv::Reactor<Looker, Table>(looker, table), look_(std::move(look)) {
      this->isActiveIs(true);
   }
   void onRecord(const typename Table::KeyType&) override { look_(); }

private:
   std::function<void()> look_;
};

// A reader may look between any two of the control plane's writes: a request it finds there
// always names a whole rule, from its publication to its removal.
TEST_F(NatControlPlaneTest, ARequestNamesAWholeRuleBetweenAnyTwoWrites) {
   int looks = 0;
   const auto look = [&] {
      ++looks;
      if (!controlPlane.quillShoalConfigDir()->quillConfigHas(Quill::QuillShoalKey(7))) return;
      bool found = false;
      const Ember::NatHwKey base = controlPlane.uidHwKeyTable()->safeLookup(7, found).hwKey();
      EXPECT_TRUE(found && controlPlane.shadow()->entryHas(base) &&
                  controlPlane.hwKeyUidTable()->entryHas(base))
          << "look " << looks;
   };
   Looker looker;
   BetweenWrites a(&looker, controlPlane.quillShoalConfigDir(), look);
   BetweenWrites b(&looker, controlPlane.shadow(), look);
   BetweenWrites c(&looker, controlPlane.uidHwKeyTable(), look);
   BetweenWrites d(&looker, controlPlane.hwKeyUidTable(), look);
   BetweenWrites e(&looker, controlPlane.ingModSetDir(), look);
   ruleIs({ModId(1), ModId(2)});
   controlPlane.ruleRemovalIs(uid);
   answered(1, 1);
   answered(2, 1);
   EXPECT_FALSE(controlPlane.ruleHas(uid));
   EXPECT_GT(looks, 8);
}

}  // namespace
