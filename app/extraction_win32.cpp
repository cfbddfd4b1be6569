#include "app/extraction_win32.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "util/file_operation_win32.h"
#include "util/raii_win32.h"
#include "util/utils.h"

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

TExtraction ExtractPackageFiles(const TPlayerSettings& Settings, const std::string& TempDir,
                                bool LeftoversAreOurs) {
  TExtraction out;
  if (!Settings.Movie) return out;
  const auto lead = SystemLeadByteTest();
  const auto folder = MovieFolder(Settings, TempDir, lead, '\\');
  if (folder && LeftoversAreOurs) {
    // Left there by a run that never cleaned up. Living beside them would
    // leave them for ever, and a movie file beside the folder would keep
    // every later run from playing. No handler may run meanwhile: the
    // extraction must not be interrupted by the end of the run.
    DeleteFolderWithoutMessages(*folder);
    DeleteFileA(PlanExtraction(Settings, TempDir, false, lead, '\\').MoviePath.c_str());
  }
  // One level: fails when the folder exists.
  const bool created = folder && CreateDirectoryA(folder->c_str(), nullptr) != FALSE;
  const TExtractionPlan plan = PlanExtraction(Settings, TempDir, created, lead, '\\');
  out.TempFolder = plan.FolderToDelete;
  out.SwfPath = plan.MoviePath;
  for (const TPlannedFile& f : plan.Files)
    WriteExtractedFile(f.Path, f.Block.Data, f.Block.Size, f.ReplaceExisting, out.ExtractedFiles);
  // A movie file that was there already is nobody's we know: the controls
  // are not given it.
  if (std::find(out.ExtractedFiles.begin(), out.ExtractedFiles.end(), out.SwfPath) == out.ExtractedFiles.end())
    out.SwfPath.clear();
  return out;
}

void RemoveExtractedFiles(TExtraction& Extraction) {
  // Forgotten before anything is deleted: the folder deletion processes
  // messages, and a handler that runs the cleanup again finds nothing.
  const TExtraction mine = std::exchange(Extraction, {});
  for (const std::string& path : mine.ExtractedFiles) DeleteFileA(path.c_str());
  if (!mine.TempFolder.empty()) DeleteFolder(mine.TempFolder);
}
