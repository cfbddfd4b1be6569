#include "app/catalogue.h"

#include "app/settings_decoder.h"
#include "util/utils.h"

namespace {
using D = TSettingsDecoder;
using V = TItemValue;
constexpr TItemEncoding kFlag = TItemEncoding::Flag, kInt32 = TItemEncoding::Int32, kText = TItemEncoding::Text,
                        kBytes = TItemEncoding::Bytes;
}  // namespace


// The catalogue: every key the player knows, its encoding and where its value goes.
const TCatalogueEntry kCatalogue[] = {
    {"GUID", kText, false, [](D& d, const V& v) { d.NoteIfAfterMovie(v); d.S.GUID = v.Text(); }},
    {"FlashLoop", kFlag, false, [](D& d, const V& v) { d.S.Loop = *v.Flag; }},
    {"FlashStretch", kFlag, false, [](D& d, const V& v) { d.Stretch = *v.Flag; }},
    {"FlashMenu", kFlag, false, [](D& d, const V& v) { d.S.Menu = *v.Flag; }},
    {"FlashMenuFull", kFlag, false, [](D& d, const V& v) { d.S.MenuFull = *v.Flag; }},
    {"FlashQuality", kInt32, false, [](D& d, const V& v) { d.S.Quality = *v.Int32; }},
    {"FlashVars", kText, false, [](D& d, const V& v) { d.S.FlashVars = v.Text(); }},
    {"FlashBackColor", kInt32, false, [](D& d, const V& v) { d.S.BackColor = *v.Int32; }},
    {"FlashSwfName", kText, false, [](D& d, const V& v) { d.NoteIfAfterMovie(v); d.S.SwfName = v.Text(); }},
    {"FlashSwf", kBytes, false,
     [](D& d, const V& v) { d.S.Movie = TMovieItem{v.Block(), d.S.GUID, d.S.SwfName}; d.MovieItem = v.At; }},
    {"FlashPreviewSleep", kFlag, false, [](D& d, const V& v) { d.S.PreviewSleep = *v.Flag; }},
    {"FlashVersion", kText, false, [](D& d, const V& v) { d.Version = v.Text(); }},
    {"FlashNeedFileCount", kInt32, false, [](D& d, const V& v) { d.ResizeNeedFiles(v); }},
    {"FlashNeedFileName", kText, true, [](D& d, const V& v) { d.FillNeedFile(v, true); }},
    {"FlashNeedFileData", kBytes, true, [](D& d, const V& v) { d.FillNeedFile(v, false); }},
    {"ScreenSaverStopByMouse", kFlag, false, [](D& d, const V& v) { d.S.StopByMouse = *v.Flag; }},
    {"ScreenSaverStopByKey", kFlag, false, [](D& d, const V& v) { d.S.StopByKey = *v.Flag; }},
    {"ScreenSaverShowMouseCursor", kFlag, false, [](D& d, const V& v) { d.S.ShowMouseCursor = *v.Flag; }},
    {"ScreenSaverPosition", kInt32, false, [](D& d, const V& v) { d.S.Position = static_cast<uint8_t>(*v.Int32 & 0xFF); }},
    {"DialogTitle", kText, false, [](D& d, const V& v) { d.S.DialogTitle = v.Text(); }},
    {"DialogCopyrightStr", kText, false, [](D& d, const V& v) { d.S.DialogCopyright = v.Text(); }},
    {"DialogURL", kText, false, [](D& d, const V& v) { d.S.DialogURL = v.Text(); }},
    {"DialogCloseBtn", kFlag, false, [](D& d, const V& v) { d.S.DialogCloseBtn = *v.Flag; }},
    {"DialogImage", kBytes, false, [](D& d, const V& v) { d.S.DialogImage = v.Block(); }},
};
const int kCatalogueSize = sizeof kCatalogue / sizeof kCatalogue[0];

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

