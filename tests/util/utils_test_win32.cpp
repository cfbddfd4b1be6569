// Registry, shell-command, temporary-path and version reads against the real
// services: keys this program writes into the (private) registry, the
// temporary directory as the environment sets it, and libraries with
// version resources.
#include <gtest/gtest.h>
#include <windows.h>

#include "tests/support/process_win32.h"
#include "util/raii_win32.h"
#include "util/utils.h"
#include "util/utils_win32.h"

namespace {

constexpr char kTestRoot[] = "Software\\PlumexTests\\Utils";

void WriteDefault(HKEY Root, const std::string& Key, DWORD Type, const void* Data, DWORD Size) {
  TUniqueHKey key;
  ASSERT_EQ(RegCreateKeyExA(Root, Key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr),
            ERROR_SUCCESS)
      << Key;
  ASSERT_EQ(RegSetValueExA(key.Get(), "", 0, Type, static_cast<const BYTE*>(Data), Size), ERROR_SUCCESS) << Key;
}

void WriteDefault(HKEY Root, const std::string& Key, const std::string& Text) {
  WriteDefault(Root, Key, REG_SZ, Text.c_str(), static_cast<DWORD>(Text.size() + 1));
}

// Keys under HKEY_CLASSES_ROOT for a file type of our own, removed again.
class ShellClasses : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const char* key : {".pltestq", "PlTest.QuotedType", ".pltestu", "PlTest.UnquotedType", ".pltestn"})
      RegDeleteTreeA(HKEY_CLASSES_ROOT, key);
  }
};

class TempEnvironment : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"TMP", "TEMP"}) {
      char value[32768];
      const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
      FSaved.push_back(n > 0 && n < sizeof value ? std::string(value, n) : std::string());
    }
  }
  void TearDown() override {
    SetEnvironmentVariableA("TMP", FSaved[0].empty() ? nullptr : FSaved[0].c_str());
    SetEnvironmentVariableA("TEMP", FSaved[1].empty() ? nullptr : FSaved[1].c_str());
  }
  static void SetTemp(const std::string& Dir) {
    SetEnvironmentVariableA("TMP", Dir.c_str());
    SetEnvironmentVariableA("TEMP", Dir.c_str());
  }

 private:
  std::vector<std::string> FSaved;
};

}  // namespace

TEST(RegReadString, TrimsAndIgnoresOneTrailingBackslash) {
  const std::string key = std::string(kTestRoot) + "\\Trim";
  WriteDefault(HKEY_CURRENT_USER, key, " \t  C:\\Program Files\\Flash.ocx \r\n");
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key), "C:\\Program Files\\Flash.ocx");
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key + "\\"), "C:\\Program Files\\Flash.ocx");
  RegDeleteTreeA(HKEY_CURRENT_USER, kTestRoot);
}

TEST(RegReadString, MissingKeysAndValuesGiveEmpty) {
  const std::string key = std::string(kTestRoot) + "\\NoDefault";
  TUniqueHKey hkey;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, hkey.Put(),
                            nullptr),
            ERROR_SUCCESS);
  // Only a named value: the default one does not exist.
  ASSERT_EQ(RegSetValueExA(hkey.Get(), "Named", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2), ERROR_SUCCESS);
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key), "");
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, std::string(kTestRoot) + "\\Missing"), "");
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, ""), "");
  RegDeleteTreeA(HKEY_CURRENT_USER, kTestRoot);
}

TEST(RegReadString, At255BytesWithTheTerminatorAndNoMore) {
  const std::string key = std::string(kTestRoot) + "\\Long";
  WriteDefault(HKEY_CURRENT_USER, key, std::string(254, 'a'));
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key), std::string(254, 'a'));
  WriteDefault(HKEY_CURRENT_USER, key, std::string(255, 'b'));
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key), "");
  WriteDefault(HKEY_CURRENT_USER, key, std::string(300, 'c'));
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key), "");
  RegDeleteTreeA(HKEY_CURRENT_USER, kTestRoot);
}

TEST(RegReadString, AnyValueType) {
  const std::string key = std::string(kTestRoot) + "\\Types";
  const char expand[] = "%SystemRoot%\\x.dll";
  WriteDefault(HKEY_CURRENT_USER, key, REG_EXPAND_SZ, expand, sizeof expand);
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key), expand);  // read as stored, not expanded
  const char binary[] = {'b', 'i', 'n', ' '};
  WriteDefault(HKEY_CURRENT_USER, key, REG_BINARY, binary, sizeof binary);
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key), "bin");
  RegDeleteTreeA(HKEY_CURRENT_USER, kTestRoot);
}

TEST_F(ShellClasses, QuotedProgramWithOptions) {
  WriteDefault(HKEY_CLASSES_ROOT, ".pltestq", "PlTest.QuotedType");
  WriteDefault(HKEY_CLASSES_ROOT, "PlTest.QuotedType\\shell\\open\\command",
               "\"C:\\Program Files\\My -Browser\\browser.exe\" -osint -url \"%1\"");
  EXPECT_EQ(GetShellOpenCommand(".pltestq"), "\"C:\\Program Files\\My -Browser\\browser.exe\"");
  EXPECT_EQ(GetShellOpenCommand("pltestq"), GetShellOpenCommand(".pltestq"));
}

TEST_F(ShellClasses, UnquotedProgramKeepsOptions) {
  WriteDefault(HKEY_CLASSES_ROOT, ".pltestu", "  PlTest.UnquotedType ");  // the type name is trimmed too
  WriteDefault(HKEY_CLASSES_ROOT, "PlTest.UnquotedType\\shell\\open\\command", "C:\\web\\web.exe -new %1");
  EXPECT_EQ(GetShellOpenCommand("pltestu"), "\"C:\\web\\web.exe -new\"");
  EXPECT_EQ(GetShellOpenCommand(".pltestu"), "\"C:\\web\\web.exe -new\"");
}

TEST_F(ShellClasses, MissingTypeOrCommandGivesEmpty) {
  EXPECT_EQ(GetShellOpenCommand(".pltestn"), "");
  WriteDefault(HKEY_CLASSES_ROOT, ".pltestn", "PlTest.NoSuchType");
  EXPECT_EQ(GetShellOpenCommand(".pltestn"), "");
  WriteDefault(HKEY_CLASSES_ROOT, ".pltestn", "");
  EXPECT_EQ(GetShellOpenCommand(".pltestn"), "");
}

TEST(GetShellOpenCommand, HtmWithAndWithoutDot) {
  const std::string withDot = GetShellOpenCommand(".htm");
  EXPECT_EQ(GetShellOpenCommand("htm"), withDot);
  // Whatever the prefix registers, the result is a quoted program or nothing.
  if (!withDot.empty()) {
    EXPECT_EQ(withDot.front(), '"');
    EXPECT_EQ(withDot.back(), '"');
    EXPECT_EQ(withDot.find("%1"), std::string::npos);
  }
}

TEST_F(TempEnvironment, SeparatorAddedOnceAndNeverDoubled) {
  SetTemp("C:\\plumex temp");
  EXPECT_EQ(GetTempFilePath("{GUID}"), "C:\\plumex temp\\{GUID}");
  SetTemp("C:\\plumex temp\\");
  EXPECT_EQ(GetTempFilePath("{GUID}"), "C:\\plumex temp\\{GUID}");
  EXPECT_EQ(GetTempFilePath(""), "C:\\plumex temp\\");
}

TEST_F(TempEnvironment, LongDirectoriesAreReadWholeOrNotAtAll) {
  // 258 characters with the separator: still fits the first buffer.
  const std::string fits = "C:\\" + std::string(254, 'f');
  SetTemp(fits);
  EXPECT_EQ(GetTempFilePath("x.swf"), fits + "\\x.swf");
  // Beyond MAX_PATH the system either reports the size it needs (Windows;
  // the directory is then read with a buffer of that size) or nothing (Wine
  // 8: the fallback). Never a directory cut short or read past its buffer.
  const std::string tooLong = "C:\\" + std::string(150, 'd') + "\\" + std::string(150, 'e');
  SetTemp(tooLong);
  const std::string path = GetTempFilePath("x.swf");
  EXPECT_TRUE(path == tooLong + "\\x.swf" || path == "\\x.swf") << path;
}

TEST(GetTempFilePath, JoinsTheSystemTemporaryDirectory) {
  char dir[MAX_PATH];
  const DWORD n = GetTempPathA(sizeof dir, dir);
  ASSERT_GT(n, 0u);
  const std::string path = GetTempFilePath("name.swf");
  EXPECT_EQ(path, JoinTempPath(std::string(dir, n), "name.swf"));
  EXPECT_EQ(path.find("\\\\"), std::string::npos) << path;
}

TEST(GetFileVersionString, ProductVersionNotFileVersion) {
  EXPECT_EQ(GetFileVersionString(ExeDir() + "pl_version7.dll"), "7.0.19.0");
  // This program's own resource: full 16-bit fields, high word first.
  EXPECT_EQ(GetFileVersionString(ExecutablePath()), "65535.1.40000.2");
}

TEST(GetFileVersionString, NoResourceOrNoFileGivesEmpty) {
  const std::string dir = MakeTempDir("version ");
  const std::string text = dir + "plain.txt";
  {
    TUniqueFile f(CreateFileA(text.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    WriteFile(f.Get(), "no version here", 15, &written, nullptr);
  }
  EXPECT_EQ(GetFileVersionString(text), "");
  EXPECT_EQ(GetFileVersionString(dir + "missing.dll"), "");
  EXPECT_EQ(GetFileVersionString(""), "");
  DeleteFileA(text.c_str());
  RemoveDirectoryA(dir.c_str());
}
