// e2e_preview_host: stands in for the display settings' preview. It opens a
// parent window, starts a saver with "/p <parent>", lets it run, then
// destroys the parent, as the settings do when the preview goes away, and
// reports how the saver ended.
//
//   e2e_preview_host [--post-input] SAVER SECONDS [LEFT TOP WIDTH HEIGHT]
//
// With PL_E2E_PREVIEW_UNTIL naming a file, the parent also goes as soon as
// that file exists; with PL_E2E_PREVIEW_HIDDEN naming one, the parent is
// hidden while that file exists, as the settings hide a preview that is
// scrolled away or behind another page.
// Prints "parent <hwnd>" once the saver is started, "early <code>" if the
// saver ends before SECONDS, then "exit <code>", or "timeout" when the
// saver is still running 20 s after the parent went (it is then killed).
// With --post-input, once the player's window (the fake control's class
// PlFakeFlashPlayer or the browser player's PlBrowserPlayer) is inside the
// parent, every message number of the key,
// mouse, tablet and pen ranges a preview blocks, and the one after each
// range and before each but the first, is posted to it (wParam 0, lParam
// 0x00050007), and "posted <count>" is printed; the last one is 0x0390.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>

#include "util/raii_win32.h"

namespace {

LRESULT CALLBACK ParentProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) noexcept {
  if (Msg == WM_ERASEBKGND) {
    RECT r;
    GetClientRect(Wnd, &r);
    FillRect(reinterpret_cast<HDC>(WParam), &r, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    return 1;
  }
  return DefWindowProcW(Wnd, Msg, WParam, LParam);
}

// The player control's window inside Parent, if it is there yet.
HWND FindControl(HWND Parent) {
  HWND found = nullptr;
  EnumChildWindows(
      Parent,
      [](HWND Wnd, LPARAM Found) noexcept -> BOOL {
        wchar_t name[64] = {};
        GetClassNameW(Wnd, name, 64);
        if (std::wstring(name) != L"PlFakeFlashPlayer" && std::wstring(name) != L"PlBrowserPlayer") return TRUE;
        *reinterpret_cast<HWND*>(Found) = Wnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// Posts the messages of --post-input to Control; how many.
int PostInput(HWND Control) {
  const std::pair<UINT, UINT> blocked[] = {{0x0100, 0x0108}, {0x0200, 0x020A}, {0x02C0, 0x02DF}, {0x0380, 0x038F}};
  int count = 0;
  for (const auto& [first, last] : blocked)
    for (UINT m = first == 0x0100 ? first : first - 1; m <= last + 1; ++m, ++count)
      PostMessageW(Control, m, 0, 0x00050007);
  return count;
}

// Serves this thread's messages for up to Ms, or until Process ends; runs
// Round after each batch of messages, and stops early when it answers true.
bool PumpWhileRunning(HANDLE Process, DWORD Ms, const std::function<bool()>& Round) {
  const ULONGLONG end = GetTickCount64() + Ms;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (Round()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return true;
    const DWORD r = MsgWaitForMultipleObjects(1, &Process, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(end - now, 50)),
                                              QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool postInput = argc > 1 && std::string(argv[1]) == "--post-input";
  if (postInput) --argc, ++argv;
  if (argc != 3 && argc != 7) {
    std::fprintf(stderr, "usage: e2e_preview_host [--post-input] SAVER SECONDS [LEFT TOP WIDTH HEIGHT]\n");
    return 2;
  }
  const DWORD ms = static_cast<DWORD>(std::atof(argv[2]) * 1000);
  int left = 100, top = 100, width = 320, height = 240;
  if (argc == 7) {
    left = std::atoi(argv[3]);
    top = std::atoi(argv[4]);
    width = std::atoi(argv[5]);
    height = std::atoi(argv[6]);
  }

  WNDCLASSW wc{};
  wc.lpfnWndProc = ParentProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"PlE2EPreviewParent";
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  RegisterClassW(&wc);
  HWND parent = CreateWindowExW(0, wc.lpszClassName, L"e2e preview parent", WS_POPUP | WS_CLIPCHILDREN, left, top,
                                width, height, nullptr, nullptr, wc.hInstance, nullptr);
  if (!parent) return 3;
  // Not activated: Wine without a window manager is slow to destroy an
  // active window.
  ShowWindow(parent, SW_SHOWNOACTIVATE);

  std::string cmd = "\"" + std::string(argv[1]) + "\" /p " + std::to_string(reinterpret_cast<UINT_PTR>(parent));
  STARTUPINFOA si{};
  si.cb = sizeof si;
  TProcessInformation pi;
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 4;
  std::printf("parent %llu\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(parent)));
  std::fflush(stdout);

  char until[MAX_PATH] = {};
  const DWORD untilLength = GetEnvironmentVariableA("PL_E2E_PREVIEW_UNTIL", until, MAX_PATH);
  const std::string untilFile = untilLength < MAX_PATH ? std::string(until, untilLength) : "";
  char hidden[MAX_PATH] = {};
  const DWORD hiddenLength = GetEnvironmentVariableA("PL_E2E_PREVIEW_HIDDEN", hidden, MAX_PATH);
  const std::string hiddenFile = hiddenLength < MAX_PATH ? std::string(hidden, hiddenLength) : "";
  bool posted = !postInput;
  auto round = [&] {
    if (!posted) {
      if (const HWND control = FindControl(parent)) {
        std::printf("posted %d\n", PostInput(control));
        std::fflush(stdout);
        posted = true;
      }
    }
    if (!hiddenFile.empty()) {
      const bool hide = GetFileAttributesA(hiddenFile.c_str()) != INVALID_FILE_ATTRIBUTES;
      if (hide == (IsWindowVisible(parent) != FALSE)) ShowWindow(parent, hide ? SW_HIDE : SW_SHOWNOACTIVATE);
    }
    return !untilFile.empty() && GetFileAttributesA(untilFile.c_str()) != INVALID_FILE_ATTRIBUTES;
  };
  DWORD code = 0;
  if (!PumpWhileRunning(pi.hProcess, ms, round)) {
    GetExitCodeProcess(pi.hProcess, &code);
    std::printf("early %lu\n", static_cast<unsigned long>(code));
  }
  DestroyWindow(parent);
  if (PumpWhileRunning(pi.hProcess, 20000, [] { return false; })) {
    std::printf("timeout\n");
    TerminateProcess(pi.hProcess, 99);
    WaitForSingleObject(pi.hProcess, 5000);
  } else {
    GetExitCodeProcess(pi.hProcess, &code);
    std::printf("exit %lu\n", static_cast<unsigned long>(code));
  }
  std::fflush(stdout);
  return 0;
}
