#include "tests/dialog/launch_support_win32.h"

#include <cstdlib>

#include "tests/support/message_pump_win32.h"
#include "tests/support/process_win32.h"
#include "util/raii_win32.h"

std::string HostToWindowsPath(std::string Path) {
  for (char& c : Path)
    if (c == '/') c = '\\';
  return "Z:" + Path;
}

std::string HostBinaryDir() {
  const char* dir = std::getenv("PL_BINARY_DIR");
  return dir ? dir : "";
}

namespace {

std::string HostSourceDir() {
  const char* dir = std::getenv("PL_SOURCE_DIR");
  return dir ? dir : "";
}

std::string HostWineBrowserLog() { return HostBinaryDir() + "/tests/dialog/winebrowser.log"; }

}  // namespace

void SetDefaultValue(HKEY Root, const std::string& Key, const std::string& Value) {
  TUniqueHKey key;
  RegCreateKeyExA(Root, Key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Put(), nullptr);
  RegSetValueExA(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(Value.c_str()),
                 static_cast<DWORD>(Value.size() + 1));
}

void ResetBrowserRegistry() {
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Clients\\StartMenuInternet");
  RegDeleteTreeA(HKEY_CLASSES_ROOT, ".htm");
  RegDeleteTreeA(HKEY_CLASSES_ROOT, "PlTestHtmlFile");
  // Wine hands http addresses to the desktop's browser through winebrowser,
  // which tries the programs listed here: only the recorder, never a real one.
  const std::string recorder =
      "/bin/sh " + HostSourceDir() + "/tests/dialog/record-url.sh " + HostWineBrowserLog();
  TUniqueHKey key;
  RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\WineBrowser", 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Put(),
                  nullptr);
  RegSetValueExA(key.Get(), "Browsers", 0, REG_SZ, reinterpret_cast<const BYTE*>(recorder.c_str()),
                 static_cast<DWORD>(recorder.size() + 1));
  DeleteFileA(WineBrowserLog().c_str());
}

void RegisterStartMenuBrowser(const std::string& Command) {
  SetDefaultValue(HKEY_LOCAL_MACHINE, "Software\\Clients\\StartMenuInternet", "PlTestBrowser.exe");
  SetDefaultValue(HKEY_LOCAL_MACHINE, "Software\\Clients\\StartMenuInternet\\PlTestBrowser.exe\\shell\\open\\command",
                  Command);
}

void RegisterHtmHandler(const std::string& Command) {
  SetDefaultValue(HKEY_CLASSES_ROOT, ".htm", "PlTestHtmlFile");
  SetDefaultValue(HKEY_CLASSES_ROOT, "PlTestHtmlFile\\shell\\open\\command", Command);
}

TFakeBrowser PrepareFakeBrowser() {
  TFakeBrowser fake;
  const std::string dir = MakeTempDir("Web Browser ");
  fake.Path = dir + "fake browser.exe";
  const std::string built = HostToWindowsPath(HostBinaryDir() + "/tests/doubles/fakebrowser/fakebrowser.exe");
  CopyFileA(built.c_str(), fake.Path.c_str(), FALSE);
  fake.Log = dir + "launches.log";
  DeleteFileA(fake.Log.c_str());
  SetEnvironmentVariableA("FAKE_BROWSER_LOG", fake.Log.c_str());
  return fake;
}

std::string WaitForLines(const std::string& Path, DWORD TimeoutMs) {
  std::string text;
  PumpUntil(
      [&] {
        text = ReadTextFile(Path);
        return !text.empty() && text.back() == '\n';
      },
      TimeoutMs);
  return text;
}

std::string WineBrowserLog() { return HostToWindowsPath(HostWineBrowserLog()); }

int CountVisibleTopLevelWindows() {
  int count = 0;
  EnumWindows(
      [](HWND Wnd, LPARAM Count) noexcept -> BOOL {
        if (IsWindowVisible(Wnd)) ++*reinterpret_cast<int*>(Count);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

UINT TRecordingBrowser::DoWinExec(const std::string& CommandLine) {
  Calls.push_back("exec " + CommandLine);
  const UINT r = PassThrough && PassThroughExec ? TBrowser::DoWinExec(CommandLine) : 33;
  Results.push_back(r);
  return r;
}

INT_PTR TRecordingBrowser::DoShellExecute(const std::string& File) {
  Calls.push_back("shell " + File);
  const INT_PTR r = PassThrough ? TBrowser::DoShellExecute(File) : ShellResult;
  Results.push_back(r);
  return r;
}

namespace {

// Hands what it did to TRecordedLaunches when OpenURL frees it.
class TSharedRecordingBrowser : public TRecordingBrowser {
 public:
  TSharedRecordingBrowser() {
    PassThrough = true;
    PassThroughExec = false;
  }
  void BeforeDestruction() override {
    auto& all = TRecordedLaunches::Calls();
    all.insert(all.end(), Calls.begin(), Calls.end());
    TRecordingBrowser::BeforeDestruction();
  }
};

}  // namespace

TRecordedLaunches::TRecordedLaunches() {
  Calls().clear();
  SetBrowserMaker([]() -> TBrowser* { return new TSharedRecordingBrowser; });
}

TRecordedLaunches::~TRecordedLaunches() { SetBrowserMaker(nullptr); }

std::vector<std::string>& TRecordedLaunches::Calls() {
  static std::vector<std::string> calls;
  return calls;
}
