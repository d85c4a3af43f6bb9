// Import speed: 100,000 orders into a card file of a million cards, against SQLite applying the
// same orders to a table of the same cards with an index on the card number, in its durable
// setting (write-ahead log, synchronous=FULL) with a commit after every group of orders that the
// import puts on the disk together (store::kOrdersPerSync), so that both promise the same after
// a power cut; and on 100,000 cards and 2,000 orders against the straightforward method that
// searches the card file from its start for every order. The files are restored before every
// iteration, outside the measured time. Prints one "name: ratio" line per figure after Google
// Benchmark's own table.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "bench/import_data.h"
#include "bench/ratio_report.h"
#include "store/import.h"
#include "testsupport/naive_import.h"
#include "testsupport/temp_dir.h"
#include "util/decimal.h"

namespace {

namespace fs = std::filesystem;

testsupport::TempDir* g_dir = nullptr;

std::string Large() { return *g_dir / "large/"; }
std::string Small() { return *g_dir / "small/"; }
std::string Work() { return *g_dir / "work/"; }
std::string Reference() { return *g_dir / "reference/"; }

// Puts the card and order files of `master` into `dir`, as they were before any import.
void Restore(const std::string& master, const std::string& dir) {
  fs::remove_all(dir);
  fs::create_directories(dir);
  for (const char* name : {"PREPAID.DAT", "PREPAID.INC"}) {
    fs::copy_file(master + name, dir + name);
  }
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "benchmark set-up failed: %s\n", what);
    std::exit(1);
  }
}

void Import(benchmark::State& state, const std::string& master) {
  for (auto _ : state) {
    state.PauseTiming();
    Restore(master, Work());
    state.ResumeTiming();
    const int32_t result =
        store::Include(Work().c_str(), Work().c_str(), util::SplitGeneration::kCurrent);
    if (result != 1) state.SkipWithError("the import failed");
  }
}

void ImportLarge(benchmark::State& state) { Import(state, Large()); }
void ImportSmall(benchmark::State& state) { Import(state, Small()); }

void NaiveSmall(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    Restore(Small(), Reference());
    state.ResumeTiming();
    if (testsupport::NaiveInclude(Reference(), Reference()) != 1) {
      state.SkipWithError("the import failed");
    }
  }
}

// ---- SQLite: the same cards in a table with an index on the card number ----

void Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s\n", error ? error : "?");
    std::exit(1);
  }
}

sqlite3_stmt* Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  Check(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK, sql);
  return statement;
}

// Runs a statement to its end, then makes it ready for the next use.
void Step(sqlite3_stmt* statement) {
  while (sqlite3_step(statement) == SQLITE_ROW) {
  }
  sqlite3_reset(statement);
}

std::string MasterDatabase() { return *g_dir / "cards.db"; }

void WriteMasterDatabase(const bench::ImportData& data) {
  sqlite3* db = nullptr;
  Check(sqlite3_open(MasterDatabase().c_str(), &db) == SQLITE_OK, "open");
  Exec(db,
       "CREATE TABLE cards(card INTEGER, balance INTEGER, reserved INTEGER, telefonDigits "
       "INTEGER, lastDigits INTEGER, lastHigh INTEGER, lastLow INTEGER, flags INTEGER, "
       "telefonHigh INTEGER, telefonLow INTEGER);"
       "CREATE TABLE markers(line TEXT); BEGIN");
  sqlite3_stmt* insert = Prepare(db, "INSERT INTO cards VALUES(?1,?2,0,?3,0,0,0,?4,?5,?6)");
  for (const PrepaidCard& c : data.cards) {
    sqlite3_bind_int(insert, 1, c.cardNumber);
    sqlite3_bind_int(insert, 2, c.balance);
    sqlite3_bind_int(insert, 3, c.telefonDigits);
    sqlite3_bind_int64(insert, 4, c.flags);
    sqlite3_bind_int(insert, 5, c.telefonHigh);
    sqlite3_bind_int(insert, 6, c.telefonLow);
    Step(insert);
  }
  sqlite3_finalize(insert);
  Exec(db, "COMMIT; CREATE INDEX cards_by_card ON cards(card)");
  sqlite3_close(db);
}

// The orders of PREPAID.INC applied in transactions of store::kOrdersPerSync lines: the first
// row of the card is looked up through the index and updated, or a new row inserted; batch
// markers are kept in a table.
void ApplyWithSqlite(sqlite3* db, const std::string& orderFile) {
  sqlite3_stmt* find =
      Prepare(db, "SELECT rowid, balance, flags FROM cards WHERE card=?1 ORDER BY rowid LIMIT 1");
  sqlite3_stmt* update = Prepare(db, "UPDATE cards SET balance=?2, flags=?3 WHERE rowid=?1");
  sqlite3_stmt* insert = Prepare(db, "INSERT INTO cards VALUES(?1,?2,0,0,0,0,0,0,0,0)");
  sqlite3_stmt* marker = Prepare(db, "INSERT INTO markers VALUES(?1)");
  std::set<std::string> markers;
  Exec(db, "BEGIN");
  std::FILE* in = std::fopen(orderFile.c_str(), "rb");
  char line[200];
  for (int lines = 0; std::fgets(line, sizeof line, in); ++lines) {
    if (lines > 0 && lines % store::kOrdersPerSync == 0) Exec(db, "COMMIT; BEGIN");
    if (line[0] == 'E') {
      if (!markers.insert(line).second) break;
      sqlite3_bind_text(marker, 1, line, -1, SQLITE_TRANSIENT);
      Step(marker);
      continue;
    }
    char f1[util::kSplitField], f2[util::kSplitField], f3[util::kSplitField];
    if (util::SplitThreeFields(line, util::SplitGeneration::kCurrent, f1, f2, f3) < 2) break;
    const char command = f1[0];
    const int32_t card = util::ParseDecimal32(f2), amount = util::ParseDecimal32(f3);
    if (command == 'A' && amount == 0) continue;
    sqlite3_bind_int(find, 1, card);
    if (sqlite3_step(find) == SQLITE_ROW) {
      const int64_t row = sqlite3_column_int64(find, 0);
      int64_t balance = sqlite3_column_int64(find, 1), flags = sqlite3_column_int64(find, 2);
      sqlite3_reset(find);
      if (command == 'A') balance += amount;
      if (command == 'D') balance = 0;
      if (command == 'L') flags |= 0x80000000;
      if (command == 'U') flags &= ~int64_t{0x80000000};
      if (balance < INT32_MIN || balance > INT32_MAX) continue;
      sqlite3_bind_int64(update, 1, row);
      sqlite3_bind_int64(update, 2, balance);
      sqlite3_bind_int64(update, 3, flags);
      Step(update);
    } else {
      sqlite3_reset(find);
      if (command != 'A') continue;
      sqlite3_bind_int(insert, 1, card);
      sqlite3_bind_int(insert, 2, amount);
      Step(insert);
    }
  }
  std::fclose(in);
  Exec(db, "COMMIT");
  for (sqlite3_stmt* s : {find, update, insert, marker}) sqlite3_finalize(s);
}

void Sqlite(benchmark::State& state) {
  const std::string database = *g_dir / "work.db";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(database);
    fs::copy_file(MasterDatabase(), database);
    sqlite3* db = nullptr;
    Check(sqlite3_open(database.c_str(), &db) == SQLITE_OK, "open");
    // Every commit is on the disk when it returns, as every group of the import is.
    Exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL");
    state.ResumeTiming();
    ApplyWithSqlite(db, Large() + "PREPAID.INC");
    state.PauseTiming();
    sqlite3_close(db);
    state.ResumeTiming();
  }
}

BENCHMARK(ImportLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(Sqlite)->Unit(benchmark::kMillisecond);
BENCHMARK(ImportSmall)->Unit(benchmark::kMillisecond);
BENCHMARK(NaiveSmall)->Unit(benchmark::kMillisecond);

const std::vector<bench::Ratio> kRatios = {
    {"import_vs_sqlite", "ImportLarge", "Sqlite"},
    {"naive_vs_import", "NaiveSmall", "ImportSmall"},
};

}  // namespace

int main(int argc, char** argv) {
  if (bench::PrintRatioNamesIfAsked(argc, argv, kRatios)) return 0;
  // A million cards and 100,000 orders; the small case has a tenth of the cards and 2,000
  // orders (LV_BENCH_CARDS scales both for a short run).
  const int cards = bench::CardCount(1000000, 10000000);
  const int smallCards = std::max(cards / 10, 1);
  const int smallOrders = std::max(static_cast<int>(2000LL * smallCards / 100000), 10);
  testsupport::TempDir dir;
  g_dir = &dir;
  fs::create_directories(Large());
  fs::create_directories(Small());
  {
    const bench::ImportData large = bench::MakeImportData(cards, std::max(cards / 10, 10), 1);
    bench::WriteImportData(large, Large());
    WriteMasterDatabase(large);
  }
  bench::WriteImportData(bench::MakeImportData(smallCards, smallOrders, 2), Small());
  return bench::RunAndPrintRatios(argc, argv, kRatios);
}
