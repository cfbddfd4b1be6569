// The player's Windows layer: extracting a package's files into a temporary
// directory and removing exactly what was extracted; the player control's
// message filter against the fake player.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/extraction_win32.h"
#include "app/flash_control_win32.h"
#include "tests/support/fake_log_win32.h"
#include "tests/support/message_pump_win32.h"
#include "tests/support/process_win32.h"
#include "tools/fakeplayer/fake_registration_win32.h"

namespace {

// ---- extraction -------------------------------------------------------------------

// Settings with a movie and need files over buffers the fixture owns.
class Package {
 public:
  explicit Package(const std::string& GUID, const std::string& SwfName = "") {
    S.GUID = GUID;
    S.Movie = TMovieItem{Block("movie bytes"), GUID, SwfName};
  }
  Package& Need(const std::string& Name, const std::string& Content) {
    TNeedFile n;
    n.Index = static_cast<int32_t>(S.NeedFiles.size());
    n.Name = Name;
    n.Block = Block(Content);
    S.NeedFiles.push_back(n);
    return *this;
  }
  TPlayerSettings S;

 private:
  TItemBlock Block(const std::string& Text) {
    FBuffers.push_back(Text);
    return {reinterpret_cast<const uint8_t*>(FBuffers.back().data()), static_cast<int32_t>(Text.size())};
  }
  std::deque<std::string> FBuffers;
};

void WriteText(const std::string& Path, const std::string& Text) {
  HANDLE f = CreateFileA(Path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE) << Path;
  DWORD written = 0;
  WriteFile(f, Text.data(), static_cast<DWORD>(Text.size()), &written, nullptr);
  CloseHandle(f);
}

// Every path below Dir (relative, folders with a trailing backslash).
std::set<std::string> Tree(const std::string& Dir, const std::string& Prefix = "") {
  std::set<std::string> out;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((Dir + "*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return out;
  do {
    const std::string name = fd.cFileName;
    if (name == "." || name == "..") continue;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      out.insert(Prefix + name + "\\");
      for (const auto& p : Tree(Dir + name + "\\", Prefix + name + "\\")) out.insert(p);
    } else {
      out.insert(Prefix + name);
    }
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  return out;
}

class ExtractionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Outer holds the temporary directory Temp, so that a file written
    // above Temp would show up in Outer.
    Outer = MakeTempDir("pl extraction ");
    Temp = Outer + "temp\\";
    ASSERT_TRUE(CreateDirectoryA(Temp.c_str(), nullptr));
    WriteText(Outer + "outer.txt", "outer");
    WriteText(Temp + "other program.txt", "theirs");
  }
  void TearDown() override {
    // Everything below Outer, deepest first.
    const auto all = Tree(Outer);
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
      const std::string p = Outer + *it;
      if (p.back() == '\\')
        RemoveDirectoryA(p.c_str());
      else
        DeleteFileA(p.c_str());
    }
    RemoveDirectoryA(Outer.c_str());
  }
  std::string Outer, Temp;
};

TEST_F(ExtractionTest, MovieAndNeedFilesGoIntoTheGuidFolderAndAllOfItGoesAgain) {
  Package p("{A1}", "movie.swf");
  p.Need("data.xml", "<x/>").Need("sub\\pic.jpg", "jpeg");
  TExtraction e = ExtractPackageFiles(p.S, Temp, true);

  EXPECT_EQ(e.TempFolder, Temp + "{A1}");
  EXPECT_EQ(e.SwfPath, Temp + "{A1}\\movie.swf");
  EXPECT_EQ(ReadTextFile(e.SwfPath), "movie bytes");
  EXPECT_EQ(ReadTextFile(Temp + "{A1}\\data.xml"), "<x/>");
  EXPECT_EQ(ReadTextFile(Temp + "{A1}\\pic.jpg"), "jpeg");  // beside the movie, whatever folder the name gave
  EXPECT_EQ(e.ExtractedFiles.size(), 3u);

  RemoveExtractedFiles(e);
  EXPECT_EQ(Tree(Outer), (std::set<std::string>{"outer.txt", "temp\\", "temp\\other program.txt"}));
  // A second cleanup deletes nothing, also when another copy of the package
  // has meanwhile made files of the same names.
  const auto again = ExtractPackageFiles(p.S, Temp, true);
  RemoveExtractedFiles(e);
  EXPECT_EQ(ReadTextFile(again.SwfPath), "movie bytes");
  EXPECT_EQ(ReadTextFile(Temp + "{A1}\\data.xml"), "<x/>");
}

TEST_F(ExtractionTest, TheFirstCopyClearsWhatAKilledRunLeftAndExtractsAfresh) {
  // A killed run left its folder, and a later killed run its movie beside it.
  ASSERT_TRUE(CreateDirectoryA((Temp + "{A1}").c_str(), nullptr));
  WriteText(Temp + "{A1}\\movie.swf", "stale movie");
  WriteText(Temp + "{A1}\\stale.txt", "stale");
  WriteText(Temp + "{A1}.swf", "stale movie beside");
  WriteText(Temp + "data.xml", "another program's data");
  Package p("{A1}", "movie.swf");
  p.Need("data.xml", "<x/>");
  TExtraction e = ExtractPackageFiles(p.S, Temp, true);

  EXPECT_EQ(e.TempFolder, Temp + "{A1}");
  EXPECT_EQ(e.SwfPath, Temp + "{A1}\\movie.swf");
  EXPECT_EQ(ReadTextFile(e.SwfPath), "movie bytes");
  EXPECT_EQ(Tree(Outer), (std::set<std::string>{"outer.txt", "temp\\", "temp\\other program.txt", "temp\\data.xml",
                                                "temp\\{A1}\\", "temp\\{A1}\\movie.swf", "temp\\{A1}\\data.xml"}));
  RemoveExtractedFiles(e);
  EXPECT_EQ(Tree(Outer),
            (std::set<std::string>{"outer.txt", "temp\\", "temp\\other program.txt", "temp\\data.xml"}));
  EXPECT_EQ(ReadTextFile(Temp + "data.xml"), "another program's data");

}

TEST_F(ExtractionTest, AnExistingFolderIsUsedBesideAndNeitherItNorOtherFilesAreTouched) {
  // A second copy of the same package runs (or an earlier run left the
  // folder); another program has a file named like a need file.
  ASSERT_TRUE(CreateDirectoryA((Temp + "{A1}").c_str(), nullptr));
  WriteText(Temp + "{A1}\\movie.swf", "the other copy's movie");
  WriteText(Temp + "data.xml", "another program's data");
  Package p("{A1}", "movie.swf");
  p.Need("data.xml", "<x/>").Need("fresh.txt", "new");
  TExtraction e = ExtractPackageFiles(p.S, Temp, false);

  EXPECT_EQ(e.TempFolder, "");  // not ours: never deleted
  EXPECT_EQ(e.SwfPath, Temp + "{A1}.swf");
  EXPECT_EQ(ReadTextFile(e.SwfPath), "movie bytes");
  EXPECT_EQ(ReadTextFile(Temp + "data.xml"), "another program's data");  // not replaced
  EXPECT_EQ(ReadTextFile(Temp + "fresh.txt"), "new");
  EXPECT_EQ(e.ExtractedFiles, (std::vector<std::string>{Temp + "{A1}.swf", Temp + "fresh.txt"}));

  RemoveExtractedFiles(e);
  EXPECT_EQ(Tree(Outer), (std::set<std::string>{"outer.txt", "temp\\", "temp\\other program.txt", "temp\\data.xml",
                                                "temp\\{A1}\\", "temp\\{A1}\\movie.swf"}));
  EXPECT_EQ(ReadTextFile(Temp + "data.xml"), "another program's data");

  // A movie file beside the folder that this run did not write is neither
  // replaced nor handed to the controls.
  WriteText(Temp + "{A1}.swf", "not ours");
  TExtraction again = ExtractPackageFiles(p.S, Temp, false);
  EXPECT_EQ(again.SwfPath, "");
  EXPECT_EQ(ReadTextFile(Temp + "{A1}.swf"), "not ours");
  RemoveExtractedFiles(again);
  EXPECT_EQ(ReadTextFile(Temp + "{A1}.swf"), "not ours");
}

TEST_F(ExtractionTest, HostileNamesWriteNothingOutsideTheTemporaryDirectory) {
  const auto before = Tree(Outer);
  for (const std::string guid : {"..\\..\\x", "..", "C:\\x", "a/../../x", "\\\\server\\share", "NUL", "x:y"}) {
    TExtraction e = ExtractPackageFiles(Package(guid).S, Temp, true);
    EXPECT_TRUE(e.ExtractedFiles.empty()) << guid;
    EXPECT_EQ(e.TempFolder, "") << guid;
    RemoveExtractedFiles(e);
    EXPECT_EQ(Tree(Outer), before) << guid;
  }

  // Hostile movie and need-file names keep only their last component.
  Package p("{B2}", "..\\..\\evil.swf");
  p.Need("..\\..\\x", "1").Need("C:\\y", "2").Need("a/../../z", "3").Need("..", "4").Need("CON", "5").Need("q:", "6");
  TExtraction e = ExtractPackageFiles(p.S, Temp, true);
  EXPECT_EQ(e.SwfPath, Temp + "{B2}\\evil.swf");
  std::set<std::string> expected = before;
  for (const char* f : {"temp\\{B2}\\", "temp\\{B2}\\evil.swf", "temp\\{B2}\\x", "temp\\{B2}\\y", "temp\\{B2}\\z"})
    expected.insert(f);
  EXPECT_EQ(Tree(Outer), expected);
  RemoveExtractedFiles(e);
  EXPECT_EQ(Tree(Outer), before);
}

TEST_F(ExtractionTest, AnEmptyGuidNeverMakesTheTemporaryDirectoryTheFolderToDelete) {
  Package p("");
  p.Need("n.txt", "n");
  // Even as the first copy: without a GUID nothing is anybody's leftover.
  TExtraction e = ExtractPackageFiles(p.S, Temp, true);
  EXPECT_EQ(e.TempFolder, "");
  EXPECT_EQ(e.SwfPath, Temp + ".swf");
  EXPECT_TRUE(FileExists(Temp + "n.txt"));
  RemoveExtractedFiles(e);
  EXPECT_EQ(Tree(Outer), (std::set<std::string>{"outer.txt", "temp\\", "temp\\other program.txt"}));
}

TEST_F(ExtractionTest, NoMovieExtractsNothing) {
  Package p("{C3}");
  p.Need("n.txt", "n");
  p.S.Movie.reset();
  const TExtraction e = ExtractPackageFiles(p.S, Temp, true);
  EXPECT_TRUE(e.ExtractedFiles.empty());
  EXPECT_EQ(e.SwfPath, "");
  EXPECT_EQ(Tree(Outer).size(), 3u);
}

TEST_F(ExtractionTest, WriteExtractedFileRecordsWhatItMayHaveCreated) {
  std::vector<std::string> files;
  // Replacing: recorded before the attempt, so a failed write is still cleaned up.
  WriteExtractedFile(Temp + "missing folder\\a.bin", nullptr, 0, true, files);
  EXPECT_EQ(files, (std::vector<std::string>{Temp + "missing folder\\a.bin"}));
  // An empty block gives an empty file.
  WriteExtractedFile(Temp + "empty.bin", nullptr, 0, true, files);
  EXPECT_TRUE(FileExists(Temp + "empty.bin"));
  EXPECT_EQ(ReadTextFile(Temp + "empty.bin"), "");
  // Not replacing: an existing file is left alone and not recorded.
  const std::string bytes = "mine";
  WriteExtractedFile(Temp + "other program.txt", reinterpret_cast<const uint8_t*>(bytes.data()), 4, false, files);
  EXPECT_EQ(ReadTextFile(Temp + "other program.txt"), "theirs");
  EXPECT_EQ(files.size(), 2u);
  // A file replaced inside a folder of ours gets the new bytes.
  WriteExtractedFile(Temp + "empty.bin", reinterpret_cast<const uint8_t*>(bytes.data()), 4, true, files);
  EXPECT_EQ(ReadTextFile(Temp + "empty.bin"), "mine");
}

// ---- the player control's filter ------------------------------------------------------

LRESULT CALLBACK MainProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  return DefWindowProcW(Wnd, Msg, WParam, LParam);
}

class FlashControlTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    ASSERT_TRUE(RegisterFakePlayer(TFakePlayerVariant::V9));
  }
  static void TearDownTestSuite() {
    UnregisterFakePlayer();
    OleUninitialize();
  }
  void SetUp() override {
    Dir = MakeTempDir("flash control ");
    Log = Dir + "fake.log";
    SetEnvironmentVariableA("PL_FAKEPLAYER_LOG", Log.c_str());
    static const ATOM cls = [] {
      WNDCLASSW wc{};
      wc.lpfnWndProc = MainProc;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = L"PlFlashControlTestMain";
      return RegisterClassW(&wc);
    }();
    (void)cls;
    Main = CreateWindowExW(0, L"PlFlashControlTestMain", L"main", WS_POPUP | WS_CLIPCHILDREN, 0, 0, 300, 200, nullptr,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(Main);
    ShowWindow(Main, SW_SHOWNOACTIVATE);  // not active: Wine destroys it at once
  }
  void TearDown() override {
    DestroyWindow(Main);
    PumpFor(0);
    SetEnvironmentVariableA("PL_FAKEPLAYER_LOG", nullptr);
  }
  size_t Timers() const { return TFakeLog{Log}.Count("timer "); }

  std::string Dir, Log;
  HWND Main = nullptr;
};

TEST_F(FlashControlTest, BlockedMessagesNeverReachTheControlOthersDo) {
  TShockwaveFlashEx c(Main, false, false);
  c.BlockMessage(WM_RBUTTONDOWN);
  c.BlockMessages(WM_KEYDOWN, 0x0108);
  c.SetParentWindow(Main);
  ASSERT_TRUE(c.Handle());
  for (UINT m : std::vector<UINT>{WM_RBUTTONDOWN, WM_RBUTTONUP, WM_KEYDOWN, WM_KEYUP, 0x0108, 0x0109, WM_LBUTTONDOWN})
    PostMessageW(c.Handle(), m, 0x20, 0x00050007);
  ASSERT_TRUE(PumpUntil([&] { return TFakeLog{Log}.Count("msg lbuttondown") == 1; }));
  EXPECT_EQ(TFakeLog{Log}.Count("msg rbuttondown"), 0u);
  EXPECT_EQ(TFakeLog{Log}.Count("msg rbuttonup "), 1u);
  EXPECT_EQ(TFakeLog{Log}.Count("msg keydown"), 0u);
  EXPECT_EQ(TFakeLog{Log}.Count("msg keyup"), 0u);
  EXPECT_EQ(TFakeLog{Log}.Count("msg 0x108"), 0u);
  EXPECT_EQ(TFakeLog{Log}.Count("msg 0x109"), 1u);
  // A withheld message answers 0.
  EXPECT_EQ(SendMessageW(c.Handle(), WM_KEYDOWN, 0x20, 0), 0);
}

TEST_F(FlashControlTest, NoTimerMessageReachesAStoppingControl) {
  TShockwaveFlashEx c(Main, false, false);
  c.SetParentWindow(Main);
  ASSERT_TRUE(PumpUntil([&] { return Timers() >= 2; }));
  c.SetStopping();
  PumpFor(100);  // what was already queued drains
  const size_t before = Timers();
  PumpFor(400);
  EXPECT_EQ(Timers(), before);
  EXPECT_TRUE(c.Stopping());
}

TEST_F(FlashControlTest, APreviewAdvancesOnlyWhileTheMainWindowIsVisible) {
  TShockwaveFlashEx c(Main, true, false);
  c.SetParentWindow(Main);
  ASSERT_TRUE(PumpUntil([&] { return Timers() >= 2; }));
  ShowWindow(Main, SW_HIDE);
  PumpFor(100);
  const size_t hidden = Timers();
  PumpFor(400);
  EXPECT_EQ(Timers(), hidden);
  ShowWindow(Main, SW_SHOWNOACTIVATE);
  EXPECT_TRUE(PumpUntil([&] { return Timers() > hidden; }));

  // Not a preview: the main window's visibility does not matter.
  TShockwaveFlashEx full(Main, false, false);
  full.SetParentWindow(Main);
  ShowWindow(Main, SW_HIDE);
  const size_t start = TFakeLog{Log}.Count("timer ");
  EXPECT_TRUE(PumpUntil([&] { return TFakeLog{Log}.Count("timer ") > start + 2; }));
}

TEST_F(FlashControlTest, AThrottledPreviewWaitsBetweenTimerMessages) {
  TShockwaveFlashEx throttled(Main, true, true);
  throttled.SetParentWindow(Main);
  TShockwaveFlashEx plain(Main, true, false);
  plain.SetParentWindow(Main);
  ASSERT_TRUE(throttled.Handle() && plain.Handle());
  // Five timer messages in a row: the throttled control sleeps before each
  // that follows the previous one too closely; both controls still get them.
  auto elapsed = [](HWND Wnd) {
    const ULONGLONG start = GetTickCount64();
    for (int i = 0; i < 5; ++i) SendMessageW(Wnd, WM_TIMER, 1, 0);
    return GetTickCount64() - start;
  };
  const size_t before = Timers();
  const ULONGLONG slow = elapsed(throttled.Handle());
  EXPECT_GE(slow, 150u) << "four waits of 50 ms";
  EXPECT_GE(Timers(), before + 5);
  const ULONGLONG fast = elapsed(plain.Handle());
  EXPECT_LT(fast, slow);
}

}  // namespace
