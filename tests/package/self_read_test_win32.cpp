// A running executable reads the package appended to its own file, with the
// package written by the Windows build of plws. The test copies itself, has
// plws.exe pack the copy, and runs it: the copy reads itself while the
// loader keeps its image open.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "package/exe_adder.h"
#include "tests/support/process_win32.h"

namespace {

std::string OwnPath() {
  char path[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  return std::string(path, n);
}

// The copy's job: list its own package into LogPath.
int ReadSelf(const char* LogPath) {
  TItemTypes items;
  int code = 0;
  try {
    ReadExeItems(OwnPath(), items);
  } catch (const std::exception& e) {
    code = 3;
  }
  if (FILE* f = std::fopen(LogPath, "wb")) {
    std::fprintf(f, "count %zu\n", items.size());
    for (const auto& item : items)
      std::fprintf(f, "%s=%.*s|%d\n", item.Name.c_str(), item.Size, reinterpret_cast<const char*>(item.Data),
                   item.Compressed);
    std::fclose(f);
  }
  FreeExeItems(items);
  return code;
}

void WriteFile(const std::string& Path, const std::string& Text) {
  FILE* f = std::fopen(Path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(Text.data(), 1, Text.size(), f);
  std::fclose(f);
}

}  // namespace

TEST(SelfRead, ExecutablePackedByPlwsReadsItsOwnPackage) {
  const std::string dir = MakeTempDir("self read ");
  WriteFile(dir + "movie.swf", "FWS\x09 a movie of our own");
  WriteFile(dir + "m.plws",
            "key 0x1F3C\n"
            "item GUID text compressed {SELF-READ}\n"
            "item FlashLoop flag stored 1\n"
            "item FlashSwf file compressed movie.swf\n"
            "item DialogTitle text stored plu:mex\\sScreenSaver\n");
  const std::string plws = ExeDir() + "..\\..\\tools\\plws\\plws.exe";
  ASSERT_TRUE(FileExists(plws)) << plws;
  const std::string packed = dir + "packed copy.exe";
  const auto pack = RunProcess("\"" + plws + "\" pack --stub \"" + OwnPath() + "\" --out \"" + packed + "\" \"" +
                               dir + "m.plws\"");
  ASSERT_TRUE(pack.Started);
  ASSERT_EQ(pack.ExitCode, 0u);

  const auto run = RunProcess("\"" + packed + "\" --read-self \"" + dir + "log.txt\"");
  ASSERT_EQ(run.ExitCode, 0u);
  EXPECT_EQ(ReadTextFile(dir + "log.txt"),
            "count 4\n"
            "GUID={SELF-READ}|1\n"
            "FlashLoop=\x01|0\n"
            "FlashSwf=FWS\x09 a movie of our own|1\n"
            "DialogTitle=plu:mex ScreenSaver|0\n");

  // plws.exe lists it too, and fails clearly on a file without a package.
  EXPECT_EQ(RunProcess("\"" + plws + "\" list \"" + packed + "\"").ExitCode, 0u);
  EXPECT_EQ(RunProcess("\"" + plws + "\" list \"" + dir + "m.plws\"").ExitCode, 1u);
  EXPECT_EQ(RunProcess("\"" + plws + "\" frobnicate").ExitCode, 2u);

  // It extracts only new files, and packs them back into the same file.
  const std::string out = dir + "extracted";
  const std::string again = dir + "again.exe";
  ASSERT_EQ(RunProcess("\"" + plws + "\" extract \"" + packed + "\" \"" + out + "\"").ExitCode, 0u);
  EXPECT_TRUE(FileExists(out + "\\stub.bin"));
  ASSERT_EQ(RunProcess("\"" + plws + "\" pack --out \"" + again + "\" \"" + out + "\\manifest.plws\"").ExitCode, 0u);
  EXPECT_EQ(ReadTextFile(again), ReadTextFile(packed));
  EXPECT_EQ(RunProcess("\"" + plws + "\" extract \"" + packed + "\" \"" + out + "\"").ExitCode, 1u);
}

TEST(SelfRead, UnpackedExecutableHasNoItems) {
  TItemTypes items;
  ReadExeItems(OwnPath(), items);
  EXPECT_TRUE(items.empty());
}

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--read-self") return ReadSelf(argv[2]);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
