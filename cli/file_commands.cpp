// The commands on whole files: the import of card orders, the report, the compaction.
#include <sys/stat.h>

#include <string>

#include "cli/cli.h"
#include "cli/commands.h"
#include "platform/file_io.h"
#include "platform/share.h"
#include "store/card_reader.h"
#include "store/import.h"
#include "store/reorganize.h"
#include "store/report.h"

namespace cli {
namespace {

// Whole lines of text without their line end (a marker line keeps its own in the report).
std::string Line(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

nlohmann::ordered_json TextOrNull(const std::string& text) {
  return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
}

std::string Plural(int64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The import's report; `orders` is the order file's path.
Report ImportReport(Session& session, const std::string& orders,
                    const store::ImportReport& import) {
  const std::string rejects = session.ExchangePath("PREPAID.REJ");
  const std::string repeated = Line(import.repeatedMarker);
  Report report;
  report.text = "applied:  " + std::to_string(import.applied) + " order lines\n" +
                "skipped:  " + std::to_string(import.skipped) +
                " order lines that change nothing\n" +
                "rejected: " + std::to_string(import.rejected) + " lines";
  if (import.rejected > 0) report.text += ", see " + rejects;
  report.text += "\nmarkers:  " + std::to_string(import.markersRecorded) + " recorded\n";
  const std::string repeatedText =
      "batch " + repeated + " was imported before; the import ended there and dropped the rest " +
      "of the file";
  if (!repeated.empty()) report.text += "repeated: " + repeatedText + "\n";

  std::vector<std::string> batches;
  for (const std::string& marker : import.markers) batches.push_back(Line(marker));
  report.json = {{"order_file", orders},
                 {"found", true},
                 {"applied", import.applied},
                 {"skipped", import.skipped},
                 {"rejected", import.rejected},
                 {"reject_file",
                  import.rejected > 0 ? nlohmann::ordered_json(rejects) : nlohmann::ordered_json()},
                 {"markers_recorded", import.markersRecorded},
                 {"batches", batches},
                 {"repeated_batch", TextOrNull(repeated)},
                 {"stopped", import.stopped}};

  report.summary =
      "imported " + orders + ": applied " + Plural(import.applied, "order line", "order lines") +
      ", skipped " + std::to_string(import.skipped) + ", rejected " +
      std::to_string(import.rejected) + (import.rejected > 0 ? " (see " + rejects + ")" : "") +
      ", recorded " + Plural(import.markersRecorded, "batch marker", "batch markers");
  report.fields = {Field("LINDAVOX_APPLIED", import.applied),
                   Field("LINDAVOX_SKIPPED", import.skipped),
                   Field("LINDAVOX_REJECTED", import.rejected),
                   Field("LINDAVOX_MARKERS", import.markersRecorded)};
  for (const std::string& batch : batches) report.fields.push_back({"LINDAVOX_BATCH", batch});
  if (import.rejected > 0) {
    report.warnings.push_back(Plural(import.rejected, "line", "lines") + " rejected, see " +
                              rejects);
  }
  if (!repeated.empty()) {
    report.warnings.push_back(repeatedText);
    report.summary += "; " + repeatedText;
    report.fields.push_back({"LINDAVOX_REPEATED_BATCH", repeated});
  }
  if (!report.warnings.empty()) report.priority = platform::Priority::kWarning;
  return report;
}

}  // namespace

int Import(Session& session, Format format) {
  const std::string orders = session.ExchangePath("PREPAID.INC");
  if (!platform::IsRegularFile(orders)) {
    struct stat st;
    if (::stat(orders.c_str(), &st) == 0)
      return session.FileError(orders, platform::kNotRegularFile);
    // Run every few minutes, an import mostly finds nothing: said only when asked for.
    if (format == Format::kJson || session.settings().verbose) {
      Report report;
      report.summary = "nothing to import: there is no " + orders;
      report.text = report.summary + '\n';
      report.json = {{"order_file", orders}, {"found", false}};
      session.Present(report, format);
    }
    return kExitOk;
  }
  store::ImportReport import;
  const int32_t result = store::Include(session.exchangeDir().c_str(), session.dataDir().c_str(),
                                        util::SplitGeneration::kCurrent, &import);
  if (!import.failedPath.empty()) return session.FileError(import.failedPath, import.error);
  session.Present(ImportReport(session, orders, import), format);
  if (result == 1) return kExitOk;
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
                                            Reason(counts.failedPath, counts.error) +
                                            "; its batch markers appear again in the next report");
  }
  return session.Fail(kExitFileError, "the report was not made: cannot use " + counts.failedPath +
                                          ": " + Reason(counts.failedPath, counts.error) + "; " +
                                          path +
                                          " and PREPAID.TRR are as they were, export again later");
}

int Reorganize(Session& session, bool dryRun) {
  if (const int probe = session.ProbeCardFile(); probe != kExitOk) return probe;
  const std::string cards = session.DataPath("PREPAID.DAT");
  store::ReorganizeReport counts;
  int64_t trailing = 0;
  if (dryRun) {
    store::CardReader reader;
    if (const int error = reader.Open(session.dataDir().c_str()); error != 0) {
      return session.FileError(cards, error);
    }
    PrepaidCard card;
    int64_t index = 0;
    while (reader.Next(&card, &index)) ++(card.balance != 0 ? counts.kept : counts.dropped);
    if (reader.error() != 0) return session.FileError(cards, reader.error());
    trailing = reader.trailingBytes();
  } else if (store::Reorganize(session.dataDir().c_str(), &counts) != 1) {
    if (counts.error == platform::kSharingViolation && counts.failedPath == cards) {
      return session.Fail(kExitFileError,
                          cards +
                              " was not compacted and is as it was: another program has it open "
                              "(the card editor, the telephony server); try again at a quiet "
                              "moment");
    }
    return session.Fail(kExitFileError, cards + " was not compacted and is as it was: cannot use " +
                                            counts.failedPath + ": " +
                                            Reason(counts.failedPath, counts.error));
  }
  Report report;
  report.summary = cards + (dryRun ? ": would keep " : ": kept ") + std::to_string(counts.kept) +
                   " cards with units, " + (dryRun ? "drop " : "dropped ") +
                   std::to_string(counts.dropped) + " without";
  if (trailing > 0) {
    report.summary += ", and the " + std::to_string(trailing) + " bytes after the last record";
  }
  if (dryRun) report.summary += " (dry run: nothing changed)";
  report.text = report.summary + '\n';
  report.fields = {Field("LINDAVOX_KEPT", counts.kept), Field("LINDAVOX_DROPPED", counts.dropped)};
  if (dryRun) report.fields.push_back({"LINDAVOX_DRY_RUN", "1"});
  session.Present(report);
  return kExitOk;
}

}  // namespace cli
