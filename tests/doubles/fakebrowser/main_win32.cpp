// A stand-in web browser for tests. It appends its whole command line, as the
// system passed it, and a line break to the file named by FAKE_BROWSER_LOG,
// then ends. Without that variable it does nothing at all.
#include <windows.h>

#include <cstring>

#include "util/raii_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char log[MAX_PATH * 2];
  const DWORD n = GetEnvironmentVariableA("FAKE_BROWSER_LOG", log, sizeof log);
  if (n == 0 || n >= sizeof log) return 1;
  const TUniqueFile file(CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 2;
  const char* line = GetCommandLineA();
  DWORD written = 0;
  WriteFile(file.Get(), line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
  WriteFile(file.Get(), "\n", 1, &written, nullptr);
  return 0;
}
