// Silent deletion through the shell, long names and the COM apartment, on
// real files in the temporary directory.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <thread>

#include "tests/support/process_win32.h"
#include "util/file_operation_win32.h"
#include "util/raii_com_win32.h"

namespace {

constexpr UINT kProbeMessage = WM_APP + 7;
int gProbeDispatched = 0;
int gOwnerAsked = 0;
HWND gOwnerWindow = nullptr;

LRESULT CALLBACK ProbeProc(HWND Wnd, UINT Msg, WPARAM W, LPARAM L) noexcept {
  if (Msg == kProbeMessage) {
    ++gProbeDispatched;
    return 0;
  }
  return DefWindowProcA(Wnd, Msg, W, L);
}

HWND OwnerProvider() {
  ++gOwnerAsked;
  return gOwnerWindow;
}

void WriteFileText(const std::string& Path, const std::string& Text) {
  TUniqueFile f(CreateFileA(Path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(f) << Path;
  DWORD written = 0;
  WriteFile(f.Get(), Text.data(), static_cast<DWORD>(Text.size()), &written, nullptr);
}

// A window of this thread that counts the probe messages dispatched to it.
class DeleteFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA wc{};
    wc.lpfnWndProc = ProbeProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "PlDeleteFolderProbe";
    RegisterClassA(&wc);
    FWindow.Reset(CreateWindowExA(0, "PlDeleteFolderProbe", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr));
    ASSERT_TRUE(FWindow);
    gProbeDispatched = 0;
    gOwnerAsked = 0;
    gOwnerWindow = FWindow.Get();
    SetDeleteFolderOwnerProvider(OwnerProvider);
  }
  void TearDown() override {
    SetDeleteFolderOwnerProvider(nullptr);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  void PostProbe() { PostMessageA(FWindow.Get(), kProbeMessage, 0, 0); }
  bool ProbeStillQueued() {
    MSG msg;
    return PeekMessageA(&msg, FWindow.Get(), kProbeMessage, kProbeMessage, PM_NOREMOVE) != 0;
  }

  TUniqueWindow FWindow;
};

}  // namespace

TEST_F(DeleteFolderTest, RemovesAWholeTreeAndProcessesMessagesOnce) {
  const std::string dir = MakeTempDir("delete tree ");
  const std::string root = dir + "{0A1B2C3D}";
  ASSERT_TRUE(CreateDirectoryA(root.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((root + "\\sub").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((root + "\\sub\\deeper").c_str(), nullptr));
  WriteFileText(root + "\\movie.swf", "FWS");
  WriteFileText(root + "\\sub\\data.xml", "<x/>");
  WriteFileText(root + "\\sub\\deeper\\read only.txt", "ro");
  SetFileAttributesA((root + "\\sub\\deeper\\read only.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  WriteFileText(dir + "sibling.txt", "stays");

  PostProbe();
  EXPECT_TRUE(DeleteFolder(root));
  EXPECT_FALSE(FileExists(root));
  EXPECT_TRUE(FileExists(dir + "sibling.txt"));
  // Pending messages were dispatched inside the call; the owner was asked for.
  EXPECT_EQ(gProbeDispatched, 1);
  EXPECT_FALSE(ProbeStillQueued());
  EXPECT_EQ(gOwnerAsked, 1);
  DeleteFileA((dir + "sibling.txt").c_str());
  RemoveDirectoryA(dir.c_str());
}

TEST_F(DeleteFolderTest, OneTrailingBackslashIsIgnored) {
  const std::string dir = MakeTempDir("delete slash ");
  ASSERT_TRUE(CreateDirectoryA((dir + "inner").c_str(), nullptr));
  WriteFileText(dir + "inner\\a.txt", "a");
  EXPECT_TRUE(DeleteFolder(dir));  // MakeTempDir's path ends in "\"
  EXPECT_FALSE(FileExists(dir));
}

TEST_F(DeleteFolderTest, DeletesAPlainFile) {
  const std::string dir = MakeTempDir("delete file ");
  WriteFileText(dir + "one.swf", "FWS");
  WriteFileText(dir + "two.swf", "FWS");
  EXPECT_TRUE(DeleteFolder(dir + "one.swf"));
  EXPECT_FALSE(FileExists(dir + "one.swf"));
  EXPECT_TRUE(FileExists(dir + "two.swf"));
  DeleteFileA((dir + "two.swf").c_str());
  RemoveDirectoryA(dir.c_str());
}

TEST_F(DeleteFolderTest, MissingPathFailsWithoutShellOrMessages) {
  const std::string dir = MakeTempDir("delete missing ");
  PostProbe();
  EXPECT_FALSE(DeleteFolder(dir + "not there"));
  EXPECT_FALSE(DeleteFolder(dir + "not there\\"));
  EXPECT_FALSE(DeleteFolder(""));
  // Wildcards are never handed to the shell as patterns.
  WriteFileText(dir + "keep.txt", "k");
  EXPECT_FALSE(DeleteFolder(dir + "*.txt"));
  EXPECT_TRUE(FileExists(dir + "keep.txt"));
  EXPECT_EQ(gOwnerAsked, 0);
  EXPECT_EQ(gProbeDispatched, 0);
  EXPECT_TRUE(ProbeStillQueued());
  DeleteFileA((dir + "keep.txt").c_str());
  RemoveDirectoryA(dir.c_str());
}

TEST(GetLongFileName, ExpandsShortNames) {
  TComApartment com;
  const std::string dir = MakeTempDir("long name folder ");
  const std::string longPath = dir + "A rather long file name.data";
  WriteFileText(longPath, "x");
  char shortPath[MAX_PATH];
  const DWORD n = GetShortPathNameA(longPath.c_str(), shortPath, sizeof shortPath);
  ASSERT_GT(n, 0u);
  ASSERT_NE(std::string(shortPath, n), longPath);
  EXPECT_EQ(GetLongFileName(std::string(shortPath, n)), longPath);
  EXPECT_EQ(GetLongFileName(longPath), longPath);
  EXPECT_EQ(GetLongFileName(dir + "missing file.data"), "");
  EXPECT_EQ(GetLongFileName("Q:\\no drive\\x.data"), "");
  DeleteFileA(longPath.c_str());
  RemoveDirectoryA(dir.c_str());
}

TEST(TComApartment, InitialisesForItsLifetimeOnly) {
  std::thread([] {
    {
      TComApartment com;
      EXPECT_EQ(com.Result(), S_OK);
      // Nested initialisation only counts up.
      EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
      CoUninitialize();
    }
    // Gone with the object: the next one is fresh again.
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();
  }).join();
}

TEST(TComApartment, LeavesAForeignApartmentAlone) {
  std::thread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    {
      TComApartment com;
      EXPECT_EQ(com.Result(), RPC_E_CHANGED_MODE);
    }
    // The multi-threaded apartment opened above still stands.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    CoUninitialize();
    CoUninitialize();
  }).join();
}
