// The player's Windows layer: extracting a package's files into a temporary
// directory and removing exactly what was extracted; the player control's
// message filter against the fake player; the main form in a run of its own.
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
#include "app/main_form_win32.h"
#include "tests/support/fake_log_win32.h"
#include "tests/support/fake_player_host_win32.h"
#include "tests/support/message_pump_win32.h"
#include "tests/support/probe_log_win32.h"
#include "tests/support/process_win32.h"
#include "tools/fakeplayer/fake_registration_win32.h"
#include "util/file_operation_win32.h"
#include "util/raii_com_win32.h"

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
  const TUniqueFile f(CreateFileA(Path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(f) << Path;
  DWORD written = 0;
  WriteFile(f.Get(), Text.data(), static_cast<DWORD>(Text.size()), &written, nullptr);
}

// Every path below Dir (relative, folders with a trailing backslash).
std::set<std::string> Tree(const std::string& Dir, const std::string& Prefix = "") {
  std::set<std::string> out;
  WIN32_FIND_DATAA fd;
  const TUniqueFind h(FindFirstFileA((Dir + "*").c_str(), &fd));
  if (!h) return out;
  do {
    const std::string name = fd.cFileName;
    if (name == "." || name == "..") continue;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      out.insert(Prefix + name + "\\");
      for (const auto& p : Tree(Dir + name + "\\", Prefix + name + "\\")) out.insert(p);
    } else {
      out.insert(Prefix + name);
    }
  } while (FindNextFileA(h.Get(), &fd));
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

class FlashControlTest : public TFakePlayerSuite {
 protected:
  void SetUp() override {
    Dir = MakeTempDir("flash control ");
    Log = Dir + "fake.log";
    SetEnvironmentVariableA("PL_FAKEPLAYER_LOG", Log.c_str());
    Main = CreateHostWindow(300, 200);
    ASSERT_TRUE(Main);
  }
  void TearDown() override {
    DestroyWindow(Main);
    PumpFor(0);
    SetEnvironmentVariableA("PL_FAKEPLAYER_LOG", nullptr);
  }

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

// The timer messages below are sent, not left to the control's own timer:
// without a message loop between them nothing else reaches the control, so
// each send is one message the control did or did not handle.
size_t SendTimers(HWND Wnd, int Count, const std::string& Log) {
  const size_t before = TFakeLog{Log}.Count("timer ");
  for (int i = 0; i < Count; ++i) SendMessageW(Wnd, WM_TIMER, 1, 0);
  return TFakeLog{Log}.Count("timer ") - before;
}

TEST_F(FlashControlTest, NoTimerMessageReachesAStoppingControl) {
  TShockwaveFlashEx c(Main, false, false);
  c.SetParentWindow(Main);
  ASSERT_TRUE(c.Handle());
  EXPECT_EQ(SendTimers(c.Handle(), 2, Log), 2u);
  c.SetStopping();
  EXPECT_EQ(SendTimers(c.Handle(), 3, Log), 0u);
  EXPECT_TRUE(c.Stopping());
}

TEST_F(FlashControlTest, APreviewAdvancesOnlyWhileTheMainWindowIsVisible) {
  TShockwaveFlashEx c(Main, true, false);
  c.SetParentWindow(Main);
  ASSERT_TRUE(c.Handle());
  EXPECT_EQ(SendTimers(c.Handle(), 2, Log), 2u);
  ShowWindow(Main, SW_HIDE);
  EXPECT_EQ(SendTimers(c.Handle(), 3, Log), 0u);
  ShowWindow(Main, SW_SHOWNOACTIVATE);
  EXPECT_EQ(SendTimers(c.Handle(), 1, Log), 1u);

  // Not a preview: the main window's visibility does not matter.
  TShockwaveFlashEx full(Main, false, false);
  full.SetParentWindow(Main);
  ShowWindow(Main, SW_HIDE);
  EXPECT_EQ(SendTimers(full.Handle(), 3, Log), 3u);
}

// A control whose throttle reads the test's clock: each reading gives Now,
// and a wait moves Now on by what was asked.
class TClockedFlash : public TShockwaveFlashEx {
 public:
  using TShockwaveFlashEx::TShockwaveFlashEx;
  DWORD Now = 0;
  int Readings = 0;
  std::vector<DWORD> Waits;

 protected:
  DWORD DoGetTickCount() override {
    ++Readings;
    return Now;
  }
  void DoSleep(DWORD Ms) override {
    Waits.push_back(Ms);
    Now += Ms;
  }
};

TEST_F(FlashControlTest, AThrottledPreviewWaitsWhenTimerMessagesComeWithin50Ms) {
  TClockedFlash throttled(Main, true, true);
  throttled.SetParentWindow(Main);
  ASSERT_TRUE(throttled.Handle());
  // When each timer message comes, and whether the control must wait 50 ms
  // first: the gap is taken from the end of the previous wait, and counted
  // across the tick counter's wrap.
  const std::vector<std::pair<DWORD, bool>> plan = {
      {1000, false}, {1049, true},        {1120, true}, {1220, false},
      {1221, true},  {0xFFFFFFF0u, false}, {0x10, true}, {0x80, false}};
  std::vector<DWORD> expected;
  for (const auto& [at, waits] : plan) {
    throttled.Now = at;
    EXPECT_EQ(SendTimers(throttled.Handle(), 1, Log), 1u) << "every timer message still reaches the control";
    if (waits) expected.push_back(50);
    EXPECT_EQ(throttled.Waits, expected) << "at " << at;
  }

  // Without the throttle flag, or outside a preview, the clock is never read.
  TClockedFlash plain(Main, true, false), full(Main, false, true);
  plain.SetParentWindow(Main);
  full.SetParentWindow(Main);
  EXPECT_EQ(SendTimers(plain.Handle(), 3, Log), 3u);
  EXPECT_EQ(SendTimers(full.Handle(), 3, Log), 3u);
  EXPECT_EQ(plain.Readings + full.Readings, 0);
  EXPECT_TRUE(plain.Waits.empty() && full.Waits.empty());
}

// ---- the main form in a run of its own ---------------------------------------------

// This program started again with a switch (and PL_PLAYER_RUN set) runs the
// saver's main form, as the saver's entry does, with no package behind it:
//   reshow   once the form has shown, it is hidden and shown again
// and then closes it.
int RunMainForm(const std::string& What) {
  TComApartment com;
  TApplication application;
  Application->Initialize();
  Application->SetShowMainForm(false);
  Application->CreateForm<TfrmMain>();
  if (What == "reshow") {
    frmMain->Hide();
    frmMain->Show();
  }
  frmMain->Close();
  Application->Run();
  return 0;
}

// A full-screen run of the main form; the fake's log of it.
TFakeLog RunMainFormWith(const std::string& Dir, const std::string& What, const char* Refuse) {
  static int serial = 0;
  const TFakeLog log{Dir + "run" + std::to_string(++serial) + ".log"};
  SetEnvironmentVariableA("PL_FAKEPLAYER_LOG", log.Path.c_str());
  SetEnvironmentVariableA("PL_FAKEPLAYER_REFUSE", Refuse);
  SetEnvironmentVariableA("PL_PLAYER_RUN", What.c_str());
  TStartedProcess run("\"" + ExeDir() + "player_test.exe\" /e");
  SetEnvironmentVariableA("PL_PLAYER_RUN", nullptr);
  SetEnvironmentVariableA("PL_FAKEPLAYER_REFUSE", nullptr);
  EXPECT_TRUE(run.WaitExit(60000)) << What;
  EXPECT_EQ(run.ExitCode(), 0u) << What;
  return log;
}

TEST_F(FlashControlTest, AMovieTheControlRefusedIsLoadedAgainAtTheNextShow) {
  // Accepted at the first show: the next show loads nothing.
  const TFakeLog accepted = RunMainFormWith(Dir, "reshow", nullptr);
  EXPECT_EQ(accepted.Count("put 102 "), 1u) << ReadTextFile(accepted.Path);
  EXPECT_EQ(accepted.Count("put 137 "), 1u) << ReadTextFile(accepted.Path);
  // Refused: the next show tries the whole load again, the scale too.
  const TFakeLog refused = RunMainFormWith(Dir, "reshow", "102");
  EXPECT_EQ(refused.Count("put-refused 102"), 2u) << ReadTextFile(refused.Path);
  EXPECT_EQ(refused.Count("put 137 "), 2u) << ReadTextFile(refused.Path);
}

}  // namespace

int main(int argc, char** argv) {
  if (const std::string what = ProbeEnv("PL_PLAYER_RUN"); !what.empty()) return RunMainForm(what);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
