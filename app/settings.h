// What a package asks of the player, decoded from its items, and where its
// files go on disk. Everything here is a plain function of its inputs: the
// saver's Win32 layer and `plws play` gather the inputs and apply the result.
//
// Package texts are untrusted. A name taken from the package only ever
// becomes one file-name component inside the temporary directory, or is
// refused; nothing is written or deleted outside that directory.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/exe_adder.h"
#include "util/utils.h"

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

// Names are read in the package's code page (IsLead, the system's ANSI code
// page by default): separators are only looked for outside double-byte
// characters, whose second byte may equal '\\' or '|'.

// Text unchanged when it is one safe file-name component on every system the
// files may land on; nullopt otherwise. Refused: empty, "." or "..", longer
// than 255 bytes, control characters, any of \ / : * ? " < > |, a trailing
// dot or blank, and device names (CON, PRN, AUX, NUL, COM0-9, LPT0-9,
// COM and LPT with a superscript 1, 2 or 3, CONIN$, CONOUT$, with or without
// an extension).
std::optional<std::string> SafeFileComponent(const std::string& Text,
                                             TLeadByteTest IsLead = SystemLeadByteTest());

// The file-name part of a package name (what follows its last "\", "/" or
// ":"), when that is a safe component: "sub\data.xml" gives "data.xml",
// "..\..\x" and "C:\x" give "x", "a\.." is refused.
std::optional<std::string> FileNamePart(const std::string& Name,
                                        TLeadByteTest IsLead = SystemLeadByteTest());

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The folder the movie goes into: TempDir joined with the movie's GUID.
// Nullopt when there is no movie, or its GUID is empty or not one safe
// component: then no folder is made and the temporary directory is never
// the one the cleanup deletes.
std::optional<std::string> MovieFolder(const TPlayerSettings& Settings, const std::string& TempDir,
                                       TLeadByteTest IsLead = SystemLeadByteTest(),
                                       char Separator = kPathSeparator);

struct TPlannedFile {
  std::string Path;
  TItemBlock Block;
  // False for files outside the folder this run created: an existing file
  // there may belong to another program and is neither replaced nor, later,
  // deleted; only a file this run created goes in the cleanup list.
  bool ReplaceExisting = false;
};

struct TExtractionPlan {
  std::string MoviePath;  // empty when no movie is written
  std::vector<TPlannedFile> Files;  // the movie first, then the need files
  // The folder to delete at the end: the movie folder when this run created
  // it, else empty (never the temporary directory itself).
  std::string FolderToDelete;
  std::vector<std::string> Refused;  // why a name was refused, for the user
};

// Where the movie and need files go. FolderCreated tells whether this run
// created MovieFolder(Settings, TempDir). Inside that folder the movie is
// named by "FlashSwfName" (its file-name part; the GUID with ".swf" when it
// is empty or refused); otherwise it lies beside, in TempDir, named by the
// GUID with ".swf". Need files go beside the movie under the file-name part
// of their names; there are none without a movie.
TExtractionPlan PlanExtraction(const TPlayerSettings& Settings, const std::string& TempDir,
                               bool FolderCreated, TLeadByteTest IsLead = SystemLeadByteTest(),
                               char Separator = kPathSeparator);
// The plan for a copy that works in a folder of its own, Folder (created by
// it, inside TempDir), because the package's folder is in use: laid out as
// inside the package's folder, and Folder is the one to delete.
TExtractionPlan PlanExtractionIn(const TPlayerSettings& Settings, const std::string& TempDir,
                                 const std::string& Folder, TLeadByteTest IsLead = SystemLeadByteTest(),
                                 char Separator = kPathSeparator);

// The name of the folder of its own that the copy with process id Pid uses
// beside the package's folder FolderName: "<FolderName>.<Pid>". No two live
// copies share it, so one that was killed never stands in the next one's way.
std::string PrivateFolderName(const std::string& FolderName, uint32_t Pid);
// Whether Rest, what follows a package's folder name in a name found beside
// it, makes that a private folder name: "." and one to ten decimal digits.
bool IsPrivateFolderSuffix(const std::string& Rest);
