// The packages the benchmarks read: generated once from fixed seeds and kept
// in a data folder, so a second run starts at once.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class TPayload {
  Random,        // an already compressed movie: deflate cannot shrink it
  Compressible,  // one byte repeated: deflate shrinks it about a thousandfold
  Text,          // markup with varying numbers, as need files often are (about 4:1)
};

const char* PayloadName(TPayload Payload);
std::vector<uint8_t> MakePayload(TPayload Payload, size_t Size, uint32_t Seed);

// One compressed record of a package file as the reader meets it.
struct TBenchRecord {
  std::string Name;
  int64_t Offset = 0;  // of the zlib stream in the file
  int32_t Stored = 0;  // compressed length n
  int32_t Plain = 0;   // inflated length S
  int32_t Blocks = 0;  // output blocks DecompressBuffer allocates (initial + growths)
};

struct TBenchPackage {
  std::string Path;
  int64_t FileSize = 0;
  std::vector<TBenchRecord> Compressed;  // in package order
  const TBenchRecord* Find(const std::string& Name) const;
};

// A saver with a dozen settings items and a compressed "FlashSwf" of
// MovieSize bytes.
TBenchPackage ReaderPackage(const std::string& Dir, TPayload Payload, size_t MovieSize);

// A saver with a compressed movie and NeedFiles need files (alternately
// text and random bytes of NeedSize each), named in
// "FlashNeedFileName<i>" / "FlashNeedFileData<i>".
TBenchPackage ExtractPackage(const std::string& Dir, size_t MovieSize, int NeedFiles, size_t NeedSize);
