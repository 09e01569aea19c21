#include "platform/records/tessel_nat/slave_programmer_sm.h"

#include <gtest/gtest.h>

#include <vector>

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
