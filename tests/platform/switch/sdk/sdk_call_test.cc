#include "platform/switch/sdk/sdk_call.h"

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

#include "platform/framework/kiv/string.h"
#include "platform/switch/sdk/return_code.h"
#include "tests/platform/switch/sdk/sdk_fixture.h"

namespace ShimTest {
namespace {

// Just enough of a NAT key for a call site written as the programmer writes it.
struct HwKey {
   U32 srcIp() const { return address; }
   U32 address;
};

const char* const srcIpText = "bcm_field_qualify_SrcIp( unit(), entryId, hwKey.srcIp(), -1 )";
const char* const srcIpGetText = "bcm_field_qualify_SrcIp_get( unit(), entryId, &ip, &mask )";

// Each operation notes the line of its SDK call in callLine before making it.
class Programmer {
public:
   U16 unit() const { return 1; }

   void doProgramEntry(U32 entryId, const HwKey& hwKey) {
      callLine = __LINE__ + 1;
      SDK_CALL( bcm_field_qualify_SrcIp( unit(), entryId, hwKey.srcIp(), -1 ) );
   }

   S32 doVerifySrcIp(U32 entryId) {
      U32 ip = 0;
      U32 mask = 0;
      callLine = __LINE__ + 1;
      return SDK_READ( bcm_field_qualify_SrcIp_get( unit(), entryId, &ip, &mask ) );
   }

   int callLine = 0;
};

const char* const programSignature =
    "void ShimTest::{anonymous}::Programmer::doProgramEntry(U32, const "
    "ShimTest::{anonymous}::HwKey&)";

// Notes, for every trace message, whether the writer held the activity lock.
struct LockRecordingSink : Kiv::CaptureTraceSink {
   void write(const Kiv::TraceMessage&) override {
      heldWhenTraced.push_back(Kiv::activityLock().isHeldByThisThread());
   }
   std::vector<bool> heldWhenTraced;
};

// A chip whose install reports whether another thread could take the activity lock meanwhile.
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

class SdkCallTest : public SdkFixture {
protected:
   void SetUp() override { ASSERT_EQ(chip_.bcm_field_entry_create_at(1, 5, entryId, 0), 0); }

   const U32 entryId = 7;
   Programmer programmer;
};

TEST_F(SdkCallTest, SuccessfulWriteTracesTheCallAsWrittenUnderTheCallersName) {
   programmer.doProgramEntry(entryId, HwKey{0x0A000001});
   const int line = programmer.callLine;
   const Kiv::String text = Kiv::format("%s:%d %s (rc:0)", __FILE__, line, srcIpText);
   const Kiv::CapturedTrace expected{"ApiTessel", 4, __FILE__, line, "doProgramEntry", text};
   EXPECT_EQ(traces_.messages(), std::vector<Kiv::CapturedTrace>{expected});
   EXPECT_EQ(chip_.entry(1, entryId)->qualifier(Chip::KeyField::srcIp),
             (Chip::QualifierValue{0x0A000001, 0xFFFFFFFF}));

   apiTessel_.levelIs(4, false);
   programmer.doProgramEntry(entryId, HwKey{1});
   EXPECT_EQ(traces_.messages().size(), 1u) << "nothing traced while the level is off";
}

TEST_F(SdkCallTest, ReadTracesRvAndHandsBackAFailureCode) {
   const S32 rc = programmer.doVerifySrcIp(entryId + 1);
   EXPECT_EQ(rc, Shim::code(Shim::SdkError::notFound));
   EXPECT_EQ(traces_.texts(),
             std::vector<Kiv::String>{
                 Kiv::format("%s:%d %s (rv:%d)", __FILE__, programmer.callLine, srcIpGetText, rc)});
   EXPECT_EQ(traces_.messages().at(0).function, "doVerifySrcIp");
}

TEST_F(SdkCallTest, FailedWriteWritesTheFailureLineAndAssertsNamingTheCaller) {
   const S32 rc = Shim::code(Shim::SdkError::tableFull);
   Shim::sdk_.faultInjector().failNthCallIs(Shim::Operation::qualifySrcIp, 1, rc);
   testing::internal::CaptureStderr();
   try {
      programmer.doProgramEntry(entryId, HwKey{1});
      ADD_FAILURE() << "no assertion";
   } catch (const Kiv::AssertionFailure& failure) {
      EXPECT_EQ(failure.expression(), "0");
      EXPECT_EQ(failure.function(), programSignature);
   }
   EXPECT_EQ(testing::internal::GetCapturedStderr(),
             Kiv::format("%s:%d %s API ERROR:Table full (-25)\n", __FILE__, programmer.callLine,
                         srcIpText));
   EXPECT_TRUE(Kiv::activityLock().isHeldByThisThread());
   EXPECT_TRUE(traces_.messages().empty());
}

TEST_F(SdkCallTest, LockIsFreeForOthersDuringTheCallOnlyAlsoWhenItThrows) {
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
}

TEST_F(SdkCallTest, CallingWithoutTheLockIsFatal) {
   Kiv::activityLock().unlock();
   try {
      SDK_CALL( bcm_field_entry_install( 1, entryId ) );
      ADD_FAILURE() << "no assertion";
   } catch (const Kiv::AssertionFailure& failure) {
      EXPECT_EQ(failure.expression(), "Kiv::activityLock().isHeldByThisThread()");
   }
   Kiv::activityLock().lock();
}

}  // namespace
}  // namespace ShimTest
