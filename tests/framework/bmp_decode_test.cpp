// Decoding BMP files from memory, and refusing what is not one.
#include "framework/bmp_decode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

void Put16(std::vector<uint8_t>& B, size_t At, uint32_t V) {
  B[At] = V & 0xFF;
  B[At + 1] = (V >> 8) & 0xFF;
}
void Put32(std::vector<uint8_t>& B, size_t At, uint32_t V) {
  for (int i = 0; i < 4; ++i) B[At + i] = (V >> (8 * i)) & 0xFF;
}

struct TBmpSpec {
  int32_t Width = 1, Height = 1;
  uint16_t BitCount = 24;
  uint32_t Compression = 0;
  uint32_t HeaderSize = 40;  // 12: core header
  std::vector<uint32_t> Palette;  // 0x00RRGGBB
  std::vector<uint32_t> Masks;    // written after a 40-byte header
  uint32_t ClrUsed = 0;
  uint32_t SizeImage = 0;
  bool ZeroOffset = false;
};

std::vector<uint8_t> MakeBmp(const TBmpSpec& S, const std::vector<uint8_t>& Pixels) {
  const size_t entry = S.HeaderSize == 12 ? 3 : 4;
  const size_t offset = 14 + S.HeaderSize + 4 * S.Masks.size() + entry * S.Palette.size();
  std::vector<uint8_t> b(offset, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, static_cast<uint32_t>(offset + Pixels.size()));
  Put32(b, 10, S.ZeroOffset ? 0 : static_cast<uint32_t>(offset));
  Put32(b, 14, S.HeaderSize);
  if (S.HeaderSize == 12) {
    Put16(b, 18, static_cast<uint32_t>(S.Width));
    Put16(b, 20, static_cast<uint32_t>(S.Height));
    Put16(b, 22, 1);
    Put16(b, 24, S.BitCount);
  } else if (S.HeaderSize >= 40) {
    Put32(b, 18, static_cast<uint32_t>(S.Width));
    Put32(b, 22, static_cast<uint32_t>(S.Height));
    Put16(b, 26, 1);
    Put16(b, 28, S.BitCount);
    Put32(b, 30, S.Compression);
    Put32(b, 34, S.SizeImage);
    Put32(b, 46, S.ClrUsed);
  }
  size_t at = 14 + S.HeaderSize;
  for (uint32_t m : S.Masks) Put32(b, at, m), at += 4;
  for (uint32_t c : S.Palette) {
    b[at] = c & 0xFF;
    b[at + 1] = (c >> 8) & 0xFF;
    b[at + 2] = (c >> 16) & 0xFF;
    at += entry;
  }
  b.insert(b.end(), Pixels.begin(), Pixels.end());
  return b;
}

TBmpImage Decode(const std::vector<uint8_t>& B) { return DecodeBmp(B.data(), B.size()); }

}  // namespace

TEST(BmpDecode, TrueColourBottomUpAndTopDown) {
  // 2 x 2, 24 bits, rows padded to 8 bytes, bottom row first.
  TBmpSpec s;
  s.Width = 2;
  s.Height = 2;
  const auto img = Decode(MakeBmp(s, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0, 0,     // bottom: (3,2,1) (6,5,4)
                                      0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0, 0}));  // top
  ASSERT_EQ(img.Width, 2);
  ASSERT_EQ(img.Height, 2);
  EXPECT_EQ(img.Pixels, (std::vector<uint32_t>{0x302010, 0x605040, 0x030201, 0x060504}));

  s.BitCount = 32;
  s.Height = -1;  // top row first
  const auto top = Decode(MakeBmp(s, {1, 2, 3, 0xFF, 4, 5, 6, 0xFF}));
  EXPECT_EQ(top.Height, 1);
  EXPECT_EQ(top.Pixels, (std::vector<uint32_t>{0x030201, 0x060504}));  // alpha dropped
}

TEST(BmpDecode, PalettedPictures) {
  TBmpSpec s;
  s.Width = 9;  // crosses a byte at 1 bit per pixel
  s.BitCount = 1;
  s.Palette = {0x000000, 0xABCDEF};
  const auto mono = Decode(MakeBmp(s, {0b10100000, 0b10000000, 0, 0}));
  EXPECT_EQ(mono.Pixels, (std::vector<uint32_t>{0xABCDEF, 0, 0xABCDEF, 0, 0, 0, 0, 0, 0xABCDEF}));

  s.Width = 3;
  s.BitCount = 4;
  s.Palette = {0x111111, 0x222222, 0x333333};
  s.ClrUsed = 3;
  const auto four = Decode(MakeBmp(s, {0x21, 0xF0, 0, 0}));  // index 15 lies past the table
  EXPECT_EQ(four.Pixels, (std::vector<uint32_t>{0x333333, 0x222222, 0}));

  // Core header: 3-byte colour entries; a zero pixel offset means "after the table".
  s = {};
  s.HeaderSize = 12;
  s.Width = 2;
  s.BitCount = 8;
  s.Palette.assign(256, 0);
  s.Palette[7] = 0x0000FF;
  s.Palette[200] = 0xFF0000;
  s.ZeroOffset = true;
  EXPECT_EQ(Decode(MakeBmp(s, {7, 200, 0, 0})).Pixels, (std::vector<uint32_t>{0x0000FF, 0xFF0000}));
}

TEST(BmpDecode, SixteenBitsDefaultAndBitFields) {
  TBmpSpec s;
  s.Width = 2;
  s.BitCount = 16;  // 5-5-5 without masks
  EXPECT_EQ(Decode(MakeBmp(s, {0x00, 0x7C, 0x1F, 0x00})).Pixels, (std::vector<uint32_t>{0xFF0000, 0x0000FF}));
  s.Compression = 3;  // 5-6-5 masks after the info header
  s.Masks = {0xF800, 0x07E0, 0x001F};
  EXPECT_EQ(Decode(MakeBmp(s, {0xE0, 0x07, 0x00, 0xF8})).Pixels, (std::vector<uint32_t>{0x00FF00, 0xFF0000}));
}

TEST(BmpDecode, RunLengthEncoded) {
  TBmpSpec s;
  s.Width = 4;
  s.Height = 3;
  s.BitCount = 8;
  s.Compression = 1;
  s.Palette = {0x000000, 0x111111, 0x222222, 0x333333};
  s.ClrUsed = 4;
  const auto img = Decode(MakeBmp(s, {3, 1, 0, 0,           // bottom row: 1 1 1 _, end of line
                                      0, 3, 2, 3, 1, 0,     // literal 2 3 1 and its pad byte
                                      0, 0,                 // end of line
                                      0, 2, 1, 0,           // delta: one to the right
                                      9, 3,                 // a run of 9 clipped at the edge
                                      0, 1}));              // end of bitmap
  EXPECT_EQ(img.Pixels, (std::vector<uint32_t>{0, 0x333333, 0x333333, 0x333333,          // top row
                                               0x222222, 0x333333, 0x111111, 0,
                                               0x111111, 0x111111, 0x111111, 0}));

  s.Width = 3;
  s.Height = 1;
  s.Compression = 2;
  s.BitCount = 4;
  // Alternating nibbles; the data ends without an end mark, which ends the picture.
  EXPECT_EQ(Decode(MakeBmp(s, {3, 0x12})).Pixels, (std::vector<uint32_t>{0x111111, 0x222222, 0x111111}));
}

TEST(BmpDecode, RefusesWhatIsNotAValidBitmap) {
  TBmpSpec ok;
  ok.Width = 2;
  const std::vector<uint8_t> px{1, 2, 3, 4, 5, 6, 0, 0};
  ASSERT_NO_THROW(Decode(MakeBmp(ok, px)));

  auto expectBad = [&](TBmpSpec S, std::vector<uint8_t> Pixels, const char* Why) {
    EXPECT_THROW(Decode(MakeBmp(S, Pixels)), EInvalidGraphic) << Why;
  };
  TBmpSpec s = ok;
  s.Width = 0;
  expectBad(s, px, "zero width");
  s = ok, s.Width = -2;
  expectBad(s, px, "negative width");
  s = ok, s.Height = 0;
  expectBad(s, px, "zero height");
  s = ok, s.Width = 16384, s.Height = 16384;
  expectBad(s, px, "more pixels than allowed, header asks for 1 GiB");
  s = ok, s.Width = 40000;
  expectBad(s, px, "too wide");
  s = ok, s.BitCount = 7;
  expectBad(s, px, "bit count");
  s = ok, s.Compression = 4;
  expectBad(s, px, "embedded JPEG");
  s = ok, s.Compression = 1;
  expectBad(s, px, "RLE8 at 24 bits");
  s = ok, s.BitCount = 8, s.Compression = 1, s.Height = -1, s.Palette = {0};
  expectBad(s, {0, 1}, "top-down RLE");
  s = ok, s.HeaderSize = 20;
  expectBad(s, px, "unknown header size");
  expectBad(ok, {1, 2, 3, 4, 5, 6, 0}, "pixel data one byte short");
  s = ok, s.BitCount = 8, s.Compression = 1, s.Palette = {0}, s.ClrUsed = 1;
  expectBad(s, {0, 5, 1, 1}, "literal run beyond the data");

  auto bytes = MakeBmp(ok, px);
  EXPECT_THROW(DecodeBmp(bytes.data(), 20), EInvalidGraphic) << "truncated header";
  EXPECT_THROW(DecodeBmp(nullptr, 0), EInvalidGraphic);
  auto badSig = bytes;
  badSig[1] = 'A';
  EXPECT_THROW(Decode(badSig), EInvalidGraphic);
  auto farOffset = bytes;
  Put32(farOffset, 10, 0x7FFFFFFF);
  EXPECT_THROW(Decode(farOffset), EInvalidGraphic);
  auto hugeHeader = bytes;
  Put32(hugeHeader, 14, 0xFFFFFFF0);
  EXPECT_THROW(Decode(hugeHeader), EInvalidGraphic);
  TBmpSpec pal = ok;
  pal.BitCount = 8;
  pal.Palette = {0};
  auto shortPalette = MakeBmp(pal, {});
  EXPECT_THROW(Decode(shortPalette), EInvalidGraphic) << "256-entry table missing";
}
