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

// The first `most` non-blank lines of `text`, each cut to 120 bytes.
std::vector<std::string> FirstLines(const std::string& text, size_t most) {
  std::vector<std::string> lines;
  size_t start = text.find_first_not_of("\r\n");
  while (start != std::string::npos && lines.size() < most) {
    const size_t end = std::min(text.find_first_of("\r\n", start), text.size());
    lines.push_back(text.substr(start, std::min<size_t>(end - start, 120)));
    start = text.find_first_not_of("\r\n", end);
  }
  return lines;
}

constexpr size_t kRejectedLinesShown = 5;

// The lines an import rejects, as a dry run shows them: the reason, then the first few lines.
std::string RejectionsText(const std::vector<store::RejectedLines>& rejections) {
  std::string text;
  for (const store::RejectedLines& rejection : rejections) {
    text += "  " + rejection.reason + ":\n";
    const std::vector<std::string> shown = FirstLines(rejection.text, kRejectedLinesShown);
    for (const std::string& line : shown) text += "    " + line + '\n';
    if (rejection.lines > static_cast<int64_t>(shown.size())) {
      text += "    ... " + std::to_string(rejection.lines) + " lines in all\n";
    }
  }
  return text;
}

nlohmann::ordered_json RejectionsJson(const std::vector<store::RejectedLines>& rejections) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const store::RejectedLines& rejection : rejections) {
    list.push_back({{"reason", rejection.reason},
                    {"lines", rejection.lines},
                    {"first_lines", FirstLines(rejection.text, kRejectedLinesShown)}});
  }
  return list;
}

const char* WriterName(store::OrderFileWriter writer) {
  switch (writer) {
    case store::OrderFileWriter::kNone:
      return "no";
    case store::OrderFileWriter::kWriting:
      return "yes";
    default:
      return "unknown";
  }
}

nlohmann::ordered_json TextOrNull(const std::string& text) {
  return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
}

std::string Plural(int64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// What went wrong with the lines of an import that ran through (exit 1), empty when nothing.
std::string ImportProblems(const store::ImportReport& import, const std::string& rejects,
                           bool dryRun) {
  std::string problems;
  if (import.rejected > 0) {
    const char* were = import.rejected == 1 ? " was" : " were";
    problems = Plural(import.rejected, "line", "lines") +
               (dryRun ? " would not be applied and would go to "
                       : std::string(were) + " not applied, see ") +
               rejects;
  }
  if (!import.repeatedMarker.empty()) {
    problems += (problems.empty() ? "" : "; ") + std::string("batch ") + import.repeatedMarker +
                " was imported before, the rest of its order file " +
                (dryRun ? "would be" : "was") + " dropped";
  }
  return problems;
}

// The import's report; `orders` is the order file's path.
Report ImportReport(Session& session, const std::string& orders, const store::ImportReport& import,
                    bool dryRun) {
  const std::string rejects = session.ExchangePath("PREPAID.REJ");
  const std::string& repeated = import.repeatedMarker;
  Report report;
  if (dryRun) report.text = "dry run: nothing was changed; the import would do this\n";
  if (import.resumed) report.text += "resumed:  the interrupted import of this order file\n";
  report.text += "applied:  " + std::to_string(import.applied) + " order lines\n" +
                 "skipped:  " + std::to_string(import.skipped) +
                 " order lines that change nothing\n" +
                 "rejected: " + std::to_string(import.rejected) + " lines";
  if (import.rejected > 0) report.text += (dryRun ? ", to " : ", see ") + rejects;
  report.text += "\nmarkers:  " + std::to_string(import.markersRecorded) + " recorded\n";
  if (dryRun) report.text += RejectionsText(import.rejections);
  const std::string repeatedText =
      "batch " + repeated + " was imported before; the import ended there and dropped the rest " +
      "of the file";
  if (!repeated.empty()) report.text += "repeated: " + repeatedText + "\n";

  report.json = {{"order_file", orders},
                 {"found", true},
                 {"still_written", WriterName(import.writer)},
                 {"resumed", import.resumed},
                 {"applied", import.applied},
                 {"skipped", import.skipped},
                 {"rejected", import.rejected},
                 {"reject_file",
                  import.rejected > 0 ? nlohmann::ordered_json(rejects) : nlohmann::ordered_json()},
                 {"rejections", RejectionsJson(import.rejections)},
                 {"markers_recorded", import.markersRecorded},
                 {"batches", import.markers},
                 {"repeated_batch", TextOrNull(repeated)},
                 {"stopped", import.stopped}};

  report.summary =
      "imported " + orders + ": applied " + Plural(import.applied, "order line", "order lines") +
      ", skipped " + std::to_string(import.skipped) + ", rejected " +
      std::to_string(import.rejected) + (import.rejected > 0 ? " (see " + rejects + ")" : "") +
      ", recorded " + Plural(import.markersRecorded, "batch marker", "batch markers");
  if (import.resumed) report.summary += ", after the interrupted import of this order file";
  report.fields = {Field("LINDAVOX_APPLIED", import.applied),
                   Field("LINDAVOX_SKIPPED", import.skipped),
                   Field("LINDAVOX_REJECTED", import.rejected),
                   Field("LINDAVOX_MARKERS", import.markersRecorded)};
  if (import.resumed) report.fields.push_back({"LINDAVOX_RESUMED", "1"});
  for (const std::string& batch : import.markers)
    report.fields.push_back({"LINDAVOX_BATCH", batch});
  if (!repeated.empty()) {
    report.summary += "; " + repeatedText;
    report.fields.push_back({"LINDAVOX_REPEATED_BATCH", repeated});
  }
  // The rejections and a repeated batch are said as the import's error too (exit 1), so --quiet
  // needs no warnings of its own here.
  if (import.rejected > 0 || !repeated.empty()) report.priority = platform::Priority::kWarning;
  if (dryRun) MarkDryRun(&report);
  return report;
}

}  // namespace

int Import(Session& session, Format format, bool dryRun) {
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
    // Run every few minutes, an import mostly finds nothing: said only when asked for.
    if (format == Format::kJson || session.settings().verbose) {
      Report report;
      report.summary = "nothing to import: there is no " + orders;
      report.text = report.summary + '\n';
      report.json = {{"order_file", orders}, {"found", false}};
      if (dryRun) MarkDryRun(&report);
      session.Present(report, format);
    }
    return kExitOk;
  }
  store::ImportReport import;
  const int32_t result = store::Include(session.exchangeDir().c_str(), session.dataDir().c_str(),
                                        util::SplitGeneration::kCurrent, &import, {dryRun});
  if (import.writer != store::OrderFileWriter::kNone) {
    if (format == Format::kJson)
      session.Present(ImportReport(session, orders, import, dryRun), format);
    return session.Fail(kExitFileError, StillWritten(orders, import.writer),
                        {{"LINDAVOX_FILE", orders}});
  }
  if (import.historyError != 0) {
    session.Fail(kExitOk,
                 "changes were made that could not be listed in " + import.historyPath + ": " +
                     Reason(import.historyPath, import.historyError),
                 {{"LINDAVOX_FILE", import.historyPath}});
  }
  if (!import.failedPath.empty()) return session.FileError(import.failedPath, import.error);
  session.Present(ImportReport(session, orders, import, dryRun), format);
  if (result == 1) {
    const std::string problems =
        ImportProblems(import, session.ExchangePath("PREPAID.REJ"), dryRun);
    return problems.empty() ? kExitOk : session.Fail(kExitNotSo, problems);
  }
  if (import.stopped) {
    return session.Fail(kExitFileError,
                        "the import stopped: " + Reason(orders, import.error) + "; " + orders +
                            " holds the lines not applied, import again once the cause is gone");
  }
  return session.Fail(kExitFileError, "the import of " + orders + " did not run");
}

int Export(Session& session, Format format) {
  if (const int probe = session.ProbeCardFile(); probe != kExitOk) return probe;
  const std::string path = session.ExchangePath("PREPAID.TXT");
  store::ExportReport counts;
  const int32_t result = store::Export(session.exchangeDir().c_str(), session.dataDir().c_str(),
                                       &session.config(), store::ReportDate::kWithSeconds, &counts);
  if (counts.inPlace) {
    Report report;
    report.summary = path + ": " + std::to_string(counts.cards) + " cards with units, " +
                     std::to_string(counts.markers) + " batch markers";
    report.text = report.summary + '\n';
    report.json = {{"report", path},
                   {"cards", counts.cards},
                   {"markers", counts.markers},
                   {"batches", counts.batches}};
    report.fields = {{"LINDAVOX_REPORT", path},
                     Field("LINDAVOX_CARDS", counts.cards),
                     Field("LINDAVOX_MARKERS", counts.markers)};
    for (const std::string& batch : counts.batches) {
      report.fields.push_back({"LINDAVOX_BATCH", batch});
    }
    session.Present(report, format);
  }
  if (result == 1) return kExitOk;
  if (counts.inPlace) {
    return session.Fail(kExitFileError, "cannot remove " + counts.failedPath + ": " +
                                            session.Why(counts.failedPath, counts.error) +
                                            "; its batch markers appear again in the next report");
  }
  return session.Fail(kExitFileError, "the report was not made: cannot use " + counts.failedPath +
                                          ": " + session.Why(counts.failedPath, counts.error) +
                                          "; " + path +
                                          " and PREPAID.TRR are as they were, export again later");
}

int Reorganize(Session& session, bool dryRun) {
  if (const int probe = session.ProbeCardFile(); probe != kExitOk) return probe;
  const std::string cards = session.DataPath("PREPAID.DAT");
  store::ReorganizeReport counts;
  if (store::Reorganize(session.dataDir().c_str(), &counts, {dryRun}) != 1) {
    if (counts.error == platform::kSharingViolation && counts.failedPath == cards) {
      return session.Fail(kExitFileError,
                          cards +
                              " was not compacted and is as it was: another program has it open "
                              "(the card editor, the telephony server); try again at a quiet "
                              "moment");
    }
    return session.Fail(kExitFileError, cards + " was not compacted and is as it was: cannot use " +
                                            counts.failedPath + ": " +
                                            session.Why(counts.failedPath, counts.error));
  }
  Report report;
  report.summary = cards + (dryRun ? ": would keep " : ": kept ") + std::to_string(counts.kept) +
                   " cards with units, " + (dryRun ? "drop " : "dropped ") +
                   std::to_string(counts.dropped) + " without";
  if (counts.trailingBytes > 0) {
    report.summary +=
        ", and the " + std::to_string(counts.trailingBytes) + " bytes after the last record";
  }
  report.fields = {Field("LINDAVOX_KEPT", counts.kept), Field("LINDAVOX_DROPPED", counts.dropped)};
  if (dryRun) MarkDryRun(&report);
  report.text = report.summary + '\n';
  session.Present(report);
  return kExitOk;
}

}  // namespace cli
