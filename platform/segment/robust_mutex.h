#pragma once

#include <pthread.h>

namespace Segment {

enum class MutexKind { plain, recursive };

// A mutex that lives in shared memory and survives its owner: when a process dies holding it,
// the next process to lock it gets it (instead of waiting for ever) and marks it consistent.
// Whatever the dead owner was changing under the lock is not repaired: the lock guards only
// work that a death leaves harmless, or that the owner's death makes moot.
//
// Used as the segment's allocator and name-index lock, hence the lock(), try_lock() and
// unlock() names the allocator calls. Locking throws Segment::SegmentException when the system
// refuses; unlocking a mutex this thread does not hold is fatal.
template <MutexKind kind>
class RobustMutex {
public:
   RobustMutex();
   ~RobustMutex();
   RobustMutex(const RobustMutex&) = delete;
   RobustMutex& operator=(const RobustMutex&) = delete;

   void lock();
   bool try_lock();
   void unlock();

private:
   pthread_mutex_t mutex_;
};

// The mutex family of the segment's allocator.
struct RobustMutexFamily {
   using mutex_type = RobustMutex<MutexKind::plain>;
   using recursive_mutex_type = RobustMutex<MutexKind::recursive>;
};

}  // namespace Segment
