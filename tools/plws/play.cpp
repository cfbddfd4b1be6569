#include "tools/plws/play.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "package/zlibex.h"
#include "tools/plws/platform.h"
#include "tools/plws/plws.h"
#include "util/utils.h"

// ---------------------------------------------------------------- arguments

TPlayOptions ParsePlayArgs(const std::vector<std::string>& Args) {
  TPlayOptions o;
  bool afterGiven = false;
  for (size_t i = 0; i < Args.size(); ++i) {
    const std::string& a = Args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= Args.size()) throw EPlwsError("play: " + a + " needs a value");
      return Args[++i];
    };
    if (a == "--preview") {
      o.Preview = true;
    } else if (a == "--window") {
      const std::string v = value();
      int w = 0, h = 0;
      char extra = 0;
      if (std::sscanf(v.c_str(), "%dx%d%c", &w, &h, &extra) != 2 || w < 16 || h < 16 || w > 16384 ||
          h > 16384)
        throw EPlwsError("play: --window needs WIDTHxHEIGHT (16..16384), got \"" + v + "\"");
      o.Width = w;
      o.Height = h;
    } else if (a == "--screenshot") {
      o.Screenshot = value();
      if (o.Screenshot.empty()) throw EPlwsError("play: --screenshot needs a file name");
    } else if (a == "--after") {
      const std::string v = value();
      char* end = nullptr;
      o.AfterSeconds = std::strtod(v.c_str(), &end);
      if (v.empty() || *end != '\0' || !std::isfinite(o.AfterSeconds) || o.AfterSeconds < 0 ||
          o.AfterSeconds > 3600)
        throw EPlwsError("play: --after needs seconds (0..3600), got \"" + v + "\"");
      afterGiven = true;
    } else if (!a.empty() && a[0] == '-') {
      throw EPlwsError("play: unknown option " + a);
    } else if (o.File.empty()) {
      o.File = a;
    } else {
      throw EPlwsError("play: unexpected argument " + a);
    }
  }
  if (o.File.empty()) throw EPlwsError("play needs a FILE");
  if (afterGiven && o.Screenshot.empty()) throw EPlwsError("play: --after goes with --screenshot");
  return o;
}

// --------------------------------------------------------------------- text

namespace {

// Decodes one UTF-8 sequence at S[I]; advances I. -1 for a bad sequence
// (I then moves past one byte).
int32_t NextCodePoint(const std::string& S, size_t& I) {
  const auto b0 = static_cast<uint8_t>(S[I]);
  int extra = 0;
  int32_t cp = 0;
  if (b0 < 0x80) {
    ++I;
    return b0;
  } else if (b0 >= 0xC2 && b0 <= 0xDF) {
    extra = 1, cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    extra = 2, cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    extra = 3, cp = b0 & 0x07;
  } else {
    ++I;
    return -1;
  }
  if (I + extra >= S.size()) {
    ++I;
    return -1;
  }
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<uint8_t>(S[I + k]);
    if ((b & 0xC0) != 0x80) {
      ++I;
      return -1;
    }
    cp = cp << 6 | (b & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  static const int32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++I;
    return -1;
  }
  I += extra + 1;
  return cp;
}

bool IsValidUtf8(const std::string& S) {
  for (size_t i = 0; i < S.size();)
    if (NextCodePoint(S, i) < 0) return false;
  return true;
}

void AppendUtf8(std::string& Out, uint32_t Cp) {
  if (Cp < 0x80) {
    Out += static_cast<char>(Cp);
  } else if (Cp < 0x800) {
    Out += static_cast<char>(0xC0 | Cp >> 6);
    Out += static_cast<char>(0x80 | (Cp & 0x3F));
  } else if (Cp < 0x10000) {
    Out += static_cast<char>(0xE0 | Cp >> 12);
    Out += static_cast<char>(0x80 | ((Cp >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Cp & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | Cp >> 18);
    Out += static_cast<char>(0x80 | ((Cp >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((Cp >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Cp & 0x3F));
  }
}

}  // namespace

std::string AnsiToUtf8(const std::string& Text) {
  if (IsValidUtf8(Text)) return Text;
  if (auto sjis = ShiftJisToUtf8(Text)) return *sjis;
  std::string out;
  for (unsigned char c : Text) AppendUtf8(out, c);
  return out;
}

std::string JsonString(const std::string& Text) {
  auto unit = [&](std::string& out, uint32_t u) {
    out += "\\u" + HexByte(static_cast<unsigned char>(u >> 8), false) + HexByte(u & 0xFF, false);
  };
  std::string out = "\"";
  for (size_t i = 0; i < Text.size();) {
    int32_t cp = NextCodePoint(Text, i);
    if (cp < 0) cp = 0xFFFD;
    if (cp == '"') out += "\\\"";
    else if (cp == '\\') out += "\\\\";
    else if (cp == '\n') out += "\\n";
    else if (cp >= 0x20 && cp < 0x7F && cp != '<' && cp != '>' && cp != '&') out += static_cast<char>(cp);
    else if (cp < 0x10000) unit(out, static_cast<uint32_t>(cp));
    else {
      const uint32_t v = static_cast<uint32_t>(cp) - 0x10000;
      unit(out, 0xD800 | (v >> 10));
      unit(out, 0xDC00 | (v & 0x3FF));
    }
  }
  return out + "\"";
}

// --------------------------------------------------------------------- page

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

// ------------------------------------------------------------------- server

std::string MimeTypeFor(const std::string& Path) {
  static const std::map<std::string, std::string> kTypes = {
      {"html", "text/html; charset=utf-8"}, {"htm", "text/html; charset=utf-8"},
      {"js", "text/javascript"},           {"mjs", "text/javascript"},
      {"wasm", "application/wasm"},        {"swf", "application/x-shockwave-flash"},
      {"json", "application/json"},        {"map", "application/json"},
      {"xml", "text/xml"},                 {"txt", "text/plain"},
      {"css", "text/css"},                 {"png", "image/png"},
      {"jpg", "image/jpeg"},               {"jpeg", "image/jpeg"},
      {"gif", "image/gif"},                {"bmp", "image/bmp"},
      {"svg", "image/svg+xml"},            {"mp3", "audio/mpeg"},
      {"wav", "audio/wav"},                {"flv", "video/x-flv"},
      {"mp4", "video/mp4"},                {"ttf", "font/ttf"},
      {"otf", "font/otf"},                 {"woff", "font/woff"},
      {"woff2", "font/woff2"},
  };
  const size_t slash = Path.find_last_of('/');
  const size_t dot = Path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return "application/octet-stream";
  std::string ext = Path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  const auto it = kTypes.find(ext);
  return it == kTypes.end() ? "application/octet-stream" : it->second;
}

std::string PercentDecode(const std::string& Text, bool& Ok) {
  std::string out;
  Ok = true;
  for (size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] != '%') {
      out += Text[i];
      continue;
    }
    const int hi = i + 1 < Text.size() ? HexDigitValue(Text[i + 1]) : -1;
    const int lo = i + 2 < Text.size() ? HexDigitValue(Text[i + 2]) : -1;
    if (hi < 0 || lo < 0) {
      Ok = false;
      return {};
    }
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

std::string PercentEncodeSegment(const std::string& Text) {
  std::string out;
  for (unsigned char c : Text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
        std::strchr("-._~!$'()*,;=@", c))
      out += static_cast<char>(c);
    else
      out += '%' + HexByte(c);
  }
  return out;
}

TRequestTarget ParseRequestTarget(const std::string& Target) {
  TRequestTarget t;
  const size_t q = Target.find('?');
  const std::string path = Target.substr(0, q);
  if (path.empty() || path[0] != '/') {
    t.Kind = TRequestTarget::Bad;
    return t;
  }
  if (q != std::string::npos) {
    const std::string query = Target.substr(q + 1);
    size_t start = 0;
    while (start <= query.size()) {
      const size_t amp = std::min(query.find('&', start), query.size());
      std::string pair = query.substr(start, amp - start);
      for (char& c : pair)
        if (c == '+') c = ' ';
      const size_t eq = pair.find('=');
      bool ok1 = true, ok2 = true;
      const std::string key = PercentDecode(pair.substr(0, eq), ok1);
      const std::string value = eq == std::string::npos ? "" : PercentDecode(pair.substr(eq + 1), ok2);
      if (!ok1 || !ok2) {
        t.Kind = TRequestTarget::Bad;
        return t;
      }
      if (!key.empty()) t.Query[key] = value;
      start = amp + 1;
    }
  }
  if (path == "/") {
    t.Kind = TRequestTarget::Page;
    return t;
  }
  if (path == "/event") {
    t.Kind = TRequestTarget::Event;
    return t;
  }
  std::string rest;
  if (path.rfind("/ruffle/", 0) == 0) {
    t.Kind = TRequestTarget::Ruffle;
    rest = path.substr(8);
  } else if (path.rfind("/m/", 0) == 0) {
    t.Kind = TRequestTarget::Movie;
    rest = path.substr(3);
  } else {
    return t;  // NotFound
  }
  size_t start = 0;
  while (start <= rest.size()) {
    const size_t slash = std::min(rest.find('/', start), rest.size());
    bool ok = true;
    const std::string seg = PercentDecode(rest.substr(start, slash - start), ok);
    if (!ok || seg.empty() || seg == "." || seg == ".." || seg.find_first_of(std::string("/\\\0", 3)) != std::string::npos) {
      t.Kind = TRequestTarget::Bad;
      t.Segments.clear();
      return t;
    }
    t.Segments.push_back(seg);
    start = slash + 1;
  }
  // The player's files lie in one flat folder.
  if (t.Kind == TRequestTarget::Ruffle && t.Segments.size() != 1) {
    t.Kind = TRequestTarget::NotFound;
    t.Segments.clear();
  }
  return t;
}

std::optional<std::string> StripRunToken(const std::string& Target, const std::string& Token) {
  if (Token.empty() || Target.size() < Token.size() + 2 || Target[0] != '/' || Target[Token.size() + 1] != '/')
    return std::nullopt;
  // Every byte is compared, so the answer takes as long whatever the guess.
  unsigned char differ = 0;
  for (size_t i = 0; i < Token.size(); ++i) differ |= static_cast<unsigned char>(Target[i + 1] ^ Token[i]);
  if (differ) return std::nullopt;
  return Target.substr(Token.size() + 1);
}

bool FsCommandEndsRun(const std::string& Command, bool Preview) { return !Preview && IsQuitCommand(Command); }

// ------------------------------------------------------------------ browser

std::vector<std::string> BrowserArgs(const TBrowserLaunch& L) {
  std::vector<std::string> a = {
      // Nothing but the local server may be reached: every other host name
      // resolves to nothing, and the browser's own services stay off.
      "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
      "--no-first-run",
      "--no-default-browser-check",
      "--disable-default-apps",
      "--disable-extensions",
      "--disable-breakpad",
      "--disable-features=Translate,MediaRouter,OptimizationHints",
      "--noerrdialogs",
      "--disable-session-crashed-bubble",
      "--password-store=basic",
      "--autoplay-policy=no-user-gesture-required",
      // Ruffle falls back to its canvas renderer, which works on any display.
      "--disable-gpu",
      "--user-data-dir=" + L.ProfileDir,
      "--window-position=0,0",
  };
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

// ---------------------------------------------------------------------- SWF

std::optional<std::vector<uint8_t>> SwfStopAtLastFrame(const std::vector<uint8_t>& Swf) {
  if (!LooksLikeSwf(Swf.data(), static_cast<int32_t>(Swf.size())) || Swf[0] == 'Z') return std::nullopt;
  std::vector<uint8_t> body(Swf.begin(), Swf.begin() + 8);
  if (Swf[0] == 'C') {
    try {
      void* out = nullptr;
      int32_t outSize = 0;
      DecompressBuffer(Swf.data() + 8, static_cast<int32_t>(std::min<size_t>(Swf.size() - 8, INT32_MAX)),
                       out, outSize, 0);
      body.insert(body.end(), static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + outSize);
      std::free(out);
    } catch (const EZLibError&) {
      return std::nullopt;
    }
  } else {
    body = Swf;
  }
  const size_t end = body.size();
  if (end < 9) return std::nullopt;
  // Header: signature, version, length, frame rectangle (5-bit field size,
  // then four fields), frame rate and count.
  const size_t rectBits = 5 + 4 * static_cast<size_t>(body[8] >> 3);
  size_t pos = 8 + (rectBits + 7) / 8 + 4;
  const size_t tagsStart = pos;
  std::vector<size_t> frameStarts = {tagsStart};
  size_t afterFileAttributes = tagsStart;
  bool sawEnd = false;
  while (pos + 2 <= end) {
    const size_t tagStart = pos;
    const uint16_t header = static_cast<uint16_t>(body[pos] | body[pos + 1] << 8);
    pos += 2;
    const uint16_t code = header >> 6;
    size_t length = header & 0x3F;
    if (length == 0x3F) {
      if (pos + 4 > end) return std::nullopt;
      length = body[pos] | body[pos + 1] << 8 | body[pos + 2] << 16 | static_cast<size_t>(body[pos + 3]) << 24;
      pos += 4;
    }
    if (length > end - pos) return std::nullopt;
    if (code == 69) {  // FileAttributes: ActionScript 3 movies ignore our action
      if (length >= 1 && (body[pos] & 0x08)) return std::nullopt;
      if (tagStart == tagsStart) afterFileAttributes = pos + length;
    }
    pos += length;
    if (code == 1) frameStarts.push_back(pos);  // ShowFrame ends a frame
    if (code == 0) {
      sawEnd = true;
      break;
    }
  }
  if (!sawEnd || frameStarts.size() < 2) return std::nullopt;
  // The last frame starts after the next-to-last ShowFrame; FileAttributes
  // must stay the first tag.
  size_t at = frameStarts[frameStarts.size() - 2];
  if (at == tagsStart) at = afterFileAttributes;
  static const uint8_t kStopTag[] = {0x02, 0x03, 0x07, 0x00};  // DoAction(12), 2 bytes: Stop, End
  std::vector<uint8_t> out(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(at));
  out.insert(out.end(), kStopTag, kStopTag + sizeof kStopTag);
  out.insert(out.end(), body.begin() + static_cast<std::ptrdiff_t>(at), body.end());
  out[0] = 'F';
  const uint32_t length = static_cast<uint32_t>(out.size());
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(length >> (8 * i));
  return out;
}

// --------------------------------------------------------------------- JSON

const TJson* TJson::Get(const std::string& Key) const {
  for (const auto& [k, v] : Members)
    if (k == Key) return &v;
  return nullptr;
}

namespace {

class TJsonParser {
 public:
  explicit TJsonParser(const std::string& Text) : S(Text) {}
  std::optional<TJson> Document() {
    TJson v;
    if (!Value(v, 0)) return std::nullopt;
    Blank();
    if (P != S.size()) return std::nullopt;
    return v;
  }

 private:
  void Blank() {
    while (P < S.size() && (S[P] == ' ' || S[P] == '\t' || S[P] == '\n' || S[P] == '\r')) ++P;
  }
  bool Literal(const char* Word) {
    const size_t n = std::strlen(Word);
    if (S.compare(P, n, Word) != 0) return false;
    P += n;
    return true;
  }
  bool Hex4(uint32_t& U) {
    if (P + 4 > S.size()) return false;
    U = 0;
    for (int i = 0; i < 4; ++i) {
      const int h = HexDigitValue(S[P++]);
      if (h < 0) return false;
      U = U << 4 | static_cast<uint32_t>(h);
    }
    return true;
  }
  bool String(std::string& Out) {
    if (P >= S.size() || S[P] != '"') return false;
    ++P;
    while (P < S.size()) {
      const char c = S[P++];
      if (c == '"') return true;
      if (c != '\\') {
        Out += c;
        continue;
      }
      if (P >= S.size()) return false;
      const char e = S[P++];
      switch (e) {
        case '"': Out += '"'; break;
        case '\\': Out += '\\'; break;
        case '/': Out += '/'; break;
        case 'b': Out += '\b'; break;
        case 'f': Out += '\f'; break;
        case 'n': Out += '\n'; break;
        case 'r': Out += '\r'; break;
        case 't': Out += '\t'; break;
        case 'u': {
          uint32_t u = 0;
          if (!Hex4(u)) return false;
          if (u >= 0xD800 && u <= 0xDBFF && P + 6 <= S.size() && S[P] == '\\' && S[P + 1] == 'u') {
            P += 2;
            uint32_t lo = 0;
            if (!Hex4(lo) || lo < 0xDC00 || lo > 0xDFFF) return false;
            u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
          } else if (u >= 0xD800 && u <= 0xDFFF) {
            u = 0xFFFD;
          }
          AppendUtf8(Out, u);
          break;
        }
        default: return false;
      }
    }
    return false;
  }
  bool Value(TJson& V, int Depth) {
    if (Depth > 64) return false;
    Blank();
    if (P >= S.size()) return false;
    const char c = S[P];
    if (c == '{') {
      V.Kind = TJson::Object;
      ++P;
      Blank();
      if (P < S.size() && S[P] == '}') return ++P, true;
      for (;;) {
        Blank();
        std::string key;
        if (!String(key)) return false;
        Blank();
        if (P >= S.size() || S[P++] != ':') return false;
        TJson member;
        if (!Value(member, Depth + 1)) return false;
        V.Members.emplace_back(std::move(key), std::move(member));
        Blank();
        if (P >= S.size()) return false;
        if (S[P] == ',') { ++P; continue; }
        if (S[P] == '}') return ++P, true;
        return false;
      }
    }
    if (c == '[') {
      V.Kind = TJson::Array;
      ++P;
      Blank();
      if (P < S.size() && S[P] == ']') return ++P, true;
      for (;;) {
        TJson item;
        if (!Value(item, Depth + 1)) return false;
        V.Items.push_back(std::move(item));
        Blank();
        if (P >= S.size()) return false;
        if (S[P] == ',') { ++P; continue; }
        if (S[P] == ']') return ++P, true;
        return false;
      }
    }
    if (c == '"') {
      V.Kind = TJson::String;
      return String(V.StringValue);
    }
    if (Literal("true")) return V.Kind = TJson::Bool, V.BoolValue = true, true;
    if (Literal("false")) return V.Kind = TJson::Bool, V.BoolValue = false, true;
    if (Literal("null")) return V.Kind = TJson::Null, true;
    const size_t start = P;
    while (P < S.size() && std::strchr("+-0123456789.eE", S[P]) && S[P] != '\0') ++P;
    if (P == start) return false;
    const std::string number = S.substr(start, P - start);
    char* endp = nullptr;
    V.Kind = TJson::Number;
    V.NumberValue = std::strtod(number.c_str(), &endp);
    return endp && *endp == '\0';
  }
  const std::string& S;
  size_t P = 0;
};

}  // namespace

std::optional<TJson> ParseJson(const std::string& Text) { return TJsonParser(Text).Document(); }

std::optional<std::vector<uint8_t>> Base64Decode(const std::string& Text) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  if (Text.size() % 4) return std::nullopt;
  std::vector<uint8_t> out;
  out.reserve(Text.size() / 4 * 3);
  for (size_t i = 0; i < Text.size(); i += 4) {
    const bool last = i + 4 == Text.size();
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = Text[i + k];
      if (c == '=' && last && k >= 2) {
        v[k] = 0;
        ++pad;
        continue;
      }
      if (pad) return std::nullopt;  // data after padding
      v[k] = value(c);
      if (v[k] < 0) return std::nullopt;
    }
    const uint32_t n = static_cast<uint32_t>(v[0] << 18 | v[1] << 12 | v[2] << 6 | v[3]);
    out.push_back(static_cast<uint8_t>(n >> 16));
    if (pad < 2) out.push_back(static_cast<uint8_t>(n >> 8));
    if (pad < 1) out.push_back(static_cast<uint8_t>(n));
  }
  return out;
}
