#include "store/import.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/c_boundary.h"
#include "store/batch_markers.h"
#include "store/card_record.h"
#include "store/import_journal.h"
#include "store/order.h"
#include "store/record_update.h"
#include "store/replacement_file.h"
#include "store/store_internal.h"
#include "store/text_lines.h"
#include "util/decimal.h"
#include "util/file_open_internal.h"

namespace store {
namespace {

// Why lines go to PREPAID.REJ; stored in the journal, so an interrupted rejection is written
// with the same words.
enum Reason : uint8_t { kTooFewFields = 1, kBalanceOverflow, kUndecidable, kJournalDamaged };

const char* ReasonText(uint8_t reason) {
  switch (reason) {
    case kTooFewFields:
      return "this line has fewer than two fields; it and the lines after it were not imported";
    case kBalanceOverflow:
      return "the new balance of the card would not fit in 32 bits";
    case kUndecidable:
      return "the import was interrupted here and the card was changed since; "
             "it cannot be told whether this order was applied";
    default:
      return "the import journal PREPAID.INJ is damaged; "
             "it cannot be told which of these orders were applied";
  }
}

// False when the line has fewer than two fields.
bool ParseOrder(const std::string& text, util::SplitGeneration generation, Order* order) {
  char line[kLineRoom + 1];
  const size_t length = std::min(text.size(), kLineRoom);
  std::memcpy(line, text.data(), length);
  line[length] = '\0';
  char f1[util::kSplitField], f2[util::kSplitField], f3[util::kSplitField];
  if (util::SplitThreeFields(line, generation, f1, f2, f3) < 2) return false;
  *order = {f1[0], util::ParseDecimal32(f2), util::ParseDecimal32(f3)};
  return true;
}

bool SameBytes(const PrepaidCard& a, const PrepaidCard& b) {
  unsigned char ea[kRecordSize], eb[kRecordSize];
  EncodeCard(a, ea);
  EncodeCard(b, eb);
  return std::memcmp(ea, eb, kRecordSize) == 0;
}

bool OnlyBlank(const std::string& bytes) {
  return bytes.find_first_not_of(" \t\r\n") == std::string::npos;
}

int64_t NonBlankLines(const std::string& bytes) {
  int64_t count = 0;
  for (size_t start = 0; start < bytes.size();) {
    const size_t end = std::min(bytes.find('\n', start), bytes.size());
    if (!OnlyBlank(bytes.substr(start, end - start))) ++count;
    start = end + 1;
  }
  return count;
}

off_t FileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

class Importer {
 public:
  Importer(const char* exchangeDir, const char* dataDir, util::SplitGeneration generation,
           ImportReport* report)
      : ordersPath_(StorePath(exchangeDir, "PREPAID.INC")),
        rejectsPath_(StorePath(exchangeDir, "PREPAID.REJ")),
        journalPath_(StorePath(exchangeDir, "PREPAID.INJ")),
        tempPath_(StorePath(exchangeDir, ".PREPAID.INC.new")),
        cardsPath_(StorePath(dataDir, "PREPAID.DAT")),
        markers_(StorePath(exchangeDir, "PREPAID.TRR")),
        generation_(generation),
        report_(report) {}

  int32_t Run();

 private:
  // What became of a line.
  enum class Step { kNext, kEnd, kStop };
  // Where the import goes on after looking at the journal.
  struct Resume {
    Step step;
    off_t at;
  };

  bool OpenFiles();
  Resume Recover(const JournalEntry& entry);
  Resume RecoverRecord(const JournalEntry& entry);
  int32_t ApplyFrom(off_t start);
  Step ApplyLine(const TextLine& line);
  Step ApplyMarker(const TextLine& line);
  Step RejectLine(const TextLine& line, uint8_t reason);
  Step RejectRest(off_t from, uint8_t reason);
  bool Reject(off_t from, off_t to, uint8_t reason, bool endsImport);
  bool WriteJournal(JournalState state, const TextLine& line);
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
  platform::SharedFile orders_, cards_;
  ImportJournal journal_;
  OrderFileId orderId_;
  OrderApplier applier_{cards_};
};

bool Importer::Failed(const std::string& path, int error) {
  report_->failedPath = path;
  report_->error = error;
  return false;
}

bool Importer::OpenFiles() {
  if (!StoreFileExists(ordersPath_)) return false;
  if (const int error = util::OpenAsFopen(ordersPath_, "rt", false, &orders_); error != 0) {
    return Failed(ordersPath_, error);
  }
  if (!StoreFileExists(cardsPath_)) {
    platform::SharedFile created;
    if (const int error = util::OpenAsFopen(cardsPath_, "ab", false, &created); error != 0) {
      return Failed(cardsPath_, error);
    }
  }
  if (const int error = util::OpenAsFopen(cardsPath_, "rb+", false, &cards_); error != 0) {
    return Failed(cardsPath_, error);
  }
  if (const int error = journal_.Open(journalPath_); error != 0) {
    return Failed(journalPath_, error);
  }
  return IdentifyOrderFile(orders_, &orderId_) || Failed(ordersPath_, errno);
}

int32_t Importer::Run() {
  if (!OpenFiles()) return 0;
  JournalEntry entry;
  Resume resume{Step::kNext, 0};
  switch (journal_.Read(orderId_, &entry)) {
    case ImportJournal::ReadResult::kEntry:
      resume = Recover(entry);
      break;
    case ImportJournal::ReadResult::kDamaged:
      resume = {RejectRest(0, kJournalDamaged), 0};
      break;
    case ImportJournal::ReadResult::kNone:
      break;
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
    // Lines are C strings to the rules of the import: a zero byte ends the text.
    line.text.resize(std::strlen(line.text.c_str()));
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
  if (!line.text.empty() && line.text[0] == 'E') return ApplyMarker(line);
  Order order;
  if (!ParseOrder(line.text, generation_, &order)) return RejectRest(line.offset, kTooFewFields);
  switch (applier_.Apply(order, JournalRecord(line))) {
    case OrderResult::kChanged:
    case OrderResult::kUnchanged:
      ++report_->applied;
      return Step::kNext;
    case OrderResult::kNoCard:
    case OrderResult::kIgnored:
      ++report_->skipped;
      return Step::kNext;
    case OrderResult::kOverflow:
      return RejectLine(line, kBalanceOverflow);
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
  if (!WriteJournal(JournalState::kMarkerPending, line)) return Step::kStop;
  if (!markers_.Record(line.text)) return Step::kStop;
  ++report_->markersRecorded;
  report_->markers.push_back(line.text);
  return Step::kNext;
}

// Says in the journal, right before the write, which record the line is about to write.
OrderApplier::BeforeWrite Importer::JournalRecord(const TextLine& line) const {
  return [this, &line](int32_t index, bool append, const PrepaidCard& before,
                       const PrepaidCard& after) {
    JournalEntry entry;
    entry.orderFile = orderId_;
    entry.state = JournalState::kRecordPending;
    entry.append = append;
    entry.line = line.offset;
    entry.next = line.next;
    entry.index = index;
    entry.before = before;
    entry.after = after;
    return journal_.Write(entry);
  };
}

bool Importer::WriteJournal(JournalState state, const TextLine& line) {
  JournalEntry entry;
  entry.orderFile = orderId_;
  entry.state = state;
  entry.line = line.offset;
  entry.next = line.next;
  return journal_.Write(entry);
}

Importer::Step Importer::RejectLine(const TextLine& line, uint8_t reason) {
  if (!Reject(line.offset, line.next, reason, false)) return Step::kStop;
  WriteJournal(JournalState::kResume, TextLine{{}, line.next, line.next});
  return Step::kNext;
}

Importer::Step Importer::RejectRest(off_t from, uint8_t reason) {
  off_t end = 0;
  if (!LogicalEnd(from, &end) || !Reject(from, end, reason, true)) return Step::kStop;
  return Step::kEnd;
}

// Adds the order file's bytes [from, to) to PREPAID.REJ after a line that says why, unless they
// are only blank lines. The journal says so first, so an interrupted import adds them once.
bool Importer::Reject(off_t from, off_t to, uint8_t reason, bool endsImport) {
  std::string lines;
  if (!ReadRange(orders_, from, to, &lines)) return false;
  if (OnlyBlank(lines)) return true;
  report_->rejected += NonBlankLines(lines);
  JournalEntry entry;
  entry.orderFile = orderId_;
  entry.state = JournalState::kRejectPending;
  entry.endsImport = endsImport;
  entry.reason = reason;
  entry.line = from;
  entry.next = to;
  entry.rejectSize = FileSize(rejectsPath_);
  if (!journal_.Write(entry)) return false;
  if (lines.back() != '\n') lines += "\r\n";
  const std::string text = std::string("; not applied: ") + ReasonText(reason) + "\r\n" + lines;
  platform::SharedFile rejects;
  if (util::OpenAsFopen(rejectsPath_, "ab", false, &rejects) != 0) return false;
  const bool written = rejects.WriteAt(text.data(), text.size(), 0);
  return rejects.Close() == 0 && written;
}

// Where the order file's text ends (its end or a Ctrl-Z), reading on from `from`.
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
    case JournalState::kMarkerPending: {
      TextLineReader reader(orders_, entry.line);
      TextLine marker;
      if (reader.Next(&marker) != TextLineReader::Result::kLine) return {Step::kStop, entry.line};
      marker.text.resize(std::strlen(marker.text.c_str()));
      switch (markers_.Find(marker.text)) {
        case BatchMarkers::Check::kKnown:
          return {Step::kNext, entry.next};
        case BatchMarkers::Check::kNew:
          return {Step::kNext, entry.line};
        case BatchMarkers::Check::kUnreadable:
          return {Step::kStop, entry.line};
      }
      return {Step::kStop, entry.line};
    }
    case JournalState::kRejectPending:
      if (FileSize(rejectsPath_) <= entry.rejectSize &&
          !Reject(entry.line, entry.next, entry.reason, entry.endsImport)) {
        return {Step::kStop, entry.line};
      }
      return {entry.endsImport ? Step::kEnd : Step::kNext, entry.next};
    case JournalState::kRecordPending:
      return RecoverRecord(entry);
  }
  return {Step::kStop, entry.line};
}

// The interrupted import was about to write `after` as record `index`: the record tells
// whether it did.
Importer::Resume Importer::RecoverRecord(const JournalEntry& entry) {
  PrepaidCard now{};
  const bool present = ReadCardLocked(cards_, entry.index, &now);
  if (present && SameBytes(now, entry.after)) return {Step::kNext, entry.next};
  const bool notWritten = entry.append ? !present || now.cardNumber != entry.after.cardNumber
                                       : present && SameBytes(now, entry.before);
  if (notWritten) return {Step::kNext, entry.line};
  if (!Reject(entry.line, entry.next, kUndecidable, false)) return {Step::kStop, entry.line};
  return {Step::kNext, entry.next};
}

// Stops the import at the line at `at`: PREPAID.INC is replaced by that line and the ones
// after it. When that fails too, the order file and the journal stay, and the next import
// resumes where the journal says.
int32_t Importer::StopAt(off_t at) {
  report_->stopped = true;
  report_->error = errno != 0 ? errno : EIO;
  off_t end = 0;
  std::string rest;
  if (LogicalEnd(at, &end) && ReadRange(orders_, at, end, &rest) && ReplaceOrderFile(rest)) {
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
  JournalEntry entry;
  entry.orderFile = orderId_;
  entry.state = JournalState::kFinishing;
  journal_.Write(entry);
  orders_.Close();
  const int removed = platform::RemoveShared(ordersPath_);
  if (removed == 0 || removed == ENOENT) journal_.Remove();
  return 1;
}

}  // namespace

int32_t Include(const char* exchangeDir, const char* dataDir, util::SplitGeneration generation,
                ImportReport* report) {
  if (!exchangeDir || !dataDir) return 0;
  ImportReport ignored;
  if (!report) report = &ignored;
  *report = ImportReport{};
  return platform::CallNoThrow<int32_t>(0, [&] {
    Importer importer(exchangeDir, dataDir, generation, report);
    return importer.Run();
  });
}

}  // namespace store
