// Text at the Windows boundary: the program's texts are 8-bit ANSI strings
// in the user's code page; windows take UTF-16.
#pragma once
#include <string>

std::wstring AnsiToWide(const std::string& Text);
std::string WideToAnsi(const std::wstring& Text);
