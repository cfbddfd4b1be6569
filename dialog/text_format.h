// Formatting the dialog's messages (its texts are in util/texts.h) and the
// UTF-16 conversions they need.
#pragma once
#include <string>
#include <vector>

// Fills a format text of the kind of DialogTexts' address errors: "%%" is a percent sign; "%s" and
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
