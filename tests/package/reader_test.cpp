// The package reader against well-formed, odd and garbled packages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>
#endif

#ifdef PL_ALLOC_COUNTER
#include "bench/alloc_counter.h"
#endif
#include "package/exe_adder.h"
#include "package/stream.h"
#include "package/zlibex.h"
#include "tests/support/package_builder.h"
#include "util/raii.h"

namespace {

TOwnedItems ReadFrom(const std::vector<uint8_t>& File) {
  TMemoryStream s(File);
  TOwnedItems items;
  ReadExeItems(s, items);
  return items;
}

std::string DataOf(const TItemType& Item) {
  return Item.Data ? std::string(reinterpret_cast<const char*>(Item.Data), Item.Size) : std::string();
}

const std::vector<uint8_t> kStub = Bytes("MZ this stands in for an executable image");

}  // namespace

TEST(PackageReader, SmallestPackageHasTheDocumentedLayout) {
  // One stored item, 4-byte name, 1 byte of data: body 22, trailer 12.
  const auto package = BuildPackage(0, {StoredItem("Loop", std::vector<uint8_t>{1})});
  ASSERT_EQ(package.size(), 34u);
  const std::vector<uint8_t> expected = {
      0, 0, 0, 0,  1, 0, 0, 0,  4, 0, 0, 0, 'L', 'o', 'o', 'p', 0, 1, 0, 0, 0, 1,
      22, 0, 0, 0, 0, 0, 0, 0,  'P', 'L', 'W', 'S'};
  EXPECT_EQ(package, expected);

  auto items = ReadFrom(WithPackage(kStub, 0, {StoredItem("Loop", std::vector<uint8_t>{1})}));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].Name, "Loop");
  EXPECT_EQ(items[0].Size, 1);
  EXPECT_EQ(items[0].Compressed, 0);
  EXPECT_EQ(DataOf(items[0]), std::string(1, '\1'));
}

TEST(PackageReader, ItemsComeBackInOrderWithDuplicatesAndPlainData) {
  const std::string movie(5000, 'm');
  auto items = ReadFrom(WithPackage(kStub, 0x33,
                                    {CompressedItem("GUID", "{X}"), StoredItem("FlashLoop", "\1"),
                                     CompressedItem("FlashSwf", movie), StoredItem("GUID", "{Y}")}));
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].Name, "GUID");
  EXPECT_EQ(DataOf(items[0]), "{X}");
  EXPECT_NE(items[0].Compressed, 0);
  EXPECT_EQ(items[1].Name, "FlashLoop");
  EXPECT_EQ(items[2].Size, 5000);
  EXPECT_EQ(DataOf(items[2]), movie);
  EXPECT_EQ(items[3].Name, "GUID");
  EXPECT_EQ(DataOf(items[3]), "{Y}");
}

TEST(PackageReader, NoPackageGivesAnEmptyList) {
  auto withMagic = [](const char* Magic) {
    auto f = WithPackage(kStub, 0, {StoredItem("A", "1")});
    std::memcpy(f.data() + f.size() - 4, Magic, 4);
    return f;
  };
  EXPECT_TRUE(ReadFrom(withMagic("plws")).empty());
  EXPECT_TRUE(ReadFrom(withMagic("PLW ")).empty());
  EXPECT_TRUE(ReadFrom(kStub).empty());
  EXPECT_TRUE(ReadFrom({}).empty());
  EXPECT_TRUE(ReadFrom(Bytes("PLWS")).empty());               // shorter than the trailer
  EXPECT_TRUE(ReadFrom(BuildPackage(7, {})).empty());          // count 0
  TItemTypes items;
  ReadExeItems("/nonexistent/dir/saver.scr", items);
  EXPECT_TRUE(items.empty());
}

TEST(PackageReader, ReadingEmptiesTheListFirst) {
  TItemTypes items(3);
  items[0].Name = "stale";
  TMemoryStream s(kStub);
  ReadExeItems(s, items);
  EXPECT_TRUE(items.empty());
}

TEST(PackageReader, OnlyTheLowByteOfTheKeyUnscramblesNames) {
  const std::vector<TPackageRecord> recs = {StoredItem("FlashVars", "x"), StoredItem("ÄÖ\x01", "y")};
  // Pairs of keys that differ only above their low byte, whose top bit is
  // clear in the first pair and set in the second (the second key of that
  // pair is negative).
  for (const auto& [keyA, keyB] : {std::pair<int32_t, int32_t>{0x00001234, 0x7FFF0034},
                                   std::pair<int32_t, int32_t>{0x000012B4, -0x4C}}) {
    SCOPED_TRACE(keyA);
    auto a = ReadFrom(WithPackage(kStub, keyA, recs));
    auto b = ReadFrom(WithPackage(kStub, keyB, recs));
    ASSERT_EQ(a.size(), 2u);
    ASSERT_EQ(b.size(), 2u);
    EXPECT_EQ(a[0].Name, "FlashVars");
    EXPECT_EQ(b[0].Name, "FlashVars");
    EXPECT_EQ(a[1].Name, "ÄÖ\x01");
    EXPECT_EQ(a[1].Name, b[1].Name);
  }

  // With a low byte of 0 the stored bytes are the names.
  auto raw = WithPackage(kStub, 0x100, {StoredItem("Name", "v")});
  EXPECT_NE(std::string(raw.begin(), raw.end()).find("Name"), std::string::npos);
  auto c = ReadFrom(raw);
  EXPECT_EQ(c[0].Name, "Name");

  // And the stored name really is scrambled otherwise.
  auto scrambled = WithPackage(kStub, 0x20, {StoredItem("Name", "v")});
  EXPECT_EQ(std::string(scrambled.begin(), scrambled.end()).find("Name"), std::string::npos);
  EXPECT_EQ(XorString(XorString("Name", 0x20), 0x20), "Name");
  EXPECT_EQ(XorString("Name", 0x20), "nAME");
}

TEST(PackageReader, AnyNonZeroFlagMeansCompressed) {
  const auto z = Deflate(Bytes("inflated text"));
  for (uint8_t flag : {1, 2, 255}) {
    const auto file = WithPackage(kStub, 0, {TPackageRecord{"T", flag, z}});
    // Both ways of reading: a memory stream lends the stored bytes, a file
    // (natively) has them read into a block first.
    TTempFile onDisk(file);
    TOwnedItems fromFile;
    ReadExeItems(onDisk.Path, fromFile);
    for (const TOwnedItems& items : {ReadFrom(file), std::move(fromFile)}) {
      ASSERT_EQ(items.size(), 1u) << int(flag);
      EXPECT_EQ(items[0].Compressed, flag);
      EXPECT_EQ(DataOf(items[0]), "inflated text") << int(flag);
    }
  }
}

TEST(PackageReader, EmptyItemsKeepTheirNamesWithoutData) {
  auto items = ReadFrom(WithPackage(kStub, 9,
                                    {StoredItem("stored0", std::vector<uint8_t>{}),
                                     TPackageRecord{"compressed0", 1, {}},
                                     CompressedItem("inflatesToNothing", std::vector<uint8_t>{}),
                                     StoredItem("after", "a")}));
  ASSERT_EQ(items.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(items[i].Data, nullptr) << items[i].Name;
    EXPECT_EQ(items[i].Size, 0) << items[i].Name;
  }
  EXPECT_EQ(items[0].Name, "stored0");
  EXPECT_EQ(items[1].Name, "compressed0");
  EXPECT_EQ(items[2].Name, "inflatesToNothing");
  EXPECT_EQ(DataOf(items[3]), "a");
}

TEST(PackageReader, CorruptStreamRaisesDataErrorAndKeepsEarlierItems) {
  auto bad = Deflate(Bytes(std::string(300, 'q')));
  bad[bad.size() - 1] ^= 0xFF;  // wrong Adler-32
  TMemoryStream s(WithPackage(kStub, 0, {StoredItem("first", "1"), CompressedItem("second", "22"),
                                         TPackageRecord{"bad", 1, bad}, StoredItem("later", "4")}));
  TOwnedItems items;
  try {
    ReadExeItems(s, items);
    FAIL() << "no exception";
  } catch (const EZDecompressionError& e) {
    EXPECT_STREQ(e.what(), "data error");
    const EZLibError& base = e;  // the reader's errors share one base class
    (void)base;
    // The package tool learns which record it was and where its data lies.
    const auto* item = dynamic_cast<const EPackageItemError*>(&e);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Fault().Record, 2);
    const int64_t dataAt = static_cast<int64_t>(kStub.size()) + 8 + (4 + 5 + 1 + 4 + 1) + (4 + 6 + 1 + 4) +
                           static_cast<int64_t>(Deflate(Bytes("22")).size()) + (4 + 3 + 1 + 4);
    EXPECT_EQ(item->Fault().Offset, dataAt);
    char expected[64];
    std::snprintf(expected, sizeof expected, "record 2 at offset 0x%llx: data error",
                  static_cast<unsigned long long>(dataAt));
    EXPECT_EQ(item->Fault().Text(), expected);
  }
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(DataOf(items[0]), "1");
  EXPECT_EQ(DataOf(items[1]), "22");
  // The failing entry and those after it are still the empty entries.
  for (int i : {2, 3}) {
    EXPECT_EQ(items[i].Name, "");
    EXPECT_EQ(items[i].Data, nullptr);
    EXPECT_EQ(items[i].Size, 0);
  }
}

TEST(Decompress, ErrorTextsFollowZlib) {
  auto expectError = [](const std::vector<uint8_t>& In, const char* Text) {
    void* out = reinterpret_cast<void*>(1);
    int32_t size = -1;
    try {
      DecompressBuffer(In.data(), static_cast<int32_t>(In.size()), out, size, 0);
      ADD_FAILURE() << "no error for " << Text;
    } catch (const EZDecompressionError& e) {
      EXPECT_STREQ(e.what(), Text);
    }
  };
  auto z = Deflate(Bytes(std::string(1000, 'a') + "tail"));
  expectError(std::vector<uint8_t>(z.begin(), z.begin() + z.size() / 2), "buffer error");  // cut short
  expectError(Bytes("not a zlib stream at all"), "data error");
  // Header asking for a preset dictionary (FDICT set; 0x78 0xBB passes the check).
  expectError({0x78, 0xBB, 0x00, 0x00, 0x00, 0x01, 0x03, 0x00}, "stream error");
  EXPECT_STREQ(ZLibErrorText(-1), "file error");
  EXPECT_STREQ(ZLibErrorText(-4), "insufficient memory");
  EXPECT_STREQ(ZLibErrorText(-6), "incompatible version");
}

namespace {

// The heap, with the size of every block it hands out or resizes recorded:
// what the inflation really allocated, beside what it reports.
struct TRecordingBlocks {
  static inline std::vector<size_t> Sizes;
  static void* Allocate(size_t Size) {
    Sizes.push_back(Size);
    return std::malloc(Size);
  }
  static void* Resize(void* Block, size_t Size) {
    Sizes.push_back(Size);
    return std::realloc(Block, Size);
  }
  static constexpr TBlockAllocator kAllocator = {Allocate, Resize, std::free};
};

}  // namespace

TEST(Decompress, BlockStartsAtRoundedInputSizeAndEndsExact) {
  // A 46-byte stream: first block 256, no growth needed, trimmed to the content.
  std::string text;
  for (int i = 0; i < 30; ++i) text += static_cast<char>('a' + (i * 7) % 26);
  auto z = Deflate(Bytes(text));
  while (z.size() < 46) {  // pad the content until the stream is 46 bytes
    text += static_cast<char>('A' + z.size() % 26);
    z = Deflate(Bytes(text));
  }
  ASSERT_EQ(z.size(), 46u);
  TUniqueMalloc out;
  int32_t size = 0;
  std::vector<int64_t> blocks;
  TRecordingBlocks::Sizes.clear();
  DecompressBuffer(z.data(), 46, *out.Put(), size, 0, &blocks, INT32_MAX, TRecordingBlocks::kAllocator);
  EXPECT_EQ(size, static_cast<int32_t>(text.size()));
  EXPECT_EQ(std::string(static_cast<char*>(out.Get()), size), text);
  EXPECT_EQ(blocks, (std::vector<int64_t>{256, static_cast<int64_t>(text.size())}));
  // The block really allocated: 256 bytes, then trimmed to the content.
  EXPECT_EQ(TRecordingBlocks::Sizes, (std::vector<size_t>{256, text.size()}));

  // The step is the input size rounded up to a multiple of 256: 256 stays,
  // 257 takes the next. Stored deflate blocks give streams of exact sizes
  // (11 bytes of header, block header and checksum around the content).
  for (const auto& [streamSize, firstBlock] : {std::pair<size_t, int64_t>{256, 256}, {257, 512}}) {
    const std::vector<uint8_t> content(streamSize - 11, 'k');
    const auto stored = DeflateAtLevel(content, 0);
    ASSERT_EQ(stored.size(), streamSize);
    blocks.clear();
    DecompressBuffer(stored.data(), static_cast<int32_t>(stored.size()), *out.Put(), size, 0, &blocks);
    EXPECT_EQ(blocks, (std::vector<int64_t>{firstBlock, static_cast<int64_t>(content.size())})) << streamSize;
  }
}

TEST(Decompress, GrowsByTheRoundedInputSize) {
  // 3000 zero bytes compress to a few bytes: D = 256, so the block grows in 256 steps.
  auto z = Deflate(std::vector<uint8_t>(3000, 0));
  ASSERT_LE(z.size(), 256u);
  TUniqueMalloc out;
  int32_t size = 0;
  std::vector<int64_t> blocks;
  DecompressBuffer(z.data(), static_cast<int32_t>(z.size()), *out.Put(), size, 0, &blocks);
  ASSERT_EQ(size, 3000);
  ASSERT_GE(blocks.size(), 3u);
  for (size_t i = 0; i + 1 < blocks.size(); ++i) EXPECT_EQ(blocks[i], 256 * int64_t(i + 1));
  EXPECT_EQ(blocks.back(), 3000);
  EXPECT_EQ(blocks[blocks.size() - 2], 3072);

  // An estimate replaces the initial size.
  blocks.clear();
  DecompressBuffer(z.data(), static_cast<int32_t>(z.size()), *out.Put(), size, 4000, &blocks);
  EXPECT_EQ(blocks, (std::vector<int64_t>{4000, 3000}));
}

// A highly compressible item that is not all one byte, so output written to
// the wrong place of the block shows.
std::vector<uint8_t> MarkedRuns(size_t Size) {
  std::vector<uint8_t> bytes(Size, 'x');
  for (size_t i = 0; i < Size; i += 4096) bytes[i] = static_cast<uint8_t>(i / 4096);
  return bytes;
}

// 1000 noise bytes, then runs: two growth steps, each taken on its own.
std::vector<uint8_t> FewSteps() {
  std::vector<uint8_t> bytes(3000, 'x');
  uint32_t v = 12345;
  for (size_t i = 0; i < 1000; ++i) bytes[i] = static_cast<uint8_t>((v = v * 1103515245 + 12345) >> 24);
  return bytes;
}

TEST(Decompress, GrowthKeepsEveryByteAndEveryStep) {
  for (const auto& plain : {FewSteps(), MarkedRuns(1 << 20)}) {
    const auto z = Deflate(plain);
    const int64_t step = (static_cast<int64_t>(z.size()) + 255) / 256 * 256;
    const auto n = static_cast<int32_t>(z.size());
    for (const int32_t estimate : {0, 1000}) {
      SCOPED_TRACE(std::to_string(plain.size()) + " bytes, estimate " + std::to_string(estimate));
      TUniqueMalloc out;
      int32_t size = 0;
      std::vector<int64_t> blocks;
      DecompressBuffer(z.data(), n, *out.Put(), size, estimate, &blocks);
      ASSERT_EQ(size, static_cast<int32_t>(plain.size()));
      EXPECT_EQ(std::memcmp(out.Get(), plain.data(), plain.size()), 0);
      // Initial block, one entry per step up to the first that holds it all, the trim.
      std::vector<int64_t> expected{estimate > 0 ? estimate : step};
      while (expected.back() < static_cast<int64_t>(plain.size())) expected.push_back(expected.back() + step);
      expected.push_back(static_cast<int64_t>(plain.size()));
      EXPECT_EQ(blocks, expected);
      // The small item really takes the step-by-step path (two growths).
      if (estimate == 0 && plain.size() == 3000) {
        EXPECT_EQ(blocks.size(), 4u);
      }
    }
  }
}

TEST(Decompress, DamageFarIntoAManyStepItemReportsAsEver) {
  const auto z = Deflate(MarkedRuns(1 << 20));
  auto expectError = [](std::vector<uint8_t> In, const char* Message) {
    TUniqueMalloc out;
    int32_t size = 0;
    try {
      DecompressBuffer(In.data(), static_cast<int32_t>(In.size()), *out.Put(), size, 0);
      ADD_FAILURE() << "no error for " << Message;
    } catch (const EZDecompressionError& e) {
      EXPECT_STREQ(e.what(), Message);
      EXPECT_FALSE(out);
    }
  };
  ASSERT_GE(z.size(), 16u);
  std::vector<uint8_t> badSum(z.begin(), z.end() - 1);  // the Adler-32 of the content, off by one bit
  badSum.push_back(static_cast<uint8_t>(z[z.size() - 1] ^ 0x01));
  expectError(badSum, "data error");
  expectError(std::vector<uint8_t>(z.begin(), z.end() - 6), "buffer error");  // cut inside the data

  // The size limit holds as well: one byte short is an error, exactly enough fits.
  TUniqueMalloc out;
  int32_t size = 0;
  const auto n = static_cast<int32_t>(z.size());
  EXPECT_THROW(DecompressBuffer(z.data(), n, *out.Put(), size, 0, nullptr, (1 << 20) - 1), EZDecompressionError);
  EXPECT_FALSE(out);
  DecompressBuffer(z.data(), n, *out.Put(), size, 0, nullptr, 1 << 20);
  EXPECT_EQ(size, 1 << 20);
}

TEST(Decompress, OutputPastTheSizeLimitIsAnErrorNotAWrap) {
  auto z = Deflate(std::vector<uint8_t>(5000, 7));
  TUniqueMalloc out;
  int32_t size = 0;
  try {
    DecompressBuffer(z.data(), static_cast<int32_t>(z.size()), *out.Put(), size, 0, nullptr, 1000);
    FAIL() << "no error";
  } catch (const EZDecompressionError& e) {
    EXPECT_STREQ(e.what(), "insufficient memory");
  }
  EXPECT_FALSE(out);
  // Exactly at the limit still fits.
  DecompressBuffer(z.data(), static_cast<int32_t>(z.size()), *out.Put(), size, 0, nullptr, 5000);
  EXPECT_EQ(size, 5000);
}

#if defined(__linux__)
namespace {

// Output blocks of up to 2 GiB backed by one MiB of memory, mapped again and
// again over a reserved range: the byte at offset x is the byte at x mod
// 1 MiB. Right for output that is all zeros, which is all the tests below
// inflate into it. One block at a time.
struct TAliasedBlocks {
  static constexpr size_t kPiece = size_t{1} << 20;
  static constexpr size_t kSpan = (size_t{1} << 31) + 8 * kPiece;
  static inline int Fd = -1;
  static inline uint8_t* Base = nullptr;
  static inline size_t Mapped = 0;

  static void* Resize(void* Block, size_t Size) {
    if (Block != Base || Size > kSpan) return nullptr;
    for (; Mapped < Size; Mapped += kPiece)
      if (mmap(Base + Mapped, kPiece, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, Fd, 0) == MAP_FAILED)
        return nullptr;
    return Base;
  }
  static void* Allocate(size_t Size) {
    if (Base) return nullptr;
    Fd = memfd_create("pl-aliased-block", MFD_CLOEXEC);
    if (Fd < 0 || ftruncate(Fd, kPiece) != 0) return nullptr;
    void* range = mmap(nullptr, kSpan, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (range == MAP_FAILED) return nullptr;
    Base = static_cast<uint8_t*>(range);
    Mapped = 0;
    return Resize(Base, Size);
  }
  static void Release(void*) {
    if (Base) munmap(Base, kSpan);
    if (Fd >= 0) close(Fd);
    Base = nullptr;
    Fd = -1;
  }
  static constexpr TBlockAllocator kAllocator = {Allocate, Resize, Release};
};

// Raw deflate blocks for Size zero bytes, ended by a full flush, so that the
// segment stands alone and copies of it follow each other in one stream.
std::vector<uint8_t> ZeroSegment(int64_t Size) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  static const std::vector<uint8_t> zeros(1 << 20, 0);
  std::vector<uint8_t> out;
  uint8_t buf[1 << 16];
  for (int64_t left = Size;;) {
    const auto n = static_cast<uInt>(std::min<int64_t>(left, static_cast<int64_t>(zeros.size())));
    z.next_in = const_cast<Bytef*>(zeros.data());
    z.avail_in = n;
    left -= n;
    const int flush = left == 0 ? Z_FULL_FLUSH : Z_NO_FLUSH;
    do {
      z.next_out = buf;
      z.avail_out = sizeof buf;
      deflate(&z, flush);
      out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
    } while (z.avail_out == 0 || z.avail_in > 0);
    if (left == 0) break;
  }
  deflateEnd(&z);
  return out;
}

// A zlib stream that inflates to Size zero bytes, made without deflating them
// all: one segment of 64 MiB repeated, then the rest.
std::vector<uint8_t> ZerosStream(int64_t Size) {
  constexpr int64_t kSegment = int64_t{1} << 26;
  static const std::vector<uint8_t> whole = ZeroSegment(kSegment);
  std::vector<uint8_t> out = {0x78, 0x9C};
  for (int64_t i = 0; i < Size / kSegment; ++i) out.insert(out.end(), whole.begin(), whole.end());
  if (Size % kSegment) {
    const auto rest = ZeroSegment(Size % kSegment);
    out.insert(out.end(), rest.begin(), rest.end());
  }
  out.push_back(0x03);  // an empty final block with fixed codes
  out.push_back(0x00);
  // Adler-32 of zeros: the byte sum stays 1, the sum of sums counts the bytes.
  const auto adler = static_cast<uint32_t>((Size % 65521) << 16 | 1);
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(adler >> shift));
  return out;
}

}  // namespace

TEST(Decompress, TwoGibibytesAreInsufficientMemoryOneByteLessFits) {
  // The helper's stream is sound: a small one inflates as zlib's own would.
  {
    const auto z = ZerosStream(100000);
    TUniqueMalloc out;
    int32_t size = 0;
    DecompressBuffer(z.data(), static_cast<int32_t>(z.size()), *out.Put(), size, 0);
    EXPECT_EQ(size, 100000);
    EXPECT_EQ(std::vector<uint8_t>(static_cast<uint8_t*>(out.Get()), static_cast<uint8_t*>(out.Get()) + size),
              std::vector<uint8_t>(100000, 0));
  }
  // 2^31 - 1 bytes: the largest item a signed 32-bit size holds.
  {
    const auto z = ZerosStream(std::numeric_limits<int32_t>::max());
    void* out = nullptr;
    int32_t size = 0;
    DecompressBuffer(z.data(), static_cast<int32_t>(z.size()), out, size, 0, nullptr, INT32_MAX,
                     TAliasedBlocks::kAllocator);
    EXPECT_EQ(size, std::numeric_limits<int32_t>::max());
    EXPECT_EQ(out, TAliasedBlocks::Base);
    TAliasedBlocks::Release(out);
  }
  // 2^31 bytes: an error, even when the caller allows more than 32 bits hold.
  {
    const auto z = ZerosStream(int64_t{1} << 31);
    void* out = nullptr;
    int32_t size = 0;
    try {
      DecompressBuffer(z.data(), static_cast<int32_t>(z.size()), out, size, 0, nullptr, int64_t{1} << 40,
                       TAliasedBlocks::kAllocator);
      ADD_FAILURE() << "no error; size " << size;
      TAliasedBlocks::Release(out);
    } catch (const EZDecompressionError& e) {
      EXPECT_STREQ(e.what(), "insufficient memory");
    }
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(TAliasedBlocks::Base, nullptr) << "the block went back";
  }
}
#endif

TEST(GarbledPackage, LyingCountNeverAllocatesMoreThanTheBodyHolds) {
  // Key, count 2^31-1, one real record holding 1 MiB, trailer.
  TByteWriter w;
  w.I32(0).I32(std::numeric_limits<int32_t>::max()).I32(1).Raw("A").U8(0).I32(1 << 20);
  w.Raw(std::vector<uint8_t>(1 << 20, 'd'));
  w.Trailer();
  TMemoryStream s(w.Out);
  TOwnedItems items;
  TPackageFault fault;
#ifdef PL_ALLOC_COUNTER
  ASSERT_TRUE(AllocCounterActive());
  ResetAllocPeak();
  const int64_t before = AllocStats().Live;
#endif
  ReadExeItems(s, items, &fault);
#ifdef PL_ALLOC_COUNTER
  // The one record's data and little else: entries for records the count
  // claims but the body cannot hold would cost some 48 bytes for every 9
  // bytes of body, five times the file.
  const int64_t peak = AllocStats().Peak - before;
  EXPECT_LE(peak, static_cast<int64_t>(w.Out.size()) * 3 / 2) << peak << " bytes for a " << w.Out.size() << "-byte file";
  EXPECT_GE(peak, 1 << 20);  // the counter saw the data block
#endif
  ASSERT_EQ(items.size(), 1u);  // the one complete record, nothing more
  EXPECT_EQ(items[0].Name, "A");
  EXPECT_EQ(items[0].Size, 1 << 20);
  EXPECT_EQ(fault.Record, 1);
  EXPECT_EQ(fault.Offset, static_cast<int64_t>(w.Out.size()) - kTrailerSize);
  EXPECT_EQ(fault.Reason, "the body ends here, but the item count announces 2147483647 records");
}

TEST(GarbledPackage, BodyLengthOutsideTheFileGivesNothing) {
  for (int64_t length : {int64_t{-1}, int64_t{-1000}, int64_t{1} << 40, std::numeric_limits<int64_t>::max(),
                         std::numeric_limits<int64_t>::min()}) {
    TByteWriter w;
    w.Raw(kStub).I32(0).I32(1).I32(1).Raw("A").U8(0).I32(0).I64(length).Raw("PLWS");
    EXPECT_TRUE(ReadFrom(w.Out).empty()) << length;
    TMemoryStream s(w.Out);
    TItemTypes items;
    TPackageFault fault;
    ReadExeItems(s, items, &fault);
    EXPECT_EQ(fault.Text(), "offset 0x3b: body length " + std::to_string(length) +
                                " does not fit the 59 bytes before the trailer");
  }
  // A body length shorter than key + count.
  TByteWriter w;
  w.I32(5).I64(4).Raw("PLWS");
  EXPECT_TRUE(ReadFrom(w.Out).empty());
}

TEST(GarbledPackage, TruncatedRecordEndsTheListWithCompletedRecords) {
  auto make = [](auto Tail) {
    TByteWriter w;
    w.Raw(kStub);
    const size_t start = w.Out.size();
    w.I32(0).I32(3).I32(2).Raw("ok").U8(0).I32(2).Raw("v1");
    Tail(w);
    w.Trailer(start);
    return w.Out;
  };
  // Each case: the tail after the first record, where the fault lies (from
  // the second record's start) and what it says.
  struct TCase {
    const char* What;
    std::function<void(TByteWriter&)> Tail;
    int64_t FaultAt;
    std::string Reason;
  };
  const std::vector<TCase> cases = {
      {"huge name length", [](TByteWriter& w) { w.I32(0x7FFFFFFF).Raw("zz"); }, 0,
       "name length 2147483647 exceeds the 2 bytes left"},
      {"name past the body", [](TByteWriter& w) { w.I32(10).Raw("abc"); }, 0, "name length 10 exceeds the 3 bytes left"},
      {"huge data length", [](TByteWriter& w) { w.I32(1).Raw("B").U8(0).I32(0x7FFFFFF0).Raw("abc"); }, 6,
       "data length 2147483632 exceeds the 3 bytes left"},
      {"huge compressed length", [](TByteWriter& w) { w.I32(1).Raw("B").U8(1).I32(1 << 30); }, 6,
       "data length 1073741824 exceeds the 0 bytes left"},
      {"no flag byte", [](TByteWriter& w) { w.I32(1).Raw("B"); }, 5, "the stored flag and the data length are cut short"},
      {"half a length", [](TByteWriter& w) { w.I32(1).Raw("B").U8(0).U8(3).U8(0); }, 5,
       "the stored flag and the data length are cut short"},
      {"half a name length", [](TByteWriter& w) { w.U8(1).U8(0); }, 0, "the name length is cut short: 2 bytes left"},
      {"nothing after the first", [](TByteWriter&) {}, 0,
       "the body ends here, but the item count announces 3 records"},
  };
  const int64_t second = static_cast<int64_t>(kStub.size()) + 8 + 4 + 2 + 1 + 4 + 2;
  for (const auto& c : cases) {
    TMemoryStream s(make(c.Tail));
    TOwnedItems items;
    TPackageFault fault;
    ReadExeItems(s, items, &fault);
    ASSERT_EQ(items.size(), 1u) << c.What;
    EXPECT_EQ(items[0].Name, "ok") << c.What;
    EXPECT_EQ(DataOf(items[0]), "v1") << c.What;
    EXPECT_EQ(fault.Record, 1) << c.What;
    EXPECT_EQ(fault.Offset, second + c.FaultAt) << c.What;
    EXPECT_EQ(fault.Reason, c.Reason) << c.What;
  }

  // A whole package leaves no fault; a file without one neither.
  TMemoryStream whole(WithPackage(kStub, 0, {StoredItem("a", "1")}));
  TOwnedItems items;
  TPackageFault fault{5, 5, "stale"};
  ReadExeItems(whole, items, &fault);
  EXPECT_TRUE(fault.Empty());
  TMemoryStream none(kStub);
  fault.Reason = "stale";
  ReadExeItems(none, items, &fault);
  EXPECT_TRUE(fault.Empty());
}

TEST(GarbledPackage, NegativeLengthsMeanNoData) {
  TByteWriter w;
  w.I32(0).I32(3).I32(-5).U8(0).I32(-1).I32(1).Raw("C").U8(1).I32(-7).I32(1).Raw("D").U8(0).I32(1).Raw("d");
  w.Trailer();
  auto items = ReadFrom(w.Out);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].Name, "");
  EXPECT_EQ(items[0].Data, nullptr);
  EXPECT_EQ(items[1].Name, "C");
  EXPECT_EQ(items[1].Data, nullptr);
  EXPECT_EQ(DataOf(items[2]), "d");
}

// A file gives what the same bytes in memory give, on both ways of reading
// (Windows inflates from a mapping of the file; POSIX from copied blocks),
// with a compressed item last, against the file's end, and a corrupt one.
TEST(PackageFile, ReadsAFileOnDiskAsFromMemory) {
  const std::string big(300000, 'm');
  const auto file = WithPackage(kStub, 0x41,
                                {CompressedItem("GUID", "{F}"), StoredItem("FlashLoop", "\1"), CompressedItem("FlashSwf", big)});
  TTempFile f(file);
  TOwnedItems items;
  ReadExeItems(f.Path, items);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(DataOf(items[0]), "{F}");
  EXPECT_EQ(DataOf(items[1]), "\1");
  EXPECT_EQ(DataOf(items[2]), big);

  auto bad = Deflate(Bytes(big));
  bad[bad.size() / 2] ^= 0x55;
  TTempFile corrupt(WithPackage(kStub, 0, {StoredItem("first", "1"), TPackageRecord{"bad", 1, bad}}));
  std::string fromFile, fromMemory;
  TPackageFault fileFault, memoryFault;
  TOwnedItems fileItems;
  try {
    ReadExeItems(corrupt.Path, fileItems, &fileFault);
  } catch (const EZDecompressionError& e) {
    fromFile = e.what();
  }
  TMemoryStream memory(WithPackage(kStub, 0, {StoredItem("first", "1"), TPackageRecord{"bad", 1, bad}}));
  TOwnedItems memoryItems;
  try {
    ReadExeItems(memory, memoryItems, &memoryFault);
  } catch (const EZDecompressionError& e) {
    fromMemory = e.what();
  }
  EXPECT_FALSE(fromFile.empty());
  EXPECT_EQ(fromFile, fromMemory);
  EXPECT_EQ(fileFault.Text(), memoryFault.Text());
  ASSERT_EQ(fileItems.size(), 2u);
  EXPECT_EQ(DataOf(fileItems[0]), "1");
  EXPECT_EQ(fileItems[1].Data, nullptr);
}

TEST(FreeItems, ReleasesAndEmpties) {
  auto items = ReadFrom(WithPackage(kStub, 0, {StoredItem("a", "1"), StoredItem("b", "")}));
  ASSERT_EQ(items.size(), 2u);
  FreeExeItems(items);
  EXPECT_TRUE(items.empty());
  FreeExeItems(items);  // a second release finds nothing
}
