#include "flash/base64.h"

#include <algorithm>

std::optional<std::vector<uint8_t>> Base64Decode(const std::string& Text) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  if (Text.size() % 4) return std::nullopt;
  std::vector<uint8_t> out;
  out.reserve(Text.size() / 4 * 3);
  for (size_t i = 0; i < Text.size(); i += 4) {
    const bool last = i + 4 == Text.size();
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = Text[i + k];
      if (c == '=' && last && k >= 2) {
        v[k] = 0;
        ++pad;
        continue;
      }
      if (pad) return std::nullopt;  // data after padding
      v[k] = value(c);
      if (v[k] < 0) return std::nullopt;
    }
    const uint32_t n = static_cast<uint32_t>(v[0] << 18 | v[1] << 12 | v[2] << 6 | v[3]);
    out.push_back(static_cast<uint8_t>(n >> 16));
    if (pad < 2) out.push_back(static_cast<uint8_t>(n >> 8));
    if (pad < 1) out.push_back(static_cast<uint8_t>(n));
  }
  return out;
}

std::string Base64Encode(const uint8_t* Data, size_t Size) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((Size + 2) / 3 * 4);
  for (size_t i = 0; i < Size; i += 3) {
    const size_t n = std::min<size_t>(3, Size - i);
    uint32_t v = static_cast<uint32_t>(Data[i]) << 16;
    if (n > 1) v |= static_cast<uint32_t>(Data[i + 1]) << 8;
    if (n > 2) v |= Data[i + 2];
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += n > 1 ? kAlphabet[v >> 6 & 63] : '=';
    out += n > 2 ? kAlphabet[v & 63] : '=';
  }
  return out;
}
