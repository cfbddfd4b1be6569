// The window, timer, subclass and event-connection owners against the real
// system: what each holds while its close runs, and that each close happens
// once, when the owner says.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <ocidl.h>
#include <olectl.h>

#include <vector>

#include "tests/support/message_pump_win32.h"
#include "util/com_object_win32.h"
#include "util/raii_com_win32.h"
#include "util/raii_win32.h"

namespace {

// What a window of the probe class saw of its last messages: the message
// and the window its owner held meanwhile.
TBoundWindow* gBoundOwner = nullptr;
bool gReleaseOnNcDestroy = false;
std::vector<std::pair<UINT, HWND>> gLastMessages;
// Messages that reached the probe class's own procedure.
std::vector<UINT> gClassMessages;
int gTimerTicks = 0;  // WM_TIMER with the id 7

constexpr UINT kProbeMessage = WM_APP + 5;

LRESULT CALLBACK ProbeWindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) noexcept {
  if (Msg == WM_DESTROY || Msg == WM_NCDESTROY) {
    gLastMessages.emplace_back(Msg, gBoundOwner ? gBoundOwner->Get() : nullptr);
    if (Msg == WM_NCDESTROY && gReleaseOnNcDestroy && gBoundOwner) gBoundOwner->Release();
  }
  if (Msg == kProbeMessage || Msg == WM_NCDESTROY) gClassMessages.push_back(Msg);
  if (Msg == WM_TIMER && WParam == 7) ++gTimerTicks;
  return DefWindowProcW(Wnd, Msg, WParam, LParam);
}

HWND CreateProbeWindow() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = ProbeWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"PlRaiiProbe";
  RegisterClassW(&wc);  // the second time it exists already
  return CreateWindowExW(0, L"PlRaiiProbe", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                         nullptr);
}

}  // namespace

// Destroy keeps the handle in the owner while the window's last messages run,
// and leaves it empty; an object that lets go at WM_NCDESTROY leaves it empty
// too. The owner's own end lets go first, as every other owner does.
TEST(BoundWindow, HeldWhileDestroyedEmptyAfterAndLetGoAtItsOwnEnd) {
  const HWND first = CreateProbeWindow();
  ASSERT_TRUE(first);
  {
    TBoundWindow owner;
    gBoundOwner = &owner;
    gLastMessages.clear();
    owner.Reset(first);
    EXPECT_EQ(owner.Get(), first);
    owner.Destroy();
    EXPECT_FALSE(owner);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(gLastMessages, (std::vector<std::pair<UINT, HWND>>{{WM_DESTROY, first}, {WM_NCDESTROY, first}}));

    const HWND second = CreateProbeWindow();
    ASSERT_TRUE(second);
    owner.Reset(second);
    gReleaseOnNcDestroy = true;
    gLastMessages.clear();
    owner.Destroy();
    gReleaseOnNcDestroy = false;
    EXPECT_FALSE(owner);
    EXPECT_EQ(gLastMessages, (std::vector<std::pair<UINT, HWND>>{{WM_DESTROY, second}, {WM_NCDESTROY, second}}));

    const HWND third = CreateProbeWindow();
    ASSERT_TRUE(third);
    owner.Reset(third);
    gLastMessages.clear();
    // Reset with another window destroys the one held, with it still held.
    const HWND fourth = CreateProbeWindow();
    owner.Reset(fourth);
    EXPECT_FALSE(IsWindow(third));
    EXPECT_EQ(owner.Get(), fourth);
    EXPECT_EQ(gLastMessages, (std::vector<std::pair<UINT, HWND>>{{WM_DESTROY, third}, {WM_NCDESTROY, third}}));
    gLastMessages.clear();
  }
  // Gone with its owner, which held nothing any more meanwhile.
  EXPECT_EQ(gLastMessages, (std::vector<std::pair<UINT, HWND>>{{WM_DESTROY, nullptr}, {WM_NCDESTROY, nullptr}}));
  gBoundOwner = nullptr;
}

// A timer runs from Set until Reset, a new Set or the owner's end; a timer
// the system refuses leaves the owner without one.
TEST(WindowTimer, KilledWhenResetSetAgainOrGone) {
  const TUniqueWindow window(CreateProbeWindow());
  ASSERT_TRUE(window);
  int seen = 0;
  auto ticked = [&] {
    const bool more = gTimerTicks > seen;
    seen = gTimerTicks;
    return more;
  };
  {
    TWindowTimer timer;
    ASSERT_TRUE(timer.Set(window.Get(), 7, 10));
    EXPECT_TRUE(PumpUntil(ticked));
    timer.Reset();
    EXPECT_FALSE(KillTimer(window.Get(), 7));  // none left to kill
    ASSERT_TRUE(timer.Set(window.Get(), 7, 10));
    ASSERT_TRUE(timer.Set(window.Get(), 7, 10));  // the first one goes
    EXPECT_TRUE(PumpUntil(ticked));
  }
  EXPECT_FALSE(KillTimer(window.Get(), 7));
  TWindowTimer refused;
  EXPECT_FALSE(refused.Set(reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7ffffff0)), 7, 10));
}

namespace {
std::vector<DWORD_PTR> gSubclassData;
TWindowSubclass* gSubclassOwner = nullptr;

LRESULT CALLBACK ProbeSubclassProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR,
                                   DWORD_PTR Data) noexcept {
  if (Msg == kProbeMessage) gSubclassData.push_back(Data);
  if (Msg == WM_NCDESTROY && gSubclassOwner) gSubclassOwner->Reset();
  return DefSubclassProc(Wnd, Msg, WParam, LParam);
}
}  // namespace

// The subclass sees the window's messages with its reference data and hands
// them on; once reset, the window's own procedure is back alone. Reset on
// WM_NCDESTROY, inside the subclass, still hands that message on.
TEST(WindowSubclass, SeesMessagesUntilResetAndHandsThemOn) {
  const HWND wnd = CreateProbeWindow();
  ASSERT_TRUE(wnd);
  const LONG_PTR ownProc = GetWindowLongPtrW(wnd, GWLP_WNDPROC);
  gSubclassData.clear();
  gClassMessages.clear();
  {
    TWindowSubclass subclass;
    ASSERT_TRUE(subclass.Set(wnd, ProbeSubclassProc, 1, 0x1234));
    EXPECT_EQ(subclass.Window(), wnd);
    SendMessageW(wnd, kProbeMessage, 0, 0);
    EXPECT_EQ(gSubclassData, std::vector<DWORD_PTR>{0x1234});
    EXPECT_EQ(gClassMessages, std::vector<UINT>{kProbeMessage});
    subclass.Reset();
    EXPECT_FALSE(subclass);
    SendMessageW(wnd, kProbeMessage, 0, 0);
    EXPECT_EQ(gSubclassData.size(), 1u);
    EXPECT_EQ(gClassMessages.size(), 2u);
    EXPECT_EQ(GetWindowLongPtrW(wnd, GWLP_WNDPROC), ownProc);

    ASSERT_TRUE(subclass.Set(wnd, ProbeSubclassProc, 1, 0x5678));
    gSubclassOwner = &subclass;
    gClassMessages.clear();
    DestroyWindow(wnd);
    gSubclassOwner = nullptr;
    EXPECT_FALSE(subclass);
    EXPECT_EQ(gClassMessages, std::vector<UINT>{WM_NCDESTROY});
  }

  // The owner's end removes a subclass the window still has.
  const HWND other = CreateProbeWindow();
  ASSERT_TRUE(other);
  {
    TWindowSubclass subclass;
    ASSERT_TRUE(subclass.Set(other, ProbeSubclassProc, 2, 0x9abc));
  }
  gSubclassData.clear();
  SendMessageW(other, kProbeMessage, 0, 0);
  EXPECT_TRUE(gSubclassData.empty());
  DestroyWindow(other);
}

namespace {
// A connection point that records the calls an owner makes and answers
// Advise as told.
class TProbePoint final : public TComObject<IConnectionPoint> {
 public:
  TProbePoint(HRESULT AdviseResult, bool& Gone) : FAdviseResult(AdviseResult), FGone(Gone) {}
  ~TProbePoint() override { FGone = true; }
  std::vector<DWORD> Unadvised;
  int Advised = 0;

  STDMETHODIMP QueryInterface(REFIID Riid, void** Out) override {
    IConnectionPoint* const point = this;
    return AnswerQueryInterface(Riid, Out, {{IID_IUnknown, point}, {IID_IConnectionPoint, point}});
  }
  STDMETHODIMP GetConnectionInterface(IID*) override { return E_NOTIMPL; }
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** Out) override { return AnswerNoObject(Out); }
  STDMETHODIMP Advise(IUnknown*, DWORD* Cookie) override {
    ++Advised;
    *Cookie = SUCCEEDED(FAdviseResult) ? 42 : 0;
    return FAdviseResult;
  }
  STDMETHODIMP Unadvise(DWORD Cookie) override {
    Unadvised.push_back(Cookie);
    return S_OK;
  }
  STDMETHODIMP EnumConnections(IEnumConnections** Out) override { return AnswerNoObject(Out); }

 private:
  HRESULT FAdviseResult;
  bool& FGone;
};
}  // namespace

// An advised connection is unadvised with its cookie once, then the point is
// let go; a refused Advise holds nothing and unadvises nothing.
TEST(AdviseConnection, UnadvisesOnceWithItsCookieAndHoldsNothingWhenRefused) {
  bool gone = false;
  auto* point = new TProbePoint(S_OK, gone);
  point->AddRef();  // the test's own look at it
  {
    TAdviseConnection events;
    EXPECT_EQ(events.Advise(TComPtr<IConnectionPoint>(point), nullptr), S_OK);
    EXPECT_TRUE(events);
    EXPECT_EQ(point->Advised, 1);
    EXPECT_TRUE(point->Unadvised.empty());
    events.Reset();
    EXPECT_FALSE(events);
    EXPECT_EQ(point->Unadvised, std::vector<DWORD>{42});
    events.Reset();
  }
  EXPECT_EQ(point->Unadvised, std::vector<DWORD>{42});
  EXPECT_FALSE(gone);
  point->Release();
  EXPECT_TRUE(gone);

  bool refusedGone = false;
  auto* refused = new TProbePoint(CONNECT_E_CANNOTCONNECT, refusedGone);
  refused->AddRef();
  {
    TAdviseConnection events;
    EXPECT_EQ(events.Advise(TComPtr<IConnectionPoint>(refused), nullptr), CONNECT_E_CANNOTCONNECT);
    EXPECT_FALSE(events);
    EXPECT_EQ(refused->Advised, 1);
  }
  EXPECT_TRUE(refused->Unadvised.empty());
  refused->Release();
  EXPECT_TRUE(refusedGone);

  // Advised and then left to the owner's end: unadvised there.
  bool keptGone = false;
  auto* kept = new TProbePoint(S_OK, keptGone);
  kept->AddRef();
  {
    TAdviseConnection events;
    events.Advise(TComPtr<IConnectionPoint>(kept), nullptr);
  }
  EXPECT_EQ(kept->Unadvised, std::vector<DWORD>{42});
  kept->Release();
  EXPECT_TRUE(keptGone);
}
