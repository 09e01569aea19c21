#pragma once

#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "platform/framework/kiv/assert.h"
#include "platform/framework/kiv/types.h"

namespace Kiv {

// A fixed number of bytes, a power of two, holding variable-size records, each a descriptor
// id and a payload. Adding a record that does not fit in the free space drops the oldest
// records until it does; records may wrap around the end of the storage. Not thread-safe:
// each thread owns its own buffer.
//
// Every traced step of the agent records here, so a record's fields are copied inline, at
// their own sizes, where they do not wrap.
class RingBuffer {
public:
   // Per record, ahead of the payload: the descriptor id and the payload size.
   static constexpr std::size_t headerSize = 2 * sizeof(U32);

   explicit RingBuffer(std::size_t capacity);

   std::size_t capacity() const { return capacity_; }
   std::size_t used() const { return static_cast<std::size_t>(end_ - begin_); }
   // Records dropped to make room, or refused for being larger than the whole buffer.
   U64 dropped() const { return dropped_; }

   // Fills the payload of the record just added, in order. Writing more than the size given
   // to recordIs() is a fatal assertion.
   class Writer {
   public:
      void write(const void* bytes, std::size_t size) {
         KIV_ASSERT(size <= end_ - position_);
         buffer_->copyIn(position_, bytes, size);
         position_ += size;
      }

   private:
      friend class RingBuffer;
      Writer(RingBuffer& buffer, U64 position, U64 end)
          : buffer_(&buffer), position_(position), end_(end) {}

      RingBuffer* buffer_;
      U64 position_;
      U64 end_;
   };

   // Adds a record for `descriptorId` with room for `payloadSize` bytes, which the caller
   // fills through the returned writer before touching the buffer again. Returns nothing
   // (and stores nothing) when the record is larger than the whole buffer.
   std::optional<Writer> recordIs(U32 descriptorId, std::size_t payloadSize);
   // As recordIs(), for the common record that fits before the end of the storage: its
   // payload's bytes, for the caller to fill at once. Null, with nothing added, when the
   // record would wrap around; the caller then goes through recordIs().
   U8* unwrappedRecordIs(U32 descriptorId, std::size_t payloadSize) {
      const std::size_t recordSize = headerSize + payloadSize;
      const std::size_t offset = end_ & (capacity_ - 1);
      if (recordSize > capacity_ - offset) return nullptr;
      while (capacity_ - used() < recordSize) dropOldest();
      U8* const at = storage_.get() + offset;
      const U32 header[] = {descriptorId, static_cast<U32>(payloadSize)};
      std::memcpy(at, header, headerSize);
      end_ += recordSize;
      return at + headerSize;
   }

   // Calls `visit` with each record, oldest first. The payload is a contiguous copy even
   // when the record wraps around.
   void forEach(
       const std::function<void(U32 descriptorId, std::span<const U8> payload)>& visit) const;

   void clear() { begin_ = end_; }

private:
   // Positions grow without bound; the storage offset is the position modulo the capacity.
   void copyIn(U64 position, const void* bytes, std::size_t size) {
      if (size == 0) return;
      const std::size_t offset = position & (capacity_ - 1);
      if (offset + size <= capacity_) {
         std::memcpy(storage_.get() + offset, bytes, size);
      } else {
         copyInWrapping(offset, bytes, size);
      }
   }
   void copyInWrapping(std::size_t offset, const void* bytes, std::size_t size);
   void copyOut(U64 position, void* bytes, std::size_t size) const;
   void dropOldest() {
      U32 header[2];
      const std::size_t offset = begin_ & (capacity_ - 1);
      if (offset + headerSize <= capacity_) {
         std::memcpy(header, storage_.get() + offset, headerSize);
      } else {
         copyOut(begin_, header, headerSize);
      }
      begin_ += headerSize + header[1];
      ++dropped_;
   }

   // Left unwritten until records reach it: only bytes between begin_ and end_ are read, and
   // untouched storage costs a new process no page faults.
   std::unique_ptr<U8[]> storage_;
   std::size_t capacity_;
   U64 begin_ = 0;  // position of the oldest record
   U64 end_ = 0;    // position just past the newest record
   U64 dropped_ = 0;
};

}  // namespace Kiv
