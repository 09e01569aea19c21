#include "platform/segment/tear_free.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <array>

#include "tests/support/child_process.h"

namespace SegmentTest {
namespace {

using Record = std::array<U64, 8>;

Record filled(U64 value) {
   Record record;
   record.fill(value);
   return record;
}

bool whole(const Record& record) {
   return std::all_of(record.begin(), record.end(), [&](U64 word) { return word == record[0]; });
}

// A record all of whose words change with every write, shared with a child that rewrites it
// as fast as it can: every copy the test makes meanwhile, and after the child is killed at
// whatever instruction, is one write's.
TEST(TearFreeTest, ACopyIsOneWritesWhileAnotherProcessWritesAndAfterItIsKilled) {
   void* memory = mmap(nullptr, sizeof(Segment::TearFree<Record>), PROT_READ | PROT_WRITE,
                       MAP_SHARED | MAP_ANONYMOUS, -1, 0);
   ASSERT_NE(memory, MAP_FAILED);
   // Zero memory is a record of zeros.
   auto& record = *static_cast<Segment::TearFree<Record>*>(memory);
   for (int round = 0; round < 3; ++round) {
      TestSupport::Child writer([&](int ready) {
         (void)!write(ready, "w", 1);
         for (U64 value = 1;; ++value) record.write(filled(value));
      });
      int torn = 0;
      for (int read = 0; read < 10000 * (round + 1); ++read) torn += whole(record.read()) ? 0 : 1;
      writer.doKill();
      EXPECT_EQ(torn, 0) << "round " << round;
      EXPECT_TRUE(whole(record.read())) << "round " << round;
      record.write(filled(0));
      EXPECT_EQ(record.read(), filled(0));
   }
   munmap(memory, sizeof(Segment::TearFree<Record>));
}

}  // namespace
}  // namespace SegmentTest
