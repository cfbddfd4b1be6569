#include "app/file_names.h"

#include <cstring>

namespace {

bool IsDeviceName(const std::string& Text) {
  // Windows opens the device whatever extension follows, and ignores
  // trailing blanks before it: "nul.txt" and "CON .x" are devices too.
  std::string base = Text.substr(0, Text.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  base = AsciiUpperCase(base);
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
      base == "CONOUT$")
    return true;
  if (base.size() < 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)) return false;
  // Windows counts the superscripts 1, 2 and 3 as digits there too; they are
  // one byte in the Western code page and two in UTF-8.
  const std::string digit = base.substr(3);
  if (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') return true;
  for (const char* superscript : {"\xB9", "\xB2", "\xB3", "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"})
    if (digit == superscript) return true;
  return false;
}

}  // namespace

std::optional<std::string> SafeFileComponent(const std::string& Text, TLeadByteTest IsLead) {
  if (Text.empty() || Text.size() > 255 || Text == "." || Text == "..") return std::nullopt;
  for (size_t i = 0; i < Text.size(); ++i) {
    const auto c = static_cast<uint8_t>(Text[i]);
    if (IsLead(c)) {
      // The second byte belongs to the character; a missing one is garbage.
      if (i + 1 >= Text.size() || static_cast<uint8_t>(Text[i + 1]) < 0x40) return std::nullopt;
      ++i;
      continue;
    }
    if (c < 0x20 || c == 0x7F || std::strchr("\\/:*?\"<>|", c)) return std::nullopt;
  }
  // Windows drops a trailing dot or blank, so "x." would name "x" (and ". ."
  // the folder itself).
  if (Text.back() == '.' || Text.back() == ' ') return std::nullopt;
  if (IsDeviceName(Text)) return std::nullopt;
  return Text;
}

std::optional<std::string> FileNamePart(const std::string& Name, TLeadByteTest IsLead) {
  size_t start = 0;
  for (size_t i = 0; i < Name.size(); ++i) {
    const auto c = static_cast<uint8_t>(Name[i]);
    if (IsLead(c) && i + 1 < Name.size()) {
      ++i;
      continue;
    }
    if (c == '\\' || c == '/' || c == ':') start = i + 1;
  }
  return SafeFileComponent(Name.substr(start), IsLead);
}
