#include "flash/browser_player.h"

#include <algorithm>
#include <cmath>
#include <cstring>

bool TDevToolsFramer::Append(const char* Data, size_t Size) {
  if (FFailed) return false;
  FBuffer.append(Data, Size);
  // Only the bytes after the last complete message can be an unfinished one.
  const size_t nul = FBuffer.find('\0', FScanned);
  const size_t open = nul == std::string::npos ? FBuffer.size() : nul;
  if (open > FLimit) {
    FFailed = true;
    FBuffer.clear();
    return false;
  }
  return true;
}

std::optional<std::string> TDevToolsFramer::Next() {
  if (FFailed) return std::nullopt;
  const size_t nul = FBuffer.find('\0', FScanned);
  if (nul == std::string::npos) {
    FScanned = FBuffer.size();
    return std::nullopt;
  }
  std::string message = FBuffer.substr(0, nul);
  FBuffer.erase(0, nul + 1);
  FScanned = 0;
  if (FBuffer.find('\0') == std::string::npos && FBuffer.size() > FLimit) {
    FFailed = true;
    FBuffer.clear();
  }
  return message;
}

std::optional<TDevToolsMessage> ReadDevToolsMessage(const std::string& Text) {
  auto json = ParseJson(Text);
  if (!json || json->Kind != TJson::Object) return std::nullopt;
  TDevToolsMessage m;
  if (const TJson* id = json->Get("id")) {
    // Ids are ours, small whole numbers; anything else answers nothing we sent.
    if (id->Kind != TJson::Number || id->NumberValue < 0 || id->NumberValue > 9.0e15 ||
        std::floor(id->NumberValue) != id->NumberValue)
      return std::nullopt;
    m.Id = static_cast<int64_t>(id->NumberValue);
  }
  if (const TJson* method = json->Get("method"); method && method->Kind == TJson::String)
    m.Method = method->StringValue;
  if (!m.Id && m.Method.empty()) return std::nullopt;
  if (const TJson* session = json->Get("sessionId"); session && session->Kind == TJson::String)
    m.SessionId = session->StringValue;
  if (const TJson* error = json->Get("error")) {
    const TJson* what = error->Get("message");
    m.Error = what && what->Kind == TJson::String ? what->StringValue : std::string("error");
  }
  for (const char* key : {"params", "result"}) {
    auto it = std::find_if(json->Members.begin(), json->Members.end(), [&](auto& p) { return p.first == key; });
    if (it != json->Members.end()) m.Params = std::move(it->second);
  }
  return m;
}

std::string DevToolsCommand(int64_t Id, const std::string& Method, const std::string& Params,
                            const std::string& Session) {
  std::string m = "{\"id\":" + std::to_string(Id) + ",\"method\":" + JsonString(Method);
  if (!Params.empty()) m += ",\"params\":" + Params;
  if (!Session.empty()) m += ",\"sessionId\":" + JsonString(Session);
  return m + "}";
}

void PageSizeFor(int StageW, int StageH, int WndW, int WndH, bool ShowAll, int& PageW, int& PageH) {
  WndW = std::max(WndW, 1);
  WndH = std::max(WndH, 1);
  if (StageW <= 0 || StageH <= 0) {
    PageW = WndW, PageH = WndH;
    return;
  }
  if (StageW <= WndW && StageH <= WndH) {
    PageW = StageW, PageH = StageH;
  } else if (!ShowAll) {
    PageW = WndW, PageH = WndH;
  } else {
    // The side with the smaller scale takes the window's size.
    const double scale = std::min(static_cast<double>(WndW) / StageW, static_cast<double>(WndH) / StageH);
    PageW = std::clamp(static_cast<int>(StageW * scale), 1, WndW);
    PageH = std::clamp(static_cast<int>(StageH * scale), 1, WndH);
  }
}

TFrameRect FitFrame(int FrameW, int FrameH, int WndW, int WndH, bool ShowAll) {
  TFrameRect r;
  if (FrameW <= 0 || FrameH <= 0 || WndW <= 0 || WndH <= 0) return r;
  if (ShowAll) {
    const double scale = std::min(static_cast<double>(WndW) / FrameW, static_cast<double>(WndH) / FrameH);
    r.Width = std::clamp(static_cast<int>(std::lround(FrameW * scale)), 1, WndW);
    r.Height = std::clamp(static_cast<int>(std::lround(FrameH * scale)), 1, WndH);
  } else {
    r.Width = FrameW;
    r.Height = FrameH;
  }
  // Centred; a frame larger than the window hangs over both edges alike.
  r.Left = (WndW - r.Width) / 2;
  r.Top = (WndH - r.Height) / 2;
  return r;
}

void WindowToPage(const TFrameRect& Fit, int PageW, int PageH, int X, int Y, double& PageX, double& PageY) {
  if (Fit.Width <= 0 || Fit.Height <= 0) {
    PageX = PageY = 0;
    return;
  }
  const double x = std::clamp(X - Fit.Left, 0, Fit.Width - 1) + 0.5;
  const double y = std::clamp(Y - Fit.Top, 0, Fit.Height - 1) + 0.5;
  PageX = std::floor(x * PageW / Fit.Width);
  PageY = std::floor(y * PageH / Fit.Height);
}

std::string KeyEventParams(unsigned Vk, bool Down, bool Shift) {
  std::string key, code, text;
  if (Vk >= 'A' && Vk <= 'Z') {
    const char c = static_cast<char>(Shift ? Vk : Vk + 32);
    key = text = std::string(1, c);
    code = std::string("Key") + static_cast<char>(Vk);
  } else if (Vk >= '0' && Vk <= '9') {
    key = text = std::string(1, static_cast<char>(Vk));
    code = std::string("Digit") + static_cast<char>(Vk);
  } else {
    struct TNamed {
      unsigned Vk;
      const char* Key;
      const char* Code;
      const char* Text;
    };
    static const TNamed kNamed[] = {
        {0x08, "Backspace", "Backspace", ""}, {0x09, "Tab", "Tab", ""},
        {0x0D, "Enter", "Enter", "\r"},       {0x10, "Shift", "ShiftLeft", ""},
        {0x11, "Control", "ControlLeft", ""}, {0x12, "Alt", "AltLeft", ""},
        {0x1B, "Escape", "Escape", ""},       {0x20, " ", "Space", " "},
        {0x21, "PageUp", "PageUp", ""},       {0x22, "PageDown", "PageDown", ""},
        {0x23, "End", "End", ""},             {0x24, "Home", "Home", ""},
        {0x25, "ArrowLeft", "ArrowLeft", ""}, {0x26, "ArrowUp", "ArrowUp", ""},
        {0x27, "ArrowRight", "ArrowRight", ""}, {0x28, "ArrowDown", "ArrowDown", ""},
        {0x2D, "Insert", "Insert", ""},       {0x2E, "Delete", "Delete", ""},
    };
    const auto it = std::find_if(std::begin(kNamed), std::end(kNamed), [&](const TNamed& n) { return n.Vk == Vk; });
    if (it == std::end(kNamed)) return {};
    key = it->Key, code = it->Code, text = it->Text;
  }
  std::string p = "{\"type\":";
  p += Down ? (text.empty() ? "\"rawKeyDown\"" : "\"keyDown\"") : "\"keyUp\"";
  p += ",\"windowsVirtualKeyCode\":" + std::to_string(Vk) + ",\"nativeVirtualKeyCode\":" + std::to_string(Vk);
  p += ",\"key\":" + JsonString(key) + ",\"code\":" + JsonString(code);
  if (Down && !text.empty()) p += ",\"text\":" + JsonString(text) + ",\"unmodifiedText\":" + JsonString(text);
  if (Shift) p += ",\"modifiers\":8";
  return p + "}";
}

std::vector<std::string> QuietBrowserArgs() {
  return {
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
      "--disable-extensions",
      "--disable-default-apps",
      "--disable-breakpad",
      "--disable-features=Translate,MediaRouter,OptimizationHints",
      "--no-first-run",
      "--no-default-browser-check",
      "--noerrdialogs",
      "--password-store=basic",
      "--autoplay-policy=no-user-gesture-required",
      "--disable-gpu",
  };
}

std::vector<std::string> BrowserPlayerArgs(const std::string& ProfileDir) {
  std::vector<std::string> a = QuietBrowserArgs();
  a.insert(a.end(), {
      "--headless",
      "--remote-debugging-pipe",
      "--user-data-dir=" + ProfileDir,
      // Nothing may be reached: the page and its files come through the
      // protocol, and every host name resolves to nothing.
      "--host-resolver-rules=MAP * ~NOTFOUND",
      "--disable-crash-reporter",
      "--mute-audio",
      "--hide-scrollbars",
      // Every page is a player on show, whether or not the browser thinks
      // it is seen: its timers, frames and pictures run at full pace.
      "--disable-renderer-backgrounding",
      "--disable-background-timer-throttling",
      "--disable-backgrounding-occluded-windows",
      "about:blank",
  });
  return a;
}

std::string QuoteCommandLine(const std::vector<std::string>& Args) {
  std::string line;
  for (const std::string& a : Args) {
    if (!line.empty()) line += ' ';
    if (!a.empty() && a.find_first_of(" \t\"") == std::string::npos) {
      line += a;
      continue;
    }
    line += '"';
    size_t backslashes = 0;
    for (char c : a) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      // Backslashes count double only in front of a quote.
      line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
      backslashes = 0;
      line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
  }
  return line;
}

double FrameRateWithin(double MovieRate, unsigned MinGapMs) {
  if (MinGapMs == 0 || !(MovieRate > 0)) return 0;
  const double limit = 1000.0 / MinGapMs;
  return MovieRate > limit ? limit : 0;
}
