#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/switch/chip/simulated_chip.h"

namespace Simulator {

// Packets sent against the chip at a steady rate from a thread of their own, whatever the
// agent is doing: writing, restarting, downloading the TCAM. What a packet meets is the chip's
// doing alone (the entry it hits, then the outcome the chip gives it).
//
// A flow is judged against what it met at the last quiet point (doBaseline()): a packet that
// then hit an entry and now hits none is lost; one that meets another uid, forwarding or
// rewrite than then is misrouted. So across a hitless restart of a settled switch both stay 0.
class TrafficSource {
public:
   struct Flow {
      uint16_t unit = 0;
      ::Chip::Packet packet;
   };
   struct Counts {
      uint64_t sent = 0;
      uint64_t lost = 0;
      uint64_t misrouted = 0;

      bool operator==(const Counts&) const = default;
   };

   // Starts sending `rate` packets a second over all `flows` in turn, each judged against what
   // it meets now; a rate of 0 sends only what doSend() sends.
   TrafficSource(::Chip::SimulatedChip& chip, std::vector<Flow> flows, uint32_t rate);
   ~TrafficSource();
   TrafficSource(const TrafficSource&) = delete;
   TrafficSource& operator=(const TrafficSource&) = delete;

   // Sends `packets` more now, from the caller's thread.
   void doSend(uint64_t packets);
   // Each flow's counts since the last baseline, after which what each flow meets now is what
   // it must keep meeting. Call it where the switch is quiet.
   std::vector<Counts> doBaseline();

   std::size_t flows() const { return flows_.size(); }

private:
   // What a packet met: nothing, or the uid, forwarding and rewrite of the entry it hit.
   using Met = std::optional<::Chip::PacketOutcome>;

   struct FlowState {
      Flow flow;
      Met expected;
      Counts counts;
   };

   Met meet(const Flow& flow) const;
   void run(uint32_t rate);

   ::Chip::SimulatedChip& chip_;
   std::vector<FlowState> flows_;
   // Held while packets are sent and judged, so that a new baseline never meets half a batch.
   std::mutex judging_;
   std::size_t next_ = 0;
   std::mutex stopMutex_;
   std::condition_variable stopped_;
   bool stop_ = false;
   std::thread sender_;
};

}  // namespace Simulator
