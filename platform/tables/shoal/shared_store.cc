#include "platform/tables/shoal/shared_store.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>

#include "platform/framework/kiv/assert.h"
#include "platform/segment/robust_mutex.h"
#include "platform/segment/tear_free.h"
#include "platform/tables/shoal/doorbell.h"
#include "platform/tables/shoal/process_slot.h"

namespace Shoal {
namespace {

using Segment::atomicLoad;
using Segment::atomicStore;

// The block of a table of `entries` records of `shape`, part by part from its header.
struct BlockLayout {
   U64 indexOffset;
   U64 entriesOffset;
   U64 freeMapOffset;
   U64 ringsOffset;
   U64 bytes;

   BlockLayout(const TableShape& shape, U32 entries, U32 indexSlots, U32 ringEntries) {
      auto after = [](U64 offset, U64 alignment) {
         return (offset + alignment - 1) / alignment * alignment;
      };
      indexOffset = after(sizeof(TableHeader), 64);
      entriesOffset = after(indexOffset + U64{indexSlots} * sizeof(U32),
                            std::max<U64>(64, shape.entryAlignment));
      freeMapOffset = after(entriesOffset + U64{entries} * shape.entryBytes, 64);
      ringsOffset = after(freeMapOffset + U64{freeMapWords(entries)} * sizeof(U64), 64);
      bytes = after(ringsOffset + U64{TableHeader::maxMounts} * ringEntries * sizeof(U32),
                    Segment::SwitchSegment::pageBytes());
   }
};

}  // namespace

// The directory lives in the segment: one lock for the few changes of the list of tables
// (a table made, placed, deleted, let go), and the entries. A process that dies holding the
// lock leaves an entry either whole or not yet in use, since `used` is written last.
struct SharedStore::Directory {
   static constexpr U32 maxTables = 64;
   struct Entry {
      U64 tableOffset;
      U32 used;
      std::array<char, 124> path;
      std::array<char, 64> typeName;
   };

   Segment::RobustMutex<Segment::MutexKind::plain> mutex;
   std::array<Entry, maxTables> entries{};
   // Outside the mutex: writers of different tables count at once.
   U64 changes = 0;

   Entry* find(const Kiv::String& path) {
      for (Entry& entry : entries) {
         if (entry.used && path == entry.path.data()) return &entry;
      }
      return nullptr;
   }
   bool lists(std::size_t offset) const {
      return std::any_of(entries.begin(), entries.end(), [&](const Entry& entry) {
         return entry.used && entry.tableOffset == offset;
      });
   }
};

SharedStore::SharedStore()
    : ownSegment_(Segment::SwitchSegment::create(defaultSegmentBytes)),
      segment_(ownSegment_.get()),
      directory_(segment_->findOrConstruct<Directory>("shoal.directory")) {}

SharedStore::SharedStore(Segment::SwitchSegment& segment)
    : segment_(&segment), directory_(segment_->findOrConstruct<Directory>("shoal.directory")) {}

// Every TableState holds the store, so none is left.
SharedStore::~SharedStore() = default;

U64 SharedStore::changes() const {
   return Segment::atomicLoad(directory_.changes, std::memory_order_acquire);
}

void SharedStore::doCountChange() { std::atomic_ref<U64>(directory_.changes).fetch_add(1); }

std::optional<SharedStore::Table> SharedStore::table(const Kiv::String& path) {
   std::lock_guard<Segment::RobustMutex<Segment::MutexKind::plain>> guard(directory_.mutex);
   const Directory::Entry* entry = directory_.find(path);
   if (!entry) return std::nullopt;
   return Table{entry->typeName.data(), stateOf(entry->tableOffset)};
}

void SharedStore::tableIs(const Kiv::String& path, const Table& table) {
   KIV_ASSERT( &table.state->store() == this && "a table is placed in its own store" );
   Directory::Entry named{};
   if (path.size() >= named.path.size() || table.typeName.size() >= named.typeName.size()) {
      Kiv::throwRangeException("shared table path '" + path + "' or type '" + table.typeName +
                               "' is too long");
   }
   std::memcpy(named.path.data(), path.data(), path.size());
   std::memcpy(named.typeName.data(), table.typeName.data(), table.typeName.size());
   named.tableOffset = table.state->offset();
   std::lock_guard<Segment::RobustMutex<Segment::MutexKind::plain>> guard(directory_.mutex);
   Directory::Entry* entry = directory_.find(path);
   std::size_t replaced = 0;
   if (entry) {
      replaced = entry->tableOffset;
      atomicStore(entry->used, U32{0});
   } else {
      auto free = std::find_if(directory_.entries.begin(), directory_.entries.end(),
                               [](const Directory::Entry& e) { return !e.used; });
      if (free == directory_.entries.end()) {
         throw Kiv::Exception("shared memory lists " + std::to_string(Directory::maxTables) +
                              " tables already; cannot place '" + path + "'");
      }
      entry = &*free;
   }
   named.used = 0;
   *entry = named;
   atomicStore(entry->used, U32{1}, std::memory_order_release);
   atomicStore(table.state->header().listed, U32{1});
   if (replaced != 0 && replaced != named.tableOffset) {
      retire(replaced);
      blockDelIfUnheld(replaced);
   }
}

void SharedStore::tableDel(const Kiv::String& path) {
   std::lock_guard<Segment::RobustMutex<Segment::MutexKind::plain>> guard(directory_.mutex);
   Directory::Entry* entry = directory_.find(path);
   if (!entry) return;
   atomicStore(entry->used, U32{0});
   retire(entry->tableOffset);
   blockDelIfUnheld(entry->tableOffset);
}

// A mount of this process is woken directly, one of another process through its doorbell.
void SharedStore::retire(std::size_t offset) {
   if (directory_.lists(offset)) return;
   TableHeader& header = *reinterpret_cast<TableHeader*>(segment_->base() + offset);
   atomicStore(header.retired, U32{1}, std::memory_order_release);
   const pid_t self = getpid();
   U32 active = atomicLoad(header.activeMounts, std::memory_order_acquire);
   while (active != 0) {
      Doorbell::doRingFor(header.mounts[std::countr_zero(active)], self);
      active &= active - 1;
   }
   auto local = states_.find(offset);
   if (local == states_.end()) return;
   if (std::shared_ptr<TableState> state = local->second.lock()) state->doWakeMounts();
}

std::vector<Kiv::String> SharedStore::paths() const {
   std::lock_guard<Segment::RobustMutex<Segment::MutexKind::plain>> guard(directory_.mutex);
   std::vector<Kiv::String> paths;
   for (const Directory::Entry& entry : directory_.entries) {
      if (entry.used) paths.emplace_back(entry.path.data());
   }
   std::sort(paths.begin(), paths.end());
   return paths;
}

std::shared_ptr<TableState> SharedStore::tableNew(const TableShape& shape, U32 capacity) {
   const U32 entries = capacity == 0 ? defaultEntries : capacity;
   if (entries > maxEntries) {
      Kiv::throwRangeException("a shared table holds at most " + std::to_string(maxEntries) +
                               " records, not " + std::to_string(entries));
   }
   const U32 indexSlots = std::bit_ceil(2 * entries);
   const BlockLayout layout(shape, entries, indexSlots, changeRingEntries_);
   const std::size_t offset = segment_->allocate(layout.bytes, Segment::SwitchSegment::pageBytes());
   // Reused memory is not zeros. Only the header, the index and the free map are read before
   // they are written: entries and rings are reached through them. The index's whole pages
   // go back to the system as zero pages rather than being cleared, so that a process (an
   // agent making its status directories at each start) faults in only the pages it uses.
   std::byte* block = segment_->base() + offset;
   const std::size_t page = Segment::SwitchSegment::pageBytes();
   const std::size_t pagesFrom = (offset + layout.indexOffset + page - 1) / page * page;
   const std::size_t pagesTo = (offset + layout.entriesOffset) / page * page;
   if (pagesTo > pagesFrom) {
      std::memset(block, 0, pagesFrom - offset);
      segment_->doZero(pagesFrom, pagesTo - pagesFrom);
      std::memset(segment_->base() + pagesTo, 0, offset + layout.entriesOffset - pagesTo);
   } else {
      std::memset(block, 0, layout.entriesOffset);
   }
   std::memset(block + layout.freeMapOffset, 0, U64{freeMapWords(entries)} * sizeof(U64));
   TableHeader& header = *reinterpret_cast<TableHeader*>(block);
   new (&header) TableHeader{};
   header.keyBytes = shape.keyBytes;
   header.recordBytes = shape.recordBytes;
   header.entryBytes = shape.entryBytes;
   header.entryAlignment = shape.entryAlignment;
   header.entryCount = entries;
   header.indexSlots = indexSlots;
   header.ringEntries = changeRingEntries_;
   header.fillPace = mountFillPace_;
   header.capacity = capacity;
   header.blockBytes = layout.bytes;
   header.indexOffset = layout.indexOffset;
   header.entriesOffset = layout.entriesOffset;
   header.freeMapOffset = layout.freeMapOffset;
   header.ringsOffset = layout.ringsOffset;
   std::lock_guard<Segment::RobustMutex<Segment::MutexKind::plain>> guard(directory_.mutex);
   return stateOf(offset);
}

void SharedStore::changeRingEntriesIs(U32 entries) {
   if (entries == 0) Kiv::throwRangeException("a change ring holds at least one entry");
   changeRingEntries_ = entries;
}

void SharedStore::mountFillPaceIs(U32 entries) { mountFillPace_ = entries; }

std::shared_ptr<TableState> SharedStore::stateOf(std::size_t offset) {
   std::weak_ptr<TableState>& known = states_[offset];
   if (std::shared_ptr<TableState> state = known.lock()) return state;
   TableHeader& header = *reinterpret_cast<TableHeader*>(segment_->base() + offset);
   const std::optional<U32> holder = processSlotNew(header.holders, [](auto&) {});
   if (!holder) {
      throw Kiv::Exception("a shared table is held by " +
                           std::to_string(TableHeader::maxProcesses) + " processes already");
   }
   std::shared_ptr<TableState> state(new TableState(this, offset, *holder));
   known = state;
   return state;
}

void SharedStore::holdEnd(TableState& state) {
   std::lock_guard<Segment::RobustMutex<Segment::MutexKind::plain>> guard(directory_.mutex);
   states_.erase(state.offset());
   processSlotDel(state.header().holders[state.holder_]);
   blockDelIfUnheld(state.offset());
}

void SharedStore::blockDelIfUnheld(std::size_t offset) {
   if (directory_.lists(offset)) return;
   TableHeader& header = *reinterpret_cast<TableHeader*>(segment_->base() + offset);
   atomicStore(header.listed, U32{0});
   if (states_.contains(offset) || heldByOthers(header.holders)) return;
   // A big block goes back as zero pages, so that the system has the memory until it is used
   // again. A small one stays in memory for the next table: an agent makes its status
   // directories anew at each start, and fresh pages would each be faulted in and cleared.
   if (header.blockBytes >= residentBlockBytes) segment_->doZero(offset, header.blockBytes);
   segment_->deallocate(offset);
}

Kiv::Ptr<SharedStore> privateStore() {
   static Kiv::Ptr<SharedStore> store(new SharedStore);
   return store;
}

}  // namespace Shoal
