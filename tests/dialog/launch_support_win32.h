// Shared set-up of the Windows dialog tests: the registry entries the browser
// launcher reads (in the test prefix only), the fake browser and its log,
// and Wine's own browser launcher pointed at a recorder instead of the
// desktop's browser.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "dialog/browser_win32.h"

// A host path (/work/...) as Wine's Z: drive shows it.
std::string HostToWindowsPath(std::string Path);
// The build folder on the host (PL_BINARY_DIR of the test run).
std::string HostBinaryDir();

// Removes every key the launcher reads, so each test starts with no browser
// registered (the state of a fresh Wine prefix), and points Wine's launcher
// at the recorder. Called before and after each test.
void ResetBrowserRegistry();
void SetDefaultValue(HKEY Root, const std::string& Key, const std::string& Value);
// Registers Command as the open command of a Start-menu internet client.
void RegisterStartMenuBrowser(const std::string& Command);
// Registers Command as the open command of ".htm" files.
void RegisterHtmHandler(const std::string& Command);

// The fake browser copied into a folder whose name holds a blank; its log
// (FAKE_BROWSER_LOG) emptied.
struct TFakeBrowser {
  std::string Path;
  std::string Log;
};
TFakeBrowser PrepareFakeBrowser();

// Waits up to TimeoutMs for the file to hold at least one full line.
std::string WaitForLines(const std::string& Path, DWORD TimeoutMs = 10000);

// The file Wine's own launcher (winebrowser) appends addresses to.
std::string WineBrowserLog();

// The visible top-level windows of the whole desktop, counted; a message
// box from any process would add one.
int CountVisibleTopLevelWindows();

// A browser that records every launch ("exec <command line>", "shell
// <address>") and passes it on to the system only when asked to.
class TRecordingBrowser : public TBrowser {
 public:
  TRecordingBrowser() : TBrowser(nullptr) {}
  bool PassThrough = false;
  bool PassThroughExec = true;  // with PassThrough: really start WinExec's command too
  INT_PTR ShellResult = 42;
  std::vector<std::string> Calls;
  std::vector<INT_PTR> Results;

 protected:
  UINT DoWinExec(const std::string& CommandLine) override;
  INT_PTR DoShellExecute(const std::string& File) override;
};

// While it lives, every browser a link click makes passes the shell's open
// on to the system but only records WinExec's commands (the browser program
// and the last resort, explorer); Calls() gathers what they all did.
class TRecordedLaunches {
 public:
  TRecordedLaunches();
  ~TRecordedLaunches();
  TRecordedLaunches(const TRecordedLaunches&) = delete;
  TRecordedLaunches& operator=(const TRecordedLaunches&) = delete;
  static std::vector<std::string>& Calls();
};
