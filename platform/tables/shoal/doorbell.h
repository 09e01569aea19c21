#pragma once

#include <sys/types.h>

#include <set>

#include "platform/tables/shoal/table_header.h"

namespace Shoal {

class TableState;

// A process's doorbell: the descriptor its loop watches for changes that writers in other
// processes made to the tables it mounts. A writer rings the doorbell of a mount's process once
// per batch (the mount's slot says whether it was rung since the mount last drained); the
// process's loop then answers, and every mount of the process looks at its ring.
//
// The doorbell is a datagram socket bound to an abstract name made of the user's uid and the
// process's pid: it needs no file, leaves nothing behind when the process is killed, and a
// ring never waits. A process forked from one with a doorbell gets its own on first use.
class Doorbell {
public:
   // This process's doorbell, made on first use.
   static Doorbell& self();
   // Rings the doorbell of process `pid` of this user. A process that is gone needs no wake
   // and a doorbell whose queue is full has been rung already, so a ring that fails is no
   // error.
   static void doRing(pid_t pid);
   // Rings for `mount` when its process is not `self`, once until the mount drains again;
   // false when the mount is `self`'s, which the caller wakes itself.
   static bool doRingFor(TableHeader::MountSlot& mount, pid_t self);

   // What the loop watches: readable when the doorbell was rung.
   int descriptor() const { return descriptor_; }
   // Empties the doorbell and has every mount of the process look at its ring.
   void doAnswer();

   // Tables with mounts in this process, which doAnswer() wakes.
   void tableIs(TableState* table) { tables_.insert(table); }
   void tableDel(TableState* table) { tables_.erase(table); }

   Doorbell(const Doorbell&) = delete;
   Doorbell& operator=(const Doorbell&) = delete;

private:
   explicit Doorbell(pid_t pid);

   pid_t pid_;
   int descriptor_;
   std::set<TableState*> tables_;
};

}  // namespace Shoal
