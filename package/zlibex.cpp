#include "package/zlibex.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>

#include "package/raii_zlib.h"

const char* ZLibErrorText(int Code) {
  switch (Code) {
    case Z_ERRNO: return "file error";
    case Z_STREAM_ERROR: return "stream error";
    case Z_DATA_ERROR: return "data error";
    case Z_MEM_ERROR: return "insufficient memory";
    case Z_BUF_ERROR: return "buffer error";
    case Z_VERSION_ERROR: return "incompatible version";
    default: return "";
  }
}

void DecompressBuffer(const void* InBuffer, int32_t InSize, void*& OutBuffer, int32_t& OutSize,
                      int32_t OutEstimate) {
  DecompressBuffer(InBuffer, InSize, OutBuffer, OutSize, OutEstimate, nullptr);
}

const TBlockAllocator kHeapBlocks = {std::malloc, std::realloc, std::free};

namespace {

// Growth steps taken one reallocation each before the rest is measured.
// With a heap that copies on every growth, t steps copy about t/2 times the
// item, so four keep that below twice its size, while items needing no
// more than four steps (the usual movie needs one) cost what they always did.
constexpr int kStepByStepGrowths = 4;

// How many more bytes the stream Source will produce, found by inflating a
// copy of it into a small scratch block that is overwritten as it goes; the
// source stream is left where it was. At most Limit bytes are counted: a
// stream that still goes on after them ends in Z_MEM_ERROR, as it would when
// the output block reached the largest size allowed. Returns the zlib result
// that ended the count (Z_STREAM_END, or an error) and sets Rest.
int CountRest(TInflateStream& Source, int64_t Limit, int64_t& Rest) {
  Rest = 0;
  TInflateStream copy;
  int code = copy.CopyFrom(Source);
  if (code != Z_OK) return code;
  constexpr size_t kScratch = 64 * 1024;
  std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[kScratch]);
  if (!scratch) return Z_MEM_ERROR;
  for (;;) {
    copy->next_out = scratch.get();
    copy->avail_out = static_cast<uInt>(std::min<int64_t>(kScratch, Limit - Rest));
    const uInt room = copy->avail_out;
    code = inflate(copy.Get(), Z_NO_FLUSH);
    Rest += room - copy->avail_out;
    if (code == Z_NEED_DICT) code = Z_STREAM_ERROR;
    if (code < 0 || code == Z_STREAM_END) return code;
    if (Rest >= Limit) return Z_MEM_ERROR;
  }
}

}  // namespace

void DecompressBuffer(const void* InBuffer, int32_t InSize, void*& OutBuffer, int32_t& OutSize,
                      int32_t OutEstimate, std::vector<int64_t>* BlockSizes, int64_t MaxOutSize,
                      const TBlockAllocator& Blocks) {
  OutBuffer = nullptr;
  OutSize = 0;
  // The result's size is a signed 32-bit number: no limit may let it wrap.
  MaxOutSize = std::min<int64_t>(MaxOutSize, INT32_MAX);
  if (InSize < 0) InSize = 0;
  // The growth step: the input size rounded up to a multiple of 256.
  // An empty input (never passed by the reader) still gets a step, so the
  // loop below cannot spin without growing.
  int64_t step = (static_cast<int64_t>(InSize) + 255) & ~int64_t{255};
  if (step == 0) step = 256;
  int64_t blockSize = OutEstimate > 0 ? OutEstimate : step;

  // Every way out below gives the block back and ends the stream through
  // these two owners, unless the block is handed to the caller.
  TAllocatedBlock block(static_cast<uint8_t*>(Blocks.Allocate(static_cast<size_t>(blockSize))), {&Blocks});
  if (!block) throw std::bad_alloc();
  // A resize that succeeds has taken over the block it was given; one that
  // fails leaves it as it was.
  auto resize = [&](int64_t Size) {
    auto* resized = static_cast<uint8_t*>(Blocks.Resize(block.get(), static_cast<size_t>(Size)));
    if (!resized) return false;
    (void)block.release();
    block.reset(resized);
    return true;
  };
  if (BlockSizes) BlockSizes->push_back(blockSize);

  TInflateStream zs;
  zs->next_in = static_cast<Bytef*>(const_cast<void*>(InBuffer));
  zs->avail_in = static_cast<uInt>(InSize);
  zs->next_out = block.get();
  zs->avail_out = static_cast<uInt>(blockSize);

  auto fail = [](int Result) { throw EZDecompressionError(ZLibErrorText(Result)); };
  int code = zs.Init();
  if (code < 0) fail(code);

  int growths = 0;
  for (;;) {
    code = inflate(zs.Get(), Z_NO_FLUSH);
    if (code == Z_NEED_DICT) fail(Z_STREAM_ERROR);  // no preset dictionary is ever supplied
    if (code < 0) fail(code);
    if (code == Z_STREAM_END) break;
    // Not finished: the output block is full (inflate stops short of the end
    // only for want of room; it never needs room for the trailer). Grow it by
    // one step, but never past what a signed 32-bit size can describe: the
    // item size is 32-bit, and a wrapped size would under-allocate.
    const int64_t produced = zs->next_out - block.get();
    if (blockSize >= MaxOutSize) fail(Z_MEM_ERROR);
    const int64_t firstStep = std::min(blockSize + step, MaxOutSize);
    int64_t newSize = firstStep;
    if (++growths > kStepByStepGrowths) {
      // A stream that outgrows this many steps is a highly compressible one
      // and may need a thousand more. Reallocating for each step copies the
      // whole block every time on heaps that cannot grow a large block in
      // place (the Windows heap), which makes the item's cost quadratic in
      // its size. So measure the rest of the output once on a copy of the
      // stream and take all remaining steps in one reallocation: the same
      // sizes, the same final block, one copy. Errors surface here exactly
      // as they would have further on.
      int64_t rest = 0;
      const int counted = CountRest(zs, MaxOutSize - produced, rest);
      if (counted != Z_STREAM_END) fail(counted);
      while (newSize < produced + rest) newSize = std::min(newSize + step, MaxOutSize);
    }
    if (!resize(newSize)) throw std::bad_alloc();
    // Every step taken is recorded, whether it took a reallocation of its own or not.
    for (int64_t size = firstStep; BlockSizes; size = std::min(size + step, MaxOutSize)) {
      BlockSizes->push_back(size);
      if (size >= newSize) break;
    }
    blockSize = newSize;
    zs->next_out = block.get() + produced;
    zs->avail_out = static_cast<uInt>(blockSize - produced);
  }

  // What was produced, counted by the output position rather than zlib's
  // total_out, which is 32 bits wide on Windows.
  const int64_t total = zs->next_out - block.get();
  code = zs.End();
  if (code < 0) fail(code);
  // The block never outgrows the limit, so neither can the total; checked
  // anyway, as a size past it would wrap negative in OutSize.
  if (total > MaxOutSize) fail(Z_MEM_ERROR);
  if (total == 0) {
    if (BlockSizes) BlockSizes->push_back(0);
    return;
  }
  // Trim to the exact size; a failed shrink keeps the larger block.
  if (total != blockSize) resize(total);
  if (BlockSizes) BlockSizes->push_back(total);
  OutBuffer = block.release();
  OutSize = static_cast<int32_t>(total);
}

std::vector<uint8_t> CompressBuffer(const void* Data, size_t Size) {
  uLongf bound = compressBound(static_cast<uLong>(Size));
  std::vector<uint8_t> out(bound);
  const int code = compress2(out.data(), &bound, static_cast<const Bytef*>(Data),
                             static_cast<uLong>(Size), Z_DEFAULT_COMPRESSION);
  if (code != Z_OK) throw EZLibError(ZLibErrorText(code));
  out.resize(bound);
  return out;
}
