// The commands that read the whole card file: list, stats and check. Each reads PREPAID.DAT
// from start to end, a block of records at a time, stepping over holes (store/card_reader.h).
// list keeps nothing of the cards; stats and check keep each distinct card number (CardNumbers)
// to find duplicate ones, and check reads the file a second time for the positions of those.
#include <algorithm>
#include <cstddef>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/card_table.h"
#include "cli/cli.h"
#include "cli/commands.h"
#include "platform/little_endian.h"
#include "store/card_reader.h"
#include "store/card_record.h"
#include "store/telefon.h"
#include "util/file_open_internal.h"

namespace cli {
namespace {

bool Locked(const PrepaidCard& card) { return (card.flags & PREPAID_CARD_LOCKED) != 0; }

// Reads every record of PREPAID.DAT into `visit`; the exit code, with a read error said.
template <typename Visit>
int ReadCards(Session& session, store::CardReader* reader, const Visit& visit) {
  const std::string path = session.DataPath("PREPAID.DAT");
  if (const int error = reader->Open(session.dataDir().c_str()); error != 0) {
    return session.FileError(path, error);
  }
  PrepaidCard card;
  int64_t index = 0;
  while (reader->Next(&card, &index)) visit(card, index);
  return reader->error() != 0 ? session.FileError(path, reader->error()) : kExitOk;
}

// The card numbers met more than once, with memory that follows the number of distinct card
// numbers, not of records (a card file of gigabytes may hold one card many times): numbers are
// gathered in a batch, and each full batch is sorted and merged into the sorted list of
// numbers seen so far, in place; a number met again goes to the sorted list of duplicated ones.
// About 10 bytes a distinct card number at the peak.
class CardNumbers {
 public:
  void Add(int32_t card) {
    batch_.push_back(card);
    if (batch_.size() >= std::max(kMinBatch, seen_.size() / 2)) Merge();
  }
  // The card numbers with more than one record, sorted.
  const std::vector<int32_t>& Duplicated() {
    Merge();
    return duplicated_;
  }
  // The records beyond the first of each card number.
  int64_t ExtraRecords() {
    Merge();
    return extra_;
  }

 private:
  static constexpr size_t kMinBatch = size_t{1} << 16;

  void Merge() {
    if (batch_.empty()) return;
    std::sort(batch_.begin(), batch_.end());
    std::vector<int32_t> again;
    for (size_t i = 1; i < batch_.size(); ++i) {
      if (batch_[i] == batch_[i - 1]) again.push_back(batch_[i]);
    }
    extra_ += static_cast<int64_t>(again.size());
    batch_.erase(std::unique(batch_.begin(), batch_.end()), batch_.end());
    // Numbers seen in earlier batches leave this one: each is one more record of its card.
    const auto known = std::remove_if(batch_.begin(), batch_.end(), [&](int32_t card) {
      if (!std::binary_search(seen_.begin(), seen_.end(), card)) return false;
      again.push_back(card);
      ++extra_;
      return true;
    });
    batch_.erase(known, batch_.end());
    // The rest are new: merged from the back, into the room at the end of the seen ones.
    size_t from = seen_.size();
    seen_.resize(seen_.size() + batch_.size());
    for (size_t to = seen_.size(), b = batch_.size(); b > 0;) {
      seen_[--to] = from > 0 && seen_[from - 1] > batch_[b - 1] ? seen_[--from] : batch_[--b];
    }
    batch_.clear();
    std::sort(again.begin(), again.end());
    std::vector<int32_t> merged;
    merged.reserve(duplicated_.size() + again.size());
    std::set_union(duplicated_.begin(), duplicated_.end(), again.begin(), again.end(),
                   std::back_inserter(merged));
    merged.erase(std::unique(merged.begin(), merged.end()), merged.end());
    duplicated_.swap(merged);
  }

  std::vector<int32_t> seen_, batch_, duplicated_;
  int64_t extra_ = 0;
};

// The positions of the records of duplicated card numbers, from a second pass over the file:
// the first few of each, and how many there are.
class DuplicatePositions {
 public:
  static constexpr size_t kShown = 5;

  explicit DuplicatePositions(std::vector<int32_t> cards)
      : cards_(std::move(cards)), counts_(cards_.size()), positions_(cards_.size() * kShown) {}

  void Add(int32_t card, int64_t index) {
    const auto it = std::lower_bound(cards_.begin(), cards_.end(), card);
    if (it == cards_.end() || *it != card) return;
    const size_t slot = static_cast<size_t>(it - cards_.begin());
    if (counts_[slot] < static_cast<int64_t>(kShown)) {
      positions_[slot * kShown + static_cast<size_t>(counts_[slot])] = index;
    }
    ++counts_[slot];
  }
  // Calls report(card, first positions, number of records) for each card met more than once
  // in this pass, by card number.
  template <typename Report>
  void ForEach(const Report& report) const {
    for (size_t slot = 0; slot < cards_.size(); ++slot) {
      if (counts_[slot] < 2) continue;
      const size_t shown = std::min<size_t>(kShown, static_cast<size_t>(counts_[slot]));
      const auto first = positions_.begin() + static_cast<ptrdiff_t>(slot * kShown);
      report(cards_[slot], std::vector<int64_t>(first, first + static_cast<ptrdiff_t>(shown)),
             counts_[slot]);
    }
  }

 private:
  std::vector<int32_t> cards_;
  std::vector<int64_t> counts_;
  std::vector<int64_t> positions_;
};

// Something check found: in which file, at which record or card, and what.
struct Problem {
  Problem(std::string file, std::string text, std::optional<int64_t> record = std::nullopt,
          std::optional<int32_t> card = std::nullopt)
      : file(std::move(file)), text(std::move(text)), record(record), card(card) {}

  std::string file;
  std::string text;
  std::optional<int64_t> record;
  std::optional<int32_t> card;

  // The line check prints: "FILE: record R (card C): TEXT", "FILE: card C TEXT" or
  // "FILE: TEXT".
  std::string Line(Session& session) const {
    if (record) {
      return file + ": record " + std::to_string(*record) + " (card " + session.Card(*card) +
             "): " + text;
    }
    return file + ": " + (card ? "card " + session.Card(*card) + " " : "") + text;
  }
  nlohmann::ordered_json Json(Session& session) const {
    nlohmann::ordered_json json = {{"file", file}};
    if (record) json["record"] = *record;
    if (card) json["card"] = session.Card(*card);
    json["problem"] = text;
    return json;
  }
  std::vector<platform::JournalField> Fields() const {
    std::vector<platform::JournalField> fields = {{"LINDAVOX_FILE", file}};
    if (record) fields.push_back(Field("LINDAVOX_RECORD", *record));
    if (card) fields.push_back(Field("LINDAVOX_CARD", *card));
    return fields;
  }
};

std::string Positions(const std::vector<int64_t>& positions, int64_t count) {
  std::string text;
  for (const int64_t position : positions) {
    text += (text.empty() ? "" : ", ") + std::to_string(position);
  }
  if (count > static_cast<int64_t>(positions.size())) {
    text += " and " + std::to_string(count - static_cast<int64_t>(positions.size())) + " more";
  }
  return text;
}

// What is wrong with PREPAID.BIN; `highestCard` is the highest card number of PREPAID.DAT (-1
// when it has none).
std::vector<Problem> CodeFileProblems(Session& session, int32_t highestCard) {
  const std::string path = session.DataPath("PREPAID.BIN");
  platform::SharedFile file;
  if (const int error = util::OpenAsFopen(path, "rb", false, &file); error != 0) {
    return {{path, Reason(path, error) + "; card codes cannot be decoded"}};
  }
  unsigned char head[store::kBinHeaderSize];
  const ssize_t got = file.ReadAt(head, sizeof head, 0);
  const off_t size = file.Size();
  if (got != static_cast<ssize_t>(sizeof head) || size < 0) {
    return {{path, "holds " + std::to_string(std::max<off_t>(size, 0)) +
                       " bytes, fewer than its header of 184"}};
  }
  std::vector<Problem> problems;
  const auto problem = [&](const std::string& text) { problems.push_back({path, text}); };
  const unsigned codeLength = platform::LoadLE16(head + store::header::kCodeLength);
  const unsigned checkLength = platform::LoadLE16(head + store::header::kCheckLength);
  if (checkLength > codeLength) {
    problem("the code length " + std::to_string(codeLength) + " is smaller than its " +
            std::to_string(checkLength) + " check digits");
  } else if (codeLength - checkLength > 10) {
    problem("card numbers of " + std::to_string(codeLength - checkLength) +
            " digits do not fit in 32 bits");
  }
  if (codeLength > store::kCodePositions) {
    problem("the code length " + std::to_string(codeLength) + " exceeds the 16 positions");
  }
  const size_t positions = std::min<size_t>(codeLength, store::kCodePositions);
  const unsigned char* order = head + store::header::kPositionTable;
  for (size_t p = 1; p <= positions; ++p) {
    if (std::find(order, order + positions, p) == order + positions) {
      problem("the position table lacks position " + std::to_string(p));
    }
  }
  for (size_t row = 0; row < positions; ++row) {
    const unsigned char* symbols = head + store::header::kSymbolTable + row * 10;
    std::vector<unsigned char> sorted(symbols, symbols + 10);
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
      problem("position " + std::to_string(row + 1) +
              " has a symbol for two digits (the lower digit wins)");
    }
  }
  const int64_t words = (size - static_cast<off_t>(store::kBinHeaderSize)) / 2;
  if ((size - static_cast<off_t>(store::kBinHeaderSize)) % 2 != 0) {
    problem("a stray byte follows the check words");
  }
  if (highestCard >= words) {
    problem("check words for card numbers 0 to " + std::to_string(words - 1) + " only; card " +
            session.Card(highestCard) + " has none, so no code of it is valid");
  }
  return problems;
}

}  // namespace

int List(Session& session, bool lockedOnly, bool emptyOnly, Format format) {
  store::CardReader reader;
  if (const int probe = session.ProbeCardFile(); probe != kExitOk) return probe;
  CardTable table(session.out, format, session.config().cardDigits, session.terminal);
  return ReadCards(session, &reader, [&](const PrepaidCard& card, int64_t index) {
    if (lockedOnly && !Locked(card)) return;
    if (emptyOnly && card.balance != 0) return;
    table.Write(card, index);
  });
}

int Stats(Session& session, Format format) {
  store::CardReader reader;
  int64_t cards = 0, units = 0, locked = 0, empty = 0;
  CardNumbers numbers;
  const int code = ReadCards(session, &reader, [&](const PrepaidCard& card, int64_t) {
    ++cards;
    units += card.balance;
    locked += Locked(card) ? 1 : 0;
    empty += card.balance == 0 ? 1 : 0;
    numbers.Add(card.cardNumber);
  });
  if (code != kExitOk) return code;
  const int64_t extra = numbers.ExtraRecords();
  const auto duplicated = static_cast<int64_t>(numbers.Duplicated().size());
  // The survey is data asked for: said whatever --quiet or the journal.
  if (format == Format::kJson) {
    const nlohmann::ordered_json json = {{"cards", cards},
                                         {"total_units", units},
                                         {"locked", locked},
                                         {"empty", empty},
                                         {"trailing_bytes", reader.trailingBytes()},
                                         {"hole_records", reader.holeRecords()},
                                         {"duplicate_cards", duplicated},
                                         {"extra_records", extra}};
    session.out << json.dump(2) << '\n';
    return kExitOk;
  }
  session.out << "cards:           " << cards << '\n'
              << "total units:     " << units << '\n'
              << "locked:          " << locked << '\n'
              << "empty:           " << empty << '\n'
              << "trailing bytes:  " << reader.trailingBytes() << '\n';
  if (reader.holeRecords() > 0) {
    session.out << "never written:   room for " << reader.holeRecords()
                << " records in holes of the file (no cards)\n";
  }
  session.out << "duplicate cards: " << duplicated;
  if (extra > 0) session.out << " (" << extra << " records more than cards)";
  session.out << '\n';
  return kExitOk;
}

int Check(Session& session, Format format) {
  store::CardReader reader;
  int64_t records = 0;
  int32_t highest = -1;
  CardNumbers numbers;
  std::vector<Problem> problems;
  const std::string path = session.DataPath("PREPAID.DAT");
  const int code = ReadCards(session, &reader, [&](const PrepaidCard& card, int64_t index) {
    ++records;
    highest = std::max(highest, card.cardNumber);
    numbers.Add(card.cardNumber);
    const auto problem = [&](const std::string& text) {
      problems.push_back({path, text, index, card.cardNumber});
    };
    if (!store::TelefonDigitsFit(card)) {
      problem("the telephone number's " + std::to_string(card.telefonDigits) +
              " digits do not fit its parts " + std::to_string(card.telefonHigh) + " and " +
              std::to_string(card.telefonLow));
    }
    if (!store::LastDigitsFit(card)) {
      problem("the last number's " + std::to_string(card.lastDigits) +
              " digits do not fit its parts " + std::to_string(card.lastHigh) + " and " +
              std::to_string(card.lastLow));
    }
  });
  if (code != kExitOk) return code;
  if (reader.trailingBytes() > 0) {
    problems.push_back(
        {path, "its length is no multiple of 32: " + std::to_string(reader.trailingBytes()) +
                   " bytes after the last whole record are ignored"});
  }
  if (!numbers.Duplicated().empty()) {
    // Where the records of the duplicated numbers are: a second pass, which keeps only those.
    DuplicatePositions duplicates(numbers.Duplicated());
    store::CardReader again;
    if (const int second = ReadCards(session, &again,
                                     [&](const PrepaidCard& card, int64_t index) {
                                       duplicates.Add(card.cardNumber, index);
                                     });
        second != kExitOk) {
      return second;
    }
    duplicates.ForEach([&](int32_t card, const std::vector<int64_t>& positions, int64_t count) {
      problems.push_back({path,
                          "has records " + Positions(positions, count) + "; record " +
                              std::to_string(positions.front()) + " wins",
                          std::nullopt, card});
    });
  }
  for (Problem& problem : CodeFileProblems(session, highest)) problems.push_back(problem);

  const auto count = static_cast<int64_t>(problems.size());
  Report report;
  nlohmann::ordered_json found = nlohmann::ordered_json::array();
  for (const Problem& problem : problems) {
    const std::string line = problem.Line(session);
    report.text += line + '\n';
    report.warnings.push_back(line);
    report.notes.push_back({line, problem.Fields()});
    found.push_back(problem.Json(session));
  }
  report.summary = count == 0 ? "all well: " + std::to_string(records) + " cards, no problems"
                              : std::to_string(count) + (count == 1 ? " problem" : " problems") +
                                    " in " + std::to_string(records) + " cards";
  report.text += report.summary + '\n';
  report.json = {{"cards", records}, {"problems", found}};
  report.fields = {Field("LINDAVOX_CARDS", records), Field("LINDAVOX_PROBLEMS", count)};
  if (count > 0) report.priority = platform::Priority::kWarning;
  session.Present(report, format);
  return count == 0 ? kExitOk : kExitNotSo;
}

}  // namespace cli
