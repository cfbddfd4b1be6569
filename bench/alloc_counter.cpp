// Replacement of the C allocator entry points that counts live bytes. Sizes
// come from malloc_usable_size, so the figure is what the allocator really
// handed out, page rounding of large blocks included.
#include "bench/alloc_counter.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __libc_memalign(size_t, size_t);
}

namespace {

std::atomic<int64_t> gLive{0};
std::atomic<int64_t> gPeak{0};
std::atomic<int64_t> gReallocs{0};
std::atomic<int64_t> gMoves{0};
std::atomic<bool> gSeen{false};

void RaisePeak(int64_t Level) {
  int64_t peak = gPeak.load(std::memory_order_relaxed);
  while (Level > peak && !gPeak.compare_exchange_weak(peak, Level, std::memory_order_relaxed)) {
  }
}

void Add(void* P) {
  if (!P) return;
  gSeen.store(true, std::memory_order_relaxed);
  const auto n = static_cast<int64_t>(malloc_usable_size(P));
  RaisePeak(gLive.fetch_add(n, std::memory_order_relaxed) + n);
}

void Sub(void* P) {
  if (P) gLive.fetch_sub(static_cast<int64_t>(malloc_usable_size(P)), std::memory_order_relaxed);
}

}  // namespace

bool AllocCounterActive() { return gSeen.load(); }

TAllocStats AllocStats() {
  return {gLive.load(), gPeak.load(), gReallocs.load(), gMoves.load()};
}

void ResetAllocPeak() {
  gPeak.store(gLive.load());
  gReallocs.store(0);
  gMoves.store(0);
}

extern "C" {

void* malloc(size_t Size) {
  void* p = __libc_malloc(Size);
  Add(p);
  return p;
}

void* calloc(size_t Count, size_t Size) {
  void* p = __libc_calloc(Count, Size);
  Add(p);
  return p;
}

void free(void* P) {
  Sub(P);
  __libc_free(P);
}

void* realloc(void* P, size_t Size) {
  if (!P) return malloc(Size);
  if (Size == 0) {
    free(P);
    return nullptr;
  }
  const auto before = static_cast<int64_t>(malloc_usable_size(P));
  void* q = __libc_realloc(P, Size);
  if (!q) return nullptr;  // the old block stays as it was
  gReallocs.fetch_add(1, std::memory_order_relaxed);
  const auto after = static_cast<int64_t>(malloc_usable_size(q));
  if (q != P) {
    // Old and new block side by side while the content is copied.
    gMoves.fetch_add(1, std::memory_order_relaxed);
    RaisePeak(gLive.load(std::memory_order_relaxed) + after);
  }
  RaisePeak(gLive.fetch_add(after - before, std::memory_order_relaxed) + after - before);
  return q;
}

void* memalign(size_t Alignment, size_t Size) {
  void* p = __libc_memalign(Alignment, Size);
  Add(p);
  return p;
}

void* aligned_alloc(size_t Alignment, size_t Size) { return memalign(Alignment, Size); }

int posix_memalign(void** Out, size_t Alignment, size_t Size) {
  if (Alignment < sizeof(void*) || (Alignment & (Alignment - 1)) != 0) return EINVAL;
  void* p = memalign(Alignment, Size);
  if (!p && Size != 0) return ENOMEM;
  *Out = p;
  return 0;
}

void* valloc(size_t Size) { return memalign(4096, Size); }
void* pvalloc(size_t Size) { return memalign(4096, (Size + 4095) & ~size_t{4095}); }

}  // extern "C"
