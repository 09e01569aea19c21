#include "platform/framework/kiv/event_loop.h"

#include "platform/framework/kiv/activity_lock.h"
#include "platform/framework/kiv/assert.h"

namespace Kiv {

void EventLoop::workIs(Work work) {
   std::lock_guard<std::mutex> guard(mutex_);
   queue_.push_back(std::move(work));
}

std::size_t EventLoop::pendingWork() const {
   std::lock_guard<std::mutex> guard(mutex_);
   return queue_.size();
}

void EventLoop::workDelAll() {
   std::deque<Work> dropped;
   {
      std::lock_guard<std::mutex> guard(mutex_);
      dropped.swap(queue_);
      ++forgotten_;
   }
}

std::size_t EventLoop::workForgotten() const { return forgotten_.load(); }

bool EventLoop::doStep() {
   KIV_ASSERT( activityLock().isHeldByThisThread() );
   Work work;
   {
      std::lock_guard<std::mutex> guard(mutex_);
      if (queue_.empty()) return false;
      work = std::move(queue_.front());
      queue_.pop_front();
   }
   work();
   return true;
}

std::size_t EventLoop::doRunUntilIdle() {
   std::size_t ran = 0;
   while (doStep()) ++ran;
   return ran;
}

EventLoop& eventLoop() {
   static EventLoop loop;
   return loop;
}

}  // namespace Kiv
