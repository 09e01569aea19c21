#pragma once

#include <algorithm>
#include <concepts>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include "platform/framework/kiv/assert.h"
#include "platform/framework/kiv/entity.h"
#include "platform/framework/kiv/event_loop.h"
#include "platform/framework/sentry/exception.h"
#include "platform/tables/shoal/iter_hint.h"
#include "platform/tables/shoal/shoal_map_base.h"

namespace Shoal {

// A mount of a shared table of records keyed by each record's own key (`record.key()`), in
// key order (Key needs operator<). Records are plain trivially-copyable structs and readers
// always get copies, so that a cross-process shared-memory store can replace this in-process
// one without touching readers.
//
// Every mount of one table shares its records (TableState); a Table built from a name alone
// is a writable table of its own. Reads are lookup(), safeLookup(), first() and next(); each
// may raise the corruption that the state injects, and lookup(), first() and next() pass it
// to their caller. has() and count() never raise. Writes through a read-only mount throw
// Kiv::Exception. Writers and readers share the framework's activity lock; the store itself
// is not locked.
//
// Each write that changes the table notifies onRecord() once per changed key on every live
// mount of the table: at once on the writing mount, through the framework's loop on the
// others. Writing a record identical to the stored one notifies nothing, but still counts in
// writes(). A new key beyond the table's capacity is refused and counted in
// capacityReports(); the records already there stay as they are.
template <class Key, class Record>
class Table : public ShoalMapBase {
   static_assert(std::is_trivially_copyable_v<Record>,
                 "shared table records must be trivially copyable");
   static_assert(std::equality_comparable<Record>,
                 "shared table records need operator== to detect unchanged writes");

   struct State : TableState {
      std::map<Key, Record> records;
      U64 generation = 0;
      U64 writes = 0;
      std::vector<Table*> mounts;  // the live mounts, each notified of every change
      // Targeted faults, each spent by the first read it hits.
      std::optional<Key> corruptLookupOf;
      bool corruptFirst = false;
      std::optional<Key> corruptNextFrom;
   };

public:
   using KeyType = Key;
   using RecordType = Record;

   class Notifiee : public Kiv::NotifieeOf<Table> {
   public:
      virtual void onRecord(const Key&) {}
   };

   // A writable table of its own.
   explicit Table(Kiv::Name name) : Table(std::move(name), nullptr, Access::readWrite) {}
   // A mount of `state`, which must be a table of this type; a new empty table when null.
   Table(Kiv::Name name, const std::shared_ptr<TableState>& state, Access access)
       : ShoalMapBase(std::move(name), state ? state : std::make_shared<State>(), access),
         state_(dynamic_cast<State*>(sharedState().get())) {
      KIV_ASSERT( state_ && "mounted table state is of another type" );
      state_->mounts.push_back(this);
   }
   ~Table() override { std::erase(state_->mounts, this); }

   // Targeted corruption, for tests: the next lookup of `key`, the next start of an iteration,
   // or the next advance from `key`, through any mount, raises once.
   void corruptionOnLookupIs(const Key& key) { state_->corruptLookupOf = key; }
   void corruptionOnFirstIs() { state_->corruptFirst = true; }
   void corruptionOnNextIs(const Key& key) { state_->corruptNextFrom = key; }

   // The stored record, or nothing when the key is absent.
   std::optional<Record> lookup(const Key& key) const {
      readStart();
      raiseIfTargeted(state_->corruptLookupOf, key);
      const Iterator it = find(key);
      if (it == state_->records.end()) return std::nullopt;
      return it->second;
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

   bool has(const Key& key) const { return find(key) != state_->records.end(); }
   U32 count() const { return static_cast<U32>(state_->records.size()); }
   // Every recordIs() the table took through any mount, changed or not: what the table
   // service counts for its writers.
   U64 writes() const { return state_->writes; }

   // Sets `key` to the smallest key; false when the table is empty.
   bool first(Key& key, IterHint& hint) const {
      readStart();
      if (state_->corruptFirst) {
         state_->corruptFirst = false;
         throw Sentry::CorruptionDetectedException(injectedCorruptionText());
      }
      return settle(state_->records.begin(), key, hint);
   }

   // Sets `key` to the smallest key after it, whether or not `key` is still present; false
   // when there is none.
   bool next(Key& key, IterHint& hint) const {
      readStart();
      raiseIfTargeted(state_->corruptNextFrom, key);
      Iterator it;
      if (hintedPosition(key, hint, it)) {
         ++it;
      } else {
         it = state_->records.upper_bound(key);
      }
      return settle(it, key, hint);
   }

   // False, with nothing written, when the key is new and the table is at its capacity.
   bool recordIs(const Record& record) {
      writeStart();
      ++state_->writes;
      const Key key = record.key();
      auto it = state_->records.find(key);
      if (it == state_->records.end()) {
         if (state_->capacity() != 0 && state_->records.size() >= state_->capacity()) {
            state_->capacityReportIs();
            return false;
         }
         state_->records.emplace(key, record);
      } else {
         if (it->second == record) return true;
         it->second = record;
      }
      notifyRecord(key);
      return true;
   }

   void recordDel(const Key& key) {
      writeStart();
      if (state_->records.erase(key) == 0) return;
      ++state_->generation;
      notifyRecord(key);
   }

   void recordDelAll() {
      writeStart();
      std::vector<Key> keys;
      keys.reserve(state_->records.size());
      for (const auto& entry : state_->records) keys.push_back(entry.first);
      // One key at a time, so that each handler sees the table as of its own change.
      for (const Key& key : keys) recordDel(key);
   }

private:
   using Store = std::map<Key, Record>;
   using Iterator = typename Store::const_iterator;
   static_assert(std::is_trivially_copyable_v<Iterator> &&
                     sizeof(Iterator) <= sizeof(IterHint::position),
                 "the store's position must fit an iteration hint");

   // Readers ask has() and then look the same key up; the second asks no tree walk. A
   // position stays valid until its record is erased, and every erase bumps the generation.
   Iterator find(const Key& key) const {
      if (lastFound_.valid && lastFound_.generation == state_->generation &&
          lastFound_.key == key) {
         return lastFound_.it;
      }
      const Iterator it = state_->records.find(key);
      if (it != state_->records.end()) lastFound_ = LastFound{key, it, state_->generation, true};
      return it;
   }

   void raiseIfTargeted(std::optional<Key>& target, const Key& key) const {
      if (!target || *target < key || key < *target) return;
      target.reset();
      throw Sentry::CorruptionDetectedException(injectedCorruptionText());
   }

   bool settle(Iterator it, Key& key, IterHint& hint) const {
      if (it == state_->records.end()) return false;
      key = it->first;
      hint.table = state_;
      hint.generation = state_->generation;
      std::memcpy(hint.position, &it, sizeof(it));
      return true;
   }

   // Map positions stay valid until their entry is erased, and every erase bumps the
   // generation, so a hint from this table of the current generation still points at the
   // entry it was left on. It is used only if that entry is the caller's key.
   bool hintedPosition(const Key& key, const IterHint& hint, Iterator& it) const {
      if (hint.table != state_ || hint.generation != state_->generation) return false;
      std::memcpy(&it, hint.position, sizeof(it));
      return !(it->first < key) && !(key < it->first);
   }

   // The writing mount's own notifiees hear of the change at once. Every other mount hears of
   // it as a reader in another process would: through the framework's loop, never on the
   // writer's stack, and only if the mount still lives when the loop gets to it.
   void notifyRecord(const Key& key) const {
      notify<Notifiee>([&](Notifiee& n) { n.onRecord(key); });
      for (Table* mount : state_->mounts) {
         if (mount == this) continue;
         Kiv::eventLoop().workIs([state = sharedState(), mount, key] {
            const auto& mounts = static_cast<State*>(state.get())->mounts;
            if (std::find(mounts.begin(), mounts.end(), mount) == mounts.end()) return;
            mount->template notify<Notifiee>([&](Notifiee& n) { n.onRecord(key); });
         });
      }
   }

   State* const state_;
   struct LastFound {
      Key key{};
      Iterator it{};
      U64 generation = 0;
      bool valid = false;
   };
   mutable LastFound lastFound_;
};

}  // namespace Shoal
