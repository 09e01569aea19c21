#include "platform/records/tessel_common/tessel_common_sm_data.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/framework/kiv/reactor.h"

namespace {

struct Log : Kiv::PtrInterface {
   std::vector<int> events;  // module ids, flash requests + 100, -1 for the warm-start flag
};

struct Reactor : Kiv::Reactor<Log, TesselCommonSmData> {
   using Kiv::Reactor<Log, TesselCommonSmData>::Reactor;
   void onModuleToUnit(TesselCentral::ModId modId) override { owner()->events.push_back(modId); }
   void onFlashDownloadWait(TcamFlashDownloadReq req) override {
      owner()->events.push_back(100 + static_cast<int>(req));
   }
   void onHitlessInit() override { owner()->events.push_back(-1); }
};

TEST(TesselCommonSmDataTest, NotifiesOncePerRealChangeOfEachKey) {
   Kiv::Ptr<TesselCommonSmData> scsd = new TesselCommonSmData("tesselCommon");
   Kiv::Ptr<Log> log = new Log;
   Kiv::Ptr<Reactor> reactor = new Reactor(log.ptr(), scsd);
   reactor->isActiveIs(true);

   scsd->moduleToUnitIs(TesselCentral::ModId(1), 1);
   scsd->moduleToUnitIs(TesselCentral::ModId(1), 1);
   scsd->moduleToUnitIs(TesselCentral::ModId(1), 4);
   scsd->moduleToUnitDel(TesselCentral::ModId(2));
   scsd->flashDownloadWaitIs(3, false);
   scsd->flashDownloadWaitIs(3, true);
   scsd->flashDownloadWaitIs(3, true);
   scsd->hitlessInitIs(true);
   scsd->hitlessInitIs(true);
   scsd->moduleToUnitDel(TesselCentral::ModId(1));
   EXPECT_EQ(log->events, (std::vector<int>{1, 1, 103, 103, -1, 1}));

   bool found = true;
   EXPECT_EQ(scsd->moduleToUnit(TesselCentral::ModId(1), found), 0);
   EXPECT_FALSE(found);
   EXPECT_TRUE(scsd->flashDownloadWait(3, found));
   EXPECT_TRUE(found);
}

}  // namespace
