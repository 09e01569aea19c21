#include "platform/switch/chip/packet_outcome.h"

#include <gtest/gtest.h>

#include "tests/platform/switch/sdk/sdk_fixture.h"

namespace ShimTest {
namespace {

using Chip::FragmentState;
using Rewritten = Chip::PacketOutcome::Rewritten;

constexpr S32 unit = 1;
// L4_XLATE_CTRLr as the NAT programmer leaves it (L4_XLATE_ENABLEf 1, TCP and UDP port modes
// 3), without the enable, and with UDP port mode 0; XLATE_MODEf (word 1, bits 9:8) at 3.
constexpr U32 on = 0x0010000F, notEnabled = 0x0000000F, tcpOnly = 0x00100003, modeOn = 0x300;
constexpr U8 tcp = 6, udp = 17;
constexpr FragmentState whole = FragmentState::notFragment;
constexpr Rewritten dst{false, true}, dstAndPort{false, true, false, true}, src{true},
    srcAndPort{true, false, true}, all{true, true, true, true};

Chip::ActionList extraction(U32 id, U32 mask = 0x1f) {
   Chip::ActionList actions;
   actions.add({Shim::sdk_.bcmFieldActionAssignExtractionCtrlId(), id, mask});
   return actions;
}

using PacketOutcomeTest = SdkFixture;

// One profile entry is written, in every pipe's copy; the others are zero.
TEST_F(PacketOutcomeTest, ProfileRegisterAndProfileMemoryDecideWhatIsRewritten) {
   const struct {
      Chip::ActionList actions;
      U8 protocol;
      FragmentState fragment;
      U32 control;
      U32 profileIndex;
      U32 profileWord1;
      Rewritten expected;
   } cases[] = {
       {extraction(17), tcp, whole, on, 30, modeOn, dstAndPort},
       {extraction(16), tcp, whole, on, 30, modeOn, dst},
       {extraction(19), tcp, whole, on, 31, modeOn, all},
       {extraction(21), udp, whole, on, 32, modeOn, srcAndPort},
       {extraction(23), udp, whole, on, 33, modeOn, all},
       {extraction(17), tcp, whole, on, 31, modeOn, dst},  // another pair's entry
       {extraction(21), tcp, whole, notEnabled, 32, modeOn, src},
       {extraction(21), tcp, whole, tcpOnly, 32, modeOn, srcAndPort},
       {extraction(21), udp, whole, tcpOnly, 32, modeOn, src},
       {extraction(21), 1, whole, on, 32, modeOn, src},  // ICMP has no ports
       {extraction(21), tcp, whole, on, 32, 0x100, src},
       {extraction(17), tcp, FragmentState::nonFirstFragment, on, 30, modeOn, dst},
       {extraction(17), tcp, FragmentState::firstFragment, on, 30, modeOn, dstAndPort},
       {extraction(15), tcp, whole, on, 30, modeOn, {}},
       {extraction(17, 0xf), tcp, whole, on, 30, modeOn, {}},  // only 1 is assigned
   };
   for (const auto& c : cases) {
      chip_.doUnitReset(unit);
      chip_.portTranslationControlIs(unit, c.control);
      chip_.portTranslationProfileIs(unit, c.profileIndex, {0, c.profileWord1, 0});
      const Chip::Packet packet{.ipProtocol = c.protocol, .fragment = c.fragment};
      EXPECT_EQ(chip_.outcome(unit, packet, c.actions).rewritten, c.expected)
          << "case " << &c - cases;
   }
}

// An entry written with MEM_BLOCK_ANY reaches the first pipe's copy only.
TEST_F(PacketOutcomeTest, APacketMeetsItsOwnPipesCopyOfTheProfileMemory) {
   Shim::Sdk& sdk = Shim::sdk_;
   chip_.portTranslationControlIs(unit, on);
   const std::vector<U32> entry{0, modeOn, 0};
   ASSERT_EQ(sdk.soc_mem_write(unit, sdk.L4_XLATE_PROFILEm(), sdk.MEM_BLOCK_ANY(), 32, entry), 0);
   EXPECT_EQ(chip_.outcome(unit, {.ipProtocol = tcp}, extraction(21)).rewritten, srcAndPort);
   EXPECT_EQ(chip_.outcome(unit, {.ipProtocol = tcp, .pipe = 1}, extraction(21)).rewritten, src);
}

TEST_F(PacketOutcomeTest, UidAndForwardingFollowTheEntrysActions) {
   Shim::Sdk& sdk = Shim::sdk_;
   chip_.portTranslationControlIs(unit, 0);
   Chip::ActionList actions;
   actions.add({sdk.bcmFieldActionAssignOpaqueObject1(), 7, 0});
   actions.add({sdk.bcmFieldActionL3Switch(), 100005, 0});
   EXPECT_EQ(chip_.outcome(unit, {}, actions),
             (Chip::PacketOutcome{{}, 7, Chip::Forwarding::l3Switch, 100005}));
   actions.add({sdk.bcmFieldActionDrop(), 0, 0});
   EXPECT_EQ(chip_.outcome(unit, {}, actions),
             (Chip::PacketOutcome{{}, 7, Chip::Forwarding::drop}));
}

}  // namespace
}  // namespace ShimTest
