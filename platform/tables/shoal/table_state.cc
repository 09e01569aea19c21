#include "platform/tables/shoal/table_state.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>

#include "platform/framework/kiv/errors.h"
#include "platform/segment/owner.h"
#include "platform/tables/shoal/doorbell.h"
#include "platform/tables/shoal/process_slot.h"
#include "platform/tables/shoal/shared_store.h"

namespace Shoal {

using Segment::atomicLoad;
using Segment::atomicStore;

TableState::TableState(Kiv::Ptr<SharedStore> store, std::size_t offset, U32 holder)
    : store_(std::move(store)),
      offset_(offset),
      header_(*reinterpret_cast<TableHeader*>(store_->segment().base() + offset)),
      holder_(holder),
      pid_(getpid()) {}

TableState::~TableState() {
   if (doorbell_) doorbell_->tableDel(this);
   store_->holdEnd(*this);
}

TableShape TableState::shape() const {
   return TableShape{header_.keyBytes, header_.recordBytes, header_.entryBytes,
                     header_.entryAlignment};
}

void TableState::corruptionReportIs(const Kiv::String& msg) {
   const U32 index = std::atomic_ref<U32>(header_.reportCount).fetch_add(1);
   if (index >= TableHeader::reportsKept) return;
   TableHeader::ReportText report{};
   std::memcpy(report.text.data(), msg.data(), std::min(msg.size(), report.text.size() - 1));
   header_.reports[index].write(report);
}

U32 TableState::corruptionReports() const { return atomicLoad(header_.reportCount); }

std::vector<Kiv::String> TableState::corruptionMessages() const {
   const U32 kept = std::min(corruptionReports(), TableHeader::reportsKept);
   std::vector<Kiv::String> messages;
   for (U32 i = 0; i < kept; ++i) messages.emplace_back(header_.reports[i].read().text.data());
   return messages;
}

void TableState::corruptionOnReadIs(U32 readsFromNow) {
   atomicStore(header_.readsUntilCorruption, readsFromNow);
}

void TableState::corruptionOnEveryReadIs(bool everyRead) {
   atomicStore(header_.corruptEveryRead, U32{everyRead});
}

bool TableState::corruptionOnEveryRead() const { return atomicLoad(header_.corruptEveryRead); }

bool TableState::corruptReadNow() {
   if (corruptionOnEveryRead()) return true;
   // Count down without going below zero, so that concurrent readers fail exactly once.
   std::atomic_ref<U32> countdown(header_.readsUntilCorruption);
   U32 remaining = countdown.load();
   while (remaining != 0) {
      if (countdown.compare_exchange_weak(remaining, remaining - 1)) return remaining == 1;
   }
   return false;
}

U32 TableState::capacity() const { return atomicLoad(header_.capacity); }

void TableState::capacityIs(U32 capacity) {
   if (capacity > header_.entryCount) {
      Kiv::throwRangeException("a shared table holds at most " +
                               std::to_string(header_.entryCount) + " records, not " +
                               std::to_string(capacity));
   }
   atomicStore(header_.capacity, capacity);
}

U32 TableState::capacityReports() const { return atomicLoad(header_.capacityReports); }

void TableState::capacityReportIs() { atomicStore(header_.capacityReports, capacityReports() + 1); }

U32 TableState::mountSlotNew(std::function<void()> wake) {
   const std::optional<U32> slot = processSlotNew(header_.mounts, [](TableHeader::MountSlot& m) {
      atomicStore(m.head, U32{0});
      atomicStore(m.tail, U32{0});
      // A new mount learns the table by comparing every entry.
      atomicStore(m.resync, U32{1});
      atomicStore(m.rung, U32{0});
   });
   if (!slot) {
      throw Kiv::Exception("a shared table has " + std::to_string(TableHeader::maxMounts) +
                           " mounts already");
   }
   wakers_[*slot] = std::move(wake);
   if (!doorbell_) {
      doorbell_ = &Doorbell::self();
      doorbell_->tableIs(this);
   }
   return *slot;
}

void TableState::mountSlotActiveIs(U32 slot) {
   std::atomic_ref<U32>(header_.activeMounts).fetch_or(1u << slot);
}

void TableState::mountSlotDel(U32 slot) {
   std::atomic_ref<U32>(header_.activeMounts).fetch_and(~(1u << slot));
   wakers_[slot] = nullptr;
   processSlotDel(header_.mounts[slot]);
}

// Pushed before the bit is set, a change could be read by the mount before it is in the
// ring; set first, the mount that clears the bit and then reads the entry sees this change
// or a later one, and every later change finds the bit clear and pushes again.
//
// The store counts the change once every ring holds it, and only then are the mounts rung,
// each once until it drains again: a reader that saw the count finds the change in its ring,
// and one that took the change before the count moved is rung to see the count too.
void TableState::changeIs(U32 entry, U32& pending, U32 writerSlot) {
   const U32 others =
       atomicLoad(header_.activeMounts, std::memory_order_acquire) & ~(1u << writerSlot);
   for (U32 left = others; left != 0; left &= left - 1) {
      const U32 slot = static_cast<U32>(std::countr_zero(left));
      const U32 bit = 1u << slot;
      if (std::atomic_ref<U32>(pending).fetch_or(bit) & bit) continue;
      TableHeader::MountSlot& mount = header_.mounts[slot];
      const U32 tail = atomicLoad(mount.tail);
      if (tail - atomicLoad(mount.head, std::memory_order_acquire) >= header_.ringEntries) {
         atomicStore(mount.resync, U32{1}, std::memory_order_release);
      } else {
         part<U32>(header_.ringsOffset)[slot * header_.ringEntries + tail % header_.ringEntries] =
             entry;
         atomicStore(mount.tail, tail + 1, std::memory_order_release);
      }
   }
   store_->doCountChange();
   for (U32 left = others; left != 0; left &= left - 1) {
      const U32 slot = static_cast<U32>(std::countr_zero(left));
      if (!Doorbell::doRingFor(header_.mounts[slot], pid_) && wakers_[slot]) wakers_[slot]();
   }
}

void TableState::rungClear(U32 slot) { atomicStore(header_.mounts[slot].rung, U32{0}); }

void TableState::doWakeMounts() {
   for (const std::function<void()>& wake : wakers_) {
      if (wake) wake();
   }
}

bool TableState::resyncTaken(U32 slot) {
   return std::atomic_ref<U32>(header_.mounts[slot].resync).exchange(0, std::memory_order_acquire);
}

bool TableState::ringPop(U32 slot, U32& entry) {
   TableHeader::MountSlot& mount = header_.mounts[slot];
   const U32 head = atomicLoad(mount.head);
   if (head == atomicLoad(mount.tail, std::memory_order_acquire)) return false;
   entry = part<U32>(header_.ringsOffset)[slot * header_.ringEntries + head % header_.ringEntries];
   atomicStore(mount.head, head + 1, std::memory_order_release);
   return true;
}

}  // namespace Shoal
