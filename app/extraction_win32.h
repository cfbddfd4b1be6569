// Putting the movie and its need files on disk for the player control, and
// taking them away again. Where each file goes is decided by PlanExtraction
// (app/settings.h); this layer creates the folder, writes the files and
// remembers exactly what this run created, so that the cleanup removes that
// and nothing else.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/settings.h"

// What one run put on disk.
struct TExtraction {
  // The folder this run created for the movie; empty when it created none
  // (no movie, an unusable GUID, or the folder existed already). The
  // cleanup deletes it with everything inside.
  std::string TempFolder;
  // The movie the controls load; empty when no movie was written, and when
  // a file of that name existed already beside the folder.
  std::string SwfPath;
  // Every file this run created or tried to create, in order.
  std::vector<std::string> ExtractedFiles;
};

// Writes Size bytes at Data (null for none) to Path and never raises.
// ReplaceExisting creates or replaces the file, and Path goes into Files
// before the attempt, so a file half written is still removed later.
// Without it only a new file is created: a file of that name that exists
// already (another program's) is left as it is and Path is not recorded.
void WriteExtractedFile(const std::string& Path, const uint8_t* Data, int32_t Size, bool ReplaceExisting,
                        std::vector<std::string>& Files);

// Extracts the movie and need files of Settings under TempDir, the user's
// temporary directory: into a folder named after the package's GUID, or,
// when that folder exists already, beside it. LeftoversAreOurs says that no
// other copy of this package is alive (this run holds its mutex first): a
// folder of that name, and the movie beside it, are then what a killed run
// or an ended session left, and are removed before anything is written.
TExtraction ExtractPackageFiles(const TPlayerSettings& Settings, const std::string& TempDir,
                                bool LeftoversAreOurs);

// Deletes every file of Extraction.ExtractedFiles (failures ignored), then
// the folder Extraction.TempFolder with its contents when there is one, and
// forgets them: a second call deletes nothing, even when another copy of
// the package has meanwhile created files of the same names.
void RemoveExtractedFiles(TExtraction& Extraction);
