// The card import done the straightforward way, as a reference for tests and benchmarks: the
// order file is read whole, every order line searches PREPAID.DAT from its start with 32-byte
// reads, every marker line reads PREPAID.TRR from its start. It applies the same rules as
// Prepaid_Include (lines that hold control characters or are too long, card numbers and amounts
// that are missing or do not fit, and an 'A' whose new balance would overflow are skipped; a
// marker line that is not whole and a line with fewer than two fields end it; new cards go
// right after the last whole record), but keeps no journal and writes no PREPAID.REJ.
#ifndef LINDAVOX_TESTSUPPORT_NAIVE_IMPORT_H
#define LINDAVOX_TESTSUPPORT_NAIVE_IMPORT_H

#include <string>

#include "util/split_line_internal.h"

namespace testsupport {

// 1 when the order file was processed and deleted, else 0.
int NaiveInclude(const std::string& exchangeDir, const std::string& dataDir,
                 util::SplitGeneration generation = util::SplitGeneration::kCurrent);

}  // namespace testsupport

#endif
