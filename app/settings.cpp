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

TPlayerSettings DecodeSettings(const TItemTypes& Items, std::vector<TSettingsNote>* Notes) {
  TPlayerSettings s;
  bool stretch = false;
  std::string version;
  TNeedFileTable needFiles;
  auto note = [&](int32_t Item, std::string Text) {
    if (Notes) Notes->push_back({Item, std::move(Text)});
  };
  // The item that last set each plain key, so a key given twice is noted.
  std::map<std::string, int32_t> setBy;
  int32_t movieItem = -1;

  for (size_t index = 0; index < Items.size(); ++index) {
    const TItemType& item = Items[index];
    const auto at = static_cast<int32_t>(index);
    const uint8_t* data = item.Data;
    const int32_t size = item.Data ? item.Size : 0;
    const std::string& name = item.Name;
    // An item may match more than one entry; every match is applied.
    for (int i = 0; i < kCatalogueSize; ++i) {
      const TCatalogueEntry& e = kCatalogue[i];
      const std::string key = e.Key;
      if (e.Indexed) {
        const int32_t slotIndex = IndexedKeySlot(name, key);
        if (slotIndex < 0) continue;
        const bool isName = key == "FlashNeedFileName";
        TNeedFileTable::TSlot* slot = needFiles.Slot(slotIndex);
        if (!slot) {
          note(at, needFiles.Length == 0
                       ? "comes before any \"FlashNeedFileCount\" gives the need-file table a slot: ignored"
                       : "slot " + std::to_string(slotIndex) + " lies outside the need-file table of " +
                             Plural(static_cast<size_t>(needFiles.Length), "slot", "slots") + ": ignored");
          continue;
        }
        int32_t& filledBy = isName ? slot->NameItem : slot->DataItem;
        if (filledBy >= 0)
          note(filledBy, "slot " + std::to_string(slotIndex) + " gets its " + (isName ? "name" : "data") +
                             " again from item " + std::to_string(at) + ": the later one wins");
        filledBy = at;
        if (isName)
          slot->File.Name = DecodeText(data, size);
        else
          slot->File.Block = BlockOf(item);
        continue;
      }
      if (name != key) continue;
      const auto flag = DecodeFlag(data, size);
      const auto int32 = DecodeInt32(data, size);
      // An item too short for its encoding counts as absent.
      if ((e.Encoding == TItemEncoding::Flag && !flag) || (e.Encoding == TItemEncoding::Int32 && !int32)) {
        note(at, "holds " + Plural(static_cast<size_t>(size), "byte", "bytes") + ", too short for " +
                     (e.Encoding == TItemEncoding::Flag ? "a flag (1 byte)" : "an int32 (4 bytes)") + ": ignored");
        continue;
      }
      if (const auto earlier = setBy.find(key); earlier != setBy.end())
        note(earlier->second, "\"" + key + "\" is given again at item " + std::to_string(at) +
                                  ": the later one wins");
      setBy[key] = at;
      if ((key == "GUID" || key == "FlashSwfName") && s.Movie)
        note(at, "comes after \"FlashSwf\" (item " + std::to_string(movieItem) +
                     "): the movie was already named with the value before it");
      if (key == "GUID") s.GUID = DecodeText(data, size);
      else if (key == "FlashLoop") s.Loop = *flag;
      else if (key == "FlashStretch") stretch = *flag;
      else if (key == "FlashMenu") s.Menu = *flag;
      else if (key == "FlashMenuFull") s.MenuFull = *flag;
      else if (key == "FlashQuality") s.Quality = *int32;
      else if (key == "FlashVars") s.FlashVars = DecodeText(data, size);
      else if (key == "FlashBackColor") s.BackColor = *int32;
      else if (key == "FlashSwfName") s.SwfName = DecodeText(data, size);
      else if (key == "FlashSwf") { s.Movie = TMovieItem{BlockOf(item), s.GUID, s.SwfName}; movieItem = at; }
      else if (key == "FlashPreviewSleep") s.PreviewSleep = *flag;
      else if (key == "FlashVersion") version = DecodeText(data, size);
      else if (key == "FlashNeedFileCount") {
        for (const auto& gone : needFiles.Resize(*int32))
          for (const int32_t filler : {gone.NameItem, gone.DataItem})
            if (filler >= 0)
              note(filler, "slot " + std::to_string(gone.File.Index) + " is dropped by \"FlashNeedFileCount\" " +
                               std::to_string(*int32) + " at item " + std::to_string(at) + ": ignored");
      }
      else if (key == "ScreenSaverStopByMouse") s.StopByMouse = *flag;
      else if (key == "ScreenSaverStopByKey") s.StopByKey = *flag;
      else if (key == "ScreenSaverShowMouseCursor") s.ShowMouseCursor = *flag;
      else if (key == "ScreenSaverPosition") s.Position = static_cast<uint8_t>(*int32 & 0xFF);
      else if (key == "DialogTitle") s.DialogTitle = DecodeText(data, size);
      else if (key == "DialogCopyrightStr") s.DialogCopyright = DecodeText(data, size);
      else if (key == "DialogURL") s.DialogURL = DecodeText(data, size);
      else if (key == "DialogCloseBtn") s.DialogCloseBtn = *flag;
      else if (key == "DialogImage") s.DialogImage = BlockOf(item);
    }
  }

  s.Scale = stretch ? "ShowAll" : "NoScale";
  s.RequiredVersion = version.empty() ? "0.0.0.0" : version;
  for (auto& [index, slot] : needFiles.Slots) {
    s.NeedFiles.push_back(slot.File);
    // Only a slot with both a name and bytes is written.
    const std::string which = "need-file slot " + std::to_string(index);
    if (slot.File.Name.empty() && slot.File.Block.Data)
      note(slot.DataItem, which + " has data but no name: not written");
    else if (!slot.File.Name.empty() && !slot.File.Block.Data)
      note(slot.DataItem >= 0 ? slot.DataItem : slot.NameItem,
           which + (slot.DataItem >= 0 ? " has no bytes in its data item: not written" : " has a name but no data: not written"));
    else if (slot.File.Name.empty() && slot.NameItem >= 0)
      note(slot.NameItem, which + " has an empty name: not written");
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
  std::transform(base.begin(), base.end(), base.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c); });
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

std::string Quoted(const std::string& Text) {
  std::string out = "\"";
  for (unsigned char c : Text) {
    if (c < 0x20 || c == 0x7F)
      out += "\\x" + HexByte(c);
    else
      out += static_cast<char>(c);
  }
  return out + "\"";
}

}  // namespace

std::optional<std::string> MovieFolder(const TPlayerSettings& Settings, const std::string& TempDir,
                                       TLeadByteTest IsLead, char Separator) {
  if (!Settings.Movie) return std::nullopt;
  const auto guid = SafeFileComponent(Settings.Movie->GUID, IsLead);
  if (!guid) return std::nullopt;
  return Join(TempDir, *guid, Separator, IsLead);
}

TExtractionPlan PlanExtraction(const TPlayerSettings& Settings, const std::string& TempDir,
                               bool FolderCreated, TLeadByteTest IsLead, char Separator) {
  TExtractionPlan plan;
  if (!Settings.Movie) return plan;
  const TMovieItem& movie = *Settings.Movie;
  const auto folder = MovieFolder(Settings, TempDir, IsLead, Separator);
  if (!folder && !movie.GUID.empty()) {
    plan.Refused.push_back("GUID " + Quoted(movie.GUID) +
                           " is not a plain folder name: the movie is not extracted");
    return plan;
  }
  const bool inFolder = folder && FolderCreated;
  std::string movieDir = TempDir;
  std::optional<std::string> movieName;
  if (inFolder) {
    movieDir = *folder;
    plan.FolderToDelete = *folder;
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
