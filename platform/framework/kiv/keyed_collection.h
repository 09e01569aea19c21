#pragma once

#include <cstdint>
#include <map>

#include "platform/framework/kiv/ptr.h"

namespace Kiv {

// A collection of counted objects keyed by a value, holding one reference per member.
// Iteration is in key order. Walking tolerates changes: a walker keeps a reference to its
// current member and, when the collection changed since its last step, finds the member
// after the current key again, so removing members during a walk loses nobody.
template <class Key, class T>
class KeyedCollection {
public:
   class Walker;

   Ptr<T> member(const Key& key) const {
      auto it = members_.find(key);
      return it == members_.end() ? Ptr<T>() : it->second;
   }
   bool has(const Key& key) const { return members_.count(key) != 0; }
   size_t size() const { return members_.size(); }

   // Inserts or replaces the member under `key`.
   void memberIs(const Key& key, const Ptr<T>& value) {
      members_[key] = value;
      ++version_;
   }
   // Removes and returns the member, or null when there is none.
   Ptr<T> memberDel(const Key& key) {
      auto it = members_.find(key);
      if (it == members_.end()) return nullptr;
      Ptr<T> removed = std::move(it->second);
      members_.erase(it);
      ++version_;
      return removed;
   }

   Walker walk() const { return Walker(*this); }

   class Walker {
   public:
      explicit Walker(const KeyedCollection& collection)
          : collection_(&collection),
            version_(collection.version_),
            position_(collection.members_.begin()) {
         settle();
      }

      bool done() const { return done_; }
      const Key& key() const { return key_; }
      const Ptr<T>& current() const { return current_; }

      void next() {
         if (done()) return;
         if (version_ == collection_->version_) {
            ++position_;
         } else {
            position_ = collection_->members_.upper_bound(key_);
            version_ = collection_->version_;
         }
         settle();
      }

   private:
      using Iterator = typename std::map<Key, Ptr<T>>::const_iterator;

      void settle() {
         if (position_ == collection_->members_.end()) {
            done_ = true;
            current_ = nullptr;
            return;
         }
         key_ = position_->first;
         current_ = position_->second;
      }

      const KeyedCollection* collection_;
      std::uint64_t version_;
      Iterator position_;
      Key key_{};
      Ptr<T> current_;
      bool done_ = false;
   };

private:
   std::map<Key, Ptr<T>> members_;
   std::uint64_t version_ = 0;
};

}  // namespace Kiv
