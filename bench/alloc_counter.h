// Counts the bytes the benchmark process holds from the C allocator (which
// operator new uses too), so a benchmark can report the peak memory of one
// call. Linked only into native programs without a sanitizer (the benchmark
// binary and the package tests): it replaces malloc and friends there and
// forwards to glibc's own entry points.
//
// A realloc that moves its block is counted as holding the old and the new
// block at once, as an allocator that copies does; glibc moves large blocks
// with mremap without that overlap, so on glibc the figure is an upper bound
// for moved blocks and exact for everything else.
#pragma once
#include <cstdint>

struct TAllocStats {
  int64_t Live = 0;        // bytes held now
  int64_t Peak = 0;        // most bytes held since the last ResetPeak
  int64_t Reallocs = 0;    // realloc calls since the last ResetPeak
  int64_t Moves = 0;       // of which returned a different block
};

// True when the counting allocator is linked in and has seen allocations.
bool AllocCounterActive();
TAllocStats AllocStats();
// Starts a new peak at the current live level and zeroes the realloc counts.
void ResetAllocPeak();
