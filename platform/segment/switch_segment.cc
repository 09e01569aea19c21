#include "platform/segment/switch_segment.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <boost/interprocess/indexes/iset_index.hpp>
#include <boost/interprocess/managed_external_buffer.hpp>
#include <boost/interprocess/mapped_region.hpp>
#include <boost/interprocess/mem_algo/rbtree_best_fit.hpp>
#include <boost/interprocess/shared_memory_object.hpp>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <optional>

#include "platform/framework/kiv/assert.h"
#include "platform/segment/robust_mutex.h"
#include "platform/segment/tear_free.h"

namespace Segment {
namespace {

namespace bip = boost::interprocess;

using ManagedArea =
    bip::basic_managed_external_buffer<char, bip::rbtree_best_fit<RobustMutexFamily>,
                                       bip::iset_index>;

constexpr const char* namePrefix = "tessel-nat.";
// Where the system keeps POSIX shared-memory objects, one file each.
constexpr const char* sharedMemoryDirectory = "/dev/shm";
constexpr U64 headerMagic = 0x54455353454C5347ull;  // "TESSELSG"
// The managed area starts on the page after the header.
constexpr std::size_t headerBytes = 4096;

// The segment's first bytes, written by the creator before anything else and read by an
// attacher before it trusts anything else. magic and layoutVersion stay first in every version,
// so that any version can tell another's segment apart.
struct Header {
   std::atomic<U64> magic;  // headerMagic once the segment is whole
   U32 layoutVersion;
   pid_t ownerPid;
   U64 ownerStartTime;
   U64 managedBytes;
};
static_assert(sizeof(Header) <= headerBytes);

// An object of the same alignment as the named objects it stores.
struct NamedStorage {
   U64 word;
};
static_assert(alignof(NamedStorage) == SwitchSegment::namedAlignment);

std::atomic<U64> segmentsCreated{0};

std::string userPrefix(uid_t uid) { return namePrefix + std::to_string(uid) + "."; }

// The owner a segment's name gives after its user prefix ("<pid>.<start time>.<counter>").
std::optional<Owner> ownerInName(std::string_view rest) {
   Owner owner;
   U64 counter = 0;
   const char* end = rest.data() + rest.size();
   auto [afterPid, pidError] = std::from_chars(rest.data(), end, owner.pid);
   if (pidError != std::errc() || afterPid == end || *afterPid != '.') return std::nullopt;
   auto [afterStart, startError] = std::from_chars(afterPid + 1, end, owner.startTime);
   if (startError != std::errc() || afterStart == end || *afterStart != '.') return std::nullopt;
   auto [afterCounter, counterError] = std::from_chars(afterStart + 1, end, counter);
   if (counterError != std::errc() || afterCounter != end) return std::nullopt;
   return owner;
}

// The owner is read from the name, not from the header: a creator killed before it wrote the
// header leaves a segment too, and the name needs no mapping of memory it may have half made.
void removeStaleSegments() {
   const uid_t uid = getuid();
   const std::string prefix = userPrefix(uid);
   std::error_code error;
   std::filesystem::directory_iterator file(sharedMemoryDirectory, error);
   for (; !error && file != std::filesystem::directory_iterator(); file.increment(error)) {
      const std::string name = file->path().filename().string();
      if (!name.starts_with(prefix)) continue;
      const std::optional<Owner> owner = ownerInName(std::string_view(name).substr(prefix.size()));
      struct stat status {};
      if (!owner || owner->alive() || ::stat(file->path().c_str(), &status) != 0 ||
          status.st_uid != uid) {
         continue;
      }
      bip::shared_memory_object::remove(name.c_str());
   }
}

// Rethrows the exception being handled, the library's own as a SegmentException that says
// which segment and what was being done.
[[noreturn]] void rethrowWithName(const std::string& context) {
   try {
      throw;
   } catch (const bip::interprocess_exception& error) {
      throw SegmentException(context + ": " + error.what());
   }
}

Header& headerAt(const bip::mapped_region& region) {
   return *static_cast<Header*>(region.get_address());
}

}  // namespace

struct SwitchSegment::Mapping {
   bip::shared_memory_object object;
   bip::mapped_region region;
   ManagedArea area;
};

std::string SwitchSegment::nameOf(uid_t uid, const Owner& owner, U64 counter) {
   return userPrefix(uid) + std::to_string(owner.pid) + "." + std::to_string(owner.startTime) +
          "." + std::to_string(counter);
}

std::unique_ptr<SwitchSegment> SwitchSegment::create(std::size_t bytes) {
   return std::unique_ptr<SwitchSegment>(new SwitchSegment(CreateTag{}, bytes));
}

std::unique_ptr<SwitchSegment> SwitchSegment::attach(const std::string& name) {
   return std::unique_ptr<SwitchSegment>(new SwitchSegment(AttachTag{}, name));
}

SwitchSegment::SwitchSegment(CreateTag, std::size_t bytes) {
   removeStaleSegments();
   const Owner self = Owner::self();
   name_ = nameOf(getuid(), self, segmentsCreated++);
   try {
      bip::shared_memory_object object(bip::create_only, name_.c_str(), bip::read_write,
                                       bip::permissions(0600));
      creator_ = self.pid;
      object.truncate(static_cast<bip::offset_t>(headerBytes + bytes));
      bip::mapped_region region(object, bip::read_write);
      Header& header =
          *new (region.get_address()) Header{{0}, layoutVersion, self.pid, self.startTime, bytes};
      base_ = static_cast<std::byte*>(region.get_address());
      ManagedArea area(bip::create_only, base_ + headerBytes, bytes);
      mapping_.reset(new Mapping{std::move(object), std::move(region), std::move(area)});
      header.magic.store(headerMagic, std::memory_order_release);
   } catch (...) {
      if (creator_ != 0) bip::shared_memory_object::remove(name_.c_str());
      rethrowWithName(name_ + ": cannot create the segment");
   }
}

SwitchSegment::SwitchSegment(AttachTag, const std::string& name) : name_(name) {
   try {
      bip::shared_memory_object object(bip::open_only, name_.c_str(), bip::read_write);
      bip::offset_t size = 0;
      object.get_size(size);
      if (static_cast<std::size_t>(size) < headerBytes) {
         throw SegmentException(name_ + " is not a switch segment");
      }
      bip::mapped_region region(object, bip::read_write);
      const Header& header = headerAt(region);
      if (header.magic.load(std::memory_order_acquire) != headerMagic) {
         throw SegmentException(name_ + " is not a switch segment");
      }
      if (header.layoutVersion != layoutVersion) {
         throw SegmentException(name_ + " has layout version " +
                                std::to_string(header.layoutVersion) + ", this program reads " +
                                std::to_string(layoutVersion));
      }
      if (header.managedBytes > static_cast<std::size_t>(size) - headerBytes) {
         throw SegmentException(name_ + " is shorter than its header says");
      }
      base_ = static_cast<std::byte*>(region.get_address());
      ManagedArea area(bip::open_only, base_ + headerBytes, header.managedBytes);
      mapping_.reset(new Mapping{std::move(object), std::move(region), std::move(area)});
   } catch (...) {
      rethrowWithName(name_ + ": cannot open the segment");
   }
}

SwitchSegment::~SwitchSegment() {
   mapping_.reset();
   if (creator_ != 0 && creator_ == getpid()) bip::shared_memory_object::remove(name_.c_str());
}

Owner SwitchSegment::owner() const {
   const Header& header = headerAt(mapping_->region);
   return Owner{header.ownerPid, header.ownerStartTime};
}

void* SwitchSegment::findOrConstructBytes(const char* name, std::size_t bytes,
                                          const std::function<void(void*)>& construct) {
   ManagedArea& area = mapping_->area;
   void* found = nullptr;
   auto findOrConstruct = [&] {
      found = area.find<NamedStorage>(name).first;
      if (found) return;
      const std::size_t count = (bytes + sizeof(NamedStorage) - 1) / sizeof(NamedStorage);
      NamedStorage* memory = area.construct<NamedStorage>(name, std::nothrow)[count]();
      if (!memory) throw SegmentException(name_ + ": no room for " + name);
      try {
         construct(memory);
      } catch (...) {
         area.destroy<NamedStorage>(name);
         throw;
      }
      found = memory;
   };
   area.atomic_func(findOrConstruct);
   return found;
}

std::size_t SwitchSegment::allocate(std::size_t bytes, std::size_t alignment) {
   void* memory = mapping_->area.allocate_aligned(bytes, alignment, std::nothrow);
   if (!memory) {
      throw SegmentException(name_ + ": no room for " + std::to_string(bytes) + " bytes");
   }
   return static_cast<std::size_t>(static_cast<std::byte*>(memory) - base_);
}

void SwitchSegment::deallocate(std::size_t offset) { mapping_->area.deallocate(base_ + offset); }

std::size_t SwitchSegment::pageBytes() { return bip::mapped_region::get_page_size(); }

// The pages are removed from the shared-memory object, not merely unmapped, so that every
// process reads them as zeros and the system has them back.
void SwitchSegment::doZero(std::size_t offset, std::size_t bytes) {
   KIV_ASSERT( offset % pageBytes() == 0 && bytes % pageBytes() == 0 );
   if (madvise(base_ + offset, bytes, MADV_REMOVE) != 0) {
      throw SegmentException(name_ + ": cannot zero " + std::to_string(bytes) +
                             " bytes: " + std::strerror(errno));
   }
}

void SwitchSegment::doPopulate(std::size_t offset, std::size_t bytes) {
   KIV_ASSERT( offset % pageBytes() == 0 && bytes % pageBytes() == 0 );
#ifdef MADV_POPULATE_WRITE
   // Older systems refuse the advice; the pages then come one fault at a time, as before.
   madvise(base_ + offset, bytes, MADV_POPULATE_WRITE);
#endif
   // Under a hypervisor that keeps its own copy of the page tables, a page the advice gave
   // still traps to the host at its first access, some microseconds each: one read of each
   // page takes that now rather than inside the first writes.
   const std::size_t step = pageBytes();
   for (std::size_t page = offset; page < offset + bytes; page += step) {
      (void)atomicLoad(*reinterpret_cast<const U64*>(base_ + page));
   }
}

}  // namespace Segment
