#include "platform/framework/trace/ring_buffer.h"

#include <bit>
#include <cstring>
#include <vector>

#include "platform/framework/kiv/assert.h"

namespace Kiv {

RingBuffer::RingBuffer(std::size_t capacity)
    : storage_(std::make_unique_for_overwrite<U8[]>(capacity)), capacity_(capacity) {
   KIV_ASSERT(capacity >= headerSize && std::has_single_bit(capacity));
}

std::optional<RingBuffer::Writer> RingBuffer::recordIs(U32 descriptorId, std::size_t payloadSize) {
   if (payloadSize > capacity() - headerSize) {
      ++dropped_;
      return std::nullopt;
   }
   const std::size_t recordSize = headerSize + payloadSize;
   while (capacity() - used() < recordSize) dropOldest();
   const U32 header[] = {descriptorId, static_cast<U32>(payloadSize)};
   copyIn(end_, header, headerSize);
   const U64 payloadStart = end_ + headerSize;
   end_ += recordSize;
   return Writer(*this, payloadStart, end_);
}

void RingBuffer::forEach(
    const std::function<void(U32 descriptorId, std::span<const U8> payload)>& visit) const {
   std::vector<U8> payload;
   for (U64 position = begin_; position != end_;) {
      U32 header[2];
      copyOut(position, header, headerSize);
      payload.resize(header[1]);
      copyOut(position + headerSize, payload.data(), payload.size());
      visit(header[0], payload);
      position += headerSize + header[1];
   }
}

void RingBuffer::copyInWrapping(std::size_t offset, const void* bytes, std::size_t size) {
   const std::size_t first = capacity_ - offset;
   const auto* source = static_cast<const U8*>(bytes);
   std::memcpy(storage_.get() + offset, source, first);
   std::memcpy(storage_.get(), source + first, size - first);
}

void RingBuffer::copyOut(U64 position, void* bytes, std::size_t size) const {
   if (size == 0) return;
   const std::size_t offset = position & (capacity_ - 1);
   auto* target = static_cast<U8*>(bytes);
   if (offset + size <= capacity_) {
      std::memcpy(target, storage_.get() + offset, size);
      return;
   }
   const std::size_t first = capacity_ - offset;
   std::memcpy(target, storage_.get() + offset, first);
   std::memcpy(target + first, storage_.get(), size - first);
}

}  // namespace Kiv
