// The package tool: manifests, pack/list/extract round trips, and how it
// answers bad input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/wait.h>
#include <sstream>

#include "package/exe_adder.h"
#include "tests/support/package_builder.h"
#include "tools/plws/plws.h"

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

void Write(const std::string& Path, const std::string& Text) {
  std::ofstream(Path, std::ios::binary) << Text;
}

std::string Read(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

struct TRun {
  int Status;
  std::string Output;
};

// Runs the plws binary with Args, capturing stdout and stderr.
TRun Plws(const std::string& Args) {
  const char* bin = std::getenv("PL_BINARY_DIR");
  const std::string exe = std::string(bin ? bin : ".") + "/tools/plws/plws";
  TempDir out;
  const int raw = std::system((exe + " " + Args + " >" + out / "o" + " 2>&1").c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Read(out / "o")};
}

TItemTypes ReadItems(const std::string& Path) {
  TItemTypes items;
  ReadExeItems(Path, items);
  return items;
}

std::string DataOf(const TItemType& I) {
  return I.Data ? std::string(reinterpret_cast<char*>(I.Data), I.Size) : std::string();
}

}  // namespace

TEST(PlwsManifest, EncodingsAndEscapes) {
  TempDir d;
  Write(d / "movie.swf", std::string("FWS\0\1\2", 6));
  const auto m = ParseManifest(
      "# comment\n"
      "key 0x12345678\r\n"
      "\n"
      "item FlashLoop flag stored 255\n"
      "item FlashQuality int32 stored -2\n"
      "item FlashBackColor int32 compressed 0xFFFFFFFF\n"
      "item Dialog\\sTitle text compressed a  b\\x81\\x40\\\\\n"
      "item Empty text stored\n"
      "item FlashSwf file compressed movie.swf\n"
      "item Raw hex stored 78 9c 0A\n",
      d.Path.string(), "m.plws");
  EXPECT_EQ(m.Key, 0x12345678);
  ASSERT_EQ(m.Records.size(), 7u);
  EXPECT_EQ(m.Records[0].Payload, std::vector<uint8_t>{255});
  EXPECT_EQ(m.Records[1].Payload, Int32Bytes(-2));
  EXPECT_EQ(m.Records[2].Flag, 1);
  EXPECT_EQ(m.Records[3].Name, "Dialog Title");
  EXPECT_EQ(m.Records[4].Payload.size(), 0u);
  EXPECT_EQ(m.Records[5].Flag, 1);
  EXPECT_EQ(m.Records[6].Payload, (std::vector<uint8_t>{0x78, 0x9c, 0x0a}));
}

TEST(PlwsManifest, ErrorsNameTheLine) {
  auto errorOf = [](const std::string& Text) {
    try {
      ParseManifest(Text, ".", "m.plws");
    } catch (const EPlwsError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(errorOf("key 1\nitem A flag stored 256\n"), "m.plws:2: flag needs 0..255, got \"256\"");
  EXPECT_NE(errorOf("key banana").find("m.plws:1: key needs"), std::string::npos);
  EXPECT_NE(errorOf("item A int32 stored 1x").find("m.plws:1:"), std::string::npos);
  EXPECT_NE(errorOf("item A text zipped x").find("storage must be"), std::string::npos);
  EXPECT_NE(errorOf("item A blob stored x").find("encoding must be"), std::string::npos);
  EXPECT_NE(errorOf("item A text stored bad\\q").find("unknown escape"), std::string::npos);
  EXPECT_NE(errorOf("item A text stored \\x4").find("two hexadecimal"), std::string::npos);
  EXPECT_NE(errorOf("item A hex stored 123").find("pairs"), std::string::npos);
  EXPECT_NE(errorOf("item A file stored nope.bin").find("nope.bin"), std::string::npos);
  EXPECT_NE(errorOf("frob").find("unknown directive"), std::string::npos);
}

TEST(PlwsTool, PackListExtractRoundTripByteForByte) {
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
  EXPECT_EQ(list.Status, 0) << list.Output;
  EXPECT_NE(list.Output.find("GUID  compressed"), std::string::npos) << list.Output;
  EXPECT_NE(list.Output.find("\"{1234}\""), std::string::npos) << list.Output;
  EXPECT_NE(list.Output.find("FlashLoop  stored  1 -> 1  on"), std::string::npos) << list.Output;
  EXPECT_NE(list.Output.find("20000 bytes"), std::string::npos) << list.Output;

  // Extract writes only inside the target folder, whatever the names say.
  const TRun ex = Plws("extract " + d / "s.scr" + " " + d / "out");
  EXPECT_EQ(ex.Status, 0) << ex.Output;
  for (const auto& e : fs::recursive_directory_iterator(d.Path / "out"))
    EXPECT_EQ(e.path().parent_path(), d.Path / "out") << e.path();
  EXPECT_TRUE(fs::exists(d / "out/004-______evil_name.bin"));
  EXPECT_FALSE(fs::exists(d.Path.parent_path() / "evil"));
  EXPECT_EQ(Read(d / "out/003-FlashSwf.swf"), movie);

  // The extracted manifest packs back into the same bytes.
  ASSERT_EQ(Plws("pack --stub " + d / "stub.exe" + " --out " + d / "again.scr" + " " + d / "out/manifest.plws").Status,
            0);
  EXPECT_EQ(Read(d / "again.scr"), packed);

  auto items = ReadItems(d / "s.scr");
  ASSERT_EQ(items.size(), 6u);
  EXPECT_EQ(items[4].Name, std::string("../../evil\0name", 15));
  EXPECT_EQ(DataOf(items[5]), "{second}");
  FreeExeItems(items);
}

TEST(PlwsTool, BadInputGivesAMessageAndStatus) {
  TempDir d;
  Write(d / "plain.exe", "MZ no package here");
  TRun r = Plws("list " + d / "plain.exe");
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Output.find(d / "plain.exe"), std::string::npos) << r.Output;
  EXPECT_NE(r.Output.find("no package"), std::string::npos) << r.Output;

  r = Plws("list " + d / "missing.exe");
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Output.find("missing.exe: cannot open"), std::string::npos) << r.Output;

  // A corrupt stream and a lying count: listed as far as possible, status 1.
  auto bad = Deflate(Bytes(std::string(100, 'z')));
  bad[5] ^= 0x55;
  Write(d / "corrupt.exe", "");
  {
    const auto file = WithPackage(Bytes("MZ"), 0, {StoredItem("ok", "1"), TPackageRecord{"broken", 1, bad}});
    std::ofstream(d / "corrupt.exe", std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
  }
  r = Plws("list " + d / "corrupt.exe");
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Output.find("broken"), std::string::npos) << r.Output;
  EXPECT_NE(r.Output.find("corrupt:"), std::string::npos) << r.Output;
  r = Plws("extract " + d / "corrupt.exe" + " " + d / "x");
  EXPECT_EQ(r.Status, 1);
  EXPECT_TRUE(fs::exists(d / "x/000-ok.bin"));

  TByteWriter w;
  w.I32(0).I32(1000000).I32(1).Raw("A").U8(0).I32(0).Trailer();
  std::ofstream(d / "lying.exe", std::ios::binary).write(reinterpret_cast<const char*>(w.Out.data()), w.Out.size());
  r = Plws("list " + d / "lying.exe");
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Output.find("damaged package"), std::string::npos) << r.Output;

  Write(d / "bad.plws", "item X flag stored 999\n");
  r = Plws("pack --stub " + d / "plain.exe" + " --out " + d / "o.scr " + d / "bad.plws");
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Output.find("bad.plws:1:"), std::string::npos) << r.Output;
  EXPECT_FALSE(fs::exists(d / "o.scr"));
}

TEST(PlwsTool, UsageErrorsExitTwo) {
  EXPECT_EQ(Plws("").Status, 2);
  EXPECT_EQ(Plws("list").Status, 2);
  EXPECT_EQ(Plws("extract onlyone").Status, 2);
  EXPECT_EQ(Plws("pack --stub x m.plws").Status, 2);
  EXPECT_EQ(Plws("frobnicate x").Status, 2);
  EXPECT_EQ(Plws("--help").Status, 0);
}
