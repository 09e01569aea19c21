#pragma once

#include <atomic>
#include <mutex>
#include <thread>

namespace Kiv {

// The framework's activity lock: held by the framework thread while it dispatches
// notifications, runs invoked operations and initialisation hooks. Plug-ins release it only
// around chip SDK calls (UnlockAnchor).
class ActivityLock {
public:
   void lock();
   void unlock();
   bool try_lock();

   // True while some thread holds the lock.
   bool isLocked() const { return owner_.load() != std::thread::id(); }
   bool isHeldByThisThread() const { return owner_.load() == std::this_thread::get_id(); }

private:
   std::mutex mutex_;
   std::atomic<std::thread::id> owner_{};
};

ActivityLock& activityLock();

// Releases the activity lock for the rest of its scope and takes it back when the scope is
// left, by return or by exception. The calling thread must hold the lock.
class UnlockAnchor {
public:
   UnlockAnchor() { activityLock().unlock(); }
   ~UnlockAnchor() { activityLock().lock(); }
   UnlockAnchor(const UnlockAnchor&) = delete;
   UnlockAnchor& operator=(const UnlockAnchor&) = delete;
};

// Takes the activity lock for its scope, as the framework does around each dispatch.
using ActivityGuard = std::lock_guard<ActivityLock>;

}  // namespace Kiv
