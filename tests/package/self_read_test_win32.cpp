// A running executable reads the package appended to its own file, with the
// package written by the Windows build of plws. The test copies itself, has
// plws.exe pack the copy, and runs it: the copy reads itself while the
// loader keeps its image open. The sample saver, packed the same way, keeps
// the resources Windows shows for it: the package goes behind the image.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/extraction_plan.h"
#include "app/settings.h"
#include "framework/bmp_decode.h"
#include "package/exe_adder.h"
#include "tests/support/package_builder.h"
#include "tests/support/process_win32.h"
#include "util/raii_win32.h"
#include "util/utils_win32.h"

namespace {

// The copy's job: list its own package into LogPath.
int ReadSelf(const char* LogPath) {
  TOwnedItems items;
  int code = 0;
  try {
    ReadExeItems(ExecutablePath(), items);
  } catch (const std::exception& e) {
    code = 3;
  }
  if (const TUniqueCFile f{std::fopen(LogPath, "wb")}) {
    std::fprintf(f.Get(), "count %zu\n", items.size());
    for (const auto& item : items)
      std::fprintf(f.Get(), "%s=%.*s|%d\n", item.Name.c_str(), item.Size, reinterpret_cast<const char*>(item.Data),
                   item.Compressed);
  }
  return code;
}

void WriteFile(const std::string& Path, const std::string& Text) {
  const TUniqueCFile f(std::fopen(Path.c_str(), "wb"));
  ASSERT_TRUE(f);
  std::fwrite(Text.data(), 1, Text.size(), f.Get());
}

std::string PlwsPath() { return ExeDir() + "..\\..\\tools\\plws\\plws.exe"; }

// Packs Manifest behind Stub into Out with plws.exe.
void Pack(const std::string& Stub, const std::string& Manifest, const std::string& Out) {
  ASSERT_TRUE(FileExists(PlwsPath())) << PlwsPath();
  const auto pack = RunProcess("\"" + PlwsPath() + "\" pack --stub \"" + Stub + "\" --out \"" + Out + "\" \"" +
                               Manifest + "\"");
  ASSERT_TRUE(pack.Started);
  ASSERT_EQ(pack.ExitCode, 0u);
}

// A Unix path as Wine's Z: drive shows it, with a trailing backslash.
std::string WineFolder(std::string UnixPath) {
  std::replace(UnixPath.begin(), UnixPath.end(), '/', '\\');
  return "Z:" + UnixPath + "\\";
}

std::string Dotted(DWORD High, DWORD Low) {
  return std::to_string(HIWORD(High)) + "." + std::to_string(LOWORD(High)) + "." + std::to_string(HIWORD(Low)) +
         "." + std::to_string(LOWORD(Low));
}

// A resource's bytes, empty when the module has none of that name and type.
std::string ResourceBytes(HMODULE Module, LPCSTR Name, LPCSTR Type) {
  const HRSRC found = FindResourceA(Module, Name, Type);
  if (!found) return {};
  const HGLOBAL loaded = LoadResource(Module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  return data ? std::string(static_cast<const char*>(data), SizeofResource(Module, found)) : std::string();
}

// The DLLs an executable file names in its import directory, read from the
// file itself (the loader would resolve them first). Empty for a file that
// is no 64-bit image.
std::vector<std::string> ImportedLibraries(const std::string& Image) {
  auto read = [&](size_t Offset, auto& Out) {
    if (Offset > Image.size() || Image.size() - Offset < sizeof Out) return false;
    std::memcpy(&Out, Image.data() + Offset, sizeof Out);
    return true;
  };
  IMAGE_DOS_HEADER dos{};
  IMAGE_NT_HEADERS64 nt{};
  if (!read(0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || !read(static_cast<size_t>(dos.e_lfanew), nt) ||
      nt.Signature != IMAGE_NT_SIGNATURE || nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
    return {};
  const size_t sections = static_cast<size_t>(dos.e_lfanew) + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                          nt.FileHeader.SizeOfOptionalHeader;
  // Where an address of the loaded image lies in the file.
  auto fileOffset = [&](DWORD Rva) -> size_t {
    for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
      IMAGE_SECTION_HEADER section{};
      if (!read(sections + i * sizeof section, section)) break;
      if (Rva >= section.VirtualAddress && Rva - section.VirtualAddress < section.SizeOfRawData)
        return Rva - section.VirtualAddress + section.PointerToRawData;
    }
    return Image.size();
  };
  std::vector<std::string> names;
  const DWORD imports = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  IMAGE_IMPORT_DESCRIPTOR entry{};
  for (size_t at = fileOffset(imports); read(at, entry) && entry.Name != 0; at += sizeof entry) {
    const size_t name = fileOffset(entry.Name);
    if (name >= Image.size()) break;
    names.emplace_back(Image.data() + name, strnlen(Image.data() + name, Image.size() - name));
  }
  return names;
}

}  // namespace

TEST(SelfRead, SaverAndPlwsImportOnlyLibrariesEveryWindowsHas) {
  // Wine's prefix has a zlib1.dll, a bare Windows none: zlib must be inside.
  // The imaging component and the light shell library (the browser player's
  // frames) are part of every Windows since Vista.
  const std::set<std::string> system = {"advapi32.dll", "comctl32.dll", "gdi32.dll",   "imm32.dll",
                                        "kernel32.dll", "msvcrt.dll",   "ole32.dll",   "oleaut32.dll",
                                        "shell32.dll",  "shlwapi.dll",  "user32.dll",  "version.dll",
                                        "windowscodecs.dll"};
  for (const std::string& program : {ExeDir() + "..\\..\\app\\saver.scr", PlwsPath()}) {
    const std::vector<std::string> imports = ImportedLibraries(ReadTextFile(program));
    EXPECT_FALSE(imports.empty()) << program;
    for (std::string name : imports) {
      std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
      EXPECT_TRUE(system.count(name)) << program << " imports " << name;
    }
  }
}

TEST(SelfRead, ExecutablePackedByPlwsReadsItsOwnPackage) {
  const std::string dir = MakeTempDir("self read ");
  WriteFile(dir + "movie.swf", "FWS\x09 a movie of our own");
  WriteFile(dir + "m.plws",
            "key 0x1F3C\n"
            "item GUID text compressed {SELF-READ}\n"
            "item FlashLoop flag stored 1\n"
            "item FlashSwf file compressed movie.swf\n"
            "item DialogTitle text stored plu:mex\\sScreenSaver\n");
  const std::string plws = PlwsPath();
  const std::string packed = dir + "packed copy.exe";
  ASSERT_NO_FATAL_FAILURE(Pack(ExecutablePath(), dir + "m.plws", packed));

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

  // This test's own image is no saver's stub: check says so, and upgrade
  // puts the package behind the build's saver.scr (plws.exe's default),
  // where it reads as before; never over a file that exists.
  EXPECT_EQ(RunProcess("\"" + plws + "\" check \"" + packed + "\"").ExitCode, 1u);
  EXPECT_EQ(RunProcess("\"" + plws + "\" check --help").ExitCode, 0u);
  const std::string upgraded = dir + "upgraded.scr";
  ASSERT_EQ(RunProcess("\"" + plws + "\" upgrade \"" + packed + "\" \"" + upgraded + "\"").ExitCode, 0u);
  const std::string saver = ReadTextFile(ExeDir() + "..\\..\\app\\saver.scr");
  const std::string self = ReadTextFile(ExecutablePath());
  ASSERT_FALSE(saver.empty());
  EXPECT_EQ(ReadTextFile(upgraded), saver + ReadTextFile(packed).substr(self.size()));
  EXPECT_EQ(RunProcess("\"" + plws + "\" upgrade \"" + packed + "\" \"" + upgraded + "\"").ExitCode, 1u);
  TOwnedItems upgradedItems;
  ReadExeItems(upgraded, upgradedItems);
  EXPECT_EQ(upgradedItems.size(), 4u);
}

TEST(SelfRead, PackedSampleSaverKeepsItsVersionIconAndManifestAndHasNoString1) {
  const std::string pieces = WineFolder(PL_SAMPLE_DIR);
  ASSERT_TRUE(FileExists(pieces + "sample.plws")) << pieces << " is made by the native build (make native)";
  const std::string sample = MakeTempDir("packed sample ") + "sample.scr";
  ASSERT_NO_FATAL_FAILURE(Pack(ExeDir() + "..\\..\\app\\saver.scr", pieces + "sample.plws", sample));
  EXPECT_EQ(RunProcess("\"" + PlwsPath() + "\" list \"" + sample + "\"").ExitCode, 0u);
  // Nothing to report, the stub included: plws.exe knows the saver's own.
  EXPECT_EQ(RunProcess("\"" + PlwsPath() + "\" check \"" + sample + "\"").ExitCode, 0u);

  // The version information, as Explorer's properties read it.
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(sample.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(sample.c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS), PL_VERSION_DOTS);
  EXPECT_EQ(Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS), PL_VERSION_DOTS);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                             &length));
  ASSERT_GE(length, 4u);
  char block[64];
  std::snprintf(block, sizeof block, "\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
  auto value = [&](const char* Name) {
    char* text = nullptr;
    UINT chars = 0;
    if (!VerQueryValueA(info.data(), (block + std::string(Name)).c_str(), reinterpret_cast<void**>(&text), &chars) ||
        !text)
      return std::string("(none)");
    return std::string(text);
  };
  EXPECT_EQ(value("ProductName"), "plu:mex ScreenSaver");
  EXPECT_EQ(value("FileDescription"), "plu:mex ScreenSaver player");
  EXPECT_EQ(value("FileVersion"), PL_VERSION_DOTS);
  EXPECT_EQ(value("ProductVersion"), PL_VERSION_DOTS);

  // The resources, through the loader as a data file.
  TUniqueModule module(LoadLibraryExA(sample.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(module) << GetLastError();
  const std::string manifest = ResourceBytes(module.Get(), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  for (const char* part : {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                           "level=\"asInvoker\"",
                           "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",   // Windows 7
                           "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",   // 8
                           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",   // 8.1
                           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})  // 10 and 11
    EXPECT_NE(manifest.find(part), std::string::npos) << part << " in\n" << manifest;
  EXPECT_NE(manifest.find("version=\"" PL_VERSION_DOTS "\""), std::string::npos) << manifest;
  EXPECT_EQ(manifest.find("<dpiAware"), std::string::npos) << "the fixed-pixel layouts leave scaling to Windows";

  // One icon group, with the sizes Explorer and the settings ask for; each
  // image decodes, and is the project's picture rather than a blank square.
  const std::string group = ResourceBytes(module.Get(), MAKEINTRESOURCEA(1), RT_GROUP_ICON);
  ASSERT_GE(group.size(), 6u);
  std::set<int> sizes;
  const int count = static_cast<uint8_t>(group[4]) | static_cast<uint8_t>(group[5]) << 8;
  ASSERT_EQ(group.size(), 6u + 14u * static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) sizes.insert(static_cast<uint8_t>(group[6 + 14 * i]));  // 0 means 256
  EXPECT_EQ(sizes, (std::set<int>{0, 16, 32, 48}));
  for (int side : {16, 32, 48, 256}) {
    const int id = LookupIconIdFromDirectoryEx(reinterpret_cast<BYTE*>(const_cast<char*>(group.data())), TRUE, side,
                                               side, LR_DEFAULTCOLOR);
    ASSERT_NE(id, 0) << side;
    std::string image = ResourceBytes(module.Get(), MAKEINTRESOURCEA(id), RT_ICON);
    ASSERT_FALSE(image.empty()) << side;
    TUniqueIcon icon(CreateIconFromResourceEx(reinterpret_cast<BYTE*>(image.data()), static_cast<DWORD>(image.size()),
                                              TRUE, 0x00030000, side, side, LR_DEFAULTCOLOR));
    ASSERT_TRUE(icon) << side;
    ICONINFO parts{};
    ASSERT_TRUE(GetIconInfo(icon.Get(), &parts)) << side;
    TUniqueBitmap color(parts.hbmColor), mask(parts.hbmMask);
    BITMAPINFO format{};
    format.bmiHeader = {sizeof(BITMAPINFOHEADER), side, -side, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint32_t> pixels(static_cast<size_t>(side * side));
    TUniqueDC dc(CreateCompatibleDC(nullptr));
    ASSERT_EQ(GetDIBits(dc.Get(), color.Get(), 0, static_cast<UINT>(side), pixels.data(), &format, DIB_RGB_COLORS),
              side) << side;
    const auto screen =
        std::count_if(pixels.begin(), pixels.end(), [](uint32_t p) { return (p & 0xFFFFFF) == 0x402000; });
    EXPECT_GT(screen, side * side / 10) << side << ": the monitor's dark screen";
  }

  // Windows would list the saver by string 1 instead of its file name.
  wchar_t text[256];
  EXPECT_EQ(LoadStringW(module.Get(), 1, text, 256), 0);
  EXPECT_EQ(FindResourceA(module.Get(), MAKEINTRESOURCEA(1), RT_STRING), nullptr) << "the block holding string 1";

  // Behind them, what the sample is there to show: a picture the dialog can
  // read, a link, and a need file that lands where the movie looks for it.
  TOwnedItems items;
  ASSERT_NO_THROW(ReadExeItems(sample, items));
  const TPlayerSettings settings = DecodeSettings(items);
  EXPECT_FALSE(settings.DialogURL.empty());
  ASSERT_TRUE(settings.DialogImage);
  TBmpImage picture;
  ASSERT_NO_THROW(picture = DecodeBmp(settings.DialogImage->Data, static_cast<size_t>(settings.DialogImage->Size)));
  EXPECT_GT(picture.Width, 105) << "wider than the empty picture area";
  const TExtractionPlan plan = PlanExtraction(settings, "C:\\Temp", true);
  ASSERT_EQ(plan.Files.size(), 2u) << "the movie and one need file";
  const std::string needFile = plan.Files[1].Path.substr(plan.Files[1].Path.rfind('\\') + 1);
  const std::string movie(reinterpret_cast<const char*>(plan.Files[0].Block.Data), plan.Files[0].Block.Size);
  EXPECT_NE(movie.find(needFile + std::string("\0_level1\0", 9)), std::string::npos)
      << "the movie loads " << needFile << " from beside itself";
}

TEST(SelfRead, UnpackedExecutableHasNoItems) {
  TItemTypes items;
  ReadExeItems(ExecutablePath(), items);
  EXPECT_TRUE(items.empty());
}

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--read-self") return ReadSelf(argv[2]);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
