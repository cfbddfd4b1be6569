// The player's Windows layer: extracting a package's files into a temporary
// directory and removing exactly what was extracted; the player control's
// message filter against the fake player; the main form in a run of its own.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/extraction_win32.h"
#include "app/flash_control_win32.h"
#include "app/main_form_win32.h"
#include "framework/timer_win32.h"
#include "package/writer.h"
#include "tests/doubles/fakeplayer/fake_movie.h"
#include "tests/doubles/fakeplayer/fake_registration_win32.h"
#include "tests/support/fake_log_win32.h"
#include "tests/support/fake_player_host_win32.h"
#include "tests/support/message_pump_win32.h"
#include "tests/support/package_builder.h"
#include "tests/support/probe_log_win32.h"
#include "tests/support/process_win32.h"
#include "util/file_operation_win32.h"
#include "util/raii_com_win32.h"
#include "util/utils_win32.h"

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
  TExtraction e = ExtractPackageFiles(p.S, Temp);

  EXPECT_EQ(e.TempFolder, Temp + "{A1}");
  EXPECT_EQ(e.SwfPath, Temp + "{A1}\\movie.swf");
  EXPECT_EQ(ReadTextFile(e.SwfPath), "movie bytes");
  EXPECT_EQ(ReadTextFile(Temp + "{A1}\\data.xml"), "<x/>");
  EXPECT_EQ(ReadTextFile(Temp + "{A1}\\pic.jpg"), "jpeg");  // beside the movie, whatever folder the name gave
  EXPECT_EQ(e.ExtractedFiles.size(), 3u);

  // A file still open (a control that has not let go of it) cannot go yet:
  // it and its folder are kept for the next try, the rest is gone.
  {
    const TUniqueFile held(CreateFileA((Temp + "{A1}\\data.xml").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    RemoveExtractedFiles(e);
    EXPECT_EQ(e.ExtractedFiles, (std::vector<std::string>{Temp + "{A1}\\data.xml"}));
    EXPECT_EQ(e.TempFolder, Temp + "{A1}");
    EXPECT_TRUE(FileExists(Temp + "{A1}\\data.xml"));
  }
  RemoveExtractedFiles(e);
  EXPECT_EQ(Tree(Outer), (std::set<std::string>{"outer.txt", "temp\\", "temp\\other program.txt"}));
  EXPECT_TRUE(e.ExtractedFiles.empty() && e.TempFolder.empty());
  // Once the run has ended, a later cleanup deletes nothing, also when
  // another copy of the package has meanwhile made files of the same names.
  EndExtraction(e);
  const auto again = ExtractPackageFiles(p.S, Temp);
  RemoveExtractedFiles(e);
  EndExtraction(e);
  EXPECT_EQ(ReadTextFile(again.SwfPath), "movie bytes");
  EXPECT_EQ(ReadTextFile(Temp + "{A1}\\data.xml"), "<x/>");
}

TEST_F(ExtractionTest, TheFirstCopyClearsWhatKilledRunsLeftAndExtractsAfresh) {
  // Killed runs left the folder, the movie beside it that copies used to
  // write, and folders of their own; a live copy holds its own folder.
  ASSERT_TRUE(CreateDirectoryA((Temp + "{A1}").c_str(), nullptr));
  WriteText(Temp + "{A1}\\movie.swf", "stale movie");
  WriteText(Temp + "{A1}\\stale.txt", "stale");
  WriteText(Temp + "{A1}.swf", "stale movie beside");
  for (const char* dir : {"{A1}.123", "{a1}.77", "{A1}.999", "{A1}.x", "{A1}.12345678901"}) {
    ASSERT_TRUE(CreateDirectoryA((Temp + dir).c_str(), nullptr));
    WriteText(Temp + dir + "\\movie.swf", "stale");
  }
  const TFolderLock live = ClaimFreeFolderLock("{A1}.999");
  ASSERT_TRUE(live.Handle);
  WriteText(Temp + "data.xml", "another program's data");
  Package p("{A1}", "movie.swf");
  p.Need("data.xml", "<x/>");
  TExtraction e = ExtractPackageFiles(p.S, Temp);

  EXPECT_TRUE(e.PackageLock.First);
  EXPECT_EQ(e.TempFolder, Temp + "{A1}");
  EXPECT_EQ(e.SwfPath, Temp + "{A1}\\movie.swf");
  EXPECT_EQ(ReadTextFile(e.SwfPath), "movie bytes");
  const std::set<std::string> others = {"outer.txt", "temp\\", "temp\\other program.txt", "temp\\data.xml",
                                        "temp\\{A1}.999\\", "temp\\{A1}.999\\movie.swf", "temp\\{A1}.x\\",
                                        "temp\\{A1}.x\\movie.swf", "temp\\{A1}.12345678901\\",
                                        "temp\\{A1}.12345678901\\movie.swf"};
  std::set<std::string> expected = others;
  for (const char* f : {"temp\\{A1}\\", "temp\\{A1}\\movie.swf", "temp\\{A1}\\data.xml"}) expected.insert(f);
  EXPECT_EQ(Tree(Outer), expected);
  EndExtraction(e);
  EXPECT_EQ(Tree(Outer), others);
  EXPECT_EQ(ReadTextFile(Temp + "data.xml"), "another program's data");
}

TEST_F(ExtractionTest, ACopyBesideALiveFolderUsesAFolderOfItsOwnAndTouchesNothingElse) {
  // Another copy of the package runs and holds the folder; another program
  // has a file named like a need file.
  TFolderLock other = JoinFolderLock("{A1}", 0);
  ASSERT_TRUE(other.First);
  other.Owned.Reset();
  ASSERT_TRUE(CreateDirectoryA((Temp + "{A1}").c_str(), nullptr));
  WriteText(Temp + "{A1}\\movie.swf", "the other copy's movie");
  WriteText(Temp + "data.xml", "another program's data");
  Package p("{A1}", "movie.swf");
  p.Need("data.xml", "<x/>").Need("fresh.txt", "new");
  // So does a package whose GUID differs in letter case only: the file
  // system gives both the same folder.
  for (const std::string guid : {"{A1}", "{a1}"}) {
    SCOPED_TRACE(guid);
    p.S.Movie->GUID = guid;
    TExtraction e = ExtractPackageFiles(p.S, Temp);
    const std::string own = guid + "." + std::to_string(GetCurrentProcessId());
    EXPECT_FALSE(e.PackageLock.First);
    EXPECT_EQ(e.TempFolder, Temp + own);
    EXPECT_EQ(e.SwfPath, Temp + own + "\\movie.swf");
    EXPECT_EQ(ReadTextFile(e.SwfPath), "movie bytes");
    EXPECT_EQ(ReadTextFile(Temp + own + "\\data.xml"), "<x/>");
    EXPECT_EQ(ReadTextFile(Temp + "data.xml"), "another program's data");
    EndExtraction(e);
    EXPECT_EQ(Tree(Outer), (std::set<std::string>{"outer.txt", "temp\\", "temp\\other program.txt",
                                                  "temp\\data.xml", "temp\\{A1}\\", "temp\\{A1}\\movie.swf"}));
  }

  // When no folder of its own can be had, the movie goes beside the
  // package's folder, and a file there that this run did not write is
  // neither replaced nor handed to the controls.
  p.S.Movie->GUID = "{A1}";
  const TFolderLock taken = ClaimFreeFolderLock("{A1}." + std::to_string(GetCurrentProcessId()));
  ASSERT_TRUE(taken.Handle);
  TExtraction beside = ExtractPackageFiles(p.S, Temp);
  EXPECT_EQ(beside.SwfPath, Temp + "{A1}.swf");
  EXPECT_EQ(beside.TempFolder, "");  // not ours: never deleted
  EXPECT_EQ(ReadTextFile(Temp + "data.xml"), "another program's data");  // not replaced
  EXPECT_EQ(beside.ExtractedFiles, (std::vector<std::string>{Temp + "{A1}.swf", Temp + "fresh.txt"}));
  EndExtraction(beside);
  WriteText(Temp + "{A1}.swf", "not ours");
  TExtraction again = ExtractPackageFiles(p.S, Temp);
  EXPECT_EQ(again.SwfPath, "");
  EXPECT_EQ(ReadTextFile(Temp + "{A1}.swf"), "not ours");
  RemoveExtractedFiles(again);
  EXPECT_EQ(ReadTextFile(Temp + "{A1}.swf"), "not ours");
}

TEST_F(ExtractionTest, HostileNamesWriteNothingOutsideTheTemporaryDirectory) {
  const auto before = Tree(Outer);
  for (const std::string guid : {"..\\..\\x", "..", "C:\\x", "a/../../x", "\\\\server\\share", "NUL", "x:y"}) {
    TExtraction e = ExtractPackageFiles(Package(guid).S, Temp);
    EXPECT_TRUE(e.ExtractedFiles.empty()) << guid;
    EXPECT_EQ(e.TempFolder, "") << guid;
    RemoveExtractedFiles(e);
    EXPECT_EQ(Tree(Outer), before) << guid;
  }

  // Hostile movie and need-file names keep only their last component.
  Package p("{B2}", "..\\..\\evil.swf");
  p.Need("..\\..\\x", "1").Need("C:\\y", "2").Need("a/../../z", "3").Need("..", "4").Need("CON", "5").Need("q:", "6");
  TExtraction e = ExtractPackageFiles(p.S, Temp);
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
  // Without a GUID nothing is anybody's leftover.
  TExtraction e = ExtractPackageFiles(p.S, Temp);
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
  const TExtraction e = ExtractPackageFiles(p.S, Temp);
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
// saver's main form, as the saver's entry does, with whatever package lies
// behind the running file:
//   reshow   once the form has shown, it is hidden and shown again, then closed
//   hold     the copy says in PL_PLAYER_PROBE_LOG when it has joined the
//            package's lock (and, as the first copy, waits there until the
//            file PL_PLAYER_PAUSE_UNTIL exists); it plays until the file
//            PL_PLAYER_CLOSE_WHEN exists
int RunMainForm(const std::string& What) {
  TComApartment com;
  TApplication application;
  Application->Initialize();
  Application->SetShowMainForm(false);
  if (What == "hold") {
    SetLockJoinedObserver([](bool First) {
      ProbeLog("PL_PLAYER_PROBE_LOG", std::to_string(GetCurrentProcessId()) + (First ? " first" : " second"));
      const std::string until = ProbeEnv("PL_PLAYER_PAUSE_UNTIL");
      for (int i = 0; First && !until.empty() && !FileExists(until) && i < 3000; ++i) Sleep(20);
    });
  }
  Application->CreateForm<TfrmMain>();
  if (What == "reshow") {
    frmMain->Hide();
    frmMain->Show();
  }
  if (What == "hold") {
    auto* closeWhenTold = new TMessageTimer(frmMain);  // the form frees it
    closeWhenTold->SetInterval(50);
    closeWhenTold->SetOnTimer([](TComponent*) {
      if (FileExists(ProbeEnv("PL_PLAYER_CLOSE_WHEN"))) frmMain->Close();
    });
    closeWhenTold->SetEnabled(true);
  } else {
    frmMain->Close();
  }
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

// Two copies of one package start within moments of each other, as the
// display settings start a preview and then a full-screen run. The first is
// held between joining the package's lock and looking at the temporary
// folder, for as long as it takes the second to come up and play: neither
// copy loses its files, both play, and each removes only its own.
TEST_F(FlashControlTest, TwoCopiesStartingTogetherNeverTakeEachOthersFiles) {
  const std::string guid = "{PLAYER-HOLD}";
  const std::string temp = GetTempFilePath("");
  auto leftOfPackage = [&] {
    std::set<std::string> out;
    for (const auto& p : Tree(temp))
      if (p.rfind(guid, 0) == 0) out.insert(p);
    return out;
  };
  ASSERT_TRUE(leftOfPackage().empty());
  const std::string self = ReadTextFile(ExeDir() + "player_test.exe");
  const std::string copy = Dir + "held player.exe";
  const std::vector<uint8_t> bytes = WithPackage(std::vector<uint8_t>(self.begin(), self.end()), 0x5A, {
      StoredItem("GUID", guid), StoredItem("FlashSwfName", std::string("movie.swf")),
      StoredItem("FlashSwf", TinySwf()), StoredItem("FlashNeedFileCount", std::vector<uint8_t>{1, 0, 0, 0}),
      StoredItem("FlashNeedFileName0", std::string("data.xml")), StoredItem("FlashNeedFileData0", std::string("<x/>"))});
  {
    const TUniqueFile f(CreateFileA(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(f);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(f.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  }
  const std::string probe = Dir + "probe.log";
  auto joined = [&](const char* Word) { return ReadTextFile(probe).find(Word) != std::string::npos; };
  // The first copy is a preview in this test's window, the second a
  // full-screen run.
  auto start = [&](const std::string& Name, bool Pause) {
    SetEnvironmentVariableA("PL_PLAYER_RUN", "hold");
    SetEnvironmentVariableA("PL_PLAYER_PROBE_LOG", probe.c_str());
    SetEnvironmentVariableA("PL_PLAYER_PAUSE_UNTIL", Pause ? (Dir + "go").c_str() : nullptr);
    SetEnvironmentVariableA("PL_PLAYER_CLOSE_WHEN", (Dir + "close-" + Name).c_str());
    const std::string mode = Pause ? "/p " + std::to_string(reinterpret_cast<UINT_PTR>(Main)) : "/e";
    auto p = std::make_unique<TStartedProcess>("\"" + copy + "\" " + mode);
    for (const char* v : {"PL_PLAYER_RUN", "PL_PLAYER_PROBE_LOG", "PL_PLAYER_PAUSE_UNTIL", "PL_PLAYER_CLOSE_WHEN"})
      SetEnvironmentVariableA(v, nullptr);
    return p;
  };
  // The movie each copy loaded, by the fake's log: "pid path".
  auto loads = [&] {
    std::vector<std::pair<std::string, std::string>> out;
    std::istringstream lines(ReadTextFile(Log));
    for (std::string line; std::getline(lines, line);) {
      std::istringstream words(line);
      std::string pid, instance, event, path;
      words >> pid >> instance >> event >> path;
      if (event == "load" || event == "load-failed")
        out.push_back({pid, event == "load" ? UnescapeLogField(path) : "failed"});
    }
    return out;
  };

  auto first = start("first", true);
  ASSERT_TRUE(PumpUntil([&] { return joined(" first"); }, 30000)) << ReadTextFile(probe);
  auto second = start("second", false);
  ASSERT_TRUE(PumpUntil([&] { return joined(" second"); }, 30000)) << ReadTextFile(probe);
  // The second copy plays without waiting for the first for ever.
  ASSERT_TRUE(PumpUntil([&] { return loads().size() == 1; }, 30000)) << ReadTextFile(Log);
  WriteText(Dir + "go", "");
  ASSERT_TRUE(PumpUntil([&] { return loads().size() == 2; }, 30000)) << ReadTextFile(Log);
  const auto played = loads();
  const std::string inFolder = temp + guid + "\\movie.swf";
  EXPECT_EQ(played[0].first, std::to_string(second->ProcessId()));
  EXPECT_EQ(played[0].second, temp + guid + "." + played[0].first + "\\movie.swf") << "beside, in its own folder";
  EXPECT_EQ(played[1].first, std::to_string(first->ProcessId()));
  EXPECT_EQ(played[1].second, inFolder);
  for (const auto& [pid, path] : played) {
    EXPECT_EQ(ReadTextFile(path).substr(0, 3), "FWS") << path;
    EXPECT_EQ(ReadTextFile(path.substr(0, path.rfind('\\') + 1) + "data.xml"), "<x/>") << path;
  }
  // The second goes first and takes only its own files.
  WriteText(Dir + "close-second", "");
  ASSERT_TRUE(second->WaitExit(30000));
  EXPECT_EQ(second->ExitCode(), 0u);
  EXPECT_EQ(leftOfPackage(), (std::set<std::string>{guid + "\\", guid + "\\movie.swf", guid + "\\data.xml"}));
  WriteText(Dir + "close-first", "");
  ASSERT_TRUE(first->WaitExit(30000));
  EXPECT_EQ(first->ExitCode(), 0u);
  EXPECT_TRUE(leftOfPackage().empty());
}

}  // namespace

int main(int argc, char** argv) {
  if (const std::string what = ProbeEnv("PL_PLAYER_RUN"); !what.empty()) return RunMainForm(what);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
