#include "dialog/browser_win32.h"

#include <shellapi.h>

#include "dialog/browser.h"
#include "util/utils.h"
#include "util/utils_win32.h"

namespace {

TBrowserMaker gBrowserMaker = nullptr;

bool IsExistingFile(const std::string& Path) {
  const DWORD attributes = GetFileAttributesA(Path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

TBrowser::TBrowser(TComponent* AOwner) : TComponent(AOwner) { FindBrowser(); }

void TBrowser::FindBrowser() {
  // The Start-menu internet client is the user's chosen browser; the ".htm"
  // association is the next best guess.
  const std::string client = RegReadString(HKEY_LOCAL_MACHINE, "Software\\Clients\\StartMenuInternet");
  if (!client.empty())
    FBrowserPath =
        RegReadString(HKEY_LOCAL_MACHINE, "Software\\Clients\\StartMenuInternet\\" + client + "\\shell\\open\\command");
  if (FBrowserPath.empty()) FBrowserPath = GetShellOpenCommand(".htm");
  if (FBrowserPath.empty()) return;
  const std::string command = UnquoteString(FBrowserPath, '"');
  if (!command.empty()) FBrowserPath = BrowserProgramFromCommand(command, IsExistingFile);
}

void TBrowser::SetURL(const std::string& Value) {
  if (Value == FURL) return;
  // A malformed address leaves nothing behind that a later Open could launch.
  FURL.clear();
  FURL = CompleteScheme(Value);
  if (FAuto) ShellOpen();
}

void TBrowser::Open() {
  if (FURL.empty()) return;
  if (!FBrowserPath.empty()) {
    // A browser that no longer exists fails here unnoticed; the shell is not
    // asked, as it would most likely pick the same program.
    DoWinExec(QuoteString(FBrowserPath, '"') + " " + FURL);
    return;
  }
  if (DoShellExecute(FURL) <= 32) DoWinExec("explorer " + FURL);
}

void TBrowser::ShellOpen() {
  if (FURL.empty()) return;
  const INT_PTR result = DoShellExecute(FURL);
  if (result > 32 || result == ERROR_FILE_NOT_FOUND) return;
  Open();
}

UINT TBrowser::DoWinExec(const std::string& CommandLine) { return WinExec(CommandLine.c_str(), SW_SHOW); }

INT_PTR TBrowser::DoShellExecute(const std::string& File) {
  return reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", File.c_str(), nullptr, nullptr, SW_SHOW));
}

void SetBrowserMaker(TBrowserMaker Maker) { gBrowserMaker = Maker; }

void OpenURL(const std::string& Address) {
  // Freed on every way out, a malformed address included.
  const TComponentPtr<TBrowser> browser(gBrowserMaker ? gBrowserMaker() : new TBrowser(nullptr));
  browser->SetURL(Address);
  browser->Open();
}
