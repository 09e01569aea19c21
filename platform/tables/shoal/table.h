#pragma once

#include <algorithm>
#include <bit>
#include <concepts>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include "platform/framework/kiv/assert.h"
#include "platform/framework/kiv/entity.h"
#include "platform/framework/kiv/event_loop.h"
#include "platform/framework/sentry/exception.h"
#include "platform/segment/tear_free.h"
#include "platform/tables/shoal/iter_hint.h"
#include "platform/tables/shoal/shared_store.h"
#include "platform/tables/shoal/shoal_map_base.h"

namespace Shoal {

// A mount of a shared table of records keyed by each record's own key (`record.key()`). Key
// needs operator==, operator< and std::hash; records are plain trivially-copyable structs, and
// readers always get copies.
//
// The records live in the table's block of the store's segment: a hash index of entry numbers
// and the entries, each record with two images and a generation (Segment::TearFree). One
// process writes a table at a time, and never waits for a reader; readers in any process never
// wait either, never see half a record, and see every record whole as it was or as it is if
// the writer is killed in the middle of a write.
//
// Reads are lookup(), safeLookup(), first() and next(); each may raise the corruption that the
// state injects, and lookup(), first() and next() pass it to their caller. has() and count()
// never raise. Writes through a read-only mount throw Kiv::Exception. A new key beyond the
// table's capacity is refused and counted in capacityReports(); the records already there stay
// as they are.
//
// Each write that changes the table notifies onRecord() of the changed key at once on the
// writing mount. Every other mount, in this process or another, hears of it through its change
// ring in the segment, drained by the framework's loop: coalesced (a key changed many times
// before the mount drains is told once, with the table as it is then), and when the ring
// overflows, by comparing every entry with what the mount last saw. A mount learns the table
// as it is when it is made without notifications, on the loop's first turn after, or over
// several turns when the table has a fill pace (SharedStore::mountFillPaceIs); it is complete
// (mountComplete()) once it has.
template <class Key, class Record>
class Table : public ShoalMapBase {
   static_assert(std::is_trivially_copyable_v<Record> && std::is_trivially_copyable_v<Key>,
                 "shared table records must be trivially copyable");
   static_assert(std::equality_comparable<Record>,
                 "shared table records need operator== to detect unchanged writes");

   // The key and whether it is live come first: a drain or a walk reads only those.
   struct Slot {
      Key key{};
      bool live = false;
      Record record{};
   };
   static constexpr std::size_t slotHeadBytes = sizeof(Key) + sizeof(bool);
   struct Entry {
      Segment::TearFree<Slot> value;
      U32 pending;  // bit m: the entry is in mount m's ring
   };
   // What a mount last told its notifiees of an entry.
   struct Seen {
      bool known = false;
      bool live = false;
      U32 generation = 0;
      Key key{};
   };

   // An index slot holds the entry number + 1 in its low bits and bits of the key's hash above
   // them, so that most slots of other keys are passed over without reading their entry.
   static constexpr U32 entryBits = 18;
   static constexpr U32 entryMask = (1u << entryBits) - 1;
   static_assert(SharedStore::maxEntries <= entryMask);

public:
   using KeyType = Key;
   using RecordType = Record;

   class Notifiee : public Kiv::NotifieeOf<Table> {
   public:
      virtual void onRecord(const Key&) {}
      // The table left the store's directory (see SharedStore): no one writes it anymore, and
      // the path holds another table or none.
      virtual void onRetired() {}
   };

   static TableShape shape() {
      return TableShape{sizeof(Key), sizeof(Record), sizeof(Entry), alignof(Entry)};
   }

   // A writable table of its own, in the process's private store.
   explicit Table(Kiv::Name name) : Table(std::move(name), nullptr, Access::readWrite) {}
   // A mount of `state`, which must be a table of this type; a new empty table of its own
   // when null.
   Table(Kiv::Name name, const std::shared_ptr<TableState>& state, Access access)
       : ShoalMapBase(std::move(name), state ? state : privateStore()->tableNew(shape(), 0),
                      access),
         state_(*sharedState()),
         header_(state_.header()),
         index_(state_.part<U32>(header_.indexOffset)),
         entries_(state_.part<Entry>(header_.entriesOffset)),
         freeMap_(state_.part<U64>(header_.freeMapOffset)),
         mask_(header_.indexSlots - 1) {
      KIV_ASSERT( state_.shape() == shape() && "mounted table state is of another type" );
      slot_ = state_.mountSlotNew([this] { drainSoon(); });
      const U32 highWater = Segment::atomicLoad(header_.highWater);
      for (U32 entry = 0; entry < highWater; ++entry) pendingTaken(entry);
      state_.mountSlotActiveIs(slot_);
      drainSoon();
   }
   ~Table() override { state_.mountSlotDel(slot_); }

   // Targeted corruption, for tests: the next lookup of `key`, the next start of an iteration,
   // or the next advance from `key`, through any mount of this process, raises once.
   void corruptionOnLookupIs(const Key& key) { state_.corruptLookupOf = bytesOf(key); }
   void corruptionOnFirstIs() { state_.corruptFirst = true; }
   void corruptionOnNextIs(const Key& key) { state_.corruptNextFrom = bytesOf(key); }

   // The stored record, or nothing when the key is absent.
   std::optional<Record> lookup(const Key& key) const {
      readStart();
      raiseIfTargeted(state_.corruptLookupOf, key);
      Slot slot;
      if (!find(key, slot)) return std::nullopt;
      return slot.record;
   }

   // The stored record with found = true, or Record{} with found = false when the key is
   // absent or the read found the store corrupt. Corruption is reported through
   // doCorruptionDetected(); any other exception passes through.
   Record safeLookup(const Key& key, bool& found) const {
      found = false;
      try {
         std::optional<Record> record = lookup(key);
         if (!record) return Record{};
         found = true;
         return *record;
      } catch (const Sentry::CorruptionDetectedException& e) {
         doCorruptionDetected(e.msg());
         return Record{};
      }
   }

   bool has(const Key& key) const {
      Slot slot;
      return find(key, slot);
   }
   // True while a writer in another mount has changed `key`'s record since this mount last
   // told of it: a reader that acts on what it read now acts ahead of the notification still
   // to come. Once the mount has told of the entry, the record's generation decides, not the
   // entry's pending bit: the writer may set the bit again between the drain clearing it and
   // reading the record, and the drain then tells the newer record at once and nothing more
   // when it meets the bit.
   bool changePending(const Key& key) const {
      Slot slot;
      const std::optional<Found> found = find(key, hashOf(key), slot);
      if (!found) return false;
      const U32 generation = entries_[found->entry].value.readInto(slot);
      if (found->entry < seen_.size() && seen_[found->entry].known) {
         return seen_[found->entry].generation != generation;
      }
      return (Segment::atomicLoad(entries_[found->entry].pending, std::memory_order_acquire) &
              (1u << slot_)) != 0;
   }
   U32 count() const { return Segment::atomicLoad(header_.count); }
   // Every recordIs() the table took through any mount, changed or not: what the table
   // service counts for its writers.
   U64 writes() const { return Segment::atomicLoad(header_.writes); }

   // Sets `key` to the smallest key; false when the table is empty.
   //
   // A walk (first() and the next() calls that carry its hint) goes through the keys as they
   // were at first(), in key order, passing over those deleted since: every key present
   // throughout the walk is visited once; a key added during it may not be.
   bool first(Key& key, IterHint& hint) const {
      readStart();
      if (state_.corruptFirst) {
         state_.corruptFirst = false;
         throw Sentry::CorruptionDetectedException(injectedCorruptionText());
      }
      walkKeysAreCurrent();
      return settle(0, key, hint);
   }

   // Sets `key` to the smallest key after it, whether or not `key` is still present; false
   // when there is none.
   bool next(Key& key, IterHint& hint) const {
      readStart();
      raiseIfTargeted(state_.corruptNextFrom, key);
      std::size_t position = 0;
      if (hint.table == this && hint.generation == walkId_) {
         std::memcpy(&position, hint.position, sizeof(position));
      }
      if (position < walkKeys_.size() && walkKeys_[position] == key) {
         ++position;
      } else {
         walkKeysAreCurrent();
         position = static_cast<std::size_t>(
             std::upper_bound(walkKeys_.begin(), walkKeys_.end(), key) - walkKeys_.begin());
      }
      return settle(position, key, hint);
   }

   // For a caller that looks up many keys in an order of its own, all over the table: the
   // lookup of `key` a few lookups from now finds its index slot in the cache, and so does
   // its entry once the next lookup is of `key` (its slot read ahead by then).
   void indexReadAheadOf(const Key& key) const {
      __builtin_prefetch(&index_[hashOf(key).home & mask_]);
   }
   void entryReadAheadOf(const Key& key) const {
      probe(hashOf(key), [&](U32 entry) {
         const auto* bytes = reinterpret_cast<const char*>(&entries_[entry]);
         for (std::size_t line = 0; line < sizeof(Entry); line += 64) {
            __builtin_prefetch(bytes + line);
         }
         return true;
      });
   }

   // False, with nothing written, when the key is new and the table is at its capacity.
   bool recordIs(const Record& record) {
      writeStart();
      Segment::atomicStore(header_.writes, writes() + 1);
      const Key key = record.key();
      const Hash hash = hashOf(key);
      Slot slot;
      if (const std::optional<Found> found = find(key, hash, slot)) {
         if (slot.record == record) return true;
         entries_[found->entry].value.write(Slot{key, true, record});
         changed(found->entry, key);
         return true;
      }
      const U32 capacity = state_.capacity();
      const std::optional<U32> entry =
          capacity != 0 && count() >= capacity ? std::nullopt : entryTaken();
      if (!entry) {
         state_.capacityReportIs();
         return false;
      }
      entries_[*entry].value.write(Slot{key, true, record});
      indexSlotIs(hash, *entry);
      Segment::atomicStore(header_.count, count() + 1);
      changed(*entry, key);
      return true;
   }

   void recordDel(const Key& key) {
      writeStart();
      Slot slot;
      const std::optional<Found> found = find(key, hashOf(key), slot);
      if (!found) return;
      Segment::atomicStore(index_[found->indexSlot], U32{0}, std::memory_order_release);
      entries_[found->entry].value.write(Slot{key, false, Record{}});
      Segment::atomicStore(header_.count, count() - 1);
      changed(found->entry, key);
      entryFreed(found->entry);
   }

   // Entries the table uses now: those below its high-water mark, free or not.
   U32 entriesInUse() const { return Segment::atomicLoad(header_.highWater); }

   void recordDelAll() {
      writeStart();
      // One key at a time, in key order, so that each handler sees the table as of its own
      // change.
      std::vector<Key> keys = liveKeys();
      std::sort(keys.begin(), keys.end());
      for (const Key& key : keys) recordDel(key);
   }

private:
   struct Found {
      U32 entry;
      U32 indexSlot;
   };

   // A key's home slot is its own hash, so that keys that are small integers (uids) sit in
   // the index in their order, and requests handled in uid order read the index, and the
   // entries written in that order, in order. The tag comes from the hash spread, so that
   // keys sharing a home are still told apart without reading their entries.
   struct Hash {
      U32 home;
      U32 tag;
   };
   static Hash hashOf(const Key& key) {
      const U64 own = static_cast<U64>(std::hash<Key>{}(key));
      U64 h = own ^ (own >> 33);
      h *= 0xff51afd7ed558ccdull;
      h ^= h >> 33;
      return Hash{static_cast<U32>(own), static_cast<U32>(h) & ~entryMask};
   }

   bool find(const Key& key, Slot& slot) const { return find(key, hashOf(key), slot).has_value(); }

   // The key's entry, read whole into `slot`.
   std::optional<Found> find(const Key& key, Hash hash, Slot& slot) const {
      return probe(hash, [&](U32 entry) {
         entries_[entry].value.readInto(slot);
         return slot.live && slot.key == key;
      });
   }

   // Offers `isIt` each entry whose index slot carries the hash's tag, in probe order, until it
   // says the entry is the one. Slots further than maxProbe from the key's home never hold it,
   // so a probe ends there whatever it met on the way.
   template <class IsIt>
   std::optional<Found> probe(Hash hash, IsIt&& isIt) const {
      const U32 maxProbe = Segment::atomicLoad(header_.maxProbe, std::memory_order_acquire);
      for (U32 step = 0; step <= maxProbe; ++step) {
         const U32 at = (hash.home + step) & mask_;
         const U32 value = Segment::atomicLoad(index_[at], std::memory_order_acquire);
         if (value == 0 || (value & ~entryMask) != hash.tag) continue;
         const U32 entry = (value & entryMask) - 1;
         if (isIt(entry)) return Found{entry, at};
      }
      return std::nullopt;
   }

   // The lowest free entry, else the one at the high-water mark; none when every entry is
   // taken. A writer killed while freeing entries leaves the map's count high, or free bits at
   // and above the mark: both are put right here, and no entry is ever taken twice.
   std::optional<U32> entryTaken() {
      const U32 highWater = Segment::atomicLoad(header_.highWater);
      if (Segment::atomicLoad(header_.freeEntries) != 0) {
         if (const std::optional<U32> entry = lowestFreeTaken(highWater)) return entry;
         Segment::atomicStore(header_.freeEntries, U32{0});
      }
      if (highWater == header_.entryCount) return std::nullopt;
      freeBitIs(highWater, false);
      Segment::atomicStore(header_.highWater, highWater + 1);
      return highWater;
   }

   std::optional<U32> lowestFreeTaken(U32 highWater) {
      const U32 from = Segment::atomicLoad(header_.lowestFree);
      for (U32 word = from / 64; word * 64 < highWater; ++word) {
         U64 bits = Segment::atomicLoad(freeMap_[word]);
         if (word == from / 64) bits &= ~U64{0} << (from % 64);
         if (bits == 0) continue;
         const U32 entry = word * 64 + static_cast<U32>(std::countr_zero(bits));
         if (entry >= highWater) break;
         freeBitIs(entry, false);
         Segment::atomicStore(header_.freeEntries, Segment::atomicLoad(header_.freeEntries) - 1);
         Segment::atomicStore(header_.lowestFree, entry + 1);
         return entry;
      }
      return std::nullopt;
   }

   // A freed top entry takes the high-water mark down past it and the free entries under it.
   // Their pending bits are cleared before the mark comes down: a mount slot's next holder
   // clears its stale bits only below the mark, and a bit left set above it would keep the
   // entry's next change out of that mount's ring.
   void entryFreed(U32 entry) {
      if (entry < Segment::atomicLoad(header_.lowestFree)) {
         Segment::atomicStore(header_.lowestFree, entry);
      }
      freeBitIs(entry, true);
      Segment::atomicStore(header_.freeEntries, Segment::atomicLoad(header_.freeEntries) + 1);
      if (entry + 1 != Segment::atomicLoad(header_.highWater)) return;
      U32 mark = entry;
      while (mark > 0 && freeBit(mark - 1)) --mark;
      for (U32 e = mark; e <= entry; ++e) {
         Segment::atomicStore(entries_[e].pending, U32{0}, std::memory_order_release);
      }
      Segment::atomicStore(header_.highWater, mark, std::memory_order_release);
      for (U32 e = mark; e <= entry; ++e) freeBitIs(e, false);
      const U32 freeEntries = Segment::atomicLoad(header_.freeEntries);
      Segment::atomicStore(header_.freeEntries,
                           freeEntries - std::min(freeEntries, entry + 1 - mark));
   }

   bool freeBit(U32 entry) const {
      return (Segment::atomicLoad(freeMap_[entry / 64]) >> (entry % 64)) & 1;
   }
   void freeBitIs(U32 entry, bool free) {
      const U64 bit = U64{1} << (entry % 64);
      const U64 bits = Segment::atomicLoad(freeMap_[entry / 64]);
      Segment::atomicStore(freeMap_[entry / 64], free ? bits | bit : bits & ~bit);
   }

   // The probe bound grows before the slot is filled, so that no reader ever stops short of
   // a key, even if the writer dies in between.
   void indexSlotIs(Hash hash, U32 entry) {
      U32 step = 0;
      while (Segment::atomicLoad(index_[(hash.home + step) & mask_]) != 0) ++step;
      if (step > Segment::atomicLoad(header_.maxProbe)) {
         Segment::atomicStore(header_.maxProbe, step, std::memory_order_release);
      }
      Segment::atomicStore(index_[(hash.home + step) & mask_], hash.tag | (entry + 1),
                           std::memory_order_release);
   }

   void changed(U32 entry, const Key& key) {
      Segment::atomicStore(header_.changes, Segment::atomicLoad(header_.changes) + 1);
      notify<Notifiee>([&](Notifiee& n) { n.onRecord(key); });
      state_.changeIs(entry, entries_[entry].pending, slot_);
   }

   // The loop drains the ring once for however many changes the writer announced meanwhile,
   // and only while the mount lives. A drain the loop forgot (an agent that stopped drops its
   // work) is queued again.
   void drainSoon() {
      const std::size_t forgotten = Kiv::eventLoop().workForgotten();
      if (drainQueued_ && drainQueuedIn_ == forgotten) return;
      drainQueued_ = true;
      drainQueuedIn_ = forgotten;
      Kiv::eventLoop().workIs([alive = std::weak_ptr<Table*>(alive_)] {
         if (std::shared_ptr<Table*> mount = alive.lock()) (*mount)->drain();
      });
   }

   void drain() {
      const Kiv::Ptr<Table> self(this);  // a notifiee may let go of the mount
      drainQueued_ = false;
      state_.rungClear(slot_);
      if (state_.resyncTaken(slot_)) {
         resyncing_ = true;
         resyncNext_ = 0;
      }
      if (resyncing_) resyncSome();
      U32 entry = 0;
      while (state_.ringPop(slot_, entry)) {
         std::atomic_ref<U32>(entries_[entry].pending).fetch_and(~(1u << slot_));
         tell(entry, true);
      }
      if (!retiredTold_ && Segment::atomicLoad(header_.retired, std::memory_order_acquire)) {
         retiredTold_ = true;
         notify<Notifiee>([](Notifiee& n) { n.onRetired(); });
      }
      if (resyncing_) drainSoon();
   }

   // Compares the next entries with what the mount last saw: all of them once the mount is
   // complete, the table's fill pace of them per drain while it fills.
   // The entries above the high-water mark that the mount saw in use are compared too: the
   // mark came down past them, and a key deleted there may be told only here.
   void resyncSome() {
      const U32 last =
          std::max(Segment::atomicLoad(header_.highWater), static_cast<U32>(seen_.size()));
      const U32 pace = mountComplete() ? 0 : Segment::atomicLoad(header_.fillPace);
      const U32 end = pace == 0 ? last : std::min(last, resyncNext_ + pace);
      // Filling, the mount tells only what changed since it was made: the entries whose
      // pending bit the writer set.
      for (; resyncNext_ < end; ++resyncNext_) {
         tell(resyncNext_, pendingTaken(resyncNext_) || mountComplete());
      }
      if (resyncNext_ < last) return;
      resyncing_ = false;
      mountCompleteIs();
   }

   // Clears the mount's pending bit of `entry`; whether it was set. The bit is read first: a
   // write to every entry would fault each page of the table into the mount's process.
   bool pendingTaken(U32 entry) {
      U32& pending = entries_[entry].pending;
      const U32 bit = 1u << slot_;
      if ((Segment::atomicLoad(pending, std::memory_order_acquire) & bit) == 0) return false;
      return (std::atomic_ref<U32>(pending).fetch_and(~bit) & bit) != 0;
   }

   // Tells the notifiees what changed in `entry` since the mount last looked: the key it held
   // then, when that key is gone from it, and the key it holds now, or held last when it was
   // deleted before the mount ever looked.
   void tell(U32 entry, bool notifying) {
      Slot slot;
      const U32 generation = entries_[entry].value.readHeadInto(slot, slotHeadBytes);
      if (entry >= seen_.size()) seen_.resize(entry + 1);
      Seen& seen = seen_[entry];
      if (seen.known && seen.generation == generation) return;
      const Seen before = seen;
      seen = Seen{true, slot.live, generation, slot.key};
      if (!notifying) return;
      if (before.live && (!slot.live || !(before.key == slot.key))) {
         notify<Notifiee>([&](Notifiee& n) { n.onRecord(before.key); });
      }
      if (slot.live || !before.known) notify<Notifiee>([&](Notifiee& n) { n.onRecord(slot.key); });
   }

   // From the entries rather than the index, which is twice the table's size and sparse.
   std::vector<Key> liveKeys() const {
      std::vector<Key> keys;
      keys.reserve(count());
      Slot slot;
      const U32 highWater = Segment::atomicLoad(header_.highWater);
      for (U32 entry = 0; entry < highWater; ++entry) {
         entries_[entry].value.readHeadInto(slot, slotHeadBytes);
         if (slot.live) keys.push_back(slot.key);
      }
      return keys;
   }

   void walkKeysAreCurrent() const {
      const U64 changes = Segment::atomicLoad(header_.changes);
      if (walkId_ != 0 && walkChanges_ == changes) return;
      walkKeys_ = liveKeys();
      std::sort(walkKeys_.begin(), walkKeys_.end());
      walkChanges_ = changes;
      ++walkId_;
   }

   // Sets `key` to the first key of the walk from `position` that is still present: every
   // one of them while the table has not changed since the walk began.
   bool settle(std::size_t position, Key& key, IterHint& hint) const {
      if (Segment::atomicLoad(header_.changes) != walkChanges_) {
         while (position < walkKeys_.size() && !has(walkKeys_[position])) ++position;
      }
      if (position >= walkKeys_.size()) return false;
      key = walkKeys_[position];
      readAhead(position);
      hint.table = this;
      hint.generation = walkId_;
      std::memcpy(hint.position, &position, sizeof(position));
      return true;
   }

   // A walk's caller most often looks up each key it is given, and the keys, in key order,
   // lie all over the index and the entries: the walk reads ahead of its lookups.
   void readAhead(std::size_t position) const {
      if (position + 2 < walkKeys_.size()) indexReadAheadOf(walkKeys_[position + 2]);
      if (position + 1 < walkKeys_.size()) entryReadAheadOf(walkKeys_[position + 1]);
   }

   static std::vector<std::byte> bytesOf(const Key& key) {
      std::vector<std::byte> bytes(sizeof(Key));
      std::memcpy(bytes.data(), &key, sizeof(Key));
      return bytes;
   }

   void raiseIfTargeted(std::vector<std::byte>& target, const Key& key) const {
      if (target.empty()) return;
      Key targeted;
      std::memcpy(&targeted, target.data(), sizeof(Key));
      if (!(targeted == key)) return;
      target.clear();
      throw Sentry::CorruptionDetectedException(injectedCorruptionText());
   }

   TableState& state_;
   TableHeader& header_;
   U32* const index_;
   Entry* const entries_;
   U64* const freeMap_;
   const U32 mask_;
   U32 slot_ = 0;
   bool drainQueued_ = false;
   std::size_t drainQueuedIn_ = 0;  // the loop's workForgotten() when the drain was queued
   bool retiredTold_ = false;
   bool resyncing_ = false;
   U32 resyncNext_ = 0;  // the next entry the resync compares
   std::vector<Seen> seen_;
   const std::shared_ptr<Table*> alive_ = std::make_shared<Table*>(this);
   // The keys of the latest walk, in order, as of the table's change count walkChanges_.
   mutable std::vector<Key> walkKeys_;
   mutable U64 walkChanges_ = 0;
   mutable U64 walkId_ = 0;
};

}  // namespace Shoal
