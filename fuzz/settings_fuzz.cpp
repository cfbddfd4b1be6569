// libFuzzer target: arbitrary package items through the settings loader and
// the extraction plan, in every case the first byte picks: the kind of
// temporary directory, either path separator, with or without Shift-JIS lead
// bytes, the folder created or not. Whatever the names say, every planned
// file is one plain file-name component below the temporary directory or
// below the GUID folder in it, no component names a device, and the only
// folder ever planned for deletion is that GUID folder, never the temporary
// directory itself.
//
// Input framing: the case byte (bit 0 folder created, bit 1 separator "/",
// bit 2 Shift-JIS, bits 3 to 7 the temporary directory), then item after
// item to the end:
//   name:  a byte N; N >= 0x80 picks catalogue key (N & 0x7F) % its size
//          (an indexed key then takes the next byte as a signed decimal
//          index); otherwise the name is the next N bytes
//   data:  a byte L, then L bytes
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "app/extraction_plan.h"
#include "app/settings.h"
#include "fuzz/fuzz_support.h"
#include "util/utils.h"

namespace {

struct TFuzzItems {
  std::vector<std::unique_ptr<uint8_t[]>> Blocks;
  TItemTypes Items;
};

TFuzzItems ReadItems(const uint8_t* Data, size_t Size) {
  TFuzzItems out;
  size_t at = 0;
  auto take = [&](size_t n) {
    n = std::min(n, Size - at);
    std::string s(reinterpret_cast<const char*>(Data + at), n);
    at += n;
    return s;
  };
  while (at < Size) {
    TItemType item;
    const uint8_t n = Data[at++];
    if (n >= 0x80) {
      const TCatalogueEntry& e = kCatalogue[(n & 0x7F) % kCatalogueSize];
      item.Name = e.Key;
      if (e.Indexed && at < Size) item.Name += std::to_string(static_cast<int8_t>(Data[at++]));
    } else {
      item.Name = take(n);
    }
    const size_t length = at < Size ? Data[at++] : 0;
    const std::string bytes = take(length);
    // As the reader hands them out: an exactly sized block, null when empty.
    if (!bytes.empty()) {
      out.Blocks.push_back(ExactCopy(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
      item.Data = out.Blocks.back().get();
      item.Size = static_cast<int32_t>(bytes.size());
    }
    out.Items.push_back(item);
  }
  return out;
}

// A block borrowed from the list: none, or exactly one item's block.
bool IsItemBlock(const TItemBlock& Block, const TItemTypes& Items) {
  if (!Block.Data) return Block.Size == 0;
  for (const TItemType& item : Items)
    if (item.Data == Block.Data && item.Size == Block.Size) return true;
  return false;
}

// The characters of a name as Windows reads them in a double-byte code page:
// a lead byte and a second byte of 0x40 or more form one character; any other
// byte stands alone, so "/" after a lead byte still separates.
std::vector<std::string> Characters(const std::string& Text, TLeadByteTest IsLead) {
  std::vector<std::string> chars;
  for (size_t i = 0; i < Text.size(); ++i) {
    if (IsLead(static_cast<uint8_t>(Text[i])) && i + 1 < Text.size() && static_cast<uint8_t>(Text[i + 1]) >= 0x40) {
      chars.push_back(Text.substr(i++, 2));
      continue;
    }
    chars.push_back(Text.substr(i, 1));
  }
  return chars;
}

bool IsSeparator(const std::string& Char) { return Char == "/" || Char == "\\" || Char == ":"; }

bool IsDevice(const std::string& Component) {
  // Windows ignores the extension and blanks before it; the digits of COM and
  // LPT include the superscripts 1, 2 and 3 (Latin-1 and UTF-8 forms).
  std::string base = Component.substr(0, Component.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  base = AsciiUpperCase(base);
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (base == device) return true;
  if (base.rfind("COM", 0) != 0 && base.rfind("LPT", 0) != 0) return false;
  const std::string digit = base.substr(3);
  if (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') return true;
  for (const char* super : {"\xB9", "\xB2", "\xB3", "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"})
    if (digit == super) return true;
  return false;
}

// One plain file name: something, not "." or "..", no separator, wildcard,
// quote or control character, no lone lead byte, not ending in a dot or a
// blank (Windows would drop it), not a device, at most 255 bytes.
bool IsPlainComponent(const std::string& Text, TLeadByteTest IsLead) {
  if (Text.empty() || Text.size() > 255 || Text == "." || Text == "..") return false;
  for (const std::string& ch : Characters(Text, IsLead)) {
    if (ch.size() == 2) continue;
    const auto c = static_cast<uint8_t>(ch[0]);
    if (IsLead(c) || c < 0x20 || c == 0x7F || std::strchr("\\/:*?\"<>|", c)) return false;
  }
  if (Text.back() == '.' || Text.back() == ' ') return false;
  return !IsDevice(Text);
}

// The components of Path below Dir, or an empty list when Path does not
// start with Dir and, unless Dir ends in one, the separator.
std::vector<std::string> ComponentsBelow(const std::string& Path, const std::string& Dir, char Separator,
                                         TLeadByteTest IsLead) {
  if (Path.compare(0, Dir.size(), Dir) != 0 || Path.size() == Dir.size()) return {};
  std::string rest = Path.substr(Dir.size());
  const std::vector<std::string> dirChars = Characters(Dir, IsLead);
  if (!dirChars.empty() && !(dirChars.back() == "/" || dirChars.back() == "\\")) {
    if (rest[0] != Separator) return {};
    rest.erase(0, 1);
  }
  std::vector<std::string> parts(1);
  for (const std::string& ch : Characters(rest, IsLead)) {
    if (IsSeparator(ch))
      parts.emplace_back();
    else
      parts.back() += ch;
  }
  return parts;
}

void CheckSettings(const TPlayerSettings& S, const TItemTypes& Items) {
  FUZZ_CHECK(S.Scale == "ShowAll" || S.Scale == "NoScale", "scale is one of the two");
  FUZZ_CHECK(!S.RequiredVersion.empty(), "a required version always");
  if (S.Movie) FUZZ_CHECK(IsItemBlock(S.Movie->Block, Items), "the movie borrows an item's block");
  if (S.DialogImage) FUZZ_CHECK(IsItemBlock(*S.DialogImage, Items), "the picture borrows an item's block");
  for (size_t i = 0; i < S.NeedFiles.size(); ++i) {
    FUZZ_CHECK(S.NeedFiles[i].Index >= 0, "slot index not negative");
    FUZZ_CHECK(i == 0 || S.NeedFiles[i - 1].Index < S.NeedFiles[i].Index, "slots in index order, once each");
    FUZZ_CHECK(IsItemBlock(S.NeedFiles[i].Block, Items), "a need file borrows an item's block");
  }
}

void CheckPlan(const TPlayerSettings& S, const TItemTypes& Items, const std::string& TempDir, bool FolderCreated,
               TLeadByteTest IsLead, char Separator) {
  const std::string where = " [temp \"" + TempDir + "\", separator " + Separator + "]";
  const auto folder = MovieFolder(S, TempDir, IsLead, Separator);
  std::string guidFolder;
  if (folder) {
    const auto parts = ComponentsBelow(*folder, TempDir, Separator, IsLead);
    FUZZ_CHECK(parts.size() == 1 && IsPlainComponent(parts[0], IsLead),
               "the movie folder is one plain component below the temporary directory: " + *folder + where);
    guidFolder = parts[0];
  }

  const TExtractionPlan plan = PlanExtraction(S, TempDir, FolderCreated, IsLead, Separator);
  FUZZ_CHECK(plan.MoviePath.empty() == plan.Files.empty(), "a movie path exactly when files are planned");
  if (!plan.Files.empty()) FUZZ_CHECK(plan.Files[0].Path == plan.MoviePath, "the movie comes first");
  FUZZ_CHECK(plan.Files.size() <= 1 + S.NeedFiles.size(), "at most the movie and one file per slot");
  if (!plan.FolderToDelete.empty()) {
    FUZZ_CHECK(plan.FolderToDelete != TempDir, "never the temporary directory itself" + where);
    FUZZ_CHECK(FolderCreated && folder && plan.FolderToDelete == *folder,
               "only the GUID folder this run created is deleted: " + plan.FolderToDelete + where);
  }
  for (size_t i = 0; i < plan.Files.size(); ++i) {
    const TPlannedFile& f = plan.Files[i];
    const auto parts = ComponentsBelow(f.Path, TempDir, Separator, IsLead);
    const bool inFolder = parts.size() == 2 && !plan.FolderToDelete.empty() && parts[0] == guidFolder;
    FUZZ_CHECK(parts.size() == 1 || inFolder,
               "a file lies directly in the temporary directory or in the GUID folder: " + f.Path + where);
    for (const std::string& part : parts)
      FUZZ_CHECK(IsPlainComponent(part, IsLead), "every component is a plain name: " + f.Path + where);
    FUZZ_CHECK(f.ReplaceExisting == inFolder, "only files in the folder this run created replace: " + f.Path);
    FUZZ_CHECK(IsItemBlock(f.Block, Items), "a planned file borrows an item's block");
    if (i > 0) FUZZ_CHECK(f.Block.Data != nullptr, "a need file without bytes is not planned");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0) return 0;
  // The saver's temporary directory ends in a backslash; `plws play` has
  // none at the end; "表" ends in a byte that is a backslash only in a
  // single-byte code page; an empty one makes every path relative.
  static const char* const kTempDirs[] = {"C:\\Users\\u\\AppData\\Local\\Temp\\", "C:\\Temp",
                                          "/tmp/plws-play-1/temp", "/tmp/", "C:\\\x95\x5C", ""};
  const uint8_t options = Data[0];
  const bool created = options & 1;
  const char separator = options & 2 ? '/' : '\\';
  const TLeadByteTest lead = options & 4 ? IsShiftJisLeadByte : IsSingleByteLeadByte;
  const char* temp = kTempDirs[(options >> 3) % std::size(kTempDirs)];

  const TFuzzItems items = ReadItems(Data + 1, Size - 1);
  const TPlayerSettings settings = DecodeSettings(items.Items);
  CheckSettings(settings, items.Items);
  CheckPlan(settings, items.Items, temp, created, lead, separator);
  return 0;
}
