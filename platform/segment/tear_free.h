#pragma once

#include <array>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "platform/framework/kiv/types.h"

namespace Segment {

// The chip's records live in shared memory, where readers in other processes copy them while
// the one writer rewrites them, and where the writer may be killed at any instruction. Each
// record has two images and a generation that says which is current: the writer writes the
// other image and then publishes it by advancing the generation; a reader copies the current
// image and keeps the copy when the generation did not move meanwhile. So a reader never waits
// for a writer, and a writer killed mid-write leaves the current image as it was and nothing
// to repair: the next write simply writes the other image again.
//
// A reader must retry when the generation moved at all, not only by two: once the writer has
// published generation g + 1 it may already be writing g + 2 into the image the reader is
// copying.
//
// The records are plain words, accessed atomically, so that memory of zeros is a valid record
// (generation 0, image 0 all zeros) and a unit's state can start as fresh zero pages.

// A plain word of shared memory, read and written whole.
template <class Word>
Word atomicLoad(const Word& word, std::memory_order order = std::memory_order_relaxed) {
   static_assert(std::atomic_ref<Word>::is_always_lock_free, "a lock would not be shared");
   return std::atomic_ref<Word>(const_cast<Word&>(word)).load(order);
}

template <class Word>
void atomicStore(Word& word, Word value, std::memory_order order = std::memory_order_relaxed) {
   std::atomic_ref<Word>(word).store(value, order);
}

// A trivially copyable T kept as 64-bit words that readers load and the writer stores each
// whole, so that a copy made while the writer rewrites the image is no data race; whether the
// copy is whole is for the record's generation to say. The writer's own copy of the current
// image may be plain, since no one else writes it.
template <class T>
class AtomicImage {
public:
   static_assert(std::is_trivially_copyable_v<T> && std::is_default_constructible_v<T>);
   static constexpr std::size_t wordCount = (sizeof(T) + sizeof(U64) - 1) / sizeof(U64);

   T load() const {
      T value;
      loadInto(value);
      return value;
   }
   // As load(), into the caller's object: a copy made word by word and then moved as a whole
   // would be read back wider than it was written, which stalls.
   void loadInto(T& value) const {
      auto* bytes = reinterpret_cast<std::byte*>(&value);
      for (std::size_t i = 0; i < wordCount; ++i) {
         const U64 loaded = word(i);
         std::memcpy(bytes + i * sizeof(U64), &loaded, bytesOfWord(i));
      }
   }

   // The image's first `bytes` bytes only, into the same bytes of `value`, for a reader that
   // needs only what a record keeps at its head.
   void loadHeadInto(T& value, std::size_t bytes) const {
      auto* target = reinterpret_cast<std::byte*>(&value);
      for (std::size_t i = 0; i * sizeof(U64) < bytes; ++i) {
         const U64 loaded = word(i);
         std::memcpy(target + i * sizeof(U64), &loaded, bytesOfWord(i));
      }
   }

   // The writer's copy of the image it last published.
   T plainLoad() const {
      std::array<std::byte, sizeof(T)> bytes;
      std::memcpy(bytes.data(), words_.data(), sizeof(T));
      return std::bit_cast<T>(bytes);
   }

   void store(const T& value) {
      const auto* bytes = reinterpret_cast<const std::byte*>(&value);
      for (std::size_t i = 0; i < wordCount; ++i) {
         U64 stored = 0;
         std::memcpy(&stored, bytes + i * sizeof(U64), bytesOfWord(i));
         atomicStore(words_[i], stored);
      }
   }

   // One word of the image, for a reader that needs only part of it, and for a writer that
   // orders its writes word by word.
   U64 word(std::size_t index) const { return atomicLoad(words_[index]); }
   void wordIs(std::size_t index, U64 value) { atomicStore(words_[index], value); }

private:
   static constexpr std::size_t bytesOfWord(std::size_t index) {
      return index + 1 < wordCount ? sizeof(U64) : sizeof(T) - index * sizeof(U64);
   }

   std::array<U64, wordCount> words_;
};

// Which of a record's two images is current. The record's images may be kept apart from it
// (in arrays of their own, for a faster scan): `copy` and `write` are given the image index.
class Generation {
public:
   // Runs `copy(image)` on the current image until no image was published meanwhile, and
   // returns what the whole copy gave.
   template <class Copy>
   auto read(Copy&& copy) const {
      for (;;) {
         const U32 seen = atomicLoad(value_, std::memory_order_acquire);
         auto result = copy(seen & 1);
         std::atomic_thread_fence(std::memory_order_acquire);
         if (atomicLoad(value_) == seen) return result;
      }
   }

   // As read(), for a copy that gives nothing back: the generation the copy was made at, which
   // a reader can keep to tell later whether the record was written since.
   template <class Copy>
   U32 readGeneration(Copy&& copy) const {
      for (;;) {
         const U32 seen = atomicLoad(value_, std::memory_order_acquire);
         copy(seen & 1);
         std::atomic_thread_fence(std::memory_order_acquire);
         if (atomicLoad(value_) == seen) return seen;
      }
   }

   // The current image unchecked: the writer's (no one else writes, so it stays whole), or a
   // reader's that checks its copies some other way.
   U32 current() const { return atomicLoad(value_) & 1; }

   // Runs `write(image)` on the image readers are not reading, then makes it current.
   template <class Write>
   void publish(Write&& write) {
      const U32 next = atomicLoad(value_) + 1;
      // A reader that copies any word written below also sees the generation that retired
      // the image, and retries.
      std::atomic_thread_fence(std::memory_order_release);
      write(next & 1);
      atomicStore(value_, next, std::memory_order_release);
   }

private:
   U32 value_;
};

// A record with its own generation and both its images.
template <class T>
class TearFree {
public:
   T read() const {
      T value;
      readInto(value);
      return value;
   }
   // As read(), into `value`; returns the generation the copy was made at.
   U32 readInto(T& value) const {
      return generation_.readGeneration([&](U32 image) { images_[image].loadInto(value); });
   }
   // As readInto(), for the record's first `bytes` bytes only.
   U32 readHeadInto(T& value, std::size_t bytes) const {
      return generation_.readGeneration(
          [&](U32 image) { images_[image].loadHeadInto(value, bytes); });
   }
   // The writer's read.
   T current() const { return images_[generation_.current()].plainLoad(); }
   void write(const T& value) {
      generation_.publish([&](U32 image) { images_[image].store(value); });
   }

private:
   Generation generation_;
   std::array<AtomicImage<T>, 2> images_;
};

}  // namespace Segment
