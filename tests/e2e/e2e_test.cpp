// The whole saver under Wine: packages packed with plws behind saver.scr,
// the fake player registered in the test prefix, real input from xdotool,
// the fake's log, the temporary folder, exit codes and the screen.
//
// Needs DISPLAY and WINEPREFIX (scripts/with-display provides both) and the
// Windows build beside this one; without them every scenario is skipped.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "package/writer.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/package_builder.h"

namespace fs = std::filesystem;

namespace {

std::string Env(const char* Name) {
  const char* v = std::getenv(Name);
  return v ? v : "";
}

// A manifest text value or name: backslashes doubled, blanks escaped in names.
std::string Esc(const std::string& Text, bool Name = false) {
  std::string out;
  for (char c : Text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == ' ' && Name)
      out += "\\s";
    else
      out += c;
  }
  return out;
}

// A BMP file (24 bits, bottom-up) of one colour.
std::string SolidBmp(int Width, int Height, uint32_t Rgb) {
  const int row = (Width * 3 + 3) & ~3;
  const uint32_t pixels = static_cast<uint32_t>(row * Height);
  std::string b;
  auto u16 = [&](uint32_t v) { b += static_cast<char>(v & 0xFF), b += static_cast<char>((v >> 8) & 0xFF); };
  auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  b += "BM";
  u32(54 + pixels), u32(0), u32(54);
  u32(40), u32(static_cast<uint32_t>(Width)), u32(static_cast<uint32_t>(Height)), u16(1), u16(24), u32(0), u32(pixels),
      u32(2835), u32(2835), u32(0), u32(0);
  for (int y = 0; y < Height; ++y) {
    for (int x = 0; x < Width; ++x) {
      b += static_cast<char>(Rgb & 0xFF);
      b += static_cast<char>((Rgb >> 8) & 0xFF);
      b += static_cast<char>((Rgb >> 16) & 0xFF);
    }
    b.append(static_cast<size_t>(row - Width * 3), '\0');
  }
  return b;
}

constexpr uint32_t kGreen = 0x00FF00;
constexpr uint32_t kMagenta = 0xFF00FF;

struct TSuite {
  bool Ready = false;
  std::string Why;  // why the suite is skipped
  std::string Source, Native, Win, Prefix, Work;
  std::string Saver, Plws, Swfgen, Watch, PreviewHost, HoldFiles, RegisterFake;
  std::string TempUnix;     // the prefix's temporary directory
  std::string TempWindows;  // the same as the saver sees it, with a trailing backslash
  std::string PlainMovie, QuitMovie;
};
TSuite& S() {
  static TSuite s;
  return s;
}

class SaverE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    TSuite& s = S();
    s.Source = Env("PL_SOURCE_DIR");
    s.Native = Env("PL_BINARY_DIR");
    s.Win = PL_E2E_WIN_BUILD_DIR;
    s.Prefix = Env("WINEPREFIX");
    s.Saver = s.Win + "/app/saver.scr";
    s.Watch = s.Win + "/tests/e2e/e2e_process_watch.exe";
    s.PreviewHost = s.Win + "/tests/e2e/e2e_preview_host.exe";
    s.HoldFiles = s.Win + "/tests/e2e/e2e_hold_files.exe";
    s.Plws = PL_E2E_PLWS;
    s.Swfgen = PL_E2E_SWFGEN;
    s.RegisterFake = s.Source + "/tests/doubles/fakeplayer/register-fakeplayer";
    if (Env("DISPLAY").empty() || s.Prefix.empty()) {
      s.Why = "needs DISPLAY and WINEPREFIX: run it through scripts/with-display";
      return;
    }
    for (const std::string& f : {s.Saver, s.Watch, s.PreviewHost, s.HoldFiles, s.Win + "/fakeplayer/fakeplayer_v9.dll"})
      if (!fs::exists(f)) {
        s.Why = f + " is not built";
        return;
      }
    s.Work = s.Native + "/tests/e2e/work";
    fs::remove_all(s.Work);
    fs::create_directories(s.Work);
    for (const auto& e : fs::directory_iterator(s.Prefix + "/drive_c/users")) {
      if (e.path().filename() == "Public" || !fs::exists(e.path() / "Temp")) continue;
      s.TempUnix = (e.path() / "Temp").string();
      s.TempWindows = "C:\\users\\" + e.path().filename().string() + "\\Temp\\";
    }
    if (s.TempUnix.empty()) {
      s.Why = "no temporary directory in " + s.Prefix;
      return;
    }
    s.PlainMovie = s.Work + "/plain.swf";
    s.QuitMovie = s.Work + "/quit.swf";
    if (RunProgram({s.Swfgen, "--out", s.PlainMovie, "--bg", "00FF00", "--frames", "60"}).ExitCode != 0 ||
        RunProgram({s.Swfgen, "--out", s.QuitMovie, "--bg", "00FF00", "--quit-after-frames", "20"}).ExitCode != 0) {
      s.Why = "swfgen failed";
      return;
    }
    // No crash dialog may ever wait for a click.
    RunProgram({"wine", "reg", "add", "HKCU\\Software\\Wine\\WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD", "/d",
         "0", "/f"});
    if (!RegisterFake("v9")) {
      s.Why = "register-fakeplayer failed";
      return;
    }
    s.Ready = true;
  }

  static void TearDownTestSuite() {
    if (S().Ready) RegisterFake("none");
  }

  static bool RegisterFake(const std::string& Variant, const TEnv& Extra = {}) {
    TEnv env = Extra;
    env["PL_FAKEPLAYER_DIR"] = S().Win + "/fakeplayer";
    return RunProgram({S().RegisterFake, Variant}, env).ExitCode == 0;
  }

  void SetUp() override {
    if (!S().Ready) GTEST_SKIP() << S().Why;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    Dir = S().Work + "/" + info->name();
    fs::create_directories(Dir);
    Log = Dir + "/fake.log";
    // What an earlier, interrupted run of these scenarios left behind: their
    // packages' folders, and what a package without a GUID leaves in the
    // temporary folder itself (its movie ".swf", its browser's profile),
    // which would keep the next such run from extracting its movie.
    for (const auto& e : fs::directory_iterator(S().TempUnix)) {
      const std::string name = e.path().filename().string();
      if (name.rfind("{E2E-", 0) == 0 || name == ".swf" || name.rfind("browser.", 0) == 0) fs::remove_all(e.path());
    }
    TempBefore = Tree(S().TempUnix);
  }

  void TearDown() override {
    if (!S().Ready) return;
    // Whatever this scenario started and left running ends here, by pid.
    for (const std::string& scr : Savers) KillPids(ProcessesMatching(fs::path(scr).filename().string()));
  }

  // Packs Lines (manifest directives after the key) behind saver.scr.
  std::string Pack(const std::string& Name, const std::vector<std::string>& Lines) {
    std::string manifest = "key 0x5A\n";
    for (const auto& l : Lines) manifest += l + "\n";
    const std::string m = Dir + "/" + Name + ".plws";
    WriteFile(m, manifest);
    const std::string out = Dir + "/" + Name + ".scr";
    const TRunResult r = RunProgram({S().Plws, "pack", "--stub", S().Saver, "--out", out, m});
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    Savers.push_back(out);
    return out;
  }

  // A saver file written directly (garbled packages plws would not write).
  std::string WriteSaver(const std::string& Name, const std::vector<uint8_t>& Bytes) {
    const std::string out = Dir + "/" + Name + ".scr";
    WriteFile(out, std::string(Bytes.begin(), Bytes.end()));
    Savers.push_back(out);
    return out;
  }

  TEnv WineEnv() const { return {{"PL_FAKEPLAYER_LOG", WinePath(Log)}}; }
  std::string Cwd() const { return Dir + "/cwd"; }

  // Starts a program in the scenario's own working folder.
  std::unique_ptr<TChild> Start(const std::vector<std::string>& Argv, const std::string& Output,
                                const TEnv& Extra = {}) {
    TEnv env = WineEnv();
    for (const auto& [k, v] : Extra) env[k] = v;
    fs::create_directories(Cwd());
    auto child = std::make_unique<TChild>(Argv, env, Dir + "/" + Output, Cwd());
    EXPECT_TRUE(child->Started());
    return child;
  }

  std::vector<TFakeEvent> Events(const std::string& Name = "") const {
    std::vector<TFakeEvent> out;
    for (auto& e : ReadFakeLog(Log))
      if (Name.empty() || e.Name == Name) out.push_back(e);
    return out;
  }
  bool WaitForEvents(const std::string& Name, size_t Count, int TimeoutMs = 20000) const {
    return WaitUntil([&] { return Events(Name).size() >= Count; }, TimeoutMs);
  }
  // The puts of one control, as "DISPID type value" (value unescaped).
  std::vector<std::string> Puts(long Pid, int Instance) const {
    std::vector<std::string> out;
    for (const auto& e : Events("put")) {
      if (e.Pid != Pid || e.Instance != Instance) continue;
      std::string text;
      for (const auto& f : e.Fields) text += (text.empty() ? "" : " ") + f;
      out.push_back(text);
    }
    return out;
  }

  static void Key(const std::string& Key, const std::string& Display = "") {
    TEnv env;
    if (!Display.empty()) env["DISPLAY"] = Display;
    EXPECT_EQ(RunProgram({"xdotool", "key", Key}, env).ExitCode, 0);
  }

  // The extraction folder of GUID in the prefix's temporary directory.
  static std::string TempFolder(const std::string& GUID) { return S().TempUnix + "/" + GUID; }
  static std::string TempWindows(const std::string& Rest) { return S().TempWindows + Rest; }
  void ExpectTempAsBefore() const { ExpectSame(Tree(S().TempUnix), TempBefore); }
  // Two file trees, with only the differences reported.
  static void ExpectSame(const std::set<std::string>& Now, const std::set<std::string>& Before) {
    std::string added, removed;
    for (const auto& p : Now)
      if (!Before.count(p)) added += " " + p;
    for (const auto& p : Before)
      if (!Now.count(p)) removed += " " + p;
    EXPECT_TRUE(added.empty() && removed.empty()) << "added:" << added << "\nremoved:" << removed;
  }

  // A shot of the screen once it is all black (the last one taken when it
  // does not get there within 10 s).
  static TScreen ShotWhenBlack(const std::string& SaveAs) {
    TScreen shot;
    WaitUntil([&] {
      shot = Screenshot(SaveAs);
      return shot.Width > 0 && shot.Count(0, 0, shot.Width, shot.Height, 0x000000) == shot.Width * shot.Height;
    }, 10000, 250);
    return shot;
  }

  // A movie of this scenario whose frame 20 sends the FSCommand Command.
  std::string MovieSaying(const std::string& Command) const {
    static int serial = 0;
    const std::string movie = Dir + "/says" + std::to_string(++serial) + ".swf";
    const TRunResult r = RunProgram({S().Swfgen, "--out", movie, "--bg", "00FF00", "--quit-after-frames", "20",
                                     "--quit-command", Command});
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    return movie;
  }

  // The display settings' preview of Scr in a corner of the screen, until
  // EndPreview(Name).
  std::unique_ptr<TChild> Preview(const std::string& Scr, const std::string& Name, TEnv Extra = {}) {
    Extra["PL_E2E_PREVIEW_UNTIL"] = WinePath(Dir + "/end-" + Name);
    return Start({"wine", S().PreviewHost, WinePath(Scr), "120", "100", "100", "320", "240"}, Name + ".out", Extra);
  }
  void EndPreview(std::unique_ptr<TChild>& Host, const std::string& Name) {
    WriteFile(Dir + "/end-" + Name, "");
    ASSERT_TRUE(Host->Wait(40000));
    EXPECT_NE(Host->Output().find("exit 0"), std::string::npos) << Host->Output();
  }
  // The folder of its own a copy (Windows process id Pid) uses beside the
  // package's folder when that one is in use.
  static std::string OwnFolder(const std::string& GUID, long Pid) { return GUID + "." + std::to_string(Pid); }

  // Logoff, shutdown or restart: the system asks every top-level window and
  // may end the process as soon as the last one has heard the end.
  static void EndSession() {
    const TRunResult r = RunProgram({"wineboot", "--end-session"}, {}, 60000);
    EXPECT_EQ(r.ExitCode, 0) << r.Output << "\nthe saver must not hold up the end of the session";
  }

  // The dialog shows the package's 48x40 magenta picture (the screen, once
  // it has painted, in dialog.png).
  void ExpectDialogPicture() const {
    TScreen shot;
    WaitUntil([&] {
      shot = Screenshot(Dir + "/dialog.png");
      return shot.Count(0, 0, shot.Width, shot.Height, kMagenta) >= 48 * 40;
    }, 10000, 250);
    EXPECT_GE(shot.Count(0, 0, shot.Width, shot.Height, kMagenta), 48 * 40) << "the package's picture";
  }

  // A window of that caption is shown.
  static bool WindowShown(const std::string& Caption, const std::string& Display = "") {
    TEnv env;
    if (!Display.empty()) env["DISPLAY"] = Display;
    return RunProgram({"xdotool", "search", "--onlyvisible", "--name", "^" + Caption + "$"}, env).ExitCode == 0;
  }
  // The saver's main window: the form's caption.
  static bool SaverWindowShown(const std::string& Display = "") { return WindowShown("plu:mex ScreenSaver", Display); }

  std::string Dir, Log;
  std::set<std::string> TempBefore;
  std::vector<std::string> Savers;
};

std::vector<std::string> CommonItems(const std::string& GUID) {
  return {"item GUID text compressed " + GUID,
          "item FlashLoop flag stored 1",
          "item FlashMenu flag stored 0",
          "item FlashMenuFull flag stored 1",
          "item FlashQuality int32 stored 2",
          "item FlashBackColor int32 stored 0x00FF00",
          "item FlashSwfName text stored movie.swf"};
}

std::vector<std::string> With(std::vector<std::string> A, const std::vector<std::string>& B) {
  A.insert(A.end(), B.begin(), B.end());
  return A;
}

// ---- full screen ----------------------------------------------------------------------

TEST_F(SaverE2E, FullScreenRelaunchesPlaysFromTheTemporaryFolderAndAKeyEndsItCleanly) {
  const std::string guid = "{E2E-FULL-1}";
  const std::string scr = Pack("full", With(CommonItems(guid), {
      "item FlashVars text compressed a=1",
      "item FlashStretch flag stored 1",
      "item FlashSwf file compressed " + S().PlainMovie,
      "item FlashNeedFileCount int32 stored 2",
      "item FlashNeedFileName0 text stored data.xml",
      "item FlashNeedFileData0 text compressed <data/>",
      "item FlashNeedFileName1 text stored " + Esc("sub\\pic.txt"),
      "item FlashNeedFileData1 text stored picture"}));
  auto parent = Start({"wine", scr, "/s"}, "saver.out");
  ASSERT_TRUE(WaitForEvents("load", 1)) << ReadFile(Log) << parent->Output();

  // The movie and the need files, in the folder named after the GUID.
  EXPECT_EQ(ReadFile(TempFolder(guid) + "/movie.swf"), ReadFile(S().PlainMovie));
  EXPECT_EQ(ReadFile(TempFolder(guid) + "/data.xml"), "<data/>");
  EXPECT_EQ(ReadFile(TempFolder(guid) + "/pic.txt"), "picture");

  // One control, in the copy started with /E; the first copy waits for it.
  const auto controls = Events("activate");  // the detection checks create instances too, never shown
  ASSERT_EQ(controls.size(), 1u) << ReadFile(Log);
  const long pid = controls[0].Pid;
  const int instance = controls[0].Instance;
  EXPECT_FALSE(ProcessesMatching(fs::path(scr).filename().string() + " /E").empty());
  EXPECT_TRUE(parent->Running());
  const std::vector<std::string> expected = {
      "106 bool -1",
      "135 bool -1",
      "105 int 2",
      "170 text a=1&plumexmode=normal",
      "123 int 65280",
      "102 text " + TempWindows(guid + "\\movie.swf"),
      "137 text ShowAll"};
  // The scale follows the load: wait for as many puts as are expected.
  WaitUntil([&] { return Puts(pid, instance).size() >= expected.size(); }, 10000);
  EXPECT_EQ(Puts(pid, instance), expected) << ReadFile(Log);

  // The control covers the screen with the movie's background colour, once
  // it has painted after the Movie put.
  TScreen shot;
  WaitUntil(
      [&] {
        shot = Screenshot(Dir + "/playing.png");
        return shot.Width > 0 && shot.Pixel(shot.Width / 2, shot.Height / 3) == kGreen;
      },
      10000, 250);
  ASSERT_GT(shot.Width, 0);
  EXPECT_EQ(shot.Pixel(shot.Width / 2, shot.Height / 3), kGreen);

  auto watch = Start({"wine", S().Watch, std::to_string(pid), "30"}, "watch.out");
  ASSERT_TRUE(WaitUntil([&] { return watch->Output().find("watching") != std::string::npos; }, 20000))
      << watch->Output();

  Key("space");
  const auto code = parent->Wait(20000);
  ASSERT_TRUE(code) << "a key must end the saver";
  EXPECT_EQ(*code, 0);
  ASSERT_TRUE(watch->Wait(20000));
  EXPECT_NE(watch->Output().find("exit 0"), std::string::npos) << watch->Output();
  EXPECT_FALSE(fs::exists(TempFolder(guid)));
  ExpectTempAsBefore();
  // The control was stopped and released.
  std::vector<std::string> end;
  for (const auto& e : Events())
    if (e.Instance == instance && (e.Name == "call" || e.Name == "destroy")) end.push_back(e.Text);
  EXPECT_EQ(end, (std::vector<std::string>{"call DisableLocalSecurity", "call Stop", "call StopPlay", "destroy"}));
}

TEST_F(SaverE2E, WithoutTheAuthorsFlashVarsOrStretchTheControlGetsTheModeAndNoScale) {
  const std::string guid = "{E2E-FULL-2}";
  // A picture that is no bitmap does not stop the items after it.
  const std::string scr = Pack("plain", With(CommonItems(guid), {
      "item FlashSwf file stored " + S().PlainMovie,
      "item DialogImage hex stored 424D0100FFFF",
      "item FlashNeedFileCount int32 stored 1",
      "item FlashNeedFileName0 text stored after-picture.txt",
      "item FlashNeedFileData0 text stored still here"}));
  auto saver = Start({"wine", scr, "/e"}, "saver.out");
  ASSERT_TRUE(WaitForEvents("load", 1)) << ReadFile(Log);
  EXPECT_EQ(ReadFile(TempFolder(guid) + "/after-picture.txt"), "still here");
  std::vector<std::string> vars, scale;
  for (const auto& e : Events("put")) {
    if (e.Fields[0] == "170") vars.push_back(e.Fields[2]);
    if (e.Fields[0] == "137") scale.push_back(e.Fields[2]);
  }
  EXPECT_EQ(vars, std::vector<std::string>{"plumexmode=normal"});
  EXPECT_EQ(scale, std::vector<std::string>{"NoScale"});
  Key("Escape");
  ASSERT_EQ(saver->Wait(20000), std::optional<int>(0));
  ExpectTempAsBefore();
}

TEST_F(SaverE2E, KeysReachTheMovieWhenThePackageSaysTheyDoNotEndTheSaver) {
  const std::string guid = "{E2E-KEYS}";
  const std::string scr = Pack("keys", With(CommonItems(guid), {
      "item FlashSwf file compressed " + S().PlainMovie,
      "item ScreenSaverStopByKey flag stored 0"}));
  auto saver = Start({"wine", scr, "/e"}, "saver.out");
  ASSERT_TRUE(WaitForEvents("load", 1)) << ReadFile(Log);
  Key("a");
  EXPECT_TRUE(WaitUntil([&] {
    bool down = false, up = false;
    for (const auto& e : Events("msg")) {
      down |= e.Fields[0] == "keydown" && e.Fields[1] == "0x41";
      up |= e.Fields[0] == "keyup" && e.Fields[1] == "0x41";
    }
    return down && up;
  }, 10000)) << ReadFile(Log);
  // The form judges each key before it passes it on: a key that ended the
  // saver would have found no control left to reach.
  EXPECT_TRUE(saver->Running()) << "keys do not end this saver";
  EXPECT_EQ(RunProgram({"xdotool", "click", "1"}).ExitCode, 0);
  EXPECT_EQ(saver->Wait(20000), std::optional<int>(0)) << "a mouse button still does";
  ExpectTempAsBefore();
}

TEST_F(SaverE2E, TheMoviesQuitCommandEndsAFullScreenRun) {
  const std::string guid = "{E2E-QUIT}";
  // In any letter case.
  for (const std::string command : {"quit", "QUIT", "Quit"}) {
    SCOPED_TRACE(command);
    const std::string movie = command == "quit" ? S().QuitMovie : MovieSaying(command);
    const std::string scr = Pack("quit-" + std::to_string(Savers.size()),
                                 With(CommonItems(guid), {"item FlashSwf file compressed " + movie}));
    const size_t fired = Events("fire").size();
    auto saver = Start({"wine", scr, "/e"}, "saver.out");
    // No input at all: the movie ends the run.
    const auto code = saver->Wait(30000);
    ASSERT_TRUE(code) << ReadFile(Log);
    EXPECT_EQ(*code, 0);
    ASSERT_EQ(Events("fire").size(), fired + 1);
    EXPECT_EQ(Events("fire").back().Fields[0], command);
    ExpectTempAsBefore();
  }

  // A saver another writer made behind another stub, one that plays only
  // through the vendor's control: after plws upgrade it plays here, and its
  // movie's quit ends the run.
  SCOPED_TRACE("upgraded");
  const std::string movie = ReadFile(S().QuitMovie);
  const std::string old = WriteSaver(
      "old", HandWrittenSaver(Bytes("MZ\x90 another writer's stub"), 0x7E3, {
          TPackageRecord{"GUID", 2, DeflateAtLevel(Bytes(guid), 9)},
          StoredItem("FlashLoop", std::vector<uint8_t>{1}),
          StoredItem("FlashSwfName", "movie.swf"),
          TPackageRecord{"FlashSwf", 255, DeflateAtLevel(Bytes(movie), 1)}}));
  const std::string upgraded = Dir + "/upgraded.scr";
  Savers.push_back(upgraded);
  const TRunResult up = RunProgram({S().Plws, "upgrade", "--stub", S().Saver, old, upgraded});
  ASSERT_EQ(up.ExitCode, 0) << up.Output;
  const size_t fired = Events("fire").size();
  auto saver = Start({"wine", upgraded, "/e"}, "upgraded.out");
  const auto code = saver->Wait(30000);
  ASSERT_TRUE(code) << ReadFile(Log);
  EXPECT_EQ(*code, 0);
  ASSERT_EQ(Events("fire").size(), fired + 1);
  EXPECT_EQ(Events("fire").back().Fields[0], "quit");
  ExpectTempAsBefore();
}

TEST_F(SaverE2E, TheRightButtonPressReachesTheMovieOnlyWithItsMenuAndAQuitWithABlankIsNoQuit) {
  const std::string guid = "{E2E-MENU}";
  const std::string movie = MovieSaying("quit ");
  for (const int menu : {0, 1}) {
    SCOPED_TRACE("FlashMenu " + std::to_string(menu));
    // Buttons do not end this saver: they reach the control under the pointer.
    const std::string scr = Pack("menu" + std::to_string(menu), {
        "item GUID text stored " + guid,
        "item FlashMenu flag stored " + std::to_string(menu),
        "item ScreenSaverStopByMouse flag stored 0",
        "item FlashSwf file compressed " + movie});
    std::remove(Log.c_str());
    auto saver = Start({"wine", scr, "/e"}, "saver.out");
    // "quit " is not "quit": the command is handled before "fired" is logged,
    // and the saver goes on.
    ASSERT_TRUE(WaitForEvents("fired", 1, 30000)) << ReadFile(Log) << saver->Output();
    EXPECT_EQ(Events("fire")[0].Fields[0], "quit ");
    EXPECT_EQ(RunProgram({"xdotool", "mousemove", "300", "300", "click", "3"}).ExitCode, 0);
    auto names = [&] {
      std::vector<std::string> out;
      for (const auto& e : Events("msg"))
        if (e.Fields[0] == "rbuttondown" || e.Fields[0] == "rbuttonup") out.push_back(e.Fields[0]);
      return out;
    };
    EXPECT_TRUE(WaitUntil([&] { return !names().empty() && names().back() == "rbuttonup"; }, 10000)) << ReadFile(Log);
    const std::vector<std::string> expected =
        menu ? std::vector<std::string>{"rbuttondown", "rbuttonup"} : std::vector<std::string>{"rbuttonup"};
    EXPECT_EQ(names(), expected);
    EXPECT_TRUE(saver->Running());
    Key("space");
    EXPECT_EQ(saver->Wait(20000), std::optional<int>(0));
  }
  ExpectTempAsBefore();
}

TEST_F(SaverE2E, TheInstalledControlsVersionDecidesLocalSecurityAndTheLoad) {
  const std::string guid = "{E2E-VERSIONS}";
  struct TCase {
    std::string Fake, Required;
    bool Security, Load;
  };
  // Below 8.0 no DisableLocalSecurity; older than "FlashVersion" no Movie put.
  for (const TCase& c : {TCase{"v7", "7.0", false, true}, TCase{"v9", "9.1", true, false}}) {
    SCOPED_TRACE(c.Fake + " with FlashVersion " + c.Required);
    ASSERT_TRUE(RegisterFake(c.Fake));
    const std::string scr = Pack("version-" + c.Fake, With(CommonItems(guid), {
        "item FlashVersion text stored " + c.Required,
        "item FlashSwf file compressed " + S().PlainMovie}));
    std::remove(Log.c_str());
    auto saver = Start({"wine", scr, "/e"}, "saver.out");
    // The control's timer runs once the form has shown, and so after any load.
    ASSERT_TRUE(WaitUntil([&] {
      for (const auto& e : Events("timer"))
        if (e.Fields[0] == "2") return true;
      return false;
    }, 30000)) << ReadFile(Log) << saver->Output();
    const std::string log = ReadFile(Log);
    EXPECT_EQ(log.find("call DisableLocalSecurity") != std::string::npos, c.Security) << log;
    EXPECT_EQ(log.find(" put 102 ") != std::string::npos, c.Load) << log;
    EXPECT_EQ(!Events("load").empty(), c.Load) << log;
    // Without a movie too, the saver has the keyboard focus and a key ends it.
    Key("space");
    EXPECT_EQ(saver->Wait(20000), std::optional<int>(0));
  }
  ASSERT_TRUE(RegisterFake("v9"));
  ExpectTempAsBefore();
}

TEST_F(SaverE2E, PositionThreeShowsNoControlABlackDesktopAndInputStillEndsIt) {
  const std::string guid = "{E2E-POSITION-3}";
  const std::string scr = Pack("position3", With(CommonItems(guid), {
      "item FlashSwf file compressed " + S().PlainMovie,
      "item ScreenSaverPosition int32 stored 3"}));
  auto saver = Start({"wine", scr, "/e"}, "saver.out");
  // The form shows once the controls there are to be have been made.
  ASSERT_TRUE(WaitUntil([] { return SaverWindowShown(); }, 20000)) << saver->Output();
  EXPECT_TRUE(Events("activate").empty()) << ReadFile(Log);
  EXPECT_TRUE(Events("put").empty()) << ReadFile(Log);
  const TScreen shot = ShotWhenBlack(Dir + "/black.png");
  ASSERT_GT(shot.Width, 0);
  EXPECT_EQ(shot.Count(0, 0, shot.Width, shot.Height, 0x000000), shot.Width * shot.Height) << "a black desktop";
  Key("space");
  EXPECT_EQ(saver->Wait(20000), std::optional<int>(0));
  ExpectTempAsBefore();
}

// ---- the machine's life ----------------------------------------------------------------

// The movie each control loaded (the fake read it), or "failed" for a load
// that found no file, in log order.
std::vector<std::string> LoadedMovies(const std::vector<TFakeEvent>& Events) {
  std::vector<std::string> out;
  for (const auto& e : Events) {
    if (e.Name == "load") out.push_back(e.Fields[0]);
    if (e.Name == "load-failed") out.push_back("failed");
  }
  return out;
}

// The copy behind the last load in the fake's log.
long LastLoader(const std::vector<TFakeEvent>& Events) {
  long pid = 0;
  for (const auto& e : Events)
    if (e.Name == "load" || e.Name == "load-failed") pid = e.Pid;
  return pid;
}

TEST_F(SaverE2E, RunsKilledWhilePlayingLeaveNothingThatKeepsTheNextRunFromPlayingOrCleaningUp) {
  const std::string guid = "{E2E-KILLED}";
  const std::string scr = Pack("killed", With(CommonItems(guid), {
      "item FlashSwf file compressed " + S().PlainMovie,
      "item FlashNeedFileCount int32 stored 1",
      "item FlashNeedFileName0 text stored data.xml",
      "item FlashNeedFileData0 text stored <data/>"}));
  const std::string copy = fs::path(scr).filename().string() + " /E";
  auto loads = [&] { return LoadedMovies(ReadFakeLog(Log)); };
  // Twice in a row the copy that plays is killed, as the system kills a
  // program at a forced shutdown; what it extracted stays behind.
  for (size_t run = 1; run <= 2; ++run) {
    SCOPED_TRACE("killed run " + std::to_string(run));
    auto parent = Start({"wine", scr, "/s"}, "killed.out");
    ASSERT_TRUE(WaitUntil([&] { return loads().size() >= run; }, 30000)) << ReadFile(Log);
    EXPECT_NE(loads().back(), "failed") << ReadFile(Log);
    KillPids(ProcessesMatching(copy));
    EXPECT_EQ(parent->Wait(20000), std::optional<int>(0)) << "the waiting copy ends with its child";
    EXPECT_TRUE(fs::exists(TempFolder(guid) + "/movie.swf")) << "a killed run cleans nothing up";
  }
  // The third run still plays the movie and leaves nothing of the package.
  {
    auto parent = Start({"wine", scr, "/s"}, "third.out");
    ASSERT_TRUE(WaitUntil([&] { return loads().size() >= 3; }, 30000)) << ReadFile(Log);
    EXPECT_EQ(loads().back(), TempWindows(guid + "\\movie.swf")) << ReadFile(Log);
    EXPECT_EQ(ReadFile(TempFolder(guid) + "/data.xml"), "<data/>");
    Key("space");
    EXPECT_EQ(parent->Wait(20000), std::optional<int>(0));
    ExpectTempAsBefore();
  }

  // Beside a live copy (a preview), a second copy is killed while it plays;
  // a third one started afterwards still plays a movie that is there, and
  // once the last copy has ended nothing of any of them is left.
  {
    auto preview = Preview(scr, "owner");
    ASSERT_TRUE(WaitUntil([&] { return loads().size() >= 4; }, 30000)) << ReadFile(Log);
    auto parent = Start({"wine", scr, "/s"}, "killed-beside.out");
    ASSERT_TRUE(WaitUntil([&] { return loads().size() >= 5; }, 30000)) << ReadFile(Log);
    const std::string killed = OwnFolder(guid, LastLoader(ReadFakeLog(Log)));
    EXPECT_EQ(loads().back(), TempWindows(killed + "\\movie.swf"));
    KillPids(ProcessesMatching(copy));
    EXPECT_EQ(parent->Wait(20000), std::optional<int>(0));
    ASSERT_TRUE(fs::exists(S().TempUnix + "/" + killed + "/movie.swf")) << "a killed run cleans nothing up";
    auto third = Start({"wine", scr, "/e"}, "after-killed.out");
    ASSERT_TRUE(WaitUntil([&] { return loads().size() >= 6; }, 30000)) << ReadFile(Log);
    const std::string own = OwnFolder(guid, LastLoader(ReadFakeLog(Log)));
    EXPECT_EQ(loads().back(), TempWindows(own + "\\movie.swf")) << "the fake read it: it was there";
    EXPECT_EQ(ReadFile(S().TempUnix + "/" + own + "/data.xml"), "<data/>");
    // Keys go to the window under the pointer: away from the preview.
    EXPECT_EQ(RunProgram({"xdotool", "mousemove", "900", "700"}).ExitCode, 0);
    Key("space");
    EXPECT_EQ(third->Wait(20000), std::optional<int>(0));
    EndPreview(preview, "owner");
    ExpectTempAsBefore();
  }

  // What a killed run left is held open by another program (a virus
  // scanner, the indexer): the start-up removal leaves it without a word,
  // no window but the saver's appears, and the run plays beside it. Once
  // the other program lets go, the last copy's end takes it away.
  {
    fs::create_directories(TempFolder(guid));
    WriteFile(TempFolder(guid) + "/movie.swf", "stale");
    WriteFile(TempFolder(guid) + "/held.txt", "held");
    WriteFile(S().TempUnix + "/" + guid + ".swf", "stale beside");
    auto holder = Start({"wine", S().HoldFiles, WinePath(Dir + "/release"), TempWindows(guid + "\\held.txt"),
                         TempWindows(guid + ".swf")}, "holder.out");
    ASSERT_TRUE(WaitUntil([&] { return holder->Output().find("holding 2") != std::string::npos; }, 20000))
        << holder->Output();
    auto parent = Start({"wine", scr, "/s"}, "held.out");
    ASSERT_TRUE(WaitUntil([&] { return loads().size() >= 7; }, 30000)) << ReadFile(Log) << parent->Output();
    const std::string own = OwnFolder(guid, LastLoader(ReadFakeLog(Log)));
    EXPECT_EQ(loads().back(), TempWindows(own + "\\movie.swf")) << ReadFile(Log);
    const TRunResult windows = RunProgram({"xdotool", "search", "--onlyvisible", "--name", "."});
    std::string names;
    for (std::istringstream ids(windows.Output); std::getline(ids, names, '\n');) {
      const TRunResult name = RunProgram({"xdotool", "getwindowname", names});
      EXPECT_EQ(name.Output, "plu:mex ScreenSaver\n") << "no window but the saver's";
    }
    EXPECT_TRUE(fs::exists(TempFolder(guid) + "/held.txt"));
    WriteFile(Dir + "/release", "");
    EXPECT_EQ(holder->Wait(20000), std::optional<int>(0));
    Key("space");
    EXPECT_EQ(parent->Wait(20000), std::optional<int>(0));
    ExpectTempAsBefore();
  }
}

TEST_F(SaverE2E, TheEndOfTheSessionLeavesNothingBehindInAnyModeThatExtracts) {
  const std::string guid = "{E2E-SESSION}";
  const std::string scr = Pack("session", With(CommonItems(guid), {
      "item FlashSwf file compressed " + S().PlainMovie,
      "item DialogTitle text stored E2E session dialog",
      "item FlashNeedFileCount int32 stored 1",
      "item FlashNeedFileName0 text stored data.xml",
      "item FlashNeedFileData0 text stored <data/>"}));
  {
    SCOPED_TRACE("full screen");
    auto parent = Start({"wine", scr, "/s"}, "saver.out");
    ASSERT_TRUE(WaitForEvents("load", 1)) << ReadFile(Log);
    ASSERT_TRUE(fs::exists(TempFolder(guid) + "/data.xml"));
    EndSession();
    EXPECT_TRUE(parent->Wait(20000));
    ExpectTempAsBefore();
  }
  {
    SCOPED_TRACE("preview");
    // The preview's form is a child window, which the system never asks.
    auto host = Start({"wine", S().PreviewHost, WinePath(scr), "120"}, "preview.out");
    ASSERT_TRUE(WaitForEvents("load", 2)) << ReadFile(Log);
    ASSERT_TRUE(fs::exists(TempFolder(guid) + "/movie.swf"));
    EndSession();
    EXPECT_TRUE(host->Wait(20000));
    EXPECT_TRUE(WaitUntil([&] { return ProcessesMatching(fs::path(scr).filename().string() + " /p").empty(); }, 20000));
    ExpectTempAsBefore();
  }
  {
    SCOPED_TRACE("settings dialog");
    auto saver = Start({"wine", scr, "/c"}, "config.out");
    ASSERT_TRUE(WaitUntil([] { return WindowShown("E2E session dialog"); }, 20000)) << saver->Output();
    ASSERT_TRUE(fs::exists(TempFolder(guid) + "/movie.swf"));
    EndSession();
    EXPECT_TRUE(saver->Wait(20000));
    ExpectTempAsBefore();
  }
}

TEST_F(SaverE2E, TwoCopiesOfOnePackageNeverTouchEachOthersFilesAndEachRemovesItsOwn) {
  const std::string guid = "{E2E-TWO}";
  const std::vector<std::string> items = {
      "item FlashSwf file compressed " + S().PlainMovie,
      "item FlashNeedFileCount int32 stored 1",
      "item FlashNeedFileName0 text stored e2e-two.xml",
      "item FlashNeedFileData0 text stored <data/>"};
  const std::string scr = Pack("two", With(CommonItems(guid), items));
  const std::string movie = ReadFile(S().PlainMovie);
  auto loads = [&] { return LoadedMovies(ReadFakeLog(Log)); };
  const std::string inFolder = TempWindows(guid + "\\movie.swf");
  auto files = [&](const std::string& Folder) {
    std::set<std::string> out;
    for (const char* f : {"/", "/movie.swf", "/e2e-two.xml"}) out.insert(Folder + f);
    return out;
  };
  auto plus = [](std::set<std::string> A, const std::set<std::string>& B) {
    A.insert(B.begin(), B.end());
    return A;
  };

  // A preview runs first: the package's folder.
  auto first = Preview(scr, "first");
  ASSERT_TRUE(WaitUntil([&] { return loads().size() >= 1; }, 30000)) << ReadFile(Log);
  // A full-screen copy starts meanwhile: a folder of its own beside it,
  // nothing of the preview's replaced.
  auto saver = Start({"wine", scr, "/e"}, "saver.out");
  ASSERT_TRUE(WaitUntil([&] { return loads().size() >= 2; }, 30000)) << ReadFile(Log);
  const std::string own = OwnFolder(guid, LastLoader(ReadFakeLog(Log)));
  EXPECT_EQ(loads(), (std::vector<std::string>{inFolder, TempWindows(own + "\\movie.swf")}));
  ExpectSame(Tree(S().TempUnix), plus(plus(TempBefore, files(guid)), files(own)));
  // Nor does a package whose GUID differs in letter case only, though the
  // file system gives it the same folder.
  const std::string lower = "{e2e-two}";
  const std::string other = Pack("two-lower", With(CommonItems(lower), items));
  auto third = Preview(other, "third");
  ASSERT_TRUE(WaitUntil([&] { return loads().size() >= 3; }, 30000)) << ReadFile(Log);
  const std::string lowerOwn = OwnFolder(lower, LastLoader(ReadFakeLog(Log)));
  EXPECT_EQ(loads().back(), TempWindows(lowerOwn + "\\movie.swf"));
  ExpectSame(Tree(S().TempUnix), plus(plus(plus(TempBefore, files(guid)), files(own)), files(lowerOwn)));
  EndPreview(third, "third");
  ExpectSame(Tree(S().TempUnix), plus(plus(TempBefore, files(guid)), files(own)));
  // The preview goes first and takes only its own files.
  EndPreview(first, "first");
  ExpectSame(Tree(S().TempUnix), plus(TempBefore, files(own)));
  EXPECT_EQ(ReadFile(S().TempUnix + "/" + own + "/movie.swf"), movie);
  // A new preview while the full-screen copy still runs never takes that
  // copy's files for leftovers: a later copy, it has a folder of its own.
  auto second = Preview(scr, "second");
  ASSERT_TRUE(WaitUntil([&] { return loads().size() >= 4; }, 30000)) << ReadFile(Log);
  const std::string secondOwn = OwnFolder(guid, LastLoader(ReadFakeLog(Log)));
  EXPECT_EQ(loads().back(), TempWindows(secondOwn + "\\movie.swf"));
  ExpectSame(Tree(S().TempUnix), plus(plus(TempBefore, files(secondOwn)), files(own)));
  // Keys go to the window under the pointer, and without a window manager
  // the new preview lies above the full-screen window: away from it.
  EXPECT_EQ(RunProgram({"xdotool", "mousemove", "900", "700"}).ExitCode, 0);
  Key("space");
  EXPECT_EQ(saver->Wait(20000), std::optional<int>(0));
  ExpectSame(Tree(S().TempUnix), plus(TempBefore, files(secondOwn)));
  EndPreview(second, "second");
  ExpectTempAsBefore();
}

TEST_F(SaverE2E, InputWhileAControlsTeardownRunsMessagesNeverBreaksTheCleanup) {
  const std::string guid = "{E2E-PUMP}";
  const std::string scr = Pack("pump", With(CommonItems(guid), {"item FlashSwf file compressed " + S().QuitMovie}));
  // The movie ends the run; the control's Stop then runs messages while
  // keys and clicks arrive, each of which would end the run again, and it
  // holds the movie open meanwhile: a cleanup that ran inside must leave
  // the deleting to the outer one, which comes once the control has gone.
  auto saver = Start({"wine", scr, "/e"}, "saver.out",
                     {{"PL_FAKEPLAYER_STOP_PUMP_MS", "4000"}, {"PL_FAKEPLAYER_STOP_HOLDS_MOVIE", "1"}});
  ASSERT_TRUE(WaitForEvents("stop-pump", 1, 30000)) << ReadFile(Log);
  EXPECT_EQ(Events("stop-pump")[0].Fields, (std::vector<std::string>{"begin", "holding"}));
  EXPECT_EQ(RunProgram({"xdotool", "key", "a", "key", "b", "click", "1", "key", "space"}).ExitCode, 0);
  EXPECT_EQ(saver->Wait(30000), std::optional<int>(0)) << ReadFile(Log) << saver->Output();
  ASSERT_EQ(Events("activate").size(), 1u) << ReadFile(Log);
  const int instance = Events("activate")[0].Instance;
  std::vector<std::string> end;
  for (const auto& e : Events())
    if (e.Instance == instance && (e.Name == "call" || e.Name == "destroy" || e.Name == "stop-pump"))
      end.push_back(e.Fields.empty() ? e.Name : e.Name + " " + e.Fields[0]);
  EXPECT_EQ(end, (std::vector<std::string>{"call DisableLocalSecurity", "call Stop", "stop-pump begin",
                                           "stop-pump end", "call StopPlay", "destroy"}))
      << ReadFile(Log);
  ExpectTempAsBefore();
}

// ---- preview ---------------------------------------------------------------------------

TEST_F(SaverE2E, PreviewTakesNoInputIgnoresQuitAndEndsWithItsParent) {
  const std::string guid = "{E2E-PREVIEW}";
  const std::string scr = Pack("preview", With(CommonItems(guid), {
      "item FlashVars text compressed a=1&b=2",
      "item FlashSwf file compressed " + S().QuitMovie}));
  auto host = Start({"wine", S().PreviewHost, "--post-input", WinePath(scr), "6", "100", "100", "320", "240"},
                    "host.out");
  ASSERT_TRUE(WaitForEvents("load", 1)) << ReadFile(Log) << host->Output();
  EXPECT_TRUE(fs::exists(TempFolder(guid) + "/movie.swf"));

  // Every key, mouse, tablet and pen message posted to the control itself is
  // withheld from the movie, and the numbers just outside those ranges are
  // not (the last posted is 0x390). Seen at the control, since Wine gives a
  // disabled window's child no real input at all.
  const std::vector<std::string> outside = {"0x109", "0x1ff", "0x20b", "0x2bf", "0x2e0", "0x37f", "0x390"};
  auto reached = [&] {
    std::vector<std::string> out;
    for (const auto& e : Events("msg")) out.push_back(e.Fields[0]);
    return out;
  };
  ASSERT_TRUE(WaitUntil([&] { return host->Output().find("posted 75") != std::string::npos; }, 20000))
      << host->Output();
  ASSERT_TRUE(WaitUntil([&] { return !reached().empty() && reached().back() == "0x390"; }, 10000)) << ReadFile(Log);
  EXPECT_EQ(reached(), outside);
  // Nor does real input over the preview reach it.
  EXPECT_EQ(RunProgram({"xdotool", "mousemove", "200", "200", "click", "1", "click", "3", "key", "a"}).ExitCode, 0);
  // The movie asks to quit; the preview goes on.
  ASSERT_TRUE(WaitForEvents("fire", 1, 15000)) << ReadFile(Log);
  SleepMs(700);
  EXPECT_TRUE(host->Running());

  ASSERT_TRUE(host->Wait(40000));
  const std::string out = host->Output();
  EXPECT_EQ(out.find("early"), std::string::npos) << out;
  EXPECT_NE(out.find("exit 0"), std::string::npos) << out;
  EXPECT_EQ(reached(), outside) << ReadFile(Log);
  std::vector<std::string> vars;
  bool scalePut = false;
  for (const auto& e : Events("put")) {
    if (e.Fields[0] == "170") vars.push_back(e.Fields[2]);
    scalePut |= e.Fields[0] == "137";
  }
  EXPECT_EQ(vars, std::vector<std::string>{"a=1&b=2&plumexmode=preview"});
  EXPECT_FALSE(scalePut);
  ExpectTempAsBefore();
}

// ---- configuration -------------------------------------------------------------------

TEST_F(SaverE2E, ConfigurationShowsThePackagesDialogAndClosingItRemovesTheFiles) {
  const std::string guid = "{E2E-CONFIG}";
  const std::string bmp = Dir + "/picture.bmp";
  WriteFile(bmp, SolidBmp(48, 40, kMagenta));
  const std::string title = "E2E dialog title";
  const std::string scr = Pack("config", With(CommonItems(guid), {
      "item FlashSwf file compressed " + S().PlainMovie,
      "item DialogTitle text stored " + title,
      "item DialogCopyrightStr text stored (c) 2026 a long copyright line for the end-to-end test",
      "item DialogURL text stored http://example.invalid/",
      "item DialogImage file compressed " + bmp}));
  auto saver = Start({"wine", scr, "/c"}, "saver.out");
  std::string window;
  ASSERT_TRUE(WaitUntil([&] {
    const TRunResult r = RunProgram({"xdotool", "search", "--onlyvisible", "--name", "^" + title + "$"});
    window = r.Output.substr(0, r.Output.find('\n'));
    return r.ExitCode == 0 && !window.empty();
  }, 20000)) << saver->Output();
  // Configuration extracts too, and no control is made.
  EXPECT_TRUE(fs::exists(TempFolder(guid) + "/movie.swf"));
  ExpectDialogPicture();
  const TRunResult geometry = RunProgram({"xdotool", "getwindowgeometry", window});
  std::smatch m;
  ASSERT_TRUE(std::regex_search(geometry.Output, m, std::regex("Geometry: (\\d+)x(\\d+)"))) << geometry.Output;
  EXPECT_GT(std::stoi(m[1]), 250) << "wide enough for the long copyright line";

  RunProgram({"xdotool", "windowfocus", "--sync", window});
  Key("Return");
  const auto code = saver->Wait(20000);
  ASSERT_TRUE(code) << "closing the dialog ends the program";
  EXPECT_EQ(*code, 0);
  EXPECT_TRUE(Events("activate").empty());
  ExpectTempAsBefore();
}

// ---- failures ----------------------------------------------------------------------------

TEST_F(SaverE2E, WithoutAPlayerNothingIsExtractedTheScreenStaysBlackAndInputEndsIt) {
  ASSERT_TRUE(RegisterFake("none"));
  const std::string guid = "{E2E-NOPLAYER}";
  const std::string scr =
      Pack("noplayer", With(CommonItems(guid), {"item FlashSwf file compressed " + S().PlainMovie}));
  auto saver = Start({"wine", scr, "/s"}, "saver.out");
  const bool shown = WaitUntil([] { return SaverWindowShown(); }, 20000);
  const TScreen shot = ShotWhenBlack(Dir + "/black.png");
  EXPECT_TRUE(shown);
  EXPECT_FALSE(fs::exists(TempFolder(guid)));
  ASSERT_GT(shot.Width, 0);
  EXPECT_EQ(shot.Count(0, 0, shot.Width, shot.Height, 0x000000), shot.Width * shot.Height);
  Key("space");
  const auto code = saver->Wait(20000);
  // Configuration mode without a player: no dialog is made, so none shows,
  // and the program ends by itself.
  auto config = Start({"wine", scr, "/c"}, "config.out");
  const auto configCode = config->Wait(20000);
  const bool dialog = !configCode && SaverWindowShown();
  RegisterFake("v9");
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, 0);
  EXPECT_EQ(configCode, std::optional<int>(0)) << (dialog ? "a dialog waits" : "");
  ExpectTempAsBefore();
}

TEST_F(SaverE2E, GarbledPackagesNeverCrashAndLeaveNothingBehind) {
  const std::vector<uint8_t> stub = [] {
    const std::string s = ReadFile(S().Saver);
    return std::vector<uint8_t>(s.begin(), s.end());
  }();
  const std::string movieText = ReadFile(S().PlainMovie);
  const std::vector<uint8_t> movie(movieText.begin(), movieText.end());
  const std::vector<TPackageRecord> good = {StoredItem("GUID", std::string("{E2E-GARBLED}")),
                                            CompressedItem("FlashSwf", movie)};
  std::vector<std::pair<std::string, std::vector<uint8_t>>> cases;

  // Cut inside the movie's stream, trailer re-attached with the shorter length.
  {
    std::vector<uint8_t> body = BuildPackage(0x5A, good);
    body.resize(body.size() - 12);  // without its trailer
    body.resize(body.size() - 100);
    TByteWriter w;
    w.Raw(stub).Raw(body);
    cases.push_back({"truncated", w.Trailer(stub.size()).Out});
  }
  // A stream that does not inflate, after a good GUID.
  {
    TPackageRecord bad = CompressedItem("FlashSwf", movie);
    for (size_t i = 10; i < bad.Payload.size(); i += 7) bad.Payload[i] ^= 0xA5;
    cases.push_back({"corrupt-stream", WithPackage(stub, 0x5A, {good[0], bad})});
  }
  // Lengths that point past the package: item count, name length, data length, body length.
  {
    TByteWriter w;
    w.Raw(stub).I32(0x5A).I32(0x7FFFFFFF).I32(4).Raw("\x1d\x0f\x13\x1e").U8(0).I32(3).Raw("abc");
    cases.push_back({"lying-count", w.Trailer(stub.size()).Out});
  }
  {
    TByteWriter w;
    w.Raw(stub).I32(0x5A).I32(1).I32(0x7FFFFFF0).Raw("x");
    cases.push_back({"lying-name", w.Trailer(stub.size()).Out});
  }
  {
    TByteWriter w;
    w.Raw(stub).I32(0x5A).I32(1).I32(4).Raw("\x1d\x0f\x13\x1e").U8(1).I32(-5).Raw("abc");
    cases.push_back({"lying-data", w.Trailer(stub.size()).Out});
  }
  {
    std::vector<uint8_t> bytes = WithPackage(stub, 0x5A, good);
    const size_t at = bytes.size() - 12;
    const int64_t huge = int64_t{1} << 40;
    for (int i = 0; i < 8; ++i) bytes[at + i] = static_cast<uint8_t>((huge >> (8 * i)) & 0xFF);
    cases.push_back({"lying-body", bytes});
  }

  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    const std::string scr = WriteSaver(name, bytes);
    auto saver = Start({"wine", scr, "/e"}, name + ".out");
    EXPECT_TRUE(WaitUntil([] { return SaverWindowShown(); }, 20000));
    SleepMs(300);
    EXPECT_TRUE(saver->Running()) << "still running until input ends it";
    EXPECT_FALSE(fs::exists(TempFolder("{E2E-GARBLED}")));
    Key("space");
    EXPECT_EQ(saver->Wait(20000), std::optional<int>(0)) << saver->Output();
    ExpectTempAsBefore();
  }
}

TEST_F(SaverE2E, HostileNamesWriteNothingOutsideTheTemporaryDirectory) {
  const std::string driveC = S().Prefix + "/drive_c";
  const std::string tempRel = fs::relative(S().TempUnix, driveC).generic_string() + "/";
  const auto driveBefore = Tree(driveC, tempRel);
  fs::create_directories(Cwd());

  // A GUID that climbs out: nothing is extracted at all.
  for (const std::string guid : {"..\\..\\x", "C:\\x", "a/../../x"}) {
    SCOPED_TRACE(guid);
    const std::string scr = Pack("guid" + std::to_string(Savers.size()),
                                 With(CommonItems(Esc(guid)), {"item FlashSwf file stored " + S().PlainMovie,
                                                               "item FlashNeedFileCount int32 stored 1",
                                                               "item FlashNeedFileName0 text stored n.txt",
                                                               "item FlashNeedFileData0 text stored n"}));
    const size_t loads = Events("put").size();
    auto saver = Start({"wine", scr, "/e"}, "guid.out");
    // The package is applied, and its files written, before the puts.
    ASSERT_TRUE(WaitUntil([&] { return Events("put").size() >= loads + 5; }, 20000)) << ReadFile(Log);
    ExpectSame(Tree(S().TempUnix), TempBefore);
    Key("space");
    EXPECT_EQ(saver->Wait(20000), std::optional<int>(0));
  }

  // Hostile movie and need-file names keep their last component only.
  const std::string guid = "{E2E-HOSTILE}";
  const std::string scr = Pack("names", {
      "item GUID text stored " + guid,
      "item FlashSwfName text stored " + Esc("..\\..\\evil.swf"),
      "item FlashSwf file stored " + S().PlainMovie,
      "item FlashNeedFileCount int32 stored 3",
      "item FlashNeedFileName0 text stored " + Esc("..\\..\\x"),
      "item FlashNeedFileData0 text stored 0",
      "item FlashNeedFileName1 text stored " + Esc("C:\\y"),
      "item FlashNeedFileData1 text stored 1",
      "item FlashNeedFileName2 text stored a/../../z",
      "item FlashNeedFileData2 text stored 2"});
  auto saver = Start({"wine", scr, "/e"}, "names.out");
  ASSERT_TRUE(WaitForEvents("load", 1)) << ReadFile(Log);
  std::set<std::string> expected = TempBefore;
  for (const char* f : {"/", "/evil.swf", "/x", "/y", "/z"}) expected.insert(guid + f);
  ExpectSame(Tree(S().TempUnix), expected);
  Key("space");
  EXPECT_EQ(saver->Wait(20000), std::optional<int>(0));
  ExpectTempAsBefore();
  ExpectSame(Tree(driveC, tempRel), driveBefore);
  // Nothing relative to the saver's working folder either.
  EXPECT_TRUE(Tree(Cwd()).empty());
}

class TStandInBrowser {
 public:
  // Program: what to register as the browser instead of the stand-in.
  explicit TStandInBrowser(const std::string& Source, const std::string& Program = "", const TEnv& Extra = {})
      : FScript(Source + "/scripts/register-stand-in-browser"), FEnv(Extra) {
    TEnv env = Extra;
    if (!Program.empty()) env["STANDIN_BROWSER"] = Program;
    Registered = RunProgram({FScript}, env).ExitCode == 0;
  }
  ~TStandInBrowser() { RunProgram({FScript, "none"}, FEnv); }
  TStandInBrowser(const TStandInBrowser&) = delete;
  TStandInBrowser& operator=(const TStandInBrowser&) = delete;
  bool Registered = false;

 private:
  std::string FScript;
  TEnv FEnv;
};

// Pixels of the rectangle within Tolerance of Colour on every channel: the
// frames come as JPEG pictures, whose colours are near, not exact.
bool Near(uint32_t Pixel, uint32_t Colour, int Tolerance = 24) {
  for (int s = 0; s < 24; s += 8)
    if (std::abs(static_cast<int>((Pixel >> s) & 0xFF) - static_cast<int>((Colour >> s) & 0xFF)) > Tolerance)
      return false;
  return true;
}
int CountNear(const TScreen& Shot, uint32_t Colour, int Left = 0, int Top = 0, int Right = -1, int Bottom = -1) {
  int n = 0;
  for (int y = Top; y < (Bottom < 0 ? Shot.Height : Bottom); ++y)
    for (int x = Left; x < (Right < 0 ? Shot.Width : Right); ++x) n += Near(Shot.Pixel(x, y), Colour);
  return n;
}

// A browser of these scenarios (the stand-in or Chromium) names its profile
// on its command line: in a package folder of the scenario (GUIDs that start
// "{E2E-BROWSER"), or, for a package without a GUID, in the temporary folder
// itself.
bool NoBrowserLeft() {
  return ProcessesMatching("{E2E-BROWSER").empty() && ProcessesMatching("Temp\\browser.").empty() &&
         ProcessesMatching("Temp/browser.").empty();
}

// ---- two monitors ------------------------------------------------------------------------

// An X server of this scenario's own: Xorg with the dummy driver and two
// screens side by side, on a display number nobody uses. Stopped by pid.
class TTwoMonitorServer {
 public:
  explicit TTwoMonitorServer(const std::string& Dir) {
    for (int n = 40; n < 100 && Display.empty(); ++n) {
      if (fs::exists("/tmp/.X11-unix/X" + std::to_string(n)) || fs::exists("/tmp/.X" + std::to_string(n) + "-lock"))
        continue;
      const std::string display = ":" + std::to_string(n);
      FServer = std::make_unique<TChild>(
          std::vector<std::string>{"Xorg", display, "-config", std::string(PL_E2E_SOURCE_DIR) + "/tests/e2e/two-monitors.xorg.conf",
                                   "-noreset", "-nolisten", "tcp", "-logfile", Dir + "/xorg.log"},
          TEnv{}, Dir + "/xorg.out");
      if (WaitUntil([&] { return !FServer->Running() ||
                                 RunProgram({"xdpyinfo"}, {{"DISPLAY", display}}, 5000).ExitCode == 0; }, 20000) &&
          FServer->Running())
        Display = display;
      else
        FServer->Terminate(5000), FServer.reset();
    }
  }
  ~TTwoMonitorServer() {
    if (FServer) FServer->Terminate(10000);
  }
  TTwoMonitorServer(const TTwoMonitorServer&) = delete;
  TTwoMonitorServer& operator=(const TTwoMonitorServer&) = delete;
  std::string Display;  // empty when no server could be started

 private:
  std::unique_ptr<TChild> FServer;
};

TEST_F(SaverE2E, ScreenSaverPositionCoversTheDesktopTheFirstMonitorOrEachMonitor) {
  TTwoMonitorServer server(Dir);
  ASSERT_FALSE(server.Display.empty()) << ReadFile(Dir + "/xorg.out");
  // A prefix of its own, so the shared wineserver, which knows the other
  // display's monitors, is never disturbed.
  TEnv env = WineEnv();
  env["DISPLAY"] = server.Display;
  env["WINEPREFIX"] = S().Win + "/wineprefix-twomonitors";
  struct TStop {
    TEnv Env;
    ~TStop() { RunProgram({"wineserver", "-k"}, Env, 30000); }
  } stopServer{env};
  RunProgram({"wineserver", "-k"}, env, 30000);  // one left from another X server
  ASSERT_EQ(RunProgram({S().Source + "/scripts/wine-prefix"}, env, 300000).ExitCode, 0);
  // A new prefix's first wineserver built its monitor list before the
  // prefix's settings were written.
  RunProgram({"wineserver", "-k"}, env, 30000);
  TEnv fakeEnv = env;
  fakeEnv["PL_FAKEPLAYER_DIR"] = S().Win + "/fakeplayer";
  ASSERT_EQ(RunProgram({S().RegisterFake, "v9"}, fakeEnv).ExitCode, 0);
  RunProgram({"wine", "reg", "add", "HKCU\\Software\\Wine\\WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD",
              "/d", "0", "/f"}, env);

  // What covers a point of the desktop: the player control, or the black
  // form itself. No monitor shows the strip below the smaller one, and X
  // returns undefined pixels there, so Wine is asked what lies on it.
  auto coveredByControl = [&](int X, int Y) {
    TRunResult r;
    // A start that a loaded machine lost prints nothing: ask again.
    WaitUntil([&] {
      r = RunProgram({"wine", S().Win + "/tests/e2e/e2e_window_at.exe", std::to_string(X), std::to_string(Y)}, env);
      return !r.Output.empty();
    }, 30000, 200);
    std::istringstream words(r.Output);
    std::string cls, pid, root;
    words >> cls >> pid >> root;
    if (cls == "PlFakeFlashPlayer") return std::string("control");
    if (!cls.empty() && cls == root && Events("activate").size() > 0 &&
        std::stol(pid) == Events("activate")[0].Pid)
      return std::string("form");
    return r.Output;
  };
  struct TCase {
    int Position;
    std::vector<std::string> Rects;  // the controls' final bounds
    uint32_t RightMonitor;           // colour inside the second monitor
    std::string Strip;               // what covers the strip below it
  };
  const std::vector<TCase> cases = {
      {0, {"0 0 1824 768"}, kGreen, "control"},
      {1, {"0 0 1024 768"}, 0x000000, "form"},
      {2, {"0 0 1024 768", "1024 0 1824 600"}, kGreen, "form"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE("position " + std::to_string(c.Position));
    std::remove(Log.c_str());
    // Buttons do not end these savers, so that a click on the form shows
    // what the form passes on to the controls.
    const std::string scr = Pack("position" + std::to_string(c.Position),
                                 With(CommonItems("{E2E-POSITION}"), {
                                     "item FlashSwf file compressed " + S().PlainMovie,
                                     "item ScreenSaverStopByMouse flag stored 0",
                                     "item ScreenSaverPosition int32 stored " + std::to_string(c.Position + 256)}));
    auto saver = Start({"wine", scr, "/e"}, "position.out", env);
    ASSERT_TRUE(WaitForEvents("load", c.Rects.size(), 60000)) << ReadFile(Log) << saver->Output();
    std::vector<std::string> rects;
    for (const auto& a : Events("activate")) {
      std::string last;
      for (const auto& e : Events("rects"))
        if (e.Instance == a.Instance) last = e.Fields[0] + " " + e.Fields[1] + " " + e.Fields[2] + " " + e.Fields[3];
      rects.push_back(last);
    }
    EXPECT_EQ(rects, c.Rects) << ReadFile(Log);

    // Once the controls have painted.
    TScreen shot;
    WaitUntil([&] {
      shot = Screenshot(Dir + "/position" + std::to_string(c.Position) + ".png", server.Display);
      return shot.Width == 1824 && shot.Count(0, 0, 1024, 768, kGreen) == 1024 * 768 &&
             shot.Count(1024, 0, 1824, 600, c.RightMonitor) == 800 * 600;
    }, 10000, 250);
    ASSERT_EQ(shot.Width, 1824);
    ASSERT_EQ(shot.Height, 768);
    EXPECT_EQ(shot.Count(0, 0, 1024, 768, kGreen), 1024 * 768) << "the first monitor";
    EXPECT_EQ(shot.Count(1024, 0, 1824, 600, c.RightMonitor), 800 * 600) << "the second monitor";
    EXPECT_EQ(coveredByControl(1400, 700), c.Strip) << "below the second monitor";
    EXPECT_EQ(coveredByControl(1400, 300), c.RightMonitor == kGreen ? "control" : "form");

    if (c.Position == 1) {
      // On the black second monitor the pointer is over the form: its move
      // stays there, and the click that follows is passed on to the control
      // with the form's coordinates (1400, 300).
      EXPECT_EQ(RunProgram({"xdotool", "mousemove", "1400", "300", "click", "1"}, {{"DISPLAY", server.Display}}).ExitCode,
                0);
      auto passed = [&] {
        std::vector<std::string> out;
        for (const auto& e : Events("msg"))
          if (e.Fields[2] == "0x12c0578") out.push_back(e.Fields[0]);
        return out;
      };
      EXPECT_TRUE(WaitUntil([&] { return passed().size() >= 2; }, 10000)) << ReadFile(Log);
      EXPECT_EQ(passed(), (std::vector<std::string>{"lbuttondown", "lbuttonup"})) << ReadFile(Log);
    }

    Key("space", server.Display);
    EXPECT_EQ(saver->Wait(20000), std::optional<int>(0));
    EXPECT_FALSE(fs::exists(TempFolder("{E2E-POSITION}")));
  }
  ASSERT_EQ(RunProgram({S().RegisterFake, "none"}, fakeEnv).ExitCode, 0);

  // Without the control, every monitor plays the movie through the browser
  // player: a page for each, at its own size, one browser for the run. The
  // 320x240 stage at its own size in the middle of each monitor, where its
  // white square crosses it.
  SCOPED_TRACE("every monitor, browser player");
  TStandInBrowser browser(S().Source, "", env);
  ASSERT_TRUE(browser.Registered);
  TEnv traced = env;
  traced["PL_BROWSER_PLAYER_LOG"] = WinePath(Dir + "/monitors-player.log");
  const std::string guid = "{E2E-BROWSERMONITORS}";
  const std::string scr = Pack("monitors-browser", With(CommonItems(guid), {
      "item FlashSwf file compressed " + S().PlainMovie,
      "item ScreenSaverPosition int32 stored 258"}));
  auto saver = Start({"wine", scr, "/s"}, "monitors-browser.out", traced);
  const std::string trace = Dir + "/monitors-player.log";
  auto count = [&](const std::string& Line) {
    const std::string t = ReadFile(trace);
    size_t n = 0;
    for (size_t at = 0; (at = t.find(Line, at)) != std::string::npos; ++at) ++n;
    return n;
  };
  ASSERT_TRUE(WaitUntil([&] { return count("first frame of the movie") >= 2; }, 120000, 500)) << ReadFile(trace);
  EXPECT_EQ(count("browser started"), 1u) << ReadFile(trace);
  EXPECT_EQ(count("movie loading: movie.swf at 320x240"), 2u) << ReadFile(trace);
  TScreen shot;
  auto square = [&](int Left, int Top, int Right, int Bottom) { return CountNear(shot, 0xFFFFFF, Left, Top, Right, Bottom); };
  WaitUntil([&] {
    shot = Screenshot(Dir + "/monitors-browser.png", server.Display);
    return shot.Width == 1824 && square(352, 264, 672, 504) > 100 && square(1264, 180, 1584, 420) > 100;
  }, 20000, 500);
  ASSERT_EQ(shot.Width, 1824);
  EXPECT_GT(square(352, 264, 672, 504), 100) << "the first monitor's stage";
  EXPECT_GT(square(1264, 180, 1584, 420), 100) << "the second monitor's stage";
  EXPECT_GT(CountNear(shot, kGreen, 0, 0, 1024, 768), 1024 * 768 * 9 / 10) << "the first monitor";
  EXPECT_GT(CountNear(shot, kGreen, 1024, 0, 1824, 600), 800 * 600 * 9 / 10) << "the second monitor";
  Key("space", server.Display);
  EXPECT_EQ(saver->Wait(30000), std::optional<int>(0));
  EXPECT_TRUE(WaitUntil(NoBrowserLeft, 15000));
  EXPECT_FALSE(fs::exists(TempFolder(guid)));
}

// ---- the browser player ---------------------------------------------------------------
//
// No vendor control: the saver plays through the emulator it carries, in the
// stand-in for Edge (Debian's Chromium behind a pipe bridge), registered in
// the shared prefix for these scenarios only.

// The player's trace (PL_BROWSER_PLAYER_LOG) of one or more runs.
struct TPlayerTrace {
  std::string Path;
  std::string Text() const { return ReadFile(Path); }
  size_t Count(const std::string& Line) const {
    const std::string t = Text();
    size_t n = 0;
    for (size_t at = 0; (at = t.find(Line, at)) != std::string::npos; ++at) ++n;
    return n;
  }
  size_t MoviesStarted() const { return Count("first frame of the movie"); }
  // The frame counts of the "paused"/"resumed" lines, in order.
  std::vector<int> Pauses(const std::string& Word) const {
    std::vector<int> out;
    const std::string t = Text();
    const std::regex line(Word + " after (\\d+) frames");
    for (auto it = std::sregex_iterator(t.begin(), t.end(), line); it != std::sregex_iterator(); ++it)
      out.push_back(std::stoi((*it)[1]));
    return out;
  }
  // The sampled paints: frame number, painted size and the colour at the centre.
  struct TPaint {
    int Frame, Width, Height;
    uint32_t Centre;
  };
  std::vector<TPaint> Paints() const {
    std::vector<TPaint> out;
    const std::string t = Text();
    static const std::regex line(R"(painted frame (\d+): (\d+)x(\d+), centre ([0-9A-F]{6}))");
    for (auto it = std::sregex_iterator(t.begin(), t.end(), line); it != std::sregex_iterator(); ++it)
      out.push_back({std::stoi((*it)[1]), std::stoi((*it)[2]), std::stoi((*it)[3]),
                     static_cast<uint32_t>(std::stoul((*it)[4], nullptr, 16))});
    return out;
  }
  int LastPaintedFrame() const {
    const auto p = Paints();
    return p.empty() ? 0 : p.back().Frame;
  }
  // The profile folder the run's browser was given.
  std::vector<std::string> Profiles() const {
    std::vector<std::string> out;
    const std::string t = Text();
    static const std::regex line(R"(browser started: [^\r\n]*, profile ([^\r\n]+))");
    for (auto it = std::sregex_iterator(t.begin(), t.end(), line); it != std::sregex_iterator(); ++it)
      out.push_back((*it)[1]);
    return out;
  }
};

class BrowserE2E : public SaverE2E {
 protected:
  void SetUp() override {
    SaverE2E::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(RegisterFake("none"));
    FBrowser = std::make_unique<TStandInBrowser>(S().Source);
    ASSERT_TRUE(FBrowser->Registered);
  }
  void TearDown() override {
    SaverE2E::TearDown();
    if (!S().Ready) return;
    FBrowser.reset();
    RegisterFake("v9");
  }

  // A trace file of the scenario's own, and the environment that asks for
  // it (with what the Linux browser says, for a failure's report).
  TPlayerTrace NewTrace(const std::string& Name) const { return {Dir + "/" + Name + ".log"}; }
  TEnv TraceEnv(const TPlayerTrace& Trace) const {
    return {{"PL_BROWSER_PLAYER_LOG", WinePath(Trace.Path)},
            {"PL_STANDIN_BROWSER_LOG", Dir + "/chromium.log"}};
  }

  // Nothing of a run may outlive it: no browser, no file.
  void ExpectNothingLeft() const {
    EXPECT_TRUE(WaitUntil(NoBrowserLeft, 15000)) << "a browser of the run is still there";
    ExpectTempAsBefore();
  }
  // The emulator's module takes a while to compile on a busy machine.
  static bool WaitForMovie(const TPlayerTrace& Trace, size_t Count = 1) {
    return WaitUntil([&] { return Trace.MoviesStarted() >= Count; }, 120000, 500);
  }

  std::unique_ptr<TStandInBrowser> FBrowser;
};

TEST_F(BrowserE2E, WithoutTheControlTheBrowserPlayerPlaysTheMovieAndEveryEndLeavesNothing) {
  const TPlayerTrace trace = NewTrace("player");
  const TEnv env = TraceEnv(trace);
  auto expectNothingLeft = [&] { ExpectNothingLeft(); };
  auto framesPainted = [&] { return trace.MoviesStarted(); };

  // A movie on a blue stage (the background put) that loads a need file (a
  // yellow square crossing a strip along the top) and tells what FlashVars
  // and version it got.
  const std::string movie = Dir + "/stage.swf", need = Dir + "/strip.swf";
  ASSERT_EQ(RunProgram({S().Swfgen, "--out", movie, "--size", "400x300", "--frames", "600", "--bg", "000000",
                        "--shape", "FFFFFF", "--load-movie", "strip.swf", "--echo-flashvars", "plumexmode,$version"})
                .ExitCode, 0);
  ASSERT_EQ(RunProgram({S().Swfgen, "--out", need, "--size", "400x100", "--frames", "600", "--bg", "FF0000",
                        "--shape", "FFFF00"}).ExitCode, 0);
  const std::string scr = Pack("browser", {"item GUID text compressed {E2E-BROWSER}",
                                           "item FlashStretch flag stored 1",
                                           "item FlashBackColor int32 stored 0x0000FF",
                                           "item FlashSwfName text stored stage.swf",
                                           "item FlashSwf file compressed " + movie,
                                           "item FlashNeedFileCount int32 stored 1",
                                           "item FlashNeedFileName00 text stored strip.swf",
                                           "item FlashNeedFileData00 file compressed " + need});
  {
    auto saver = Start({"wine", scr, "/s"}, "saver.out", env);
    // The emulator's module takes a while to compile on a busy machine.
    TScreen shot;
    const bool playing = WaitUntil([&] {
      shot = Screenshot(Dir + "/playing.png");
      return shot.Width > 0 && CountNear(shot, 0x0000FF) > shot.Width * shot.Height / 4 &&
             CountNear(shot, 0xFFFF00) > 1000;
    }, 120000, 1000);
    EXPECT_TRUE(playing) << "the movie's stage and its need file's square never showed; trace:\n" << trace.Text();
    // The 400x300 stage shown whole on the screen: the need file's square
    // runs along its top third, where the movie loads it.
    if (playing) {
      TScreen top = shot;
      top.Height = shot.Height / 3;
      EXPECT_GT(CountNear(top, 0xFFFF00), CountNear(shot, 0xFFFF00) * 9 / 10);
    }
    const std::string t = trace.Text();
    // The version the saver reports for the browser player is the one the
    // emulator tells movies ("LNX 32,0,0,0" from Linux's browser).
    std::string version = ReadFile(S().Source + "/flash/emulator-version.txt");
    version.erase(version.find_last_not_of("\r\n") + 1);
    for (char& c : version) c = c == '.' ? ',' : c;
    EXPECT_NE(t.find("plumexmode=normal&$version="), std::string::npos) << t;
    EXPECT_NE(t.find(" " + version + "\""), std::string::npos) << "version " << version << ":\n" << t;
    Key("space");
    const auto code = saver->Wait(30000);
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, 0);
    expectNothingLeft();
  }
  {
    // Killed while it plays, as a forced shutdown kills it: its browser goes
    // with it, and the next run plays and then leaves nothing, the killed
    // run's profile included.
    const size_t before = framesPainted();
    auto parent = Start({"wine", scr, "/s"}, "killed.out", env);
    ASSERT_TRUE(WaitUntil([&] { return framesPainted() > before; }, 120000, 500)) << trace.Text();
    KillPids(ProcessesMatching(fs::path(scr).filename().string() + " /E"));
    EXPECT_EQ(parent->Wait(20000), std::optional<int>(0));
    EXPECT_TRUE(WaitUntil(NoBrowserLeft, 15000)) << "the killed run's browser outlived it";
    auto next = Start({"wine", scr, "/s"}, "after-kill.out", env);
    EXPECT_TRUE(WaitUntil([&] { return framesPainted() > before + 1; }, 120000, 500)) << trace.Text();
    Key("space");
    EXPECT_EQ(next->Wait(30000), std::optional<int>(0));
    expectNothingLeft();
  }
  {
    // A saver another writer made behind a stub that plays only through the
    // vendor's control, brought here by plws upgrade: the movie's own "quit"
    // ends the run as the control's does. Without a GUID the run has no
    // folder of its own: the browser's profile sits in the temporary folder
    // itself, and only the browser's end removes it.
    const std::string old = WriteSaver(
        "browserquit-old", HandWrittenSaver(Bytes("MZ\x90 another writer's stub"), 0x2C1, {
            StoredItem("FlashSwfName", "movie.swf"),
            TPackageRecord{"FlashSwf", 3, DeflateAtLevel(Bytes(ReadFile(MovieSaying("QUIT"))), 9)}}));
    const std::string quitter = Dir + "/browserquit.scr";
    Savers.push_back(quitter);
    const TRunResult up = RunProgram({S().Plws, "upgrade", "--stub", S().Saver, old, quitter});
    ASSERT_EQ(up.ExitCode, 0) << up.Output;
    auto saver = Start({"wine", quitter, "/s"}, "quit.out", env);
    const auto code = saver->Wait(120000);
    ASSERT_TRUE(code) << trace.Text();
    EXPECT_EQ(*code, 0);
    expectNothingLeft();
  }
  {
    // With "ScreenSaverStopByMouse" off a press does not end the run but
    // reaches the movie at the place it was made: the movie, shown whole and
    // centred, reports every frame where it last saw the pointer, in stage
    // pixels (moves are never handed to it, so only the press moves it).
    const std::string clicks = Dir + "/clicks.swf";
    ASSERT_EQ(RunProgram({S().Swfgen, "--out", clicks, "--size", "400x300", "--frames", "30", "--echo-flashvars",
                          "_xmouse,_ymouse", "--echo-every-frame"}).ExitCode, 0);
    const std::string clickScr = Pack("browserclick", {"item GUID text compressed {E2E-BROWSERCLICK}",
                                                       "item FlashLoop flag stored 1",
                                                       "item FlashStretch flag stored 1",
                                                       "item ScreenSaverStopByMouse flag stored 0",
                                                       "item FlashSwf file compressed " + clicks});
    auto saver = Start({"wine", clickScr, "/s"}, "click.out", env);
    auto seen = [&](int X, int Y) {
      const std::string t = trace.Text();
      static const std::regex kPointer(R"(_xmouse=(-?\d+)&_ymouse=(-?\d+))");
      for (auto it = std::sregex_iterator(t.begin(), t.end(), kPointer); it != std::sregex_iterator(); ++it)
        if (std::abs(std::stoi((*it)[1]) - X) <= 2 && std::abs(std::stoi((*it)[2]) - Y) <= 2) return true;
      return false;
    };
    ASSERT_TRUE(WaitUntil([&] { return trace.Text().find("_xmouse=") != std::string::npos; }, 120000, 500))
        << trace.Text();
    const TScreen shot = Screenshot();
    ASSERT_GT(shot.Width, 0);
    const double scale = std::min(shot.Width / 400.0, shot.Height / 300.0);
    const int left = static_cast<int>((shot.Width - 400 * scale) / 2), top = static_cast<int>((shot.Height - 300 * scale) / 2);
    // A second press elsewhere reaches it too (a notice of the emulator's
    // once lay over the movie after the first and took the next ones).
    for (const auto& [x, y] : {std::pair{100, 75}, std::pair{300, 225}}) {
      const int sx = left + static_cast<int>(x * scale), sy = top + static_cast<int>(y * scale);
      EXPECT_EQ(RunProgram({"xdotool", "mousemove", std::to_string(sx), std::to_string(sy), "click", "1"}).ExitCode, 0);
      EXPECT_TRUE(WaitUntil([&] { return seen(x, y); }, 20000)) << "the press at " << sx << "," << sy
                                                                 << " never reached the movie at " << x << "," << y;
    }
    EXPECT_TRUE(saver->Running()) << "a press ended the run although the package says it does not";
    Key("space");
    const auto code = saver->Wait(30000);
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, 0);
    expectNothingLeft();
  }
  {
    // A browser that ends at once: the control cannot be made, so the run
    // is the black one without a control, and a key still ends it.
    TStandInBrowser broken(S().Source, S().Watch);
    ASSERT_TRUE(broken.Registered);
    const std::string blackScr = Pack("browserbroken", {"item GUID text compressed {E2E-BROWSERBROKEN}",
                                                        "item FlashSwf file compressed " + S().PlainMovie});
    auto saver = Start({"wine", blackScr, "/s"}, "broken.out", env);
    EXPECT_TRUE(WaitUntil([] { return SaverWindowShown(); }, 20000));
    const TScreen shot = ShotWhenBlack(Dir + "/broken.png");
    ASSERT_GT(shot.Width, 0);
    EXPECT_EQ(shot.Count(0, 0, shot.Width, shot.Height, 0x000000), shot.Width * shot.Height);
    WaitUntil([&] { return trace.Text().find("browser ended") != std::string::npos; }, 30000);
    Key("space");
    const auto code = saver->Wait(30000);
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, 0);
    expectNothingLeft();
  }
}


TEST_F(BrowserE2E, ThePreviewTheSettingsAndTheEndOfTheSessionWorkAsWithTheControlAndLeaveNothing) {
  const std::string guid = "{E2E-BROWSERMODES}";
  const std::string bmp = Dir + "/picture.bmp";
  WriteFile(bmp, SolidBmp(48, 40, kMagenta));
  // A green stage with a yellow square crossing it twice a second: a page
  // that changes every frame while the emulator runs.
  const std::string movie = Dir + "/moving.swf";
  ASSERT_EQ(RunProgram({S().Swfgen, "--out", movie, "--bg", "00FF00", "--shape", "FFFF00", "--frames", "15"})
                .ExitCode, 0);
  const std::string scr = Pack("modes", With(CommonItems(guid), {
      "item FlashSwf file compressed " + movie,
      "item FlashPreviewSleep flag stored 1",
      "item DialogTitle text stored E2E browser dialog",
      "item DialogURL text stored http://example.invalid/",
      "item DialogImage file compressed " + bmp,
      "item FlashNeedFileCount int32 stored 1",
      "item FlashNeedFileName0 text stored data.xml",
      "item FlashNeedFileData0 text stored <data/>"}));
  const TPlayerTrace preview = NewTrace("preview"), full = NewTrace("full");

  {
    SCOPED_TRACE("preview beside a full-screen run");
    // The display settings' preview: the movie's picture at the preview's
    // size, and none of the input posted to the player reaches the movie.
    TEnv env = TraceEnv(preview);
    env["PL_E2E_PREVIEW_UNTIL"] = WinePath(Dir + "/end-preview");
    env["PL_E2E_PREVIEW_HIDDEN"] = WinePath(Dir + "/hidden");
    auto host = Start({"wine", S().PreviewHost, "--post-input", WinePath(scr), "600", "100", "100", "320", "240"},
                      "preview.out", env);
    ASSERT_TRUE(WaitForMovie(preview)) << preview.Text() << host->Output();
    ASSERT_TRUE(WaitUntil([&] { return host->Output().find("posted 75") != std::string::npos; }, 20000))
        << host->Output();
    ASSERT_TRUE(WaitUntil([&] { return preview.Paints().size() >= 3; }, 30000)) << preview.Text();
    // The preview's throttle ("FlashPreviewSleep"), which spaces the
    // control's timer messages 50 ms apart, holds the 30 fps movie to 20.
    EXPECT_NE(preview.Text().find("movie loading: movie.swf at 320x240, 20 frames a second"), std::string::npos)
        << preview.Text();
    // Wine shows nothing another process draws in a window of its own (a
    // plain red child of the host stays the host's grey), so the player's
    // trace tells what it painted: the whole preview, in the stage's green.
    int green = 0;
    for (const auto& p : preview.Paints()) {
      EXPECT_EQ(p.Width, 320);
      EXPECT_EQ(p.Height, 240);
      green += Near(p.Centre, 0x00FF00) || Near(p.Centre, 0xFFFF00);
    }
    EXPECT_EQ(green, static_cast<int>(preview.Paints().size())) << preview.Text();
    EXPECT_EQ(preview.Count("] input "), 0u) << "input reached the movie of a preview:\n" << preview.Text();

    // A preview nobody sees pauses the emulator: no frame comes while the
    // host is hidden, and the frames come again once it shows.
    WriteFile(Dir + "/hidden", "");
    ASSERT_TRUE(WaitUntil([&] { return !preview.Pauses("paused").empty(); }, 20000)) << preview.Text();
    SleepMs(3000);
    std::remove((Dir + "/hidden").c_str());
    ASSERT_TRUE(WaitUntil([&] { return !preview.Pauses("resumed").empty(); }, 20000)) << preview.Text();
    const int pausedAt = preview.Pauses("paused")[0], resumedAt = preview.Pauses("resumed")[0];
    EXPECT_LE(resumedAt - pausedAt, 2) << "frames came while the preview was hidden:\n" << preview.Text();
    EXPECT_TRUE(WaitUntil([&] { return preview.LastPaintedFrame() > resumedAt; }, 20000)) << preview.Text();

    // A full-screen run of the same package meanwhile: a browser and a
    // profile of its own, in its own folder, never the preview's.
    auto saver = Start({"wine", scr, "/s"}, "full.out", TraceEnv(full));
    ASSERT_TRUE(WaitForMovie(full)) << full.Text() << saver->Output();
    EXPECT_NE(full.Text().find("movie loading: movie.swf at "), std::string::npos) << full.Text();
    EXPECT_EQ(full.Text().find("frames a second"), std::string::npos) << "full screen runs at the movie's own rate";
    ASSERT_EQ(preview.Profiles().size(), 1u) << preview.Text();
    ASSERT_EQ(full.Profiles().size(), 1u) << full.Text();
    EXPECT_EQ(preview.Profiles()[0].find(TempWindows(guid + "\\browser.")), 0u) << preview.Profiles()[0];
    EXPECT_EQ(full.Profiles()[0].find(TempWindows(guid + ".")), 0u) << full.Profiles()[0];
    EXPECT_EQ(ProcessesMatching(preview.Profiles()[0]).empty(), false) << "the preview's browser";
    // Ending the full-screen run (a key away from the preview, which lies
    // above it without a window manager) leaves the preview playing.
    EXPECT_EQ(RunProgram({"xdotool", "mousemove", "900", "700"}).ExitCode, 0);
    Key("space");
    EXPECT_EQ(saver->Wait(30000), std::optional<int>(0)) << full.Text();
    EXPECT_TRUE(WaitUntil([&] { return ProcessesMatching(full.Profiles()[0]).empty(); }, 15000));
    const int before = preview.LastPaintedFrame();
    EXPECT_TRUE(WaitUntil([&] { return preview.LastPaintedFrame() > before; }, 20000))
        << "the preview stopped with the other run:\n" << preview.Text();
    EXPECT_TRUE(host->Running());
    EndPreview(host, "preview");
    ExpectNothingLeft();
  }

  {
    SCOPED_TRACE("settings");
    // Without the control, the dialog still shows, with the package's picture.
    auto saver = Start({"wine", scr, "/c"}, "config.out");
    ASSERT_TRUE(WaitUntil([] { return WindowShown("E2E browser dialog"); }, 20000)) << saver->Output();
    ExpectDialogPicture();
    ASSERT_TRUE(fs::exists(TempFolder(guid) + "/data.xml"));
    // The end of the session while it shows.
    EndSession();
    EXPECT_TRUE(saver->Wait(20000));
    ExpectNothingLeft();
  }

  // The end of the session while the movie plays, full screen and in the
  // preview: the browser ends and its profile and the package's files go
  // before the session does.
  for (const bool inPreview : {false, true}) {
    SCOPED_TRACE(inPreview ? "session end in the preview" : "session end full screen");
    const TPlayerTrace trace = NewTrace(inPreview ? "session-preview" : "session-full");
    const TEnv env = TraceEnv(trace);
    auto run = inPreview ? Start({"wine", S().PreviewHost, WinePath(scr), "600"}, "session-preview.out", env)
                         : Start({"wine", scr, "/s"}, "session-full.out", env);
    ASSERT_TRUE(WaitForMovie(trace)) << trace.Text();
    ASSERT_FALSE(NoBrowserLeft());
    EndSession();
    // Nothing left the moment the session's end has been heard.
    EXPECT_TRUE(NoBrowserLeft()) << trace.Text();
    EXPECT_TRUE(run->Wait(20000));
    ExpectNothingLeft();
  }

  {
    SCOPED_TRACE("password");
    // "ScreenSaveUsePassword" on, as the system stores it, and a password
    // library beside the saver that refuses every check: the movie plays on
    // after a refused one, and the end of the session still ends the run.
    const std::string desktop = "HKCU\\Control Panel\\Desktop";
    ASSERT_EQ(RunProgram({"wine", "reg", "add", desktop, "/v", "ScreenSaveUsePassword", "/t", "REG_SZ", "/d", "1",
                          "/f"}).ExitCode, 0);
    struct TPasswordOff {
      std::string Key;
      ~TPasswordOff() { RunProgram({"wine", "reg", "delete", Key, "/v", "ScreenSaveUsePassword", "/f"}); }
    } off{desktop};
    fs::copy_file(S().Win + "/tests/saver/password_double.dll", Dir + "/Password.CPL",
                  fs::copy_options::overwrite_existing);
    const TPlayerTrace trace = NewTrace("password");
    TEnv env = TraceEnv(trace);
    const std::string checks = Dir + "/password-checks.log";
    env["PL_PASSWORD_REJECTS"] = "1000";
    env["PL_PROBE_LOG"] = WinePath(checks);
    auto saver = Start({"wine", scr, "/s"}, "password.out", env);
    ASSERT_TRUE(WaitForMovie(trace)) << trace.Text();
    Key("a");
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(checks).find("result=0") != std::string::npos; }, 20000))
        << ReadFile(checks) << saver->Output();
    const int refusedAt = trace.LastPaintedFrame();
    EXPECT_TRUE(WaitUntil([&] { return trace.LastPaintedFrame() > refusedAt; }, 20000))
        << "the movie stopped after a refused check:\n" << trace.Text();
    EXPECT_TRUE(saver->Running());
    EndSession();
    EXPECT_TRUE(saver->Wait(20000));
    EXPECT_EQ(ReadFile(checks).find("result=1"), std::string::npos) << ReadFile(checks);
    ExpectNothingLeft();
  }
}

}  // namespace
