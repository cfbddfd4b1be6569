#include "tools/plws/package_check.h"

#include <algorithm>

#include "app/catalogue.h"
#include "app/file_names.h"
#include "flash/swf.h"
#include "framework/bmp_decode.h"

namespace {

// Names go into the notes as they are: plws makes the whole note safe for
// its terminal, in the package's code page.
std::string Quoted(const std::string& Text) { return ::Quoted(Text, TControlBytes::Kept); }

// Why a name matches no catalogue key: a key in the wrong letter case is the
// usual slip, a slot number that is none the next.
std::string UnknownKey(const std::string& Name) {
  const std::string lower = AsciiLowerCase(Name);
  for (int i = 0; i < kCatalogueSize; ++i) {
    const TCatalogueEntry& e = kCatalogue[i];
    const std::string key = e.Key;
    if (!e.Indexed) {
      if (lower == AsciiLowerCase(key)) return "differs from the key " + Quoted(key) + " only in letter case: ignored";
      continue;
    }
    const size_t at = lower.find(AsciiLowerCase(key));
    if (at == std::string::npos) continue;
    if (Name.compare(at, key.size(), key) == 0)
      return Quoted(key) + " is followed by " + Quoted(Name.substr(at + key.size())) +
             ", not a slot number of 0 or more: ignored";
    const std::string fixed = Name.substr(0, at) + key + Name.substr(at + key.size());
    if (FindCatalogueEntry(fixed)) return "differs from " + Quoted(fixed) + " only in letter case: ignored";
  }
  return "is no key the player knows: ignored";
}

// A name from the package that becomes a file name: refused, or cut to its
// last part, which is all the player keeps.
void CheckFileName(const std::string& Name, const char* Refused, const char* Kept, TLeadByteTest IsLead,
                   int32_t Item, std::vector<TSettingsNote>& Notes) {
  if (Name.empty()) return;
  const auto part = FileNamePart(Name, IsLead);
  if (!part)
    Notes.push_back({Item, Quoted(Name) + " is not a file name: " + Refused});
  else if (*part != Name)
    Notes.push_back({Item, Quoted(Name) + " names folders: only " + Quoted(*part) + " is used, " + Kept});
}

}  // namespace

std::vector<TSettingsNote> CheckPackageItems(const TItemTypes& Items, TLeadByteTest IsLead) {
  std::vector<TSettingsNote> notes;
  const TPlayerSettings settings = DecodeSettings(Items, &notes);
  int32_t movieItem = -1;
  bool guidBeforeMovie = false;
  for (size_t index = 0; index < Items.size(); ++index) {
    const TItemType& item = Items[index];
    const auto at = static_cast<int32_t>(index);
    const int32_t size = item.Data ? item.Size : 0;
    const std::string& name = item.Name;
    if (!FindCatalogueEntry(name)) {
      notes.push_back({at, UnknownKey(name)});
      continue;
    }
    const std::string text = DecodeText(item.Data, size);
    if (name == "FlashSwf") {
      movieItem = at;
      if (!LooksLikeSwf(item.Data, size))
        notes.push_back({at, size == 0 ? std::string("is empty: there is no movie to play")
                                       : "is no SWF movie (it starts with neither FWS, CWS nor ZWS): nothing plays"});
    } else if (name == "DialogImage") {
      if (size == 0) {
        notes.push_back({at, "is empty: the dialog shows no picture"});
      } else {
        try {
          DecodeBmp(item.Data, static_cast<size_t>(size));
        } catch (const EInvalidGraphic& e) {
          notes.push_back({at, "is no bitmap the dialog can show (" + std::string(e.what()) + "): no picture"});
        }
      }
    } else if (name == "GUID") {
      guidBeforeMovie = guidBeforeMovie || movieItem < 0;
      if (text.empty())
        notes.push_back({at, "is empty: the movie gets no folder of its own and no name"});
      else if (!SafeFileComponent(text, IsLead))
        notes.push_back({at, Quoted(text) + " is not a plain folder name: the movie is not extracted"});
    } else if (name == "FlashSwfName") {
      CheckFileName(text, "the movie is named after the GUID", "as the movie's name", IsLead, at, notes);
    } else if (name == "FlashVersion") {
      if (!text.empty() && !IsDottedVersion(text))
        notes.push_back({at, Quoted(text) + " is no dotted version like 9.0.124.0: the version check reads " +
                                 "what is not a number as 0"});
    } else if (IndexedKeySlot(name, "FlashNeedFileName") >= 0) {
      CheckFileName(text, "not written", "beside the movie", IsLead, at, notes);
    }
  }
  if (!settings.Movie) {
    notes.push_back({-1, settings.NeedFiles.empty()
                             ? "no \"FlashSwf\" item: there is no movie to play"
                             : "no \"FlashSwf\" item: there is no movie to play, and need files are written only "
                               "beside it"});
  } else if (settings.Movie->GUID.empty() && !guidBeforeMovie) {
    notes.push_back({movieItem, "comes with no GUID before it: the movie is written straight into the temporary "
                                "directory as \".swf\""});
  }
  std::stable_sort(notes.begin(), notes.end(),
                   [](const TSettingsNote& A, const TSettingsNote& B) { return A.Item < B.Item; });
  return notes;
}
