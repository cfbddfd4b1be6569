// Text at the Windows boundary: the program's texts are 8-bit ANSI strings
// in the user's code page; windows take UTF-16.
#pragma once
#include <string>

// Between 8-bit text in CodePage and UTF-16. Empty when the text is empty or
// cannot be converted (with MB_ERR_INVALID_CHARS in Flags: when a byte is not
// a character of CodePage).
std::wstring TextToWide(const std::string& Text, unsigned CodePage, unsigned long Flags = 0);
std::string WideToText(const std::wstring& Text, unsigned CodePage);

std::wstring AnsiToWide(const std::string& Text);
std::string WideToAnsi(const std::wstring& Text);
