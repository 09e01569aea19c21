#include "platform/segment/robust_mutex.h"

#include <cerrno>
#include <cstring>

#include "platform/framework/kiv/assert.h"
#include "platform/segment/segment_exception.h"

namespace Segment {
namespace {

void check(int rc, const char* call) {
   if (rc != 0) throw SegmentException(Kiv::String(call) + ": " + std::strerror(rc));
}

// A lock that reports the owner's death is ours; the owner cannot come back to finish.
bool acquired(pthread_mutex_t* mutex, int rc, const char* call) {
   if (rc == EOWNERDEAD) {
      check(pthread_mutex_consistent(mutex), "pthread_mutex_consistent");
      return true;
   }
   if (rc == EBUSY) return false;
   check(rc, call);
   return true;
}

}  // namespace

template <MutexKind kind>
RobustMutex<kind>::RobustMutex() {
   pthread_mutexattr_t attributes;
   check(pthread_mutexattr_init(&attributes), "pthread_mutexattr_init");
   pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
   pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
   if (kind == MutexKind::recursive) {
      pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
   }
   const int rc = pthread_mutex_init(&mutex_, &attributes);
   pthread_mutexattr_destroy(&attributes);
   check(rc, "pthread_mutex_init");
}

template <MutexKind kind>
RobustMutex<kind>::~RobustMutex() {
   pthread_mutex_destroy(&mutex_);
}

template <MutexKind kind>
void RobustMutex<kind>::lock() {
   acquired(&mutex_, pthread_mutex_lock(&mutex_), "pthread_mutex_lock");
}

template <MutexKind kind>
bool RobustMutex<kind>::try_lock() {
   return acquired(&mutex_, pthread_mutex_trylock(&mutex_), "pthread_mutex_trylock");
}

// Unlocking a mutex this thread holds cannot fail; the allocator unlocks from destructors.
template <MutexKind kind>
void RobustMutex<kind>::unlock() {
   const int rc = pthread_mutex_unlock(&mutex_);
   KIV_ASSERT( rc == 0 );
}

template class RobustMutex<MutexKind::plain>;
template class RobustMutex<MutexKind::recursive>;

}  // namespace Segment
