// libFuzzer target: any bytes as the dialog's link address and as a
// browser's open command. The text lives in a block of its own size and the
// build checks every index, so no routine reads past it. CompleteScheme
// either refuses with one of its two messages, pointing at a "%" of the text,
// or returns the address, with "http://" in front exactly when it has no
// scheme, and what it returns passes again unchanged. The word split
// accounts for every byte before the first NUL: words, in order, each as
// written (a quoted word with its quotes and doubled quotes), between
// separators of blanks and at most one comma. The browser program is the
// command itself when that names a file, else words without "-", "/" or "%",
// trimmed.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dialog/browser.h"
#include "dialog/text_format.h"
#include "fuzz/fuzz_support.h"
#include "util/texts.h"

namespace {

bool IsBlank(char C) { return C >= 1 && C <= ' '; }
bool IsLetter(char C) { return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z'); }
bool IsDigit(char C) { return C >= '0' && C <= '9'; }
bool IsHex(char C) { return IsDigit(C) || (C >= 'a' && C <= 'f') || (C >= 'A' && C <= 'F'); }

// After any empty fields (colons, line breaks), a scheme name and a colon
// not followed by a digit (that would be a host and its port).
bool HasScheme(const std::string& A) {
  size_t p = A.find_first_not_of(":\r\n");
  if (p == std::string::npos || !IsLetter(A[p])) return false;
  while (p < A.size() && (IsLetter(A[p]) || IsDigit(A[p]) || A[p] == '+' || A[p] == '-' || A[p] == '.')) ++p;
  return p < A.size() && A[p] == ':' && !(p + 1 < A.size() && IsDigit(A[p + 1]));
}

// The message's position, when it is Prefix, a 1-based number, Suffix.
std::optional<size_t> PositionIn(const std::u16string& M, const std::u16string& Prefix) {
  if (M.size() <= Prefix.size() || M.compare(0, Prefix.size(), Prefix) != 0) return std::nullopt;
  size_t v = 0;
  for (size_t i = Prefix.size(); i < M.size(); ++i) {
    if (M[i] < u'0' || M[i] > u'9' || v > 1000000) return std::nullopt;
    v = v * 10 + (M[i] - u'0');
  }
  if (v == 0) return std::nullopt;
  return v;
}

void CheckRefusal(const std::string& A, const EURLDecodeError& E) {
  const std::u16string& m = E.Message();
  // A NUL quoted from the address ends what() early; the message keeps it.
  const std::string utf8 = Utf16ToUtf8(m);
  FUZZ_CHECK(E.what() == utf8.substr(0, utf8.find('\0')), "what() is the message in UTF-8");
  // "%" with fewer than two characters after it in its field.
  const std::u16string shortPrefix = FormatText(DialogTexts::kErrorDecodingURLText, {u""});
  if (const auto position = PositionIn(m, shortPrefix)) {
    bool found = false;
    for (size_t o = *position - 1; o < A.size() && !found; ++o)
      found = A[o] == '%' && (o + 2 >= A.size() || A.substr(o + 1, 2).find_first_of(":\r\n") != std::string::npos);
    FUZZ_CHECK(found, "a short escape is a \"%\" near the end of a field, at or after the position");
    return;
  }
  // "%" and two characters that are not both hexadecimal digits.
  const std::u16string marked = FormatText(DialogTexts::kInvalidURLEncodedChar, {u"\uE000", u""});
  const size_t mark = marked.find(u'\uE000');
  const std::u16string head = marked.substr(0, mark), tail = marked.substr(mark + 1);
  FUZZ_CHECK(m.size() > head.size() + 3 && m.compare(0, head.size(), head) == 0,
             std::string("the message is one of the two texts: ") + E.what());
  const std::u16string three = m.substr(head.size(), 3);
  const auto position = PositionIn(m.substr(head.size() + 3), tail);
  FUZZ_CHECK(position.has_value(), "the bad-escape text ends in a position");
  bool found = false;
  for (size_t o = *position - 1; o + 2 < A.size() && !found; ++o)
    found = A[o] == '%' && AsciiToUtf16(A.substr(o, 3)) == three && !(IsHex(A[o + 1]) && IsHex(A[o + 2]));
  FUZZ_CHECK(found, "the bad escape quoted is in the text, at or after the position");
}

void CheckCompleteScheme(const std::string& A) {
  std::string r;
  try {
    r = CompleteScheme(A);
  } catch (const EURLDecodeError& e) {
    FUZZ_CHECK(A.find('%') != std::string::npos, "only a \"%\" makes an address fail");
    CheckRefusal(A, e);
    return;
  }
  const bool unchanged = A.empty() || HasScheme(A);
  FUZZ_CHECK(r == (unchanged ? A : "http://" + A), "\"http://\" in front exactly when there is no scheme");
  FUZZ_CHECK(CompleteScheme(r) == r, "a completed address passes unchanged");
}

// The text of Word as the split found it: as it stands, or quoted with its
// quotes doubled (the closing quote may be missing at the end of the text).
bool MatchWord(const std::string& T, size_t& p, const std::string& Word) {
  if (p < T.size() && T[p] == '"') {
    std::string quoted = "\"";
    for (char c : Word) quoted += c == '"' ? "\"\"" : std::string(1, c);
    if (T.compare(p, quoted.size(), quoted) != 0) return false;
    p += quoted.size();
    if (p == T.size()) return true;
    if (T[p] != '"') return false;
    ++p;
    return true;
  }
  for (char c : Word)
    if (IsBlank(c) || c == ',') return false;
  if (T.compare(p, Word.size(), Word) != 0) return false;
  p += Word.size();
  return p == T.size() || IsBlank(T[p]) || T[p] == ',';
}

// Blanks, then at most one comma and blanks; returns whether there was a comma.
bool SkipSeparator(const std::string& T, size_t& p) {
  while (p < T.size() && IsBlank(T[p])) ++p;
  if (p == T.size() || T[p] != ',') return false;
  ++p;
  while (p < T.size() && IsBlank(T[p])) ++p;
  return true;
}

void CheckSplit(const std::string& Text) {
  const std::vector<std::string> words = SplitDelimitedWords(Text);
  const std::string t = Text.substr(0, Text.find('\0'));
  size_t p = 0;
  while (p < t.size() && IsBlank(t[p])) ++p;
  for (size_t i = 0; i < words.size(); ++i) {
    FUZZ_CHECK(MatchWord(t, p, words[i]), "word " + std::to_string(i) + " stands in the text as written");
    if (i + 1 < words.size()) SkipSeparator(t, p);
  }
  // What follows the last word: blanks, or a comma with blanks after it (a
  // comma that is the very last character is one more, empty, word).
  const bool comma = SkipSeparator(t, p);
  FUZZ_CHECK(p == t.size(), "nothing but separators after the last word");
  FUZZ_CHECK(!(comma && t.back() == ','), "a comma at the very end gives an empty last word");
}

void CheckBrowserProgram(const std::string& Command) {
  for (int answer = 0; answer < 3; ++answer) {
    std::function<bool(const std::string&)> isFile;
    if (answer > 0)
      isFile = [&](const std::string& Path) {
        FUZZ_CHECK(Path == Command, "the whole command is asked about");
        return answer == 2;
      };
    const std::string r = BrowserProgramFromCommand(Command, isFile);
    if (Command.empty()) {
      FUZZ_CHECK(r.empty(), "no command, no program");
    } else if (answer == 2) {
      FUZZ_CHECK(r == Command, "a command that names a file is the program");
    } else {
      FUZZ_CHECK(r.find_first_of("-/%") == std::string::npos, "switches and placeholders are dropped");
      FUZZ_CHECK(r.empty() || (static_cast<uint8_t>(r.front()) > ' ' && static_cast<uint8_t>(r.back()) > ' '),
                 "the program is trimmed");
      FUZZ_CHECK(r.size() <= Command.size(), "the program is no longer than the command");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  CheckCompleteScheme(text);
  CheckSplit(text);
  CheckBrowserProgram(text);
  return 0;
}
