// Shared pieces of the tests that host the fake player control in a window
// of their own. Link pl_fakeplayer_registration.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

#include "tests/doubles/fakeplayer/fake_registration_win32.h"

// A suite against the v9 fake player: OLE on the test thread and the fake
// registered, for the whole suite.
class TFakePlayerSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    ASSERT_TRUE(RegisterFakePlayer(TFakePlayerVariant::V9));
  }
  static void TearDownTestSuite() {
    UnregisterFakePlayer();
    OleUninitialize();
  }
};

// A plain top-level window for a control to live in, shown but not
// activated: Wine without a window manager takes two seconds to destroy the
// active window.
inline HWND CreateHostWindow(int Width, int Height) {
  static const ATOM cls = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"PlFakePlayerHost";
    return RegisterClassW(&wc);
  }();
  (void)cls;
  const HWND wnd = CreateWindowExW(0, L"PlFakePlayerHost", L"host", WS_POPUP | WS_CLIPCHILDREN, 0, 0, Width, Height,
                                   nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (wnd) ShowWindow(wnd, SW_SHOWNOACTIVATE);
  return wnd;
}
