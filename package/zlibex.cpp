#include "package/zlibex.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <new>

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

void DecompressBuffer(const void* InBuffer, int32_t InSize, void*& OutBuffer, int32_t& OutSize,
                      int32_t OutEstimate, std::vector<int64_t>* BlockSizes, int64_t MaxOutSize) {
  OutBuffer = nullptr;
  OutSize = 0;
  if (InSize < 0) InSize = 0;
  // The growth step: the input size rounded up to a multiple of 256.
  // An empty input (never passed by the reader) still gets a step, so the
  // loop below cannot spin without growing.
  int64_t step = (static_cast<int64_t>(InSize) + 255) & ~int64_t{255};
  if (step == 0) step = 256;
  int64_t blockSize = OutEstimate > 0 ? OutEstimate : step;

  auto* block = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(blockSize)));
  if (!block) throw std::bad_alloc();
  if (BlockSizes) BlockSizes->push_back(blockSize);

  z_stream zs{};
  zs.next_in = static_cast<Bytef*>(const_cast<void*>(InBuffer));
  zs.avail_in = static_cast<uInt>(InSize);
  zs.next_out = block;
  zs.avail_out = static_cast<uInt>(blockSize);

  int code = inflateInit(&zs);
  auto fail = [&](int result) {
    inflateEnd(&zs);
    std::free(block);
    throw EZDecompressionError(ZLibErrorText(result));
  };
  if (code < 0) {
    std::free(block);
    throw EZDecompressionError(ZLibErrorText(code));
  }

  for (;;) {
    code = inflate(&zs, Z_NO_FLUSH);
    if (code == Z_NEED_DICT) fail(Z_STREAM_ERROR);  // no preset dictionary is ever supplied
    if (code < 0) fail(code);
    if (code == Z_STREAM_END) break;
    // Not finished: the output block is full. Grow it by one step, but never
    // past what a signed 32-bit size can describe: the item size is 32-bit,
    // and a wrapped size would under-allocate.
    const int64_t produced = static_cast<int64_t>(zs.total_out);
    if (blockSize >= MaxOutSize) fail(Z_MEM_ERROR);
    blockSize = std::min(blockSize + step, MaxOutSize);
    auto* grown = static_cast<uint8_t*>(std::realloc(block, static_cast<size_t>(blockSize)));
    if (!grown) {
      inflateEnd(&zs);
      std::free(block);
      throw std::bad_alloc();
    }
    block = grown;
    if (BlockSizes) BlockSizes->push_back(blockSize);
    zs.next_out = block + produced;
    zs.avail_out = static_cast<uInt>(blockSize - produced);
  }

  const int64_t total = static_cast<int64_t>(zs.total_out);
  code = inflateEnd(&zs);
  if (code < 0) {
    std::free(block);
    throw EZDecompressionError(ZLibErrorText(code));
  }
  if (total == 0) {
    std::free(block);
    if (BlockSizes) BlockSizes->push_back(0);
    return;
  }
  // Trim to the exact size; a failed shrink keeps the larger block.
  if (total != blockSize) {
    if (auto* trimmed = static_cast<uint8_t*>(std::realloc(block, static_cast<size_t>(total))))
      block = trimmed;
  }
  if (BlockSizes) BlockSizes->push_back(total);
  OutBuffer = block;
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
