// Program entry of saver.scr.
#include <windows.h>
#include <objbase.h>

#include <string>

#include "package/exe_adder.h"
#include "saver/run_saver.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // "/S": run the saver as a second copy with "/E" and wait for it.
  RunStartupCheck();

  CoInitialize(nullptr);
  char path[MAX_PATH * 4];
  const DWORD len = GetModuleFileNameA(nullptr, path, sizeof path);
  TItemTypes items;
  try {
    if (len > 0 && len < sizeof path) ReadExeItems(std::string(path, len), items);
  } catch (...) {
    // A corrupt package leaves the saver with its defaults.
  }
  FreeExeItems(items);
  CoUninitialize();
  return 0;
}
