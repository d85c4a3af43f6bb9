// Lookup speed on a card file of a million cards in the page cache, worst case (card absent),
// against two references measured in the same run: reading the file once with read() in 1 MiB
// blocks, and the straightforward loop of 32-byte fread calls. Prints one "name: ratio" line per
// figure after Google Benchmark's own table. LV_BENCH_CARDS sets another number of cards (the
// test suite's short run uses a small file). Beside the lookups, what listing a charge in the
// card history costs: Prepaid_Write with [History] Charges=1 against without, as a ratio and
// as microseconds more per charge.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
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
    // A charge through Prepaid_Write with [History] Charges=1 against one without.
    {"charge_history_vs_plain", "PrepaidWriteListed", "PrepaidWrite"},
    {"charge_history_extra_us", "PrepaidWriteListed", "PrepaidWrite", true},
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

// A charge as the telephony server writes it: one record rewritten through Prepaid_Write, in a
// data directory of its own (1000 cards) whose LINDAVOX.INI lists charges in the card history
// or not. The history is removed now and then, so it never rotates during the run.
void Charges(benchmark::State& state, bool listed) {
  const std::string dir = *g_dir / (listed ? "listed/" : "plain/");
  ::mkdir(dir.c_str(), 0755);
  std::vector<PrepaidCard> cards;
  for (int i = 0; i < 1000; ++i) cards.push_back(testsupport::CardBuilder(i).Balance(1000).Build());
  testsupport::WriteCardFile(dir + "PREPAID.DAT", cards);
  testsupport::WriteFile(dir + "LINDAVOX.INI",
                         listed ? "[History]\r\nCharges=1\r\n" : "[History]\r\n");
  PrepaidCard card = cards[500];
  int64_t charges = 0;
  for (auto _ : state) {
    --card.balance;
    if (Prepaid_Write(dir.c_str(), 500, &card) != 1) state.SkipWithError("the charge failed");
    if (++charges % 50000 == 0) {
      state.PauseTiming();
      std::remove((dir + "PREPAID.HIS").c_str());
      state.ResumeTiming();
    }
  }
}
void PrepaidWrite(benchmark::State& state) { Charges(state, false); }
void PrepaidWriteListed(benchmark::State& state) { Charges(state, true); }

BENCHMARK(ReadWholeFile)->Unit(benchmark::kMillisecond);
BENCHMARK(PrepaidSearch)->Unit(benchmark::kMillisecond);
BENCHMARK(NaiveSearch)->Unit(benchmark::kMillisecond);
BENCHMARK(PrepaidSearchTelefon)->Unit(benchmark::kMillisecond);
BENCHMARK(NaiveSearchTelefon)->Unit(benchmark::kMillisecond);
BENCHMARK(PrepaidWrite)->Unit(benchmark::kMicrosecond);
BENCHMARK(PrepaidWriteListed)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (bench::PrintRatioNamesIfAsked(argc, argv, kRatios)) return 0;
  testsupport::TempDir dir;
  g_dir = &dir;
  WriteCards();
  return bench::RunAndPrintRatios(argc, argv, kRatios);
}
