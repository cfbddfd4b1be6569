// Putting the movie and its need files on disk for the player control, and
// taking them away again. Where each file goes is decided by PlanExtraction
// (app/settings.h); this layer creates the folder, writes the files and
// remembers exactly what this run created, so that the cleanup removes that
// and nothing else.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/extraction_plan.h"
#include "app/settings.h"
#include "saver/duplicate_win32.h"

// What one run put on disk, and its share in the locks of the folder names
// it uses (saver/duplicate_win32.h).
struct TExtraction {
  // The folder this run created for the movie: the package's folder, or one
  // of its own beside it; empty when it created none (no movie, an unusable
  // GUID). The cleanup deletes it with everything inside.
  std::string TempFolder;
  // The movie the controls load; empty when no movie was written, and when
  // a file of that name existed already beside the folder.
  std::string SwfPath;
  // Every file this run created or tried to create, in order; after a
  // cleanup, those it could not delete.
  std::vector<std::string> ExtractedFiles;
  // The lock of the package's folder name, held while the run lasts by
  // every copy, and of the folder of its own when the run uses one.
  TFolderLock PackageLock;
  TFolderLock OwnFolderLock;
  // Where the package's folder lies, for the sweep of the last copy.
  std::string TempDir;
  std::string FolderName;  // empty without a usable GUID
};

// How long a copy waits for another one to finish extracting before it goes
// on, in its own folder, without the lock's ownership.
inline constexpr DWORD kFolderLockWaitMs = 5000;

// Writes Size bytes at Data (null for none) to Path and never raises.
// ReplaceExisting creates or replaces the file, and Path goes into Files
// before the attempt, so a file half written is still removed later.
// Without it only a new file is created: a file of that name that exists
// already (another program's) is left as it is and Path is not recorded.
void WriteExtractedFile(const std::string& Path, const uint8_t* Data, int32_t Size, bool ReplaceExisting,
                        std::vector<std::string>& Files);

// Extracts the movie and need files of Settings under TempDir, the user's
// temporary directory, holding the lock of the package's folder name
// throughout. The copy that creates the lock is the only one alive: what
// lies in TempDir under the package's names was left by runs that never
// cleaned up, and it removes that, silently, then extracts into the
// package's folder. Any other copy waits (up to WaitMs) until the one that
// owns the lock has extracted, and extracts into a folder of its own beside
// the package's folder (PrivateFolderName), as does a first copy that could
// not remove the leftover folder. The lock is owned only for this call.
TExtraction ExtractPackageFiles(const TPlayerSettings& Settings, const std::string& TempDir,
                                DWORD WaitMs = kFolderLockWaitMs);

// Deletes every file of Extraction.ExtractedFiles, then the folder
// Extraction.TempFolder with its contents when there is one. What is gone
// is forgotten, what could not be deleted (a file still open) is kept for
// the next call: a later call never deletes a file of the same name that
// another copy has made meanwhile, as a name only comes back once it is
// gone.
void RemoveExtractedFiles(TExtraction& Extraction);

// The run ends: RemoveExtractedFiles once more, then the locks are given
// back. When that leaves no copy of the package alive, what copies killed
// meanwhile left beside the package's folder is removed too (silently, no
// message processed), so nothing of the package stays once the last copy
// has ended. Extraction is empty afterwards.
void EndExtraction(TExtraction& Extraction);

// A seam for tests: called, when set, as soon as ExtractPackageFiles has
// joined the package's lock (First: this copy created it), before anything
// in the temporary directory is looked at.
using TLockJoinedObserver = void (*)(bool First);
void SetLockJoinedObserver(TLockJoinedObserver Observer);
