#include "dialog/browser.h"

#include <algorithm>

#include "dialog/text_format.h"
#include "util/texts.h"
#include "util/utils.h"

EURLDecodeError::EURLDecodeError(std::u16string Message)
    : std::runtime_error(Utf16ToUtf8(Message)), FMessage(std::move(Message)) {}

namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// Throws for the first bad escape in a field; the decoded text itself is not
// needed, only the proof that it decodes.
void CheckURLEncoded(std::string_view Field) {
  for (size_t i = 0; i < Field.size(); ++i) {
    if (Field[i] != '%') continue;
    const int position = static_cast<int>(i) + 1;
    if (i + 1 < Field.size() && Field[i + 1] == '%') {
      ++i;
      continue;
    }
    if (i + 2 >= Field.size())
      throw EURLDecodeError(FormatText(DialogTexts::kErrorDecodingURLText, {ToUtf16(position)}));
    if (HexPairValue(Field, i + 1) < 0)
      throw EURLDecodeError(FormatText(DialogTexts::kInvalidURLEncodedChar,
                                       {AsciiToUtf16(Field.substr(i, 3)), ToUtf16(position)}));
    i += 2;
  }
}

struct TField {
  size_t Begin, End;  // End is where its terminator (or the text's end) stands
};

std::vector<TField> SplitFields(const std::string& S) {
  std::vector<TField> fields;
  size_t p = 0;
  while (p < S.size()) {
    while (p < S.size() && (S[p] == '\r' || S[p] == '\n')) ++p;
    const size_t begin = p;
    bool inQuote = false;
    while (p < S.size()) {
      const char c = S[p];
      if (c == '"') inQuote = !inQuote;
      else if (!inQuote && (c == ':' || c == '\r' || c == '\n')) break;
      ++p;
    }
    if (p > begin) fields.push_back({begin, p});
    ++p;  // past the terminator
  }
  return fields;
}

bool IsSchemeName(std::string_view S) {
  if (S.empty() || !IsAsciiLetter(S[0])) return false;
  for (char c : S)
    if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '+' && c != '-' && c != '.') return false;
  return true;
}

bool IsBlank(char c) { return c >= 1 && c <= ' '; }

}  // namespace

std::string CompleteScheme(const std::string& Address) {
  const std::vector<TField> fields = SplitFields(Address);
  for (const TField& f : fields) CheckURLEncoded(std::string_view(Address).substr(f.Begin, f.End - f.Begin));
  if (Address.empty()) return Address;
  if (!fields.empty()) {
    const TField& first = fields.front();
    const std::string_view name = std::string_view(Address).substr(first.Begin, first.End - first.Begin);
    const bool colonAfter = first.End < Address.size() && Address[first.End] == ':';
    const bool portAfter = colonAfter && first.End + 1 < Address.size() && IsAsciiDigit(Address[first.End + 1]);
    if (IsSchemeName(name) && colonAfter && !portAfter) return Address;
  }
  return "http://" + Address;
}

std::vector<std::string> SplitDelimitedWords(const std::string& Text) {
  std::vector<std::string> words;
  size_t p = 0;
  const size_t n = std::min(Text.size(), Text.find('\0'));  // a C text ends at its NUL
  auto skipBlanks = [&] {
    while (p < n && IsBlank(Text[p])) ++p;
  };
  skipBlanks();
  while (p < n) {
    std::string word;
    if (Text[p] == '"') {
      ++p;
      while (p < n) {
        if (Text[p] == '"') {
          if (p + 1 < n && Text[p + 1] == '"') {
            word += '"';
            p += 2;
            continue;
          }
          ++p;  // the closing quote
          break;
        }
        word += Text[p++];
      }
    } else {
      const size_t begin = p;
      while (p < n && !IsBlank(Text[p]) && Text[p] != ',') ++p;
      word.assign(Text, begin, p - begin);
    }
    words.push_back(std::move(word));
    skipBlanks();
    if (p < n && Text[p] == ',') {
      if (p + 1 == n) words.emplace_back();
      ++p;
      skipBlanks();
    }
  }
  return words;
}

std::string BrowserProgramFromCommand(const std::string& UnquotedCommand,
                                      const std::function<bool(const std::string&)>& IsFile) {
  if (UnquotedCommand.empty()) return {};
  if (IsFile && IsFile(UnquotedCommand)) return UnquotedCommand;
  std::string path;
  for (const std::string& word : SplitDelimitedWords(UnquotedCommand)) {
    if (word.find_first_of("-/%") != std::string::npos) continue;
    path += word;
    path += ' ';
  }
  size_t b = 0, e = path.size();
  while (b < e && static_cast<unsigned char>(path[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(path[e - 1]) <= ' ') --e;
  return path.substr(b, e - b);
}
