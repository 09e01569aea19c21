#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>

#include "platform/framework/kiv/types.h"
#include "platform/segment/tear_free.h"

namespace Shoal {

// The first bytes of one table's block of segment memory, and everything in it that does not
// depend on the table's record type. The block goes on with the hash index, the entries (each
// record double-buffered), the map of free entries and one change ring per mount; the header
// gives where each starts, as offsets from itself. Every field is a plain word read and
// written whole (Segment::atomicLoad and atomicStore), so that memory of zeros past the
// index is never read as anything.
//
// One process writes a table's records at a time; any number read it, and each of the
// reading mounts has a slot here through which the writer tells it which entries changed.
struct TableHeader {
   static constexpr U32 maxMounts = 32;
   static constexpr U32 maxProcesses = 16;
   static constexpr U32 defaultRingEntries = 1024;
   static constexpr U32 reportsKept = 8;

   // A process that holds the table: the block stays while one does.
   struct Holder {
      U32 held;
      pid_t pid;
      U64 startTime;
   };

   // One mount's change delivery: a bounded ring of entry numbers that the writer fills and the
   // mount drains, and a ring of the doorbell of the mount's process when that is not the
   // writer's. Each entry is in the ring at most once (its pending bit for the mount says
   // so); when the ring is full the writer sets `resync` instead, and the mount then compares
   // every entry with what it last saw. A new mount starts with `resync` set.
   struct MountSlot {
      U32 held;
      pid_t pid;
      U64 startTime;
      U32 head;  // the next ring position the mount reads, written by the mount
      U32 tail;  // the next ring position the writer fills, written by the writer
      U32 resync;
      U32 rung;  // the writer rang the mount's process since the mount last drained
   };

   struct ReportText {
      std::array<char, 192> text;
   };

   U32 keyBytes;
   U32 recordBytes;
   U32 entryBytes;
   U32 entryAlignment;
   U32 entryCount;   // entries in the block: the most records the table can ever hold
   U32 indexSlots;   // a power of two, at least twice entryCount
   U32 ringEntries;  // of each mount's change ring
   U32 fillPace;     // entries a new mount learns per turn of its loop; 0: all at once
   U32 capacity;     // the most records the table takes now, at most entryCount
   U32 maxProbe;     // no key lies further than this from its home slot in the index
   U32 count;        // records present
   // Entries in use lie below highWater: it rises when no entry under it is free and comes
   // down when the top one is freed, past the free entries below it, so that whoever reads
   // every entry (a new mount, a resync, a walk) reads what the table holds now, not the
   // most it ever held. The free map has a bit per free entry under it, none below
   // lowestFree, and freeEntries of them.
   U32 highWater;
   U32 freeEntries;
   U32 lowestFree;
   U32 listed;        // whether the store's directory holds the table
   U32 retired;       // the directory held it and no longer does: deleted, or replaced
   U32 activeMounts;  // bit m: mount slot m is held
   U64 changes;       // advanced by every change of a record
   U64 writes;
   U32 capacityReports;
   U32 readsUntilCorruption;
   U32 corruptEveryRead;
   U32 reportCount;
   U64 blockBytes;
   U64 indexOffset;
   U64 entriesOffset;
   U64 freeMapOffset;
   U64 ringsOffset;
   std::array<Holder, maxProcesses> holders;
   std::array<MountSlot, maxMounts> mounts;
   std::array<Segment::TearFree<ReportText>, reportsKept> reports;
};

// The words of the free map of a block of `entries` entries.
constexpr U32 freeMapWords(U32 entries) { return (entries + 63) / 64; }

// What a table's record type asks of its block.
struct TableShape {
   U32 keyBytes = 0;
   U32 recordBytes = 0;
   U32 entryBytes = 0;
   U32 entryAlignment = 0;

   bool operator==(const TableShape&) const = default;
};

}  // namespace Shoal
