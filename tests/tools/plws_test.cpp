// The package tool: manifests, true round trips of packages it did not
// write, safe extraction, `check`, `upgrade`, telling this project's stub
// from another, and how it answers bad input and usage.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "package/exe_adder.h"
#include "package/raii_items.h"
#include "tests/support/package_builder.h"
#include "flash/emulator_resource.h"
#include "tools/plws/platform.h"
#include "tools/plws/plws.h"
#include "tools/plws/stub.h"

namespace fs = std::filesystem;

namespace {

struct TempDir {
  fs::path Path;
  TempDir() {
    Path = fs::temp_directory_path() / ("plws_test_" + std::to_string(std::random_device{}()));
    fs::create_directories(Path);
  }
  ~TempDir() { fs::remove_all(Path); }
  std::string operator/(const std::string& Name) const { return (Path / Name).string(); }
};

void Write(const std::string& Path, const std::string& Text) { std::ofstream(Path, std::ios::binary) << Text; }
void Write(const std::string& Path, const std::vector<uint8_t>& B) { Write(Path, std::string(B.begin(), B.end())); }

std::string Read(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

struct TRun {
  int Status;
  std::string Out, Err;
};

// The plws binary of the build.
std::string PlwsBinary() {
  const char* bin = std::getenv("PL_BINARY_DIR");
  return std::string(bin ? bin : ".") + "/tools/plws/plws";
}

// Runs the plws binary (or a copy of it, Exe) with Args, stdout and stderr apart.
TRun Plws(const std::string& Args, const std::string& Exe = PlwsBinary()) {
  const std::string& exe = Exe;
  TempDir out;
  const int raw = std::system((exe + " " + Args + " >" + out / "o" + " 2>" + out / "e").c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Read(out / "o"), Read(out / "e")};
}

std::string ErrorOf(const std::string& Manifest, const std::string& BaseDir = ".") {
  try {
    ParseManifest(Manifest, BaseDir, "m.plws");
  } catch (const EPlwsError& e) {
    return e.what();
  }
  return "no error";
}

bool Has(const std::string& Text, const std::string& Part) { return Text.find(Part) != std::string::npos; }

// A Windows executable image reduced to what the stub test reads: the
// headers (PE32+, or PE32 with Pe32) and one section of resources holding
// resource Type/Id, with an icon and a named resource before it to pass over.
std::vector<uint8_t> StubImage(const std::vector<uint8_t>& Data, uint32_t Type = 10,
                               uint32_t Id = PL_EMULATOR_RESOURCE, bool Pe32 = false) {
  constexpr uint32_t kRva = 0x3000, kFileOffset = 0x400, kSub = 0x80000000u;
  auto u16 = [](TByteWriter& W, uint16_t V) { W.U8(static_cast<uint8_t>(V)).U8(static_cast<uint8_t>(V >> 8)); };
  auto u32 = [](TByteWriter& W, uint32_t V) { W.I32(static_cast<int32_t>(V)); };
  TByteWriter r;
  auto directory = [&](uint16_t Named, uint16_t Numbered) {
    u32(r, 0), u32(r, 0), u32(r, 0), u16(r, Named), u16(r, Numbered);
  };
  auto entry = [&](uint32_t Name, uint32_t Target) { u32(r, Name), u32(r, Target); };
  const uint32_t name = 0xAC + static_cast<uint32_t>(Data.size());
  directory(0, 2);  // 0x00: the types
  entry(3, kSub | 0x20);
  entry(Type, kSub | 0x38);
  directory(0, 1);  // 0x20: the icon's ids
  entry(1, kSub | 0x58);
  directory(1, 1);  // 0x38: Type's ids, a named one first
  entry(kSub | name, kSub | 0x58);
  entry(Id, kSub | 0x70);
  directory(0, 1);  // 0x58: the icon's language
  entry(0x411, 0x88);
  directory(0, 1);  // 0x70: Id's language
  entry(0x411, 0x98);
  EXPECT_EQ(r.Out.size(), 0x88u);
  u32(r, kRva + 0xA8), u32(r, 4), u32(r, 0), u32(r, 0);                                     // 0x88
  u32(r, kRva + 0xAC), u32(r, static_cast<uint32_t>(Data.size())), u32(r, 0), u32(r, 0);  // 0x98
  r.Raw("ICON").Raw(Data);
  u16(r, 1), u16(r, 'X');  // the named resource's name

  TByteWriter w;
  w.Raw("MZ");
  w.Out.resize(0x3C);
  u32(w, 0x80);
  w.Out.resize(0x80);
  const uint16_t optionalSize = Pe32 ? 224 : 240;
  w.Raw(std::string("PE\0\0", 4));
  u16(w, 0x8664), u16(w, 1), u32(w, 0), u32(w, 0), u32(w, 0), u16(w, optionalSize), u16(w, 0x22);
  const size_t optional = w.Out.size();
  u16(w, Pe32 ? 0x10B : 0x20B);
  w.Out.resize(optional + (Pe32 ? 92 : 108));
  u32(w, 16);  // data directories; the third holds the resources
  for (uint32_t i = 0; i < 16; ++i) u32(w, i == 2 ? kRva : 0), u32(w, i == 2 ? static_cast<uint32_t>(r.Out.size()) : 0);
  EXPECT_EQ(w.Out.size(), optional + optionalSize);
  w.Raw(std::string(".rsrc\0\0\0", 8));
  u32(w, static_cast<uint32_t>(r.Out.size())), u32(w, kRva), u32(w, static_cast<uint32_t>(r.Out.size()));
  u32(w, kFileOffset), u32(w, 0), u32(w, 0), u32(w, 0), u32(w, 0x40000040);
  w.Out.resize(kFileOffset);
  return w.Raw(r.Out).Out;
}

// The emulator resource as this project's saver carries it: a package.
std::vector<uint8_t> EmulatorPackage() {
  return WithPackage({}, 0, {CompressedItem("ruffle.js", "the emulator"), StoredItem("version", "32.0.0.0")});
}

// A stub as this project builds it, as far as plws can tell.
std::vector<uint8_t> OurStub() { return StubImage(EmulatorPackage()); }

// The lines of `plws list` after its first, which names the file and where
// the package starts.
std::string ListedItems(const std::string& File) {
  const TRun r = Plws("list " + File);
  EXPECT_EQ(r.Status, 0) << r.Err;
  return r.Out.substr(r.Out.find('\n') + 1);
}

}  // namespace

TEST(PlwsManifest, EncodingsStoragesAndNumbers) {
  TempDir d;
  Write(d / "movie.swf", std::string("FWS\0\1\2", 6));
  Write(d / "stream.z", Deflate(Bytes("inflated")));
  const auto m = ParseManifest(
      "# comment\n"
      "key 0x12345678\r\n"
      "stub stub dir/saver.scr\n"
      "\n"
      "item FlashLoop flag stored 255\n"
      "item FlashQuality int32 stored -2\n"
      "item FlashBackColor int32 compressed 0xFFFFFFFF\n"
      "item Dialog\\sTitle text compressed a  b\\x81\\x40\\\\\n"
      "item Empty text stored\n"
      "item FlashSwf file compressed:2 movie.swf\n"
      "item Raw hex stored 78 9c 0A\n"
      "item \"\" hex zlib:255\n"
      "item Z file zlib stream.z  \n"
      "item Octal int32 stored 010\n"
      "item Neg int32 stored -0x10\n",
      d.Path.string(), "m.plws");
  EXPECT_EQ(m.Key, 0x12345678);
  EXPECT_EQ(m.Stub, d / "stub dir/saver.scr");
  ASSERT_EQ(m.Records.size(), 11u);
  EXPECT_EQ(m.Records[0].Payload, std::vector<uint8_t>{255});
  EXPECT_EQ(m.Records[1].Payload, Int32Bytes(-2));
  EXPECT_EQ(m.Records[2].Flag, 1);
  EXPECT_EQ(m.Records[2].Payload, Deflate(Int32Bytes(-1)));
  EXPECT_EQ(m.Records[3].Name, "Dialog Title");
  EXPECT_EQ(m.Records[3].Payload, Deflate(Bytes("a  b\x81\x40\\")));
  EXPECT_EQ(m.Records[4].Payload.size(), 0u);
  EXPECT_EQ(m.Records[5].Flag, 2);  // deflated here, the flag byte as given
  EXPECT_EQ(m.Records[5].Payload, Deflate(Bytes(std::string("FWS\0\1\2", 6))));
  EXPECT_EQ(m.Records[6].Payload, (std::vector<uint8_t>{0x78, 0x9c, 0x0a}));
  EXPECT_EQ(m.Records[7].Name, "");  // the empty name, an empty zlib item
  EXPECT_EQ(m.Records[7].Flag, 255);
  EXPECT_TRUE(m.Records[7].Payload.empty());
  EXPECT_EQ(m.Records[8].Payload, Deflate(Bytes("inflated")));  // the stream as it is, not deflated again
  EXPECT_EQ(m.Records[9].Payload, Int32Bytes(10));  // no octal
  EXPECT_EQ(m.Records[10].Payload, Int32Bytes(-16));

  // Names that would read back as something else are escaped as words.
  EXPECT_EQ(EscapeBytes("", true), "\"\"");
  EXPECT_EQ(EscapeBytes("\"\"", true), "\\x22\\x22");
  EXPECT_EQ(EscapeBytes("a b\\\x01", true), "a\\sb\\\\\\x01");
  EXPECT_EQ(UnescapeBytes("\\x22\\x22"), "\"\"");
}

TEST(PlwsManifest, ErrorsNameTheLineAndNothingElseGoesThrough) {
  EXPECT_EQ(ErrorOf("key 1\nitem A flag stored 256\n"),
            "m.plws:2: flag needs a number from 0 to 255 (decimal or 0x hexadecimal), got \"256\"");
  EXPECT_EQ(ErrorOf("key 5 junk"), "m.plws:1: unexpected text after the key: \"junk\"");
  EXPECT_EQ(ErrorOf("\n\nitem A flag stored 1 2"), "m.plws:3: unexpected text after the flag: \"2\"");
  EXPECT_EQ(ErrorOf("item A int32 stored 7 # seven"), "m.plws:1: unexpected text after the int32: \"# seven\"");
  EXPECT_TRUE(Has(ErrorOf("key banana"), "m.plws:1: key needs a number"));
  for (const char* bad : {"1x", "0x", "08z", "--1", "0x1FFFFFFFF", "4294967296", "-2147483649", ""})
    EXPECT_TRUE(Has(ErrorOf(std::string("item A int32 stored ") + bad), "m.plws:1: int32 needs a number")) << bad;
  EXPECT_TRUE(Has(ErrorOf("item A text zipped x"), "m.plws:1: storage must be"));
  for (const char* bad : {"compressed:0", "zlib:256", "stored:1", "zlib:", "compressed:x"})
    EXPECT_TRUE(Has(ErrorOf(std::string("item A text ") + bad + " x"), "m.plws:1: ")) << bad;
  EXPECT_EQ(ErrorOf("item A text"), "m.plws:1: item needs a name, an encoding and a storage");
  EXPECT_TRUE(Has(ErrorOf("item A blob stored x"), "encoding must be"));
  EXPECT_TRUE(Has(ErrorOf("item A text stored bad\\q"), "unknown escape"));
  EXPECT_TRUE(Has(ErrorOf("item A text stored \\x4"), "two hexadecimal"));
  EXPECT_TRUE(Has(ErrorOf("item A hex stored 123"), "pairs"));
  EXPECT_TRUE(Has(ErrorOf("item A file stored nope.bin"), "m.plws:1: ./nope.bin: cannot open"));
  EXPECT_EQ(ErrorOf("stub"), "m.plws:1: stub needs a path");
  EXPECT_TRUE(Has(ErrorOf("frob"), "unknown directive"));

  // A directory or a FIFO named as a file is refused, never read or waited on.
  TempDir d;
  fs::create_directories(d.Path / "folder");
  ASSERT_EQ(mkfifo((d / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(ErrorOf("item A file stored folder", d.Path.string()),
            "m.plws:1: " + d / "folder" + ": a directory, not a file to read");
  EXPECT_EQ(ErrorOf("item A file stored fifo", d.Path.string()),
            "m.plws:1: " + d / "fifo" + ": a FIFO, not a file to read");
}

TEST(PlwsTool, PackListExtractRoundTrip) {
  TempDir d;
  std::string movie;
  for (int i = 0; i < 20000; ++i) movie += static_cast<char>(i * 131 % 251);
  Write(d / "movie.swf", movie);
  Write(d / "stub.exe", "MZ stub bytes");
  Write(d / "m.plws",
        "key 0x5A\n"
        "item GUID text compressed {1234}\n"
        "item FlashLoop flag stored 1\n"
        "item FlashVars text compressed a=1&b=\\x82\\xa0\n"
        "item FlashSwf file compressed movie.swf\n"
        "item ../../evil\\x00name text stored x\n"
        "item GUID text stored {second}\n");
  ASSERT_EQ(Plws("pack --stub " + d / "stub.exe" + " --out " + d / "s.scr" + " " + d / "m.plws").Status, 0);
  const std::string packed = Read(d / "s.scr");
  EXPECT_EQ(packed.substr(0, 13), "MZ stub bytes");

  const TRun list = Plws("list " + d / "s.scr");
  EXPECT_EQ(list.Status, 0) << list.Err;
  EXPECT_EQ(list.Err, "");
  EXPECT_TRUE(Has(list.Out, "key 0x0000005A (name byte 0x5a), 6 items")) << list.Out;
  EXPECT_TRUE(Has(list.Out, "  0  GUID  compressed  ")) << list.Out;
  EXPECT_TRUE(Has(list.Out, "\"{1234}\"")) << list.Out;
  EXPECT_TRUE(Has(list.Out, "  1  FlashLoop  stored  1 -> 1  on\n")) << list.Out;
  EXPECT_TRUE(Has(list.Out, "\"a=1&b=あ\"")) << "Shift-JIS shown as UTF-8\n" << list.Out;
  EXPECT_TRUE(Has(list.Out, "20000 bytes")) << list.Out;

  // Extract writes only inside the target folder, whatever the names say.
  const TRun ex = Plws("extract " + d / "s.scr" + " " + d / "out");
  EXPECT_EQ(ex.Status, 0) << ex.Err;
  EXPECT_EQ(ex.Out, "extracted the stub and 6 items to " + d / "out" + "\n");
  for (const auto& e : fs::recursive_directory_iterator(d.Path / "out"))
    EXPECT_EQ(e.path().parent_path(), d.Path / "out") << e.path();
  EXPECT_TRUE(fs::exists(d / "out/004-______evil_name.bin"));
  EXPECT_EQ(Read(d / "out/003-FlashSwf.swf"), movie);
  EXPECT_EQ(Read(d / "out/stub.bin"), "MZ stub bytes");

  // The manifest names the stub: pack rebuilds the same file without --stub,
  // and puts the same package behind another stub with it.
  ASSERT_EQ(Plws("pack --out " + d / "again.scr " + d / "out/manifest.plws").Status, 0);
  EXPECT_EQ(Read(d / "again.scr"), packed);
  Write(d / "other.exe", "MZ another stub, longer");
  ASSERT_EQ(Plws("pack --stub " + d / "other.exe" + " --out " + d / "other.scr " + d / "out/manifest.plws").Status, 0);
  EXPECT_EQ(Read(d / "other.scr"), "MZ another stub, longer" + packed.substr(13));

  TOwnedItems items;
  ReadExeItems(d / "s.scr", items);
  ASSERT_EQ(items.size(), 6u);
  EXPECT_EQ(items[4].Name, std::string("../../evil\0name", 15));
}

TEST(PlwsTool, ExtractAndPackRebuildPackagesOfOtherWriters) {
  // Everything a writer other than plws may do: a stub, an empty name,
  // flags 2..255, compressed items of length 0, streams of other levels and
  // of stored blocks, a key with high bits, an empty package body record.
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "need file line " + std::to_string(i % 97) + "\n";
  const auto plain = Bytes(text);
  const std::vector<TPackageRecord> records = {
      StoredItem("", "no name"),
      TPackageRecord{"Flag2", 2, Deflate(Bytes("two"))},
      TPackageRecord{"Flag255", 255, DeflateAtLevel(plain, 9)},
      TPackageRecord{"Empty1", 1, {}},
      TPackageRecord{"Empty77", 77, {}},
      TPackageRecord{"Level1", 1, DeflateAtLevel(plain, 1)},
      TPackageRecord{"Level9", 1, DeflateAtLevel(plain, 9)},
      TPackageRecord{"StoredBlocks", 1, DeflateAtLevel(plain, 0)},
      TPackageRecord{"Default", 1, Deflate(plain)},
      StoredItem("FlashLoop", std::vector<uint8_t>{7}),
      StoredItem("", std::vector<uint8_t>{}),
  };
  ASSERT_NE(DeflateAtLevel(plain, 1), Deflate(plain));
  ASSERT_NE(DeflateAtLevel(plain, 9), Deflate(plain));
  TempDir d;
  const std::string stub = "MZ\x90\0 a stub with a NUL and \xFF bytes";
  const auto file = WithPackage(Bytes(stub), static_cast<int32_t>(0xA5C3E11Fu), records);
  Write(d / "other.scr", file);

  const TRun ex = Plws("extract " + d / "other.scr " + d / "x");
  ASSERT_EQ(ex.Status, 0) << ex.Err;
  EXPECT_EQ(ex.Err, "");
  const TRun pack = Plws("pack --out " + d / "rebuilt.scr " + d / "x/manifest.plws");
  ASSERT_EQ(pack.Status, 0) << pack.Err;
  EXPECT_EQ(Read(d / "rebuilt.scr"), Read(d / "other.scr")) << Read(d / "x/manifest.plws");

  // How the manifest says it: streams plws would make again from the plain
  // bytes stay editable; others are kept, with the plain bytes beside them.
  const std::string manifest = Read(d / "x/manifest.plws");
  for (const char* line : {"key 0xA5C3E11F\n", "stub stub.bin\n", "item \"\" file stored 000-.bin\n",
                           "item Flag2 file compressed:2 001-Flag2.bin\n",
                           "item Flag255 file zlib:255 002-Flag255.zlib\n", "item Empty1 file zlib 003-Empty1.zlib\n",
                           "item Empty77 file zlib:77 004-Empty77.zlib\n", "item Level1 file zlib 005-Level1.zlib\n",
                           "item StoredBlocks file zlib 007-StoredBlocks.zlib\n",
                           "item Default file compressed 008-Default.bin\n"})
    EXPECT_TRUE(Has(manifest, line)) << line << "\n" << manifest;
  EXPECT_EQ(Read(d / "x/006-Level9.bin"), text);
  EXPECT_EQ(Read(d / "x/stub.bin"), stub);

  // A corrupt stream is kept as it is: the package comes back identical, and
  // the status says it is not sound.
  auto bad = Deflate(plain);
  bad[bad.size() / 2] ^= 0x5A;
  Write(d / "corrupt.scr", WithPackage(Bytes("MZ"), 3, {StoredItem("A", "1"), TPackageRecord{"B", 1, bad}}));
  const TRun corrupt = Plws("extract " + d / "corrupt.scr " + d / "c");
  EXPECT_EQ(corrupt.Status, 1);
  EXPECT_TRUE(Has(corrupt.Err, "plws: " + d / "corrupt.scr" + ": record 1 at offset 0x")) << corrupt.Err;
  EXPECT_TRUE(Has(corrupt.Err, ": the zlib stream does not inflate: ")) << corrupt.Err;
  ASSERT_EQ(Plws("pack --out " + d / "c.scr " + d / "c/manifest.plws").Status, 0);
  EXPECT_EQ(Read(d / "c.scr"), Read(d / "corrupt.scr"));
}

TEST(PlwsTool, ExtractWritesOnlyNewFilesAndFollowsNoLink) {
  TempDir d;
  Write(d / "s.scr", WithPackage(Bytes("MZ"), 0, {StoredItem("GUID", "{G}"), StoredItem("FlashLoop", "\1")}));
  Write(d / "victim", "do not touch");

  // A link planted where a file goes, pointing anywhere or nowhere.
  for (const std::string name : {"000-GUID.bin", "stub.bin", "manifest.plws"}) {
    fs::remove_all(d.Path / "out");
    fs::create_directories(d.Path / "out");
    fs::create_symlink(d.Path / "victim", d.Path / "out" / name);
    const TRun r = Plws("extract " + d / "s.scr " + d / "out");
    EXPECT_EQ(r.Status, 1) << name;
    EXPECT_EQ(r.Err, "plws: " + d / "out" + ": already holds " + name + "; choose an empty folder\n") << name;
    EXPECT_EQ(Read(d / "victim"), "do not touch") << name;
  }
  fs::remove_all(d.Path / "out");
  fs::create_directories(d.Path / "out");
  fs::create_symlink(d.Path / "gone", d.Path / "out" / "001-FlashLoop.bin");  // dangling
  EXPECT_EQ(Plws("extract " + d / "s.scr " + d / "out").Status, 1);
  EXPECT_FALSE(fs::exists(d.Path / "gone"));

  // The folder itself as a link: refused, nothing written where it points.
  fs::create_directories(d.Path / "elsewhere");
  fs::create_symlink(d.Path / "elsewhere", d.Path / "linked");
  TRun r = Plws("extract " + d / "s.scr " + d / "linked");
  EXPECT_EQ(r.Status, 1);
  EXPECT_TRUE(Has(r.Err, d / "linked" + ": a symbolic link")) << r.Err;
  EXPECT_TRUE(fs::is_empty(d.Path / "elsewhere"));

  // A second extraction into the same folder refuses before writing anything.
  ASSERT_EQ(Plws("extract " + d / "s.scr " + d / "fresh").Status, 0);
  const auto before = fs::last_write_time(d.Path / "fresh" / "manifest.plws");
  r = Plws("extract " + d / "s.scr " + d / "fresh");
  EXPECT_EQ(r.Status, 1);
  EXPECT_TRUE(Has(r.Err, "already holds stub.bin")) << r.Err;
  EXPECT_EQ(fs::last_write_time(d.Path / "fresh" / "manifest.plws"), before);

  // A link that appears after the check still is not written through.
  fs::create_directories(d.Path / "folder");
  TOutputFolder folder(d / "folder");
  fs::create_symlink(d.Path / "victim", d.Path / "folder" / "late.bin");
  try {
    folder.WriteNewFile("late.bin", "x", 1);
    ADD_FAILURE() << "written through a link";
  } catch (const EPlwsError& e) {
    EXPECT_TRUE(Has(e.what(), "late.bin: exists already")) << e.what();
  }
  EXPECT_EQ(Read(d / "victim"), "do not touch");
}

TEST(PlwsTool, ListShowsTextsFlagsAndFaultsWhereTheyAre) {
  TempDir d;
  const std::string katakana = "\x83\x65\x83\x58\x83\x67";  // "テスト" in Shift-JIS
  Write(d / "s.scr",
        WithPackage(Bytes("MZ"), 0,
                    {StoredItem("DialogTitle", katakana + " \x1b[2J\\"), StoredItem("FlashLoop", std::vector<uint8_t>{2}),
                     TPackageRecord{"FlashVars", 7, Deflate(Bytes("a=1"))}, StoredItem("DialogURL", "\xff\xfe"),
                     StoredItem("FlashQuality", std::vector<uint8_t>{1, 2})}));
  const TRun r = Plws("list " + d / "s.scr");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(Has(r.Out, "  0  DialogTitle  stored  12 -> 12  \"テスト \\x1B[2J\\\\\"\n")) << r.Out;
  EXPECT_TRUE(Has(r.Out, "  1  FlashLoop  stored  1 -> 1  on (2)\n")) << r.Out;
  EXPECT_TRUE(Has(r.Out, "  2  FlashVars  compressed:7  ")) << r.Out;
  EXPECT_TRUE(Has(r.Out, "\"\\xFF\\xFE\"")) << "bytes that are no Shift-JIS stay escaped\n" << r.Out;
  EXPECT_TRUE(Has(r.Out, "(too short for an int32)")) << r.Out;

  // A lying count and a corrupt stream: listed as far as possible, the fault
  // on stderr with its record and offset, status 1.
  TByteWriter w;
  w.Raw("MZ");
  w.I32(0).I32(1000000).I32(1).Raw("A").U8(0).I32(0);
  w.Trailer(2);
  Write(d / "lying.scr", w.Out);
  TRun bad = Plws("list " + d / "lying.scr");
  EXPECT_EQ(bad.Status, 1);
  EXPECT_TRUE(Has(bad.Out, "  0  A  stored  0 -> 0")) << bad.Out;
  EXPECT_EQ(bad.Err, "plws: " + d / "lying.scr" +
                         ": damaged package: record 1 at offset 0x14: the body ends here, but the item count "
                         "announces 1000000 records\n");

  TByteWriter cut;
  cut.Raw("MZ");
  cut.I32(0).I32(2).I32(1).Raw("A").U8(0).I32(1).Raw("x").I32(1).Raw("B").U8(0).I32(2147483600).Raw("812 bytes");
  cut.Trailer(2);
  Write(d / "cut.scr", cut.Out);
  bad = Plws("list " + d / "cut.scr");
  EXPECT_EQ(bad.Status, 1);
  EXPECT_EQ(bad.Err, "plws: " + d / "cut.scr" +
                         ": damaged package: record 1 at offset 0x1b: data length 2147483600 exceeds the 9 bytes left\n");

  auto z = Deflate(Bytes(std::string(100, 'z')));
  z[5] ^= 0x55;
  Write(d / "corrupt.scr", WithPackage(Bytes("MZ"), 0, {StoredItem("ok", "1"), TPackageRecord{"broken", 1, z}}));
  bad = Plws("list " + d / "corrupt.scr");
  EXPECT_EQ(bad.Status, 1);
  EXPECT_TRUE(Has(bad.Out, "  1  broken  compressed  ")) << bad.Out;
  EXPECT_TRUE(Has(bad.Out, "?  (corrupt)")) << bad.Out;
  EXPECT_TRUE(Has(bad.Err, "plws: " + d / "corrupt.scr" + ": record 1 at offset 0x25: the zlib stream does not inflate: "))
      << bad.Err;
}

TEST(PlwsTool, BadInputGivesAMessageOnStderrAndStatusOne) {
  TempDir d;
  Write(d / "plain.exe", "MZ no package here");
  TRun r = Plws("list " + d / "plain.exe");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(r.Err, "plws: " + d / "plain.exe" + ": no package (the file does not end with a \"PLWS\" trailer)\n");

  r = Plws("check " + d / "missing.exe");
  EXPECT_EQ(r.Status, 1);
  EXPECT_TRUE(Has(r.Err, "missing.exe: cannot open: No such file")) << r.Err;

  // A directory or a FIFO as FILE: refused at once.
  ASSERT_EQ(mkfifo((d / "fifo").c_str(), 0600), 0);
  for (const auto& [path, kind] : {std::pair{d.Path.string(), "a directory"}, std::pair{d / "fifo", "a FIFO"}}) {
    r = Plws("list " + path);
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, "plws: " + path + ": " + kind + ", not a file to read\n");
  }
  // Nor is a FIFO or a directory written to as OUT.
  Write(d / "ok.plws", "stub plain.exe\nitem A flag stored 1\n");
  for (const std::string& out : {d / "fifo", d.Path.string()}) {
    r = Plws("pack --out " + out + " " + d / "ok.plws");
    EXPECT_EQ(r.Status, 1) << out;
    EXPECT_TRUE(Has(r.Err, "plws: " + out + ": ")) << r.Err;
  }

  Write(d / "bad.plws", "item X flag stored 999\n");
  r = Plws("pack --stub " + d / "plain.exe" + " --out " + d / "o.scr " + d / "bad.plws");
  EXPECT_EQ(r.Status, 1);
  EXPECT_TRUE(Has(r.Err, "plws: " + d / "bad.plws" + ":1: flag needs")) << r.Err;
  EXPECT_FALSE(fs::exists(d / "o.scr"));
  Write(d / "nostub.plws", "item X flag stored 1\n");
  r = Plws("pack --out " + d / "o.scr " + d / "nostub.plws");
  EXPECT_EQ(r.Status, 1);
  EXPECT_TRUE(Has(r.Err, "names no stub")) << r.Err;
  r = Plws("pack --stub " + d.Path.string() + " --out " + d / "o.scr " + d / "nostub.plws");
  EXPECT_EQ(r.Status, 1);
  EXPECT_TRUE(Has(r.Err, "a directory, not a file to read")) << r.Err;

  // A file item too large for a signed 32-bit size is refused before a byte
  // of it is read (a sparse file: nothing is on the disk).
  {
    std::ofstream(d / "big.swf").close();
    fs::resize_file(d.Path / "big.swf", uintmax_t{1} << 31);
    Write(d / "big.plws", "stub plain.exe\nitem FlashSwf file stored big.swf\n");
    r = Plws("pack --out " + d / "big.scr " + d / "big.plws");
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, "plws: " + d / "big.plws" + ":2: " + d / "big.swf" +
                         ": 2147483648 bytes, more than an item can hold (2147483647)\n");
    EXPECT_FALSE(fs::exists(d / "big.scr"));
  }
}

TEST(PlwsTool, HelpVersionAndUsage) {
  for (const char* help : {"--help", "-h"}) {
    const TRun r = Plws(help);
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Err, "");
    EXPECT_TRUE(Has(r.Out, "exit status: 0 done, 1 bad input (a message names the file), 2 usage")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "item NAME ENCODING STORAGE [VALUE]")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "plws check FILE")) << r.Out;
  }
  // Each command's own help, never a file of that name; `help COMMAND` too.
  for (const std::string cmd : {"list", "check", "extract", "pack", "upgrade", "play"}) {
    for (const std::string& args : {cmd + " --help", cmd + " -h", cmd + " x --help", "help " + cmd}) {
      const TRun r = Plws(args);
      EXPECT_EQ(r.Status, 0) << args << "\n" << r.Err;
      EXPECT_EQ(r.Err, "") << args;
      EXPECT_EQ(r.Out.rfind("usage:\n  plws " + cmd + " ", 0), 0u) << args << "\n" << r.Out;
      EXPECT_TRUE(Has(r.Out, "exit status: 0 done")) << args << "\n" << r.Out;
      // Only its own lines: no other command's.
      for (const std::string other : {"list", "check", "extract", "pack", "upgrade", "play"})
        EXPECT_EQ(Has(r.Out, "plws " + other + " "), other == cmd) << args << " shows " << other;
    }
  }
  EXPECT_TRUE(Has(Plws("pack --help").Out, "item NAME ENCODING STORAGE [VALUE]"));
  EXPECT_TRUE(Has(Plws("upgrade --help").Out, "the saver.scr beside plws"));
  EXPECT_TRUE(Has(Plws("--help").Out, "plws upgrade [--stub STUB] OLD NEW")) << Plws("--help").Out;

  const TRun version = Plws("--version");
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out.rfind("plws ", 0), 0u) << version.Out;
  for (const char* usage : {"", "list", "check a b", "extract onlyone", "pack --stub x m.plws", "pack --out o",
                            "frobnicate x", "pack --out o m.plws extra", "upgrade", "upgrade old",
                            "upgrade old new extra", "upgrade old new --stub", "upgrade --out o old new",
                            "frobnicate --help", "help frobnicate", "help list check"}) {
    const TRun r = Plws(usage);
    EXPECT_EQ(r.Status, 2) << usage;
    EXPECT_EQ(r.Out, "") << usage;
    EXPECT_TRUE(Has(r.Err, "usage:")) << usage;
  }
}

TEST(PlwsTool, CheckReportsWhatThePlayerIgnoresThenASummary) {
  TempDir d;
  const std::vector<TPackageRecord> clean = {CompressedItem("GUID", "{6B1C}"), CompressedItem("FlashSwf", TinySwf()),
                                             StoredItem("DialogImage", TinyBitmap())};
  Write(d / "clean.scr", WithPackage(OurStub(), 0x5A, clean));
  TRun r = Plws("check " + d / "clean.scr");
  EXPECT_EQ(r.Status, 0) << r.Out << r.Err;
  EXPECT_EQ(r.Out, d / "clean.scr" + ": 3 items, nothing the player would ignore or misread\n");

  // The same package behind another stub: it needs the vendor's control,
  // and the remedy is named.
  Write(d / "vendor.scr", WithPackage(Bytes("MZ\x90 a vendor's stub"), 0x5A, clean));
  r = Plws("check " + d / "vendor.scr");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Out, "stub: not this project's saver (it carries no Flash emulator): the movie plays only where the "
                   "vendor's Flash control is installed; plws upgrade " +
                       d / "vendor.scr" + " NEW puts this package behind this project's stub\n" + d / "vendor.scr" +
                       ": 1 finding in 3 items\n");

  Write(d / "slips.scr",
        WithPackage(OurStub(), 0,
                    {StoredItem("GUID", "{6B1C}"), StoredItem("flashloop", std::vector<uint8_t>{1}),
                     StoredItem("FlashSwf", TinySwf()), StoredItem("FlashSwfName", "m\x1b.swf"),
                     StoredItem("FlashNeedFileName0", "a.xml")}));
  r = Plws("check " + d / "slips.scr");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "");
  EXPECT_EQ(r.Out,
            "item 1 flashloop: differs from the key \"FlashLoop\" only in letter case: ignored\n"
            "item 3 FlashSwfName: comes after \"FlashSwf\" (item 2): the movie was already named with the value "
            "before it\n"
            "item 3 FlashSwfName: \"m\\x1B.swf\" is not a file name: the movie is named after the GUID\n"
            "item 4 FlashNeedFileName0: comes before any \"FlashNeedFileCount\" gives the need-file table a slot: "
            "ignored\n" +
                d / "slips.scr" + ": 4 findings in 5 items\n");

  // A stream that does not inflate ends the player's loading before any item.
  const std::vector<TPackageRecord> corrupt = {StoredItem("GUID", "G"), TPackageRecord{"FlashSwf", 1, Bytes("xx")}};
  Write(d / "corrupt.scr", WithPackage(OurStub(), 0, corrupt));
  r = Plws("check " + d / "corrupt.scr");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Out.rfind("package: record 1 at offset 0x", 0), 0u) << r.Out;
  EXPECT_TRUE(Has(r.Out, "the player applies no item of this package\n" + d / "corrupt.scr" + ": 1 finding\n")) << r.Out;
  // Behind another stub, the stub is named as well.
  Write(d / "corrupt vendor.scr", WithPackage(Bytes("MZ"), 0, corrupt));
  r = Plws("check '" + d / "corrupt vendor.scr'");
  EXPECT_EQ(r.Out.rfind("stub: not this project's saver", 0), 0u) << r.Out;
  EXPECT_TRUE(Has(r.Out, "\npackage: record 1 at offset 0x")) << r.Out;
  EXPECT_TRUE(Has(r.Out, "corrupt vendor.scr: 2 findings\n")) << r.Out;

  // A damaged body: the records before the damage are checked too.
  TByteWriter w;
  w.Raw(OurStub());
  w.I32(0).I32(3).I32(4).Raw("GUID").U8(0).I32(0);
  w.Trailer(OurStub().size());
  Write(d / "damaged.scr", w.Out);
  r = Plws("check " + d / "damaged.scr");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Out.rfind("package: damaged: record 1 at offset 0x", 0), 0u) << r.Out;
  EXPECT_TRUE(Has(r.Out, "the player reads only the 1 records before it")) << r.Out;
  EXPECT_TRUE(Has(r.Out, "item 0 GUID: is empty")) << r.Out;
}

TEST(PlwsStub, TellsThisProjectsStubByItsEmulatorAndReadsNothingOutsideTheImage) {
  const std::vector<uint8_t> ours = OurStub();
  EXPECT_TRUE(IsProjectStub(ours.data(), ours.size()));
  const auto pe32 = StubImage(EmulatorPackage(), 10, PL_EMULATOR_RESOURCE, true);
  EXPECT_TRUE(IsProjectStub(pe32.data(), pe32.size()));
  const auto span = FindImageResource(ours.data(), ours.size(), 10, PL_EMULATOR_RESOURCE);
  ASSERT_TRUE(span.has_value());
  EXPECT_EQ(std::vector<uint8_t>(ours.begin() + static_cast<std::ptrdiff_t>(span->Offset),
                                 ours.begin() + static_cast<std::ptrdiff_t>(span->Offset + span->Size)),
            EmulatorPackage());
  const auto icon = FindImageResource(ours.data(), ours.size(), 3, 1);
  ASSERT_TRUE(icon.has_value());
  EXPECT_EQ(std::string(ours.begin() + static_cast<std::ptrdiff_t>(icon->Offset),
                        ours.begin() + static_cast<std::ptrdiff_t>(icon->Offset + icon->Size)),
            "ICON");

  // What another stub may carry: the resource under another type or id, one
  // that holds no package, or no image at all.
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> others = {
      {"another id", StubImage(EmulatorPackage(), 10, PL_EMULATOR_VERSION_RESOURCE)},
      {"another type", StubImage(EmulatorPackage(), 6, PL_EMULATOR_RESOURCE)},
      {"no package", StubImage(Bytes("32.0.0.0"))},
      {"an empty package", StubImage(WithPackage({}, 0, {}))},
      {"no image", Bytes("MZ\x90 a vendor's stub")},
      {"nothing", {}},
  };
  for (const auto& [what, image] : others) EXPECT_FALSE(IsProjectStub(image.data(), image.size())) << what;

  // Cut anywhere before the emulator's last byte, the image is refused;
  // every header byte changed is either still read or refused. Each image is
  // copied to a block of its own size, so a read past it shows in a
  // sanitizer run.
  for (size_t n = 0; n < span->Offset + span->Size; ++n) {
    const std::unique_ptr<uint8_t[]> cut(new uint8_t[n + 1]);
    std::copy(ours.begin(), ours.begin() + static_cast<std::ptrdiff_t>(n), cut.get());
    EXPECT_FALSE(IsProjectStub(cut.get(), n)) << n;
    for (const uint32_t id : {1u, static_cast<uint32_t>(PL_EMULATOR_RESOURCE)}) {
      const auto found = FindImageResource(cut.get(), n, id == 1 ? 3 : 10, id);
      if (found) {
        EXPECT_LE(found->Offset + found->Size, n) << n;
      }
    }
  }
  for (size_t at = 0; at < 0x400 + 0xA8; ++at) {
    for (uint8_t value : {uint8_t{0x00}, uint8_t{0x7F}, uint8_t{0x80}, uint8_t{0xFF}}) {
      std::vector<uint8_t> bent = ours;
      bent[at] = value;
      IsProjectStub(bent.data(), bent.size());
    }
  }
}

TEST(PlwsTool, UpgradePutsAnotherWritersPackageBehindOurStubByteForByte) {
  // A saver of another writer: its own stub, a key with high bits, flags
  // 2 and 255, streams of other levels, empty items, bytes in the body after
  // the last record.
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i % 89) + "\n";
  const std::vector<TPackageRecord> records = {
      TPackageRecord{"GUID", 2, DeflateAtLevel(Bytes("{0A1B}"), 9)},
      TPackageRecord{"FlashSwf", 255, DeflateAtLevel(TinySwf(), 1)},
      TPackageRecord{"FlashVars", 1, DeflateAtLevel(Bytes(text), 0)},
      StoredItem("FlashLoop", std::vector<uint8_t>{1}),
      TPackageRecord{"Empty", 7, {}},
      StoredItem("", std::vector<uint8_t>{}),
  };
  std::string vendor = "MZ\x90";
  for (int i = 0; i < 5000; ++i) vendor += static_cast<char>(i * 37 % 256);
  TempDir d;
  const auto old = HandWrittenSaver(Bytes(vendor), static_cast<int32_t>(0xC3D2E1F0u), records, "tail");
  Write(d / "old.scr", old);
  Write(d / "saver.scr", OurStub());

  const TRun r = Plws("upgrade --stub " + d / "saver.scr " + d / "old.scr " + d / "new.scr");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Err, "");
  const std::string package(old.begin() + static_cast<std::ptrdiff_t>(vendor.size()), old.end());
  EXPECT_EQ(r.Out, "wrote " + d / "new.scr" + ": " + d / "saver.scr" + " (" + std::to_string(OurStub().size()) +
                       " bytes) and the package of " + d / "old.scr" + " (" + std::to_string(package.size()) +
                       " bytes)\n");
  const std::string upgraded = Read(d / "new.scr");
  const auto ours = OurStub();
  EXPECT_EQ(upgraded, std::string(ours.begin(), ours.end()) + package);
  EXPECT_EQ(ListedItems(d / "new.scr"), ListedItems(d / "old.scr"));
  TOwnedItems items;
  ReadExeItems(d / "new.scr", items);
  ASSERT_EQ(items.size(), records.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(items[2].Data), static_cast<size_t>(items[2].Size)), text);
  // `check` named the old stub; the new one it does not.
  EXPECT_TRUE(Has(Plws("check " + d / "old.scr").Out, "stub: not this project's saver")) << Plws("check " + d / "old.scr").Out;
  EXPECT_FALSE(Has(Plws("check " + d / "new.scr").Out, "stub:")) << Plws("check " + d / "new.scr").Out;

  // Without --stub: the saver.scr beside plws.
  fs::create_directories(d.Path / "bin");
  fs::copy_file(PlwsBinary(), d.Path / "bin" / "plws");
  const TRun none = Plws("upgrade " + d / "old.scr " + d / "bare.scr", d / "bin/plws");
  EXPECT_EQ(none.Status, 1);
  EXPECT_TRUE(Has(none.Err, "plws: no stub given and no saver.scr found (looked for " + d / "bin/saver.scr"))
      << none.Err;
  EXPECT_TRUE(Has(none.Err, "): give --stub STUB\n")) << none.Err;
  EXPECT_FALSE(fs::exists(d / "bare.scr"));
  Write(d / "bin/saver.scr", OurStub());
  const TRun beside = Plws("upgrade " + d / "old.scr " + d / "beside.scr", d / "bin/plws");
  ASSERT_EQ(beside.Status, 0) << beside.Err;
  EXPECT_EQ(Read(d / "beside.scr"), upgraded);
}

TEST(PlwsTool, UpgradeRefusesWhatWouldNotPlayAndNeverOverwrites) {
  TempDir d;
  Write(d / "saver.scr", OurStub());
  const std::string stub = "--stub " + d / "saver.scr ";
  const auto good = HandWrittenSaver(Bytes("MZ vendor"), 9, {StoredItem("GUID", "{G}")});

  TByteWriter lying;
  lying.Raw("MZ").I32(0).I32(2).I32(1).Raw("A").U8(0).I32(0).Trailer(2);
  TByteWriter longBody;
  longBody.Raw("MZ").I32(0).I32(0).I64(1000).Raw("PLWS");
  auto corrupt = Deflate(Bytes(std::string(300, 'c')));
  corrupt[corrupt.size() / 2] ^= 0x5A;
  struct TCase {
    std::string Name;
    std::vector<uint8_t> Bytes;
    std::string Error;  // after "plws: FILE: "
  };
  const std::vector<TCase> cases = {
      {"plain", Bytes("MZ no package here"), "no package (the file does not end with a \"PLWS\" trailer)"},
      {"lying", lying.Out,
       "damaged package: record 1 at offset 0x14: the body ends here, but the item count announces 2 records"},
      {"long body", longBody.Out, "damaged package: offset 0x"},
      {"corrupt", HandWrittenSaver(Bytes("MZ"), 0, {StoredItem("A", "1"), TPackageRecord{"FlashSwf", 1, corrupt}}),
       "damaged package: record 1 at offset 0x"},
  };
  for (const TCase& c : cases) {
    Write(d / c.Name, c.Bytes);
    const TRun r = Plws("upgrade " + stub + "'" + d / c.Name + "' " + d / "new.scr");
    EXPECT_EQ(r.Status, 1) << c.Name;
    EXPECT_EQ(r.Out, "") << c.Name;
    EXPECT_EQ(r.Err.rfind("plws: " + d / c.Name + ": " + c.Error, 0), 0u) << c.Name << "\n" << r.Err;
    EXPECT_FALSE(fs::exists(d / "new.scr")) << c.Name;
  }
  EXPECT_TRUE(Has(Plws("upgrade " + stub + d / "corrupt " + d / "new.scr").Err, "the zlib stream does not inflate"));

  // NEW taken by a file or by a link, dangling or not: nothing written.
  Write(d / "old.scr", good);
  Write(d / "taken.scr", "precious");
  fs::create_symlink(d.Path / "victim", d.Path / "dangling.scr");
  fs::create_symlink(d.Path / "taken.scr", d.Path / "link.scr");
  for (const std::string name : {"taken.scr", "dangling.scr", "link.scr", "old.scr", "saver.scr"}) {
    const TRun r = Plws("upgrade " + stub + d / "old.scr " + d / name);
    EXPECT_EQ(r.Status, 1) << name;
    EXPECT_EQ(r.Err, "plws: " + d / name + ": exists already; plws upgrade writes only a new file\n") << name;
  }
  EXPECT_EQ(Read(d / "taken.scr"), "precious");
  EXPECT_FALSE(fs::exists(d.Path / "victim"));
  EXPECT_EQ(Read(d / "old.scr"), std::string(good.begin(), good.end()));

  // A stub that is a saver itself, or none at all.
  TRun r = Plws("upgrade --stub " + d / "old.scr " + d / "old.scr " + d / "new.scr");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "plws: " + d / "old.scr" + ": ends with a package of its own: a saver, not a stub to put a "
                                              "package behind\n");
  r = Plws("upgrade --stub " + d / "none.scr " + d / "old.scr " + d / "new.scr");
  EXPECT_EQ(r.Status, 1);
  EXPECT_TRUE(Has(r.Err, "plws: " + d / "none.scr: cannot open")) << r.Err;
  EXPECT_FALSE(fs::exists(d / "new.scr"));
}
