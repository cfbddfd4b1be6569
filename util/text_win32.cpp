#include <windows.h>

#include "util/text_win32.h"

std::wstring TextToWide(const std::string& Text, unsigned CodePage, unsigned long Flags) {
  const int size = static_cast<int>(Text.size());
  const int n = Text.empty() ? 0 : MultiByteToWideChar(CodePage, Flags, Text.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CodePage, Flags, Text.data(), size, out.data(), n);
  return out;
}

std::string WideToText(const std::wstring& Text, unsigned CodePage) {
  const int size = static_cast<int>(Text.size());
  const int n = Text.empty() ? 0 : WideCharToMultiByte(CodePage, 0, Text.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CodePage, 0, Text.data(), size, out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring AnsiToWide(const std::string& Text) { return TextToWide(Text, CP_ACP); }
std::string WideToAnsi(const std::wstring& Text) { return WideToText(Text, CP_ACP); }
