// The commands on single cards: looking up, editing, orders and card codes.
#include <cerrno>
#include <functional>
#include <string>

#include "cli/card_table.h"
#include "cli/cli.h"
#include "cli/commands.h"
#include "store/card_code.h"
#include "store/card_edit.h"
#include "store/card_record.h"
#include "store/order.h"
#include "store/record_update.h"
#include "store/store_internal.h"
#include "store/telefon.h"
#include "util/file_open_internal.h"

namespace cli {
namespace {

bool Locked(const PrepaidCard& card) { return (card.flags & PREPAID_CARD_LOCKED) != 0; }

// After a search that gave 0: the record at `index` when it is the locked match that stopped
// the search.
bool LockedMatch(Session& session, int32_t index,
                 const std::function<bool(const PrepaidCard&)>& matches, PrepaidCard* card) {
  return index >= 0 && store::ReadCardAt(session.dataDir().c_str(), index, card) &&
         matches(*card) && Locked(*card);
}

// The order's effect in words, with the record as the order left it (or would leave it).
std::string Changed(const store::Order& order, const store::OrderOutcome& outcome, bool dryRun) {
  const PrepaidCard& now = outcome.card;
  switch (order.command) {
    case 'A':
      if (outcome.appended) {
        return (dryRun ? "would be created with " : "created with ") +
               std::to_string(order.amount) + " units";
      }
      return dryRun ? "would add " + std::to_string(order.amount) + " units, balance then " +
                          std::to_string(now.balance)
                    : std::to_string(order.amount) + " units added, balance now " +
                          std::to_string(now.balance);
    case 'D':
      return dryRun ? "would be emptied" : "emptied";
    case 'L':
      return dryRun ? "would be locked" : "locked";
    default:
      return dryRun ? "would be unlocked" : "unlocked";
  }
}

std::string Unchanged(char command) {
  switch (command) {
    case 'D':
      return "was empty already";
    case 'L':
      return "was locked already";
    default:
      return "was not locked";
  }
}

// The report of a change of one card: its line, and the journal entry with the card's fields.
Report CardReport(const std::string& line, int32_t number, const PrepaidCard& card, bool dryRun) {
  Report report;
  report.summary = line;
  report.fields = {Field("LINDAVOX_CARD", number), Field("LINDAVOX_BALANCE", card.balance)};
  if (dryRun) MarkDryRun(&report);
  report.text = report.summary + '\n';
  return report;
}

std::string CodeProblem(Session& session, const store::CodeCheck& check, const std::string& code) {
  const std::string position = std::to_string(check.position + 1);
  switch (check.verdict) {
    case store::CodeVerdict::kTooLong:
      return "a card code has at most 16 symbols, this one has " + std::to_string(code.size());
    case store::CodeVerdict::kUnknownSymbol:
      return "symbol " + position + " ('" + code.substr(check.position, 1) +
             "') is none of the symbols of its position";
    case store::CodeVerdict::kUnknownPosition:
      return "the position table has no place for symbol " + position;
    case store::CodeVerdict::kTooShort:
      return "the code has " + std::to_string(code.size()) + " symbols, fewer than the " +
             std::to_string(session.config().cardDigits) + " digits of a card number";
    case store::CodeVerdict::kCardOutOfRange:
      return "the card number it gives does not fit in 32 bits";
    case store::CodeVerdict::kNoCheckWord:
      return "PREPAID.BIN holds no check word for the card number it gives";
    default:
      return "the check digits do not match";
  }
}

// The history's detail of a `set`: which fields were given.
std::string SetDetail(const CardEdit& edit) {
  std::string detail = "set";
  if (edit.balance) detail += " balance";
  if (edit.telefon) detail += " phone";
  return detail;
}

std::string OrderDetail(const store::Order& order) {
  switch (order.command) {
    case 'A':
      return "topup " + std::to_string(order.amount);
    case 'D':
      return "empty";
    case 'L':
      return "lock";
    default:
      return "unlock";
  }
}

// A change is made, but the card history could not list it: said, so the operator can note
// it, with exit 0 since the change stands (doing it again would do it twice).
void SayUnlisted(Session& session, const std::string& path, int error) {
  session.Fail(
      kExitOk,
      "the change is made, but it could not be listed in " + path + ": " + Reason(path, error),
      {{"LINDAVOX_FILE", path}});
}

}  // namespace

int Show(Session& session, const std::vector<int32_t>& cards, Format format) {
  if (const int probe = session.ProbeCardFile(); probe != kExitOk) return probe;
  int code = kExitOk;
  CardTable table(session.out, format, session.config().cardDigits, session.terminal);
  for (const int32_t number : cards) {
    int32_t index = 0;
    PrepaidCard card{};
    if (Prepaid_Search(session.dataDir().c_str(), number, &index, &card) == 1) {
      table.Write(card, index);
      continue;
    }
    const auto same = [number](const PrepaidCard& c) { return c.cardNumber == number; };
    if (LockedMatch(session, index, same, &card)) {
      table.Write(card, index);
      code = session.Fail(kExitNotSo, "card " + session.Card(number) + " is locked");
    } else {
      code = session.Fail(kExitNotSo, "card " + session.Card(number) + " does not exist");
    }
  }
  return code;
}

int FindPhone(Session& session, const std::string& number, bool anyBalance, Format format) {
  if (const int probe = session.ProbeCardFile(); probe != kExitOk) return probe;
  PrepaidCard wanted{};
  store::SetTelefon(&wanted, number);
  const store::TelefonMatch match =
      anyBalance ? store::TelefonMatch::kAnyBalance : store::TelefonMatch::kWithUnitsOnly;
  int32_t index = 0;
  PrepaidCard card{};
  CardTable table(session.out, format, session.config().cardDigits, session.terminal);
  if (store::SearchTelefon(session.dataDir().c_str(), 1, wanted.telefonLow, wanted.telefonHigh,
                           &index, &card, match) == 1) {
    table.Write(card, index);
    return kExitOk;
  }
  const auto same = [&](const PrepaidCard& c) {
    return c.telefonLow == wanted.telefonLow && c.telefonHigh == wanted.telefonHigh &&
           (anyBalance || c.balance != 0);
  };
  if (LockedMatch(session, index, same, &card)) {
    table.Write(card, index);
    return session.Fail(kExitNotSo, "card " + session.Card(card.cardNumber) + " is locked");
  }
  return session.Fail(kExitNotSo, "no card" + std::string(anyBalance ? "" : " with units") +
                                      " has the telephone number " + number);
}

int Set(Session& session, int32_t number, const CardEdit& edit, bool dryRun) {
  if (const int probe = session.ProbeCardFile(); probe != kExitOk) return probe;
  const std::string name = "card " + session.Card(number);
  const std::vector<platform::JournalField> cardField = {Field("LINDAVOX_CARD", number)};
  // A card whose record moved meanwhile (the file was compacted) is looked up again.
  for (int round = 0; round < 3; ++round) {
    int32_t index = 0;
    PrepaidCard card{};
    if (Prepaid_Search(session.dataDir().c_str(), number, &index, &card) == 0) {
      const auto same = [number](const PrepaidCard& c) { return c.cardNumber == number; };
      return session.Fail(
          kExitNotSo,
          name + (LockedMatch(session, index, same, &card) ? " is locked; unlock it first"
                                                           : " does not exist"),
          cardField);
    }
    // The edits go into the record as it is in the file at the moment of writing, as the card
    // editor saves them: what another program changed meanwhile stays. A dry run goes as far
    // and leaves the record as it is.
    PrepaidCard saved{};
    bool wouldChange = false;
    errno = 0;
    const auto change = [&](PrepaidCard* record) {
      const PrepaidCard before = *record;
      if (edit.balance) record->balance = *edit.balance;
      if (edit.telefon) store::SetTelefon(record, *edit.telefon);
      saved = *record;
      wouldChange = !store::SameCardBytes(before, saved);
      return !dryRun;
    };
    // A real change goes into the card history; a dry run lists nothing and creates no file.
    store::HistoryOutcome history;
    const store::UpdateResult result =
        dryRun ? store::UpdateCard(session.dataDir().c_str(), index, number, change)
               : store::UpdateCardListed(session.dataDir().c_str(), index, number, change,
                                         {"command", SetDetail(edit)}, &history);
    if (history.openError != 0) return session.FileError(history.path, history.openError);
    if (history.writeError != 0) SayUnlisted(session, history.path, history.writeError);
    switch (result) {
      case store::UpdateResult::kWritten:
      case store::UpdateResult::kUnchanged: {
        const bool changed = result == store::UpdateResult::kWritten || (dryRun && wouldChange);
        const std::string said = changed ? (dryRun ? "would be saved" : "saved") : "unchanged";
        const std::string telefon = saved.telefonDigits ? store::TelefonText(saved) : "none";
        Report report = CardReport(name + ": " + said + ", balance " +
                                       std::to_string(saved.balance) + ", telephone " + telefon,
                                   number, saved, dryRun);
        report.fields.push_back({"LINDAVOX_TELEPHONE", telefon});
        session.Present(report);
        return kExitOk;
      }
      case store::UpdateResult::kOtherCard:
        continue;
      case store::UpdateResult::kFailed:
        return session.FileError(session.DataPath("PREPAID.DAT"), errno != 0 ? errno : EIO);
    }
  }
  return session.Fail(kExitFileError, name + " kept moving while it was saved; nothing changed",
                      cardField);
}

int ApplyOrder(Session& session, char command, int32_t number, int32_t amount,
               const store::OrderMode& mode) {
  if (const int probe = session.ProbeCardFile(); probe != kExitOk) return probe;
  const std::string name = "card " + session.Card(number);
  const std::vector<platform::JournalField> cardField = {Field("LINDAVOX_CARD", number)};
  const store::Order order{command, number, amount};
  const store::HistorySource source{"command", OrderDetail(order)};
  const store::OrderOutcome outcome =
      store::ApplyOneOrder(session.dataDir().c_str(), order, mode, &source);
  if (outcome.historyError != 0) {
    SayUnlisted(session, session.DataPath(store::kHistoryName), outcome.historyError);
  }
  switch (outcome.result) {
    case store::OrderResult::kChanged: {
      Report report = CardReport(name + ": " + Changed(order, outcome, mode.dryRun), number,
                                 outcome.card, mode.dryRun);
      if (command == 'A') report.fields.push_back(Field("LINDAVOX_AMOUNT", amount));
      session.Present(report);
      return kExitOk;
    }
    case store::OrderResult::kUnchanged: {
      PrepaidCard now{};
      store::ReadCardAt(session.dataDir().c_str(), outcome.index, &now);
      session.Present(CardReport(name + ": " + Unchanged(command), number, now, mode.dryRun));
      return kExitOk;
    }
    case store::OrderResult::kNoCard:
      return session.Fail(
          kExitNotSo,
          name + " does not exist" + (command == 'A' ? "; --create makes it with the amount" : ""),
          cardField);
    case store::OrderResult::kOverflow:
      return session.Fail(kExitNotSo,
                          name + ": the new balance would not fit in 32 bits; nothing changed",
                          cardField);
    case store::OrderResult::kIgnored:
      return session.Fail(kExitUsage, "an amount of 0 changes nothing");
    case store::OrderResult::kFailed:
    case store::OrderResult::kReplan:  // planning only; a single order is applied at once
      break;
  }
  return session.FileError(outcome.failedPath, outcome.error);
}

int Decode(Session& session, std::string code) {
  const std::string entered = code;
  const store::CodeCheck check =
      store::CheckCardCode(session.dataDir().c_str(), code.data(), session.config().cardDigits);
  if (check.verdict == store::CodeVerdict::kValid) {
    session.out << session.Card(check.cardNumber) << '\n';
    return kExitOk;
  }
  if (check.verdict == store::CodeVerdict::kCardDigitsOutOfRange) {
    return session.Fail(kExitFileError, "cannot use " + session.DataPath("PREPAID.BIN") +
                                            ": its card numbers of " +
                                            std::to_string(session.config().cardDigits) +
                                            " digits do not fit in 32 bits, so no code is valid");
  }
  if (check.verdict == store::CodeVerdict::kNoCodeFile) {
    const std::string path = session.DataPath("PREPAID.BIN");
    platform::SharedFile file;
    const int error = util::OpenAsFopen(path, "rb", false, &file);
    return error != 0 ? session.FileError(path, error)
                      : session.Fail(kExitFileError,
                                     "cannot use " + path + ": its 184-byte header is incomplete");
  }
  return session.Fail(kExitNotSo, "the card code " + entered +
                                      " is not valid: " + CodeProblem(session, check, entered));
}

}  // namespace cli
