#include <gtest/gtest.h>

#include <functional>

#include "platform/switch/chip/simulated_chip.h"
#include "platform/switch/sdk/return_code.h"
#include "platform/switch/sdk/sdk_constants.h"

namespace ChipTest {
namespace {

using Chip::SimulatedChip;
using Shim::SdkError;

constexpr S32 unit = 1;
constexpr U32 id = 7;  // at slot 5 of 16
constexpr U32 missing = 8;
const S32 drop = static_cast<S32>(Shim::FieldAction::drop);

// What the chip refuses stays out of the entry, so a faulty write cannot pass unnoticed.
TEST(FieldEntryTest, RefusedCallsReturnTheirCodeAndChangeNothing) {
   SimulatedChip chip{SimulatedChip::Config{2, 16}};
   ASSERT_EQ(chip.bcm_field_entry_create_at(unit, 3, id, 5), Shim::successCode);
   ASSERT_EQ(chip.bcm_field_action_add(unit, id, drop, 0, 0), Shim::successCode);
   const S32 invalid = Shim::code(SdkError::invalidParameter);
   const S32 exists = Shim::code(SdkError::exists);
   using C = SimulatedChip&;
   const struct {
      S32 code;
      const char* name;
      std::function<S32(C)> call;
   } cases[] = {
       {invalid, "port over 16 bits",
        [](C c) { return c.bcm_field_qualify_L4SrcPort(unit, id, 0x10000, 0xFFFF); }},
       {invalid, "vlan over 13 bits",
        [](C c) { return c.bcm_field_qualify_L3Ingress(unit, id, 8192, ~0u); }},
       {invalid, "flag beyond fin, syn, rst",
        [](C c) { return c.bcm_field_qualify_TcpControl(unit, id, 0x40, 0x7); }},
       {invalid, "no fragment state", [](C c) { return c.bcm_field_qualify_IpFrag(unit, id, 0); }},
       {exists, "action added twice",
        [](C c) { return c.bcm_field_action_add(unit, id, drop, 1, 0); }},
       {Shim::code(SdkError::notFound), "missing entry",
        [](C c) { return c.bcm_field_qualify_DstIp(unit, missing, 1, ~0u); }},
       {Shim::code(SdkError::invalidUnit), "unit beyond the chip",
        [](C c) { return c.bcm_field_qualify_DstIp(2, id, 1, ~0u); }},
       {exists, "id taken", [](C c) { return c.bcm_field_entry_create_at(unit, 3, id, 6); }},
       {exists, "slot taken", [](C c) { return c.bcm_field_entry_create_at(unit, 3, missing, 5); }},
       {invalid, "slot beyond the TCAM",
        [](C c) { return c.bcm_field_entry_create_at(unit, 3, missing, 16); }},
   };
   for (const auto& c : cases) EXPECT_EQ(c.call(chip), c.code) << c.name;

   const Chip::FieldEntry entry = *chip.entry(unit, id);
   for (U32 field = 0; field < Chip::qualifierCount; ++field) {
      EXPECT_FALSE(entry.qualifier(static_cast<Chip::KeyField>(field))) << field;
   }
   EXPECT_EQ(entry.actions().items().size(), 1u);
   EXPECT_EQ(chip.entryCount(unit), 1u);
   ASSERT_EQ(chip.bcm_field_entry_destroy(unit, id), Shim::successCode);
   EXPECT_EQ(chip.bcm_field_entry_create_at(unit, 3, missing, 5), Shim::successCode) << "slot free";
}

}  // namespace
}  // namespace ChipTest
