#include "package/stream_utils.h"

uint8_t ReadByte(TStream& Stream) {
  uint8_t b = 0;
  Stream.ReadBuffer(&b, 1);
  return b;
}

int32_t ReadInteger(TStream& Stream) {
  uint8_t b[4];
  Stream.ReadBuffer(b, 4);
  return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                              static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24);
}

int64_t ReadInt64(TStream& Stream) {
  uint8_t b[8];
  Stream.ReadBuffer(b, 8);
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | b[i];
  return static_cast<int64_t>(v);
}

void ReadString(TStream& Stream, std::string& S) {
  const int32_t n = ReadInteger(Stream);
  S.clear();
  if (n <= 0) return;
  // Never size a buffer from a length the stream cannot back.
  if (n > Stream.Size() - Stream.Position()) throw EReadError("string longer than the stream");
  S.resize(static_cast<size_t>(n));
  Stream.ReadBuffer(S.data(), n);
}

void WriteInteger(TMemoryStream& Stream, int32_t Value) {
  const auto v = static_cast<uint32_t>(Value);
  const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                        static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  Stream.Write(b, 4);
}

void WriteInt64(TMemoryStream& Stream, int64_t Value) {
  auto v = static_cast<uint64_t>(Value);
  uint8_t b[8];
  for (auto& x : b) {
    x = static_cast<uint8_t>(v);
    v >>= 8;
  }
  Stream.Write(b, 8);
}

void WriteString(TMemoryStream& Stream, const std::string& S) {
  WriteInteger(Stream, static_cast<int32_t>(S.size()));
  Stream.Write(S.data(), S.size());
}
