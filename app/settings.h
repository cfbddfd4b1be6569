// What a package asks of the player, decoded from its items: a plain
// function of the items, which the saver's Win32 layer and `plws play`
// gather and apply. Where the files go is app/extraction_plan.h.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/exe_adder.h"

// A block borrowed from the item list: valid while the list lives.
struct TItemBlock {
  const uint8_t* Data = nullptr;  // null for an empty block
  int32_t Size = 0;
};

// One filled slot of the need-file table.
struct TNeedFile {
  int32_t Index = 0;
  std::string Name;  // from "FlashNeedFileName<Index>"; empty until one came
  TItemBlock Block;  // from "FlashNeedFileData<Index>"; null until one came
};

// The movie as the "FlashSwf" item left it, with the names in effect when
// that item came: they decide the movie's file name.
struct TMovieItem {
  TItemBlock Block;
  std::string GUID;     // "GUID" at that moment
  std::string SwfName;  // "FlashSwfName" at that moment
};

// The movie's scale unless "FlashStretch" is on, and the one it gets then.
inline constexpr char kDefaultScale[] = "NoScale";
inline constexpr char kStretchScale[] = "ShowAll";
// The required version when the package names none: any control will do.
inline constexpr char kAnyVersion[] = "0.0.0.0";

// Every catalogue value after the loader applied the items in package order.
// Absent items leave the defaults written here.
struct TPlayerSettings {
  std::string GUID;
  bool Loop = false;
  std::string Scale = kDefaultScale;  // kStretchScale when "FlashStretch" is on
  bool Menu = false;
  bool MenuFull = false;
  int32_t Quality = 0;
  std::string FlashVars;  // the author's FlashVars
  int32_t BackColor = 0;
  std::string SwfName;    // the last "FlashSwfName"
  bool PreviewSleep = false;
  std::string RequiredVersion = kAnyVersion;
  uint8_t Position = 0;   // 0 whole desktop, 1 first monitor, 2 every monitor
  // Host settings: absent leaves the host component's own default.
  std::optional<bool> StopByMouse;
  std::optional<bool> StopByKey;
  std::optional<bool> ShowMouseCursor;
  // Settings dialog: absent leaves the dialog's own texts and picture.
  std::optional<std::string> DialogTitle;
  std::optional<std::string> DialogCopyright;
  std::string DialogURL;
  std::optional<bool> DialogCloseBtn;  // false hides the close button
  std::optional<TItemBlock> DialogImage;
  // The last "FlashSwf" item; a second one replaces the first.
  std::optional<TMovieItem> Movie;
  // Slots that a name or data item filled, in index order. Only slots below
  // the table length that "FlashNeedFileCount" set when the item came count.
  std::vector<TNeedFile> NeedFiles;
};

// What the loader did with an item that its author may not have meant: the
// item was ignored, overridden, or applied otherwise than it reads.
struct TSettingsNote {
  int32_t Item = -1;  // index in the item list; -1 for the package as a whole
  std::string Text;
};

// Applies Items in package order, each against every catalogue key in the
// catalogue's order: a later value wins; "FlashStretch" and "FlashVersion"
// take effect after the last item (an empty version becomes "0.0.0.0");
// "ScreenSaverPosition" keeps its low byte; an item shorter than its encoding
// counts as absent. The result borrows the item blocks. Notes, when given,
// gets one entry for each item ignored or overridden on the way: too short,
// a need-file item outside the table, a key given again, "GUID" or
// "FlashSwfName" after the movie, a need-file slot with a name or data only.
TPlayerSettings DecodeSettings(const TItemTypes& Items, std::vector<TSettingsNote>* Notes = nullptr);

// The FlashVars every player control gets: "plumexmode=" and the mode word
// ("normal" or "preview"), after the author's text and "&" when there is one.
std::string ComposeFlashVars(const std::string& AuthorFlashVars, const std::string& ModeWord);

// Whether a command the movie sends (FSCommand, as ANSI text) asks the player
// to end: the command, lower-cased by the code page's rules, equals "quit".
// Only a full-screen run obeys it; the arguments do not matter.
bool IsQuitCommand(const std::string& Command);
