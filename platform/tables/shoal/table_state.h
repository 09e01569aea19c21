#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <functional>
#include <vector>

#include "platform/framework/kiv/ptr.h"
#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"
#include "platform/tables/shoal/table_header.h"

namespace Shoal {

class Doorbell;
class SharedStore;

// One process's hold on one shared table: the table's block in the store's segment, kept
// while the process holds it, with the part of the table that does not depend on its record
// type (sizes, capacity, counts, injected faults, readers' corruption reports, the mounts'
// change rings). Every mount of the table in the process shares the one TableState the store
// hands out, by shared pointer; the typed mounts (Shoal::Table) lay their records over it.
//
// Only the framework thread uses it, with the activity lock held; other processes use the
// same block through their own TableState.
class TableState {
public:
   // Made by SharedStore, which hands out one per table and process.
   TableState(Kiv::Ptr<SharedStore> store, std::size_t offset, U32 holder);
   ~TableState();
   TableState(const TableState&) = delete;
   TableState& operator=(const TableState&) = delete;

   TableHeader& header() const { return header_; }
   TableShape shape() const;
   // Where the block's part at `offset` (from the header) starts.
   template <class T>
   T* part(U64 offset) const {
      return reinterpret_cast<T*>(reinterpret_cast<std::byte*>(&header_) + offset);
   }
   // The block's offset in the store's segment: what tells two tables apart.
   std::size_t offset() const { return offset_; }
   SharedStore& store() const { return *store_; }

   // Corruption reports, from any reader of the table in any process. The table keeps the
   // first few messages.
   void corruptionReportIs(const Kiv::String& msg);
   U32 corruptionReports() const;
   std::vector<Kiv::String> corruptionMessages() const;

   // Fault injection, seen by every process: the Nth read from now raises, once (1 is the
   // next read, 0 cancels), or every read until cleared.
   void corruptionOnReadIs(U32 readsFromNow);
   void corruptionOnEveryReadIs(bool everyRead);
   bool corruptionOnEveryRead() const;
   // True when this read is one chosen to fail.
   bool corruptReadNow();
   // Faults aimed at one read of this process's mounts, as key bytes of the table's type:
   // empty when none is set. They stay in the process because the reads they aim at are.
   std::vector<std::byte> corruptLookupOf;
   std::vector<std::byte> corruptNextFrom;
   bool corruptFirst = false;

   // Records a new key may not go beyond: at most what the block holds, which is also what
   // 0 means.
   U32 capacity() const;
   void capacityIs(U32 capacity);
   U32 capacityReports() const;
   void capacityReportIs();

   // Claims a mount slot for a mount of this process, which `wake` tells (on the writer's
   // stack) that the writer filled its ring. Throws Kiv::Exception when every slot is held by
   // a live process. The writer hears of the slot once it is active: its mount first clears
   // the pending bits a previous holder may have left in the entries.
   U32 mountSlotNew(std::function<void()> wake);
   void mountSlotActiveIs(U32 slot);
   void mountSlotDel(U32 slot);
   // The writer changed `entry`, whose pending bits are `pending`: every other mount hears of
   // it once, through its ring, or through a resync when the ring is full.
   void changeIs(U32 entry, U32& pending, U32 writerSlot);
   // The mount's side: it clears the doorbell flag first, so that a change pushed after it
   // rings again; then whether it must compare every entry (which clears the request), and
   // the ring's next entry.
   void rungClear(U32 slot);
   bool resyncTaken(U32 slot);
   bool ringPop(U32 slot, U32& entry);
   // Has every mount of this process look at its ring: the process's doorbell was rung.
   void doWakeMounts();

private:
   const Kiv::Ptr<SharedStore> store_;
   const std::size_t offset_;
   TableHeader& header_;
   friend class SharedStore;
   const U32 holder_;
   const pid_t pid_;
   std::array<std::function<void()>, TableHeader::maxMounts> wakers_;
   Doorbell* doorbell_ = nullptr;  // where the table is known once it has a mount here
};

}  // namespace Shoal
