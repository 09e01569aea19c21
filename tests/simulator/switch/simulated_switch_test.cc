#include "simulator/switch/simulated_switch.h"

#include <gtest/gtest.h>

#include "platform/framework/kiv/activity_lock.h"

namespace {

// The chip outlives the agent in the switch's segment: another process attached to it sees
// what the agent programmed, across a warm restart.
TEST(SimulatedSwitchTest, TheChipLivesInTheSwitchsSegment) {
   const Kiv::ActivityGuard framework(Kiv::activityLock());
   Simulator::SimulatedSwitch simulated(Simulator::SimulatedSwitch::Config{});
   const std::unique_ptr<Segment::SwitchSegment> attached =
       Segment::SwitchSegment::attach(simulated.segment().name());
   Chip::SimulatedChip traffic(*attached, Chip::SimulatedChip::Config{.tcamSlotsPerUnit = 2048});
   constexpr U32 translationEnabled = 1u << 20;
   EXPECT_EQ(traffic.portTranslationControl(1) & translationEnabled, translationEnabled);
   traffic.portTranslationControlIs(2, 0x5);
   simulated.doRestart(true);
   EXPECT_EQ(simulated.chip().portTranslationControl(2), 0x5u);
}

}  // namespace
