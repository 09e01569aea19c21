#include "platform/segment/owner.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <string>

#include "tests/support/child_process.h"

namespace SegmentTest {
namespace {

using Segment::Owner;
using TestSupport::Child;

// A process whose command name holds the blanks and parentheses that /proc/<pid>/stat does
// not escape; it says its start time and waits to be killed.
Child oddlyNamedChild() {
   return Child([](int fd) {
      prctl(PR_SET_NAME, "a) 1 2 (b");
      const std::string startTime = std::to_string(Owner::self().startTime);
      (void)!write(fd, startTime.c_str(), startTime.size());
      pause();
   });
}

TEST(OwnerTest, AProcessIsAliveUntilItDiesAndOnlyWithItsOwnStartTime) {
   Child child = oddlyNamedChild();
   const Owner owner{child.pid, std::stoull(child.said)};
   EXPECT_TRUE(owner.alive());
   EXPECT_FALSE((Owner{child.pid, owner.startTime + 1}.alive())) << "another process, same pid";
   child.doKill();
   EXPECT_FALSE(owner.alive()) << "a zombie is dead";
}

TEST(OwnerTest, ThisProcessIsAliveAndNoPidIsNobody) {
   EXPECT_TRUE(Owner::self().alive());
   EXPECT_NE(Owner::self().startTime, 0u);
   EXPECT_FALSE((Owner{0, 0}.alive()));
}

}  // namespace
}  // namespace SegmentTest
