#include "platform/records/tessel_nat/slave_programmer_sm.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/framework/kiv/activity_lock.h"
#include "platform/framework/kiv/event_loop.h"

namespace {

class RecordingProgrammer : public TesselNat::SlaveProgrammerSm {
public:
   using SlaveProgrammerSm::SlaveProgrammerSm;
   void doCommitHwConfig(TesselNat::Uid uid) override { commits.push_back(uid.value()); }

   std::vector<U32> commits;
};

class SlaveProgrammerSmTest : public ::testing::Test {
protected:
   void SetUp() override { programmer->hasNotificationActiveIs(true); }

   void request(U32 uid, U32 reqVersion) {
      config->quillConfigIs(Quill::QuillShoalConfig(Quill::QuillShoalKey(uid), reqVersion));
   }

   Kiv::Ptr<Quill::QuillShoalConfigDir> config = new Quill::QuillShoalConfigDir("config");
   Kiv::Ptr<Quill::QuillShoalStatusDir> status = new Quill::QuillShoalStatusDir("status");
   Kiv::Ptr<RecordingProgrammer> programmer =
       new RecordingProgrammer(config, status, nullptr, nullptr, nullptr, nullptr);
};

TEST_F(SlaveProgrammerSmTest, CommitsOnlyUnansweredRequestsAndNothingOnceDeactivated) {
   status->quillStatusIs(Quill::QuillShoalStatus(Quill::QuillShoalKey(8), 1, 5));
   request(7, 1);  // no status: committed
   request(8, 5);  // status echoes 5: answered already
   request(8, 6);  // new value: committed
   config->quillConfigDel(Quill::QuillShoalKey(7));
   programmer->deactivateReactors();
   request(9, 1);
   programmer->hasNotificationActiveIs(true);  // stays silent: marked deleted
   request(10, 1);
   EXPECT_EQ(programmer->commits, (std::vector<U32>{7, 8}));
}

// A commit echoes the request as it reads it when it ends. A newer request published during
// the commit is one whose rule it never read: its answer is held back, and the request is
// committed when it arrives.
TEST_F(SlaveProgrammerSmTest, AnAnswerToARequestNotToldYetIsHeldBackUntilTheRequestIsCommitted) {
   const Kiv::ActivityGuard framework(Kiv::activityLock());
   const Kiv::Ptr<Quill::QuillShoalConfigDir> controlPlane = new Quill::QuillShoalConfigDir(
       "controlPlane", config->sharedState(), Shoal::Access::readWrite);
   const Quill::QuillShoalKey key(7);
   // The programmer's walk of the requests there when it was made, none.
   Kiv::eventLoop().doRunUntilIdle();
   const auto answer = [&] {
      bool found = false;
      status->quillStatusIs(
          Quill::QuillShoalStatus(key, 1, config->safeLookup(key, found).reqVersion()));
   };
   controlPlane->quillConfigIs(Quill::QuillShoalConfig(key, 1));
   Kiv::eventLoop().doRunUntilIdle();
   answer();
   controlPlane->quillConfigIs(Quill::QuillShoalConfig(key, 2));
   answer();
   EXPECT_EQ(status->lookup(key)->reqVersion(), 1u);
   Kiv::eventLoop().doRunUntilIdle();
   answer();
   EXPECT_EQ(status->lookup(key)->reqVersion(), 2u);
   EXPECT_EQ(programmer->commits, (std::vector<U32>{7, 7}));
}

}  // namespace

// Uids come and go forever without filling the directory: an answer leaves with its request,
// and a programmer built over an older directory (a re-inserted line card) drops the answers
// of requests that went away meanwhile.
TEST_F(SlaveProgrammerSmTest, StatusDirectoryKeepsTheAnswersOfLiveRequestsOnly) {
   request(7, 1);
   request(8, 1);
   for (U32 uid : {7, 8, 9}) {
      status->quillStatusIs(Quill::QuillShoalStatus(Quill::QuillShoalKey(uid), 1, 1));
   }
   config->quillConfigDel(Quill::QuillShoalKey(7));
   EXPECT_FALSE(status->quillStatusHas(Quill::QuillShoalKey(7)));
   EXPECT_EQ(status->quillStatuss(), 2u);

   Kiv::Ptr<RecordingProgrammer> reinserted =
       new RecordingProgrammer(config, status, nullptr, nullptr, nullptr, nullptr);
   EXPECT_TRUE(status->quillStatusHas(Quill::QuillShoalKey(8)));
   EXPECT_EQ(status->quillStatuss(), 1u);
}
