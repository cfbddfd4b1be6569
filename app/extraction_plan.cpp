#include "app/extraction_plan.h"

#include "app/file_names.h"

namespace {

std::string Join(const std::string& Dir, const std::string& Name, char Separator, TLeadByteTest IsLead) {
  if (Dir.empty()) return Name;
  if (AnsiEndsWithChar(Dir, '/', IsLead) || AnsiEndsWithChar(Dir, '\\', IsLead)) return Dir + Name;
  return Dir + Separator + Name;
}

// A refusal is one line of a log: a name's control bytes must not break it.
std::string Quoted(const std::string& Text) { return ::Quoted(Text, TControlBytes::Escaped); }

}  // namespace

std::optional<std::string> MovieFolder(const TPlayerSettings& Settings, const std::string& TempDir,
                                       TLeadByteTest IsLead, char Separator) {
  if (!Settings.Movie) return std::nullopt;
  const auto guid = SafeFileComponent(Settings.Movie->GUID, IsLead);
  if (!guid) return std::nullopt;
  return Join(TempDir, *guid, Separator, IsLead);
}

namespace {

// The plan with the movie in MovieDir: Folder when this run created one
// (named by "FlashSwfName"), else TempDir (named by the GUID).
TExtractionPlan PlanInto(const TPlayerSettings& Settings, const std::string& TempDir,
                         const std::optional<std::string>& Folder, TLeadByteTest IsLead, char Separator) {
  TExtractionPlan plan;
  const TMovieItem& movie = *Settings.Movie;
  const bool inFolder = Folder.has_value();
  std::string movieDir = TempDir;
  std::optional<std::string> movieName;
  if (inFolder) {
    movieDir = *Folder;
    plan.FolderToDelete = *Folder;
    if (!movie.SwfName.empty()) {
      movieName = FileNamePart(movie.SwfName, IsLead);
      if (!movieName)
        plan.Refused.push_back("FlashSwfName " + Quoted(movie.SwfName) +
                               " is not a file name: the movie is named after the GUID");
    }
  }
  if (!movieName) movieName = SafeFileComponent(movie.GUID + ".swf", IsLead);
  if (!movieName) {
    plan.Refused.push_back("GUID " + Quoted(movie.GUID) + " gives no usable movie file name");
    return plan;
  }
  plan.MoviePath = Join(movieDir, *movieName, Separator, IsLead);
  plan.Files.push_back({plan.MoviePath, movie.Block, inFolder});

  for (const TNeedFile& n : Settings.NeedFiles) {
    if (n.Name.empty() || !n.Block.Data) continue;
    const auto name = FileNamePart(n.Name, IsLead);
    if (!name) {
      plan.Refused.push_back("need file " + std::to_string(n.Index) + " name " + Quoted(n.Name) +
                             " is not a file name: not extracted");
      continue;
    }
    plan.Files.push_back({Join(movieDir, *name, Separator, IsLead), n.Block, inFolder});
  }
  return plan;
}

}  // namespace

TExtractionPlan PlanExtraction(const TPlayerSettings& Settings, const std::string& TempDir,
                               bool FolderCreated, TLeadByteTest IsLead, char Separator) {
  if (!Settings.Movie) return {};
  const auto folder = MovieFolder(Settings, TempDir, IsLead, Separator);
  if (!folder && !Settings.Movie->GUID.empty()) {
    TExtractionPlan plan;
    plan.Refused.push_back("GUID " + Quoted(Settings.Movie->GUID) +
                           " is not a plain folder name: the movie is not extracted");
    return plan;
  }
  return PlanInto(Settings, TempDir, folder && FolderCreated ? folder : std::nullopt, IsLead, Separator);
}

TExtractionPlan PlanExtractionIn(const TPlayerSettings& Settings, const std::string& TempDir,
                                 const std::string& Folder, TLeadByteTest IsLead, char Separator) {
  if (!Settings.Movie) return {};
  return PlanInto(Settings, TempDir, Folder, IsLead, Separator);
}

std::string PrivateFolderName(const std::string& FolderName, uint32_t Pid) {
  return FolderName + "." + std::to_string(Pid);
}

bool IsPrivateFolderSuffix(const std::string& Rest) {
  if (Rest.size() < 2 || Rest.size() > 11 || Rest[0] != '.') return false;
  for (size_t i = 1; i < Rest.size(); ++i)
    if (Rest[i] < '0' || Rest[i] > '9') return false;
  return true;
}
