// The process's code page where there is no Windows ANSI code page: texts are
// UTF-8 or single-byte, and neither has a trail byte that looks like ASCII.
#include "util/utils.h"

TLeadByteTest SystemLeadByteTest() { return IsSingleByteLeadByte; }
