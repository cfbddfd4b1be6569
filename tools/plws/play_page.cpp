// The page that hosts Ruffle: what it hands the player, how it reports to
// the server and judges input, and which reports end the run.
#include <cstdio>

#include "tools/plws/play.h"

TPageConfig PageConfigFor(const TPlayerSettings& S, bool Preview, const std::string& MovieUrl,
                          const std::string& BaseUrl) {
  TPageConfig c;
  c.MovieUrl = MovieUrl;
  c.BaseUrl = BaseUrl;
  c.FlashVars = AnsiToUtf8(ComposeFlashVars(S.FlashVars, Preview ? "preview" : "normal"));
  c.Preview = Preview;
  c.Loop = S.Loop;
  // The saver sets the scale only full screen; a preview keeps the player's
  // own default, which shows the whole stage.
  c.Scale = (!Preview && S.Scale == "NoScale") ? "noScale" : "showAll";
  // The control's Quality: 0 low, 1 high, 2 automatic from low, 3 automatic
  // from high. Ruffle has no automatic modes; it starts where they start.
  switch (S.Quality) {
    case 0: case 2: c.Quality = "low"; break;
    case 1: case 3: c.Quality = "high"; break;
    default: break;
  }
  // BackgroundColor is 0xRRGGBB; -1 (any negative value) keeps the movie's own.
  if (S.BackColor >= 0) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%06X", static_cast<unsigned>(S.BackColor) & 0xFFFFFF);
    c.Background = buf;
  }
  c.Menu = S.Menu;
  c.StopByMouse = S.StopByMouse.value_or(true);
  c.StopByKey = S.StopByKey.value_or(true);
  // Full screen hides the pointer unless the package shows it.
  c.ShowCursor = Preview || S.ShowMouseCursor.value_or(false);
  return c;
}

std::string BuildPlayPage(const TPageConfig& C) {
  auto b = [](bool v) { return v ? "true" : "false"; };
  std::string config = "{";
  config += "\"root\":" + JsonString(C.Root);
  config += ",\"movie\":" + JsonString(C.MovieUrl);
  config += ",\"base\":" + JsonString(C.BaseUrl);
  config += ",\"flashVars\":" + JsonString(C.FlashVars);
  config += ",\"preview\":" + std::string(b(C.Preview));
  config += ",\"scale\":" + JsonString(C.Scale);
  config += ",\"quality\":" + JsonString(C.Quality);
  config += ",\"background\":" + JsonString(C.Background);
  config += ",\"menu\":" + std::string(b(C.Menu));
  config += ",\"stopByMouse\":" + std::string(b(C.StopByMouse));
  config += ",\"stopByKey\":" + std::string(b(C.StopByKey));
  config += "}";
  const std::string cursor = C.ShowCursor ? "" : "html,body,ruffle-player{cursor:none}";
  return R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>plws play</title>
<style>html,body{margin:0;width:100%;height:100%;overflow:hidden;background:#000}
ruffle-player{display:block;width:100vw;height:100vh})" + cursor + R"(</style>
<script src=")" + C.Root + R"(ruffle/ruffle.js"></script>
</head><body>
<script>
"use strict";
(function () {
  const cfg = )" + config + R"(;
  // Everything the player does that matters to the run goes to the local server.
  const report = (fields) =>
    fetch(cfg.root + "event?" + new URLSearchParams(fields).toString(), {cache: "no-store"}).catch(() => {});

  if (cfg.preview) {
    // A previewed movie gets no mouse, keyboard or touch input at all.
    const swallow = (e) => { e.stopImmediatePropagation(); if (e.cancelable) e.preventDefault(); };
    for (const type of ["pointerdown", "pointerup", "pointermove", "pointerover", "pointerout",
                        "pointerenter", "pointerleave", "mousedown", "mouseup", "mousemove",
                        "click", "dblclick", "contextmenu", "wheel", "keydown", "keyup",
                        "keypress", "touchstart", "touchmove", "touchend"])
      window.addEventListener(type, swallow, {capture: true, passive: false});
  } else {
    // The saver's rules: a move counts once the pointer has stood at three
    // different places; any button or wheel ends the run, any key too.
    let ended = false, moves = 0, lastX = 0, lastY = 0;
    const end = (reason) => { if (!ended) { ended = true; report({kind: "end", reason}); } };
    window.addEventListener("pointermove", (e) => {
      const x = e.screenX & 0xFFFF, y = e.screenY & 0xFFFF;
      if (cfg.stopByMouse && moves >= 3) end("mouse move");
      if ((x !== lastX || y !== lastY) && moves < 3) moves++;
      lastX = x; lastY = y;
    }, true);
    for (const type of ["pointerdown", "pointerup", "dblclick", "wheel"])
      window.addEventListener(type, () => { if (cfg.stopByMouse) end("mouse button"); }, true);
    for (const type of ["keydown", "keyup"])
      window.addEventListener(type, () => { if (cfg.stopByKey) end("key"); }, true);
  }

  if (!window.RufflePlayer || !window.RufflePlayer.newest) {
    report({kind: "error", message: "the Ruffle player did not load"});
    return;
  }
  const player = window.RufflePlayer.newest().createPlayer();
  document.body.appendChild(player);
  player.addEventListener("loadeddata", () => report({kind: "loaded"}));
  player.ruffle().addFSCommandHandler((command, args) =>
    report({kind: "fscommand", command: String(command), args: String(args)}));
  const options = {
    url: cfg.movie, base: cfg.base, parameters: cfg.flashVars,
    autoplay: "on", unmuteOverlay: "hidden", splashScreen: false,
    scale: cfg.scale, letterbox: "off", contextMenu: cfg.menu ? "on" : "off",
    allowScriptAccess: true, openUrlMode: "deny", publicPath: cfg.root + "ruffle/",
    warnOnUnsupportedContent: false, showSwfDownload: false,
  };
  if (cfg.quality) options.quality = cfg.quality;
  if (cfg.background) options.backgroundColor = cfg.background;
  Promise.resolve(player.ruffle().load(options))
    .catch((e) => report({kind: "error", message: String(e)}));
})();
</script>
</body></html>
)";
}

bool FsCommandEndsRun(const std::string& Command, bool Preview) { return !Preview && IsQuitCommand(Command); }
