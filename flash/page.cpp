// The page that hosts the Flash emulator: what it hands the player, and how
// it reports what happens.
#include "flash/page.h"

#include <cstdio>

#include "flash/json.h"
#include "util/utils.h"

std::string PageScaleFor(const std::string& Scale) {
  return AnsiLowerCase(Scale) == "noscale" ? "noScale" : "showAll";
}

std::string PageQualityFor(int Quality) {
  switch (Quality) {
    case 0: case 2: return "low";
    case 1: case 3: return "high";
    default: return "";
  }
}

std::string PageBackgroundFor(int BackgroundColor) {
  if (BackgroundColor < 0) return "";
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%06X", static_cast<unsigned>(BackgroundColor) & 0xFFFFFF);
  return buf;
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
  config += ",\"embedded\":" + std::string(b(C.Embedded));
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
  // Everything the player does that matters to the run goes to the local
  // server, or, inside the saver, to the binding the saver gave the page.
  const report = cfg.embedded
    ? (fields) => { try { window.plwsReport(JSON.stringify(fields)); } catch (e) {} }
    : (fields) =>
        fetch(cfg.root + "event?" + new URLSearchParams(fields).toString(), {cache: "no-store"}).catch(() => {});

  if (cfg.embedded) {
    // The saver judges input itself and hands the movie only what it lets through.
  } else if (cfg.preview) {
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
  // On a browser that draws without a graphics card the emulator lays a
  // notice about it over the movie at the first pointer over it; here it
  // would take the movie's clicks until one closed it, and nobody reads it.
  const quiet = document.createElement("style");
  quiet.textContent = "#hardware-acceleration-modal { display: none !important; }";
  if (player.shadowRoot) player.shadowRoot.appendChild(quiet);
  player.addEventListener("loadeddata", () => report({kind: "loaded"}));
  // The saver pauses the movie while it withholds the movie's time.
  window.plwsPause = (paused) => {
    try {
      if (paused) player.ruffle().suspend(); else player.ruffle().resume();
      report({kind: "paused", paused: player.ruffle().suspended});
    } catch (e) {
      report({kind: "error", message: String(e)});
    }
  };
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
