#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace Kiv {

// The framework's dispatch loop. Work reaches the agent's one framework thread through it:
// notifications from writers outside the agent, completed mounts, and whatever else the
// framework delivers. Each item runs on its own, in the order queued, with the activity lock
// held, never on the stack of whoever queued it. Programs run the loop until it is idle;
// tests step it.
class EventLoop {
public:
   using Work = std::function<void()>;

   // Queues `work`; safe from any thread.
   void workIs(Work work);
   std::size_t pendingWork() const;
   // Forgets every queued item without running it.
   void workDelAll();
   // How many times queued work was forgotten: whoever keeps one item queued at a time can
   // tell that it is gone.
   std::size_t workForgotten() const;

   // Runs the oldest queued item and returns true, or returns false when none is queued.
   // The caller is the framework thread and holds the activity lock (fatal otherwise).
   bool doStep();
   // Steps until nothing is queued, items queued meanwhile included; returns how many ran.
   std::size_t doRunUntilIdle();

private:
   mutable std::mutex mutex_;
   std::deque<Work> queue_;
   std::atomic<std::size_t> forgotten_{0};
};

// The agent's one loop.
EventLoop& eventLoop();

}  // namespace Kiv
