// Lookup speed on a card file of a million cards in the page cache, worst case (card absent),
// against two references measured in the same run: reading the file once with read() in 1 MiB
// blocks, and the straightforward loop of 32-byte fread calls. Prints one "name: ratio" line per
// figure after Google Benchmark's own table.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/little_endian.h"
#include "store/prepaid.h"
#include "store/store_internal.h"
#include "testsupport/card_files.h"
#include "testsupport/temp_dir.h"

namespace {

constexpr int kCards = 1000000;
constexpr int32_t kAbsentCard = -2;
constexpr int32_t kAbsentTelefon = 999999999;

testsupport::TempDir* g_dir = nullptr;

std::string CardFile() { return *g_dir / "PREPAID.DAT"; }

void WriteMillionCards() {
  std::vector<PrepaidCard> cards;
  cards.reserve(kCards);
  for (int i = 0; i < kCards; ++i) {
    cards.push_back(testsupport::CardBuilder(i).Balance(i % 7).Telefon(
        "030" + std::to_string(1000000 + i)).Build());
  }
  testsupport::WriteCardFile(CardFile(), cards);
}

void ReadWholeFile(benchmark::State& state) {
  std::unique_ptr<char[]> block(new char[1 << 20]);
  for (auto _ : state) {
    int fd = open(CardFile().c_str(), O_RDONLY);
    size_t total = 0;
    ssize_t n;
    while ((n = read(fd, block.get(), 1 << 20)) > 0) total += static_cast<size_t>(n);
    close(fd);
    benchmark::DoNotOptimize(total);
  }
}

// The record-by-record loop with 32-byte fread calls, matching on the field at `offset`.
template <typename Match>
int NaiveScan(Match matches) {
  std::FILE* file = std::fopen(CardFile().c_str(), "rb");
  unsigned char record[32];
  int index = 0;
  while (std::fread(record, 1, sizeof record, file) == sizeof record) {
    if (matches(record)) break;
    ++index;
  }
  std::fclose(file);
  return index;
}

void NaiveSearch(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(NaiveScan([](const unsigned char* record) {
      return platform::LoadLE32Signed(record) == kAbsentCard;
    }));
  }
}

void NaiveSearchTelefon(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(NaiveScan([](const unsigned char* record) {
      return platform::LoadLE32Signed(record + 28) == kAbsentTelefon &&
             platform::LoadLE32Signed(record + 24) == 0 &&
             platform::LoadLE32Signed(record + 4) != 0;
    }));
  }
}

void PrepaidSearch(benchmark::State& state) {
  PrepaidCard card;
  int32_t index = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Prepaid_Search(g_dir->path().c_str(), kAbsentCard, &index, &card));
  }
  if (index != kCards) state.SkipWithError("the search did not read every card");
}

void PrepaidSearchTelefon(benchmark::State& state) {
  PrepaidCard card;
  int32_t index = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(store::SearchTelefon(g_dir->path().c_str(), 1, kAbsentTelefon, 0,
                                                  &index, &card,
                                                  store::TelefonMatch::kWithUnitsOnly));
  }
  if (index != kCards) state.SkipWithError("the search did not read every card");
}

BENCHMARK(ReadWholeFile)->Unit(benchmark::kMillisecond);
BENCHMARK(PrepaidSearch)->Unit(benchmark::kMillisecond);
BENCHMARK(NaiveSearch)->Unit(benchmark::kMillisecond);
BENCHMARK(PrepaidSearchTelefon)->Unit(benchmark::kMillisecond);
BENCHMARK(NaiveSearchTelefon)->Unit(benchmark::kMillisecond);

// Keeps the time per iteration of every benchmark while printing the usual table.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration) times[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  testsupport::TempDir dir;
  g_dir = &dir;
  WriteMillionCards();
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto& t = reporter.times;
  auto ratio = [&t](const char* name, const char* numerator, const char* denominator) {
    if (t.count(numerator) && t.count(denominator) && t[denominator] > 0) {
      std::printf("%s: %.2f\n", name, t[numerator] / t[denominator]);
    }
  };
  ratio("search_vs_read", "PrepaidSearch", "ReadWholeFile");
  ratio("naive_vs_search", "NaiveSearch", "PrepaidSearch");
  ratio("search_telefon_vs_read", "PrepaidSearchTelefon", "ReadWholeFile");
  ratio("naive_vs_search_telefon", "NaiveSearchTelefon", "PrepaidSearchTelefon");
  benchmark::Shutdown();
  return 0;
}
