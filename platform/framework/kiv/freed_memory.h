#pragma once

namespace Kiv {

// Keeps the memory a process frees for its next allocations, whatever their size: blocks of
// any size come from the heap, and the heap is not given back to the system. A switch agent
// takes and frees megabytes at each resync, warm start and flash download, and memory fresh
// from the system costs a page fault a page, more than the work done in it. Called once, at
// the start of a program's main.
void doKeepFreedMemory();

}  // namespace Kiv
