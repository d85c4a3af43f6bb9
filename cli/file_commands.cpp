// The commands on whole files: the import of card orders, the report, the compaction.
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "cli/cli.h"
#include "cli/commands.h"
#include "platform/file_io.h"
#include "platform/share.h"
#include "store/import.h"
#include "store/reorganize.h"
#include "store/report.h"
#include "util/file_open_internal.h"

namespace cli {
namespace {

// Whole lines of text without their line end (a marker line keeps its own in the report).
std::string Line(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

int Import(Session& session) {
  const std::string orders = session.ExchangePath("PREPAID.INC");
  if (!platform::IsRegularFile(orders)) {
    // Something else is there (a folder, a pipe, a link not followed): the open tells what.
    struct stat st;
    if (::lstat(orders.c_str(), &st) == 0) {
      platform::SharedFile file;
      const int error = util::OpenAsFopen(orders, "rb", false, &file);
      if (error != ENOENT) {
        return session.FileError(orders, error != 0 ? error : platform::kNotRegularFile);
      }
    }
    session.out << "nothing to import: there is no " << orders << '\n';
    return kExitOk;
  }
  store::ImportReport report;
  const int32_t result = store::Include(session.exchangeDir().c_str(), session.dataDir().c_str(),
                                        util::SplitGeneration::kCurrent, &report);
  if (!report.failedPath.empty()) return session.FileError(report.failedPath, report.error);
  std::ostream& out = session.out;
  out << "applied:  " << report.applied << " order lines\n"
      << "skipped:  " << report.skipped << " order lines that change nothing\n"
      << "rejected: " << report.rejected << " lines";
  if (report.rejected > 0) out << ", see " << session.ExchangePath("PREPAID.REJ");
  out << "\nmarkers:  " << report.markersRecorded << " recorded\n";
  if (!report.repeatedMarker.empty()) {
    out << "repeated: batch " << Line(report.repeatedMarker)
        << " was imported before; the import ended there and dropped the rest of the file\n";
  }
  if (result == 1) return kExitOk;
  if (report.stopped) {
    return session.Fail(kExitFileError,
                        "the import stopped: " + Reason(orders, report.error) + "; " + orders +
                            " holds the lines not applied, import again once the cause is gone");
  }
  return session.Fail(kExitFileError, "the import of " + orders + " did not run");
}

int Export(Session& session) {
  if (const int probe = session.ProbeCardFile(); probe != kExitOk) return probe;
  const std::string report = session.ExchangePath("PREPAID.TXT");
  store::ExportReport counts;
  const int32_t result = store::Export(session.exchangeDir().c_str(), session.dataDir().c_str(),
                                       &session.config(), store::ReportDate::kWithSeconds, &counts);
  if (counts.inPlace) {
    session.out << report << ": " << counts.cards << " cards with units, " << counts.markers
                << " batch markers\n";
  }
  if (result == 1) return kExitOk;
  if (counts.inPlace) {
    return session.Fail(kExitFileError, "cannot remove " + session.ExchangePath("PREPAID.TRR") +
                                            ": its batch markers appear again in the next report");
  }
  return session.Fail(kExitFileError,
                      "the report was not made: the card file or the report is held by another "
                      "program, or the disk is full; " +
                          report + " and PREPAID.TRR are as they were, export again later");
}

int Reorganize(Session& session) {
  if (const int probe = session.ProbeCardFile(); probe != kExitOk) return probe;
  store::ReorganizeReport counts;
  if (store::Reorganize(session.dataDir().c_str(), &counts) == 1) {
    session.out << session.DataPath("PREPAID.DAT") << ": kept " << counts.kept
                << " cards with units, dropped " << counts.dropped << " without\n";
    return kExitOk;
  }
  return session.Fail(kExitFileError,
                      session.DataPath("PREPAID.DAT") +
                          " was not compacted and is as it was: another program has it open (the "
                          "card editor, the telephony server), or PREPAID.NEW could not be "
                          "written; try again at a quiet moment");
}

}  // namespace cli
