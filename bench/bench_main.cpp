// Runs the package benchmarks and prints a short table of ratios, each case
// against its baseline measured in the same run (repetitions interleaved at
// random, medians compared), and writes the table to a file.
//
//   pl_bench [--pl_data=DIR] [--pl_table=FILE] [--pl_sizes=MiB,MiB,...]
//            [--pl_extract_movie=MiB] [--pl_repetitions=N] [Google Benchmark flags]
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "bench/alloc_counter.h"
#include "bench/bench_suite.h"

namespace {

struct TMedian {
  double Real = 0;  // ms per iteration
  double Cpu = 0;
  std::map<std::string, double> Counters;
};

// Passes everything to the console and keeps the medians by case name.
class TCollector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& Runs) override {
    ConsoleReporter::ReportRuns(Runs);
    for (const auto& run : Runs) {
      if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
      TMedian& m = Medians[run.run_name.function_name];
      m.Real = run.GetAdjustedRealTime();
      m.Cpu = run.GetAdjustedCPUTime();
      for (const auto& [name, counter] : run.counters) m.Counters[name] = counter.value;
    }
  }
  std::map<std::string, TMedian> Medians;
};

bool TakeFlag(const char* Arg, const char* Name, std::string& Value) {
  const size_t n = std::strlen(Name);
  if (std::strncmp(Arg, Name, n) != 0 || Arg[n] != '=') return false;
  Value = Arg + n + 1;
  return true;
}

std::vector<size_t> ParseSizes(const std::string& List) {
  std::vector<size_t> sizes;
  std::stringstream in(List);
  std::string item;
  while (std::getline(in, item, ','))
    if (!item.empty()) sizes.push_back(static_cast<size_t>(std::stoul(item)) << 20);
  return sizes;
}

std::string Fixed(double V, int Decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", Decimals, V);
  return buf;
}

double MiB(double Bytes) { return Bytes / (1 << 20); }

std::string Pad(const std::string& S, size_t Width) {
  return S.size() >= Width ? S + " " : S + std::string(Width - S.size(), ' ');
}

std::string Table(const std::map<std::string, TMedian>& Medians, int Repetitions) {
  std::ostringstream out;
  out << "Package reading: ReadExeItems / (read the compressed movie + one uncompress into an\n"
      << "exact-size buffer). Median of " << Repetitions
      << " interleaved repetitions, wall time, file in the page cache.\n"
      << "extra = peak bytes held during the call beyond the inflated items (counted by a malloc\n"
      << "wrapper); bound = one inflated copy + one compressed block (S + n).\n\n";
  out << Pad("case", 26) << Pad("S MiB", 8) << Pad("n KiB", 10) << Pad("growths", 9) << Pad("reader ms", 11)
      << Pad("base ms", 10) << Pad("ratio", 7) << Pad("cpu ratio", 10) << Pad("extra MiB", 11)
      << Pad("base extra", 11) << "bound MiB\n";
  for (const auto& [name, reader] : Medians) {
    if (name.rfind("read/", 0) != 0 || name.size() < 7 || name.substr(name.size() - 7) != "/reader") continue;
    const std::string group = name.substr(0, name.size() - 7);
    const auto base = Medians.find(group + "/baseline");
    if (base == Medians.end()) continue;
    const auto& c = reader.Counters;
    const double s = c.at("S"), n = c.at("n");
    out << Pad(group.substr(5), 26) << Pad(Fixed(MiB(s), 0), 8) << Pad(Fixed(n / 1024, 0), 10)
        << Pad(Fixed(c.at("growths"), 0), 9) << Pad(Fixed(reader.Real, 2), 11)
        << Pad(Fixed(base->second.Real, 2), 10) << Pad(Fixed(reader.Real / base->second.Real, 2), 7)
        << Pad(Fixed(reader.Cpu / base->second.Cpu, 2), 10) << Pad(Fixed(MiB(c.at("extra")), 2), 11)
        << Pad(Fixed(MiB(base->second.Counters.at("extra")), 2), 11) << Fixed(MiB(s + n), 2) << "\n";
  }
  out << "\nReading + extraction: ReadExeItems, then the movie and each need file written with\n"
      << "plain write calls / (per file: read its compressed bytes, one uncompress, one write).\n\n";
  out << Pad("case", 34) << Pad("files", 7) << Pad("reader ms", 11) << Pad("base ms", 10) << Pad("ratio", 7)
      << "cpu ratio\n";
  for (const auto& [name, reader] : Medians) {
    if (name.rfind("extract/", 0) != 0 || name.substr(name.size() - 7) != "/reader") continue;
    const std::string group = name.substr(0, name.size() - 7);
    const auto base = Medians.find(group + "/baseline");
    if (base == Medians.end()) continue;
    out << Pad(group.substr(8), 34) << Pad(Fixed(reader.Counters.at("files"), 0), 7)
        << Pad(Fixed(reader.Real, 2), 11) << Pad(Fixed(base->second.Real, 2), 10)
        << Pad(Fixed(reader.Real / base->second.Real, 2), 7) << Fixed(reader.Cpu / base->second.Cpu, 2) << "\n";
  }
  return out.str();
}

// What fresh memory costs on this machine: the first touch of each page
// (a page fault) against writing the same pages again. On a virtual machine
// the first can be a hundred times the second, and then it, not inflate,
// decides most of the figures above.
std::string MachineNote() {
  using TClock = std::chrono::steady_clock;
  constexpr size_t kBytes = 64u << 20;
  const long page = sysconf(_SC_PAGESIZE);
  void* map = mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) return "";
  auto* p = static_cast<volatile char*>(map);
  const auto t0 = TClock::now();
  for (size_t i = 0; i < kBytes; i += static_cast<size_t>(page)) p[i] = 1;
  const auto t1 = TClock::now();
  std::memset(map, 2, kBytes);
  const auto t2 = TClock::now();
  munmap(map, kBytes);
  const double mib = static_cast<double>(kBytes >> 20);
  const double fresh = std::chrono::duration<double, std::milli>(t1 - t0).count() / mib;
  const double warm = std::chrono::duration<double, std::milli>(t2 - t1).count() / mib;
  std::string load;
  std::ifstream("/proc/loadavg") >> load;
  return "Machine: " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores, load " + load +
         " at start; first touch of fresh memory " + Fixed(fresh, 2) + " ms/MiB, writing warm memory " +
         Fixed(warm, 2) + " ms/MiB.\n";
}

}  // namespace

int main(int argc, char** argv) {
  // The saver reads its package once, in a fresh process, where every block
  // is new memory. A fixed threshold keeps glibc from adapting it after the
  // first large free and serving later iterations from memory it kept, which
  // would time a warm heap no start-up ever sees.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  TBenchConfig config;
  std::string tablePath;
  // Defaults first, so flags given on the command line win.
  std::vector<std::string> args = {argv[0], "--benchmark_enable_random_interleaving=true",
                                   "--benchmark_report_aggregates_only=true"};
  for (int i = 1; i < argc; ++i) {
    std::string v;
    if (TakeFlag(argv[i], "--pl_data", v)) config.DataDir = v;
    else if (TakeFlag(argv[i], "--pl_table", v)) tablePath = v;
    else if (TakeFlag(argv[i], "--pl_sizes", v)) config.ReaderSizes = ParseSizes(v);
    else if (TakeFlag(argv[i], "--pl_extract_movie", v)) config.ExtractMovie = static_cast<size_t>(std::stoul(v)) << 20;
    else if (TakeFlag(argv[i], "--pl_repetitions", v)) config.Repetitions = std::stoi(v);
    else args.push_back(argv[i]);
  }
  std::vector<char*> cargs;
  for (auto& a : args) cargs.push_back(a.data());
  int cargc = static_cast<int>(cargs.size());
  benchmark::Initialize(&cargc, cargs.data());
  if (benchmark::ReportUnrecognizedArguments(cargc, cargs.data())) return 1;

  try {
    std::cerr << "preparing packages in " << config.DataDir << " ...\n";
    RegisterReaderBenchmarks(config);
    RegisterExtractBenchmarks(config);
  } catch (const std::exception& e) {
    std::cerr << "pl_bench: " << e.what() << "\n";
    return 1;
  }
  if (!AllocCounterActive()) std::cerr << "pl_bench: allocation counter not linked in; extra memory reads 0\n";

  const std::string machine = MachineNote();
  TCollector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();
  std::filesystem::remove_all(config.DataDir + "/out-reader");
  std::filesystem::remove_all(config.DataDir + "/out-baseline");

  const std::string table = machine + "\n" + Table(collector.Medians, config.Repetitions);
  std::cout << "\n" << table;
  if (!tablePath.empty()) {
    std::ofstream out(tablePath, std::ios::trunc);
    out << table;
    if (!out.flush()) {
      std::cerr << "pl_bench: cannot write " << tablePath << "\n";
      return 1;
    }
  }
  return 0;
}
