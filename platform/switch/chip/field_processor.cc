#include "platform/switch/chip/field_processor.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <type_traits>
#include <tuple>

#include "platform/switch/chip/memory_layout.h"
#include "platform/switch/sdk/return_code.h"

namespace Chip {

using Shim::SdkError;

static_assert(std::is_trivially_copyable_v<std::optional<FieldEntry>>,
              "an entry record is copied as plain words");
static_assert(sizeof(std::optional<FieldEntry>) <= 112, "an entry record is copied on every write");

std::size_t FieldProcessor::bytes(U32 slotCount) {
   return FieldProcessor(nullptr, slotCount).extent_;
}

FieldProcessor::FieldProcessor(std::byte* memory, U32 slotCount) : slotCount_(slotCount) {
   MemoryLayout layout(memory);
   header_ = layout.take<Header>(1);
   entries_ = layout.take<Segment::TearFree<StoredEntry>>(maxEntryId());
   idsInUse_ = layout.take<U64>((maxEntryId() + 63) / 64);
   slotGenerations_ = layout.take<Segment::Generation>(slotCount);
   rows_ = layout.take<std::array<Segment::AtomicImage<StoredRow>, 2>>(slotCount);
   scanRows_ = layout.take<Segment::AtomicImage<StoredRow>>(slotCount);
   for (auto& contents : contents_)
      contents = layout.take<Segment::AtomicImage<SlotContent>>(slotCount);
   hits_ = layout.take<U64>(slotCount);
   extent_ = layout.bytes();
}

template <class Visit>
void FieldProcessor::forEachIdInUse(Visit&& visit) const {
   const U32 words = (maxEntryId() + 63) / 64;
   for (U32 word = 0; word < words; ++word) {
      for (U64 bits = Segment::atomicLoad(idsInUse_[word]); bits != 0; bits &= bits - 1) {
         visit(word * 64 + static_cast<U32>(std::countr_zero(bits)) + 1);
      }
   }
}

void FieldProcessor::idInUseIs(U32 entryId, bool inUse) {
   U64& word = idsInUse_[(entryId - 1) / 64];
   const U64 bit = U64{1} << ((entryId - 1) % 64);
   Segment::atomicStore(word, inUse ? Segment::atomicLoad(word) | bit
                                    : Segment::atomicLoad(word) & ~bit);
}

void FieldProcessor::recordErase(U32 entryId) {
   record(entryId)->write(StoredEntry());
   idInUseIs(entryId, false);
   Segment::atomicStore(header_->entryCount, Segment::atomicLoad(header_->entryCount) - 1);
}

void FieldProcessor::doClear() {
   for (U32 slot = 0; slot < slotCount_; ++slot) {
      if (currentContent(slot).entryId != 0) slotClear(slot);
   }
   forEachIdInUse([&](U32 entryId) {
      if (current(entryId)) record(entryId)->write(StoredEntry());
      idInUseIs(entryId, false);
   });
   Segment::atomicStore(header_->highestPriority, 0);
   Segment::atomicStore(header_->entryCount, 0u);
}

Segment::TearFree<FieldProcessor::StoredEntry>* FieldProcessor::record(U32 entryId) const {
   if (entryId == 0 || entryId > maxEntryId()) return nullptr;
   return &entries_[entryId - 1];
}

FieldProcessor::StoredEntry FieldProcessor::current(U32 entryId) const {
   const Segment::TearFree<StoredEntry>* found = record(entryId);
   if (!found) return std::nullopt;
   return found->current();
}

std::optional<FieldEntry> FieldProcessor::entry(U32 entryId) const {
   const Segment::TearFree<StoredEntry>* found = record(entryId);
   if (!found) return std::nullopt;
   return found->read();
}

FieldProcessor::SlotContent FieldProcessor::currentContent(U32 slot) const {
   return contents_[slotGenerations_[slot].current()][slot].plainLoad();
}

TernaryRow FieldProcessor::currentRow(U32 slot) const {
   return rows_[slot][slotGenerations_[slot].current()].plainLoad().row();
}

// Word by word: the row was just built a field at a time, and a wider read of it would wait.
FieldProcessor::StoredRow FieldProcessor::StoredRow::of(const TernaryRow& row) {
   static_assert(offsetof(StoredRow, ignored) == 2 * sizeof(U64) && sizeof(StoredRow) == 32,
                 "scans and writers take a stored row word by word: data, then ignored");
   StoredRow stored;
   for (std::size_t word = 0; word < 2; ++word) {
      stored.data[word] = row.data.words[word];
      stored.ignored[word] = ~row.mask.words[word];
   }
   return stored;
}

TernaryRow FieldProcessor::StoredRow::row() const {
   TernaryRow row;
   row.data.words = data;
   row.mask.words = {~ignored[0], ~ignored[1]};
   return row;
}

namespace {

// Whether the stored row `image` matches the key `words`, read word by word: a scan reads
// every row, and a row copied whole would be written and read back once more.
template <class Image>
bool storedRowMatches(const Image& image, std::array<U64, 2> words) {
   return ((words[0] ^ image.word(0)) & ~image.word(2)) == 0 &&
          ((words[1] ^ image.word(1)) & ~image.word(3)) == 0;
}

}  // namespace

void FieldProcessor::slotIs(U32 slot, const TernaryRow& row, const SlotContent& content,
                            bool restartHits) {
   const StoredRow stored = StoredRow::of(row);
   Segment::AtomicImage<StoredRow>& scanRow = scanRows_[slot];
   const U64 sequence = Segment::atomicLoad(header_->scanSequence);
   Segment::atomicStore(header_->scanSequence, sequence | 1);
   std::atomic_thread_fence(std::memory_order_release);
   // The scan's copy matches every key while the slot changes, the words that say which bits
   // matter first out and last back in.
   for (const std::size_t ignored : {2, 3}) scanRow.wordIs(ignored, ~U64{0});
   for (const std::size_t data : {0, 1}) scanRow.wordIs(data, stored.data[data]);
   slotGenerations_[slot].publish([&](U32 image) {
      rows_[slot][image].store(stored);
      contents_[image][slot].store(content);
   });
   for (const std::size_t ignored : {2, 3}) scanRow.wordIs(ignored, stored.ignored[ignored - 2]);
   Segment::atomicStore(header_->scanSequence, (sequence | 1) + 1, std::memory_order_release);
   // After the new content, so that a packet counted in between is lost rather than counted to
   // an entry it never met.
   if (restartHits) Segment::atomicStore(hits_[slot], U64{0});
}

void FieldProcessor::slotClear(U32 slot) { slotIs(slot, TernaryRow(), SlotContent(), true); }

void FieldProcessor::installed(U32 entryId, StoredEntry& entry, bool restartHits) {
   if (entry->priority() > Segment::atomicLoad(header_->highestPriority)) {
      Segment::atomicStore(header_->highestPriority, entry->priority(), std::memory_order_release);
   }
   slotIs(entry->slot(), entry->row(), SlotContent{entryId, entry->priority(), entry->actions()},
          restartHits);
   entry->installedIs();
   record(entryId)->write(entry);
}

template <class Change>
S32 FieldProcessor::entryChange(U32 entryId, Change&& change) {
   StoredEntry entry = current(entryId);
   if (!entry) return code(SdkError::notFound);
   const S32 rc = change(*entry);
   if (rc == Shim::successCode) record(entryId)->write(entry);
   return rc;
}

// The slot is claimed before the entry names it: a writer killed in between leaves a slot that
// no entry owns, never two entries in one slot.
S32 FieldProcessor::entryCreate(S32 group, U32 entryId, U32 slot) {
   if (!record(entryId) || slot >= slotCount_) return code(SdkError::invalidParameter);
   if (current(entryId) || currentContent(slot).entryId != 0) return code(SdkError::exists);
   slotIs(slot, TernaryRow(), SlotContent{entryId, 0, {}}, true);
   idInUseIs(entryId, true);
   record(entryId)->write(FieldEntry(group, slot));
   Segment::atomicStore(header_->entryCount, Segment::atomicLoad(header_->entryCount) + 1);
   return Shim::successCode;
}

S32 FieldProcessor::entryCreateUnplaced(S32 group, U32 entryId) {
   if (!record(entryId)) return code(SdkError::invalidParameter);
   if (current(entryId)) return code(SdkError::exists);
   idInUseIs(entryId, true);
   record(entryId)->write(FieldEntry(group, FieldEntry::noSlot));
   Segment::atomicStore(header_->entryCount, Segment::atomicLoad(header_->entryCount) + 1);
   return Shim::successCode;
}

std::vector<U32> FieldProcessor::groupEntries(S32 group) const {
   std::vector<U32> ids;
   forEachIdInUse([&](U32 entryId) {
      const StoredEntry found = entry(entryId);
      if (found && found->group() == group) ids.push_back(entryId);
   });
   return ids;
}

namespace {

// A key of the group where it sits now, ordered by key and then by entry id.
struct PlacedKey {
   TernaryRow row;
   U32 id;
   U32 slot;

   static auto order(const TernaryRow& row) {
      return std::tie(row.data.words, row.mask.words);
   }
   bool operator<(const PlacedKey& other) const {
      return std::tie(row.data.words, row.mask.words, id) <
             std::tie(other.row.data.words, other.row.mask.words, other.id);
   }
};

}  // namespace

// The listed entries are read again where needed rather than copied: at tens of thousands of
// entries, copies would be megabytes of fresh memory on every download.
S32 FieldProcessor::groupFlash(S32 group, U32 firstSlot, std::span<U32> entryIds) {
   if (firstSlot > slotCount_ || entryIds.size() > slotCount_ - firstSlot) {
      return code(SdkError::invalidParameter);
   }
   // The group's entries now, and where each of its keys sits: a key that sits in several
   // slots is found at the slot of its lowest entry id.
   struct Previous {
      U32 id;
      U32 slot;
   };
   std::vector<Previous> previous;
   std::vector<PlacedKey> placedKeys;
   previous.reserve(entryIds.size());
   placedKeys.reserve(entryIds.size());
   forEachIdInUse([&](U32 id) {
      const StoredEntry held = current(id);
      if (!held || held->group() != group) return;
      previous.push_back({id, held->slot()});
      if (held->placed()) placedKeys.push_back({currentRow(held->slot()), id, held->slot()});
   });
   std::sort(placedKeys.begin(), placedKeys.end());
   struct Rank {
      S32 priority;
      bool newKey;
      U32 place;  // the replaced entry's slot, or the position in the list
      U32 id;
   };
   std::vector<Rank> ranks;
   ranks.reserve(entryIds.size());
   for (U32 position = 0; position < entryIds.size(); ++position) {
      const StoredEntry listed = current(entryIds[position]);
      if (!listed || listed->group() != group) return code(SdkError::notFound);
      const TernaryRow row = listed->row();
      const auto replaced = std::lower_bound(
          placedKeys.begin(), placedKeys.end(), row,
          [](const PlacedKey& placed, const TernaryRow& key) {
             return PlacedKey::order(placed.row) < PlacedKey::order(key);
          });
      const bool newKey =
          replaced == placedKeys.end() || PlacedKey::order(replaced->row) != PlacedKey::order(row);
      ranks.push_back(
          {listed->priority(), newKey, newKey ? position : replaced->slot, entryIds[position]});
   }
   const U32 endSlot = firstSlot + static_cast<U32>(entryIds.size());
   for (U32 slot = firstSlot; slot < endSlot; ++slot) {
      const StoredEntry holder = current(currentContent(slot).entryId);
      if (holder && holder->group() != group) return code(SdkError::exists);
   }
   std::stable_sort(ranks.begin(), ranks.end(), [](const Rank& a, const Rank& b) {
      if (a.priority != b.priority) return a.priority > b.priority;
      if (a.newKey != b.newKey) return b.newKey;
      return a.place < b.place;
   });
   // Each slot goes from what it held to its new entry in one write; what the group held
   // elsewhere, and the entries it drops, go after.
   for (U32 i = 0; i < ranks.size(); ++i) {
      entryIds[i] = ranks[i].id;
      StoredEntry placed = current(ranks[i].id);
      placed->slotIs(firstSlot + i);
      installed(ranks[i].id, placed, true);
   }
   std::vector<bool> kept(maxEntryId() + 1);
   for (const U32 id : entryIds) kept[id] = true;
   for (const Previous& held : previous) {
      if (held.slot != FieldEntry::noSlot && (held.slot < firstSlot || held.slot >= endSlot)) {
         slotClear(held.slot);
      }
      if (!kept[held.id]) recordErase(held.id);
   }
   return Shim::successCode;
}

// The row stops matching before the entry goes.
S32 FieldProcessor::entryDestroy(U32 entryId) {
   const StoredEntry found = current(entryId);
   if (!found) return code(SdkError::notFound);
   if (found->placed()) slotClear(found->slot());
   recordErase(entryId);
   return Shim::successCode;
}

void FieldProcessor::unplacedEntriesDel() {
   forEachIdInUse([&](U32 entryId) {
      const StoredEntry found = current(entryId);
      if (found && !found->placed()) recordErase(entryId);
   });
}

S32 FieldProcessor::entryInstall(U32 entryId) {
   StoredEntry found = current(entryId);
   if (!found) return code(SdkError::notFound);
   if (!found->placed()) return code(SdkError::invalidParameter);
   installed(entryId, found, false);
   return Shim::successCode;
}

S32 FieldProcessor::qualifierIs(U32 entryId, KeyField field, U32 data, U32 mask) {
   return entryChange(entryId, [&](FieldEntry& entry) {
      return entry.qualifierIs(field, data, mask) ? Shim::successCode
                                                  : code(SdkError::invalidParameter);
   });
}

S32 FieldProcessor::qualifierGet(U32 entryId, KeyField field, QualifierValue* value) const {
   const StoredEntry found = entry(entryId);
   const std::optional<QualifierValue> qualifier = found ? found->qualifier(field) : std::nullopt;
   if (!qualifier) return code(SdkError::notFound);
   *value = *qualifier;
   return Shim::successCode;
}

S32 FieldProcessor::actionIs(U32 entryId, const FieldActionValue& action) {
   return entryChange(entryId, [&](FieldEntry& entry) {
      if (!isFieldAction(action.action)) return code(SdkError::invalidParameter);
      return entry.actionIs(action) ? Shim::successCode : code(SdkError::exists);
   });
}

S32 FieldProcessor::priorityIs(U32 entryId, S32 priority) {
   return entryChange(entryId, [&](FieldEntry& entry) {
      entry.priorityIs(priority);
      return Shim::successCode;
   });
}

S32 FieldProcessor::actionDelAll(U32 entryId) {
   return entryChange(entryId, [&](FieldEntry& entry) {
      entry.actionDelAll();
      return Shim::successCode;
   });
}

U32 FieldProcessor::entryInSlot(U32 slot) const {
   if (slot >= slotCount_) return 0;
   return slotGenerations_[slot].read(
       [&](U32 image) { return contents_[image][slot].load().entryId; });
}

template <bool fromScanCopy>
std::optional<FieldProcessor::Scan> FieldProcessor::scan(const std::array<U64, 2>& key) const {
   const S32 ceiling = Segment::atomicLoad(header_->highestPriority, std::memory_order_acquire);
   // Kept in registers: the generations' fences would have members read again for every slot.
   const std::array<U64, 2> words = key;
   const Segment::Generation* const generations = slotGenerations_;
   const std::array<Segment::AtomicImage<StoredRow>, 2>* const rows = rows_;
   const Segment::AtomicImage<StoredRow>* const scanRows = scanRows_;
   const U32 slotCount = slotCount_;
   // The first slot from `slot` on whose row matches, or slotCount.
   const auto nextMatch = [&](U32 slot) {
      if constexpr (fromScanCopy) {
         while (slot < slotCount && !storedRowMatches(scanRows[slot], words)) ++slot;
      } else {
         while (slot < slotCount && !generations[slot].read([=](U32 image) {
            return storedRowMatches(rows[slot][image], words);
         })) {
            ++slot;
         }
      }
      return slot;
   };
   std::optional<Scan> found;
   for (U32 slot = nextMatch(0); slot < slotCount; slot = nextMatch(slot + 1)) {
      // What the slot installed, with a row that still matches.
      const std::optional<SlotContent> content =
          generations[slot].read([&](U32 image) -> std::optional<SlotContent> {
             if (!storedRowMatches(rows[slot][image], words)) return std::nullopt;
             return contents_[image][slot].load();
          });
      if (!content) continue;
      if (!found || content->priority > found->content.priority) found = Scan{slot, *content};
      // No row installed later in the scan can outrank the highest priority ever installed.
      if (found->content.priority >= ceiling) break;
   }
   return found;
}

// The scan's copy of the rows, read while no copy was being written, is whole; else, or when
// a copy was written meanwhile, every slot's images are read, each checked.
std::optional<Match> FieldProcessor::classify(const Packet& packet) {
   const std::array<U64, 2> key = keyOf(packet).words;
   const U64 sequence = Segment::atomicLoad(header_->scanSequence, std::memory_order_acquire);
   std::optional<Scan> found;
   bool whole = false;
   if (sequence % 2 == 0) {
      found = scan<true>(key);
      std::atomic_thread_fence(std::memory_order_acquire);
      whole = Segment::atomicLoad(header_->scanSequence) == sequence;
   }
   if (!whole) found = scan<false>(key);
   if (!found) return std::nullopt;
   std::atomic_ref<U64>(hits_[found->slot]).fetch_add(1, std::memory_order_relaxed);
   return Match{found->content.entryId, found->content.actions};
}

U64 FieldProcessor::hitCount(U32 entryId) const {
   const StoredEntry found = entry(entryId);
   return found && found->placed() ? Segment::atomicLoad(hits_[found->slot()]) : 0;
}

void FieldProcessor::hitCountsClear() {
   for (U32 slot = 0; slot < slotCount(); ++slot) Segment::atomicStore(hits_[slot], U64{0});
}

}  // namespace Chip
