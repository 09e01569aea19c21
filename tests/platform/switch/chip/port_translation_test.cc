#include "platform/switch/chip/port_translation.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/switch/sdk/return_code.h"
#include "tests/platform/switch/sdk/sdk_fixture.h"

namespace ShimTest {
namespace {

constexpr S32 unit = 2;

// The profile memory through the shim, on a chip of two pipes: each pipe has its copy, and the
// block of a call says which copies it reaches. (The register and the field setters are
// checked through the NAT programmer's enable sequence.)
using PortTranslationTest = SdkFixture;

TEST_F(PortTranslationTest, WritesReachTheCopiesTheirBlockNamesAndReadsNameOne) {
   Shim::Sdk& sdk = Shim::sdk_;
   const S32 mem = sdk.L4_XLATE_PROFILEm();
   const auto copies = [&](U32 index) {
      return std::vector<Chip::PortTranslation::ProfileEntry>{
          chip_.portTranslationProfile(unit, 0, index),
          chip_.portTranslationProfile(unit, 1, index)};
   };
   using Entry = Chip::PortTranslation::ProfileEntry;
   chip_.portTranslationProfileIs(unit, 30, {1, 2, 3});
   std::vector<U32> buffer(sdk.SOC_MAX_MEM_WORDS(), 9);
   ASSERT_EQ(sdk.soc_mem_read(unit, mem, sdk.MEM_BLOCK_ANY(), 30, buffer), sdk.BCM_E_NONE());
   std::vector<U32> expected(buffer.size(), 9);
   expected[0] = 1, expected[1] = 2, expected[2] = 3;
   EXPECT_EQ(buffer, expected) << "the read fills one entry and leaves the rest of the buffer";
   EXPECT_EQ(sdk.soc_mem_read(unit, mem, sdk.MEM_BLOCK_ALL(), 30, buffer),
             Shim::code(Shim::SdkError::invalidParameter));

   const std::vector<U32> written{4, 5, 6};
   ASSERT_EQ(sdk.soc_mem_write(unit, mem, sdk.MEM_BLOCK_ANY(), 30, written), sdk.BCM_E_NONE());
   EXPECT_EQ(copies(30), (std::vector<Entry>{{4, 5, 6}, {1, 2, 3}}));
   ASSERT_EQ(sdk.soc_mem_write(unit, mem, sdk.MEM_BLOCK_ALL(), 31, written), sdk.BCM_E_NONE());
   EXPECT_EQ(copies(31), (std::vector<Entry>{{4, 5, 6}, {4, 5, 6}}));
   EXPECT_EQ(copies(32), (std::vector<Entry>{{}, {}}));
}

// A reset zeroes what the block holds, as a chip that loses power does, while the unit's state
// stays in place for whoever reads it.
TEST_F(PortTranslationTest, AUnitResetZeroesTheRegisterAndEveryCopyAndAChipResetEveryUnit) {
   chip_.portTranslationControlIs(unit, 0x5);
   chip_.portTranslationProfileIs(unit, 3, {1, 2, 3});
   chip_.portTranslationControlIs(1, 0x7);
   chip_.doUnitReset(unit);
   EXPECT_EQ(chip_.portTranslationControl(unit), 0u);
   EXPECT_EQ(chip_.portTranslationProfile(unit, 1, 3), (Chip::PortTranslation::ProfileEntry{}));
   EXPECT_EQ(chip_.portTranslationControl(1), 0x7u);
   chip_.doReset();
   EXPECT_EQ(chip_.portTranslationControl(1), 0u);
}

}  // namespace
}  // namespace ShimTest
