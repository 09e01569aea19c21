#include "platform/framework/trace/ring_trace.h"

#include <memory>

namespace Kiv {
namespace {

thread_local std::unique_ptr<RingBuffer> buffer;

}  // namespace

RingBuffer& RingTrace::threadBuffer() {
   if (!buffer) buffer = std::make_unique<RingBuffer>(defaultCapacity);
   return *buffer;
}

std::vector<String> RingTrace::lines() {
   std::vector<String> out;
   threadBuffer().forEach([&out](U32 descriptorId, std::span<const U8> payload) {
      out.push_back(ringDescriptor(descriptorId).render(payload));
   });
   return out;
}

void RingTrace::clear() { threadBuffer().clear(); }

void RingTrace::capacityIs(std::size_t capacity) {
   buffer = std::make_unique<RingBuffer>(capacity);
}

}  // namespace Kiv
