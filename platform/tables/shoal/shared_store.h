#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/framework/kiv/errors.h"
#include "platform/framework/kiv/ptr.h"
#include "platform/framework/kiv/string.h"
#include "platform/segment/switch_segment.h"
#include "platform/tables/shoal/shoal_map_base.h"
#include "platform/tables/shoal/table_state.h"

namespace Shoal {

// Shared memory: the tables of the switch by path ("tesselnat/hwShadow", ...), in the switch's
// segment, apart from any agent. The control plane publishes into it, and every agent mounts
// the same tables from it, in its own process or another, so what was written outlives an
// agent that is killed and started again.
//
// A table is a block of the segment that a directory lists by path. A table taken off the
// directory (deleted, or replaced by a new table at its path) is retired: every mount of it
// hears so (onRetired()), and it lives on, no longer written, for the processes that still
// hold it; its block is given back when the last of them lets go or is gone. A new table at
// the path is a new table, which a reader mounts anew.
//
// That is the restart contract of a writer's own tables (an agent's status directories): a
// writer that starts again makes its tables anew and empty, and the readers of the old ones
// are told to look at the path again.
class SharedStore : public Kiv::PtrInterface {
public:
   // Tables made with no capacity of their own hold up to this many records.
   static constexpr U32 defaultEntries = 1u << 17;
   // The most records any table holds.
   static constexpr U32 maxEntries = (1u << 18) - 1;
   // Room for the directory and a few tables of the default size.
   static constexpr std::size_t defaultSegmentBytes = std::size_t{1} << 30;
   // Blocks of deleted tables at least this big are given back to the system.
   static constexpr std::size_t residentBlockBytes = std::size_t{4} << 20;

   struct Table {
      Kiv::String typeName;
      std::shared_ptr<TableState> state;
   };

   // A store on a segment of its own, for tables that belong to no switch.
   SharedStore();
   // The store of the switch whose segment is `segment`, which outlives the store; every
   // store on one segment sees the same tables.
   explicit SharedStore(Segment::SwitchSegment& segment);
   ~SharedStore() override;

   // The table at `path`, or nothing.
   std::optional<Table> table(const Kiv::String& path);
   // Places a table of this store at `path`, replacing what was there.
   void tableIs(const Kiv::String& path, const Table& table);
   void tableDel(const Kiv::String& path);
   std::vector<Kiv::String> paths() const;

   // A new empty table of records of `shape`, listed at no path, holding at most `capacity`
   // records (defaultEntries when 0). Throws Kiv::RangeException for more than maxEntries,
   // Segment::SegmentException when the segment has no room.
   std::shared_ptr<TableState> tableNew(const TableShape& shape, U32 capacity);

   Segment::SwitchSegment& segment() const { return *segment_; }

   // Every change of a record in any table of the store, counted since the segment was made,
   // in every process: what lets one process tell that another has seen all changes so far.
   U64 changes() const;
   void doCountChange();

   // The entries of each mount's change ring in the tables made from now on: a small ring
   // overflows into a resync at once, which is how a test or a soak drives every mount
   // through resyncs.
   void changeRingEntriesIs(U32 entries);
   // How many entries a new mount of the tables made from now on learns per turn of its
   // process's loop, 0 (the default) for the whole table at once. A mount that fills slowly
   // lets whatever else the process does run before it is complete, as a mount of a table
   // that reaches it over a link does.
   void mountFillPaceIs(U32 entries);

private:
   struct Directory;
   friend class TableState;

   // The one TableState of this process for the table whose block is at `offset`. The caller
   // holds the directory's lock.
   std::shared_ptr<TableState> stateOf(std::size_t offset);
   // A TableState goes: the process lets go of its table, whose block is given back when no
   // directory entry and no live process holds it.
   void holdEnd(TableState& state);
   // The table at `offset` left the directory: every mount of it, in any process, hears so.
   void retire(std::size_t offset);
   void blockDelIfUnheld(std::size_t offset);

   std::unique_ptr<Segment::SwitchSegment> ownSegment_;
   Segment::SwitchSegment* segment_;
   Directory& directory_;
   std::map<std::size_t, std::weak_ptr<TableState>> states_;
   U32 changeRingEntries_ = TableHeader::defaultRingEntries;
   U32 mountFillPace_ = 0;
};

// The store of tables that belong to no switch: a table made by name alone lives here.
Kiv::Ptr<SharedStore> privateStore();

// A writable mount of the table of type T at `path`, created empty when the path holds none;
// a path holding a table of another type raises Kiv::TypeException. This is how a publisher
// outside the agent (the control plane) writes its tables: they stay in the store until the
// path is deleted.
template <class T>
Kiv::Ptr<T> publisherMount(SharedStore& store, const Kiv::String& path) {
   std::optional<SharedStore::Table> existing = store.table(path);
   if (existing && existing->typeName != T::typeName) {
      Kiv::throwTypeException(Kiv::typeErrorText(existing->typeName, "publish " + path));
   }
   if (!existing) {
      existing = SharedStore::Table{T::typeName, store.tableNew(T::shape(), 0)};
      store.tableIs(path, *existing);
   }
   return Kiv::Ptr<T>(new T(path, existing->state, Access::readWrite));
}

}  // namespace Shoal
