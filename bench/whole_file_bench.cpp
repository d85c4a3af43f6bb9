// The whole-file operations on a card file of a million cards in the page cache, each against
// the least a safe version of it must cost, measured in the same run:
//   export_vs_copy      the card report of every card (all with units, a tenth locked) against
//                       copying the card file with cp;
//   reorganize_vs_copy  the compaction of a file with half of its cards empty against copying
//                       the card file with cp and syncing the copy, as any replacement that
//                       survives a crash must;
//   list_csv_vs_export  `lindavox-prepaid list --format csv` of the same cards into a file,
//   list_json_vs_export and as JSON, against the card report: text of the same kind, where
//                       the formatting is the cost, not the disk.
// Files are restored, and synced, outside the measured time. Prints one "name: ratio" line per
// figure after Google Benchmark's own table. LV_BENCH_CARDS sets another number of cards.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/ratio_report.h"
#include "cli/cli.h"
#include "store/prepaid.h"
#include "store/report.h"
#include "testsupport/card_files.h"
#include "testsupport/temp_dir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::vector<bench::Ratio> kRatios = {
    {"export_vs_copy", "PrepaidExport", "CopyWithCp"},
    {"reorganize_vs_copy", "PrepaidReorganize", "CopyWithCpAndSync"},
    {"list_csv_vs_export", "ListCsv", "PrepaidExport"},
    {"list_json_vs_export", "ListJson", "PrepaidExport"},
};

testsupport::TempDir* g_dir = nullptr;

std::string Exchange() { return *g_dir / "exchange/"; }
std::string Data() { return *g_dir / "data/"; }
std::string FullCards() { return Data() + "PREPAID.DAT"; }
std::string HalfEmptyCards() { return *g_dir / "half-empty.dat"; }
std::string Copy() { return *g_dir / "copy.dat"; }
std::string Work() { return *g_dir / "work/"; }

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "benchmark set-up failed: %s\n", what);
    std::exit(1);
  }
}

void Sync(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  Check(fd >= 0 && ::fsync(fd) == 0, "sync");
  ::close(fd);
}

// Writes both card files and reads them once, so they are in the page cache.
void WriteCardFiles(int count) {
  std::vector<PrepaidCard> full, halfEmpty;
  full.reserve(count);
  halfEmpty.reserve(count);
  for (int i = 0; i < count; ++i) {
    testsupport::CardBuilder card(100000 + i);
    card.Telefon("030" + std::to_string(1000000 + i));
    if (i % 10 == 0) card.Locked();
    full.push_back(card.Balance(1 + i % 2000).Build());
    halfEmpty.push_back(card.Balance(i % 2 ? 1 + i % 2000 : 0).Build());
  }
  fs::create_directories(Exchange());
  fs::create_directories(Data());
  testsupport::WriteCardFile(FullCards(), full);
  testsupport::WriteCardFile(HalfEmptyCards(), halfEmpty);
  // The same card number width for the listing as the report's configuration gives.
  testsupport::WriteBinFile(Data() + "PREPAID.BIN", testsupport::MakeCodeTables(6, 4, 1, 1));
  for (const std::string& path : {FullCards(), HalfEmptyCards()}) {
    Sync(path);
    Check(testsupport::ReadFile(path).size() == 32u * count, "reading back");
  }
}

// cp FROM TO, as a shell would start it.
void RunCp(const std::string& from, const std::string& to) {
  const char* argv[] = {"cp", from.c_str(), to.c_str(), nullptr};
  pid_t pid;
  Check(::posix_spawnp(&pid, "cp", nullptr, nullptr, const_cast<char**>(argv), environ) == 0,
        "starting cp");
  int status = 0;
  Check(::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0, "cp");
}

void PrepaidExport(benchmark::State& state) {
  const PrepaidConfig config{1, 0, 6, 4};
  for (auto _ : state) {
    state.PauseTiming();
    testsupport::WriteFile(Exchange() + "PREPAID.TRR", "E20261206-1\r\nE20261206-2\r\n");
    state.ResumeTiming();
    if (store::Export(Exchange().c_str(), Data().c_str(), &config,
                      store::ReportDate::kWithSeconds) != 1) {
      state.SkipWithError("the export failed");
    }
  }
}

void CopyWithCp(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(Copy());
    state.ResumeTiming();
    RunCp(FullCards(), Copy());
  }
}

void PrepaidReorganize(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(Work());
    fs::create_directories(Work());
    fs::copy_file(HalfEmptyCards(), Work() + "PREPAID.DAT");
    Sync(Work() + "PREPAID.DAT");
    state.ResumeTiming();
    if (Prepaid_Reorganize(Work().c_str()) != 1) state.SkipWithError("the compaction failed");
  }
}

void CopyWithCpAndSync(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(Copy());
    state.ResumeTiming();
    RunCp(HalfEmptyCards(), Copy());
    Sync(Copy());
  }
}

// The command line's listing, run as the program runs it, into a file.
void List(benchmark::State& state, const char* format) {
  const std::string path = *g_dir / "list.txt";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(path);  // as the report's replacement is a new file each time
    state.ResumeTiming();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::ostringstream err;
    if (cli::Run({"-d", Data(), "list", "--format", format}, out, err, false) != 0 ||
        !out.flush()) {
      state.SkipWithError("the listing failed");
    }
  }
}
void ListCsv(benchmark::State& state) { List(state, "csv"); }
void ListJson(benchmark::State& state) { List(state, "json"); }

BENCHMARK(PrepaidExport)->Unit(benchmark::kMillisecond);
BENCHMARK(CopyWithCp)->Unit(benchmark::kMillisecond);
BENCHMARK(PrepaidReorganize)->Unit(benchmark::kMillisecond);
BENCHMARK(CopyWithCpAndSync)->Unit(benchmark::kMillisecond);
BENCHMARK(ListCsv)->Unit(benchmark::kMillisecond);
BENCHMARK(ListJson)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (bench::PrintRatioNamesIfAsked(argc, argv, kRatios)) return 0;
  testsupport::TempDir dir;
  g_dir = &dir;
  WriteCardFiles(bench::CardCount(1000000, 10000000));
  return bench::RunAndPrintRatios(argc, argv, kRatios);
}
