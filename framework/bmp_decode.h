// Reading a Windows bitmap file (BMP) held in memory into plain pixels, so
// the picture bytes from a package are checked here, bounds and all, before
// any of them reach the graphics system.
#pragma once
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

// Bytes that are not a bitmap this reader understands, or that end too soon.
class EInvalidGraphic : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TBmpImage {
  int32_t Width = 0;
  int32_t Height = 0;
  // Width * Height pixels, top row first, each 0x00RRGGBB (the byte order of
  // a 32-bit top-down device-independent bitmap).
  std::vector<uint32_t> Pixels;
};

// The largest picture accepted, per side and in all: a bigger one is refused
// rather than allowed to claim the memory its header asks for.
constexpr int32_t kMaxBmpSide = 16384;
constexpr int64_t kMaxBmpPixels = int64_t{1} << 25;

// Decodes a whole BMP file: the file header, a core (12-byte) or info
// (40-byte or longer) header, 1, 4, 8, 16, 24 or 32 bits per pixel,
// uncompressed, bit fields, or run-length encoded (8 and 4 bits). Throws
// EInvalidGraphic for anything else and for pixel data that the buffer does
// not hold.
TBmpImage DecodeBmp(const uint8_t* Data, size_t Size);
