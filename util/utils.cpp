#include "util/utils.h"

#include <charconv>
#include <cstdint>

bool IsShiftJisLeadByte(unsigned char Byte) { return (Byte >= 0x81 && Byte <= 0x9F) || (Byte >= 0xE0 && Byte <= 0xFC); }

bool IsSingleByteLeadByte(unsigned char) { return false; }

namespace {

// Length of the character starting at I: two bytes for a lead byte that has
// a byte after it, else one (a lead byte cut off at the end stands alone).
size_t CharLength(const std::string& S, size_t I, TLeadByteTest IsLead) {
  return IsLead(static_cast<unsigned char>(S[I])) && I + 1 < S.size() ? 2 : 1;
}

// A decimal integer, optionally signed and after leading blanks, that fills
// the rest of the text and fits 32 bits; anything else counts as 0.
int64_t VersionPart(const std::string& S) {
  const char* first = S.data();
  const char* last = S.data() + S.size();
  while (first != last && (*first == ' ' || *first == '\t')) ++first;
  if (first != last && *first == '+') ++first;
  int32_t value = 0;
  const auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end != last || first == last) return 0;
  return value;
}

}  // namespace

size_t AnsiPos(const std::string& S, const std::string& Sub, TLeadByteTest IsLead) {
  if (Sub.empty()) return std::string::npos;
  for (size_t i = 0; i + Sub.size() <= S.size(); i += CharLength(S, i, IsLead)) {
    if (S.compare(i, Sub.size(), Sub) == 0) return i;
  }
  return std::string::npos;
}

std::string AnsiRemoveAll(const std::string& S, const std::string& Sub, TLeadByteTest IsLead) {
  if (Sub.empty()) return S;
  std::string out;
  out.reserve(S.size());
  size_t i = 0;
  while (i < S.size()) {
    if (S.compare(i, Sub.size(), Sub) == 0) {
      i += Sub.size();
      continue;
    }
    const size_t n = CharLength(S, i, IsLead);
    out.append(S, i, n);
    i += n;
  }
  return out;
}

bool AnsiEndsWithChar(const std::string& S, char C, TLeadByteTest IsLead) {
  // Only a walk from the start tells a trail byte from a character.
  size_t last = std::string::npos;
  for (size_t i = 0; i < S.size(); i += CharLength(S, i, IsLead)) last = i;
  return last != std::string::npos && last + 1 == S.size() && S[last] == C;
}

std::string TrimControls(const std::string& S) {
  size_t begin = 0, end = S.size();
  while (begin < end && static_cast<unsigned char>(S[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(S[end - 1]) <= 32) --end;
  return S.substr(begin, end - begin);
}

void AppendUtf8(std::string& Out, uint32_t Cp) {
  const auto put = [&Out](uint32_t Bits) { Out += static_cast<char>(Bits); };
  if (Cp < 0x80) return put(Cp);
  if (Cp < 0x800) {
    put(0xC0 | Cp >> 6);
  } else if (Cp < 0x10000) {
    put(0xE0 | Cp >> 12);
    put(0x80 | ((Cp >> 6) & 0x3F));
  } else {
    put(0xF0 | Cp >> 18);
    put(0x80 | ((Cp >> 12) & 0x3F));
    put(0x80 | ((Cp >> 6) & 0x3F));
  }
  put(0x80 | (Cp & 0x3F));
}

char AsciiLower(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }

char AsciiUpper(char C) { return C >= 'a' && C <= 'z' ? static_cast<char>(C - 'a' + 'A') : C; }

std::string AsciiLowerCase(std::string S) {
  for (char& c : S) c = AsciiLower(c);
  return S;
}

std::string AsciiUpperCase(std::string S) {
  for (char& c : S) c = AsciiUpper(c);
  return S;
}

std::optional<int64_t> ParseInteger(std::string_view Text, int64_t Min, int64_t Max, bool AllowHex) {
  size_t i = 0;
  const bool negative = !Text.empty() && Text[0] == '-';
  if (!Text.empty() && (Text[0] == '-' || Text[0] == '+')) ++i;
  int base = 10;
  if (AllowHex && (Text.substr(i, 2) == "0x" || Text.substr(i, 2) == "0X")) {
    base = 16;
    i += 2;
  }
  if (i >= Text.size()) return std::nullopt;
  // The magnitude stops before it passes 2^63, the largest any int64 limit
  // allows, so no text of any length can make it wrap.
  constexpr uint64_t kLimit = uint64_t{1} << 63;
  uint64_t magnitude = 0;
  for (; i < Text.size(); ++i) {
    const int digit = base == 16 ? HexDigitValue(Text[i]) : (Text[i] >= '0' && Text[i] <= '9' ? Text[i] - '0' : -1);
    if (digit < 0) return std::nullopt;
    if (magnitude > (kLimit - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) return std::nullopt;
    magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  if (!negative && magnitude == kLimit) return std::nullopt;
  const int64_t value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  if (value < Min || value > Max) return std::nullopt;
  return value;
}

std::optional<int32_t> ParseInt32(std::string_view Text) {
  const auto value = ParseInteger(Text, INT32_MIN, INT32_MAX);
  if (!value) return std::nullopt;
  return static_cast<int32_t>(*value);
}

int HexDigitValue(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

int HexPairValue(std::string_view Text, size_t At) {
  if (At >= Text.size() || Text.size() - At < 2) return -1;
  const int hi = HexDigitValue(Text[At]), lo = HexDigitValue(Text[At + 1]);
  return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

std::string HexByte(unsigned char Byte, bool Upper) {
  const char* digits = Upper ? "0123456789ABCDEF" : "0123456789abcdef";
  return {digits[Byte >> 4], digits[Byte & 15]};
}

std::string ExcludeTrailingChar(const std::string& S, char C) {
  if (!S.empty() && S.back() == C) return S.substr(0, S.size() - 1);
  return S;
}

std::string Quoted(const std::string& Text, TControlBytes Controls) {
  std::string out = "\"";
  for (const unsigned char c : Text) {
    if (Controls == TControlBytes::Escaped && (c < 0x20 || c == 0x7F))
      out += "\\x" + HexByte(c);
    else
      out += static_cast<char>(c);
  }
  return out + "\"";
}

std::string QuoteString(const std::string& S, char Quote, TLeadByteTest IsLead) {
  std::string out(1, Quote);
  for (size_t i = 0; i < S.size();) {
    const size_t n = CharLength(S, i, IsLead);
    if (n == 1 && S[i] == Quote) out += Quote;
    out.append(S, i, n);
    i += n;
  }
  out += Quote;
  return out;
}

std::string UnquoteString(const std::string& S, char Quote, TLeadByteTest IsLead) {
  if (S.empty() || S[0] != Quote) return S;
  std::string inside;
  for (size_t i = 1; i < S.size();) {
    const size_t n = CharLength(S, i, IsLead);
    if (n == 1 && S[i] == Quote) {
      if (i + 1 < S.size() && S[i + 1] == Quote) {
        inside += Quote;
        i += 2;
        continue;
      }
      break;  // the closing quote; the rest is ignored
    }
    inside.append(S, i, n);
    i += n;
  }
  return inside.empty() ? S : inside;
}

void SplitString(std::vector<std::string>& List, const std::string& S, char Sep, TLeadByteTest IsLead) {
  List.clear();
  const std::string sep(1, Sep);
  size_t start = 0;
  while (start < S.size()) {
    const size_t found = AnsiPos(S.substr(start), sep, IsLead);
    if (found == std::string::npos) {
      List.push_back(S.substr(start));
      return;
    }
    List.push_back(S.substr(start, found));
    start += found + 1;
  }
}

bool VersionAtLeast(const std::string& A, const std::string& B) {
  bool result = A == B;
  std::vector<std::string> a, b;
  // Version texts are ASCII digits and dots; no code page can make a trail
  // byte out of them.
  SplitString(a, A, '.', IsSingleByteLeadByte);
  SplitString(b, B, '.', IsSingleByteLeadByte);
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const int64_t x = VersionPart(a[i]), y = VersionPart(b[i]);
    if (x < y) return false;
    if (x > y) return true;
    result = true;
  }
  return result;
}

bool IsDottedVersion(const std::string& V) {
  if (V.empty() || V.front() == '.' || V.back() == '.') return false;
  std::vector<std::string> parts;
  SplitString(parts, V, '.', IsSingleByteLeadByte);
  for (const std::string& part : parts) {
    int32_t value = 0;
    const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (part.empty() || part[0] == '-' || error != std::errc() || end != part.data() + part.size()) return false;
  }
  return true;
}

std::string RegistryValueText(const char* Data, size_t Size) {
  // The last byte is the terminating zero. Data stored without one loses no
  // character: trimming takes off a zero at the end anyway.
  if (Size > 0 && Data[Size - 1] == '\0') --Size;
  return TrimControls(std::string(Data, Size));
}

std::string ShellExtensionKey(const std::string& Ext, TLeadByteTest IsLead) {
  return AnsiPos(Ext, ".", IsLead) == std::string::npos ? "." + Ext : Ext;
}

namespace {

// Text before the first occurrence of Sub, or all of Text.
std::string CutAt(const std::string& Text, const std::string& Sub, TLeadByteTest IsLead) {
  const size_t at = AnsiPos(Text, Sub, IsLead);
  return at == std::string::npos ? Text : Text.substr(0, at);
}

}  // namespace

std::string ShellOpenProgram(const std::string& Command, TLeadByteTest IsLead) {
  std::string text = Command;
  if (text.empty()) return text;
  if (AnsiPos(text, "\"", IsLead) != std::string::npos) {
    // A leading quoted program path is taken whole, so a folder such as
    // "C:\My -Tools\" survives; the options after it are cut.
    std::string head;
    if (text[0] == '"') {
      const size_t close = AnsiPos(text.substr(1), "\"", IsLead);
      if (close != std::string::npos) {
        head = text.substr(0, close + 2);
        text = text.substr(close + 2);
      }
    }
    text = head + CutAt(CutAt(text, " -", IsLead), " /", IsLead);
    text = AnsiRemoveAll(text, "\"", IsLead);
  }
  text = AnsiRemoveAll(text, "%1", IsLead);
  text = AnsiRemoveAll(text, "'", IsLead);
  text = TrimControls(text);
  // Nothing left is no program: a pair of quotes would look like one.
  if (text.empty()) return text;
  return QuoteString(text, '"', IsLead);
}

std::string JoinTempPath(const std::string& Dir, const std::string& Name, TLeadByteTest IsLead) {
  return AnsiEndsWithChar(Dir, '\\', IsLead) ? Dir + Name : Dir + "\\" + Name;
}

std::string DeletionSource(const std::string& Path, TLeadByteTest IsLead) {
  std::string source = AnsiEndsWithChar(Path, '\\', IsLead) ? Path.substr(0, Path.size() - 1) : Path;
  // The shell takes wildcards as patterns; the saver deletes one named thing.
  if (source.find_first_of("*?") != std::string::npos) return {};
  if (source.empty() || source == "\\" || source.back() == ':') return {};
  return source;
}
