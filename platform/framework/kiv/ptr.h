#pragma once

#include <atomic>
#include <cstddef>
#include <utility>

namespace Kiv {

// Base of every reference-counted framework object. The count starts at zero; the first
// Ptr takes it to one and the last one to go deletes the object. Counts are atomic so that
// pointers may be copied on any thread.
//
// Each object also carries the framework's notification state (reactors of an inactive
// object stay silent) and a deletion mark set when its owner starts tearing it down.
class PtrInterface {
public:
   PtrInterface() = default;
   PtrInterface(const PtrInterface&) = delete;
   PtrInterface& operator=(const PtrInterface&) = delete;
   virtual ~PtrInterface() = default;

   void newRef() const { references_.fetch_add(1, std::memory_order_relaxed); }
   void deleteRef() const {
      if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
         delete this;
      }
   }
   long references() const { return references_.load(std::memory_order_relaxed); }

   bool hasNotificationActive() const { return notificationActive_; }
   // Overrides switch their reactors too, then call this.
   virtual void hasNotificationActiveIs(bool active) { notificationActive_ = active; }

   bool deleted() const { return deleted_; }
   virtual void deletedIs() { deleted_ = true; }

private:
   mutable std::atomic<long> references_{0};
   bool notificationActive_ = false;
   bool deleted_ = false;
};

// Intrusive counted reference. A null Ptr is valid and compares equal to nullptr.
template <class T>
class Ptr {
public:
   Ptr() = default;
   Ptr(std::nullptr_t) {}
   Ptr(T* raw) : raw_(raw) { acquire(); }
   Ptr(const Ptr& other) : raw_(other.raw_) { acquire(); }
   Ptr(Ptr&& other) noexcept : raw_(std::exchange(other.raw_, nullptr)) {}
   template <class U>
   Ptr(const Ptr<U>& other) : raw_(other.ptr()) {
      acquire();
   }
   ~Ptr() { release(); }

   Ptr& operator=(const Ptr& other) {
      Ptr copy(other);
      std::swap(raw_, copy.raw_);
      return *this;
   }
   Ptr& operator=(Ptr&& other) noexcept {
      Ptr moved(std::move(other));
      std::swap(raw_, moved.raw_);
      return *this;
   }

   T* ptr() const { return raw_; }
   T* operator->() const { return raw_; }
   T& operator*() const { return *raw_; }
   explicit operator bool() const { return raw_ != nullptr; }

   friend bool operator==(const Ptr& a, const Ptr& b) { return a.raw_ == b.raw_; }
   friend bool operator==(const Ptr& a, std::nullptr_t) { return a.raw_ == nullptr; }

private:
   void acquire() const {
      if (raw_) raw_->newRef();
   }
   void release() const {
      if (raw_) raw_->deleteRef();
   }

   T* raw_ = nullptr;
};

// Narrowing of a counted reference; null when the object is not a T.
template <class T, class U>
Ptr<T> ptrCast(const Ptr<U>& from) {
   return Ptr<T>(dynamic_cast<T*>(from.ptr()));
}

}  // namespace Kiv
