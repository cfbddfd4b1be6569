// Hosting the player control, against the fake player registered in the
// test prefix: property puts, methods, the FSCommand event, the window
// procedure filter, placement, teardown, and repeated create/destroy.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "flash/shockwave_flash_win32.h"
#include "tests/doubles/fakeplayer/fake_movie.h"
#include "tests/doubles/fakeplayer/fake_registration_win32.h"
#include "tests/support/fake_log_win32.h"
#include "tests/support/fake_player_host_win32.h"
#include "tests/support/message_pump_win32.h"
#include "tests/support/process_win32.h"
#include "tests/support/resource_counts_win32.h"
#include "util/raii_com_win32.h"
#include "util/text_win32.h"

namespace {

std::string Utf8(const std::wstring& Text) {
  if (Text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

using TLiveObjectsFn = LONG(WINAPI*)();
LONG FakeLiveObjects() {
  const auto fn = ProcAddress<TLiveObjectsFn>(GetModuleHandleA("fakeplayer_v9.dll"), "FakePlayerLiveObjects");
  return fn ? fn() : -1;
}

// A movie whose bytes carry fscommand(Command, Args) the way a SWF does.
std::string WriteMovie(const std::string& Dir, const std::string& Name, const std::string& Command,
                       const std::string& Args) {
  std::string bytes = std::string("FWS\x06", 4) + std::string(40, '\x11') + "FSCommand:" + Command + '\0' + Args +
                      '\0' + std::string(20, '\x22');
  const std::string path = Dir + Name;
  const TUniqueFile f(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  WriteFile(f.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  return path;
}

class FlashHostTest : public TFakePlayerSuite {
 protected:
  void SetUp() override {
    Dir = MakeTempDir("flash host ");
    Log.Path = Dir + "fake.log";
    SetEnvironmentVariableA("PL_FAKEPLAYER_LOG", Log.Path.c_str());
    SetEnvironmentVariableA("PL_FAKEPLAYER_REFUSE", nullptr);
    Parent = CreateHostWindow(400, 300);
    ASSERT_TRUE(Parent);
  }
  void TearDown() override {
    DestroyWindow(Parent);
    SetEnvironmentVariableA("PL_FAKEPLAYER_REFUSE", nullptr);
    PumpFor(0);
  }

  std::string Dir;
  TFakeLog Log;
  HWND Parent = nullptr;
};

TEST_F(FlashHostTest, SevenPutsArriveWithTheirDispidsAndValues) {
  const std::wstring flashVars = L"a=1&title=\u65E5\u672C\u8A9E&plumexmode=normal";
  const std::wstring movie = AnsiToWide(Dir) + L"\u30E0\u30FC\u30D3\u30FC movie.swf";
  {
    TShockwaveFlash flash(Parent);
    flash.SetLoop(true);
    flash.SetMenu(false);
    flash.SetQuality(3);
    flash.SetFlashVars(flashVars);
    flash.SetBackgroundColor(0x123456);
    flash.SetMovie(movie);
    flash.SetScale(L"NoScale");
    flash.SetLoop(false);
    flash.SetMenu(true);
    flash.SetFlashVars(L"");
  }
  const std::vector<std::string> expected = {
      "put 106 bool -1",
      "put 135 bool 0",
      "put 105 int 3",
      "put 170 text " + EscapeLogField(Utf8(flashVars)),
      "put 123 int 1193046",
      "put 102 text " + EscapeLogField(Utf8(movie)),
      "put 137 text NoScale",
      "put 106 bool 0",
      "put 135 bool -1",
      "put 170 text \\e",
  };
  EXPECT_EQ(Log.Only({"put", "put-malformed"}), expected);
  // The UTF-16 texts came through whole: the fake tried to open that very file.
  EXPECT_TRUE(Log.Has("load-failed " + EscapeLogField(Utf8(movie)) + " 2")) << ReadTextFile(Log.Path);
}

TEST_F(FlashHostTest, RefusedPutsAndMethodsRaise) {
  SetEnvironmentVariableA("PL_FAKEPLAYER_REFUSE", "170,106,StopPlay");
  TShockwaveFlash flash(Parent);
  try {
    flash.SetFlashVars(L"a=1");
    ADD_FAILURE() << "a refused put must raise";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.Code(), DISP_E_EXCEPTION);
  }
  EXPECT_THROW(flash.SetLoop(true), EOleError);
  EXPECT_NO_THROW(flash.SetQuality(1));
  EXPECT_NO_THROW(flash.Stop());
  try {
    flash.StopPlay();
    ADD_FAILURE() << "a failed method must raise";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.Code(), E_FAIL);
  }
  EXPECT_TRUE(Log.Has("put-refused 170"));
  EXPECT_TRUE(Log.Has("put-refused 106"));
  EXPECT_TRUE(Log.Has("put 105 int 1"));
}

TEST_F(FlashHostTest, MethodsReachTheirPlacesInTheMethodTable) {
  {
    TShockwaveFlash flash(Parent);
    flash.DisableLocalSecurity();
    flash.Stop();
    flash.StopPlay();
  }
  const std::vector<std::string> expected = {"call DisableLocalSecurity", "call Stop", "call StopPlay"};
  EXPECT_EQ(Log.Only({"call", "call-refused"}), expected);
}

TEST_F(FlashHostTest, MethodsOfAControlWithoutTheDualInterfaceRaiseWithoutCalling) {
  SetEnvironmentVariableA("PL_FAKEPLAYER_REFUSE", "IShockwaveFlash");
  TShockwaveFlash flash(Parent);
  for (auto method : {&TShockwaveFlash::Stop, &TShockwaveFlash::StopPlay, &TShockwaveFlash::DisableLocalSecurity}) {
    try {
      (flash.*method)();
      ADD_FAILURE() << "must raise";
    } catch (const EOleError& e) {
      EXPECT_EQ(e.Code(), E_NOINTERFACE);
    }
  }
  EXPECT_EQ(Log.Count("call"), 0u) << ReadTextFile(Log.Path);
  EXPECT_EQ(Log.Count("qi-refused"), 3u);
}

TEST_F(FlashHostTest, FSCommandArrivesOnTheGuiThreadWithBothTexts) {
  const std::string path = WriteMovie(Dir, "quit.swf", "quit", "\xE6\x97\xA5\xE6\x9C\xAC args");  // "日本 args"
  TShockwaveFlash flash(Parent);
  struct {
    int Calls = 0;
    TShockwaveFlash* Sender = nullptr;
    std::wstring Command, Args;
    DWORD Thread = 0;
    bool AfterControlReturned = false;
  } got;
  flash.OnFSCommand = [&](TShockwaveFlash& Sender, const std::wstring& Command, const std::wstring& Args) {
    ++got.Calls;
    got.Sender = &Sender;
    got.Command = Command;
    got.Args = Args;
    got.Thread = GetCurrentThreadId();
    // The fake logs "fired" when the event call has returned to it.
    got.AfterControlReturned = Log.Count("fired ") == 1;
  };
  flash.SetMovie(AnsiToWide(path));
  ASSERT_TRUE(PumpUntil([&] { return got.Calls > 0; })) << ReadTextFile(Log.Path);
  PumpFor(200);
  EXPECT_EQ(got.Calls, 1);
  EXPECT_EQ(got.Sender, &flash);
  EXPECT_EQ(got.Command, L"quit");
  EXPECT_EQ(got.Args, L"\u65E5\u672C args");
  EXPECT_EQ(got.Thread, GetCurrentThreadId());
  EXPECT_TRUE(got.AfterControlReturned);
  EXPECT_TRUE(Log.Has("fire quit " + EscapeLogField("\xE6\x97\xA5\xE6\x9C\xAC args")));
}

TEST_F(FlashHostTest, HandlerMayFreeTheControlThatRaisedTheEvent) {
  const std::string path = WriteMovie(Dir, "q.swf", "quit", "");
  auto flash = std::make_unique<TShockwaveFlash>(Parent);
  std::wstring args = L"unset";
  flash->OnFSCommand = [&](TShockwaveFlash&, const std::wstring&, const std::wstring& Args) {
    args = Args;
    flash.reset();
  };
  flash->SetMovie(AnsiToWide(path));
  ASSERT_TRUE(PumpUntil([&] { return !flash; })) << ReadTextFile(Log.Path);
  PumpFor(100);
  EXPECT_EQ(args, L"");
  EXPECT_TRUE(Log.Has("destroy"));
  EXPECT_EQ(FakeLiveObjects(), 0);
}

// Withholds what the test asks for, as the main form's subclass does.
class TFilteringFlash : public TShockwaveFlash {
 public:
  using TShockwaveFlash::TShockwaveFlash;
  bool SwallowTimer = false;
  UINT SwallowMessage = 0;
  int TimersSeen = 0;
  std::vector<UINT> Seen;

 protected:
  void WndProc(TFlashMessage& Message) override {
    Seen.push_back(Message.Msg);
    if (Message.Msg == WM_TIMER) ++TimersSeen;
    if ((Message.Msg == WM_TIMER && SwallowTimer) || (SwallowMessage && Message.Msg == SwallowMessage)) {
      Message.Result = 0;
      return;
    }
    TShockwaveFlash::WndProc(Message);
  }
};

TEST_F(FlashHostTest, SwallowedTimerMessagesNeverReachTheControl) {
  const std::string path = WriteMovie(Dir, "m.swf", "next", "1");
  TFilteringFlash flash(Parent);
  int commands = 0;
  flash.OnFSCommand = [&](TShockwaveFlash&, const std::wstring&, const std::wstring&) { ++commands; };
  ASSERT_TRUE(PumpUntil([&] { return Log.LastTimer() >= 2; })) << ReadTextFile(Log.Path);

  flash.SwallowTimer = true;
  const long before = Log.LastTimer();
  const int seenBefore = flash.TimersSeen;
  flash.SetMovie(AnsiToWide(path));
  PumpFor(1000);
  // The timer kept firing into our filter, but the control saw none of it:
  // its count stood still and the movie never got far enough to send.
  EXPECT_GE(flash.TimersSeen - seenBefore, 5);
  EXPECT_EQ(Log.LastTimer(), before);
  EXPECT_EQ(commands, 0);
  EXPECT_EQ(Log.Count("fire "), 0u);

  flash.SwallowTimer = false;
  ASSERT_TRUE(PumpUntil([&] { return commands == 1; })) << ReadTextFile(Log.Path);
  EXPECT_GT(Log.LastTimer(), before);
}

TEST_F(FlashHostTest, WindowProcSeesEveryMessageFirstAndMayWithholdIt) {
  TFilteringFlash flash(Parent);
  ASSERT_TRUE(flash.Handle());
  flash.SwallowMessage = WM_RBUTTONDOWN;
  PostMessageW(flash.Handle(), WM_KEYDOWN, 0x41, 0x1E0001);
  PostMessageW(flash.Handle(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 6));
  PostMessageW(flash.Handle(), WM_RBUTTONUP, 0, MAKELPARAM(5, 6));
  PostMessageW(flash.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(7, 8));
  ASSERT_TRUE(PumpUntil([&] { return Log.Has("msg lbuttondown 0x1 0x80007"); })) << ReadTextFile(Log.Path);
  EXPECT_TRUE(Log.Has("msg keydown 0x41 0x1e0001"));
  EXPECT_TRUE(Log.Has("msg rbuttonup 0x0 0x60005"));
  EXPECT_EQ(Log.Count("msg rbuttondown"), 0u);
  EXPECT_NE(std::find(flash.Seen.begin(), flash.Seen.end(), static_cast<UINT>(WM_RBUTTONDOWN)), flash.Seen.end());
  // A message sent (not posted) passes the same way.
  SendMessageW(flash.Handle(), WM_KEYUP, 0x42, 0);
  EXPECT_TRUE(Log.Has("msg keyup 0x42 0x0"));
}

RECT RectInParent(HWND Child) {
  RECT r;
  GetWindowRect(Child, &r);
  MapWindowPoints(nullptr, GetParent(Child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool SameRect(const RECT& A, const RECT& B) {
  return A.left == B.left && A.top == B.top && A.right == B.right && A.bottom == B.bottom;
}

TEST_F(FlashHostTest, ParentBoundsAlignmentAndVisibility) {
  // Created without a parent: no window yet; bounds wait for activation.
  TShockwaveFlash flash;
  EXPECT_EQ(flash.Handle(), nullptr);
  flash.SetBounds(10, 20, 200, 100);
  flash.SetParentWindow(Parent);
  ASSERT_TRUE(flash.Handle());
  EXPECT_EQ(GetParent(flash.Handle()), Parent);
  EXPECT_TRUE(SameRect(RectInParent(flash.Handle()), RECT{10, 20, 210, 120}));
  EXPECT_TRUE(Log.Has("activate " + [&] {
    char buf[64];
    std::snprintf(buf, sizeof buf, "0x%llx 0x%llx 10 20 210 120",
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(flash.Handle())),
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(Parent)));
    return std::string(buf);
  }())) << ReadTextFile(Log.Path);

  flash.SetBounds(5, 6, 50, 60);
  EXPECT_TRUE(SameRect(RectInParent(flash.Handle()), RECT{5, 6, 55, 66}));

  // Aligned: fills the client area and follows the parent's size.
  flash.AlignToParentClient();
  EXPECT_TRUE(SameRect(RectInParent(flash.Handle()), RECT{0, 0, 400, 300}));
  SetWindowPos(Parent, nullptr, 0, 0, 640, 480, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_TRUE(SameRect(RectInParent(flash.Handle()), RECT{0, 0, 640, 480}));
  // Explicit bounds end the alignment.
  flash.SetBounds(1, 2, 30, 40);
  SetWindowPos(Parent, nullptr, 0, 0, 500, 400, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_TRUE(SameRect(RectInParent(flash.Handle()), RECT{1, 2, 31, 42}));

  EXPECT_TRUE(IsWindowVisible(flash.Handle()));
  flash.Hide();
  EXPECT_FALSE(IsWindowVisible(flash.Handle()));

  // Moving to another parent carries the window along.
  HWND other = CreateHostWindow(320, 200);
  flash.AlignToParentClient();
  flash.SetParentWindow(other);
  EXPECT_EQ(GetParent(flash.Handle()), other);
  EXPECT_TRUE(SameRect(RectInParent(flash.Handle()), RECT{0, 0, 320, 200}));
  SetWindowPos(Parent, nullptr, 0, 0, 100, 100, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);  // the old parent no longer counts
  EXPECT_TRUE(SameRect(RectInParent(flash.Handle()), RECT{0, 0, 320, 200}));
  // The parent goes first, taking the control's window with it; the wrapper
  // lets go of the window and still tears down cleanly afterwards.
  DestroyWindow(other);
  EXPECT_EQ(flash.Handle(), nullptr);
}

TEST_F(FlashHostTest, TeardownReleasesEverythingInOrder) {
  HWND control = nullptr;
  {
    TShockwaveFlash flash(Parent);
    control = flash.Handle();
    ASSERT_TRUE(IsWindow(control));
  }
  EXPECT_FALSE(IsWindow(control));
  const std::vector<std::string> expected = {"site set", "advise 1",   "verb -5",     "activate", "deactivate",
                                             "unadvise 1", "close 1", "site clear", "destroy"};
  std::vector<std::string> words;
  for (const auto& e : Log.Only({"site", "advise", "verb", "activate", "deactivate", "unadvise", "close", "destroy"})) {
    const bool keepTwo = e.rfind("site", 0) == 0 || e.rfind("advise", 0) == 0 || e.rfind("unadvise", 0) == 0 ||
                         e.rfind("verb", 0) == 0 || e.rfind("close", 0) == 0;
    words.push_back(keepTwo ? e : e.substr(0, e.find(' ')));
  }
  EXPECT_EQ(words, expected);
  EXPECT_EQ(FakeLiveObjects(), 0);
}

TEST_F(FlashHostTest, FailedCreationReleasesWhatItHad) {
  SetEnvironmentVariableA("PL_FAKEPLAYER_REFUSE", "create");
  EXPECT_THROW(TShockwaveFlash flash(Parent), EOleError);
  SetEnvironmentVariableA("PL_FAKEPLAYER_REFUSE", "activate");
  try {
    TShockwaveFlash flash(Parent);
    ADD_FAILURE() << "activation was refused";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.Code(), E_FAIL);
  }
  EXPECT_EQ(FakeLiveObjects(), 0);
  EXPECT_TRUE(Log.Has("site clear"));
  EXPECT_TRUE(Log.Has("destroy"));
}

// Creates, uses and frees a control many times; handles, windows, memory
// and the fake's live objects must not grow. The fake stays loaded, since
// reloading a statically linked DLL leaks by itself.
TEST_F(FlashHostTest, RepeatedCreateAndDestroyLeavesNothingBehind) {
  SetEnvironmentVariableA("PL_FAKEPLAYER_LOG", nullptr);
  const std::string path = WriteMovie(Dir, "cycle.swf", "quit", "x");
  const std::wstring movie = AnsiToWide(path);
  int fired = 0;
  auto cycle = [&] {
    auto flash = std::make_unique<TShockwaveFlash>(Parent);
    flash->OnFSCommand = [&](TShockwaveFlash&, const std::wstring&, const std::wstring&) { ++fired; };
    flash->AlignToParentClient();
    flash->SetLoop(true);
    flash->SetMenu(false);
    flash->SetQuality(1);
    flash->SetFlashVars(L"plumexmode=normal");
    flash->SetBackgroundColor(0);
    flash->DisableLocalSecurity();
    flash->SetMovie(movie);
    flash->SetScale(L"ShowAll");
    const int before = fired;
    PumpUntil([&] { return fired > before; }, 5000);
    flash->Stop();
    flash->StopPlay();
    flash->Hide();
    flash.reset();
    PumpFor(0);
  };
  for (int i = 0; i < 5; ++i) cycle();
  const size_t handles = CountProcessHandles();
  const size_t windows = CountProcessWindows();
  const size_t memory = CommittedPrivateBytes();
  ASSERT_GT(handles, 0u);
  ASSERT_GT(memory, 0u);
  for (int i = 0; i < 100; ++i) cycle();
  EXPECT_EQ(fired, 105);
  EXPECT_EQ(FakeLiveObjects(), 0);
  EXPECT_EQ(CountProcessWindows(), windows);
  EXPECT_LE(CountProcessHandles(), handles + 2);
  const size_t after = CommittedPrivateBytes();
  std::printf("handles %zu -> %zu, windows %zu, private %zu -> %zu\n", handles, CountProcessHandles(), windows, memory,
              after);
  EXPECT_LE(after, memory + 64 * 1024);
}

}  // namespace
