// The process's code page where there is no Windows ANSI code page: texts are
// UTF-8 or single-byte, and neither has a trail byte that looks like ASCII.
#include "util/utils.h"

TLeadByteTest SystemLeadByteTest() { return IsSingleByteLeadByte; }

std::string AnsiLowerCase(std::string S) {
  for (char& c : S)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return S;
}
