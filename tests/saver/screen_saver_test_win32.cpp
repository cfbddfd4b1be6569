// The screen-saver host component in real processes: saver_host_probe.exe
// (a form governed by TScreenSaver) is started with each switch, driven with
// real X input through xdotool, and read back from its log and its windows.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/message_pump_win32.h"
#include "tests/support/process_win32.h"
#include "tests/support/xdotool_win32.h"
#include "util/raii_win32.h"

namespace {

// Tests that follow in the same display may expect the pointer where it was
// (keys go to the window under it): it is put back at the end.
class TPointerKeeper : public ::testing::Environment {
 public:
  void SetUp() override { FHad = GetCursorPos(&FWhere) != FALSE; }
  void TearDown() override {
    if (FHad) MovePointer(FWhere.x, FWhere.y);
  }

 private:
  POINT FWhere{};
  bool FHad = false;
};
const auto* const gPointerKeeper = ::testing::AddGlobalTestEnvironment(new TPointerKeeper);

std::string LogDir() {
  static const std::string dir = MakeTempDir("saver host ");
  return dir;
}

size_t Occurrences(const std::string& Text, const std::string& Part) {
  size_t n = 0;
  for (size_t at = Text.find(Part); at != std::string::npos; at = Text.find(Part, at + 1)) ++n;
  return n;
}

// Where the first log line starting with Prefix starts, or npos.
size_t FindLine(const std::string& Log, const std::string& Prefix) {
  if (Log.compare(0, Prefix.size(), Prefix) == 0) return 0;
  const size_t at = Log.find("\n" + Prefix);
  return at == std::string::npos ? at : at + 1;
}

// The value after "Key=" in the first log line that starts with Prefix.
std::string Field(const std::string& Log, const std::string& Prefix, const std::string& Key) {
  const size_t line = FindLine(Log, Prefix);
  if (line == std::string::npos) return {};
  const size_t end = Log.find('\n', line);
  const std::string text = Log.substr(line, end - line);
  const size_t at = text.find(" " + Key + "=");
  if (at == std::string::npos) return {};
  const size_t start = at + Key.size() + 2;
  return text.substr(start, text.find(' ', start) - start);
}

std::string HexOf(HWND Wnd) {
  char text[32];
  std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(Wnd)));
  return text;
}

HWND HwndFromHex(const std::string& Hex) {
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::stoull(Hex.empty() ? "0" : Hex, nullptr, 16)));
}

// One run of the probe, with its own log; killed at the end if still running.
class TProbe {
 public:
  explicit TProbe(const std::string& Args, const std::string& Options = "", const std::string& Exe = "")
      : FLog(PrepareRun(Options)),
        FProcess("\"" + (Exe.empty() ? ExeDir() + "saver_host_probe.exe" : Exe) + "\" " + Args) {}

  bool Started() const { return FProcess.Started(); }
  DWORD ProcessId() const { return FProcess.ProcessId(); }
  std::string Log() const { return ReadTextFile(FLog); }
  bool Running() const { return FProcess.Running(); }
  bool WaitFor(const std::string& Text, DWORD TimeoutMs = 10000) const {
    return PumpUntil([&] { return Log().find(Text) != std::string::npos; }, TimeoutMs);
  }
  bool WaitExit(DWORD TimeoutMs = 10000) const { return FProcess.WaitExit(TimeoutMs); }
  DWORD ExitCode() const { return FProcess.ExitCode(); }
  // The main form's window once it has shown.
  HWND Shown() const { return HwndFromHex(Field(Log(), "shown ", "hwnd")); }
  HWND MainForm() const {
    const std::string log = Log();
    const size_t at = FindLine(log, "main-form ");
    return at == std::string::npos ? nullptr : HwndFromHex(log.substr(at + 10, log.find('\n', at) - at - 10));
  }

 private:
  // A fresh log, and the options, for the next probe to start.
  static std::string PrepareRun(const std::string& Options) {
    static int serial = 0;
    const std::string log = LogDir() + "probe" + std::to_string(++serial) + ".log";
    DeleteFileA(log.c_str());
    SetEnvironmentVariableA("PL_PROBE_LOG", log.c_str());
    SetEnvironmentVariableA("PL_PROBE", Options.empty() ? nullptr : Options.c_str());
    return log;
  }

  std::string FLog;
  TStartedProcess FProcess;
};

// Whether Upper comes before Lower in the z-order of the top-level windows.
bool IsAbove(HWND Upper, HWND Lower) {
  for (HWND w = GetWindow(Upper, GW_HWNDNEXT); w; w = GetWindow(w, GW_HWNDNEXT))
    if (w == Lower) return true;
  return false;
}

// Sends the system's request to start a screen saver; its result.
LRESULT RequestScreenSaver(HWND Wnd, WPARAM LowBits = 0) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(Wnd, WM_SYSCOMMAND, SC_SCREENSAVE | LowBits, 0, SMTO_ABORTIFHUNG, 5000, &result);
  return static_cast<LRESULT>(result);
}

// Starts a full-screen probe with the pointer at (0, 0), where Wine's
// synthetic move after the first show counts as no change of position.
// Null (with the failure reported) when it does not come up.
std::unique_ptr<TProbe> StartSaver(const std::string& Options = "", const std::string& Exe = "") {
  if (!MovePointer(0, 0)) {
    ADD_FAILURE() << "the pointer does not reach (0, 0)";
    return nullptr;
  }
  auto probe = std::make_unique<TProbe>("/E", Options, Exe);
  if (!probe->Started()) {
    ADD_FAILURE() << "the saver does not start: error " << GetLastError();
    return nullptr;
  }
  if (!probe->WaitFor("shown ")) {
    ADD_FAILURE() << "the saver does not show\n" << probe->Log();
    return nullptr;
  }
  // Let the synthetic move arrive.
  probe->WaitFor("move 0 0 ", 2000);
  return probe;
}

// Moves the pointer and waits until the form (its client area at Origin)
// has judged the move.
bool MoveAndWait(TProbe& Probe, int X, int Y, int Count, POINT Origin = {0, 0}) {
  const std::string line = "move " + std::to_string(X - Origin.x) + " " + std::to_string(Y - Origin.y) +
                           " count=" + std::to_string(Count);
  if (MovePointer(X, Y) && Probe.WaitFor(line)) return true;
  ADD_FAILURE() << "not judged: " << line << "\n" << Probe.Log();
  return false;
}

// Runs an xdotool command and waits until the probe has logged one more line
// starting with Line: all input before it has been handled by then.
bool InputAndWait(TProbe& Probe, const std::string& Input, const std::string& Line) {
  const size_t before = Occurrences(Probe.Log(), "\n" + Line);
  Xdotool(Input);
  if (PumpUntil([&] { return Occurrences(Probe.Log(), "\n" + Line) > before; })) return true;
  ADD_FAILURE() << "not seen: " << Line << " after " << Input << "\n" << Probe.Log();
  return false;
}

}  // namespace

TEST(ScreenSaverFullScreen, FourthMoveEndsAfterThreeNewPositions) {
  auto probe = StartSaver();
  ASSERT_TRUE(probe);
  const std::string log = probe->Log();
  EXPECT_NE(log.find("mode 4"), std::string::npos) << log;
  // The framed form became borderless, topmost and covers the desktop; the
  // pointer is hidden.
  const uint32_t style = std::stoul(Field(log, "shown ", "style"), nullptr, 16);
  EXPECT_EQ(style & WS_CAPTION, 0u);
  EXPECT_NE(std::stoul(Field(log, "shown ", "exstyle"), nullptr, 16) & WS_EX_TOPMOST, 0u);
  EXPECT_EQ(Field(log, "shown ", "rect"), "0,0,1280,1024");
  EXPECT_LT(std::stoi(Field(log, "shown ", "cursor")), 0);
  EXPECT_EQ(Occurrences(probe->Log(), "count=1"), 0u) << "nothing counted before the first real move";

  // A move over the form itself reaches the rules directly: the mouse hook
  // leaves it alone. Over the child window (as over the player control) the
  // moves reach the rules through the hook.
  ASSERT_TRUE(MoveAndWait(*probe, 100, 100, 1));
  ASSERT_TRUE(MoveAndWait(*probe, 700, 100, 2));
  ASSERT_TRUE(MoveAndWait(*probe, 900, 300, 3));
  const std::string moves = probe->Log();
  EXPECT_GT(moves.find("hooked-mouse 200"), moves.find("move 700 100 count=2")) << moves;
  EXPECT_EQ(Occurrences(moves, "move 100 100 "), 1u) << moves;
  // Each judged move is logged after its judgement: three ended nothing.
  EXPECT_TRUE(probe->Running());
  EXPECT_EQ(moves.find("terminate"), std::string::npos);

  ASSERT_TRUE(MovePointer(100, 500));
  ASSERT_TRUE(probe->WaitExit()) << probe->Log();
  EXPECT_EQ(probe->ExitCode(), 0u);
  EXPECT_EQ(Occurrences(probe->Log(), "terminate"), 1u) << probe->Log();
  EXPECT_NE(probe->Log().find("exit"), std::string::npos);
  // The system was told that a screen saver ran, and then that none runs.
  EXPECT_NE(probe->Log().find("saver-running 1\n"), std::string::npos);
  EXPECT_NE(probe->Log().find("saver-running-after 0\n"), std::string::npos);
}

TEST(ScreenSaverFullScreen, KeyOrButtonEnds) {
  for (const char* input : {"key a", "click 1", "click 4" /* wheel */}) {
    auto probe = StartSaver();
    ASSERT_TRUE(probe);
    Xdotool(input);
    ASSERT_TRUE(probe->WaitExit()) << input << "\n" << probe->Log();
    EXPECT_EQ(probe->ExitCode(), 0u);
    EXPECT_EQ(Occurrences(probe->Log(), "terminate"), 1u) << input << "\n" << probe->Log();
  }
}

TEST(ScreenSaverFullScreen, WithoutMoveRuleNeitherMovesNorButtonsEnd) {
  auto probe = StartSaver("nomousemove");
  ASSERT_TRUE(probe);
  // Moves over the form are still counted.
  ASSERT_TRUE(MoveAndWait(*probe, 100, 100, 1));
  ASSERT_TRUE(MoveAndWait(*probe, 200, 200, 2));
  ASSERT_TRUE(MoveAndWait(*probe, 300, 300, 3));
  ASSERT_TRUE(MoveAndWait(*probe, 400, 400, 3));
  ASSERT_TRUE(InputAndWait(*probe, "click 1", "button 202"));
  ASSERT_TRUE(InputAndWait(*probe, "click 3", "button 205"));
  ASSERT_TRUE(InputAndWait(*probe, "click 4", "button 20a"));
  // Over the child; then a click over the form, handled after all of it.
  ASSERT_TRUE(MovePointer(700, 300));
  Xdotool("click 1");
  ASSERT_TRUE(MovePointer(900, 600));
  ASSERT_TRUE(MovePointer(400, 400));
  ASSERT_TRUE(InputAndWait(*probe, "click 1", "button 202"));
  EXPECT_TRUE(probe->Running());
  const std::string log = probe->Log();
  EXPECT_EQ(log.find("terminate"), std::string::npos) << log;
  // The mouse hook forwards nothing.
  EXPECT_EQ(log.find("hooked-mouse"), std::string::npos) << log;
  Xdotool("key Escape");
  ASSERT_TRUE(probe->WaitExit()) << probe->Log();
  EXPECT_EQ(Occurrences(probe->Log(), "terminate"), 1u);
}

TEST(ScreenSaverFullScreen, WithoutKeyRuleKeysDoNotEnd) {
  auto probe = StartSaver("nokeydown");
  ASSERT_TRUE(probe);
  // The form has the focus: each key's release reaches it after the press
  // was judged.
  ASSERT_TRUE(InputAndWait(*probe, "key a", "key 101 41 "));
  ASSERT_TRUE(MovePointer(1000, 500));
  ASSERT_TRUE(InputAndWait(*probe, "key b", "key 101 42 "));
  EXPECT_TRUE(probe->Running());
  EXPECT_EQ(probe->Log().find("terminate"), std::string::npos);
  Xdotool("click 1");
  ASSERT_TRUE(probe->WaitExit()) << probe->Log();
  EXPECT_EQ(Occurrences(probe->Log(), "terminate"), 1u);
}

TEST(ScreenSaverFullScreen, SecondCopyEndsAtOnceAndFirstGoesOn) {
  auto first = StartSaver();
  ASSERT_TRUE(first);
  for (int i = 0; i < 2; ++i) {
    TProbe second("/E");
    ASSERT_TRUE(second.WaitExit()) << second.Log();
    EXPECT_EQ(second.ExitCode(), 0u);
    EXPECT_NE(second.Log().find("mode 4"), std::string::npos);
    EXPECT_EQ(second.Log().find("terminate"), std::string::npos);
  }
  PumpFor(300);
  EXPECT_TRUE(first->Running());
  EXPECT_EQ(first->Log().find("terminate"), std::string::npos);
  Xdotool("key a");
  ASSERT_TRUE(first->WaitExit()) << first->Log();
  EXPECT_EQ(Occurrences(first->Log(), "terminate"), 1u);
  // The name is free again.
  auto third = StartSaver();
  ASSERT_TRUE(third);
  EXPECT_TRUE(third->Running());
  Xdotool("key a");
  EXPECT_TRUE(third->WaitExit());
}

TEST(ScreenSaverFullScreen, ScreenSaveRequestRefused) {
  auto probe = StartSaver();
  ASSERT_TRUE(probe);
  // Sent: had the request reached the form's handling, that is logged now.
  // The system keeps the command's low four bits for itself: with any of
  // them set, it is the same request.
  for (const unsigned low : {0u, 2u, 0xFu}) EXPECT_EQ(RequestScreenSaver(probe->Shown(), low), 1) << low;
  EXPECT_EQ(probe->Log().find("screensave-leaked"), std::string::npos);
  EXPECT_TRUE(probe->Running());
  Xdotool("key a");
  EXPECT_TRUE(probe->WaitExit());
}

// The drawing timer puts the form back above a window that comes over it,
// and leaves its placement alone while nothing covers it.
TEST(ScreenSaverFullScreen, DrawingTimerPutsTheFormBackOnTopOnlyWhenCovered) {
  auto probe = StartSaver("drawing");
  ASSERT_TRUE(probe);
  const HWND form = probe->Shown();
  ASSERT_TRUE(probe->WaitFor("tick 2\n")) << probe->Log();
  const size_t settled = Occurrences(probe->Log(), "poschanging");
  ASSERT_TRUE(probe->WaitFor("tick 6\n")) << probe->Log();
  EXPECT_EQ(Occurrences(probe->Log(), "poschanging"), settled) << "placed again while nothing covered it";

  // A topmost window of another program, shown without activation.
  const TUniqueWindow cover(CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"STATIC", L"cover", WS_POPUP, 100,
                                            100, 200, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
  ASSERT_TRUE(cover);
  ShowWindow(cover.Get(), SW_SHOWNA);
  ASSERT_TRUE(IsAbove(cover.Get(), form));
  EXPECT_TRUE(PumpUntil([&] { return IsAbove(form, cover.Get()); }, 5000)) << probe->Log();
  EXPECT_GT(Occurrences(probe->Log(), "poschanging"), settled);

  Xdotool("key a");
  EXPECT_TRUE(probe->WaitExit()) << probe->Log();
}

// The system's password flag, set for one test in the private prefix and
// removed afterwards.
class ScreenSaverPassword : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              FKey.Put(), nullptr),
              ERROR_SUCCESS);
    const DWORD one = 1;
    ASSERT_EQ(RegSetValueExA(FKey.Get(), "ScreenSaveUsePassword", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                             sizeof one),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegDeleteValueA(FKey.Get(), "ScreenSaveUsePassword");
    SetEnvironmentVariableA("PL_PASSWORD_REJECTS", nullptr);
  }
  // A copy of the probe with a "Password.CPL" of our own beside it, which
  // rejects the first Rejects checks; empty when it cannot be made.
  static std::string ProbeBesideCheck(const char* Rejects) {
    const std::string dir = MakeTempDir("saver password ");
    const std::string exe = dir + "saver_host_probe.exe";
    if (!CopyFileA((ExeDir() + "saver_host_probe.exe").c_str(), exe.c_str(), FALSE) ||
        !CopyFileA((ExeDir() + "password_double.dll").c_str(), (dir + "Password.CPL").c_str(), FALSE))
      return "";
    SetEnvironmentVariableA("PL_PASSWORD_REJECTS", Rejects);
    return exe;
  }
  TUniqueHKey FKey;
};

TEST_F(ScreenSaverPassword, RejectedCheckGoesOnAndCountsAgain) {
  const std::string exe = ProbeBesideCheck("1");
  ASSERT_FALSE(exe.empty());
  auto probe = StartSaver("", exe);
  ASSERT_TRUE(probe);
  ASSERT_TRUE(MoveAndWait(*probe, 700, 100, 1));
  ASSERT_TRUE(MoveAndWait(*probe, 800, 200, 2));
  ASSERT_TRUE(MoveAndWait(*probe, 900, 300, 3));
  // The fourth asks, is refused, and counts from 0 again: as one new position.
  ASSERT_TRUE(MoveAndWait(*probe, 100, 500, 1));
  std::string log = probe->Log();
  EXPECT_EQ(Occurrences(log, "verify "), 1u) << log;
  // The pointer was shown for the check and is hidden again.
  EXPECT_GE(std::stoi(Field(log, "verify ", "cursor")), 0) << log;
  EXPECT_EQ(Field(log, "verify ", "result"), "0");
  EXPECT_LT(std::stoi(Field(log, "move 100 500 ", "cursor")), 0) << log;
  // One more move is not enough now (it is logged after its judgement).
  ASSERT_TRUE(MoveAndWait(*probe, 200, 500, 2));
  EXPECT_TRUE(probe->Running());
  EXPECT_EQ(probe->Log().find("terminate"), std::string::npos);

  Xdotool("key a");
  ASSERT_TRUE(probe->WaitExit()) << probe->Log();
  log = probe->Log();
  EXPECT_EQ(Occurrences(log, "verify "), 2u) << log;
  EXPECT_NE(log.find("result=1"), std::string::npos);
  EXPECT_EQ(Occurrences(log, "terminate"), 1u) << log;
}

// The keys go to another window of the process (the child has the focus):
// only the keyboard hook brings them to the rules, the press as WM_KEYDOWN
// and the release, with bit 31 of its key data set, as WM_KEYUP. Rejected
// checks keep the saver running so that both arrive.
TEST_F(ScreenSaverPassword, KeysForAnotherWindowReachTheRulesThroughTheHook) {
  const std::string exe = ProbeBesideCheck("2");
  ASSERT_FALSE(exe.empty());
  auto probe = StartSaver("focus-child", exe);
  ASSERT_TRUE(probe);
  ASSERT_NE(probe->Log().find("focus-child 1\n"), std::string::npos) << probe->Log();
  Xdotool("key a");
  // Wait for the release itself: a pointer event may bring a check of its own.
  ASSERT_TRUE(PumpUntil([&] { return FindLine(probe->Log(), "key 101 41 ") != std::string::npos; }))
      << probe->Log();
  std::string log = probe->Log();
  const size_t down = FindLine(log, "key 100 41 "), up = FindLine(log, "key 101 41 ");
  ASSERT_NE(down, std::string::npos) << log;
  ASSERT_NE(up, std::string::npos) << log;
  EXPECT_LT(down, up);
  // The key data after "key MSG VK ": bit 31 is the transition bit.
  auto released = [&](size_t Line) { return (std::stoul(log.substr(Line + 11), nullptr, 16) >> 31) != 0; };
  EXPECT_FALSE(released(down)) << log;
  EXPECT_TRUE(released(up)) << log;
  EXPECT_EQ(Occurrences(log, "key "), 2u) << "the keys reached the form only through the hook\n" << log;
  EXPECT_TRUE(probe->Running());
  const size_t checks = Occurrences(log, "verify ");

  Xdotool("key b");
  ASSERT_TRUE(probe->WaitExit()) << probe->Log();
  log = probe->Log();
  EXPECT_NE(log.find("key 100 42 "), std::string::npos) << log;
  EXPECT_EQ(Occurrences(log, "verify "), checks + 1) << log;
  EXPECT_EQ(Occurrences(log, "terminate"), 1u) << log;
}

TEST_F(ScreenSaverPassword, MissingLibraryCountsAsPassed) {
  // No "Password.CPL" beside the probe in its build folder.
  ASSERT_FALSE(FileExists(ExeDir() + "Password.CPL"));
  auto probe = StartSaver();
  ASSERT_TRUE(probe);
  Xdotool("key a");
  ASSERT_TRUE(probe->WaitExit()) << probe->Log();
  EXPECT_EQ(probe->Log().find("verify"), std::string::npos);
  EXPECT_EQ(Occurrences(probe->Log(), "terminate"), 1u);
}

namespace {

// A plain top-level window standing in for the display settings' preview.
class TPreviewHost {
 public:
  TPreviewHost(int X, int Y, int W, int H) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"PlPreviewHost";
    RegisterClassW(&wc);
    FWnd.Reset(CreateWindowExW(0, L"PlPreviewHost", L"preview", WS_POPUP | WS_VISIBLE, X, Y, W, H, nullptr,
                               nullptr, wc.hInstance, nullptr));
  }
  ~TPreviewHost() {
    // Already taken down with something else: nothing left to destroy.
    if (!IsWindow(FWnd.Get())) FWnd.Release();
  }
  HWND Wnd() const { return FWnd.Get(); }
  void Destroy() { FWnd.Reset(); }
  std::string Arg() const { return std::to_string(static_cast<int32_t>(reinterpret_cast<intptr_t>(FWnd.Get()))); }

 private:
  TUniqueWindow FWnd;
};

}  // namespace

TEST(ScreenSaverPreview, DisabledChildOfParentEndsOnClose) {
  TPreviewHost host(100, 120, 240, 180);
  ASSERT_TRUE(host.Wnd());
  TProbe probe("/p " + host.Arg());
  ASSERT_TRUE(probe.WaitFor("shown ")) << probe.Log();
  // The mode is logged once creation has returned, after the form showed.
  EXPECT_TRUE(probe.WaitFor("mode 3")) << probe.Log();
  const HWND form = probe.Shown();
  ASSERT_TRUE(IsWindow(form));
  EXPECT_EQ(GetParent(form), host.Wnd());
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrW(form, GWL_STYLE)) & ~static_cast<DWORD>(WS_VISIBLE),
            static_cast<DWORD>(WS_CHILD | WS_DISABLED));
  EXPECT_TRUE(IsWindowVisible(form));
  RECT r{};
  GetWindowRect(form, &r);
  EXPECT_EQ(r.left, 100);
  EXPECT_EQ(r.top, 120);
  EXPECT_EQ(r.right, 340);
  EXPECT_EQ(r.bottom, 300);

  // Input over the preview ends nothing.
  for (const char* input : {"mousemove 150 150", "mousemove 200 200", "mousemove 250 250", "mousemove 300 280",
                            "click 1", "key a"}) {
    Xdotool(input);
    PumpFor(150);
  }
  PumpFor(400);
  EXPECT_TRUE(probe.Running());
  EXPECT_EQ(RequestScreenSaver(form), 1);
  EXPECT_EQ(probe.Log().find("terminate"), std::string::npos) << probe.Log();
  EXPECT_EQ(probe.Log().find("screensave-leaked"), std::string::npos);

  PostMessageW(form, WM_CLOSE, 0, 0);
  ASSERT_TRUE(probe.WaitExit()) << probe.Log();
  EXPECT_EQ(probe.ExitCode(), 0u);
  EXPECT_EQ(Occurrences(probe.Log(), "terminate"), 1u) << probe.Log();
  EXPECT_EQ(GetWindow(host.Wnd(), GW_CHILD), nullptr);
}

TEST(ScreenSaverPreview, EndsWhenParentGoesOrIsMissing) {
  {
    TPreviewHost host(50, 50, 200, 150);
    TProbe probe("/p " + host.Arg());
    ASSERT_TRUE(probe.WaitFor("shown ")) << probe.Log();
    host.Destroy();
    ASSERT_TRUE(probe.WaitExit()) << probe.Log();
    EXPECT_EQ(probe.ExitCode(), 0u);
  }
  // No parent, or a number that is no window: nothing to show in; the
  // program ends by itself. Only the second argument names the parent: a
  // window's handle after the letter is ignored.
  TPreviewHost host(50, 50, 200, 150);
  for (const auto& [args, parent] : std::vector<std::pair<std::string, std::string>>{
           {"/p", "0"}, {"/p 12345", "3039"}, {"/p nonsense", "0"}, {"/p:" + host.Arg(), "0"}}) {
    TProbe probe(args);
    ASSERT_TRUE(probe.WaitExit()) << args << "\n" << probe.Log();
    EXPECT_EQ(probe.ExitCode(), 0u) << args;
    EXPECT_NE(probe.Log().find("mode 3\nparent " + parent + "\n"), std::string::npos) << args << "\n" << probe.Log();
  }
  EXPECT_EQ(GetWindow(host.Wnd(), GW_CHILD), nullptr);
}

TEST(ScreenSaverConfig, ShowsNamedFormModallyThenEnds) {
  TProbe probe("/c", "dialog");
  ASSERT_TRUE(probe.WaitFor("dialog-shown")) << probe.Log();
  const std::string log = probe.Log();
  EXPECT_NE(log.find("mode 2"), std::string::npos);
  EXPECT_EQ(Field(log, "dialog-shown", "modal"), "1");
  // Centred on the work area.
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int left = work.left + (work.right - work.left - 300) / 2;
  const int top = work.top + (work.bottom - work.top - 200) / 2;
  EXPECT_EQ(Field(log, "dialog-shown", "rect"), std::to_string(left) + "," + std::to_string(top) + "," +
                                                    std::to_string(left + 300) + "," + std::to_string(top + 200));
  // The main form stays hidden and refuses the system's request too.
  const HWND main = probe.MainForm();
  ASSERT_TRUE(IsWindow(main));
  EXPECT_FALSE(IsWindowVisible(main));
  EXPECT_EQ(FindLine(log, "shown "), std::string::npos);
  EXPECT_EQ(RequestScreenSaver(main), 1);
  EXPECT_TRUE(probe.Running());
  EXPECT_EQ(probe.Log().find("terminate"), std::string::npos);

  PostMessageW(HwndFromHex(Field(log, "dialog-shown", "hwnd")), WM_CLOSE, 0, 0);
  ASSERT_TRUE(probe.WaitExit()) << probe.Log();
  EXPECT_EQ(Occurrences(probe.Log(), "terminate"), 1u) << probe.Log();
  EXPECT_EQ(probe.Log().find("screensave-leaked"), std::string::npos);
}

TEST(ScreenSaverConfig, WithoutSuchFormEndsAtOnce) {
  // No argument means configuration too, and so does "/c:<number>". The
  // second argument is read as the preview parent in this mode too; the
  // number after the letter is not.
  TPreviewHost host(50, 50, 200, 150);
  const std::string parent = "parent " + HexOf(host.Wnd()) + "\n";
  for (const auto& [args, read] : std::vector<std::pair<std::string, std::string>>{
           {"", "parent 0\n"}, {"/c", "parent 0\n"}, {"/c:" + host.Arg(), "parent 0\n"}, {"/c " + host.Arg(), parent}}) {
    TProbe probe(args, "dialog,customize=frmNothing");
    ASSERT_TRUE(probe.WaitExit()) << probe.Log();
    EXPECT_EQ(probe.ExitCode(), 0u);
    const std::string log = probe.Log();
    EXPECT_NE(log.find("mode 2\n" + read), std::string::npos) << args << "\n" << log;
    EXPECT_EQ(log.find("dialog-shown"), std::string::npos) << log;
    EXPECT_EQ(Occurrences(log, "terminate"), 1u) << log;
  }
  // The name is compared without regard to case.
  TProbe probe("/c", "dialog,customize=FRMDIALOG");
  ASSERT_TRUE(probe.WaitFor("dialog-shown")) << probe.Log();
  PostMessageW(HwndFromHex(Field(probe.Log(), "dialog-shown", "hwnd")), WM_CLOSE, 0, 0);
  EXPECT_TRUE(probe.WaitExit());
}

TEST(ScreenSaverNone, BorderlessTopmostAtStoredBoundsAndNotEndedByInput) {
  // Outside the form, so that no move reaches it before the test's own.
  ASSERT_TRUE(MovePointer(700, 700));
  // A full-screen run killed by an earlier test leaves the system's flag
  // set; this one must show that it never sets it.
  BOOL previous = FALSE;
  SystemParametersInfoW(SPI_SETSCREENSAVERRUNNING, FALSE, &previous, 0);
  // A second argument is read as the parent in every mode, this one too.
  TProbe probe("/x 12345", "timers,hidecursor");
  ASSERT_TRUE(probe.WaitFor("shown ")) << probe.Log();
  std::string log = probe.Log();
  EXPECT_EQ(Field(log, "shown ", "rect"), "30,40,350,280");
  EXPECT_EQ(std::stoul(Field(log, "shown ", "style"), nullptr, 16) & WS_CAPTION, 0u);
  EXPECT_NE(std::stoul(Field(log, "shown ", "exstyle"), nullptr, 16) & WS_EX_TOPMOST, 0u);
  // Outside full-screen mode ShowMouseCursor only keeps its value: the
  // pointer stays shown.
  EXPECT_EQ(Field(log, "shown ", "showcursor"), "0");
  EXPECT_GE(std::stoi(Field(log, "shown ", "cursor")), 0);

  // Interval started the drawing timer although TimerEnabled is False;
  // Visible hides and shows the form; TimerEnabled False stops the timer.
  ASSERT_TRUE(probe.WaitFor("timer-disabled")) << probe.Log();
  PumpFor(700);
  log = probe.Log();
  EXPECT_NE(log.find("mode 0\nparent 3039\n"), std::string::npos) << log;
  EXPECT_NE(log.find("saver-running 0\n"), std::string::npos) << log;
  EXPECT_LT(log.find("visible 0\n"), log.find("visible 1\n")) << log;
  EXPECT_EQ(Occurrences(log, "timer "), 3u) << log;

  // The moves are still counted.
  ASSERT_TRUE(MoveAndWait(probe, 60, 60, 1, {30, 40}));
  ASSERT_TRUE(MoveAndWait(probe, 70, 70, 2, {30, 40}));
  ASSERT_TRUE(MoveAndWait(probe, 80, 80, 3, {30, 40}));
  ASSERT_TRUE(MoveAndWait(probe, 90, 90, 3, {30, 40}));
  ASSERT_TRUE(InputAndWait(probe, "click 1", "button 202"));
  ASSERT_TRUE(InputAndWait(probe, "key a", "key 101 41 "));
  EXPECT_TRUE(probe.Running());
  EXPECT_EQ(RequestScreenSaver(probe.Shown()), 1);

  // With the drawing timer off, the thread timer's worker keeps the
  // application window hidden.
  const size_t app = FindLine(probe.Log(), "app-window ");
  ASSERT_NE(app, std::string::npos) << probe.Log();
  const HWND appWnd = HwndFromHex(probe.Log().substr(app + 11, probe.Log().find('\n', app) - app - 11));
  ASSERT_TRUE(IsWindow(appWnd));
  ShowWindow(appWnd, SW_SHOWNA);
  EXPECT_TRUE(PumpUntil([&] { return !IsWindowVisible(appWnd); }, 3000));

  // A close request outside a preview closes the form without the end sequence.
  PostMessageW(probe.Shown(), WM_CLOSE, 0, 0);
  ASSERT_TRUE(probe.WaitExit()) << probe.Log();
  log = probe.Log();
  EXPECT_EQ(log.find("terminate"), std::string::npos) << log;
  EXPECT_EQ(log.find("screensave-leaked"), std::string::npos);
}

TEST(ScreenSaverNone, BitmapIsCopiedOntoTheFormShrunkToIt) {
  // The drawing is the size of the virtual desktop; the form, 640 x 256,
  // shows it shrunk by 2 across and 4 down: its red square at 400..480
  // lands at 200..240 x 100..120.
  TProbe probe("/x", "bitmap");
  ASSERT_TRUE(probe.WaitFor("pixels ")) << probe.Log();
  EXPECT_NE(probe.Log().find("pixels ff0000 00ff00\n"), std::string::npos) << probe.Log();
  PostMessageW(probe.Shown(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(probe.WaitExit());
}

namespace {

// The windows of process Pid whose caption is Caption.
std::vector<HWND> WindowsWithCaption(DWORD Pid, const std::wstring& Caption) {
  struct TSearch {
    DWORD Pid;
    std::wstring Caption;
    std::vector<HWND> Found;
  } search{Pid, Caption, {}};
  EnumWindows(
      [](HWND Wnd, LPARAM Param) noexcept -> BOOL {
        auto* s = reinterpret_cast<TSearch*>(Param);
        DWORD pid = 0;
        GetWindowThreadProcessId(Wnd, &pid);
        wchar_t text[64] = {};
        GetWindowTextW(Wnd, text, 64);
        if (pid == s->Pid && s->Caption == text && IsWindowVisible(Wnd)) s->Found.push_back(Wnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

// Waits for the probe's error box, checks it and presses its button;
// returns its text.
std::wstring AnswerErrorBox(const TProbe& Probe) {
  std::vector<HWND> boxes;
  EXPECT_TRUE(PumpUntil(
      [&] {
        boxes = WindowsWithCaption(Probe.ProcessId(), L"エラー");
        return !boxes.empty();
      },
      10000))
      << Probe.Log();
  if (boxes.size() != 1) return L"";
  const HWND box = boxes[0];
  wchar_t text[256] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 256);
  // A single OK button.
  EXPECT_NE(GetDlgItem(box, IDOK), nullptr);
  EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);
  EXPECT_EQ(GetDlgItem(box, IDYES), nullptr);
  // The program waits on the box.
  PumpFor(300);
  EXPECT_TRUE(Probe.Running());
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
  return text;
}

}  // namespace

TEST(ScreenSaverPasswordChange, SystemChangeEndsSilently) {
  // Wine's change function shows nothing and succeeds: no message, no form.
  TProbe probe("/a");
  ASSERT_TRUE(probe.WaitExit()) << probe.Log();
  EXPECT_EQ(probe.ExitCode(), 0u);
  const std::string log = probe.Log();
  EXPECT_NE(log.find("aborted\n"), std::string::npos) << log;
  EXPECT_NE(log.find("exit\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("created"), std::string::npos) << log;
  EXPECT_EQ(FindLine(log, "shown "), std::string::npos) << log;
}

TEST(ScreenSaverPasswordChange, FailuresAreReportedThenProgramEnds) {
  const std::string library = ExeDir() + "password_double.dll";
  SetEnvironmentVariableA("PL_PASSWORD_CHANGE_RESULT", "5");
  {
    TProbe probe("/a", "change-library=" + library);
    EXPECT_EQ(AnswerErrorBox(probe), L"パスワードの変更に失敗しました");
    ASSERT_TRUE(probe.WaitExit()) << probe.Log();
    EXPECT_EQ(probe.ExitCode(), 0u);
    const std::string log = probe.Log();
    EXPECT_NE(log.find("change provider=SCRSAVE window=1 a=0 b=0\n"), std::string::npos) << log;
    EXPECT_NE(log.find("aborted\n"), std::string::npos) << log;
    EXPECT_EQ(FindLine(log, "shown "), std::string::npos) << log;
  }
  SetEnvironmentVariableA("PL_PASSWORD_CHANGE_RESULT", nullptr);
  for (const std::string& options : {"change-library=" + ExeDir() + "no_such_library.dll",
                                     "change-library=" + library + ",change-function=NoSuchFunction"}) {
    TProbe probe("/a", options);
    EXPECT_EQ(AnswerErrorBox(probe), L"パスワードダイアログが表示できませんでした") << options;
    ASSERT_TRUE(probe.WaitExit()) << probe.Log();
    EXPECT_EQ(probe.ExitCode(), 0u);
    EXPECT_EQ(probe.Log().find("change provider"), std::string::npos);
    EXPECT_NE(probe.Log().find("aborted\n"), std::string::npos);
  }
}
