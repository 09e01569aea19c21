#include "control_plane/nat_control_plane.h"

#include <gtest/gtest.h>

#include "platform/tables/kiv_shoal/entity_manager.h"
#include "tests/support/nat_builders.h"

namespace {

using ControlPlane::Answer;
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
         statusDirs[module - 1] = Kiv::ptrCast<Quill::QuillShoalStatusDir>(
             agent->doMount(ControlPlane::statusDirPath(TesselCentral::ModId(module)),
                            Quill::QuillShoalStatusDir::typeName,
                            KivShoal::MountInfo(KivShoal::KivShoalType::writer)));
      }
   }

   // Module `module` answers the rule's current request.
   void answer(U16 module, U32 result, U32 uid = 7) {
      statusDirs[module - 1]->quillStatusIs(Quill::QuillShoalStatus(
          Quill::QuillShoalKey(uid), result, controlPlane.reqVersion(TesselNat::Uid(uid))));
   }

   Dirty dirty(const Ember::NatHwKey& key) const {
      bool found = false;
      return controlPlane.shadow()->safeLookup(key, found).dirty();
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
   controlPlane.ruleIs(
       {uid, key, data, {TesselCentral::ModId(1), TesselCentral::ModId(2)}, {keyData}});
   const std::vector<Ember::NatHwKey> keys = controlPlane.keys(uid);
   ASSERT_EQ(keys.size(), 2u);
   bool found = false;
   EXPECT_EQ(controlPlane.shadow()->safeLookup(keys[0], found).protocol(), 6);
   EXPECT_EQ(controlPlane.shadow()->safeLookup(keys[1], found).protocol(), 17);

   answer(1, 1);
   controlPlane.doReadAnswers();
   EXPECT_EQ(controlPlane.answer(uid), Answer::waiting);
   // An answer to an earlier request does not count.
   statusDirs[1]->quillStatusIs(Quill::QuillShoalStatus(Quill::QuillShoalKey(7), 1, 0));
   controlPlane.doReadAnswers();
   EXPECT_EQ(controlPlane.answer(uid), Answer::waiting);
   EXPECT_EQ(dirty(keys[1]), Dirty::dirty);
   answer(2, 1);
   controlPlane.doReadAnswers();
   EXPECT_EQ(controlPlane.answer(uid), Answer::programmed);
   EXPECT_EQ(dirty(keys[0]), Dirty::clean);
   EXPECT_EQ(dirty(keys[1]), Dirty::clean);
   EXPECT_EQ(controlPlane.outstandingRequests(), 0u);
}

TEST_F(NatControlPlaneTest, FailedRuleStaysDirtyUntilARetrySucceeds) {
   controlPlane.ruleIs(
       {uid, key, NatTest::natData({.vlans = {10}}), {TesselCentral::ModId(1)}, {}});
   answer(1, 2);
   controlPlane.doReadAnswers();
   EXPECT_EQ(controlPlane.answer(uid), Answer::failed);
   EXPECT_EQ(dirty(key), Dirty::dirty);

   controlPlane.requestIs(uid);
   EXPECT_EQ(controlPlane.answer(uid), Answer::waiting);
   answer(1, 1);
   controlPlane.doReadAnswers();
   EXPECT_EQ(dirty(key), Dirty::clean);
}

TEST_F(NatControlPlaneTest, RetryOfAProgrammedRuleAsksForItAgainAndAnswersAreReadAfterARestart) {
   controlPlane.ruleIs(
       {uid, key, NatTest::natData({.vlans = {10}}), {TesselCentral::ModId(1)}, {}});
   answer(1, 1);
   controlPlane.doReadAnswers();
   ASSERT_EQ(dirty(key), Dirty::clean);
   controlPlane.ruleRetryIs(uid);
   EXPECT_EQ(dirty(key), Dirty::dirty);
   answer(1, 1);
   controlPlane.doReadAnswers();

   // A new agent answers every request again; a failure it reports is seen.
   startAgent();
   controlPlane.answersReread();
   EXPECT_EQ(controlPlane.answer(uid), Answer::waiting);
   answer(1, 2);
   controlPlane.doReadAnswers();
   EXPECT_EQ(controlPlane.answer(uid), Answer::failed);
}

TEST_F(NatControlPlaneTest, RemovedRuleLeavesEveryTableOnceAnsweredEvenAfterAnAgentRestart) {
   controlPlane.ruleIs(
       {uid, key, NatTest::natData({.vlans = {10}}), {TesselCentral::ModId(1)}, {}});
   answer(1, 1);
   controlPlane.doReadAnswers();
   controlPlane.ruleRemovalIs(uid);
   EXPECT_EQ(dirty(key), Dirty::deleted);
   bool pendingFound = false;
   EXPECT_TRUE(controlPlane.ingModSetDir()->safeLookup(uid, pendingFound).modSet().hasModule(
       TesselCentral::ModId(2)))
       << "a hitless pass may have programmed the rule on a module it does not name";

   // The agent restarts: its status directories go and come back empty.
   startAgent();
   controlPlane.doReadAnswers();
   EXPECT_TRUE(controlPlane.ruleHas(uid));
   answer(1, 1);
   controlPlane.doReadAnswers();
   EXPECT_FALSE(controlPlane.ruleHas(uid));
   EXPECT_FALSE(controlPlane.shadow()->entryHas(key));
   EXPECT_FALSE(controlPlane.hwKeyUidTable()->entryHas(key));
   EXPECT_FALSE(controlPlane.uidHwKeyTable()->entryHas(uid));

   // The uid comes back: an answer to its earlier life, left in the directory of a module that
   // was out meanwhile, must not pass for an answer to the new request.
   bool found = false;
   const U32 removal = statusDirs[0]->safeLookup(Quill::QuillShoalKey(7), found).reqVersion();
   controlPlane.ruleIs(
       {uid, key, NatTest::natData({.vlans = {10}}), {TesselCentral::ModId(1)}, {}});
   EXPECT_GT(controlPlane.reqVersion(uid), removal);
}

}  // namespace

namespace {

// A rule keeps naming a module that leaves. When the module comes back the rule is asked of it
// alone (the other module has it), and every later request asks both again.
TEST_F(NatControlPlaneTest, ModuleThatComesBackIsAskedAloneAndLaterRequestsAskEveryModule) {
   const std::vector<TesselCentral::ModId> both{TesselCentral::ModId(1), TesselCentral::ModId(2)};
   const auto pending = [&] {
      bool found = false;
      const TesselNat::ModSet set = controlPlane.ingModSetDir()->safeLookup(uid, found).modSet();
      return std::pair(set.hasModule(TesselCentral::ModId(1)),
                       set.hasModule(TesselCentral::ModId(2)));
   };
   controlPlane.ruleIs({uid, key, NatTest::natData({.vlans = {10}}), both, {}});
   answer(1, 1);
   answer(2, 1);
   controlPlane.doReadAnswers();
   controlPlane.moduleDel(TesselCentral::ModId(2));
   EXPECT_EQ(pending(), std::pair(true, false));
   EXPECT_EQ(controlPlane.rule(uid).modules, both);

   const U32 before = controlPlane.reqVersion(uid);
   controlPlane.moduleIs(TesselCentral::ModId(2));
   EXPECT_EQ(pending(), std::pair(false, true));
   EXPECT_EQ(controlPlane.reqVersion(uid), before + 1);
   EXPECT_EQ(dirty(key), Dirty::dirty);
   answer(1, 1);
   controlPlane.doReadAnswers();
   EXPECT_EQ(controlPlane.answer(uid), Answer::waiting) << "module 2 has not answered";
   answer(2, 1);
   controlPlane.doReadAnswers();
   EXPECT_EQ(controlPlane.answer(uid), Answer::programmed);

   controlPlane.ruleRemovalIs(uid);
   EXPECT_EQ(pending(), std::pair(true, true));
}

}  // namespace
