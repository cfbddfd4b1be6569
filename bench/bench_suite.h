// The benchmark cases and what they share: file helpers for the baselines and
// the registration of each case. Every case comes as a pair named
// ".../reader" and ".../baseline"; the table divides the first by the second.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/bench_data.h"

struct TBenchConfig {
  std::string DataDir = "build/bench-data";
  std::vector<size_t> ReaderSizes = {1u << 20, 16u << 20, 128u << 20};
  size_t ExtractMovie = 16u << 20;
  int NeedFiles = 20;
  size_t NeedSize = 256u << 10;
  int Repetitions = 7;
};

// Iterations per repetition: enough work (about 64 MiB of output) that one
// repetition of a small case is not all timer noise, one for the largest.
int64_t IterationsFor(size_t PlainBytes);

// Reads Length bytes at Offset of Path into a new malloc block (the caller
// frees it); throws on a short read. The baselines' way to get the bytes.
uint8_t* ReadAt(const std::string& Path, int64_t Offset, int32_t Length);
// One uncompress into a block of exactly Plain bytes (the caller frees it);
// throws unless the stream inflates to exactly that.
uint8_t* InflateExact(const uint8_t* In, int32_t Stored, int32_t Plain);
// Creates or truncates Path and writes Size bytes with plain write calls.
void WritePlainFile(const std::string& Path, const void* Data, size_t Size);

void RegisterReaderBenchmarks(const TBenchConfig& Config);
void RegisterExtractBenchmarks(const TBenchConfig& Config);
