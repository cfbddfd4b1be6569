// Times DecompressBuffer on highly compressible items, whose output block
// grows many times in steps of the rounded compressed size, against one
// uncompress into a block of the right size, with whatever allocator the
// platform has. Built for Windows too, so the same figures can be taken on
// the Windows heap (under Wine) as on glibc.
//
//   growth_probe [--runs=N] [--steps-limit=MiB] MiB...
//
// "realloc steps" repeats only the allocation pattern of growing a block by
// realloc in those steps, touching each new part, to show what the
// allocator makes of it; it is skipped above --steps-limit, since an
// allocator that copies on every realloc makes it quadratic.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "bench/bench_data.h"
#include "package/zlibex.h"

namespace {

using TClock = std::chrono::steady_clock;

template <class F>
double MedianMs(int Runs, F&& Work) {
  std::vector<double> times;
  for (int i = 0; i < Runs; ++i) {
    const auto t0 = TClock::now();
    Work();
    times.push_back(std::chrono::duration<double, std::milli>(TClock::now() - t0).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void ReallocSteps(size_t Step, size_t Target) {
  auto* block = static_cast<uint8_t*>(std::malloc(Step));
  size_t size = Step;
  std::memset(block, 1, size);
  while (size < Target) {
    auto* grown = static_cast<uint8_t*>(std::realloc(block, size + Step));
    if (!grown) break;
    block = grown;
    std::memset(block + size, 1, Step);
    size += Step;
  }
  std::free(block);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef __GLIBC__
  // Every block fresh memory, as in a start-up (see bench_main.cpp).
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
  int runs = 5;
  size_t stepsLimit = size_t{16} << 20;
  std::vector<size_t> sizes;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--runs=", 7) == 0) runs = std::max(1, std::atoi(argv[i] + 7));
    else if (std::strncmp(argv[i], "--steps-limit=", 14) == 0) stepsLimit = size_t(std::atoi(argv[i] + 14)) << 20;
    else sizes.push_back(static_cast<size_t>(std::atoi(argv[i])) << 20);
  }
  if (sizes.empty()) sizes = {1u << 20, 16u << 20};

  std::printf("%-8s %-9s %-8s %-20s %-15s %-7s %s\n", "S MiB", "n KiB", "growths", "DecompressBuffer ms",
              "uncompress ms", "ratio", "realloc steps ms");
  for (const size_t size : sizes) {
    const auto plain = MakePayload(TPayload::Compressible, size, 1);
    const auto stored = CompressBuffer(plain.data(), plain.size());
    const auto n = static_cast<int32_t>(stored.size());
    std::vector<int64_t> blocks;
    void* out = nullptr;
    int32_t outSize = 0;
    DecompressBuffer(stored.data(), n, out, outSize, 0, &blocks);
    const bool same = outSize == static_cast<int32_t>(size) && std::memcmp(out, plain.data(), size) == 0;
    std::free(out);
    if (!same) {
      std::fprintf(stderr, "growth_probe: inflated content differs at %zu MiB\n", size >> 20);
      return 1;
    }

    const double reader = MedianMs(runs, [&] {
      void* o = nullptr;
      int32_t s = 0;
      DecompressBuffer(stored.data(), n, o, s, 0);
      std::free(o);
    });
    const double base = MedianMs(runs, [&] {
      auto* o = static_cast<uint8_t*>(std::malloc(size));
      uLongf length = static_cast<uLongf>(size);
      if (uncompress(o, &length, stored.data(), static_cast<uLong>(n)) != Z_OK) std::abort();
      std::free(o);
    });
    const size_t step = (static_cast<size_t>(n) + 255) & ~size_t{255};
    std::string steps = "skipped (above --steps-limit)";
    if (size <= stepsLimit) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.1f", MedianMs(runs, [&] { ReallocSteps(step, size); }));
      steps = buf;
    }
    std::printf("%-8zu %-9.0f %-8zu %-20.1f %-15.1f %-7.2f %s\n", size >> 20, n / 1024.0, blocks.size() - 2,
                reader, base, reader / base, steps.c_str());
  }
  return 0;
}
