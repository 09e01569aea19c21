#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <any>

#include "TesselNat/agent/nat_slave_root_sm.h"
#include "TesselNat/agent/nat_table_paths.h"
#include "tests/support/programmer_fixture.h"

namespace {

using TesselCentral::ModId;
using testing::ElementsAre;

// The root over an agent that mounted the control plane's NAT tables, with modules 1 and 2.
class RootSmTest : public NatTest::ProgrammerFixture {
protected:
   RootSmTest() {
      for (const char* path :
           {Tessel::quillShoalConfigDirPath, Tessel::hwKeyUidTablePath, Tessel::uidHwKeyTablePath,
            Tessel::hwShadowPath, Tessel::ingModSetDirPath}) {
         agent->doMount(path, sharedMemory->table(path)->typeName,
                        KivShoal::MountInfo(KivShoal::KivShoalType::reader));
      }
      scsd->moduleToUnitIs(ModId(1), 1);
      scsd->moduleToUnitIs(ModId(2), 2);
      root = Tessel::NatSlaveRootSm::NatSlaveRootSmIs(scsd, groups, agent->getMountGroup(), agent);
   }

   // The uids module 1's programmer committed since the last clear, in order.
   std::vector<U32> committedUids() const {
      std::vector<U32> uids;
      for (const std::string& trace : programmerTraces()) {
         if (trace.starts_with("SPSm::doCommitHwConfig uid: ")) {
            uids.push_back(static_cast<U32>(std::stoul(trace.substr(28))));
         }
      }
      return uids;
   }

   Kiv::Ptr<Quill::QuillShoalStatusDir> statusOf(U16 modId) const {
      return Kiv::ptrCast<Quill::QuillShoalStatusDir>(
          agent->getEntity(Kiv::format(Tessel::quillShoalStatusDirPathFormat, modId)));
   }

   // Rules 1, 2, 3 and 65535, pending for module 1 only.
   void publishRules() {
      for (U32 uid : {1u, 2u, 3u, 65535u}) {
         Ember::NatHwKey key = NatTest::staticSrcNapt();
         key.faIdIs(uid);
         controlPlane.ruleIs(
             {TesselNat::Uid(uid), key, NatTest::natData({.faIdLimit = 0}), {ModId(1)}, {}});
      }
   }

   Kiv::Ptr<KivShoal::EntityManager> agent = new KivShoal::EntityManager("nat", sharedMemory);
   Kiv::Ptr<Tessel::NatSlaveRootSm> root;
};

TEST_F(RootSmTest, CreatesAnActiveProgrammerAndAStatusDirectoryPerModuleInTheMap) {
   ASSERT_EQ(root->natSlaveProgrammerSms(), 2u);
   for (U16 modId : {1, 2}) {
      const Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer =
          root->natSlaveProgrammerSm(ModId(modId));
      ASSERT_TRUE(programmer);
      EXPECT_EQ(programmer->modId(), ModId(modId));
      EXPECT_TRUE(programmer->hasNotificationActive());
      EXPECT_EQ(programmer->quillShoalStatusDir(), statusOf(modId));
      EXPECT_EQ(statusOf(modId)->count(), 0u) << "no commit yet";
   }
   const KivShoal::MountRequest& request = agent->mountRequests().back();
   EXPECT_EQ(request.path, "tesselnat/ingQuillShoalStatusDir/2");
   EXPECT_EQ(request.typeName, "Quill::QuillShoalStatusDir");
   EXPECT_EQ(request.mountInfo.type(), KivShoal::KivShoalType::writer);
   EXPECT_EQ(request.mountInfo.collectionInfos(),
             (std::vector<KivShoal::CollectionInfo>{{"quillStatus", 16384}}));

   const Kiv::Ptr<Tessel::NatSlaveProgrammerSm> first = root->natSlaveProgrammerSm(ModId(1));
   scsd->moduleToUnitIs(ModId(3), 3);
   EXPECT_TRUE(root->natSlaveProgrammerSm(ModId(3)));
   scsd->moduleToUnitDel(ModId(2));
   EXPECT_FALSE(root->natSlaveProgrammerSm(ModId(2)));
   EXPECT_TRUE(statusOf(2)) << "its status directory stays mounted";
   // A module moved to another unit is looked at again, and keeps its programmer.
   scsd->moduleToUnitIs(ModId(1), 7);
   EXPECT_EQ(
       std::ranges::count(agent->mountRequests(), Kiv::String("tesselnat/ingQuillShoalStatusDir/1"),
                          &KivShoal::MountRequest::path),
       2);
   EXPECT_EQ(root->natSlaveProgrammerSm(ModId(1)), first);
}

// Find-or-create compares the eight objects in the programmer's constructor order and names
// the first that differs, new value then current, in the framework's text form of both.
TEST_F(RootSmTest, FindOrCreateNamesTheFirstConstructorArgumentThatDiffers) {
   const Kiv::Ptr<Tessel::NatSlaveProgrammerSm> p = root->natSlaveProgrammerSm(ModId(1));
   struct Argument {
      const char* name;
      std::any current, other;
      Kiv::String currentText, otherText;
   };
   // Each is the programmer's attribute of that name.
   const auto argument = [&p](const char* name, const auto& current, auto* other) {
      const std::decay_t<decltype(current)> otherPtr(other);
      EXPECT_EQ(std::any_cast<std::decay_t<decltype(current)>>(
                    Tessel::NatSlaveProgrammerSm::typeNode()->attribute(*p, name)),
                current);
      return Argument{name, current, otherPtr, Kiv::textOf(current), Kiv::textOf(otherPtr)};
   };
   const std::vector<Argument> arguments = {
       argument("quillShoalConfigDir", p->quillShoalConfigDir(),
                new Quill::QuillShoalConfigDir("x")),
       argument("quillShoalStatusDir", p->quillShoalStatusDir(),
                new Quill::QuillShoalStatusDir("x")),
       argument("shadow", p->shadow(), new Ember::NatHwShadow("x")),
       argument("uidHwKeyTable", p->uidHwKeyTable(), new TesselNat::UidHwKeyTable("x")),
       argument("hwKeyUidTable", p->hwKeyUidTable(), new TesselNat::HwKeyUidTable("x")),
       argument("ingModSetDir", p->ingModSetDir(), new TesselNat::ModSetDir("x")),
       argument("tcamGroupManager", p->tcamGroupManager(), new TesselTcamGroupManager(64)),
       argument("scsd", p->scsd(), new TesselCommonSmData("x")),
   };
   const auto findOrCreate = [&](size_t firstOther) {
      Kiv::Arguments args;
      for (size_t i = 0; i < arguments.size(); ++i) {
         if (i == 6) args.emplace_back(ModId(1));
         args.push_back(i < firstOther ? arguments[i].current : arguments[i].other);
      }
      return std::any_cast<Kiv::Ptr<Tessel::NatSlaveProgrammerSm>>(
          Tessel::NatSlaveRootSm::typeNode()->memberIs(*root, "natSlaveProgrammerSm", args));
   };
   for (size_t first = 0; first < arguments.size(); ++first) {
      const Argument& a = arguments[first];
      EXPECT_THAT([&] { findOrCreate(first); },
                  testing::ThrowsMessage<Kiv::NameInUseException>(testing::StrEq(
                      "Reinstantiating the pointer interface where constructor parameter "
                      "attribute _" +
                      Kiv::String(a.name) + " has a different value of " + a.otherText +
                      " than the current value of " + a.currentText + " not allowed")));
   }
   EXPECT_EQ(findOrCreate(arguments.size()), p) << "all equal: the programmer as it was";
}

// Key 0 holds no rule: answered it is skipped, due it ends the pass with a range error. A
// corrupt read is reported to its table and handled case by case.
TEST_F(RootSmTest, CommitPassAnswersExactlyTheRequestsWithoutACurrentAnswer) {
   publishRules();
   const Kiv::Ptr<Quill::QuillShoalConfigDir> config = controlPlane.quillShoalConfigDir();
   config->quillConfigIs({Quill::QuillShoalKey(65535), 0});
   config->quillConfigIs({Quill::QuillShoalKey(0), 4});
   // Answered by an earlier programmer of each module, whose answers outlive it.
   for (U16 modId : {1, 2}) {
      const Kiv::Ptr<Quill::QuillShoalStatusDir> earlier = new Quill::QuillShoalStatusDir(
          "earlier", statusOf(modId)->sharedState(), Shoal::Access::readWrite);
      earlier->quillStatusIs({Quill::QuillShoalKey(0), 1, 4});
   }
   // The programmers answer the requests they hear of; then some answers go missing or stale.
   Kiv::eventLoop().doRunUntilIdle();
   statusOf(1)->recordDel(Quill::QuillShoalKey(1));
   statusOf(1)->quillStatusIs({Quill::QuillShoalKey(3), 1, 99});
   // A request of value 0 without status: the missing status reads all zero, so it is due.
   statusOf(1)->recordDel(Quill::QuillShoalKey(65535));
   const auto pass = [&] {
      sdkCallsClear();
      root->handleMountGroupReady();
      return committedUids();
   };
   EXPECT_TRUE(pass().empty());
   EXPECT_THAT(programmerTraces(), ElementsAre("handleMountGroupReady ready false"));

   agent->getMountGroup()->doClose();
   Kiv::eventLoop().doRunUntilIdle();
   EXPECT_THAT(committedUids(), ElementsAre(1, 3, 65535));
   EXPECT_EQ(statusOf(1)->lookup(Quill::QuillShoalKey(3))->reqVersion(),
             controlPlane.reqVersion(TesselNat::Uid(3)));
   EXPECT_TRUE(pass().empty()) << "every request is answered now";

   config->corruptionOnFirstIs();
   for (U32 uid : {1u, 2u}) statusOf(1)->recordDel(Quill::QuillShoalKey(uid));
   EXPECT_TRUE(pass().empty()) << "a corrupt start: an empty walk";
   config->corruptionOnNextIs(Quill::QuillShoalKey(1));
   EXPECT_THAT(pass(), ElementsAre(1)) << "a corrupt advance ends the walk";
   statusOf(1)->corruptionOnLookupIs(Quill::QuillShoalKey(3));
   EXPECT_THAT(pass(), ElementsAre(2, 3)) << "a corrupt status reads all zero: committed";
   config->corruptionOnLookupIs(Quill::QuillShoalKey(2));
   EXPECT_THROW(pass(), Kiv::RangeException) << "the default configuration's uid 0";
   EXPECT_EQ(config->corruptionReports(), 3u);
   EXPECT_EQ(statusOf(1)->corruptionReports(), 1u);

   config->quillConfigIs({Quill::QuillShoalKey(0), 5});
   controlPlane.requestIs(TesselNat::Uid(1));
   EXPECT_THROW(pass(), Kiv::RangeException);
   EXPECT_TRUE(committedUids().empty()) << "key 0 comes before uid 1";
}

// The setters of the generic interface: a different object retargets the watch (the reactor
// is made when there was none), null or a delete drops it. Only a mount group that replaces a
// watched one runs the commit pass at once.
TEST_F(RootSmTest, GenericSettersRetargetOrDropAWatch) {
   const auto set = [&](const char* setter, Kiv::Arguments args) {
      Tessel::NatSlaveRootSm::typeNode()->invoke(*root, setter, args);
   };
   const Kiv::Ptr<TesselCommonSmData> other = new TesselCommonSmData("other");
   other->moduleToUnitIs(ModId(5), 5);
   set("scsdIs", {Kiv::Ptr<const TesselCommonSmData>(other)});
   EXPECT_FALSE(root->natSlaveProgrammerSm(ModId(5))) << "the modules are not walked again";
   other->moduleToUnitIs(ModId(6), 6);
   scsd->moduleToUnitIs(ModId(7), 7);
   EXPECT_TRUE(root->natSlaveProgrammerSm(ModId(6)));
   EXPECT_FALSE(root->natSlaveProgrammerSm(ModId(7)));
   set("scsdDel", {});
   other->moduleToUnitIs(ModId(8), 8);
   EXPECT_FALSE(root->scsd());
   EXPECT_FALSE(root->natSlaveProgrammerSm(ModId(8)));
   set("scsdIs", {Kiv::Ptr<const TesselCommonSmData>(scsd)});
   scsd->moduleToUnitIs(ModId(9), 9);
   EXPECT_TRUE(root->natSlaveProgrammerSm(ModId(9)));

   publishRules();
   Kiv::eventLoop().doRunUntilIdle();
   statusOf(1)->recordDel(Quill::QuillShoalKey(2));
   const Kiv::Ptr<KivSharedMem::MountGroup> ready = new KivSharedMem::MountGroup("ready", nullptr);
   ready->doClose();
   Kiv::eventLoop().doRunUntilIdle();
   sdkCallsClear();
   set("mountGroupIs", {Kiv::Ptr<const KivSharedMem::MountGroup>(ready)});
   EXPECT_THAT(committedUids(), ElementsAre(2)) << "the replacing group is looked at at once";
   set("mountGroupDel", {});
   EXPECT_FALSE(root->mountGroup());
   statusOf(1)->recordDel(Quill::QuillShoalKey(3));
   sdkCallsClear();
   set("mountGroupIs", {Kiv::Ptr<const KivSharedMem::MountGroup>(agent->getMountGroup())});
   EXPECT_TRUE(committedUids().empty()) << "a first group waits for its ready flag";
   agent->getMountGroup()->doClose();
   Kiv::eventLoop().doRunUntilIdle();
   EXPECT_THAT(committedUids(), ElementsAre(3));
}

TEST_F(RootSmTest, DeactivatedOrDestroyedItHearsNothing) {
   root->hasNotificationActiveIs(false);
   EXPECT_FALSE(root->natSlaveProgrammerSm(ModId(1))->hasNotificationActive());
   scsd->moduleToUnitIs(ModId(3), 3);
   EXPECT_FALSE(root->natSlaveProgrammerSm(ModId(3)));
   root->handleModule(ModId(3));
   EXPECT_TRUE(root->natSlaveProgrammerSm(ModId(3))->hasNotificationActive())
       << "a new programmer is active whatever the root's state";
   root->hasNotificationActiveIs(true);
   const Kiv::Ptr<Tessel::NatSlaveProgrammerSm> first = root->natSlaveProgrammerSm(ModId(1));
   EXPECT_TRUE(first->hasNotificationActive());
   root = nullptr;
   scsd->moduleToUnitIs(ModId(4), 4);
   Kiv::eventLoop().doRunUntilIdle();  // the tables fill
   agent->getMountGroup()->doClose();
   EXPECT_EQ(Kiv::eventLoop().doRunUntilIdle(), 1u);
   EXPECT_EQ(first->references(), 1) << "the root let its programmers go";
}

}  // namespace
