// The settings dialog as a real window under Wine: layout read back from the
// windows, a screenshot, real keys and clicks through xdotool, the link
// starting the fake browser.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "dialog/browser.h"
#include "dialog/dialog_win32.h"
#include "dialog/text_format.h"
#include "tests/dialog/launch_support_win32.h"
#include "tests/support/message_pump_win32.h"
#include "tests/support/process_win32.h"
#include "tests/support/xdotool_win32.h"
#include "util/raii_win32.h"

namespace {

const UINT kRunOnGui = WM_APP + 77;

// A 24-bit bottom-up BMP file of one colour (r, g, b).
std::vector<uint8_t> SolidBmp(int W, int H, uint8_t R, uint8_t G, uint8_t B) {
  const int stride = (W * 3 + 3) & ~3;
  const uint32_t dataSize = static_cast<uint32_t>(stride * H), fileSize = 54 + dataSize;
  std::vector<uint8_t> f(fileSize, 0);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&f[at], &v, 4); };
  auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&f[at], &v, 2); };
  f[0] = 'B';
  f[1] = 'M';
  put32(2, fileSize);
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(W));
  put32(22, static_cast<uint32_t>(H));
  put16(26, 1);
  put16(28, 24);
  put32(34, dataSize);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      uint8_t* p = &f[54 + y * stride + x * 3];
      p[0] = B;
      p[1] = G;
      p[2] = R;
    }
  return f;
}

// Where a child window sits in its parent's client area.
RECT ChildRect(HWND Child) {
  RECT r;
  GetWindowRect(Child, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(Child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

POINT ScreenCentre(HWND Wnd) {
  RECT r;
  GetWindowRect(Wnd, &r);
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// Moves the pointer and waits until Windows has it there.
void PointAt(POINT P) { EXPECT_TRUE(MovePointer(P.x, P.y)) << P.x << "," << P.y; }

// Key releases taken from the GUI thread's queue: once a combination's last
// release is taken, everything it pressed has been handled.
std::atomic<int> gKeyUps{0};
LRESULT CALLBACK CountKeyUps(int Code, WPARAM WParam, LPARAM LParam) noexcept {
  const MSG* msg = reinterpret_cast<const MSG*>(LParam);
  if (Code == HC_ACTION && WParam == PM_REMOVE && (msg->message == WM_KEYUP || msg->message == WM_SYSKEYUP))
    ++gKeyUps;
  return CallNextHookEx(nullptr, Code, WParam, LParam);
}

// Types a key combination ("Return", "alt+c") that leaves the dialog open,
// and waits until the dialog's thread has taken all of it. (Keys that close
// the dialog are followed by no message loop to take their releases: the
// caller waits for the dialog to go instead.)
void PressKeys(const std::string& Keys) {
  const int keys = 1 + static_cast<int>(std::count(Keys.begin(), Keys.end(), '+'));
  const int before = gKeyUps;
  Xdotool("key " + Keys);
  EXPECT_TRUE(PumpUntil([&] { return gKeyUps >= before + keys; })) << Keys;
}

// A binary PPM screenshot: its size and pixels (r, g, b).
struct TShot {
  int Width = 0, Height = 0;
  std::string Pixels;
  uint32_t At(int X, int Y) const {
    const size_t i = (static_cast<size_t>(Y) * Width + X) * 3;
    return (uint8_t(Pixels[i]) << 16) | (uint8_t(Pixels[i + 1]) << 8) | uint8_t(Pixels[i + 2]);
  }
};

TShot ReadPpm(const std::string& Path) {
  TShot shot;
  const std::string f = ReadTextFile(Path);
  size_t p = 0;
  auto token = [&]() {
    while (p < f.size() && isspace(static_cast<unsigned char>(f[p]))) ++p;
    const size_t b = p;
    while (p < f.size() && !isspace(static_cast<unsigned char>(f[p]))) ++p;
    return f.substr(b, p - b);
  };
  if (token() != "P6") return shot;
  shot.Width = std::stoi(token());
  shot.Height = std::stoi(token());
  token();  // maximum value
  ++p;      // the single blank before the pixels
  shot.Pixels = f.substr(p);
  if (shot.Pixels.size() != static_cast<size_t>(shot.Width) * shot.Height * 3) shot = {};
  return shot;
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetBrowserRegistry();
    App = std::make_unique<TApplication>();
    App->Initialize();
    App->OnException = [this](TComponent*, std::exception_ptr E) {
      try {
        std::rethrow_exception(E);
      } catch (const EURLDecodeError& X) {
        Errors.push_back(Utf16ToUtf8(X.Message()));
      } catch (const std::exception& X) {
        Errors.push_back(X.what());
      }
    };
    // The program's main form comes first, as in the saver; the dialog is
    // created without owner.
    MainForm = CreateForm<TForm>(App.get());
    frmDialog = CreateForm<TfrmDialog>(nullptr);
    KeyHook.Reset(SetWindowsHookExW(WH_GETMESSAGE, CountKeyUps, nullptr, GetCurrentThreadId()));
    frmDialog->lblCopyright->OnMouseUp = [this](TComponent*, TMouseButton, int, int) { ++MouseUps; };
    frmDialog->imgImage->OnMouseUp = [this](TComponent*, TMouseButton, int, int) { ++MouseUps; };
    // Lets the input thread run code on the GUI thread.
    TWndMethod saved = frmDialog->WindowProc;
    frmDialog->WindowProc = [saved](TMessage& M) {
      if (M.Msg == kRunOnGui) {
        (*reinterpret_cast<std::function<void()>*>(M.LParam))();
        return;
      }
      saved(M);
    };
  }
  void TearDown() override {
    App.reset();
    ResetBrowserRegistry();
  }

  static void OnGui(HWND Wnd, std::function<void()> Fn) {
    SendMessageW(Wnd, kRunOnGui, 0, reinterpret_cast<LPARAM>(&Fn));
  }
  // Polls Pred on the GUI thread until it holds.
  static bool WaitOnGui(HWND Wnd, const std::function<bool()>& Pred) {
    return PumpUntil([&] {
      bool holds = false;
      OnGui(Wnd, [&] { holds = Pred(); });
      return holds;
    });
  }
  // Clicks at P and waits until the control under it has had the release.
  void ClickAt(HWND Wnd, POINT P) {
    PointAt(P);
    int before = 0;
    OnGui(Wnd, [&] { before = MouseUps; });
    Xdotool("click 1");
    EXPECT_TRUE(WaitOnGui(Wnd, [&] { return MouseUps > before; }));
  }

  // Shows the dialog modally while Script drives it from a second thread.
  // A dialog still open after the script is closed (mrCancel).
  TModalResult RunModal(const std::function<void(HWND)>& Script) {
    const HWND wnd = frmDialog->Handle();
    std::thread driver([&] {
      if (PumpUntil([&] { return IsWindowVisible(wnd) != FALSE; })) {
        Sleep(200);
        // No window manager gives the dialog the X focus: keys go to the
        // window under the pointer, so it starts inside the dialog (on the
        // form itself, away from the controls).
        POINT inside{1, 1};
        ClientToScreen(wnd, &inside);
        PointAt(inside);
        Script(wnd);
      }
      if (!PumpUntil([&] { return !IsWindowVisible(wnd); }, 3000)) PostMessageW(wnd, WM_CLOSE, 0, 0);
    });
    const TModalResult result = frmDialog->ShowModal();
    driver.join();
    // The releases of a closing key are still on their way: take them here,
    // not in the next dialog.
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 300) {
      App->ProcessMessages();
      Sleep(10);
    }
    return result;
  }

  std::unique_ptr<TApplication> App;
  TForm* MainForm = nullptr;
  TUniqueHook KeyHook;
  int MouseUps = 0;  // on the label and the picture, counted on the GUI thread
  std::vector<std::string> Errors;
};

}  // namespace

TEST_F(DialogTest, CreatedWithItsDesignTextsFontAndFrame) {
  const HWND wnd = frmDialog->Handle();
  EXPECT_EQ(frmDialog->Name(), "frmDialog");
  wchar_t text[64];
  GetWindowTextW(wnd, text, 64);
  EXPECT_EQ(std::wstring(text), L"plu:mex ScreenSaver");
  GetWindowTextW(frmDialog->btnClose->Handle(), text, 64);
  EXPECT_EQ(std::wstring(text), WideText(u"閉じる(&C)"));
  EXPECT_EQ(frmDialog->lblCopyright->CaptionW(), L"");  // cleared by FormCreate
  EXPECT_EQ(frmDialog->Font().Name(), WideText(u"ＭＳ Ｐゴシック"));
  EXPECT_EQ(frmDialog->Font().Height(), -12);
  EXPECT_EQ(frmDialog->Font().Charset(), SHIFTJIS_CHARSET);
  EXPECT_EQ(frmDialog->lblCopyright->Font().Color(), clBlack);
  EXPECT_FALSE(frmDialog->lblCopyright->ParentFont());
  // A dialog frame without system menu or close box.
  const LONG_PTR style = GetWindowLongPtrW(wnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_FALSE(style & WS_SYSMENU);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_TRUE(GetWindowLongPtrW(wnd, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
  EXPECT_TRUE(GetWindowLongPtrW(frmDialog->btnClose->Handle(), GWL_STYLE) & BS_DEFPUSHBUTTON);
  // This program carries the saver's manifest, so the button is the Common
  // Controls 6 one that the saver shows: only that one measures itself.
  SIZE ideal{};
  EXPECT_TRUE(SendMessageW(frmDialog->btnClose->Handle(), BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)));
  EXPECT_GT(ideal.cx, 0);
}

TEST_F(DialogTest, EmptyDialogLayoutAndCentring) {
  const TModalResult result = RunModal([&](HWND Wnd) {
    RECT client;
    GetClientRect(Wnd, &client);
    EXPECT_EQ(client.right, 116);
    EXPECT_EQ(client.bottom, 133);
    const RECT picture = ChildRect(frmDialog->imgImage->Handle());
    EXPECT_EQ(picture.left, 5);
    EXPECT_EQ(picture.top, 0);
    EXPECT_EQ(picture.right - picture.left, 105);
    const RECT button = ChildRect(frmDialog->btnClose->Handle());
    EXPECT_EQ(button.left, 8);
    EXPECT_EQ(button.top, 109);
    EXPECT_FALSE(IsWindowVisible(frmDialog->lblCopyright->Handle()));
    // Centred in the work area of the main form's monitor.
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromWindow(MainForm->Handle(), MONITOR_DEFAULTTONEAREST), &info);
    RECT window;
    GetWindowRect(Wnd, &window);
    const RECT& a = info.rcWork;
    EXPECT_EQ(window.left, a.left + (a.right - a.left - (window.right - window.left)) / 2);
    EXPECT_EQ(window.top, a.top + (a.bottom - a.top - (window.bottom - window.top)) / 2);
    Xdotool("key Return");
  });
  EXPECT_EQ(result, mrOk);
}

TEST_F(DialogTest, PictureLabelAndButtonShowAsLaidOutAndOnScreen) {
  const std::vector<uint8_t> bmp = SolidBmp(200, 100, 255, 0, 0);
  frmDialog->imgImage->LoadFromBytes(bmp.data(), bmp.size());
  // The "&" is shown as written, not taken as an accelerator.
  const std::wstring caption = L"(C) 2006 plu:mex & friends";
  frmDialog->lblCopyright->SetCaption(caption);
  const std::string shotHost = HostBinaryDir() + "/tests/dialog/dialog-shot.ppm";
  const std::string shot = HostToWindowsPath(shotHost);
  DeleteFileA(shot.c_str());

  RunModal([&](HWND Wnd) {
    RECT client, window;
    GetClientRect(Wnd, &client);
    GetWindowRect(Wnd, &window);
    const RECT label = ChildRect(frmDialog->lblCopyright->Handle());
    const RECT button = ChildRect(frmDialog->btnClose->Handle());
    const int labelW = label.right - label.left, labelH = label.bottom - label.top;
    SIZE text{};
    OnGui(Wnd, [&] {
      const TWindowDC screen(nullptr);
      const TSelectObject font(screen.Get(), frmDialog->lblCopyright->Font().Handle());
      GetTextExtentPoint32W(screen.Get(), caption.c_str(), static_cast<int>(caption.size()), &text);
    });
    EXPECT_EQ(labelW, text.cx);
    EXPECT_EQ(labelH, text.cy);
    ASSERT_LT(labelW, 184) << "a font without the dialog's glyphs?";
    EXPECT_EQ(client.right, 200);
    EXPECT_EQ(ChildRect(frmDialog->imgImage->Handle()).bottom, 100);
    EXPECT_EQ(label.left, (200 - labelW) / 2);
    EXPECT_EQ(label.top, 104);
    EXPECT_EQ(button.left, 50);
    EXPECT_EQ(button.top, 104 + labelH + 4);
    EXPECT_EQ(client.bottom, button.bottom + 4);

    // What the screen shows: the dialog's size, and the red picture at the
    // top of its client area.
    const int w = window.right - window.left, h = window.bottom - window.top;
    const std::string geometry = std::to_string(w) + "x" + std::to_string(h) + "+" + std::to_string(window.left) +
                                 "+" + std::to_string(window.top);
    ASSERT_TRUE(StartProcess("/usr/bin/import -window root -depth 8 -crop " + geometry + " " + shotHost));
    TShot s;
    EXPECT_TRUE(PumpUntil([&] {
      s = ReadPpm(shot);
      return s.Width != 0;
    }));
    ASSERT_EQ(s.Width, w);
    ASSERT_EQ(s.Height, h);
    POINT origin{0, 0};
    ClientToScreen(Wnd, &origin);
    const int cx = origin.x - window.left, cy = origin.y - window.top;
    EXPECT_EQ(s.At(cx + 100, cy + 50), 0xFF0000u);
    EXPECT_EQ(s.At(cx + 1, cy + 99), 0xFF0000u);
    EXPECT_NE(s.At(cx + 100, cy + 101), 0xFF0000u);  // the gap under the picture
    Xdotool("key Escape");
  });
}

TEST_F(DialogTest, HiddenCloseButtonEndsTheDialogAtTheLastControlAndIgnoresKeys) {
  frmDialog->lblCopyright->SetCaption(std::string("copyright"));
  frmDialog->btnClose->SetVisible(false);
  const TModalResult result = RunModal([&](HWND Wnd) {
    RECT client;
    GetClientRect(Wnd, &client);
    const RECT label = ChildRect(frmDialog->lblCopyright->Handle());
    EXPECT_EQ(client.bottom, label.bottom);
    EXPECT_EQ(client.right, std::max<LONG>(105, label.right - label.left + 16));
    for (const char* keys : {"Return", "Escape", "alt+c"}) {
      PressKeys(keys);
      // Closed by the key, the dialog's thread has left its loop: nothing
      // more may be sent to it.
      ASSERT_TRUE(IsWindowVisible(Wnd)) << keys;
    }
    OnGui(Wnd, [] { frmDialog->SetModalResult(7); });  // ended by the test instead
  });
  EXPECT_EQ(result, 7);
}

TEST_F(DialogTest, EnterEscAndAltCCloseThroughTheButton) {
  for (const char* keys : {"Return", "Escape", "alt+c", "alt+shift+c"}) {
    int clicks = 0;
    frmDialog->btnClose->OnClick = [&](TComponent*) { ++clicks; };
    EXPECT_EQ(RunModal([&](HWND) { Xdotool(std::string("key ") + keys); }), mrOk) << keys;
    EXPECT_EQ(clicks, 1) << keys;
  }
  // Disabled, the button takes no key; with Shift or Ctrl held, neither.
  frmDialog->btnClose->SetEnabled(false);
  EXPECT_EQ(RunModal([&](HWND Wnd) {
              PressKeys("Return");
              PressKeys("alt+c");
              EXPECT_TRUE(IsWindowVisible(Wnd));
              OnGui(Wnd, [] { frmDialog->btnClose->SetEnabled(true); });
              PressKeys("shift+Return");
              PressKeys("ctrl+Escape");
              PressKeys("ctrl+alt+c");
              EXPECT_TRUE(IsWindowVisible(Wnd));
              Xdotool("key Escape");
            }),
            mrOk);
}

TEST_F(DialogTest, ClickingTheLinkStartsTheRegisteredBrowser) {
  const TFakeBrowser fake = PrepareFakeBrowser();
  RegisterStartMenuBrowser("\"" + fake.Path + "\" -osint -url \"%1\"");
  frmDialog->lblCopyright->SetCaption(std::string("plu:mex"));
  frmDialog->lblCopyright->SetURL("www.example.com/saver");
  TSimpleWebLabelEx* const label = frmDialog->lblCopyright;
  RunModal([&](HWND Wnd) {
    PointAt(ScreenCentre(label->Handle()));
    // Hovering a link: hand, blue, underlined.
    EXPECT_TRUE(WaitOnGui(Wnd, [&] { return label->Cursor() == crHandPoint; }));
    OnGui(Wnd, [&] {
      EXPECT_EQ(label->Font().Color(), clBlue);
      EXPECT_EQ(label->Font().Style(), fsUnderline);
      EXPECT_EQ(frmDialog->imgImage->Cursor(), crHandPoint);
    });
    Xdotool("mousedown 1");
    EXPECT_TRUE(WaitOnGui(Wnd, [&] { return label->Font().Color() == clRed; }));
    Xdotool("mouseup 1");
    EXPECT_EQ(WaitForLines(fake.Log), "\"" + fake.Path + "\" http://www.example.com/saver\n");
    EXPECT_TRUE(WaitOnGui(Wnd, [&] { return label->Font().Color() == clBlack; }));
    // Onto the dialog beside the label: plain again.
    POINT beside{2, label->Top() + 2};
    ClientToScreen(Wnd, &beside);
    PointAt(beside);
    EXPECT_TRUE(WaitOnGui(Wnd, [&] { return label->Cursor() == crDefault; }));
    OnGui(Wnd, [&] {
      EXPECT_EQ(label->Font().Style(), 0);
      EXPECT_EQ(label->Font().Color(), clBlack);
    });
    // Pressed on the label, dragged off and back with the button held.
    PointAt(ScreenCentre(label->Handle()));
    Xdotool("mousedown 1");
    EXPECT_TRUE(WaitOnGui(Wnd, [&] { return label->Font().Color() == clRed; }));
    PointAt(beside);
    EXPECT_TRUE(WaitOnGui(Wnd, [&] { return label->Font().Color() == clBlack; }));
    PointAt(ScreenCentre(label->Handle()));
    EXPECT_TRUE(WaitOnGui(Wnd, [&] { return label->Font().Color() == clRed && label->Cursor() == crHandPoint; }));
    PointAt(beside);
    EXPECT_TRUE(WaitOnGui(Wnd, [&] { return label->Cursor() == crDefault; }));
    Xdotool("mouseup 1");  // released off the label: no click
    // The picture is a link too.
    DeleteFileA(fake.Log.c_str());
    ClickAt(Wnd, ScreenCentre(frmDialog->imgImage->Handle()));
    EXPECT_EQ(WaitForLines(fake.Log), "\"" + fake.Path + "\" http://www.example.com/saver\n");
    Xdotool("key Return");
  });
  // An address without a copyright line: no label row, and the picture,
  // with the hand cursor, still opens the address.
  label->SetCaption(std::string());
  DeleteFileA(fake.Log.c_str());
  RunModal([&](HWND Wnd) {
    OnGui(Wnd, [&] {
      EXPECT_FALSE(label->Visible());
      EXPECT_EQ(frmDialog->imgImage->Cursor(), crHandPoint);
    });
    ClickAt(Wnd, ScreenCentre(frmDialog->imgImage->Handle()));
    EXPECT_EQ(WaitForLines(fake.Log), "\"" + fake.Path + "\" http://www.example.com/saver\n");
    Xdotool("key Return");
  });
  EXPECT_TRUE(Errors.empty());
}

TEST_F(DialogTest, PlainTextLabelOpensNothingAndKeepsTheDefaultCursor) {
  const TRecordedLaunches launches;
  frmDialog->lblCopyright->SetCaption(std::string("http://looks.like/a/link"));
  RunModal([&](HWND Wnd) {
    ClickAt(Wnd, ScreenCentre(frmDialog->lblCopyright->Handle()));
    ClickAt(Wnd, ScreenCentre(frmDialog->imgImage->Handle()));
    OnGui(Wnd, [&] {
      EXPECT_EQ(frmDialog->lblCopyright->Font().Color(), clBlack);
      EXPECT_EQ(frmDialog->lblCopyright->Font().Style(), 0);
      EXPECT_EQ(frmDialog->imgImage->Cursor(), crDefault);
    });
    Xdotool("key Return");
  });
  // A click opens its address before the release reaches the handlers that
  // ClickAt waits for.
  EXPECT_TRUE(launches.Calls().empty());
}

TEST_F(DialogTest, FailedLaunchesShowNoMessageBox) {
  // What the browser program and explorer would be asked is recorded, not
  // run: Wine's explorer, given an address it cannot open, keeps running.
  const TRecordedLaunches launches;
  frmDialog->lblCopyright->SetCaption(std::string("link"));
  RunModal([&](HWND Wnd) {
    const int windows = CountVisibleTopLevelWindows();
    const POINT label = ScreenCentre(frmDialog->lblCopyright->Handle());
    // A registered browser that is gone: WinExec fails, nothing else runs.
    RegisterStartMenuBrowser("\"C:\\gone\\browser.exe\" %1");
    OnGui(Wnd, [] { frmDialog->lblCopyright->SetURL("http://example.com/gone"); });
    ClickAt(Wnd, label);
    // A malformed address: an error to the application's sink, no launch.
    OnGui(Wnd, [] { frmDialog->lblCopyright->SetURL("http://example.com/%zz"); });
    ClickAt(Wnd, label);
    // No browser and an address nobody opens: the shell, then explorer.
    ResetBrowserRegistry();
    OnGui(Wnd, [] { frmDialog->lblCopyright->SetURL("plunknown:thing"); });
    ClickAt(Wnd, label);
    // Each launch ended before its click's release was handled: whatever
    // they might show would be up by now.
    EXPECT_EQ(CountVisibleTopLevelWindows(), windows);
    Xdotool("key Return");
  });
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_EQ(Errors[0], "URL 表記エンコードでは許されない文字 (%zz)：位置 - 15");
  EXPECT_EQ(launches.Calls(), (std::vector<std::string>{"exec \"C:\\gone\\browser.exe\" http://example.com/gone",
                                                       "shell plunknown:thing", "exec explorer plunknown:thing"}));
  EXPECT_EQ(ReadTextFile(WineBrowserLog()), "");
}

TEST_F(DialogTest, ClickWithoutABrowserGoesThroughWinesShell) {
  frmDialog->lblCopyright->SetCaption(std::string("link"));
  frmDialog->lblCopyright->SetURL("example.com/through-the-shell");
  RunModal([&](HWND Wnd) {
    ClickAt(Wnd, ScreenCentre(frmDialog->lblCopyright->Handle()));
    EXPECT_EQ(WaitForLines(WineBrowserLog()), "http://example.com/through-the-shell\n");
    Xdotool("key Return");
  });
}

TEST_F(DialogTest, OnClickHandlerReplacesTheLaunch) {
  const TRecordedLaunches launches;
  frmDialog->lblCopyright->SetCaption(std::string("link"));
  frmDialog->lblCopyright->SetURL("http://example.com/");
  int handled = 0;
  frmDialog->lblCopyright->OnClick = [&](TComponent*) { ++handled; };
  RunModal([&](HWND Wnd) {
    ClickAt(Wnd, ScreenCentre(frmDialog->lblCopyright->Handle()));
    Xdotool("key Return");
  });
  EXPECT_EQ(handled, 1);
  EXPECT_TRUE(launches.Calls().empty());
}

TEST_F(DialogTest, OversizedPictureIsStretchedToFitTheScreen) {
  const std::vector<uint8_t> bmp = SolidBmp(4000, 500, 0, 128, 0);
  frmDialog->imgImage->LoadFromBytes(bmp.data(), bmp.size());
  RunModal([&](HWND Wnd) {
    RECT window, client;
    GetWindowRect(Wnd, &window);
    GetClientRect(Wnd, &client);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromWindow(Wnd, MONITOR_DEFAULTTONEAREST), &info);
    const int frameW = (window.right - window.left) - client.right;
    const int areaW = info.rcWork.right - info.rcWork.left;
    const RECT picture = ChildRect(frmDialog->imgImage->Handle());
    EXPECT_EQ(picture.right - picture.left, areaW - frameW);
    EXPECT_EQ(picture.bottom - picture.top, 500 * (areaW - frameW) / 4000);
    EXPECT_LE(window.right - window.left, areaW);
    EXPECT_GE(window.left, info.rcWork.left);
    OnGui(Wnd, [] {
      EXPECT_FALSE(frmDialog->imgImage->AutoSize());
      EXPECT_TRUE(frmDialog->imgImage->Stretch());
    });
    Xdotool("key Return");
  });
}

TEST_F(DialogTest, UnreadableBitmapLeavesTheDesignPicture) {
  const uint8_t junk[] = {'B', 'M', 1, 2, 3};
  EXPECT_THROW(frmDialog->imgImage->LoadFromBytes(junk, sizeof junk), EInvalidGraphic);
  EXPECT_EQ(frmDialog->imgImage->Width(), 105);
  EXPECT_EQ(frmDialog->imgImage->Height(), 105);
}

TEST_F(DialogTest, GlobalFollowsTheDialogsLife) {
  ASSERT_NE(frmDialog, nullptr);
  frmDialog->Free();
  EXPECT_EQ(frmDialog, nullptr);
}
