#include "store/import.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/boot_id.h"
#include "platform/c_boundary.h"
#include "platform/file_io.h"
#include "platform/open_writers.h"
#include "platform/path.h"
#include "store/batch_markers.h"
#include "store/card_blocks.h"
#include "store/card_record.h"
#include "store/durable_append.h"
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

static_assert(kOrdersPerSync <= static_cast<int>(kJournalGroupRecords));

// The lines of a group: each order line planned since the group began, with what it does, and
// the card writes the group will make.
struct Group {
  off_t start = 0;  // every line before it is done and on the disk
  off_t end = 0;    // the line after the last one planned
  struct Line {
    off_t offset;
    OrderResult result;
  };
  std::vector<Line> lines;
  std::vector<JournalRecord> records;  // the card writes, as the journal names them
};

JournalRecord RecordOf(const TextLine& line, const PlannedWrite& write) {
  return {line.offset, line.next, write.index, write.append, write.before, write.after};
}

// The number (counted from 1) and the batch marker of order lines, for the card history,
// read from the start of the order file once as the import moves on.
class LinePlaces {
 public:
  LinePlaces(const platform::SharedFile& orders, util::SplitGeneration generation)
      : orders_(orders), generation_(generation) {}

  // The history's source of the order line that starts at `offset`.
  HistorySource Source(off_t offset) {
    if (reader_ && offset == last_) return source_;
    if (!reader_ || offset < next_) {
      reader_ = std::make_unique<TextLineReader>(orders_, 0);
      next_ = 0;
      number_ = 0;
      marker_.clear();
    }
    TextLine line;
    while (next_ <= offset && reader_->Next(&line) == TextLineReader::Result::kLine) {
      next_ = line.next;
      ++number_;
      if (line.offset < offset && ReadOrderLine(line, generation_).marker) marker_ = line.text;
      if (line.offset == offset) break;
    }
    const std::string number = "line " + std::to_string(number_);
    last_ = offset;
    source_ = {"import", marker_.empty() ? number : marker_ + " " + number};
    return source_;
  }

 private:
  const platform::SharedFile& orders_;
  const util::SplitGeneration generation_;
  std::unique_ptr<TextLineReader> reader_;
  off_t next_ = 0;  // where the line after the last one read starts
  int64_t number_ = 0;
  std::string marker_;
  off_t last_ = -1;  // the line of the last answer, and the answer
  HistorySource source_;
};

class Importer {
 public:
  Importer(const char* exchangeDir, const char* dataDir, util::SplitGeneration generation,
           ImportReport* report, bool dryRun)
      : ordersPath_(StorePath(exchangeDir, "PREPAID.INC")),
        rejectsPath_(StorePath(exchangeDir, "PREPAID.REJ")),
        journalPath_(StorePath(exchangeDir, "PREPAID.INJ")),
        tempPath_(StorePath(exchangeDir, ".PREPAID.INC.new")),
        cardsPath_(StorePath(dataDir, "PREPAID.DAT")),
        dataDir_(dataDir),
        markers_(StorePath(exchangeDir, "PREPAID.TRR")),
        generation_(generation),
        report_(report),
        dryRun_(dryRun),
        applier_(cards_, dryRun),
        history_(dataDir),
        places_(orders_, generation) {}

  int32_t Run();

 private:
  // What became of a line.
  enum class Step { kNext, kEnd, kStop };
  // Where the import goes on after looking at the journal; kStop leaves the order file and the
  // journal as they are.
  struct Resume {
    Step step;
    off_t at;
  };
  // What became of a group.
  enum class Written { kAll, kMoved, kFailed, kUnsettled };
  enum class Found { kYes, kNo, kError };

  bool OpenFiles();
  bool OpenCardFile();
  bool OpenJournal();
  bool OpenHistory();
  AfterWrite ListChange(const JournalRecord& record);
  void ListWritten(const JournalEntry& entry, size_t count);
  Resume Recover(JournalEntry& entry);
  Resume RecoverMarker(const JournalEntry& entry);
  Resume RecoverRejection(const JournalEntry& entry);
  Resume RecoverKilledGroup(const JournalEntry& entry);
  Resume RecoverRecord(const JournalRecord& record, const CardFileStamp& cardFile, bool* written);
  Found FindFirstRecord(int32_t card, PrepaidCard* record);
  bool ReadCard(int32_t index, PrepaidCard* card);
  Resume RecoverGroup(JournalEntry& entry);
  bool RejectUndecidable(const JournalEntry& entry);
  int32_t ApplyFrom(off_t start);
  bool PlanLine(const TextLine& line);
  Written WriteGroup(off_t* at);
  void CountLines(off_t before);
  Step ApplyLine(const TextLine& line);
  Step ApplyMarker(const TextLine& line);
  Step RejectLine(const TextLine& line, LineFault fault);
  Step RejectRest(off_t from, LineFault fault);
  bool Reject(off_t from, off_t to, LineFault fault, bool endsImport);
  bool AddRejected(const std::string& lines, LineFault fault, off_t size);
  void CountRejected(const std::string& lines, LineFault fault);
  bool WriteJournal(JournalState state, off_t line, off_t next);
  bool SyncCards();
  bool Failed(const std::string& path, int error);
  bool LogicalEnd(off_t from, off_t* end);
  int32_t StopAt(off_t at);
  int32_t StopAsItIs();
  bool ReplaceOrderFile(const std::string& content);
  int32_t Finish();

  const std::string ordersPath_, rejectsPath_, journalPath_, tempPath_, cardsPath_, dataDir_;
  BatchMarkers markers_;
  const util::SplitGeneration generation_;
  ImportReport* const report_;
  const bool dryRun_;
  platform::SharedFile orders_, cards_;
  ImportJournal journal_;
  OrderFileId orderId_;
  OrderApplier applier_;
  Group group_;
  CardHistory history_;
  LinePlaces places_;
  // Dry run: records as the recovery of an interrupted group would finish them.
  std::vector<std::pair<int32_t, PrepaidCard>> assumed_;
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
  return OpenHistory() && OpenCardFile() && OpenJournal();
}

// The card history is opened before anything changes: an import whose changes could not be
// listed does not start.
bool Importer::OpenHistory() {
  if (dryRun_) return true;
  const int error = history_.Open();
  return error == 0 || Failed(history_.path(), error);
}

// Lists a record's change in the card history under the record's lock, right after its write.
// A line that cannot be written does not stop the import (the card is changed); the report says
// so.
AfterWrite Importer::ListChange(const JournalRecord& record) {
  if (dryRun_) return nullptr;
  return [this, &record](const PrepaidCard& before, const PrepaidCard& after) {
    if (!history_.Record(places_.Source(record.line), before, after) &&
        report_->historyError == 0) {
      report_->historyError = history_.error();
      report_->historyPath = history_.path();
    }
  };
}

// The first `count` records of an interrupted group were written (those marked rejected
// aside): each gets its history line unless the lines appended since the group began hold it
// (see import_journal.h).
void Importer::ListWritten(const JournalEntry& entry, size_t count) {
  if (dryRun_) return;
  std::vector<HistoryEntry> listed;
  ReadHistorySince(dataDir_.c_str(), entry.history, [&](std::string_view text) {
    HistoryEntry line;
    if (ParseHistoryLine(text, &line) && line.program == "import") listed.push_back(line);
    return true;
  });
  std::vector<bool> matched(listed.size());
  for (size_t i = 0; i < count && i < entry.records.size(); ++i) {
    if (entry.rejected[i]) continue;
    const JournalRecord& record = entry.records[i];
    const HistoryEntry change =
        MakeHistoryEntry(places_.Source(record.line), record.before, record.after, false);
    bool found = false;
    for (size_t j = 0; j < listed.size() && !found; ++j) {
      found = !matched[j] && listed[j].SameChange(change);
      if (found) matched[j] = true;
    }
    if (!found) ListChange(record)(record.before, record.after);
  }
}

// A missing card file is created empty; a dry run reads it as empty instead.
bool Importer::OpenCardFile() {
  if (!StoreFileExists(cardsPath_)) {
    if (dryRun_) return true;
    platform::SharedFile created;
    if (const int error = util::OpenAsFopen(cardsPath_, "ab", false, &created); error != 0) {
      return Failed(cardsPath_, error);
    }
    // Sync: a new card file's name goes on the disk before any card is written into it, or a
    // power cut after the import could take the file, and every card in it, along.
    platform::SyncDirectory(platform::DirectoryOf(cardsPath_));
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
      return StopAsItIs();
    case Step::kEnd:
      return Finish();
    case Step::kNext:
      return ApplyFrom(resume.at);
  }
  return 0;
}

// Lines are planned into a group until the group is full or a line needs more than a card
// write (a marker, a rejection, the end); then the group is written, and that line looked at
// with nothing planned.
int32_t Importer::ApplyFrom(off_t start) {
  errno = 0;
  if (!applier_.Start()) return StopAt(start);
  for (const auto& [index, card] : assumed_) applier_.Assume(index, card);
  group_ = Group{start, start, {}, {}};
  auto reader = std::make_unique<TextLineReader>(orders_, start);
  TextLine line;
  for (;;) {
    const TextLineReader::Result read = reader->Next(&line);
    const bool planned = read == TextLineReader::Result::kLine && PlanLine(line);
    if (planned && group_.records.size() < static_cast<size_t>(kOrdersPerSync)) continue;
    off_t at = 0;
    switch (WriteGroup(&at)) {
      case Written::kAll:
        break;
      case Written::kMoved:
        // A record changed under the plans: the lines from the one that planned it on are
        // planned again.
        reader = std::make_unique<TextLineReader>(orders_, at);
        continue;
      case Written::kFailed:
        return StopAt(at);
      case Written::kUnsettled:
        return StopAsItIs();
    }
    if (planned) continue;
    switch (read) {
      case TextLineReader::Result::kError:
        return StopAt(line.offset);
      case TextLineReader::Result::kEnd:
        return Finish();
      case TextLineReader::Result::kLine:
        break;
    }
    switch (ApplyLine(line)) {
      case Step::kNext:
        if (group_.lines.empty()) group_.start = group_.end = line.next;
        break;
      case Step::kEnd:
        return Finish();
      case Step::kStop:
        return StopAt(line.offset);
    }
  }
}

// Plans an order line into the group; false when the line needs more than that (a marker, a
// rejection, a failure), which is then looked at with the group written.
bool Importer::PlanLine(const TextLine& line) {
  errno = 0;
  const OrderLine read = ReadOrderLine(line, generation_);
  if (read.marker || read.fault != LineFault::kNone) return false;
  PlannedWrite write;
  const OrderResult result = applier_.Plan(read.order, &write);
  switch (result) {
    case OrderResult::kChanged:
      group_.records.push_back(RecordOf(line, write));
      break;
    case OrderResult::kUnchanged:
    case OrderResult::kNoCard:
    case OrderResult::kIgnored:
      break;
    case OrderResult::kOverflow:
    case OrderResult::kReplan:
    case OrderResult::kFailed:
      return false;
  }
  group_.lines.push_back({line.offset, result});
  group_.end = line.next;
  return true;
}

// Writes the group's cards: the journal names them and is synced first, the records are written
// in line order, each noted in the journal right before its write, then the card file is
// synced. `*at`: where to go on (kMoved: the line whose record had changed since it was
// planned; kFailed: the line to stop at).
Importer::Written Importer::WriteGroup(off_t* at) {
  if (group_.records.empty() || dryRun_) {
    CountLines(group_.end);
    applier_.Settle(true);
    *at = group_.end;
    group_ = Group{group_.end, group_.end, {}, {}};
    return Written::kAll;
  }
  JournalEntry entry;
  entry.orderFile = orderId_;
  entry.state = JournalState::kGroup;
  entry.line = group_.start;
  entry.next = group_.end;
  entry.records = group_.records;
  entry.bootId = platform::BootId();
  // Room for the group's history lines before any of its writes, and where the history ends,
  // for an import that finds this journal.
  if (const int error = history_.Reserve(static_cast<off_t>(group_.records.size()) * 256);
      error != 0 || !history_.Stamp(&entry.history)) {
    errno = error != 0 ? error : EIO;
    *at = group_.start;
    return Written::kFailed;
  }
  // Sync: the journal is on the disk before any of the writes it announces.
  if (!journal_.Write(entry) || !journal_.Sync()) {
    *at = group_.start;
    return Written::kFailed;
  }
  Written result = Written::kAll;
  *at = group_.end;
  for (size_t i = 0; i < group_.records.size() && result == Written::kAll; ++i) {
    const JournalRecord& record = group_.records[i];
    // Under the record's lock right before its write: which record, and how the card file
    // stood, for an import that finds the journal after a kill.
    const auto note = [&](int32_t, bool, const PrepaidCard&, const PrepaidCard&) {
      CardFileStamp stamp;
      return StampCardFile(cards_, &stamp) &&
             journal_.NoteProgress(static_cast<uint32_t>(i), stamp);
    };
    switch (applier_.Write({record.index, record.append, record.before, record.after}, note,
                           ListChange(record))) {
      case OrderApplier::WriteResult::kWritten:
        continue;
      case OrderApplier::WriteResult::kMoved:
        result = Written::kMoved;
        break;
      case OrderApplier::WriteResult::kFailed:
        result = Written::kFailed;
        break;
    }
    *at = record.line;
  }
  // Sync: what was written is on the disk before the journal moves on and forgets it. When
  // that cannot be made sure, the journal stays as it is and the next import settles it.
  if (!SyncCards()) return Written::kUnsettled;
  CountLines(*at);
  if (result == Written::kMoved) {
    // Sync: the journal no longer names the record that was not written, so the next import
    // never takes it for one written and then changed by somebody else.
    if (!WriteJournal(JournalState::kResume, *at, *at) || !journal_.Sync()) {
      return Written::kUnsettled;
    }
  } else if (result == Written::kAll) {
    // The group is done. Not synced: after a kill the next import finds this, and does not
    // take a card of the group that a call charged since for one it cannot decide; after a
    // power cut that lost it, the group's records are looked at again.
    WriteJournal(JournalState::kResume, *at, *at);
  }
  if (!applier_.Settle(result == Written::kAll)) {
    *at = group_.end;
    result = Written::kFailed;
  }
  group_ = Group{*at, *at, {}, {}};
  return result;
}

// Counts the group's lines before `before`, which are done.
void Importer::CountLines(off_t before) {
  for (const Group::Line& line : group_.lines) {
    if (line.offset >= before) break;
    const bool applied =
        line.result == OrderResult::kChanged || line.result == OrderResult::kUnchanged;
    ++(applied ? report_->applied : report_->skipped);
  }
}

bool Importer::SyncCards() { return platform::SyncFileData(cards_.fd(), cardsPath_) == 0; }

// A line that needs more than a card write, with nothing planned.
Importer::Step Importer::ApplyLine(const TextLine& line) {
  errno = 0;  // so a line that stops the import reports its own failure
  const OrderLine read = ReadOrderLine(line, generation_);
  if (read.fault != LineFault::kNone) {
    return EndsImport(read.fault) ? RejectRest(line.offset, read.fault)
                                  : RejectLine(line, read.fault);
  }
  if (read.marker) return ApplyMarker(line);
  PlannedWrite write;
  switch (applier_.Plan(read.order, &write)) {
    case OrderResult::kChanged:
      // Planned now that the group before it is written (the file changed meanwhile).
      group_ = Group{
          line.offset, line.next, {{line.offset, OrderResult::kChanged}}, {RecordOf(line, write)}};
      return Step::kNext;
    case OrderResult::kUnchanged:
      ++report_->applied;
      return Step::kNext;
    case OrderResult::kNoCard:
    case OrderResult::kIgnored:
      ++report_->skipped;
      return Step::kNext;
    case OrderResult::kOverflow:
      return RejectLine(line, LineFault::kBalanceOverflow);
    case OrderResult::kReplan:
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
  JournalEntry entry;
  entry.orderFile = orderId_;
  entry.state = JournalState::kMarkerPending;
  entry.line = line.offset;
  entry.next = line.next;
  entry.markerSize = SizeBeforeAppending(markers_.path());
  // Sync: a marker that reached PREPAID.TRR while the journal did not say so would make the next
  // import take this batch for one imported before and drop it.
  if (!dryRun_ && (!journal_.Write(entry) || !journal_.Sync())) return Step::kStop;
  // Synced there (durable_append.h) before the journal moves past it.
  if (!markers_.Record(line.text, entry.markerSize, dryRun_)) return Step::kStop;
  ++report_->markersRecorded;
  report_->markers.push_back(line.text);
  return Step::kNext;
}

bool Importer::WriteJournal(JournalState state, off_t line, off_t next) {
  if (dryRun_) return true;
  JournalEntry entry;
  entry.orderFile = orderId_;
  entry.state = state;
  entry.line = line;
  entry.next = next;
  return journal_.Write(entry);
}

Importer::Step Importer::RejectLine(const TextLine& line, LineFault fault) {
  if (!Reject(line.offset, line.next, fault, false)) return Step::kStop;
  WriteJournal(JournalState::kResume, line.next, line.next);
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
  JournalEntry entry;
  entry.orderFile = orderId_;
  entry.state = JournalState::kRejectPending;
  entry.endsImport = endsImport;
  entry.reason = static_cast<uint8_t>(fault);
  entry.line = from;
  entry.next = to;
  entry.rejectSize = SizeBeforeAppending(rejectsPath_);
  // Sync: the journal says where the lines go before they are there, so a rejection that a
  // power cut interrupted is finished in place, not added twice.
  if (!dryRun_ && (!journal_.Write(entry) || !journal_.Sync())) return false;
  return AddRejected(lines, fault, entry.rejectSize);
}

// Puts `lines` (non-blank) into PREPAID.REJ at `size`, after the line that says why, and counts
// them (a dry run only counts them).
bool Importer::AddRejected(const std::string& lines, LineFault fault, off_t size) {
  bool added = false;
  if (!dryRun_ &&
      !AppendDurably(rejectsPath_, size, RejectionBlock(lines, fault), AppendAs::kAsItIs, &added)) {
    return false;
  }
  CountRejected(lines, fault);
  return true;
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

Importer::Resume Importer::Recover(JournalEntry& entry) {
  switch (entry.state) {
    case JournalState::kResume:
      return {Step::kNext, entry.line};
    case JournalState::kFinishing:
      return {Step::kEnd, 0};
    case JournalState::kMarkerPending:
      return RecoverMarker(entry);
    case JournalState::kRejectPending:
      return RecoverRejection(entry);
    case JournalState::kGroup:
      // Within the same start of the system the killed import's every write is visible, and
      // its progress note tells exactly how far it got; after a restart only what was synced
      // is certain.
      if (!entry.bootId.empty() && entry.bootId == platform::BootId()) {
        return RecoverKilledGroup(entry);
      }
      return RecoverGroup(entry);
    case JournalState::kGroupRejecting:
      return RecoverGroup(entry);
  }
  return {Step::kStop, entry.line};
}

// The marker was new when the interrupted import began to record it: it goes where the journal
// says, unless it is there already. Where an export has taken the list into a report since,
// it is listed again: it may then stand in two reports, but its batch is never applied twice.
Importer::Resume Importer::RecoverMarker(const JournalEntry& entry) {
  TextLineReader reader(orders_, entry.line);
  TextLine marker;
  if (reader.Next(&marker) != TextLineReader::Result::kLine) return {Step::kStop, entry.line};
  if (dryRun_ && markers_.Find(marker.text) == BatchMarkers::Check::kUnreadable) {
    return {Step::kStop, entry.line};
  }
  if (!markers_.Record(marker.text, entry.markerSize, dryRun_)) return {Step::kStop, entry.line};
  ++report_->markersRecorded;
  report_->markers.push_back(marker.text);
  return {Step::kNext, entry.next};
}

// The lines go where the journal says, in place of whatever part of them an interrupted write
// left there, unless they are there whole.
Importer::Resume Importer::RecoverRejection(const JournalEntry& entry) {
  std::string lines;
  if (!ReadRange(orders_, entry.line, entry.next, &lines)) return {Step::kStop, entry.line};
  if (!OnlyBlank(lines) &&
      !AddRejected(lines, static_cast<LineFault>(entry.reason), entry.rejectSize)) {
    return {Step::kStop, entry.line};
  }
  return {entry.endsImport ? Step::kEnd : Step::kNext, entry.next};
}

// The killed import was writing a group's records (see import_journal.h): those before the
// one its progress note names were written; that one is told from its card.
Importer::Resume Importer::RecoverKilledGroup(const JournalEntry& entry) {
  if (!entry.progress) return {Step::kNext, entry.line};  // none of its writes began
  bool written = false;
  const Resume resume =
      RecoverRecord(entry.records[entry.progress->record], entry.progress->cardFile, &written);
  if (resume.step != Step::kStop) ListWritten(entry, entry.progress->record + (written ? 1 : 0));
  return resume;
}

// The killed import was about to write `record`: wherever the card's first record is now, it
// tells whether the write happened, or that it cannot be told.
Importer::Resume Importer::RecoverRecord(const JournalRecord& record, const CardFileStamp& cardFile,
                                         bool* written) {
  PrepaidCard now{};
  const Found found = FindFirstRecord(record.after.cardNumber, &now);
  CardFileStamp stamp;
  if (found == Found::kError || (cards_.isOpen() && !StampCardFile(cards_, &stamp))) {
    return {Step::kStop, record.line};
  }
  if (found == Found::kYes && SameCardBytes(now, record.after)) {
    ++report_->applied;
    *written = true;
    return {Step::kNext, record.next};
  }
  const bool unwritten = stamp.Unwritten(cardFile);
  const bool notWritten =
      record.append ? found == Found::kNo && (unwritten || stamp.SameFile(cardFile))
                    : found == Found::kYes && SameCardBytes(now, record.before) && unwritten;
  if (notWritten) return {Step::kNext, record.line};
  if (!Reject(record.line, record.next, LineFault::kUndecidable, false)) {
    return {Step::kStop, record.line};
  }
  return {Step::kNext, record.next};
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

// Record `index`, read under its lock (a dry run reads without one).
bool Importer::ReadCard(int32_t index, PrepaidCard* card) {
  return dryRun_ ? ReadCardUnlocked(cards_, index, card) : ReadCardLocked(cards_, index, card);
}

// How far an interrupted group got with one record: the record holds the last value planned
// for it (done), its value before the group or one planned in between (unfinished), or another
// one: somebody else changed the card since, and it cannot be told which of its orders were
// applied.
enum class Progress { kDone, kUnfinished, kUnknown };

Progress ProgressOf(const JournalEntry& entry, const std::vector<size_t>& chain,
                    const PrepaidCard& now) {
  if (SameCardBytes(now, entry.records[chain.back()].after)) return Progress::kDone;
  if (SameCardBytes(now, entry.records[chain.front()].before)) return Progress::kUnfinished;
  for (size_t i : chain) {
    if (SameCardBytes(now, entry.records[i].after)) return Progress::kUnfinished;
  }
  return Progress::kUnknown;
}

// The interrupted import was writing a group's records when the system stopped, so any of its
// writes may be lost. Records whose progress is unknown have their lines put into PREPAID.REJ
// first (the journal notes them before), then the unfinished ones are finished, each only
// while its record still shows that progress; one that changed meanwhile is looked at again.
// A dry run decides the same and keeps the finished records in memory.
Importer::Resume Importer::RecoverGroup(JournalEntry& entry) {
  std::vector<int32_t> indexes;                             // as first named
  std::unordered_map<int32_t, std::vector<size_t>> chains;  // index -> its records, in order
  for (size_t i = 0; i < entry.records.size(); ++i) {
    auto& chain = chains[entry.records[i].index];
    if (chain.empty()) indexes.push_back(entry.records[i].index);
    chain.push_back(i);
  }
  for (int round = 0; round < 4; ++round) {
    std::vector<int32_t> unfinished;
    bool newlyRejected = false;
    for (int32_t index : indexes) {
      const std::vector<size_t>& chain = chains[index];
      if (entry.rejected[chain.front()]) continue;
      const off_t size = cards_.isOpen() ? cards_.Size() : 0;
      if (size < 0) return {Step::kStop, entry.line};
      PrepaidCard now{};  // a missing appended record reads as the zeros it was planned over
      const bool present = index < size / static_cast<off_t>(kRecordSize);
      if (present && !ReadCard(index, &now)) return {Step::kStop, entry.line};
      // A record that is gone although it was there before: the file was compacted since.
      const bool gone = !present && !entry.records[chain.front()].append;
      const Progress progress = gone ? Progress::kUnknown : ProgressOf(entry, chain, now);
      if (progress == Progress::kUnfinished) unfinished.push_back(index);
      if (progress != Progress::kUnknown) continue;
      for (size_t i : chain) entry.rejected[i] = true;
      newlyRejected = true;
    }
    if (newlyRejected && entry.state != JournalState::kGroupRejecting) {
      entry.state = JournalState::kGroupRejecting;
      entry.rejectSize = SizeBeforeAppending(rejectsPath_);
    }
    // Sync: the verdict is on the disk before its lines go to PREPAID.REJ and before any
    // record is finished, so it is never made again on records that have moved on.
    if (newlyRejected && !dryRun_ && (!journal_.Write(entry) || !journal_.Sync())) {
      return {Step::kStop, entry.line};
    }
    if (entry.state == JournalState::kGroupRejecting && !RejectUndecidable(entry)) {
      return {Step::kStop, entry.line};
    }
    if (dryRun_) {
      for (int32_t index : unfinished) {
        assumed_.emplace_back(index, entry.records[chains[index].back()].after);
      }
      return {Step::kNext, entry.next};
    }
    bool moved = false;
    for (int32_t index : unfinished) {
      const std::vector<size_t>& chain = chains[index];
      const auto stillUnfinished = [&](const PrepaidCard& now) {
        return ProgressOf(entry, chain, now) == Progress::kUnfinished;
      };
      switch (ReplaceCardIf(cards_, index, stillUnfinished, entry.records[chain.back()].after)) {
        case UpdateResult::kWritten:
          break;
        case UpdateResult::kUnchanged:
        case UpdateResult::kOtherCard:
          moved = true;
          break;
        case UpdateResult::kFailed:
          return {Step::kStop, entry.line};
      }
    }
    // Sync: the finished records are on the disk before the journal moves past the group.
    if (!SyncCards()) return {Step::kStop, entry.line};
    if (!moved) {
      ListWritten(entry, entry.records.size());
      return {Step::kNext, entry.next};
    }
  }
  return {Step::kStop, entry.line};
}

// Puts the lines of the group's records that cannot be told applied into PREPAID.REJ.
bool Importer::RejectUndecidable(const JournalEntry& entry) {
  std::string lines;
  for (size_t i = 0; i < entry.records.size(); ++i) {
    std::string line;
    if (!entry.rejected[i]) continue;
    if (!ReadRange(orders_, entry.records[i].line, entry.records[i].next, &line)) return false;
    if (line.empty() || line.back() != '\n') line += "\r\n";
    lines += line;
  }
  return AddRejected(lines, LineFault::kUndecidable, entry.rejectSize);
}

// Stops the import at the line at `at`: PREPAID.INC is replaced by that line and the ones
// after it. When that fails too, the order file and the journal stay, and the next import
// resumes where the journal says.
int32_t Importer::StopAt(off_t at) {
  report_->stopped = true;
  report_->error = errno != 0 ? errno : EIO;
  off_t end = 0;
  std::string rest;
  // Sync: every card written before `at` is on the disk before the order file forgets its line.
  if (!dryRun_ && SyncCards() && LogicalEnd(at, &end) && ReadRange(orders_, at, end, &rest) &&
      ReplaceOrderFile(rest)) {
    journal_.Remove();
  }
  return 0;
}

int32_t Importer::StopAsItIs() {
  report_->stopped = true;
  report_->error = errno != 0 ? errno : EIO;
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

// Every line is done and on the disk: the order file is deleted, then the journal. When the
// order file cannot be deleted, the journal stays and says so, and the next import only
// deletes it.
int32_t Importer::Finish() {
  if (dryRun_) return 1;
  WriteJournal(JournalState::kFinishing, 0, 0);
  orders_.Close();
  const int removed = platform::RemoveShared(ordersPath_);
  if (removed == 0 || removed == ENOENT) {
    // Sync: the order file's removal is on the disk before the journal's; an order file that
    // came back without its journal would be imported again.
    platform::SyncDirectory(platform::DirectoryOf(ordersPath_));
    journal_.Remove();
  }
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
