#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <chrono>
#include <functional>

#include "platform/framework/kiv/event_loop.h"

namespace Agent {

// The agent's event loop: one io_context, run on the framework thread, that owns the agent's
// descriptors and timers. It watches this process's doorbell and answers it when a writer in
// another process changed a table the process mounts; after each handler it runs the
// framework work that became due, `work`'s queue, with the activity lock held (taken for the
// while unless the caller holds it). Whatever else the agent serves, the command server
// first, puts its sockets and timers on context(); nothing on the loop waits for a peer.
//
// The loop holds a reference to `work`, which outlives it. The doorbell's descriptor stays
// open when the loop goes.
class AgentLoop {
public:
   using Duration = std::chrono::steady_clock::duration;

   explicit AgentLoop(Kiv::EventLoop& work = Kiv::eventLoop());
   ~AgentLoop();
   AgentLoop(const AgentLoop&) = delete;
   AgentLoop& operator=(const AgentLoop&) = delete;

   boost::asio::io_context& context() { return context_; }
   Kiv::EventLoop& work() { return work_; }

   // Runs `afterWork` (when not null) after the framework work that follows every handler,
   // with the activity lock held: where an agent looks at what the work left.
   void afterWorkIs(std::function<void()> afterWork) { afterWork_ = std::move(afterWork); }

   // Handles what arrives for `duration`, then returns.
   void doRunFor(Duration duration);
   // Handles what is ready now and returns without waiting.
   void doPoll();

private:
   void doWatchDoorbell();
   void doRunWork();

   Kiv::EventLoop& work_;
   std::function<void()> afterWork_;
   boost::asio::io_context context_;
   // After the context, so that it goes first.
   boost::asio::posix::stream_descriptor doorbell_;
};

}  // namespace Agent
