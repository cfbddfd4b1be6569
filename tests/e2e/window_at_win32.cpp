// e2e_window_at: which window the system finds at a screen point. What an
// X screenshot shows outside every monitor is undefined, so the driver asks
// Wine what covers such a point instead.
//
//   e2e_window_at X Y
//
// Prints "<class> <process id> <top-level class>", or "none".
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: e2e_window_at X Y\n");
    return 2;
  }
  const POINT pt{std::atoi(argv[1]), std::atoi(argv[2])};
  HWND wnd = WindowFromPoint(pt);
  if (!wnd) {
    std::printf("none\n");
    return 0;
  }
  char cls[256] = "", rootCls[256] = "";
  GetClassNameA(wnd, cls, sizeof cls);
  GetClassNameA(GetAncestor(wnd, GA_ROOT), rootCls, sizeof rootCls);
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  std::printf("%s %lu %s\n", cls, static_cast<unsigned long>(pid), rootCls);
  return 0;
}
