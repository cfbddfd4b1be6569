// The default-browser launcher: finds the user's browser in the registry and
// starts it with an address. Every failure is silent; the user simply sees no
// browser.
#pragma once
#include <windows.h>

#include <string>

#include "framework/component.h"

class TBrowser : public TComponent {
 public:
  // Reads the registry (FindBrowser); nothing is cached between instances.
  explicit TBrowser(TComponent* AOwner = nullptr);

  // When true, assigning a new URL opens it at once through ShellOpen.
  bool Auto() const { return FAuto; }
  void SetAuto(bool Value) { FAuto = Value; }

  const std::string& URL() const { return FURL; }
  // Stores a changed address, gives it a scheme when it has none
  // (CompleteScheme; a malformed %XX escape throws EURLDecodeError, and the
  // address must then not be opened) and opens it when Auto is set.
  void SetURL(const std::string& Value);

  // The discovered browser program first, then the shell's open action, then
  // "explorer <address>". Nothing for an empty address.
  void Open();
  // The shell first; "not found" (2) ends there, other failures go to Open.
  void ShellOpen();

  // The browser program found, without quotes or arguments; empty for none.
  const std::string& BrowserPath() const { return FBrowserPath; }

 protected:
  // The two ways of starting something, replaceable by tests: WinExec with
  // SW_SHOW and ShellExecute's "open" with no owner window and SW_SHOW.
  virtual UINT DoWinExec(const std::string& CommandLine);
  virtual INT_PTR DoShellExecute(const std::string& File);

 private:
  void FindBrowser();

  bool FAuto = false;
  std::string FURL;
  std::string FBrowserPath;
};

// Opens Address once with a fresh TBrowser. A malformed address throws
// EURLDecodeError and opens nothing.
void OpenURL(const std::string& Address);

// Makes the browser that OpenURL (and so a click on a link label) uses: a
// plain TBrowser, or what a test puts here to record the launches instead of
// starting programs. Null goes back to the plain one.
using TBrowserMaker = TBrowser* (*)();
void SetBrowserMaker(TBrowserMaker Maker);
