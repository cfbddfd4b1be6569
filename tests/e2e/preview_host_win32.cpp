// e2e_preview_host: stands in for the display settings' preview. It opens a
// parent window, starts a saver with "/p <parent>", lets it run, then
// destroys the parent, as the settings do when the preview goes away, and
// reports how the saver ended.
//
//   e2e_preview_host SAVER SECONDS [LEFT TOP WIDTH HEIGHT]
//
// With PL_E2E_PREVIEW_UNTIL naming a file, the parent also goes as soon as
// that file exists.
// Prints "parent <hwnd>" once the saver is started, "early <code>" if the
// saver ends before SECONDS, then "exit <code>", or "timeout" when the
// saver is still running 20 s after the parent went (it is then killed).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

LRESULT CALLBACK ParentProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  if (Msg == WM_ERASEBKGND) {
    RECT r;
    GetClientRect(Wnd, &r);
    FillRect(reinterpret_cast<HDC>(WParam), &r, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    return 1;
  }
  return DefWindowProcW(Wnd, Msg, WParam, LParam);
}

// Serves this thread's messages for up to Ms, or until Process ends, or,
// when UntilFile is not empty, until that file exists.
bool PumpWhileRunning(HANDLE Process, DWORD Ms, const std::string& UntilFile = "") {
  const ULONGLONG end = GetTickCount64() + Ms;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return true;
    if (!UntilFile.empty() && GetFileAttributesA(UntilFile.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    const DWORD step = UntilFile.empty() ? static_cast<DWORD>(end - now) : 100;
    const DWORD r = MsgWaitForMultipleObjects(1, &Process, FALSE, step, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 7) {
    std::fprintf(stderr, "usage: e2e_preview_host SAVER SECONDS [LEFT TOP WIDTH HEIGHT]\n");
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
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 4;
  CloseHandle(pi.hThread);
  std::printf("parent %llu\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(parent)));
  std::fflush(stdout);

  char until[MAX_PATH] = {};
  const DWORD untilLength = GetEnvironmentVariableA("PL_E2E_PREVIEW_UNTIL", until, MAX_PATH);
  DWORD code = 0;
  if (!PumpWhileRunning(pi.hProcess, ms, untilLength < MAX_PATH ? std::string(until, untilLength) : "")) {
    GetExitCodeProcess(pi.hProcess, &code);
    std::printf("early %lu\n", static_cast<unsigned long>(code));
  }
  DestroyWindow(parent);
  if (PumpWhileRunning(pi.hProcess, 20000)) {
    std::printf("timeout\n");
    TerminateProcess(pi.hProcess, 99);
    WaitForSingleObject(pi.hProcess, 5000);
  } else {
    GetExitCodeProcess(pi.hProcess, &code);
    std::printf("exit %lu\n", static_cast<unsigned long>(code));
  }
  std::fflush(stdout);
  CloseHandle(pi.hProcess);
  return 0;
}
