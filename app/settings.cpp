#include "app/settings.h"

#include <algorithm>
#include <map>

#include "app/catalogue.h"
#include "app/settings_decoder.h"
#include "util/utils.h"

namespace {

TItemBlock BlockOf(const TItemType& Item) {
  if (!Item.Data || Item.Size <= 0) return {};
  return {Item.Data, Item.Size};
}

std::string Plural(size_t N, const char* One, const char* Many) {
  return std::to_string(N) + " " + (N == 1 ? One : Many);
}

constexpr TItemEncoding kFlag = TItemEncoding::Flag, kInt32 = TItemEncoding::Int32;

}  // namespace

std::vector<TNeedFileTable::TSlot> TNeedFileTable::Resize(int32_t NewLength) {
  Length = std::max<int32_t>(0, NewLength);  // a negative count means no slots
  std::vector<TSlot> dropped;
  for (auto it = Slots.lower_bound(Length); it != Slots.end(); it = Slots.erase(it)) dropped.push_back(it->second);
  return dropped;
}

TNeedFileTable::TSlot* TNeedFileTable::Slot(int32_t Index) {
  if (Index < 0 || Index >= Length) return nullptr;
  TSlot& s = Slots[Index];
  s.File.Index = Index;
  return &s;
}

std::string TItemValue::Text() const { return DecodeText(Item.Data, Item.Data ? Item.Size : 0); }

TItemBlock TItemValue::Block() const { return BlockOf(Item); }

void TSettingsDecoder::Note(int32_t Item, std::string Text) {
  if (Notes) Notes->push_back({Item, std::move(Text)});
}

void TSettingsDecoder::NoteIfAfterMovie(const TItemValue& V) {
  if (S.Movie)
    Note(V.At, "comes after \"FlashSwf\" (item " + std::to_string(MovieItem) +
                   "): the movie was already named with the value before it");
}

void TSettingsDecoder::ResizeNeedFiles(const TItemValue& V) {
  for (const auto& gone : NeedFiles.Resize(*V.Int32))
    for (const int32_t filler : {gone.NameItem, gone.DataItem})
      if (filler >= 0)
        Note(filler, "slot " + std::to_string(gone.File.Index) + " is dropped by \"FlashNeedFileCount\" " +
                         std::to_string(*V.Int32) + " at item " + std::to_string(V.At) + ": ignored");
}

void TSettingsDecoder::FillNeedFile(const TItemValue& V, bool IsName) {
  TNeedFileTable::TSlot* slot = NeedFiles.Slot(V.Slot);
  if (!slot) {
    Note(V.At, NeedFiles.Length == 0
                   ? "comes before any \"FlashNeedFileCount\" gives the need-file table a slot: ignored"
                   : "slot " + std::to_string(V.Slot) + " lies outside the need-file table of " +
                         Plural(static_cast<size_t>(NeedFiles.Length), "slot", "slots") + ": ignored");
    return;
  }
  int32_t& filledBy = IsName ? slot->NameItem : slot->DataItem;
  if (filledBy >= 0)
    Note(filledBy, "slot " + std::to_string(V.Slot) + " gets its " + (IsName ? "name" : "data") +
                       " again from item " + std::to_string(V.At) + ": the later one wins");
  filledBy = V.At;
  if (IsName)
    slot->File.Name = V.Text();
  else
    slot->File.Block = V.Block();
}

TPlayerSettings DecodeSettings(const TItemTypes& Items, std::vector<TSettingsNote>* Notes) {
  TSettingsDecoder d;
  d.Notes = Notes;
  // The item that last set each plain key, so a key given twice is noted.
  std::map<std::string, int32_t> setBy;
  for (size_t index = 0; index < Items.size(); ++index) {
    const TItemType& item = Items[index];
    const int32_t size = item.Data ? item.Size : 0;
    TItemValue v{item, static_cast<int32_t>(index), DecodeFlag(item.Data, size), DecodeInt32(item.Data, size)};
    // An item may match more than one entry; every match is applied.
    for (int entry = 0; entry < kCatalogueSize; ++entry) {
      const TCatalogueEntry& e = kCatalogue[entry];
      const auto slot = MatchCatalogueEntry(e, item.Name);
      if (!slot) continue;
      v.Slot = *slot;
      if (!e.Indexed) {
        // An item too short for its encoding counts as absent.
        if ((e.Encoding == kFlag && !v.Flag) || (e.Encoding == kInt32 && !v.Int32)) {
          d.Note(v.At, "holds " + Plural(static_cast<size_t>(size), "byte", "bytes") + ", too short for " +
                           (e.Encoding == kFlag ? "a flag (1 byte)" : "an int32 (4 bytes)") + ": ignored");
          continue;
        }
        if (const auto earlier = setBy.find(e.Key); earlier != setBy.end())
          d.Note(earlier->second, "\"" + std::string(e.Key) + "\" is given again at item " + std::to_string(v.At) +
                                      ": the later one wins");
        setBy[e.Key] = v.At;
      }
      e.Apply(d, v);
    }
  }

  TPlayerSettings& s = d.S;
  s.Scale = d.Stretch ? kStretchScale : kDefaultScale;
  s.RequiredVersion = d.Version.empty() ? kAnyVersion : d.Version;
  for (auto& [index, slot] : d.NeedFiles.Slots) {
    s.NeedFiles.push_back(slot.File);
    // Only a slot with both a name and bytes is written.
    const std::string which = "need-file slot " + std::to_string(index);
    if (slot.File.Name.empty() && slot.File.Block.Data)
      d.Note(slot.DataItem, which + " has data but no name: not written");
    else if (!slot.File.Name.empty() && !slot.File.Block.Data)
      d.Note(slot.DataItem >= 0 ? slot.DataItem : slot.NameItem,
             which + (slot.DataItem >= 0 ? " has no bytes in its data item: not written"
                                          : " has a name but no data: not written"));
    else if (slot.File.Name.empty() && slot.NameItem >= 0)
      d.Note(slot.NameItem, which + " has an empty name: not written");
  }
  return s;
}

std::string ComposeFlashVars(const std::string& AuthorFlashVars, const std::string& ModeWord) {
  const std::string own = "plumexmode=" + ModeWord;
  return AuthorFlashVars.empty() ? own : AuthorFlashVars + "&" + own;
}

bool IsQuitCommand(const std::string& Command) { return AnsiLowerCase(Command) == "quit"; }
