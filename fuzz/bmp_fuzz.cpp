// libFuzzer target: any bytes as the "DialogImage" bitmap. The decoder reads
// nothing outside the block (ASan; the block is exactly the item's size),
// refuses only with EInvalidGraphic, and a picture it returns is within the
// limits, has Width * Height pixels of 0x00RRGGBB, and is paid for by the
// bytes: an uncompressed picture needs its rows in the block, so
// Width * Height * BitCount <= 8 * Size. A run-length encoded one may leave
// pixels unpainted (deltas, an early end), so only the limit bounds it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/bmp_decode.h"
#include "fuzz/fuzz_support.h"

namespace {

uint32_t Le(const uint8_t* P, int Bytes) {
  uint32_t v = 0;
  for (int i = Bytes - 1; i >= 0; --i) v = v << 8 | P[i];
  return v;
}

// Up to 2^25 pixels per input: kept out of the coverage counting, which
// would slow this loop tenfold and learn nothing from it.
__attribute__((no_sanitize("coverage"))) bool NoTopByte(const std::vector<uint32_t>& Pixels) {
  uint32_t all = 0;
  for (uint32_t p : Pixels) all |= p;
  return all <= 0xFFFFFF;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const auto block = ExactCopy(Data, Size);
  TBmpImage image;
  try {
    image = DecodeBmp(block.get(), Size);
  } catch (const EInvalidGraphic& e) {
    FUZZ_CHECK(std::string(e.what()).rfind("Bitmap image is not valid: ", 0) == 0, "the refusal says why");
    return 0;
  }
  FUZZ_CHECK(image.Width >= 1 && image.Width <= kMaxBmpSide, "width within the limit");
  FUZZ_CHECK(image.Height >= 1 && image.Height <= kMaxBmpSide, "height within the limit");
  const int64_t pixels = int64_t{image.Width} * image.Height;
  FUZZ_CHECK(pixels <= kMaxBmpPixels, "picture within the limit");
  FUZZ_CHECK(image.Pixels.size() == static_cast<size_t>(pixels), "Width * Height pixels");
  FUZZ_CHECK(NoTopByte(image.Pixels), "pixels are 0x00RRGGBB");

  // A decoded picture has a file header and at least a core header.
  FUZZ_CHECK(Size >= 26, "a picture from a block too short for its headers");
  const uint32_t headerSize = Le(Data + 14, 4);
  const bool core = headerSize == 12;
  FUZZ_CHECK(core || (headerSize >= 40 && Size >= 14 + static_cast<size_t>(headerSize)), "a header the block holds");
  const uint32_t bitCount = Le(Data + (core ? 24 : 28), 2);
  const uint32_t compression = core ? 0 : Le(Data + 30, 4);
  if (compression != 1 && compression != 2)
    FUZZ_CHECK(pixels * bitCount <= 8 * static_cast<int64_t>(Size),
               "an uncompressed picture has its rows in the block: " + std::to_string(image.Width) + " x " +
                   std::to_string(image.Height) + " x " + std::to_string(bitCount) + " bits from " +
                   std::to_string(Size) + " bytes");
  return 0;
}
