#include "app/extraction_win32.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "app/file_names.h"
#include "util/file_operation_win32.h"
#include "util/raii_win32.h"
#include "util/utils.h"

namespace {

TLockJoinedObserver gLockJoinedObserver = nullptr;

// Name inside the directory Dir.
std::string InDir(const std::string& Dir, const std::string& Name) {
  if (Dir.empty() || AnsiEndsWithChar(Dir, '\\', SystemLeadByteTest()) || AnsiEndsWithChar(Dir, '/', SystemLeadByteTest()))
    return Dir + Name;
  return Dir + "\\" + Name;
}

bool Exists(const std::string& Path) { return GetFileAttributesA(Path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Removes, silently, what runs that never cleaned up left under the names
// this program makes for the package's folder FolderName: the folder, the
// movie that copies used to put beside it, and the folders of their own
// ("<FolderName>.<pid>") whose lock nobody holds. Names found there that
// merely start alike, and folders a live copy holds, stay.
void RemoveLeftovers(const std::string& TempDir, const std::string& FolderName) {
  DeleteFolderWithoutMessages(InDir(TempDir, FolderName));
  DeleteFileA(InDir(TempDir, FolderName + ".swf").c_str());
  std::vector<std::string> own;
  WIN32_FIND_DATAA fd;
  if (const TUniqueFind h{FindFirstFileA(InDir(TempDir, FolderName + ".*").c_str(), &fd)}) {
    const std::wstring key = FolderLockName(FolderName);
    do {
      const std::string name = fd.cFileName;
      if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name.size() <= FolderName.size()) continue;
      // The file system matched the pattern ignoring letter case, and it
      // matches short names too: the long name itself must say it.
      if (FolderLockName(name.substr(0, FolderName.size())) != key) continue;
      if (IsPrivateFolderSuffix(name.substr(FolderName.size()))) own.push_back(name);
    } while (FindNextFileA(h.Get(), &fd));
  }
  for (const std::string& name : own) {
    const TFolderLock claim = ClaimFreeFolderLock(name);
    if (claim.Handle) DeleteFolderWithoutMessages(InDir(TempDir, name));
  }
}

// Writes what Plan says and records it in Out.
void WritePlan(const TExtractionPlan& Plan, TExtraction& Out) {
  Out.TempFolder = Plan.FolderToDelete;
  Out.SwfPath = Plan.MoviePath;
  for (const TPlannedFile& f : Plan.Files)
    WriteExtractedFile(f.Path, f.Block.Data, f.Block.Size, f.ReplaceExisting, Out.ExtractedFiles);
  // A movie file that was there already is nobody's we know: the controls
  // are not given it.
  if (std::find(Out.ExtractedFiles.begin(), Out.ExtractedFiles.end(), Out.SwfPath) == Out.ExtractedFiles.end())
    Out.SwfPath.clear();
}

// Extracts into a folder of this copy's own beside the package's folder,
// which no other live copy can hold; a folder of that name is what a dead
// process with the same id left. When that folder cannot be had, the files
// go beside the package's folder, never replacing anything there.
void ExtractIntoOwnFolder(const TPlayerSettings& Settings, const std::string& TempDir, TExtraction& Out) {
  const auto lead = SystemLeadByteTest();
  const std::string name = PrivateFolderName(Out.FolderName, GetCurrentProcessId());
  const std::string folder = InDir(TempDir, name);
  Out.OwnFolderLock = ClaimFreeFolderLock(name);
  if (Out.OwnFolderLock.Handle) {
    DeleteFolderWithoutMessages(folder);
    if (CreateDirectoryA(folder.c_str(), nullptr)) {
      WritePlan(PlanExtractionIn(Settings, TempDir, folder, lead, '\\'), Out);
      Out.OwnFolderLock.Owned.Reset();
      return;
    }
    Out.OwnFolderLock = {};
  }
  WritePlan(PlanExtraction(Settings, TempDir, false, lead, '\\'), Out);
}

}  // namespace

void SetLockJoinedObserver(TLockJoinedObserver Observer) { gLockJoinedObserver = Observer; }

void WriteExtractedFile(const std::string& Path, const uint8_t* Data, int32_t Size, bool ReplaceExisting,
                        std::vector<std::string>& Files) {
  try {
    if (ReplaceExisting) Files.push_back(Path);
    // No sharing while it is written: nobody reads a half-written movie.
    TUniqueFile file(CreateFileA(Path.c_str(), GENERIC_WRITE, 0, nullptr,
                                 ReplaceExisting ? CREATE_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    if (!ReplaceExisting) Files.push_back(Path);
    // The bytes are written straight from the item block, in one pass.
    const uint8_t* p = Data;
    int32_t left = Data ? Size : 0;
    while (left > 0) {
      DWORD written = 0;
      if (!WriteFile(file.Get(), p, static_cast<DWORD>(left), &written, nullptr) || written == 0) return;
      p += written;
      left -= static_cast<int32_t>(written);
    }
  } catch (...) {
    // Out of memory for the path list: the file is simply not extracted.
  }
}

TExtraction ExtractPackageFiles(const TPlayerSettings& Settings, const std::string& TempDir, DWORD WaitMs) {
  TExtraction out;
  if (!Settings.Movie) return out;
  const auto lead = SystemLeadByteTest();
  const auto folder = MovieFolder(Settings, TempDir, lead, '\\');
  if (!folder) {
    // No usable GUID: no folder and no lock; nothing is anybody's leftover.
    WritePlan(PlanExtraction(Settings, TempDir, false, lead, '\\'), out);
    return out;
  }
  out.TempDir = TempDir;
  out.FolderName = *SafeFileComponent(Settings.Movie->GUID, lead);
  // From here until the files are written, no other copy looks at the
  // folder: the one that created the lock owns it from its first moment,
  // the others wait here for their turn.
  out.PackageLock = JoinFolderLock(out.FolderName, WaitMs);
  if (gLockJoinedObserver) gLockJoinedObserver(out.PackageLock.First);
  bool created = false;
  if (out.PackageLock.First) {
    // Alone: whatever lies there was left by runs that never cleaned up.
    // Living beside it would leave it for ever. Silent, and no handler
    // runs meanwhile: the end of the run must not come in halfway.
    RemoveLeftovers(TempDir, out.FolderName);
    // One level: fails when the folder is still there.
    created = CreateDirectoryA(folder->c_str(), nullptr) != FALSE;
  }
  if (created)
    WritePlan(PlanExtraction(Settings, TempDir, true, lead, '\\'), out);
  else
    ExtractIntoOwnFolder(Settings, TempDir, out);
  out.PackageLock.Owned.Reset();
  return out;
}

void RemoveExtractedFiles(TExtraction& Extraction) {
  std::vector<std::string> left;
  for (const std::string& path : Extraction.ExtractedFiles)
    if (!DeleteFileA(path.c_str()) && Exists(path)) left.push_back(path);
  Extraction.ExtractedFiles = std::move(left);
  // Out of the record while the deletion processes messages: a handler that
  // cleans up again meanwhile finds nothing more to delete.
  const std::string folder = std::exchange(Extraction.TempFolder, {});
  if (folder.empty()) return;
  DeleteFolder(folder);
  if (Exists(folder)) Extraction.TempFolder = folder;
}

void EndExtraction(TExtraction& Extraction) {
  RemoveExtractedFiles(Extraction);
  const std::string tempDir = Extraction.TempDir;
  const std::string name = Extraction.FolderName;
  Extraction = {};  // the locks go back
  if (name.empty()) return;
  // The last copy of the package: nobody will come after it to remove what
  // a killed copy left beside the folder, so it does.
  const TFolderLock last = ClaimFreeFolderLock(name);
  if (last.Handle) RemoveLeftovers(tempDir, name);
}
