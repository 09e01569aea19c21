#pragma once

#include <atomic>
#include <optional>

#include "platform/framework/kiv/types.h"
#include "platform/segment/owner.h"
#include "platform/segment/tear_free.h"

namespace Shoal {

// Slots in shared memory that processes claim for themselves (a table's holders and mounts):
// `held` is 0 when free, 2 while a process writes its name into it, 1 once it is named. A
// slot named for a process that is gone is free to take again: a process may die without
// giving its slots back.
enum : U32 { slotFree = 0, slotHeld = 1, slotClaiming = 2 };

// Claims a free slot (or one of a dead process) of `slots` for this process, preparing it
// with `prepare` before it counts as held; nothing when every slot is held by a live process.
template <class Slots, class Prepare>
std::optional<U32> processSlotNew(Slots& slots, Prepare&& prepare) {
   const Segment::Owner self = Segment::Owner::self();
   for (int pass = 0; pass < 2; ++pass) {
      for (U32 i = 0; i < slots.size(); ++i) {
         auto& slot = slots[i];
         std::atomic_ref<U32> held(slot.held);
         U32 expected = slotFree;
         // The first pass takes free slots only; the second also those of dead processes,
         // which costs a look at each holder.
         if (pass == 1 && held.load() == slotHeld &&
             !Segment::Owner{Segment::atomicLoad(slot.pid), Segment::atomicLoad(slot.startTime)}
                  .alive()) {
            expected = slotHeld;
         }
         if (!held.compare_exchange_strong(expected, slotClaiming)) continue;
         Segment::atomicStore(slot.pid, self.pid);
         Segment::atomicStore(slot.startTime, self.startTime);
         prepare(slot);
         held.store(slotHeld, std::memory_order_release);
         return i;
      }
   }
   return std::nullopt;
}

template <class Slot>
void processSlotDel(Slot& slot) {
   std::atomic_ref<U32>(slot.held).store(slotFree, std::memory_order_release);
}

// Whether a process other than this one that is still alive holds one of `slots`.
template <class Slots>
bool heldByOthers(const Slots& slots) {
   const Segment::Owner self = Segment::Owner::self();
   for (const auto& slot : slots) {
      const U32 held = Segment::atomicLoad(slot.held, std::memory_order_acquire);
      if (held == slotFree) continue;
      if (held == slotClaiming) return true;
      const Segment::Owner owner{Segment::atomicLoad(slot.pid),
                                 Segment::atomicLoad(slot.startTime)};
      if (!(owner == self) && owner.alive()) return true;
   }
   return false;
}

}  // namespace Shoal
