// ReadExeItems on a saver whose movie is one large compressed item, against
// the least any reader must do: read the compressed bytes and inflate them
// once into a block of the right size.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "bench/alloc_counter.h"
#include "bench/bench_suite.h"
#include "package/exe_adder.h"
#include "package/raii_items.h"
#include "util/raii_posix.h"

int64_t IterationsFor(size_t PlainBytes) {
  return std::max<int64_t>(1, static_cast<int64_t>((size_t{64} << 20) / std::max<size_t>(PlainBytes, 1)));
}

uint8_t* ReadAt(const std::string& Path, int64_t Offset, int32_t Length) {
  const TUniqueFd fd(::open(Path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) throw std::runtime_error(Path + ": " + std::strerror(errno));
  auto* block = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(Length)));
  int64_t done = 0;
  while (block && done < Length) {
    const ssize_t got = ::pread(fd.Get(), block + done, static_cast<size_t>(Length - done), Offset + done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += got;
  }
  if (done != Length) {
    std::free(block);
    throw std::runtime_error(Path + ": short read");
  }
  return block;
}

uint8_t* InflateExact(const uint8_t* In, int32_t Stored, int32_t Plain) {
  auto* out = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(std::max(Plain, 1))));
  uLongf length = static_cast<uLongf>(Plain);
  const int code = uncompress(out, &length, In, static_cast<uLong>(Stored));
  if (code != Z_OK || length != static_cast<uLongf>(Plain)) {
    std::free(out);
    throw std::runtime_error("uncompress failed");
  }
  return out;
}

void WritePlainFile(const std::string& Path, const void* Data, size_t Size) {
  const TUniqueFd fd(::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) throw std::runtime_error(Path + ": " + std::strerror(errno));
  size_t done = 0;
  const auto* p = static_cast<const char*>(Data);
  while (done < Size) {
    const ssize_t put = ::write(fd.Get(), p + done, Size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += put;
  }
  if (done != Size) throw std::runtime_error(Path + ": short write");
}

namespace {

std::string SizeName(size_t Bytes) { return std::to_string(Bytes >> 20) + "MiB"; }

// Figures every case reports beside its time.
void SetFigures(benchmark::State& State, const TBenchRecord& Movie, int64_t PeakExtra) {
  State.counters["S"] = static_cast<double>(Movie.Plain);
  State.counters["n"] = static_cast<double>(Movie.Stored);
  State.counters["growths"] = Movie.Blocks - 1;
  State.counters["extra"] = static_cast<double>(PeakExtra);
}

void ReaderCase(benchmark::State& State, const TBenchPackage& Package) {
  const TBenchRecord& movie = *Package.Find("FlashSwf");
  int64_t extra = 0;
  for (auto _ : State) {
    const int64_t start = AllocStats().Live;
    ResetAllocPeak();
    TOwnedItems items;
    ReadExeItems(Package.Path, items);
    int64_t inflated = 0;
    for (const auto& item : items) inflated += item.Size;
    extra = AllocStats().Peak - start - inflated;
    if (items.empty() || items.back().Size != movie.Plain) State.SkipWithError("movie not read back");
  }
  SetFigures(State, movie, extra);
}

void BaselineCase(benchmark::State& State, const TBenchPackage& Package) {
  const TBenchRecord& movie = *Package.Find("FlashSwf");
  int64_t extra = 0;
  for (auto _ : State) {
    const int64_t start = AllocStats().Live;
    ResetAllocPeak();
    uint8_t* in = ReadAt(Package.Path, movie.Offset, movie.Stored);
    uint8_t* out = InflateExact(in, movie.Stored, movie.Plain);
    std::free(in);
    extra = AllocStats().Peak - start - movie.Plain;
    benchmark::DoNotOptimize(out);
    std::free(out);
  }
  SetFigures(State, movie, extra);
}

}  // namespace

void RegisterReaderBenchmarks(const TBenchConfig& Config) {
  for (const TPayload payload : {TPayload::Random, TPayload::Compressible}) {
    for (const size_t size : Config.ReaderSizes) {
      // Built (or found) now, so a case never pays for its own data.
      const TBenchPackage package = ReaderPackage(Config.DataDir, payload, size);
      if (!package.Find("FlashSwf")) throw std::runtime_error(package.Path + ": no movie");
      const std::string base = std::string("read/") + PayloadName(payload) + "/" + SizeName(size);
      for (const bool reader : {true, false}) {
        auto* b = benchmark::RegisterBenchmark((base + (reader ? "/reader" : "/baseline")).c_str(),
                                               reader ? ReaderCase : BaselineCase, package);
        b->Iterations(IterationsFor(size))->Repetitions(Config.Repetitions)->UseRealTime()
            ->Unit(benchmark::kMillisecond);
      }
    }
  }
}
