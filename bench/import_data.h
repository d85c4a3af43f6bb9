// The card store of the import benchmarks: a card file and an order file with a realistic mix
// of orders (top-ups of existing cards, new cards, empties, locks, unlocks, a few batch
// markers), written once and copied into place before each measured import.
#ifndef LINDAVOX_BENCH_IMPORT_DATA_H
#define LINDAVOX_BENCH_IMPORT_DATA_H

#include <string>
#include <vector>

#include "store/prepaid.h"

namespace bench {

struct ImportData {
  std::vector<PrepaidCard> cards;
  std::string orders;  // PREPAID.INC, CR LF lines
};

// `cards` cards and `orders` order lines: 55% top-ups, 20% new cards, 10% empties, 7% locks,
// 7% unlocks, and a batch marker every 10,000 lines.
ImportData MakeImportData(int cards, int orders, unsigned seed);

// Writes `data` into `dir` as PREPAID.DAT and PREPAID.INC.
void WriteImportData(const ImportData& data, const std::string& dir);

}  // namespace bench

#endif
