// Chromium's command line for a run.
#include "flash/browser_player.h"
#include "tools/plws/play.h"

std::vector<std::string> BrowserArgs(const TBrowserLaunch& L) {
  std::vector<std::string> a = QuietBrowserArgs();
  a.insert(a.end(), {
      // Nothing but the local server may be reached: every other host name
      // resolves to nothing.
      "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
      "--disable-session-crashed-bubble",
      "--user-data-dir=" + L.ProfileDir,
      "--window-position=0,0",
  });
  if (L.NoSandbox) a.push_back("--no-sandbox");
  const std::string size = std::to_string(L.Width) + "," + std::to_string(L.Height);
  if (L.Mode == TBrowserLaunch::Headless) {
    a.insert(a.end(), {"--headless", "--remote-debugging-pipe", "--hide-scrollbars", "--mute-audio"});
    if (L.Width > 0) a.push_back("--window-size=" + size);
    a.push_back("about:blank");  // the run opens its own page at the right size
  } else if (L.Mode == TBrowserLaunch::Window) {
    a.push_back("--window-size=" + size);
    a.push_back("--app=" + L.Url);
  } else {
    a.push_back("--kiosk");
    if (L.Width > 0) a.push_back("--window-size=" + size);
    a.push_back(L.Url);
  }
  return a;
}
