// The process's code page where there is no Windows ANSI code page: texts are
// UTF-8 or single-byte, and neither has a trail byte that looks like ASCII.
#include "util/utils.h"

#include <utility>

TLeadByteTest SystemLeadByteTest() { return IsSingleByteLeadByte; }

// Without a code page of the system's, only the ASCII letters have a case.
std::string AnsiLowerCase(std::string S) { return AsciiLowerCase(std::move(S)); }
