// Controls with real input, the message timer, bitmaps and canvases.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/forms_win32.h"
#include "framework/timer_win32.h"
#include "tests/framework/support_win32.h"

namespace {

// A 24-bit bottom-up BMP of W x H whose pixel (x, y) is Colour(x, y).
template <typename F>
std::vector<uint8_t> MakeBmp(int W, int H, F Colour) {
  const int stride = (W * 3 + 3) & ~3;
  std::vector<uint8_t> b(54 + stride * H, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
  };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, static_cast<uint32_t>(b.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, W);
  put32(22, H);
  b[26] = 1;
  b[28] = 24;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const COLORREF c = Colour(x, y);
      uint8_t* p = &b[54 + (H - 1 - y) * stride + 3 * x];
      p[0] = GetBValue(c);
      p[1] = GetGValue(c);
      p[2] = GetRValue(c);
    }
  return b;
}

// Each handler made by ClearOnFirstCall clears its own event while it runs
// and then notes whether it is still alive: its closure holds the only
// token left in the event, so a handler called straight from the event
// dies at the clear, and one called through a copy does not.
std::vector<std::weak_ptr<int>> gTokens;
std::vector<bool> gAliveAfterClear;

template <typename E>
void ClearOnFirstCall(E& Event) {
  auto token = std::make_shared<int>(0);
  const size_t index = gTokens.size();
  gTokens.push_back(token);
  Event = [token, index, &Event](auto&&...) {
    const size_t me = index;  // the closure may be gone after the next line
    Event = nullptr;
    gAliveAfterClear.push_back(!gTokens[me].expired());
  };
}

COLORREF Quadrants(int X, int Y) {
  return X < 2 ? (Y < 2 ? RGB(255, 0, 0) : RGB(0, 255, 0)) : (Y < 2 ? RGB(0, 0, 255) : RGB(255, 255, 0));
}

// A dialog that swallows key presses aimed at any of its windows.
class TKeyDialog : public TTestForm {
 public:
  using TTestForm::TTestForm;
  bool PreProcessMessage(MSG& Msg) override {
    if (Msg.message != WM_KEYDOWN) return false;
    ++KeysTaken;
    return true;
  }
  int KeysTaken = 0;
};

}  // namespace

TEST_F(FrameworkTest, MessageTimerTicksOnTheGuiThreadWhileEnabled) {
  App->CreateForm<TTestForm>("frmMain");
  App->SetShowMainForm(false);
  int ticks = 0, idleTicks = 0;
  auto* timer = new TMessageTimer(App.get());
  auto* disabled = new TMessageTimer(App.get());
  auto* zero = new TMessageTimer(App.get());
  disabled->SetEnabled(false);
  disabled->SetInterval(10);
  disabled->SetOnTimer([&](TComponent*) { ++idleTicks; });
  zero->SetInterval(0);
  zero->SetOnTimer([&](TComponent*) { ++idleTicks; });
  const DWORD gui = GetCurrentThreadId();
  bool otherThread = false;
  timer->SetInterval(15);
  timer->SetOnTimer([&](TComponent* Sender) {
    otherThread |= GetCurrentThreadId() != gui || Sender != timer;
    if (++ticks == 2) throw std::runtime_error("in OnTimer");
    if (ticks == 4) {
      timer->SetEnabled(false);
      App->Terminate();
    }
  });
  App->Run();
  EXPECT_EQ(ticks, 4);
  EXPECT_EQ(idleTicks, 0);
  EXPECT_FALSE(otherThread);
  EXPECT_EQ(Errors, (std::vector<std::string>{"in OnTimer"}));

  // A timer may end itself from its own tick.
  Restart();
  App->CreateForm<TTestForm>("frmMain");
  TMessageTimer* once = new TMessageTimer(App.get());
  once->SetInterval(10);
  int onceTicks = 0;
  once->SetOnTimer([&](TComponent*) {
    ++onceTicks;
    once->Free();
    once = nullptr;
  });
  EXPECT_TRUE(PumpUntil([&] { return once == nullptr; }));
  EXPECT_EQ(onceTicks, 1);
  EXPECT_EQ(App->ComponentCount(), 1);  // the form only
}

TEST_F(FrameworkTest, ControlsFollowRealMouseInput) {
  auto* form = App->CreateForm<TTestForm>("frmMain");
  form->SetBorderStyle(bsNone);
  form->SetBounds(100, 600, 300, 200);
  auto* control = new TControl(form);
  control->SetParent(form);
  control->SetBounds(50, 40, 100, 60);
  control->SetCursor(crHandPoint);
  std::vector<std::string> log;
  control->OnMouseEnter = [&](TComponent*) { log.push_back("enter"); };
  control->OnMouseLeave = [&](TComponent*) { log.push_back("leave"); };
  control->OnClick = [&](TComponent*) { log.push_back("click"); };
  control->OnMouseDown = [&](TComponent*, TMouseButton B, int X, int Y) {
    log.push_back("down " + std::to_string(static_cast<int>(B)) + " " + std::to_string(X) + "," + std::to_string(Y));
  };
  control->OnMouseUp = [&](TComponent*, TMouseButton B, int, int) {
    log.push_back("up " + std::to_string(static_cast<int>(B)));
  };
  form->Show();
  ASSERT_TRUE(MovePointer(10, 10));
  PumpFor(200);
  log.clear();

  // Bounds are in the parent's client area.
  RECT r{};
  GetWindowRect(control->Handle(), &r);
  EXPECT_EQ(r.left, 150);
  EXPECT_EQ(r.top, 640);

  ASSERT_TRUE(MovePointer(160, 650));
  EXPECT_TRUE(PumpUntil([&] { return !log.empty(); }));
  EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, IDC_HAND));
  Xdotool("click 1");
  EXPECT_TRUE(PumpUntil([&] { return log.size() >= 4; }));
  ASSERT_TRUE(MovePointer(20, 20));
  EXPECT_TRUE(PumpUntil([&] { return log.size() >= 5; }));
  EXPECT_EQ(log, (std::vector<std::string>{"enter", "down 0 10,10", "click", "up 0", "leave"}));

  // Pressed inside, released outside: the control keeps the mouse until
  // the release, which is no click.
  ASSERT_TRUE(MovePointer(170, 660));
  log.clear();
  Xdotool("mousedown 1");
  EXPECT_TRUE(PumpUntil([&] { return !log.empty() && log.back().rfind("down", 0) == 0; }));
  EXPECT_EQ(GetCapture(), control->Handle());
  ASSERT_TRUE(MovePointer(30, 30));
  Xdotool("mouseup 1");
  EXPECT_TRUE(PumpUntil([&] { return !log.empty() && log.back() == "up 0"; }));
  EXPECT_EQ(std::count(log.begin(), log.end(), "click"), 0);
  EXPECT_EQ(GetCapture(), nullptr);

  // Following the pointer out of a window polls for as long as it stays
  // inside, so a control that nobody asks about its coming and going does
  // not do it; the one with listeners does.
  auto* silent = new TControl(form);
  silent->SetParent(form);
  silent->SetBounds(200, 40, 60, 60);
  silent->OnMouseDown = [&](TComponent*, TMouseButton, int, int) { log.push_back("silent down"); };
  auto tracked = [] {
    TRACKMOUSEEVENT query{sizeof query, TME_QUERY, nullptr, 0};
    return TrackMouseEvent(&query) && (query.dwFlags & TME_LEAVE) ? query.hwndTrack : nullptr;
  };
  ASSERT_TRUE(MovePointer(160, 650));
  EXPECT_TRUE(PumpUntil([&] { return tracked() == control->Handle(); }));
  ASSERT_TRUE(MovePointer(310, 650));
  Xdotool("click 1");
  EXPECT_TRUE(PumpUntil([&] { return !log.empty() && log.back() == "silent down"; }));
  EXPECT_NE(tracked(), silent->Handle());

  // Every event may clear itself while its handler runs.
  gAliveAfterClear.clear();
  ClearOnFirstCall(silent->OnMouseEnter);
  ClearOnFirstCall(silent->OnMouseDown);
  ClearOnFirstCall(silent->OnClick);
  ClearOnFirstCall(silent->OnMouseUp);
  ClearOnFirstCall(silent->OnMouseLeave);
  const LPARAM inside = MAKELPARAM(5, 5);
  silent->Perform(WM_MOUSEMOVE, 0, inside);
  silent->Perform(WM_LBUTTONDOWN, MK_LBUTTON, inside);
  silent->Perform(WM_LBUTTONUP, 0, inside);
  silent->Perform(WM_MOUSELEAVE);
  EXPECT_EQ(gAliveAfterClear, std::vector<bool>(5, true));
  EXPECT_FALSE(silent->OnMouseEnter || silent->OnMouseDown || silent->OnClick || silent->OnMouseUp ||
               silent->OnMouseLeave);
}

TEST_F(FrameworkTest, ModalDialogEndsByARealClickOnItsControl) {
  auto* main = App->CreateForm<TTestForm>("frmMain");
  main->SetBounds(0, 0, 100, 100);
  main->Show();
  auto* dialog = CreateForm<TTestForm>(nullptr, "frmDialog");
  dialog->SetBorderStyle(bsDialog);
  dialog->SetBounds(400, 300, 240, 160);
  auto* button = new TControl(dialog);
  button->SetParent(dialog);
  button->SetBounds(20, 20, 120, 40);
  button->OnClick = [&](TComponent*) { dialog->SetModalResult(mrOk); };
  HWND activeDuring = nullptr;
  // Click once the dialog shows, from inside its modal loop.
  auto* clicker = new TMessageTimer(dialog);
  clicker->SetInterval(50);
  clicker->SetOnTimer([&](TComponent*) {
    if (!IsWindowVisible(dialog->Handle())) return;
    clicker->SetEnabled(false);
    activeDuring = App->ActiveFormHandle();
    const POINT c = CentreOf(button->Handle());
    Xdotool("mousemove " + std::to_string(c.x) + " " + std::to_string(c.y) + " click 1");
  });
  EXPECT_EQ(dialog->ShowModal(), mrOk);
  EXPECT_EQ(activeDuring, dialog->Handle());
  EXPECT_FALSE(IsWindowVisible(dialog->Handle()));
  EXPECT_TRUE(IsWindowEnabled(main->Handle()));
}

TEST_F(FrameworkTest, ReleaseFreesTheFormAfterItsOwnHandler) {
  auto* main = App->CreateForm<TTestForm>("frmMain");
  auto* form = App->CreateForm<TTestForm>("frmGone");
  bool destroyed = false;
  form->OnDestroy = [&](TComponent*) { destroyed = true; };
  form->OnUserMessage = [&](TMessage&) {
    form->Release();
    form->SetCaption(std::string("still alive"));  // the form lives until the handler is done
  };
  SendMessageW(form->Handle(), WM_USER, 0, 0);
  EXPECT_FALSE(destroyed);
  EXPECT_TRUE(PumpUntil([&] { return destroyed; }));
  EXPECT_EQ(App->Forms(), (std::vector<TForm*>{main}));
}

TEST_F(FrameworkTest, ChildrenFollowTheParentsFontAndColour) {
  auto* form = App->CreateForm<TKeyDialog>("frmDialog");
  auto* child = new TControl(form);
  child->SetParent(form);
  auto* own = new TControl(form);
  own->SetParent(form);
  own->Font().SetName(L"Courier New");  // an own font ends ParentFont
  own->SetColor(clWhite);

  form->Font().SetName(L"ＭＳ Ｐゴシック");
  form->Font().SetHeight(-12);
  form->Font().SetCharset(SHIFTJIS_CHARSET);
  form->SetColor(clBlack);
  EXPECT_EQ(child->Font().Name(), L"ＭＳ Ｐゴシック");
  EXPECT_EQ(child->Font().Height(), -12);
  EXPECT_EQ(child->Color(), clBlack);
  EXPECT_FALSE(own->ParentFont());
  EXPECT_EQ(own->Font().Name(), L"Courier New");
  EXPECT_EQ(own->Color(), clWhite);
  LOGFONTW lf{};
  GetObjectW(child->Font().Handle(), sizeof lf, &lf);
  EXPECT_STREQ(lf.lfFaceName, L"ＭＳ Ｐゴシック");
  EXPECT_EQ(lf.lfCharSet, SHIFTJIS_CHARSET);


  // The form sees keys for its child before they are dispatched.
  PostMessageW(child->Handle(), WM_KEYDOWN, VK_RETURN, 0);
  PostMessageW(child->Handle(), WM_USER, 0, 0);
  App->ProcessMessages();
  EXPECT_EQ(form->KeysTaken, 1);
}

TEST_F(FrameworkTest, BitmapsLoadDrawAndRefuseBadBytes) {
  TBitmap bmp;
  const auto bytes = MakeBmp(4, 4, Quadrants);
  bmp.LoadFromBytes(bytes.data(), bytes.size());
  ASSERT_EQ(bmp.Width(), 4);
  ASSERT_EQ(bmp.Height(), 4);
  const HDC dc = bmp.Canvas().Handle();
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(dc, 3, 0), RGB(0, 0, 255));
  EXPECT_EQ(GetPixel(dc, 0, 3), RGB(0, 255, 0));
  EXPECT_EQ(GetPixel(dc, 3, 3), RGB(255, 255, 0));

  // Bad bytes: an exception, and the picture stays as it was.
  std::vector<uint8_t> bad = bytes;
  bad.resize(bad.size() - 1);
  EXPECT_THROW(bmp.LoadFromBytes(bad.data(), bad.size()), EInvalidGraphic);
  EXPECT_EQ(bmp.Width(), 4);
  EXPECT_EQ(GetPixel(bmp.Canvas().Handle(), 3, 3), RGB(255, 255, 0));

  // Draw at an offset, stretched, and through a mapping mode.
  TBitmap target;
  target.SetSize(16, 16);
  TCanvas& canvas = target.Canvas();
  canvas.Draw(5, 6, bmp);
  EXPECT_EQ(GetPixel(canvas.Handle(), 5, 6), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(canvas.Handle(), 8, 9), RGB(255, 255, 0));
  EXPECT_EQ(GetPixel(canvas.Handle(), 4, 6), RGB(0, 0, 0));
  canvas.StretchDraw(TRect{0, 8, 8, 16}, bmp);
  EXPECT_EQ(GetPixel(canvas.Handle(), 1, 9), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(canvas.Handle(), 6, 14), RGB(255, 255, 0));

  target.SetSize(16, 16);  // blank again
  EXPECT_EQ(canvas.SetMapMode(MM_ANISOTROPIC), MM_TEXT);
  canvas.SetWindowOrg(0, 0);
  canvas.SetWindowExt(2, 2);
  SetViewportExtEx(canvas.Handle(), 1, 1, nullptr);  // half size
  canvas.Draw(0, 0, bmp);
  canvas.SetMapMode(MM_TEXT);
  EXPECT_EQ(GetPixel(canvas.Handle(), 0, 0), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(canvas.Handle(), 1, 1), RGB(255, 255, 0));
  EXPECT_EQ(GetPixel(canvas.Handle(), 2, 2), RGB(0, 0, 0));
}

TEST_F(FrameworkTest, FormCanvasDrawsOnTheWindowAndGivesItsDcBack) {
  TBitmap bmp;
  const auto bytes = MakeBmp(4, 4, Quadrants);
  bmp.LoadFromBytes(bytes.data(), bytes.size());
  auto* form = App->CreateForm<TTestForm>("frmMain");
  form->SetBorderStyle(bsNone);
  form->SetColor(clBlack);
  form->SetBounds(500, 100, 64, 64);
  bool drawn = false;
  form->OnUserMessage = [&](TMessage&) {
    form->Canvas().Draw(10, 10, bmp);
    drawn = true;
  };
  form->Show();
  App->ProcessMessages();
  PostMessageW(form->Handle(), WM_USER, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return drawn; }));
  EXPECT_FALSE(form->Canvas().HandleAllocated());  // given back after the message
  const TWindowDC screen(nullptr);
  EXPECT_EQ(GetPixel(screen.Get(), 510, 110), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(screen.Get(), 513, 113), RGB(255, 255, 0));
  EXPECT_EQ(GetPixel(screen.Get(), 520, 120), RGB(0, 0, 0));  // the form's colour
}
