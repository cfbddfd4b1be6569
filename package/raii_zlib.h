// Owners for inflation: a zlib inflate stream that ends itself, and an
// output block that goes back to the allocator it came from.
#pragma once
#include <zlib.h>

#include <cstdint>
#include <memory>

#include "package/zlibex.h"

// An inflate stream; inflateEnd runs once, when it goes, for any stream
// that Init or CopyFrom started.
class TInflateStream {
 public:
  TInflateStream() = default;
  ~TInflateStream() {
    if (FLive) inflateEnd(&FStream);
  }
  TInflateStream(const TInflateStream&) = delete;
  TInflateStream& operator=(const TInflateStream&) = delete;

  // inflateInit's result.
  int Init() { return Started(inflateInit(&FStream)); }
  // inflateCopy's result: a stream at Source's state.
  int CopyFrom(TInflateStream& Source) { return Started(inflateCopy(&FStream, &Source.FStream)); }
  // Ends it now, for inflateEnd's result.
  int End() {
    FLive = false;
    return inflateEnd(&FStream);
  }
  z_stream* operator->() { return &FStream; }
  z_stream* Get() { return &FStream; }

 private:
  int Started(int Code) {
    FLive = Code == Z_OK;
    return Code;
  }
  z_stream FStream{};
  bool FLive = false;
};

// A block from a TBlockAllocator, given back to it unless released to the caller.
struct TBlockRelease {
  const TBlockAllocator* Blocks;
  void operator()(uint8_t* Block) const { Blocks->Release(Block); }
};
using TAllocatedBlock = std::unique_ptr<uint8_t, TBlockRelease>;
