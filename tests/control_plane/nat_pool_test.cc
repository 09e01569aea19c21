#include "control_plane/nat_pool.h"

#include <gtest/gtest.h>

namespace {

using Translation = ControlPlane::NatPool::Translation;

// Two addresses of two ports each: the ports of the first address go first, a translation
// given back goes out again before any other, and an empty pool says so.
TEST(NatPoolTest, HandsOutTheLowestFreeTranslationAndTakesThemBack) {
   ControlPlane::NatPool pool(0xC0000208, 2, 20000, 20001);
   EXPECT_EQ(pool.allocate(), (Translation{0xC0000208, 20000}));
   EXPECT_EQ(pool.allocate(), (Translation{0xC0000208, 20001}));
   EXPECT_EQ(pool.allocate(), (Translation{0xC0000209, 20000}));
   pool.release({0xC0000208, 20001});
   pool.release({0xC0000208, 20000});
   EXPECT_EQ(pool.inUse(), 1u);
   EXPECT_EQ(pool.allocate(), (Translation{0xC0000208, 20000}));
   EXPECT_EQ(pool.allocate(), (Translation{0xC0000208, 20001}));
   EXPECT_EQ(pool.allocate(), (Translation{0xC0000209, 20001}));
   EXPECT_EQ(pool.allocate(), std::nullopt);
   EXPECT_EQ(pool.inUse(), 4u);
}

}  // namespace
