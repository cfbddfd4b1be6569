#include "app/catalogue.h"

#include "util/utils.h"

int32_t IndexedKeySlot(const std::string& Name, const std::string& Key) {
  const size_t at = Name.find(Key);
  if (at == std::string::npos) return -1;
  return ParseInt32(std::string_view(Name).substr(at + Key.size())).value_or(-1);
}

std::optional<int32_t> MatchCatalogueEntry(const TCatalogueEntry& Entry, const std::string& Name) {
  if (!Entry.Indexed) return Name == Entry.Key ? std::optional<int32_t>(-1) : std::nullopt;
  const int32_t slot = IndexedKeySlot(Name, Entry.Key);
  return slot >= 0 ? std::optional<int32_t>(slot) : std::nullopt;
}

const TCatalogueEntry* FindCatalogueEntry(const std::string& Name) {
  for (int i = 0; i < kCatalogueSize; ++i)
    if (MatchCatalogueEntry(kCatalogue[i], Name)) return &kCatalogue[i];
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

