// The package keys the player knows, how each item's bytes are encoded and
// which setting each one sets.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

enum class TItemEncoding { Flag, Int32, Text, Bytes };

struct TSettingsDecoder;  // the settings loader's state (app/settings_decoder.h)
struct TItemValue;        // one item as the loader reads it

struct TCatalogueEntry {
  const char* Key;
  TItemEncoding Encoding;
  bool Indexed;  // the key is followed by a decimal slot index in the name
  // The setting the loader gives the item's value.
  void (*Apply)(TSettingsDecoder& Decoder, const TItemValue& Value);
};

// The known keys, in the order the settings loader tries them; each entry
// sets the loader's state (app/settings_decoder.h).
extern const TCatalogueEntry kCatalogue[];
extern const int kCatalogueSize;

// Whether Entry is one for an item named Name, and the item's slot then:
// for a plain key the whole name, case-sensitive, and slot -1; for an indexed
// key a name that holds the key with a slot of 0 or more after its first
// occurrence (IndexedKeySlot). Nullopt when Entry is not one for it.
std::optional<int32_t> MatchCatalogueEntry(const TCatalogueEntry& Entry, const std::string& Name);

// The first entry that names Name (MatchCatalogueEntry). Null when unknown.
const TCatalogueEntry* FindCatalogueEntry(const std::string& Name);

// Readers of the encodings. An item shorter than its encoding counts as
// absent (nullopt): no byte past the block is ever read.
std::optional<bool> DecodeFlag(const uint8_t* Data, int32_t Size);
std::optional<int32_t> DecodeInt32(const uint8_t* Data, int32_t Size);
std::string DecodeText(const uint8_t* Data, int32_t Size);


// The slot index of an indexed key: the rest of the name after the first
// occurrence of Key read as an integer; -1 when it is not one or Key is absent.
int32_t IndexedKeySlot(const std::string& Name, const std::string& Key);
