// Reading plus extraction as the saver does it at start-up: read the whole
// package, then write the movie and every need file into a folder. The
// baseline inflates and writes each of those files once, knowing where its
// bytes are and how large it is.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>

#include "bench/bench_suite.h"
#include "package/exe_adder.h"
#include "package/raii_items.h"

namespace fs = std::filesystem;

namespace {

struct TExtractJob {
  std::string Target;  // file to write
  TBenchRecord Record;
};

// The movie and the need files of the package, each with the file it goes to.
std::vector<TExtractJob> Jobs(const TBenchPackage& Package, const std::string& Dir) {
  std::vector<TExtractJob> jobs;
  jobs.push_back({Dir + "/movie.swf", *Package.Find("FlashSwf")});
  for (int i = 0;; ++i) {
    const TBenchRecord* data = Package.Find("FlashNeedFileData" + std::to_string(i));
    if (!data) break;
    jobs.push_back({Dir + "/need" + std::to_string(i) + ".dat", *data});
  }
  return jobs;
}

std::string Text(const TItemType& Item) {
  return Item.Data ? std::string(reinterpret_cast<const char*>(Item.Data), static_cast<size_t>(Item.Size))
                   : std::string();
}

// Reads the package and writes the movie under "FlashSwfName" and each need
// file under its "FlashNeedFileName<i>", as the settings loader does.
void ReadAndExtract(const std::string& Path, const std::string& Dir) {
  TOwnedItems items;
  ReadExeItems(Path, items);
  std::map<std::string, const TItemType*> byName;
  for (const auto& item : items) byName[item.Name] = &item;
  const TItemType* movie = byName.at("FlashSwf");
  WritePlainFile(Dir + "/" + Text(*byName.at("FlashSwfName")), movie->Data, static_cast<size_t>(movie->Size));
  for (int i = 0;; ++i) {
    const auto name = byName.find("FlashNeedFileName" + std::to_string(i));
    const auto data = byName.find("FlashNeedFileData" + std::to_string(i));
    if (name == byName.end() || data == byName.end()) break;
    WritePlainFile(Dir + "/" + Text(*name->second), data->second->Data, static_cast<size_t>(data->second->Size));
  }
}

void ReaderCase(benchmark::State& State, const TBenchPackage& Package, const std::string& Dir, int Files) {
  for (auto _ : State) ReadAndExtract(Package.Path, Dir);
  State.counters["files"] = Files;
}

void BaselineCase(benchmark::State& State, const TBenchPackage& Package, const std::string& Dir, int Files) {
  const auto jobs = Jobs(Package, Dir);
  for (auto _ : State) {
    for (const auto& job : jobs) {
      uint8_t* in = ReadAt(Package.Path, job.Record.Offset, job.Record.Stored);
      uint8_t* out = InflateExact(in, job.Record.Stored, job.Record.Plain);
      std::free(in);
      WritePlainFile(job.Target, out, static_cast<size_t>(job.Record.Plain));
      std::free(out);
    }
  }
  State.counters["files"] = Files;
}

}  // namespace

void RegisterExtractBenchmarks(const TBenchConfig& Config) {
  const TBenchPackage package =
      ExtractPackage(Config.DataDir, Config.ExtractMovie, Config.NeedFiles, Config.NeedSize);
  const int files = 1 + Config.NeedFiles;
  if (static_cast<int>(Jobs(package, "").size()) != files) throw std::runtime_error(package.Path + ": files missing");
  const std::string base = "extract/movie" + std::to_string(Config.ExtractMovie >> 20) + "MiB+" +
                           std::to_string(Config.NeedFiles) + "x" + std::to_string(Config.NeedSize >> 10) +
                           "KiB";
  int64_t plain = 0;
  for (const auto& r : package.Compressed) plain += r.Plain;
  for (const bool reader : {true, false}) {
    const std::string dir = Config.DataDir + (reader ? "/out-reader" : "/out-baseline");
    fs::create_directories(dir);
    auto* b = benchmark::RegisterBenchmark((base + (reader ? "/reader" : "/baseline")).c_str(),
                                           reader ? ReaderCase : BaselineCase, package, dir, files);
    b->Iterations(IterationsFor(static_cast<size_t>(plain)))->Repetitions(Config.Repetitions)->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  }
}
