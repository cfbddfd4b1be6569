// What the page's requests name: the route and the file a target names, the
// run's token, percent coding and content types.
#include "flash/request.h"

#include <algorithm>
#include <cstring>

#include "util/utils.h"

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
  const auto it = kTypes.find(AsciiLowerCase(Path.substr(dot + 1)));
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
    const int byte = HexPairValue(Text, i + 1);
    if (byte < 0) {
      Ok = false;
      return {};
    }
    out += static_cast<char>(byte);
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
