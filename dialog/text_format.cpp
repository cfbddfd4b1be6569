#include "dialog/text_format.h"

#include "util/utils.h"

std::u16string FormatText(std::u16string_view Format, const std::vector<std::u16string>& Args) {
  std::u16string out;
  size_t next = 0;  // the argument a plain "%s" or "%d" takes
  for (size_t i = 0; i < Format.size(); ++i) {
    const char16_t c = Format[i];
    if (c != u'%' || i + 1 >= Format.size()) {
      out += c;
      continue;
    }
    if (Format[i + 1] == u'%') {
      out += u'%';
      ++i;
      continue;
    }
    // Optional explicit index "N:" in front of the type letter.
    size_t j = i + 1;
    size_t index = next;
    if (Format[j] >= u'0' && Format[j] <= u'9') {
      size_t k = j, n = 0;
      while (k < Format.size() && Format[k] >= u'0' && Format[k] <= u'9') n = n * 10 + (Format[k++] - u'0');
      if (k < Format.size() && Format[k] == u':') {
        index = n;
        j = k + 1;
      }
    }
    if (j < Format.size() && (Format[j] == u's' || Format[j] == u'd') && index < Args.size()) {
      out += Args[index];
      next = index + 1;
      i = j;
    } else {
      out += c;  // not a directive we know: keep the text as written
    }
  }
  return out;
}

std::u16string ToUtf16(int Value) {
  return AsciiToUtf16(std::to_string(Value));
}

std::u16string AsciiToUtf16(std::string_view Text) {
  std::u16string out;
  out.reserve(Text.size());
  for (unsigned char c : Text) out += c < 0x80 ? char16_t(c) : u'\uFFFD';
  return out;
}

std::string Utf16ToUtf8(std::u16string_view Text) {
  std::string out;
  for (size_t i = 0; i < Text.size(); ++i) {
    uint32_t cp = Text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < Text.size() && Text[i + 1] >= 0xDC00 && Text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (Text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // a lone surrogate
    }
    AppendUtf8(out, cp);
  }
  return out;
}
