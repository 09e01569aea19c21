#include "platform/segment/switch_segment.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "tests/support/child_process.h"

namespace SegmentTest {
namespace {

using Segment::Owner;
using Segment::SegmentException;
using Segment::SwitchSegment;
using TestSupport::Child;

constexpr std::size_t bytes = 1 << 20;

bool exists(const std::string& name) { return std::filesystem::exists("/dev/shm/" + name); }

// A shared-memory object of `size` zero bytes that nothing made a segment of, gone with it.
struct RawObject {
   RawObject(std::string objectName, off_t size) : name(std::move(objectName)) {
      const int fd = shm_open(("/" + name).c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
      EXPECT_GE(fd, 0) << name;
      EXPECT_EQ(ftruncate(fd, size), 0);
      close(fd);
   }
   ~RawObject() { shm_unlink(("/" + name).c_str()); }

   const std::string name;
};

TEST(SwitchSegmentTest, IsItsUsersAloneAndNamedApartFromEveryOther) {
   const std::unique_ptr<SwitchSegment> first = SwitchSegment::create(bytes);
   const std::unique_ptr<SwitchSegment> second = SwitchSegment::create(bytes);
   EXPECT_NE(first->name(), second->name());
   struct stat status {};
   ASSERT_EQ(stat(("/dev/shm/" + first->name()).c_str(), &status), 0);
   EXPECT_EQ(status.st_mode & 0777, 0600u);
   EXPECT_EQ(first->owner(), Owner::self());
}

struct Record {
   explicit Record(U64 initial) : value(initial) {}
   U64 value;
};

TEST(SwitchSegmentTest, AnAttacherFindsWhatTheCreatorBuiltAndLeavesTheSegment) {
   std::unique_ptr<SwitchSegment> creator = SwitchSegment::create(bytes);
   creator->findOrConstruct<Record>("record", 7u);
   const std::string name = creator->name();
   {
      const std::unique_ptr<SwitchSegment> attacher = SwitchSegment::attach(name);
      EXPECT_EQ(attacher->findOrConstruct<Record>("record", 9u).value, 7u);
      EXPECT_EQ(attacher->owner(), Owner::self());
      attacher->findOrConstruct<Record>("other", 9u);
   }
   ASSERT_TRUE(exists(name));
   EXPECT_EQ(creator->findOrConstruct<Record>("other", 11u).value, 9u);
   creator.reset();
   EXPECT_FALSE(exists(name));
}

TEST(SwitchSegmentTest, ZeroedPagesReadAsZerosInEveryProcess) {
   const std::unique_ptr<SwitchSegment> creator = SwitchSegment::create(bytes);
   const std::size_t page = SwitchSegment::pageBytes();
   const std::size_t offset = creator->allocate(2 * page, page);
   std::fill_n(creator->base() + offset, 2 * page, std::byte{0xAB});
   const std::unique_ptr<SwitchSegment> attacher = SwitchSegment::attach(creator->name());
   creator->doZero(offset, page);
   EXPECT_EQ(attacher->base()[offset + page - 1], std::byte{0});
   EXPECT_EQ(attacher->base()[offset + page], std::byte{0xAB});
}

TEST(SwitchSegmentTest, ACreateRemovesTheSegmentsOfDeadOwnersAndLeavesLiveOnes) {
   Child child([](int fd) {
      const std::unique_ptr<SwitchSegment> segment = SwitchSegment::create(bytes);
      (void)!write(fd, segment->name().c_str(), segment->name().size());
      pause();
   });
   const Owner self = Owner::self();
   const RawObject samePidOtherStart(
       SwitchSegment::nameOf(getuid(), Owner{self.pid, self.startTime + 1}, 0), 4096);

   const std::unique_ptr<SwitchSegment> live = SwitchSegment::create(bytes);
   EXPECT_TRUE(exists(child.said)) << "a live owner's segment is left";
   EXPECT_FALSE(exists(samePidOtherStart.name)) << "the pid's process is another now";

   child.doKill();
   SwitchSegment::create(bytes);
   EXPECT_FALSE(exists(child.said));
   EXPECT_TRUE(exists(live->name()));
}

// Constructed, it says so on `fd` and waits to be killed, holding the segment's lock.
struct KilledInConstruction {
   explicit KilledInConstruction(int fd) {
      (void)!write(fd, "c", 1);
      pause();
   }
};

TEST(SwitchSegmentTest, AProcessKilledHoldingTheSegmentsLockLeavesItFree) {
   const std::unique_ptr<SwitchSegment> segment = SwitchSegment::create(bytes);
   Child child([&](int fd) {
      SwitchSegment::attach(segment->name())->findOrConstruct<KilledInConstruction>("killed", fd);
   });
   child.doKill();
   EXPECT_EQ(segment->findOrConstruct<Record>("record", 5u).value, 5u);
}

TEST(SwitchSegmentTest, AttachRefusesWhatIsNoSwitchSegmentOfThisLayout) {
   const std::string prefix = "tessel-nat-test." + std::to_string(getpid()) + ".";
   const std::unique_ptr<SwitchSegment> oldLayout = SwitchSegment::create(bytes);
   // The header's magic (8 bytes) and layout version (4) are first in every version.
   const int fd = shm_open(("/" + oldLayout->name()).c_str(), O_RDWR, 0);
   ASSERT_GE(fd, 0);
   void* header = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
   close(fd);
   ASSERT_NE(header, MAP_FAILED);
   static_cast<U32*>(header)[2] = SwitchSegment::layoutVersion - 1;
   munmap(header, 4096);
   const RawObject empty(prefix + "empty", 0);
   const RawObject zeros(prefix + "zeros", 8192);

   const struct {
      std::string name;
      std::string error;
   } cases[] = {
       {prefix + "absent", prefix + "absent: cannot open the segment: No such file or directory"},
       {prefix + "empty", prefix + "empty is not a switch segment"},
       {prefix + "zeros", prefix + "zeros is not a switch segment"},
       {oldLayout->name(), oldLayout->name() + " has layout version " +
                               std::to_string(SwitchSegment::layoutVersion - 1) +
                               ", this program reads " +
                               std::to_string(SwitchSegment::layoutVersion)},
   };
   for (const auto& c : cases) {
      EXPECT_THAT([&] { SwitchSegment::attach(c.name); },
                  testing::ThrowsMessage<SegmentException>(c.error));
   }
}

}  // namespace
}  // namespace SegmentTest
