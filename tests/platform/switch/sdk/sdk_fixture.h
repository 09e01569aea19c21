#pragma once

#include <gtest/gtest.h>

#include "platform/framework/kiv/activity_lock.h"
#include "platform/framework/kiv/assert.h"
#include "platform/framework/kiv/event_loop.h"
#include "platform/framework/trace/capture_trace_sink.h"
#include "platform/framework/trace/trace_handle.h"
#include "platform/switch/chip/simulated_chip.h"
#include "platform/switch/sdk/sdk.h"

namespace ShimTest {

// The world an SDK caller runs in: a simulated chip behind the shim, the activity lock held as
// the framework holds it, fatal assertions thrown as Kiv::AssertionFailure, "ApiTessel" level 4
// on and captured, and no fault or queued framework work left behind for the next test.
class SdkFixture : public ::testing::Test {
protected:
   // By default 4 units of 64 slots, 2 pipes of 2 copies each.
   explicit SdkFixture(Chip::SimulatedChip::Config chip = {4, 64, 2, 2})
       : previousHandler_(Kiv::assertionHandlerIs(&Kiv::throwingAssertionHandler)), chip_(chip) {
      apiTessel_.allLevelsIs(false);
      apiTessel_.levelIs(4, true);
   }
   ~SdkFixture() override {
      Kiv::eventLoop().workDelAll();
      Shim::sdk_.faultInjector().faultDelAll();
      Kiv::assertionHandlerIs(previousHandler_);
   }

   Kiv::AssertionHandler previousHandler_;
   Kiv::TraceHandle& apiTessel_ = Kiv::traceHandle("ApiTessel");
   Kiv::ActivityGuard guard_{Kiv::activityLock()};
   Chip::SimulatedChip chip_;
   Shim::ScopedBackend installed_{chip_};
   Kiv::CaptureTraceSink traces_;
};

}  // namespace ShimTest
