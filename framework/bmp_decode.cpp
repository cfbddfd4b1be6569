#include "framework/bmp_decode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <string>

namespace {

constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3;
constexpr size_t kFileHeaderSize = 14;

[[noreturn]] void Fail(const char* Why) { throw EInvalidGraphic(std::string("Bitmap image is not valid: ") + Why); }

uint16_t U16(const uint8_t* P) { return static_cast<uint16_t>(P[0] | P[1] << 8); }
uint32_t U32(const uint8_t* P) {
  return static_cast<uint32_t>(P[0]) | static_cast<uint32_t>(P[1]) << 8 | static_cast<uint32_t>(P[2]) << 16 |
         static_cast<uint32_t>(P[3]) << 24;
}

// One colour channel of a bit-field pixel, scaled to 0..255.
struct TChannel {
  uint32_t Mask = 0;
  int Shift = 0;
  uint32_t Max = 0;

  explicit TChannel(uint32_t AMask) : Mask(AMask) {
    if (Mask == 0) return;
    Shift = std::countr_zero(Mask);
    // Only the lowest contiguous run of bits counts; a mask with holes is
    // unusual but must not make the scaling divide by zero.
    const int bits = std::countr_one(Mask >> Shift);
    Max = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
  }
  uint32_t Get(uint32_t Pixel) const {
    if (Max == 0) return 0;
    const uint64_t v = (Pixel >> Shift) & Max;
    return static_cast<uint32_t>((v * 255 + Max / 2) / Max);
  }
};

struct THeader {
  int32_t Width = 0;
  int32_t Height = 0;  // negative: top row first
  uint16_t BitCount = 0;
  uint32_t Compression = kBiRgb;
  uint32_t SizeImage = 0;
  uint32_t ClrUsed = 0;
  std::array<uint32_t, 3> Masks{};
  bool HasMasks = false;
  size_t PaletteOffset = 0;  // from the start of the file
  size_t PaletteEntrySize = 4;
};

THeader ReadHeader(const uint8_t* Data, size_t Size) {
  THeader h;
  if (Size < kFileHeaderSize + 12) Fail("too short");
  if (Data[0] != 'B' || Data[1] != 'M') Fail("no BM signature");
  const uint32_t headerSize = U32(Data + kFileHeaderSize);
  const uint8_t* p = Data + kFileHeaderSize;
  if (headerSize == 12) {
    h.Width = U16(p + 4);
    h.Height = U16(p + 6);
    h.BitCount = U16(p + 10);
    h.PaletteEntrySize = 3;
    h.PaletteOffset = kFileHeaderSize + 12;
    return h;
  }
  if (headerSize < 40) Fail("unknown header");
  if (headerSize > Size - kFileHeaderSize) Fail("header beyond the data");
  h.Width = static_cast<int32_t>(U32(p + 4));
  h.Height = static_cast<int32_t>(U32(p + 8));
  h.BitCount = U16(p + 14);
  h.Compression = U32(p + 16);
  h.SizeImage = U32(p + 20);
  h.ClrUsed = U32(p + 32);
  h.PaletteOffset = kFileHeaderSize + headerSize;
  if (h.Compression == kBiBitfields) {
    h.HasMasks = true;
    if (headerSize >= 52) {
      for (int i = 0; i < 3; ++i) h.Masks[i] = U32(p + 40 + 4 * i);
    } else {
      // A plain info header is followed by the three masks.
      if (h.PaletteOffset + 12 > Size) Fail("masks beyond the data");
      for (int i = 0; i < 3; ++i) h.Masks[i] = U32(Data + h.PaletteOffset + 4 * i);
      h.PaletteOffset += 12;
    }
  }
  return h;
}

void CheckHeader(const THeader& h) {
  if (h.Width <= 0 || h.Width > kMaxBmpSide) Fail("bad width");
  if (h.Height == 0 || h.Height < -kMaxBmpSide || h.Height > kMaxBmpSide) Fail("bad height");
  if (int64_t{h.Width} * std::abs(h.Height) > kMaxBmpPixels) Fail("too large");
  switch (h.BitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: Fail("bad bit count");
  }
  switch (h.Compression) {
    case kBiRgb: break;
    case kBiRle8: if (h.BitCount != 8 || h.Height < 0) Fail("bad RLE8"); break;
    case kBiRle4: if (h.BitCount != 4 || h.Height < 0) Fail("bad RLE4"); break;
    case kBiBitfields: if (h.BitCount != 16 && h.BitCount != 32) Fail("bad bit fields"); break;
    default: Fail("unsupported compression");
  }
}

// The colour table of a paletted picture; indices beyond it read as black.
std::vector<uint32_t> ReadPalette(const uint8_t* Data, size_t Size, const THeader& h) {
  std::vector<uint32_t> palette;
  if (h.BitCount > 8) return palette;
  const size_t full = size_t{1} << h.BitCount;
  const size_t count = (h.ClrUsed == 0 || h.ClrUsed > full) ? full : h.ClrUsed;
  if (h.PaletteOffset > Size || count * h.PaletteEntrySize > Size - h.PaletteOffset) Fail("palette beyond the data");
  palette.resize(full, 0);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = Data + h.PaletteOffset + i * h.PaletteEntrySize;
    palette[i] = static_cast<uint32_t>(e[2]) << 16 | static_cast<uint32_t>(e[1]) << 8 | e[0];
  }
  return palette;
}

void DecodeRows(const uint8_t* Bits, size_t Available, const THeader& h, const std::vector<uint32_t>& Palette,
                TBmpImage& Out) {
  const int32_t rows = std::abs(h.Height);
  const uint64_t stride = ((uint64_t{static_cast<uint32_t>(h.Width)} * h.BitCount + 31) / 32) * 4;
  if (stride * static_cast<uint64_t>(rows) > Available) Fail("pixel data ends too soon");
  std::array<uint32_t, 3> masks = h.Masks;
  if (!h.HasMasks) {
    masks = h.BitCount == 16 ? std::array<uint32_t, 3>{0x7C00, 0x03E0, 0x001F}
                             : std::array<uint32_t, 3>{0xFF0000, 0x00FF00, 0x0000FF};
  }
  const TChannel red(masks[0]), green(masks[1]), blue(masks[2]);
  for (int32_t r = 0; r < rows; ++r) {
    const uint8_t* src = Bits + stride * r;
    const int32_t y = h.Height > 0 ? rows - 1 - r : r;
    uint32_t* dst = Out.Pixels.data() + static_cast<size_t>(y) * h.Width;
    for (int32_t x = 0; x < h.Width; ++x) {
      switch (h.BitCount) {
        case 1: dst[x] = Palette[(src[x >> 3] >> (7 - (x & 7))) & 1]; break;
        case 4: dst[x] = Palette[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF]; break;
        case 8: dst[x] = Palette[src[x]]; break;
        case 24: {
          const uint8_t* px = src + 3 * x;
          dst[x] = static_cast<uint32_t>(px[2]) << 16 | static_cast<uint32_t>(px[1]) << 8 | px[0];
          break;
        }
        default: {
          const uint32_t v = h.BitCount == 16 ? U16(src + 2 * x) : U32(src + 4 * x);
          dst[x] = red.Get(v) << 16 | green.Get(v) << 8 | blue.Get(v);
        }
      }
    }
  }
}

// Run-length encoded pixels. Runs and deltas that leave the picture are
// clipped; data that ends without an end-of-bitmap mark ends the picture.
void DecodeRle(const uint8_t* Bits, size_t Available, const THeader& h, const std::vector<uint32_t>& Palette,
               TBmpImage& Out) {
  const bool four = h.Compression == kBiRle4;
  int64_t x = 0, row = 0;  // row counts from the bottom
  const int64_t width = h.Width, rows = h.Height;
  auto put = [&](uint8_t Index) {
    if (x < width && row < rows) Out.Pixels[static_cast<size_t>((rows - 1 - row) * width + x)] = Palette[Index];
    ++x;
  };
  size_t i = 0;
  while (i + 1 < Available && row < rows) {
    const uint8_t count = Bits[i], value = Bits[i + 1];
    i += 2;
    if (count > 0) {
      for (int n = 0; n < count && x < width; ++n) put(four ? ((n & 1) ? value & 0xF : value >> 4) : value);
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++row;
    } else if (value == 1) {  // end of bitmap
      break;
    } else if (value == 2) {  // delta
      if (i + 1 >= Available) break;
      x += Bits[i];
      row += Bits[i + 1];
      i += 2;
    } else {  // literal run of `value` pixels, padded to a 16-bit boundary
      const size_t bytes = four ? (value + 1) / 2 : value;
      if (bytes > Available - i) Fail("run beyond the data");
      for (int n = 0; n < value; ++n) {
        const uint8_t b = Bits[i + (four ? n / 2 : n)];
        if (x < width) put(four ? ((n & 1) ? b & 0xF : b >> 4) : b);
      }
      i += bytes + (bytes & 1);
    }
  }
}

}  // namespace

TBmpImage DecodeBmp(const uint8_t* Data, size_t Size) {
  if (!Data) Fail("no data");
  const THeader h = ReadHeader(Data, Size);
  CheckHeader(h);
  const std::vector<uint32_t> palette = ReadPalette(Data, Size, h);

  // Where the pixels start: the file header says; a zero there means
  // "right after the colour table", which some writers leave.
  size_t offset = U32(Data + 10);
  if (offset == 0) {
    const size_t paletteBytes = h.BitCount <= 8 ? palette.size() * h.PaletteEntrySize : 0;
    offset = h.PaletteOffset + paletteBytes;
  }
  if (offset < kFileHeaderSize || offset > Size) Fail("pixel data outside the file");
  size_t available = Size - offset;

  TBmpImage image;
  image.Width = h.Width;
  image.Height = std::abs(h.Height);
  image.Pixels.assign(static_cast<size_t>(image.Width) * image.Height, 0);
  if (h.Compression == kBiRle8 || h.Compression == kBiRle4) {
    if (h.SizeImage != 0) available = std::min<size_t>(available, h.SizeImage);
    DecodeRle(Data + offset, available, h, palette, image);
  } else {
    DecodeRows(Data + offset, available, h, palette, image);
  }
  return image;
}
