// The little JSON of the DevTools messages and of the page's configuration,
// and the UTF-8 text it carries.
#include "flash/json.h"

#include <cstring>

#include "util/utils.h"

namespace {

// Decodes one UTF-8 sequence at S[I]; advances I. -1 for a bad sequence
// (I then moves past one byte).
int32_t NextCodePoint(const std::string& S, size_t& I) {
  auto bad = [&I] {
    ++I;
    return -1;
  };
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
    return bad();
  }
  if (I + extra >= S.size()) return bad();
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<uint8_t>(S[I + k]);
    if ((b & 0xC0) != 0x80) return bad();
    cp = cp << 6 | (b & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  static const int32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return bad();
  I += extra + 1;
  return cp;
}


// Reads one JSON value, recursively (at most 64 levels deep).
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
    if (c == '{' || c == '[') {
      // An object's members and an array's items: the same list but for the names.
      const bool object = c == '{';
      const char close = object ? '}' : ']';
      V.Kind = object ? TJson::Object : TJson::Array;
      ++P;
      Blank();
      if (P < S.size() && S[P] == close) return ++P, true;
      for (;;) {
        std::string key;
        if (object) {
          Blank();
          if (!String(key)) return false;
          Blank();
          if (P >= S.size() || S[P++] != ':') return false;
        }
        TJson item;
        if (!Value(item, Depth + 1)) return false;
        if (object)
          V.Members.emplace_back(std::move(key), std::move(item));
        else
          V.Items.push_back(std::move(item));
        Blank();
        if (P >= S.size()) return false;
        if (S[P] == ',') { ++P; continue; }
        if (S[P] == close) return ++P, true;
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

bool IsValidUtf8(const std::string& S) {
  for (size_t i = 0; i < S.size();)
    if (NextCodePoint(S, i) < 0) return false;
  return true;
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

TJson::TJson() = default;
TJson::~TJson() = default;
TJson::TJson(const TJson&) = default;
TJson::TJson(TJson&&) noexcept = default;
TJson& TJson::operator=(const TJson&) = default;
TJson& TJson::operator=(TJson&&) noexcept = default;

const TJson* TJson::Get(const std::string& Key) const {
  for (const auto& [k, v] : Members)
    if (k == Key) return &v;
  return nullptr;
}

std::optional<TJson> ParseJson(const std::string& Text) { return TJsonParser(Text).Document(); }
