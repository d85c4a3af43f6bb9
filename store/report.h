// The card report (Prepaid_Export): PREPAID.TXT in the exchange directory, replaced whole by
// each export.
//
//   06.12.26 13:30:11        the local date and time of the export (the balance query's
//                            library writes it without seconds: 06.12.26 13:30)
//   E17                      the batch marker lines of PREPAID.TRR, as the import recorded them
//   00042,150,               one line per card with units, in file order: the card number with
//   00043,-5,L               leading zeros to cardDigits digits, the balance, and L when locked
//
// Lines end in CR LF. The markers in PREPAID.TRR exist nowhere else, so the export hands them
// over to the report before it deletes the list: the report is written to a temporary file
// (.PREPAID.TXT.new), synced, and renamed over PREPAID.TXT in one step; only then PREPAID.TRR is
// removed. PREPAID.TRR is held open, denying every other open, from the moment it is read until
// it is removed, so a marker that an import records meanwhile waits for the next report instead
// of being deleted unread. Whatever fails, or wherever the process is killed, PREPAID.TXT is
// either the previous report or the new one whole, and every marker is in PREPAID.TRR or in that
// new report.
#ifndef LINDAVOX_STORE_REPORT_H
#define LINDAVOX_STORE_REPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "store/prepaid.h"

namespace store {

// The date line's form: the card editor's library writes the seconds, the balance query's not.
enum class ReportDate { kWithSeconds, kWithoutSeconds };

// What a report holds, for an operator.
struct ExportReport {
  int64_t markers = 0;               // batch marker lines
  int64_t cards = 0;                 // card lines
  bool inPlace = false;              // the report is PREPAID.TXT (also when the result is 0 because
                                     // PREPAID.TRR could not be removed)
  std::vector<std::string> batches;  // the batch marker lines, without their line ends
  // When the result is 0: the file that could not be opened, read, written or put in place,
  // and the errno value of that step.
  std::string failedPath;
  int error = 0;
};

// 1 when the whole report is in place as PREPAID.TXT and PREPAID.TRR (if it could be read) is
// removed. 0 when PREPAID.DAT is missing or cannot be opened or read, when the report cannot be
// written, synced or put in place (PREPAID.TXT and PREPAID.TRR then stay as they were), or when
// PREPAID.TRR cannot be removed after the report is in place (its markers then appear again in
// the next report). A PREPAID.TRR that cannot be opened (another program has it open) is left
// for the next report, and this one has no marker lines. `counts`, when given, receives what
// the report holds.
int32_t Export(const char* exchangeDir, const char* dataDir, const PrepaidConfig* config,
               ReportDate date, ExportReport* counts = nullptr);

}  // namespace store

#endif
