#include "platform/agent/loop/agent_loop.h"

#include "platform/framework/kiv/activity_lock.h"
#include "platform/tables/shoal/doorbell.h"

namespace Agent {

AgentLoop::AgentLoop(Kiv::EventLoop& work)
    : work_(work), context_(1), doorbell_(context_, Shoal::Doorbell::self().descriptor()) {
   doWatchDoorbell();
}

AgentLoop::~AgentLoop() {
   // The doorbell belongs to the process and rings for whichever loop comes next.
   doorbell_.release();
}

void AgentLoop::doRunFor(Duration duration) {
   const auto end = std::chrono::steady_clock::now() + duration;
   context_.restart();
   // Work the caller queued runs before anything waits.
   doRunWork();
   while (context_.run_one_until(end) != 0) doRunWork();
}

void AgentLoop::doPoll() {
   context_.restart();
   doRunWork();
   while (context_.poll_one() != 0) doRunWork();
}

void AgentLoop::doWatchDoorbell() {
   doorbell_.async_wait(boost::asio::posix::stream_descriptor::wait_read,
                        [this](const boost::system::error_code& error) {
                           // Aborted only when the loop goes.
                           if (error) return;
                           Shoal::Doorbell::self().doAnswer();
                           doWatchDoorbell();
                        });
}

void AgentLoop::doRunWork() {
   const auto run = [this] {
      work_.doRunUntilIdle();
      if (afterWork_) afterWork_();
   };
   if (Kiv::activityLock().isHeldByThisThread()) {
      run();
      return;
   }
   const Kiv::ActivityGuard guard(Kiv::activityLock());
   run();
}

}  // namespace Agent
