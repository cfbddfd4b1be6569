#include "app/settings.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "app/catalogue.h"

namespace {

TItemBlock BlockOf(const TItemType& Item) {
  if (!Item.Data || Item.Size <= 0) return {};
  return {Item.Data, Item.Size};
}

std::string Plural(size_t N, const char* One, const char* Many) {
  return std::to_string(N) + " " + (N == 1 ? One : Many);
}

// The need-file table. Only filled slots are stored, so a huge
// "FlashNeedFileCount" costs nothing; shrinking drops the slots past the end.
// Each slot remembers which items filled it, for the notes.
struct TNeedFileTable {
  struct TSlot {
    TNeedFile File;
    int32_t NameItem = -1;
    int32_t DataItem = -1;
  };
  int32_t Length = 0;
  std::map<int32_t, TSlot> Slots;

  // Returns the slots the new length drops.
  std::vector<TSlot> Resize(int32_t NewLength) {
    Length = std::max<int32_t>(0, NewLength);  // a negative count means no slots
    std::vector<TSlot> dropped;
    for (auto it = Slots.lower_bound(Length); it != Slots.end(); it = Slots.erase(it)) dropped.push_back(it->second);
    return dropped;
  }
  TSlot* Slot(int32_t Index) {
    if (Index < 0 || Index >= Length) return nullptr;
    TSlot& s = Slots[Index];
    s.File.Index = Index;
    return &s;
  }
};

}  // namespace

// One item as a catalogue entry reads it. Flag and Int32 are set for an
// item long enough for them; Slot is the index after an indexed key.
struct TItemValue {
  const TItemType& Item;
  int32_t At = 0;  // the item's index in the list
  std::optional<bool> Flag;
  std::optional<int32_t> Int32;
  int32_t Slot = -1;
  std::string Text() const { return DecodeText(Item.Data, Item.Data ? Item.Size : 0); }
  TItemBlock Block() const { return BlockOf(Item); }
};

// What the loader keeps while it applies the items: the settings, the values
// that take effect after the last item, and what the notes need to know.
struct TSettingsDecoder {
  TPlayerSettings S;
  bool Stretch = false;
  std::string Version;
  TNeedFileTable NeedFiles;
  int32_t MovieItem = -1;
  std::vector<TSettingsNote>* Notes = nullptr;

  void Note(int32_t Item, std::string Text) {
    if (Notes) Notes->push_back({Item, std::move(Text)});
  }
  // "GUID" and "FlashSwfName" name the movie only while it has not come.
  void NoteIfAfterMovie(const TItemValue& V) {
    if (S.Movie)
      Note(V.At, "comes after \"FlashSwf\" (item " + std::to_string(MovieItem) +
                     "): the movie was already named with the value before it");
  }
  void ResizeNeedFiles(const TItemValue& V) {
    for (const auto& gone : NeedFiles.Resize(*V.Int32))
      for (const int32_t filler : {gone.NameItem, gone.DataItem})
        if (filler >= 0)
          Note(filler, "slot " + std::to_string(gone.File.Index) + " is dropped by \"FlashNeedFileCount\" " +
                           std::to_string(*V.Int32) + " at item " + std::to_string(V.At) + ": ignored");
  }
  void FillNeedFile(const TItemValue& V, bool IsName) {
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
};

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
    for (const TCatalogueEntry& e : kCatalogue) {
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

namespace {

bool IsDeviceName(const std::string& Text) {
  // Windows opens the device whatever extension follows, and ignores
  // trailing blanks before it: "nul.txt" and "CON .x" are devices too.
  std::string base = Text.substr(0, Text.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  base = AsciiUpperCase(base);
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
      base == "CONOUT$")
    return true;
  if (base.size() < 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)) return false;
  // Windows counts the superscripts 1, 2 and 3 as digits there too; they are
  // one byte in the Western code page and two in UTF-8.
  const std::string digit = base.substr(3);
  if (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') return true;
  for (const char* superscript : {"\xB9", "\xB2", "\xB3", "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"})
    if (digit == superscript) return true;
  return false;
}

}  // namespace

std::optional<std::string> SafeFileComponent(const std::string& Text, TLeadByteTest IsLead) {
  if (Text.empty() || Text.size() > 255 || Text == "." || Text == "..") return std::nullopt;
  for (size_t i = 0; i < Text.size(); ++i) {
    const auto c = static_cast<uint8_t>(Text[i]);
    if (IsLead(c)) {
      // The second byte belongs to the character; a missing one is garbage.
      if (i + 1 >= Text.size() || static_cast<uint8_t>(Text[i + 1]) < 0x40) return std::nullopt;
      ++i;
      continue;
    }
    if (c < 0x20 || c == 0x7F || std::strchr("\\/:*?\"<>|", c)) return std::nullopt;
  }
  // Windows drops a trailing dot or blank, so "x." would name "x" (and ". ."
  // the folder itself).
  if (Text.back() == '.' || Text.back() == ' ') return std::nullopt;
  if (IsDeviceName(Text)) return std::nullopt;
  return Text;
}

std::optional<std::string> FileNamePart(const std::string& Name, TLeadByteTest IsLead) {
  size_t start = 0;
  for (size_t i = 0; i < Name.size(); ++i) {
    const auto c = static_cast<uint8_t>(Name[i]);
    if (IsLead(c) && i + 1 < Name.size()) {
      ++i;
      continue;
    }
    if (c == '\\' || c == '/' || c == ':') start = i + 1;
  }
  return SafeFileComponent(Name.substr(start), IsLead);
}

namespace {

std::string Join(const std::string& Dir, const std::string& Name, char Separator, TLeadByteTest IsLead) {
  if (Dir.empty()) return Name;
  if (AnsiEndsWithChar(Dir, '/', IsLead) || AnsiEndsWithChar(Dir, '\\', IsLead)) return Dir + Name;
  return Dir + Separator + Name;
}

// A refusal is one line of a log: a name's control bytes must not break it.
std::string Quoted(const std::string& Text) { return ::Quoted(Text, TControlBytes::Escaped); }

}  // namespace

std::optional<std::string> MovieFolder(const TPlayerSettings& Settings, const std::string& TempDir,
                                       TLeadByteTest IsLead, char Separator) {
  if (!Settings.Movie) return std::nullopt;
  const auto guid = SafeFileComponent(Settings.Movie->GUID, IsLead);
  if (!guid) return std::nullopt;
  return Join(TempDir, *guid, Separator, IsLead);
}

namespace {

// The plan with the movie in MovieDir: Folder when this run created one
// (named by "FlashSwfName"), else TempDir (named by the GUID).
TExtractionPlan PlanInto(const TPlayerSettings& Settings, const std::string& TempDir,
                         const std::optional<std::string>& Folder, TLeadByteTest IsLead, char Separator) {
  TExtractionPlan plan;
  const TMovieItem& movie = *Settings.Movie;
  const bool inFolder = Folder.has_value();
  std::string movieDir = TempDir;
  std::optional<std::string> movieName;
  if (inFolder) {
    movieDir = *Folder;
    plan.FolderToDelete = *Folder;
    if (!movie.SwfName.empty()) {
      movieName = FileNamePart(movie.SwfName, IsLead);
      if (!movieName)
        plan.Refused.push_back("FlashSwfName " + Quoted(movie.SwfName) +
                               " is not a file name: the movie is named after the GUID");
    }
  }
  if (!movieName) movieName = SafeFileComponent(movie.GUID + ".swf", IsLead);
  if (!movieName) {
    plan.Refused.push_back("GUID " + Quoted(movie.GUID) + " gives no usable movie file name");
    return plan;
  }
  plan.MoviePath = Join(movieDir, *movieName, Separator, IsLead);
  plan.Files.push_back({plan.MoviePath, movie.Block, inFolder});

  for (const TNeedFile& n : Settings.NeedFiles) {
    if (n.Name.empty() || !n.Block.Data) continue;
    const auto name = FileNamePart(n.Name, IsLead);
    if (!name) {
      plan.Refused.push_back("need file " + std::to_string(n.Index) + " name " + Quoted(n.Name) +
                             " is not a file name: not extracted");
      continue;
    }
    plan.Files.push_back({Join(movieDir, *name, Separator, IsLead), n.Block, inFolder});
  }
  return plan;
}

}  // namespace

TExtractionPlan PlanExtraction(const TPlayerSettings& Settings, const std::string& TempDir,
                               bool FolderCreated, TLeadByteTest IsLead, char Separator) {
  if (!Settings.Movie) return {};
  const auto folder = MovieFolder(Settings, TempDir, IsLead, Separator);
  if (!folder && !Settings.Movie->GUID.empty()) {
    TExtractionPlan plan;
    plan.Refused.push_back("GUID " + Quoted(Settings.Movie->GUID) +
                           " is not a plain folder name: the movie is not extracted");
    return plan;
  }
  return PlanInto(Settings, TempDir, folder && FolderCreated ? folder : std::nullopt, IsLead, Separator);
}

TExtractionPlan PlanExtractionIn(const TPlayerSettings& Settings, const std::string& TempDir,
                                 const std::string& Folder, TLeadByteTest IsLead, char Separator) {
  if (!Settings.Movie) return {};
  return PlanInto(Settings, TempDir, Folder, IsLead, Separator);
}

std::string PrivateFolderName(const std::string& FolderName, uint32_t Pid) {
  return FolderName + "." + std::to_string(Pid);
}

bool IsPrivateFolderSuffix(const std::string& Rest) {
  if (Rest.size() < 2 || Rest.size() > 11 || Rest[0] != '.') return false;
  for (size_t i = 1; i < Rest.size(); ++i)
    if (Rest[i] < '0' || Rest[i] > '9') return false;
  return true;
}
