// The card import (Prepaid_Include): card orders from PREPAID.INC applied to PREPAID.DAT.
//
// Orders come in batches headed by a marker line (first character 'E'); the markers of imported
// batches are kept in PREPAID.TRR, one to a line, so a batch that arrives again is not applied
// twice: at a known marker the import ends and drops the rest of the order file on purpose.
// Order lines hold a command ('A' add units, 'D' empty, 'L' lock, 'U' unlock), a card number
// and, for 'A', an amount, separated by commas (store/order_line.h). The import looks cards up
// in an index built once per import (store/card_index.h), works out the card writes of a group
// of lines, and writes each record under its lock (store/record_update.h) while it is still as
// the plan read it (else the lines from there are planned again), with the same results, record
// for record, as searching the file from its start for every line.
//
// Nothing is lost and nothing is applied twice:
//   - an order file that another program still has open for writing is not touched at all;
//   - every byte of the order file is applied or added to PREPAID.REJ in the exchange directory,
//     each group of lines after a line "; not applied: <reason>" (lines that are no orders,
//     numbers that do not fit, an 'A' whose new balance would not fit in 32 bits, an order that
//     an interrupted import may or may not have applied; a line with fewer than two fields and
//     everything after it), except the rest of a file after a known batch marker;
//   - when a record, a marker or a rejection cannot be written, the import stops at that line,
//     PREPAID.INC is replaced by exactly the lines not yet applied, and the result is 0;
//   - the journal PREPAID.INJ (store/import_journal.h) lets the next import finish an import
//     that was killed or lost its power: after a kill, the one card write the kill may have
//     interrupted is told from its card, wherever a compaction moved it; after a power cut,
//     each card write of the interrupted group.
//
// Across a power cut this holds because of these syncs, each marked "Sync:" where it happens
// (import.cpp, durable_append.cpp, import_journal.cpp), and no others:
//   - the journal before a group's card writes (the group's records, with the values before and
//     after), before a marker is recorded, before lines are rejected, and when an interrupted
//     group's verdict or a changed plan is noted; the first time, the journal's folder too;
//   - the card file after a group's card writes, before the journal moves on, and before the
//     order file is cut down to the lines not applied;
//   - PREPAID.TRR and PREPAID.REJ after each addition (a new file's folder too);
//   - the data folder when the import creates the card file;
//   - the exchange folder after the order file is deleted, before the journal is.
// A group holds at most kOrdersPerSync card writes, so the syncs cost two per group, two per
// marker or rejection, and one or two per import.
#ifndef LINDAVOX_STORE_IMPORT_H
#define LINDAVOX_STORE_IMPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "util/split_line_internal.h"

namespace store {

// The import puts its card writes on the disk in groups of at most this many: one sync of the
// journal before a group's writes, one of the card file after them.
inline constexpr int kOrdersPerSync = 1000;

struct ImportOptions {
  // Read and decide everything as the import would, from the files as they are, and write
  // nothing: no card, marker, rejection or journal, and the order file stays.
  bool dryRun = false;
};

// Lines that went (in a dry run: would go) to PREPAID.REJ, with their reason.
struct RejectedLines {
  std::string reason;
  int64_t lines = 0;  // non-blank lines
  std::string text;   // the first of them, as in the order file, up to a few kilobytes
};

// Whether another program still writes the order file.
enum class OrderFileWriter {
  kNone,
  kWriting,  // another program has PREPAID.INC open for writing
  kUnknown,  // it cannot be told (no lease, and the file's owner has processes closed to us)
};

// What an import did, for an operator.
struct ImportReport {
  int64_t applied = 0;               // order lines applied to a card (also when it was already so)
  int64_t skipped = 0;               // order lines that do nothing: other commands, amount 0, 'D',
                                     // 'L' or 'U' for an absent card
  int64_t rejected = 0;              // lines added to PREPAID.REJ (blank lines not counted)
  int64_t markersRecorded = 0;       // batch markers added to PREPAID.TRR
  std::vector<std::string> markers;  // those markers in order
  std::string repeatedMarker;        // the known marker at which the import ended
  std::vector<RejectedLines> rejections;
  bool resumed = false;  // an interrupted import was found in the journal and finished
  // The changes are made, but some could not be listed in the card history: the first
  // failure's errno value and the history file.
  int historyError = 0;
  std::string historyPath;
  OrderFileWriter writer = OrderFileWriter::kNone;  // not kNone: nothing was done
  // When the result is 0 with an order file present: the file that could not be opened and the
  // errno value, or `stopped` when the import stopped at a line (PREPAID.INC then holds the
  // lines not applied) with the errno value of what failed, as far as it is known.
  std::string failedPath;
  int error = 0;
  bool stopped = false;
};

// 1 when the order file was processed (also when the import ended early at a repeated marker
// or a line with fewer than two fields) and deleted (a dry run: would be); 0 when there was
// none, when another program still writes it, when a file could not be opened (another import
// running included), or when the import stopped at a line that could not be written
// (PREPAID.INC then holds that line and the ones after it). `report`, when given, receives
// what the import did.
int32_t Include(const char* exchangeDir, const char* dataDir, util::SplitGeneration generation,
                ImportReport* report = nullptr, const ImportOptions& options = {});

}  // namespace store

#endif
