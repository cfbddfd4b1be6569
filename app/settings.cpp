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

// The need-file table. Only filled slots are stored, so a huge
// "FlashNeedFileCount" costs nothing; shrinking drops the slots past the end.
struct TNeedFileTable {
  int32_t Length = 0;
  std::map<int32_t, TNeedFile> Slots;

  void Resize(int32_t NewLength) {
    Length = std::max<int32_t>(0, NewLength);  // a negative count means no slots
    Slots.erase(Slots.lower_bound(Length), Slots.end());
  }
  TNeedFile* Slot(int32_t Index) {
    if (Index < 0 || Index >= Length) return nullptr;
    TNeedFile& s = Slots[Index];
    s.Index = Index;
    return &s;
  }
};

}  // namespace

TPlayerSettings DecodeSettings(const TItemTypes& Items) {
  TPlayerSettings s;
  bool stretch = false;
  std::string version;
  TNeedFileTable needFiles;

  for (const TItemType& item : Items) {
    const uint8_t* data = item.Data;
    const int32_t size = item.Data ? item.Size : 0;
    const std::string& name = item.Name;
    // An item may match more than one entry; every match is applied.
    for (int i = 0; i < kCatalogueSize; ++i) {
      const TCatalogueEntry& e = kCatalogue[i];
      const std::string key = e.Key;
      if (e.Indexed) {
        TNeedFile* slot = needFiles.Slot(IndexedKeySlot(name, key));
        if (!slot) continue;
        if (key == "FlashNeedFileName")
          slot->Name = DecodeText(data, size);
        else
          slot->Block = BlockOf(item);
        continue;
      }
      if (name != key) continue;
      const auto flag = DecodeFlag(data, size);
      const auto int32 = DecodeInt32(data, size);
      if (key == "GUID") s.GUID = DecodeText(data, size);
      else if (key == "FlashLoop") { if (flag) s.Loop = *flag; }
      else if (key == "FlashStretch") { if (flag) stretch = *flag; }
      else if (key == "FlashMenu") { if (flag) s.Menu = *flag; }
      else if (key == "FlashMenuFull") { if (flag) s.MenuFull = *flag; }
      else if (key == "FlashQuality") { if (int32) s.Quality = *int32; }
      else if (key == "FlashVars") s.FlashVars = DecodeText(data, size);
      else if (key == "FlashBackColor") { if (int32) s.BackColor = *int32; }
      else if (key == "FlashSwfName") s.SwfName = DecodeText(data, size);
      else if (key == "FlashSwf") s.Movie = TMovieItem{BlockOf(item), s.GUID, s.SwfName};
      else if (key == "FlashPreviewSleep") { if (flag) s.PreviewSleep = *flag; }
      else if (key == "FlashVersion") version = DecodeText(data, size);
      else if (key == "FlashNeedFileCount") { if (int32) needFiles.Resize(*int32); }
      else if (key == "ScreenSaverStopByMouse") { if (flag) s.StopByMouse = *flag; }
      else if (key == "ScreenSaverStopByKey") { if (flag) s.StopByKey = *flag; }
      else if (key == "ScreenSaverShowMouseCursor") { if (flag) s.ShowMouseCursor = *flag; }
      else if (key == "ScreenSaverPosition") { if (int32) s.Position = static_cast<uint8_t>(*int32 & 0xFF); }
      else if (key == "DialogTitle") s.DialogTitle = DecodeText(data, size);
      else if (key == "DialogCopyrightStr") s.DialogCopyright = DecodeText(data, size);
      else if (key == "DialogURL") s.DialogURL = DecodeText(data, size);
      else if (key == "DialogCloseBtn") { if (flag) s.DialogCloseBtn = *flag; }
      else if (key == "DialogImage") s.DialogImage = BlockOf(item);
    }
  }

  s.Scale = stretch ? "ShowAll" : "NoScale";
  s.RequiredVersion = version.empty() ? "0.0.0.0" : version;
  for (auto& [index, slot] : needFiles.Slots) s.NeedFiles.push_back(slot);
  return s;
}

std::string ComposeFlashVars(const std::string& AuthorFlashVars, const std::string& ModeWord) {
  const std::string own = "plumexmode=" + ModeWord;
  return AuthorFlashVars.empty() ? own : AuthorFlashVars + "&" + own;
}

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
    if (c < 0x20 || c == 0x7F) {
      static const char hex[] = "0123456789ABCDEF";
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
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
