// Topmost, clamping and centring on real windows and the real monitors.
#include <gtest/gtest.h>
#include <windows.h>

#include "framework/form_utils_win32.h"
#include "util/raii_win32.h"

namespace {

TUniqueWindow MakePopup(int X, int Y, int W, int H) {
  return TUniqueWindow(CreateWindowExA(0, "STATIC", "placement", WS_POPUP, X, Y, W, H, nullptr, nullptr,
                                       GetModuleHandleA(nullptr), nullptr));
}

RECT WindowRect(HWND Wnd) {
  RECT r{};
  GetWindowRect(Wnd, &r);
  return r;
}

}  // namespace

TEST(PlacementWin32, SetTopMostNeitherMovesNorShowsNorActivates) {
  TUniqueWindow active = MakePopup(0, 0, 50, 50);
  TUniqueWindow wnd = MakePopup(40, 30, 120, 90);
  ASSERT_TRUE(active && wnd);
  ShowWindow(active.Get(), SW_SHOW);
  SetActiveWindow(active.Get());
  ASSERT_EQ(GetActiveWindow(), active.Get());

  EXPECT_TRUE(SetTopMost(wnd.Get(), 0));
  EXPECT_TRUE(GetWindowLongA(wnd.Get(), GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_FALSE(IsWindowVisible(wnd.Get()));
  const RECT r = WindowRect(wnd.Get());
  EXPECT_EQ(r.left, 40);
  EXPECT_EQ(r.top, 30);
  EXPECT_EQ(r.right, 160);
  EXPECT_EQ(r.bottom, 120);

  // Extra flags are added: here, show it; it still does not take activation.
  EXPECT_TRUE(SetControlTopMost(wnd.Get(), SWP_SHOWWINDOW));
  EXPECT_TRUE(IsWindowVisible(wnd.Get()));
  EXPECT_EQ(GetActiveWindow(), active.Get());
  EXPECT_FALSE(SetTopMost(nullptr, 0));  // the failure comes back
}

TEST(PlacementWin32, ClampUsesTheMonitorsWorkAreas) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetMonitorInfoA(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info));
  ASSERT_EQ(GetSystemMetrics(SM_CMONITORS), 1);
  const RECT& work = info.rcWork;
  int32_t w = 100000, h = 100000;
  ClampToWorkArea(w, h, 8, 27);
  EXPECT_EQ(w, work.right - work.left - 8);
  EXPECT_EQ(h, work.bottom - work.top - 27);
  int32_t sw = 500, sh = 400;
  ClampToWorkArea(sw, sh, 8, 27);
  EXPECT_EQ(sw, 500);
  EXPECT_EQ(sh, 400);
}

TEST(PlacementWin32, CenterFormInRectKeepsTheSize) {
  TUniqueWindow form = MakePopup(5, 5, 300, 200);
  ASSERT_TRUE(form);
  CenterFormInRect(form.Get(), RECT{0, 0, 1024, 738});
  const RECT r = WindowRect(form.Get());
  EXPECT_EQ(r.left, 362);
  EXPECT_EQ(r.top, 269);
  EXPECT_EQ(r.right - r.left, 300);
  EXPECT_EQ(r.bottom - r.top, 200);
  CenterFormInRect(form.Get(), RECT{100, 50, 300, 150});  // smaller than the form
  const RECT s = WindowRect(form.Get());
  EXPECT_EQ(s.left, 50);
  EXPECT_EQ(s.top, 0);
}
