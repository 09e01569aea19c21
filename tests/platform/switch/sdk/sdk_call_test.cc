#include "platform/switch/sdk/sdk_call.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

#include "platform/framework/kiv/event_loop.h"
#include "platform/framework/kiv/string.h"
#include "platform/switch/sdk/fault_injector.h"
#include "platform/switch/sdk/return_code.h"
#include "tests/platform/switch/sdk/sdk_fixture.h"

namespace ShimTest {
namespace {

using Shim::Operation;

// Matches a call that stops with the fatal assertion `expression`.
auto stopsWith(const char* expression) {
   return testing::Throws<Kiv::AssertionFailure>(
       testing::Property(&Kiv::AssertionFailure::expression, testing::StrEq(expression)));
}

// A chip whose install notes whether another thread could take the activity lock meanwhile.
class LockProbingChip : public Chip::SimulatedChip {
public:
   LockProbingChip() : SimulatedChip(Config{2, 16}) {}
   S32 bcm_field_entry_install(S32 unit, U32 entry) override {
      freeDuringCall = std::async(std::launch::async, [] {
                          if (!Kiv::activityLock().try_lock()) return false;
                          Kiv::activityLock().unlock();
                          return true;
                       }).get();
      if (throwDuringCall) throw std::runtime_error("chip went away");
      return SimulatedChip::bcm_field_entry_install(unit, entry);
   }
   bool freeDuringCall = false;
   bool throwDuringCall = false;
};

// Notes, for every trace message, whether the writer held the activity lock.
struct LockRecordingSink : Kiv::CaptureTraceSink {
   void write(const Kiv::TraceMessage&) override {
      heldWhenTraced.push_back(Kiv::activityLock().isHeldByThisThread());
   }
   std::vector<bool> heldWhenTraced;
};

class SdkCallTest : public SdkFixture {
protected:
   void SetUp() override { ASSERT_EQ(chip_.bcm_field_entry_create_at(1, 5, entryId, 0), 0); }

   const U32 entryId = 7;
   const S32 full = Shim::code(Shim::SdkError::tableFull);
};

TEST_F(SdkCallTest, LockIsGivenUpForTheCallOnlyAlsoWhenItThrowsAndMustBeHeld) {
   LockProbingChip probe;
   ASSERT_EQ(probe.bcm_field_entry_create_at(1, 5, entryId, 0), 0);
   const Shim::ScopedBackend installed(probe);
   LockRecordingSink sink;
   SDK_CALL( bcm_field_entry_install( 1, entryId ) );
   EXPECT_TRUE(probe.freeDuringCall);
   EXPECT_TRUE(Kiv::activityLock().isHeldByThisThread());
   EXPECT_EQ(sink.heldWhenTraced, std::vector<bool>{true}) << "the result is judged locked";

   probe.throwDuringCall = true;
   EXPECT_THROW(SDK_CALL( bcm_field_entry_install( 1, entryId ) ), std::runtime_error);
   EXPECT_TRUE(Kiv::activityLock().isHeldByThisThread());

   // A caller must hold the lock to give it up.
   Kiv::activityLock().unlock();
   EXPECT_THAT([&] { SDK_CALL( bcm_field_entry_install( 1, entryId ) ); },
               stopsWith("Kiv::activityLock().isHeldByThisThread()"));
   Kiv::activityLock().lock();
}

TEST_F(SdkCallTest, OnlyANegativeWriteCodeWritesTheFailureLineAndStopsWithTheLockHeld) {
   const Shim::CallSite positive{__FILE__, __LINE__, "positive", "TestBody", "TestBody()"};
   EXPECT_EQ(Shim::sdkCall(positive, Shim::CallKind::write, [] { return S32{3}; }), 3);
   Shim::sdk_.faultInjector().failNthCallIs(Operation::qualifySrcIp, 1, full);
   testing::internal::CaptureStderr();
   const int line = __LINE__ + 1;
   const auto write = [&] { SDK_CALL( bcm_field_qualify_SrcIp( 1, entryId, 1, -1 ) ); };
   EXPECT_THAT(write, stopsWith("0"));
   EXPECT_EQ(testing::internal::GetCapturedStderr(),
             Kiv::format("%s:%d bcm_field_qualify_SrcIp( 1, entryId, 1, -1 ) API ERROR:Table full "
                         "(-25)\n",
                         __FILE__, line));
   EXPECT_TRUE(Kiv::activityLock().isHeldByThisThread());
   EXPECT_EQ(traces_.messages().size(), 1u) << "only the positive code's call is traced";
}

TEST_F(SdkCallTest, ReadHandsBackAFailureCodeTracedOnlyWhileTheLevelIsOn) {
   U32 ip = 0;
   U32 mask = 0;
   const int line = __LINE__ + 1;
   const S32 rc = SDK_READ( bcm_field_qualify_SrcIp_get( 1, entryId, &ip, &mask ) );
   EXPECT_EQ(rc, Shim::code(Shim::SdkError::notFound));
   const Kiv::String text = Kiv::format(
       "%s:%d bcm_field_qualify_SrcIp_get( 1, entryId, &ip, &mask ) (rv:%d)", __FILE__, line, rc);
   EXPECT_EQ(traces_.texts(), std::vector<Kiv::String>{text});
   apiTessel_.levelIs(4, false);
   SDK_CALL( bcm_field_qualify_SrcIp( 1, entryId, 1, -1 ) );
   EXPECT_EQ(traces_.texts().size(), 1u);
}

TEST_F(SdkCallTest, QueuedWorkRunsDuringTheChosenCallBeforeTheChip) {
   std::vector<bool> installedWhenWorkRan;
   Kiv::eventLoop().workIs([&] {
      EXPECT_TRUE(Kiv::activityLock().isHeldByThisThread());
      installedWhenWorkRan.push_back(chip_.entry(1, entryId)->installState() ==
                                     Chip::InstallState::installed);
   });
   Shim::sdk_.faultInjector().workDuringNthCallIs(Operation::entryInstall, 2);
   SDK_CALL( bcm_field_entry_install( 1, entryId ) );
   EXPECT_TRUE(installedWhenWorkRan.empty());
   ASSERT_EQ(chip_.bcm_field_entry_destroy(1, entryId), 0);
   ASSERT_EQ(chip_.bcm_field_entry_create_at(1, 5, entryId, 0), 0);
   SDK_CALL( bcm_field_entry_install( 1, entryId ) );
   EXPECT_EQ(installedWhenWorkRan, std::vector<bool>{false});
   EXPECT_TRUE(Kiv::activityLock().isHeldByThisThread());
}

TEST_F(SdkCallTest, InjectedFaultsFailCallsWithoutReachingTheChip) {
   Shim::FaultInjector& faults = Shim::sdk_.faultInjector();
   const auto create = [](U32 e) { return Shim::sdk_.bcm_field_entry_create_at(0, 1, e, e); };
   EXPECT_EQ(create(1), Shim::successCode);
   faults.failNthCallIs(Operation::entryCreate, 2, full);  // counted from now
   EXPECT_EQ(create(2), Shim::successCode);
   EXPECT_EQ(create(3), full);
   EXPECT_EQ(create(4), Shim::successCode);
   EXPECT_FALSE(chip_.entry(0, 3));

   faults.failEveryCallIs(Operation::entryCreate, full);
   EXPECT_EQ(create(5), full);
   EXPECT_EQ(create(6), full);
   EXPECT_EQ(Shim::sdk_.bcm_field_entry_install(0, 1), Shim::successCode) << "other operation";
   faults.faultDel(Operation::entryCreate);
   EXPECT_EQ(create(7), Shim::successCode);
   EXPECT_EQ(chip_.entryCount(0), 4u);
}

}  // namespace
}  // namespace ShimTest
