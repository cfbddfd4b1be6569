// The settings loader's state, as the catalogue's entries (app/catalogue.cpp)
// set it and DecodeSettings (app/settings.cpp) keeps it while it applies the
// items. Only those two use it.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/settings.h"

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
  std::vector<TSlot> Resize(int32_t NewLength);
  // The slot Index, made when first asked for; null outside the table.
  TSlot* Slot(int32_t Index);
};

// One item as a catalogue entry reads it. Flag and Int32 are set for an
// item long enough for them; Slot is the index after an indexed key.
struct TItemValue {
  const TItemType& Item;
  int32_t At = 0;  // the item's index in the list
  std::optional<bool> Flag;
  std::optional<int32_t> Int32;
  int32_t Slot = -1;
  std::string Text() const;
  TItemBlock Block() const;
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

  void Note(int32_t Item, std::string Text);
  // "GUID" and "FlashSwfName" name the movie only while it has not come.
  void NoteIfAfterMovie(const TItemValue& V);
  void ResizeNeedFiles(const TItemValue& V);
  void FillNeedFile(const TItemValue& V, bool IsName);
};
