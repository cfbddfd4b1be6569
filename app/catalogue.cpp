#include "app/catalogue.h"

#include <limits>

int32_t IndexedKeySlot(const std::string& Name, const std::string& Key) {
  const size_t at = Name.find(Key);
  if (at == std::string::npos) return -1;
  const std::string rest = Name.substr(at + Key.size());
  size_t i = 0;
  bool negative = false;
  if (i < rest.size() && (rest[i] == '-' || rest[i] == '+')) negative = rest[i++] == '-';
  if (i >= rest.size()) return -1;
  int64_t v = 0;
  for (; i < rest.size(); ++i) {
    if (rest[i] < '0' || rest[i] > '9') return -1;
    v = v * 10 + (rest[i] - '0');
    if (v > std::numeric_limits<int32_t>::max()) return -1;
  }
  return static_cast<int32_t>(negative ? -v : v);
}

const TCatalogueEntry* FindCatalogueEntry(const std::string& Name) {
  for (int i = 0; i < kCatalogueSize; ++i) {
    const auto& e = kCatalogue[i];
    if (e.Indexed ? IndexedKeySlot(Name, e.Key) >= 0 : Name == e.Key)
      return &e;
  }
  return nullptr;
}

std::optional<bool> DecodeFlag(const uint8_t* Data, int32_t Size) {
  if (!Data || Size < 1) return std::nullopt;
  return Data[0] != 0;
}

std::optional<int32_t> DecodeInt32(const uint8_t* Data, int32_t Size) {
  if (!Data || Size < 4) return std::nullopt;
  return static_cast<int32_t>(static_cast<uint32_t>(Data[0]) | static_cast<uint32_t>(Data[1]) << 8 |
                              static_cast<uint32_t>(Data[2]) << 16 |
                              static_cast<uint32_t>(Data[3]) << 24);
}

std::string DecodeText(const uint8_t* Data, int32_t Size) {
  if (!Data || Size <= 0) return {};
  return std::string(reinterpret_cast<const char*>(Data), static_cast<size_t>(Size));
}

