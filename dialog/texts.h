// The dialog's own Japanese texts, as UTF-16 so they render whatever the
// user's code page is. Package texts stay 8-bit and are converted where they
// reach a window.
#pragma once
#include <string>
#include <vector>

namespace DialogTexts {

inline constexpr char16_t kCaption[] = u"plu:mex ScreenSaver";
inline constexpr char16_t kCloseButton[] = u"閉じる(&C)";
inline constexpr char16_t kFontName[] = u"ＭＳ Ｐゴシック";

// A "%" without two characters after it. Argument: the position.
inline constexpr char16_t kErrorDecodingURLText[] = u"URL 表記用エンコード（%%XX）文字列のエラー：位置 - %d";
// A "%" followed by two characters that are not hexadecimal digits.
// Arguments: the three characters, the position.
inline constexpr char16_t kInvalidURLEncodedChar[] = u"URL 表記エンコードでは許されない文字 (%0:s)：位置 - %1:d";

}  // namespace DialogTexts

// Fills a format text of the kind above: "%%" is a percent sign; "%s" and
// "%d" take the next argument; "%N:s" and "%N:d" take argument N and continue
// from N + 1. Arguments are texts already (numbers formatted by the caller
// with ToUtf16). A directive without an argument is left as written.
std::u16string FormatText(std::u16string_view Format, const std::vector<std::u16string>& Args);

std::u16string ToUtf16(int Value);
// UTF-8 <-> UTF-16 for messages that also travel as std::exception::what().
std::string Utf16ToUtf8(std::u16string_view Text);
// Bytes of an ASCII-compatible text widened one by one; only for the ASCII
// parts of an address in a message (a byte above 127 becomes U+FFFD).
std::u16string AsciiToUtf16(std::string_view Text);
