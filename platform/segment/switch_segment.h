#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "platform/framework/kiv/types.h"
#include "platform/segment/owner.h"
#include "platform/segment/segment_exception.h"

namespace Segment {

// One simulated switch's shared memory: a POSIX shared-memory object holding named objects
// that every process of the switch finds by name, and that outlive any one of them but the
// creator.
//
// The creator owns the segment: create() makes a new one, readable and writable by its user
// alone, under a name no other switch on the machine uses, after removing the segments of this
// user whose creator is no longer alive (a run that was killed); the creator's destructor
// removes it. Other processes attach() by name and never remove it, nor does a process forked
// from the creator.
//
// Each process maps the segment at its own address: what lives in it holds offsets and
// indexes, never pointers. Segment::SegmentException, with the segment's name and the reason,
// is thrown when a segment cannot be made or opened or has no room left.
class SwitchSegment {
public:
   // Bumped whenever the layout of anything in the segment changes (the header, the managed
   // area, a record a program keeps there), so that no program reads a segment that another
   // version laid out.
   static constexpr U32 layoutVersion = 6;
   // Named objects are aligned to this (the allocator aligns no further); a type that needs
   // more cannot be one.
   static constexpr std::size_t namedAlignment = 8;

   // A new segment with room for `bytes` of objects. Memory is taken from the system as it is
   // first touched, so a large segment costs only what is used.
   static std::unique_ptr<SwitchSegment> create(std::size_t bytes);
   // The segment `name` another process created. Throws when there is none, or when `name` is
   // not a switch segment of this layout version.
   static std::unique_ptr<SwitchSegment> attach(const std::string& name);
   // The name create() gives the `counter`th segment of `owner`, a process of user `uid`.
   static std::string nameOf(uid_t uid, const Owner& owner, U64 counter);

   ~SwitchSegment();
   SwitchSegment(const SwitchSegment&) = delete;
   SwitchSegment& operator=(const SwitchSegment&) = delete;

   const std::string& name() const { return name_; }
   // The process that created the segment, as the segment's header records it.
   Owner owner() const;

   // The object named `name`, constructed from `args` when the segment has none yet. Finding
   // and constructing are one step for all processes of the switch. T holds no pointers.
   template <class T, class... Args>
   T& findOrConstruct(const char* name, Args&&... args) {
      static_assert(alignof(T) <= namedAlignment);
      void* found = findOrConstructBytes(
          name, sizeof(T), [&](void* memory) { new (memory) T(std::forward<Args>(args)...); });
      return *static_cast<T*>(found);
   }

   // Memory for records that an object lays out itself, `alignment` a power of two, as an
   // offset from base(). It stays until deallocate() or the end of the segment.
   std::size_t allocate(std::size_t bytes, std::size_t alignment);
   // Gives back what allocate() returned at `offset`. No one may be using it.
   void deallocate(std::size_t offset);
   // The system's page: the unit doZero() works in.
   static std::size_t pageBytes();
   // Makes `bytes` from `offset`, both page-aligned, read as zeros again, and gives their
   // memory back to the system until they are written. No one may be using them.
   void doZero(std::size_t offset, std::size_t bytes);
   // Gives `bytes` from `offset`, both page-aligned, their memory now, zeros where nothing was
   // written, and reads each page once, so that the first write to each page in this process
   // does not wait for the system. A system that cannot give memory ahead leaves the pages to
   // be given memory when written.
   void doPopulate(std::size_t offset, std::size_t bytes);
   // Where the segment starts in this process.
   std::byte* base() const { return base_; }

private:
   struct Mapping;
   struct CreateTag {};
   struct AttachTag {};

   SwitchSegment(CreateTag, std::size_t bytes);
   SwitchSegment(AttachTag, const std::string& name);

   void* findOrConstructBytes(const char* name, std::size_t bytes,
                              const std::function<void(void*)>& construct);

   std::string name_;
   std::unique_ptr<Mapping> mapping_;
   std::byte* base_ = nullptr;
   // The creator's pid when this object created the segment, else 0.
   pid_t creator_ = 0;
};

}  // namespace Segment
