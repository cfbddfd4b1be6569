// Typed little-endian reads from any stream. Each reads at the current
// position, advances it, and throws EReadError when the stream ends early.
#pragma once
#include <cstdint>
#include <string>

#include "package/stream.h"

uint8_t ReadByte(TStream& Stream);
int32_t ReadInteger(TStream& Stream);
int64_t ReadInt64(TStream& Stream);
// A signed 32-bit length n, then n bytes. A length larger than what is left
// in the stream throws before anything is allocated; n <= 0 gives "".
void ReadString(TStream& Stream, std::string& S);

// Writers of the same encodings, used by the package writer.
void WriteInteger(TMemoryStream& Stream, int32_t Value);
void WriteInt64(TMemoryStream& Stream, int64_t Value);
void WriteString(TMemoryStream& Stream, const std::string& S);
