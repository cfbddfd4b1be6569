// The extraction plan: where the movie and need files of a package go on
// disk, and which folder the cleanup deletes. A plain function of the decoded
// settings; the saver's Win32 layer and `plws play` write the files.
//
// Package texts are untrusted. A name taken from the package only ever
// becomes one file-name component inside the temporary directory, or is
// refused; nothing is written or deleted outside that directory.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "util/utils.h"

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
