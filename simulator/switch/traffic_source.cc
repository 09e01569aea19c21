#include "simulator/switch/traffic_source.h"

#include <utility>

namespace Simulator {

TrafficSource::TrafficSource(::Chip::SimulatedChip& chip, std::vector<Flow> flows, uint32_t rate)
    : chip_(chip), flows_(flows.size()) {
   for (std::size_t i = 0; i < flows.size(); ++i) {
      flows_[i].flow = flows[i];
      flows_[i].expected = meet(flows[i]);
   }
   if (rate != 0 && !flows_.empty()) sender_ = std::thread([this, rate] { run(rate); });
}

TrafficSource::~TrafficSource() {
   {
      const std::lock_guard<std::mutex> guard(stopMutex_);
      stop_ = true;
   }
   stopped_.notify_all();
   if (sender_.joinable()) sender_.join();
}

TrafficSource::Met TrafficSource::meet(const Flow& flow) const {
   const auto match = chip_.classify(flow.unit, flow.packet);
   if (!match) return std::nullopt;
   return chip_.outcome(flow.unit, flow.packet, match->actions);
}

void TrafficSource::doSend(uint64_t packets) {
   if (flows_.empty()) return;
   const std::lock_guard<std::mutex> guard(judging_);
   for (uint64_t i = 0; i < packets; ++i) {
      FlowState& state = flows_[next_];
      next_ = (next_ + 1) % flows_.size();
      const Met met = meet(state.flow);
      ++state.counts.sent;
      if (met == state.expected) continue;
      ++(state.expected && !met ? state.counts.lost : state.counts.misrouted);
   }
}

std::vector<TrafficSource::Counts> TrafficSource::doBaseline() {
   const std::lock_guard<std::mutex> guard(judging_);
   std::vector<Counts> counts;
   for (FlowState& state : flows_) {
      counts.push_back(std::exchange(state.counts, Counts{}));
      state.expected = meet(state.flow);
   }
   return counts;
}

// Packets go in batches of a millisecond's worth, on a clock that does not drift: a batch
// that ran late is followed at once by the next.
void TrafficSource::run(uint32_t rate) {
   using Clock = std::chrono::steady_clock;
   constexpr auto batch = std::chrono::milliseconds(1);
   auto due = Clock::now();
   uint64_t owed = 0;  // packets times 1000, so that rates below 1000 a second come out even
   std::unique_lock<std::mutex> lock(stopMutex_);
   while (!stop_) {
      owed += rate;
      lock.unlock();
      doSend(owed / 1000);
      owed %= 1000;
      lock.lock();
      due += batch;
      stopped_.wait_until(lock, due, [this] { return stop_; });
   }
}

}  // namespace Simulator
