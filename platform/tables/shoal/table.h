#pragma once

#include <concepts>
#include <cstring>
#include <map>
#include <optional>
#include <type_traits>
#include <vector>

#include "platform/framework/kiv/entity.h"
#include "platform/framework/sentry/exception.h"
#include "platform/tables/shoal/iter_hint.h"
#include "platform/tables/shoal/shoal_map_base.h"

namespace Shoal {

// A shared table of records keyed by each record's own key (`record.key()`), in key order
// (Key needs operator<). Records are plain trivially-copyable structs and readers always get
// copies, so that a cross-process shared-memory store can replace this in-process one
// without touching readers.
//
// Reads are lookup(), safeLookup(), first() and next(); each may raise the corruption that
// ShoalMapBase injects, and lookup(), first() and next() pass it to their caller. has() and
// count() never raise. Writers and readers share the framework's activity lock; the store
// itself is not locked.
//
// Each write that changes the table notifies onRecord() once per changed key; writing a
// record identical to the stored one notifies nothing, but still counts in writes().
template <class Key, class Record>
class Table : public ShoalMapBase {
   static_assert(std::is_trivially_copyable_v<Record>,
                 "shared table records must be trivially copyable");
   static_assert(std::equality_comparable<Record>,
                 "shared table records need operator== to detect unchanged writes");

public:
   using KeyType = Key;
   using RecordType = Record;

   class Notifiee : public Kiv::NotifieeOf<Table> {
   public:
      virtual void onRecord(const Key&) {}
   };

   explicit Table(Kiv::Name name) : ShoalMapBase(std::move(name)) {}

   // The stored record, or nothing when the key is absent.
   std::optional<Record> lookup(const Key& key) const {
      readStart();
      auto it = records_.find(key);
      if (it == records_.end()) return std::nullopt;
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

   bool has(const Key& key) const { return records_.count(key) != 0; }
   U32 count() const { return static_cast<U32>(records_.size()); }
   // Every recordIs() the table took, changed or not: what the table service counts for
   // its writers.
   U64 writes() const { return writes_; }

   // Sets `key` to the smallest key; false when the table is empty.
   bool first(Key& key, IterHint& hint) const {
      readStart();
      return settle(records_.begin(), key, hint);
   }

   // Sets `key` to the smallest key after it, whether or not `key` is still present; false
   // when there is none.
   bool next(Key& key, IterHint& hint) const {
      readStart();
      Iterator it;
      if (hintedPosition(key, hint, it)) {
         ++it;
      } else {
         it = records_.upper_bound(key);
      }
      return settle(it, key, hint);
   }

   void recordIs(const Record& record) {
      ++writes_;
      const Key key = record.key();
      auto [it, inserted] = records_.try_emplace(key, record);
      if (!inserted) {
         if (it->second == record) return;
         it->second = record;
      }
      notifyRecord(key);
   }

   void recordDel(const Key& key) {
      if (records_.erase(key) == 0) return;
      ++generation_;
      notifyRecord(key);
   }

   void recordDelAll() {
      std::vector<Key> keys;
      keys.reserve(records_.size());
      for (const auto& entry : records_) keys.push_back(entry.first);
      // One key at a time, so that each handler sees the table as of its own change.
      for (const Key& key : keys) recordDel(key);
   }

private:
   using Store = std::map<Key, Record>;
   using Iterator = typename Store::const_iterator;
   static_assert(std::is_trivially_copyable_v<Iterator> &&
                     sizeof(Iterator) <= sizeof(IterHint::position),
                 "the store's position must fit an iteration hint");

   bool settle(Iterator it, Key& key, IterHint& hint) const {
      if (it == records_.end()) return false;
      key = it->first;
      hint.table = this;
      hint.generation = generation_;
      std::memcpy(hint.position, &it, sizeof(it));
      return true;
   }

   // Map positions stay valid until their entry is erased, and every erase bumps the
   // generation, so a hint from this table of the current generation still points at the
   // entry it was left on. It is used only if that entry is the caller's key.
   bool hintedPosition(const Key& key, const IterHint& hint, Iterator& it) const {
      if (hint.table != this || hint.generation != generation_) return false;
      std::memcpy(&it, hint.position, sizeof(it));
      return !(it->first < key) && !(key < it->first);
   }

   void notifyRecord(const Key& key) const {
      notify<Notifiee>([&](Notifiee& n) { n.onRecord(key); });
   }

   Store records_;
   U64 generation_ = 0;
   U64 writes_ = 0;
};

}  // namespace Shoal
