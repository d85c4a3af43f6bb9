#include "store/import.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/c_boundary.h"
#include "platform/fault.h"
#include "platform/open_writers.h"
#include "platform/shared_folder.h"
#include "store/batch_markers.h"
#include "store/card_blocks.h"
#include "store/card_record.h"
#include "store/import_journal.h"
#include "store/order.h"
#include "store/order_line.h"
#include "store/record_update.h"
#include "store/replacement_file.h"
#include "store/store_internal.h"
#include "store/text_lines.h"
#include "util/file_open_internal.h"

namespace store {
namespace {

// How much of the lines of one rejection the report keeps for the operator.
constexpr size_t kRejectionTextRoom = 4096;

bool OnlyBlank(const std::string& bytes) {
  return bytes.find_first_not_of(" \t\r\n") == std::string::npos;
}

// The lines of `bytes` that are not blank; a line ends at LF, CR LF or a lone CR.
int64_t NonBlankLines(const std::string& bytes) {
  int64_t count = 0;
  bool blank = true;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\n' || c == '\r') {
      count += !blank;
      blank = true;
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    } else if (c != ' ' && c != '\t') {
      blank = false;
    }
  }
  return count + !blank;
}

// What PREPAID.REJ receives for `lines`: a line that says why, then the lines as they stood in
// the order file, ended by a line end.
std::string RejectionBlock(const std::string& lines, LineFault fault) {
  std::string block = std::string("; not applied: ") + LineFaultText(fault) + "\r\n" + lines;
  if (block.back() == '\r') {
    block += '\n';
  } else if (block.back() != '\n') {
    block += "\r\n";
  }
  return block;
}

// Looked at only through links the rules for shared folders follow, so the journal never
// records the size of a file that a planted link leads to.
off_t FileSize(const std::string& path) {
  std::string file;
  struct stat st;
  return platform::FollowTrustedLinks(path, &file) == 0 && ::stat(file.c_str(), &st) == 0
             ? st.st_size
             : 0;
}

class Importer {
 public:
  Importer(const char* exchangeDir, const char* dataDir, util::SplitGeneration generation,
           ImportReport* report, bool dryRun)
      : ordersPath_(StorePath(exchangeDir, "PREPAID.INC")),
        rejectsPath_(StorePath(exchangeDir, "PREPAID.REJ")),
        journalPath_(StorePath(exchangeDir, "PREPAID.INJ")),
        tempPath_(StorePath(exchangeDir, ".PREPAID.INC.new")),
        cardsPath_(StorePath(dataDir, "PREPAID.DAT")),
        markers_(StorePath(exchangeDir, "PREPAID.TRR")),
        generation_(generation),
        report_(report),
        dryRun_(dryRun),
        applier_(cards_, dryRun) {}

  int32_t Run();

 private:
  // What became of a line.
  enum class Step { kNext, kEnd, kStop };
  // Where the import goes on after looking at the journal.
  struct Resume {
    Step step;
    off_t at;
  };
  enum class Found { kYes, kNo, kError };

  bool OpenFiles();
  bool OpenCardFile();
  bool OpenJournal();
  Resume Recover(const JournalEntry& entry);
  Resume RecoverMarker(const JournalEntry& entry);
  Resume RecoverRejection(const JournalEntry& entry);
  Resume RecoverRecord(const JournalEntry& entry);
  Found FindFirstRecord(int32_t card, PrepaidCard* record);
  int32_t ApplyFrom(off_t start);
  Step ApplyLine(const TextLine& line);
  Step ApplyMarker(const TextLine& line);
  Step RejectLine(const TextLine& line, LineFault fault);
  Step RejectRest(off_t from, LineFault fault);
  bool Reject(off_t from, off_t to, LineFault fault, bool endsImport);
  bool AppendToRejects(const std::string& block) const;
  bool CutRejects(off_t size) const;
  void CountRejected(const std::string& lines, LineFault fault);
  bool Note(JournalState state, off_t line, off_t next);
  bool Write(JournalEntry entry) const;
  OrderApplier::BeforeWrite JournalRecord(const TextLine& line) const;
  bool Failed(const std::string& path, int error);
  bool LogicalEnd(off_t from, off_t* end);
  int32_t StopAt(off_t at);
  bool ReplaceOrderFile(const std::string& content);
  int32_t Finish();

  const std::string ordersPath_, rejectsPath_, journalPath_, tempPath_, cardsPath_;
  BatchMarkers markers_;
  const util::SplitGeneration generation_;
  ImportReport* const report_;
  const bool dryRun_;
  platform::SharedFile orders_, cards_;
  ImportJournal journal_;
  OrderFileId orderId_;
  OrderApplier applier_;
};

bool Importer::Failed(const std::string& path, int error) {
  report_->failedPath = path;
  report_->error = error;
  return false;
}

// The order file first, and nothing else while another program may still be writing it.
bool Importer::OpenFiles() {
  if (!StoreFileExists(ordersPath_)) return false;
  if (const int error = util::OpenAsFopen(ordersPath_, "rb", false, &orders_); error != 0) {
    return Failed(ordersPath_, error);
  }
  switch (platform::CheckOpenWriters(orders_.fd())) {
    case platform::WriterCheck::kWriting:
      report_->writer = OrderFileWriter::kWriting;
      return false;
    case platform::WriterCheck::kUnknown:
      report_->writer = OrderFileWriter::kUnknown;
      return false;
    case platform::WriterCheck::kNone:
      break;
  }
  if (!IdentifyOrderFile(orders_, &orderId_)) return Failed(ordersPath_, errno);
  return OpenCardFile() && OpenJournal();
}

// A missing card file is created empty; a dry run reads it as empty instead.
bool Importer::OpenCardFile() {
  if (!StoreFileExists(cardsPath_)) {
    if (dryRun_) return true;
    platform::SharedFile created;
    if (const int error = util::OpenAsFopen(cardsPath_, "ab", false, &created); error != 0) {
      return Failed(cardsPath_, error);
    }
  }
  const char* mode = dryRun_ ? "rb" : "rb+";
  if (const int error = util::OpenAsFopen(cardsPath_, mode, false, &cards_); error != 0) {
    return Failed(cardsPath_, error);
  }
  return true;
}

// The journal is held without sharing for the whole import; a dry run only reads one that an
// interrupted import left, and meets a running import's the same way.
bool Importer::OpenJournal() {
  if (dryRun_ && !StoreFileExists(journalPath_)) return true;
  const int error = dryRun_ ? journal_.OpenToRead(journalPath_) : journal_.Open(journalPath_);
  return error == 0 || Failed(journalPath_, error);
}

int32_t Importer::Run() {
  if (!OpenFiles()) return 0;
  JournalEntry entry;
  Resume resume{Step::kNext, 0};
  if (journal_.isOpen()) {
    switch (journal_.Read(orderId_, &entry)) {
      case ImportJournal::ReadResult::kEntry:
        report_->resumed = true;
        resume = Recover(entry);
        break;
      case ImportJournal::ReadResult::kDamaged:
        report_->resumed = true;
        resume = {RejectRest(0, LineFault::kJournalDamaged), 0};
        break;
      case ImportJournal::ReadResult::kNone:
        break;
    }
  }
  switch (resume.step) {
    case Step::kStop:
      // What the interrupted import left could not be settled now (a file that cannot be read
      // or written): the order file and the journal stay as they are for the next import.
      report_->stopped = true;
      report_->error = errno != 0 ? errno : EIO;
      return 0;
    case Step::kEnd:
      return Finish();
    case Step::kNext:
      return ApplyFrom(resume.at);
  }
  return 0;
}

int32_t Importer::ApplyFrom(off_t start) {
  errno = 0;
  if (!applier_.Start()) return StopAt(start);
  TextLineReader reader(orders_, start);
  TextLine line;
  for (;;) {
    switch (reader.Next(&line)) {
      case TextLineReader::Result::kError:
        return StopAt(line.offset);
      case TextLineReader::Result::kEnd:
        return Finish();
      case TextLineReader::Result::kLine:
        break;
    }
    switch (ApplyLine(line)) {
      case Step::kNext:
        break;
      case Step::kEnd:
        return Finish();
      case Step::kStop:
        return StopAt(line.offset);
    }
  }
}

Importer::Step Importer::ApplyLine(const TextLine& line) {
  errno = 0;  // so a line that stops the import reports its own failure
  const OrderLine read = ReadOrderLine(line, generation_);
  if (read.fault != LineFault::kNone) {
    return EndsImport(read.fault) ? RejectRest(line.offset, read.fault)
                                  : RejectLine(line, read.fault);
  }
  if (read.marker) return ApplyMarker(line);
  switch (applier_.Apply(read.order, JournalRecord(line))) {
    case OrderResult::kChanged:
    case OrderResult::kUnchanged:
      // No entry says the line is done: the next entry comes a few microseconds later, and an
      // import killed in between finds the card as written, or cannot tell and says so. A note
      // here would cost a third of the import's time.
      ++report_->applied;
      return Step::kNext;
    case OrderResult::kNoCard:
    case OrderResult::kIgnored:
      ++report_->skipped;
      return Step::kNext;
    case OrderResult::kOverflow:
      return RejectLine(line, LineFault::kBalanceOverflow);
    case OrderResult::kFailed:
      return Step::kStop;
  }
  return Step::kStop;
}

Importer::Step Importer::ApplyMarker(const TextLine& line) {
  switch (markers_.Find(line.text)) {
    case BatchMarkers::Check::kUnreadable:
      return Step::kStop;
    case BatchMarkers::Check::kKnown:
      report_->repeatedMarker = line.text;
      return Step::kEnd;  // imported before: the rest of the file is dropped on purpose
    case BatchMarkers::Check::kNew:
      break;
  }
  if (!Note(JournalState::kMarkerPending, line.offset, line.next)) return Step::kStop;
  if (!markers_.Record(line.text, dryRun_)) return Step::kStop;
  ++report_->markersRecorded;
  report_->markers.push_back(line.text);
  Note(JournalState::kResume, line.next, line.next);
  return Step::kNext;
}

// Says in the journal, under the record's lock right before the write, which card the line is
// about to write, as it was and as it will be, and how the card file stood.
OrderApplier::BeforeWrite Importer::JournalRecord(const TextLine& line) const {
  return [this, &line](int32_t, bool append, const PrepaidCard& before, const PrepaidCard& after) {
    JournalEntry entry;
    entry.state = JournalState::kRecordPending;
    entry.append = append;
    entry.line = line.offset;
    entry.next = line.next;
    entry.before = before;
    entry.after = after;
    return dryRun_ || (StampCardFile(cards_, &entry.cardFile) && Write(entry));
  };
}

bool Importer::Write(JournalEntry entry) const {
  entry.orderFile = orderId_;
  return journal_.Write(entry);
}

bool Importer::Note(JournalState state, off_t line, off_t next) {
  if (dryRun_) return true;
  JournalEntry entry;
  entry.state = state;
  entry.line = line;
  entry.next = next;
  return Write(entry);
}

Importer::Step Importer::RejectLine(const TextLine& line, LineFault fault) {
  if (!Reject(line.offset, line.next, fault, false)) return Step::kStop;
  Note(JournalState::kResume, line.next, line.next);
  return Step::kNext;
}

Importer::Step Importer::RejectRest(off_t from, LineFault fault) {
  off_t end = 0;
  if (!LogicalEnd(from, &end) || !Reject(from, end, fault, true)) return Step::kStop;
  return Step::kEnd;
}

// Adds the order file's bytes [from, to) to PREPAID.REJ after a line that says why, unless they
// are only blank lines. The journal says so first, so an interrupted import adds them once.
bool Importer::Reject(off_t from, off_t to, LineFault fault, bool endsImport) {
  std::string lines;
  if (!ReadRange(orders_, from, to, &lines)) return false;
  if (OnlyBlank(lines)) return true;
  if (!dryRun_) {
    JournalEntry entry;
    entry.state = JournalState::kRejectPending;
    entry.endsImport = endsImport;
    entry.reason = static_cast<uint8_t>(fault);
    entry.line = from;
    entry.next = to;
    entry.rejectSize = FileSize(rejectsPath_);
    if (!Write(entry) || !AppendToRejects(RejectionBlock(lines, fault))) return false;
  }
  CountRejected(lines, fault);
  return true;
}

bool Importer::AppendToRejects(const std::string& block) const {
  platform::SharedFile rejects;
  if (util::OpenAsFopen(rejectsPath_, "ab", false, &rejects) != 0) return false;
  const bool written = rejects.WriteAt(block.data(), block.size(), 0);
  return rejects.Close() == 0 && written;
}

void Importer::CountRejected(const std::string& lines, LineFault fault) {
  const int64_t count = NonBlankLines(lines);
  report_->rejected += count;
  report_->rejections.push_back(
      {LineFaultText(fault), count, lines.substr(0, std::min(lines.size(), kRejectionTextRoom))});
}

// Where the order file's text ends (before a final Ctrl-Z), reading on from `from`.
bool Importer::LogicalEnd(off_t from, off_t* end) {
  TextLineReader reader(orders_, from);
  TextLine line;
  for (;;) {
    const TextLineReader::Result result = reader.Next(&line);
    if (result == TextLineReader::Result::kError) return false;
    if (result == TextLineReader::Result::kEnd) break;
  }
  *end = reader.end();
  return true;
}

Importer::Resume Importer::Recover(const JournalEntry& entry) {
  switch (entry.state) {
    case JournalState::kResume:
      return {Step::kNext, entry.line};
    case JournalState::kFinishing:
      return {Step::kEnd, 0};
    case JournalState::kMarkerPending:
      return RecoverMarker(entry);
    case JournalState::kRejectPending:
      return RecoverRejection(entry);
    case JournalState::kRecordPending:
      return RecoverRecord(entry);
  }
  return {Step::kStop, entry.line};
}

// A marker that PREPAID.TRR lists was recorded. One it does not list was not, or an export has
// taken it into a report since: recording it again may list it in two reports, but never lets
// its batch be applied twice.
Importer::Resume Importer::RecoverMarker(const JournalEntry& entry) {
  TextLineReader reader(orders_, entry.line);
  TextLine marker;
  if (reader.Next(&marker) != TextLineReader::Result::kLine) return {Step::kStop, entry.line};
  switch (markers_.Find(marker.text)) {
    case BatchMarkers::Check::kKnown:
      ++report_->markersRecorded;
      return {Step::kNext, entry.next};
    case BatchMarkers::Check::kNew:
      return {Step::kNext, entry.line};
    case BatchMarkers::Check::kUnreadable:
      break;
  }
  return {Step::kStop, entry.line};
}

// The lines are in PREPAID.REJ when it has grown by their whole block since. A write that the
// kill cut short leaves a piece of it: PREPAID.REJ is cut back to its size before, so the block
// is added again whole and no line stands there twice.
Importer::Resume Importer::RecoverRejection(const JournalEntry& entry) {
  std::string lines;
  if (!ReadRange(orders_, entry.line, entry.next, &lines)) return {Step::kStop, entry.line};
  const LineFault fault = static_cast<LineFault>(entry.reason);
  const off_t size = FileSize(rejectsPath_);
  const off_t whole = entry.rejectSize + static_cast<off_t>(RejectionBlock(lines, fault).size());
  if (OnlyBlank(lines) || size >= whole) {
    if (!OnlyBlank(lines)) CountRejected(lines, fault);
  } else if ((size > entry.rejectSize && !CutRejects(entry.rejectSize)) ||
             !Reject(entry.line, entry.next, fault, entry.endsImport)) {
    return {Step::kStop, entry.line};
  }
  return {entry.endsImport ? Step::kEnd : Step::kNext, entry.next};
}

bool Importer::CutRejects(off_t size) const {
  if (dryRun_) return true;
  platform::SharedFile rejects;
  const platform::OpenRequest write{platform::kAccessReadWrite, platform::kShareRead,
                                    platform::Disposition::kOpenExisting};
  if (platform::SharedFile::Open(rejectsPath_, write, &rejects) != 0) return false;
  if (const int fault = platform::InjectedFault(platform::FileOp::kTruncate, rejectsPath_)) {
    errno = fault;
    return false;
  }
  const bool cut = ::ftruncate(rejects.fd(), size) == 0;
  return rejects.Close() == 0 && cut;
}

// The interrupted import was about to write a card (see import_journal.h): wherever the card's
// first record is now, it tells whether the write happened, or that it cannot be told.
Importer::Resume Importer::RecoverRecord(const JournalEntry& entry) {
  PrepaidCard now{};
  const Found found = FindFirstRecord(entry.after.cardNumber, &now);
  CardFileStamp stamp;
  if (found == Found::kError || (cards_.isOpen() && !StampCardFile(cards_, &stamp))) {
    return {Step::kStop, entry.line};
  }
  if (found == Found::kYes && SameCardBytes(now, entry.after)) {
    ++report_->applied;
    return {Step::kNext, entry.next};
  }
  const bool unwritten = stamp.Unwritten(entry.cardFile);
  const bool notWritten =
      entry.append ? found == Found::kNo && (unwritten || stamp.SameFile(entry.cardFile))
                   : found == Found::kYes && SameCardBytes(now, entry.before) && unwritten;
  if (notWritten) return {Step::kNext, entry.line};
  if (!Reject(entry.line, entry.next, LineFault::kUndecidable, false)) {
    return {Step::kStop, entry.line};
  }
  return {Step::kNext, entry.next};
}

// The first record of `card` in the card file, read again under its lock (a dry run reads
// without one).
Importer::Found Importer::FindFirstRecord(int32_t card, PrepaidCard* record) {
  if (!cards_.isOpen()) return Found::kNo;
  int64_t position = -1, passed = 0;
  const bool read = ForEachRecordBlock(cards_, [&](const unsigned char* records, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      PrepaidCard candidate;
      DecodeCard(records + i * kRecordSize, &candidate);
      if (candidate.cardNumber == card) {
        position = passed + static_cast<int64_t>(i);
        *record = candidate;
        return false;
      }
    }
    passed += static_cast<int64_t>(count);
    return true;
  });
  if (position < 0) return read ? Found::kNo : Found::kError;
  if (position > kLastIndex) return Found::kError;
  if (dryRun_) return Found::kYes;
  if (!ReadCardLocked(cards_, static_cast<int32_t>(position), record)) return Found::kError;
  return record->cardNumber == card ? Found::kYes : Found::kNo;
}

// Stops the import at the line at `at`: PREPAID.INC is replaced by that line and the ones
// after it. When that fails too, the order file and the journal stay, and the next import
// resumes where the journal says.
int32_t Importer::StopAt(off_t at) {
  report_->stopped = true;
  report_->error = errno != 0 ? errno : EIO;
  off_t end = 0;
  std::string rest;
  if (!dryRun_ && LogicalEnd(at, &end) && ReadRange(orders_, at, end, &rest) &&
      ReplaceOrderFile(rest)) {
    journal_.Remove();
  }
  return 0;
}

// Writes `content` to a temporary file and renames it over PREPAID.INC while no other
// cooperating process has the order file open.
bool Importer::ReplaceOrderFile(const std::string& content) {
  ReplacementFile replacement(tempPath_);
  if (!replacement.Create() || !replacement.Append(content.data(), content.size())) return false;
  orders_.Close();
  platform::SharedFile guard;  // the order file's only open while it is replaced
  const platform::OpenRequest exclusive{platform::kAccessRead, platform::kShareNone,
                                        platform::Disposition::kOpenExisting, false};
  if (platform::SharedFile::Open(ordersPath_, exclusive, &guard) != 0) return false;
  return replacement.Replace(guard);
}

// Every line is done: the order file is deleted, then the journal. When the order file cannot
// be deleted, the journal stays and says so, and the next import only deletes it.
int32_t Importer::Finish() {
  if (dryRun_) return 1;
  Note(JournalState::kFinishing, 0, 0);
  orders_.Close();
  const int removed = platform::RemoveShared(ordersPath_);
  if (removed == 0 || removed == ENOENT) journal_.Remove();
  return 1;
}

}  // namespace

int32_t Include(const char* exchangeDir, const char* dataDir, util::SplitGeneration generation,
                ImportReport* report, const ImportOptions& options) {
  if (!exchangeDir || !dataDir) return 0;
  ImportReport ignored;
  if (!report) report = &ignored;
  *report = ImportReport{};
  return platform::CallNoThrow<int32_t>(0, [&] {
    Importer importer(exchangeDir, dataDir, generation, report, options.dryRun);
    return importer.Run();
  });
}

}  // namespace store
