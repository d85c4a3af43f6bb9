// Lookup speed on a card file of a million cards in the page cache, worst case (card absent),
// against two references measured in the same run: reading the file once with read() in 1 MiB
// blocks, and the straightforward loop of 32-byte fread calls. Prints one "name: ratio" line per
// figure after Google Benchmark's own table. LV_BENCH_CARDS sets another number of cards (the
// test suite's short run uses a small file).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/ratio_report.h"
#include "platform/little_endian.h"
#include "store/prepaid.h"
#include "store/store_internal.h"
#include "testsupport/card_files.h"
#include "testsupport/temp_dir.h"

namespace {

constexpr int32_t kAbsentCard = -2;
constexpr int32_t kAbsentTelefon = 999999999;
constexpr int kMaxCards = 50000000;

const std::vector<bench::Ratio> kRatios = {
    {"search_vs_read", "PrepaidSearch", "ReadWholeFile"},
    {"naive_vs_search", "NaiveSearch", "PrepaidSearch"},
    {"search_telefon_vs_read", "PrepaidSearchTelefon", "ReadWholeFile"},
    {"naive_vs_search_telefon", "NaiveSearchTelefon", "PrepaidSearchTelefon"},
};

testsupport::TempDir* g_dir = nullptr;
int g_cards = 1000000;

std::string CardFile() { return *g_dir / "PREPAID.DAT"; }

// Writes the card file in a child process: the 32 MB of cards made here would teach this
// process's allocator to keep large blocks on its heap, and the lookups are to be measured as
// in a program that has allocated nothing large before.
void WriteCards() {
  g_cards = bench::CardCount(g_cards, kMaxCards);
  const pid_t child = fork();
  if (child < 0) std::exit(2);
  if (child > 0) {
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::exit(2);
    }
    return;
  }
  std::vector<PrepaidCard> cards;
  cards.reserve(g_cards);
  for (int i = 0; i < g_cards; ++i) {
    cards.push_back(testsupport::CardBuilder(i)
                        .Balance(i % 7)
                        .Telefon("030" + std::to_string(1000000 + i))
                        .Build());
  }
  testsupport::WriteCardFile(CardFile(), cards);
  std::_Exit(0);
}

// The buffer starts on a page, as the lookup's block does: the kernel copies into a buffer that
// starts inside a cache line up to twice as slowly, so a buffer placed by chance would make the
// figure depend on where the heap happens to put it.
void ReadWholeFile(benchmark::State& state) {
  constexpr size_t kBlock = 1 << 20;
  std::unique_ptr<char, decltype(&std::free)> block(
      static_cast<char*>(std::aligned_alloc(4096, kBlock)), &std::free);
  for (auto _ : state) {
    int fd = open(CardFile().c_str(), O_RDONLY);
    size_t total = 0;
    ssize_t n;
    while ((n = read(fd, block.get(), kBlock)) > 0) total += static_cast<size_t>(n);
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
  if (index != g_cards) state.SkipWithError("the search did not read every card");
}

void PrepaidSearchTelefon(benchmark::State& state) {
  PrepaidCard card;
  int32_t index = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(store::SearchTelefon(g_dir->path().c_str(), 1, kAbsentTelefon, 0,
                                                  &index, &card,
                                                  store::TelefonMatch::kWithUnitsOnly));
  }
  if (index != g_cards) state.SkipWithError("the search did not read every card");
}

BENCHMARK(ReadWholeFile)->Unit(benchmark::kMillisecond);
BENCHMARK(PrepaidSearch)->Unit(benchmark::kMillisecond);
BENCHMARK(NaiveSearch)->Unit(benchmark::kMillisecond);
BENCHMARK(PrepaidSearchTelefon)->Unit(benchmark::kMillisecond);
BENCHMARK(NaiveSearchTelefon)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (bench::PrintRatioNamesIfAsked(argc, argv, kRatios)) return 0;
  testsupport::TempDir dir;
  g_dir = &dir;
  WriteCards();
  return bench::RunAndPrintRatios(argc, argv, kRatios);
}
