#include "platform/framework/kiv/activity_lock.h"

namespace Kiv {

void ActivityLock::lock() {
   mutex_.lock();
   owner_.store(std::this_thread::get_id());
}

void ActivityLock::unlock() {
   owner_.store(std::thread::id());
   mutex_.unlock();
}

bool ActivityLock::try_lock() {
   if (!mutex_.try_lock()) return false;
   owner_.store(std::this_thread::get_id());
   return true;
}

ActivityLock& activityLock() {
   static ActivityLock lock;
   return lock;
}

}  // namespace Kiv
