// The commands on whole files: the import of card orders, the report, the compaction.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

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

// Why the import did not touch an order file that may still be written.
std::string StillWritten(const std::string& orders, store::OrderFileWriter writer) {
  const std::string stays = "; it was not imported and stays as it is";
  if (writer == store::OrderFileWriter::kWriting) {
    return orders + " is still open for writing by another program" + stays +
           " (write order files under another name and rename them to PREPAID.INC)";
  }
  return "cannot tell whether another program still writes " + orders +
         ": its owner runs programs whose open files this user may not see" + stays +
         " (import as root, as the file's owner, or with the capability CAP_LEASE)";
}

// The lines an import rejects, as a dry run shows them: the reason, then the first few lines.
void ListRejections(std::ostream& out, const std::vector<store::RejectedLines>& rejections) {
  for (const store::RejectedLines& rejection : rejections) {
    out << "  " << rejection.reason << ":\n";
    int64_t shown = 0;
    size_t start = rejection.text.find_first_not_of("\r\n");
    while (start != std::string::npos && shown < 5) {
      const size_t end =
          std::min(rejection.text.find_first_of("\r\n", start), rejection.text.size());
      out << "    " << rejection.text.substr(start, std::min<size_t>(end - start, 120)) << '\n';
      ++shown;
      start = rejection.text.find_first_not_of("\r\n", end);
    }
    if (rejection.lines > shown) out << "    ... " << rejection.lines << " lines in all\n";
  }
}

}  // namespace

int Import(Session& session, bool dryRun) {
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
                                        util::SplitGeneration::kCurrent, &report, {dryRun});
  if (report.writer != store::OrderFileWriter::kNone) {
    return session.Fail(kExitFileError, StillWritten(orders, report.writer));
  }
  if (!report.failedPath.empty()) return session.FileError(report.failedPath, report.error);
  const std::string rejects = session.ExchangePath("PREPAID.REJ");
  std::ostream& out = session.out;
  if (dryRun) out << "dry run: nothing was changed; the import would do this\n";
  if (report.resumed) out << "resumed:  the interrupted import of this order file\n";
  out << "applied:  " << report.applied << " order lines\n"
      << "skipped:  " << report.skipped << " order lines that change nothing\n"
      << "rejected: " << report.rejected << " lines";
  if (report.rejected > 0) out << (dryRun ? ", to " : ", see ") << rejects;
  out << "\nmarkers:  " << report.markersRecorded << " recorded\n";
  if (dryRun) ListRejections(out, report.rejections);
  if (!report.repeatedMarker.empty()) {
    out << "repeated: batch " << report.repeatedMarker
        << " was imported before; the import ended there and dropped the rest of the file\n";
  }
  if (result == 1) {
    std::string problems;
    if (report.rejected > 0) {
      problems = std::to_string(report.rejected) + " lines" +
                 (dryRun ? " would not be applied and would go to " : " were not applied, see ") +
                 rejects;
    }
    if (!report.repeatedMarker.empty()) {
      problems += (problems.empty() ? "" : "; ") + std::string("batch ") + report.repeatedMarker +
                  " was imported before, the rest of its order file " +
                  (dryRun ? "would be" : "was") + " dropped";
    }
    return problems.empty() ? kExitOk : session.Fail(kExitNotSo, problems);
  }
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
