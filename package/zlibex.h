// In-memory inflation of one zlib stream, and the errors it reports.
#pragma once
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

class EZLibError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised for a corrupt, truncated or oversized compressed item; the message
// is zlib's text for the result code ("data error", "buffer error", ...).
class EZDecompressionError : public EZLibError {
 public:
  using EZLibError::EZLibError;
};

// zlib's message for a result code (-1 .. -6), "" for anything else.
const char* ZLibErrorText(int Code);

// Inflates the complete zlib stream InBuffer[0..InSize) into a new block of
// exactly the inflated size, which the caller owns and frees with std::free.
// The block starts at OutEstimate bytes, or at InSize rounded up to 256 when
// OutEstimate is 0, and grows by that rounded size at a time. An empty result
// gives OutBuffer null and OutSize 0. On failure nothing is allocated and
// EZDecompressionError is raised.
void DecompressBuffer(const void* InBuffer, int32_t InSize, void*& OutBuffer, int32_t& OutSize,
                      int32_t OutEstimate = 0);

// Where the output block comes from: the C heap, unless a test hands in an
// allocator that backs a huge block with little memory. A block it gave out
// goes back through its Release.
struct TBlockAllocator {
  void* (*Allocate)(size_t Size);
  void* (*Resize)(void* Block, size_t Size);  // keeps the content; null when it cannot
  void (*Release)(void* Block);
};
extern const TBlockAllocator kHeapBlocks;  // std::malloc, std::realloc, std::free

// The same, recording the size of the output block at every step (initial,
// each growth by one step, the final trim) for whoever wants to check them,
// with the largest output allowed (a signed 32-bit size for package items;
// a larger limit is taken as that one). Output beyond the limit is the
// "insufficient memory" error. Past the fourth growth the remaining steps are
// taken in one reallocation (the rest of the output is measured first), so
// an item needing a thousand steps is not copied a thousand times.
void DecompressBuffer(const void* InBuffer, int32_t InSize, void*& OutBuffer, int32_t& OutSize,
                      int32_t OutEstimate, std::vector<int64_t>* BlockSizes,
                      int64_t MaxOutSize = INT32_MAX, const TBlockAllocator& Blocks = kHeapBlocks);

// Deflates Data with zlib's default level (header 0x78 0x9C); for the writer.
std::vector<uint8_t> CompressBuffer(const void* Data, size_t Size);
