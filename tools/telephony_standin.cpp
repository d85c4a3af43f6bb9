// telephony_standin: behaves towards the card file like the telephony server.
//
// Calls arrive at a set rate (random arrivals). Each call is made with a card: found by its
// card number, or by the telephone number tied to it, as a caller would identify himself. A
// locked card, a missing card and a card without enough units are refused. While the call goes
// on, units are charged at a fixed interval, each charge one read-modify-write of the record
// under its lock (store/record_update.h) that checks the lock and the balance again; the call
// ends when its charges are done, the card runs out or gets locked. At the end the number
// called is written as the card's last number. Every unit charged is journalled
// (tools/charge_journal.h), also across a kill.
//
// --no-lock makes it behave like a server that does not follow the record-lock protocol: it
// reads the record, then writes it back with Prepaid_Write, and loses whatever another writer
// did in between. It exists to show that difference.
//
//   telephony_standin DATADIR [--rate CALLS_PER_SECOND] [--seconds N] [--calls N]
//                     [--cards FIRST-LAST] [--hot FIRST-LAST:PERCENT] [--by card|phone|mixed]
//                     [--charges MIN-MAX] [--interval MS] [--units N] [--journal FILE]
//                     [--seed N] [--no-lock]
//   telephony_standin DATADIR --settle [--journal FILE]
//
// --settle only settles what a killed run of the same journal left pending, and ends.
//
// SIGTERM or SIGINT ends the calls in progress (writing their last numbers) and the program.
// It prints what it did on standard output, one "name: value" line per figure.
#include <signal.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "platform/share.h"
#include "store/card_record.h"
#include "store/record_update.h"
#include "store/store_internal.h"
#include "tools/charge_journal.h"
#include "util/file_open_internal.h"

namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t g_stop = 0;
void Stop(int) { g_stop = 1; }

struct Range {
  int32_t first = 1, last = 1;
};

struct Options {
  std::string dataDir;
  double rate = 10;
  double seconds = 0;  // 0: until stopped
  long calls = 0;      // 0: no limit
  Range cards{0, -1};  // empty: every card the file holds at start
  Range hot{0, -1};
  int hotPercent = 0;
  std::string by = "mixed";
  Range charges{3, 10};
  int intervalMs = 100;
  int32_t units = 1;
  std::string journal = "telephony_standin.journal";
  unsigned seed = 1;
  bool lock = true;
  bool settleOnly = false;
};

bool ParseRange(const char* text, Range* range) {
  char* end = nullptr;
  range->first = static_cast<int32_t>(std::strtol(text, &end, 10));
  if (*end != '-') return false;
  range->last = static_cast<int32_t>(std::strtol(end + 1, &end, 10));
  return *end == '\0' && range->first <= range->last;
}

int Usage() {
  std::fprintf(stderr,
               "usage: telephony_standin DATADIR [--rate CALLS_PER_SECOND] [--seconds N] "
               "[--calls N] [--cards FIRST-LAST] [--hot FIRST-LAST:PERCENT] "
               "[--by card|phone|mixed] [--charges MIN-MAX] [--interval MS] [--units N] "
               "[--journal FILE] [--seed N] [--no-lock]\n"
               "       telephony_standin DATADIR --settle [--journal FILE]\n");
  return 2;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  if (argc < 2 || argv[1][0] == '-') return false;
  options->dataDir = argv[1];
  if (options->dataDir.back() != '/') options->dataDir += '/';
  for (int i = 2; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--no-lock") {
      options->lock = false;
      continue;
    }
    if (name == "--settle") {
      options->settleOnly = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    if (name == "--rate") {
      options->rate = std::atof(value);
    } else if (name == "--seconds") {
      options->seconds = std::atof(value);
    } else if (name == "--calls") {
      options->calls = std::atol(value);
    } else if (name == "--cards") {
      if (!ParseRange(value, &options->cards)) return false;
    } else if (name == "--hot") {
      std::string text = value;
      const size_t colon = text.find(':');
      if (colon == std::string::npos || !ParseRange(text.substr(0, colon).c_str(), &options->hot))
        return false;
      options->hotPercent = std::atoi(text.c_str() + colon + 1);
    } else if (name == "--by") {
      options->by = value;
      if (options->by != "card" && options->by != "phone" && options->by != "mixed") return false;
    } else if (name == "--charges") {
      if (!ParseRange(value, &options->charges) || options->charges.first < 1) return false;
    } else if (name == "--interval") {
      options->intervalMs = std::atoi(value);
    } else if (name == "--units") {
      options->units = std::atoi(value);
    } else if (name == "--journal") {
      options->journal = value;
    } else if (name == "--seed") {
      options->seed = static_cast<unsigned>(std::strtoul(value, nullptr, 10));
    } else {
      return false;
    }
  }
  return options->rate > 0 && options->units > 0 && options->intervalMs >= 0;
}

struct Telefon {
  int32_t high, low;
};

// The cards of the file, read once at start (a lookup: no lock): their numbers, for calls
// without a range of card numbers, and the telephone numbers of the cards the calls are made
// with. A card without one is always found by its card number.
struct Catalogue {
  std::vector<int32_t> cards;
  std::map<int32_t, Telefon> telefons;
};

Catalogue ReadCatalogue(const std::string& dataDir, const Options& options) {
  Catalogue catalogue;
  platform::SharedFile file;
  if (util::OpenAsFopen(store::StorePath(dataDir.c_str(), "PREPAID.DAT"), "rb", false, &file) !=
      0) {
    return catalogue;
  }
  const bool everyCard = options.cards.first > options.cards.last;
  const auto wanted = [&](int32_t card) {
    return everyCard || (card >= options.cards.first && card <= options.cards.last) ||
           (card >= options.hot.first && card <= options.hot.last);
  };
  std::map<int32_t, Telefon>& telefons = catalogue.telefons;
  std::vector<unsigned char> block(store::kRecordSize * 4096);
  off_t offset = 0;
  for (;;) {
    const ssize_t got = file.ReadAt(block.data(), block.size(), offset);
    if (got <= 0) break;
    for (ssize_t at = 0; at + static_cast<ssize_t>(store::kRecordSize) <= got;
         at += store::kRecordSize) {
      PrepaidCard card;
      store::DecodeCard(block.data() + at, &card);
      if (everyCard) catalogue.cards.push_back(card.cardNumber);
      if (card.telefonDigits > 0 && wanted(card.cardNumber) && !telefons.count(card.cardNumber)) {
        telefons[card.cardNumber] = {card.telefonHigh, card.telefonLow};
      }
    }
    offset += got - got % static_cast<ssize_t>(store::kRecordSize);
    if (got < static_cast<ssize_t>(block.size())) break;
  }
  return catalogue;
}

struct Call {
  int32_t card;
  int32_t index;
  int chargesLeft;
  int32_t dialled;  // the last nine digits of the number called, "0" in front of them
  Clock::time_point due;
  bool operator>(const Call& other) const { return due > other.due; }
};

struct Figures {
  long calls = 0, refused = 0, charges = 0, units = 0, moved = 0, failed = 0;
};

enum class Charge { kCharged, kCallEnds, kMoved, kFailed };

class Server {
 public:
  Server(const Options& options, standin::ChargeJournal* journal)
      : options_(options), journal_(journal), random_(options.seed) {}

  int Run();

 private:
  int32_t PickCard();
  void StartCall(Clock::time_point now);
  void GoOn(Call call);
  void EndCall(const Call& call);
  Charge ChargeLocked(const Call& call);
  Charge ChargeUnlocked(const Call& call);
  bool Relocate(Call* call);
  [[noreturn]] void JournalFailed();

  const Options& options_;
  standin::ChargeJournal* journal_;
  std::mt19937 random_;
  std::vector<int32_t> cards_;  // the file's cards, when no range is given
  std::map<int32_t, Telefon> telefons_;
  std::priority_queue<Call, std::vector<Call>, std::greater<Call>> active_;
  Figures figures_;
  const char* dir() const { return options_.dataDir.c_str(); }
};

int32_t Server::PickCard() {
  const bool hot = options_.hotPercent > 0 &&
                   std::uniform_int_distribution<int>(0, 99)(random_) < options_.hotPercent;
  if (!hot && !cards_.empty()) {
    return cards_[std::uniform_int_distribution<size_t>(0, cards_.size() - 1)(random_)];
  }
  const Range& range = hot ? options_.hot : options_.cards;
  return std::uniform_int_distribution<int32_t>(range.first, range.last)(random_);
}

void Server::StartCall(Clock::time_point now) {
  ++figures_.calls;
  const int32_t wanted = PickCard();
  const auto telefon = telefons_.find(wanted);
  const bool byPhone =
      telefon != telefons_.end() &&
      (options_.by == "phone" ||
       (options_.by == "mixed" && std::uniform_int_distribution<int>(0, 1)(random_) == 1));
  int32_t index = 0;
  PrepaidCard card{};
  const int32_t found =
      byPhone ? store::SearchTelefon(dir(), 1, telefon->second.low, telefon->second.high, &index,
                                     &card, store::TelefonMatch::kWithUnitsOnly)
              : Prepaid_Search(dir(), wanted, &index, &card);
  if (found != 1 || card.balance < options_.units) {
    ++figures_.refused;
    return;
  }
  const int32_t dialled = std::uniform_int_distribution<int32_t>(100000000, 999999999)(random_);
  const int charges =
      std::uniform_int_distribution<int>(options_.charges.first, options_.charges.last)(random_);
  active_.push({card.cardNumber, index, charges, dialled, now});
}

// Finds the card again after the file was compacted; false when it is gone or locked now.
bool Server::Relocate(Call* call) {
  ++figures_.moved;
  PrepaidCard card{};
  return Prepaid_Search(dir(), call->card, &call->index, &card) == 1;
}

Charge Server::ChargeLocked(const Call& call) {
  bool callEnds = false, noted = false;
  const int32_t units = options_.units;
  const auto change = [&](PrepaidCard* record) {
    callEnds = (record->flags & PREPAID_CARD_LOCKED) != 0 || record->balance < units;
    if (callEnds) return false;
    record->balance -= units;
    return true;
  };
  const auto note = [&](const PrepaidCard& before, const PrepaidCard& after) {
    noted = journal_->NotePending({call.card, call.index, units, before, after});
    return noted;
  };
  switch (store::UpdateCard(dir(), call.index, call.card, change, note)) {
    case store::UpdateResult::kWritten:
      if (!journal_->Charged()) JournalFailed();
      return Charge::kCharged;
    case store::UpdateResult::kUnchanged:
      return Charge::kCallEnds;
    case store::UpdateResult::kOtherCard:
      return Charge::kMoved;
    case store::UpdateResult::kFailed:
      break;
  }
  // A failed write may or may not have reached the record.
  if (noted && !journal_->Settle()) JournalFailed();
  return Charge::kFailed;
}

// The old way: read the record, change the copy, write it back, with nothing in between that
// keeps other writers out.
Charge Server::ChargeUnlocked(const Call& call) {
  PrepaidCard record{};
  if (!store::ReadCardAt(dir(), call.index, &record) || record.cardNumber != call.card) {
    return Charge::kMoved;
  }
  if ((record.flags & PREPAID_CARD_LOCKED) != 0 || record.balance < options_.units) {
    return Charge::kCallEnds;
  }
  PrepaidCard after = record;
  after.balance -= options_.units;
  if (!journal_->NotePending({call.card, call.index, options_.units, record, after})) {
    return Charge::kFailed;
  }
  if (Prepaid_Write(dir(), call.index, &after) == 1) {
    if (!journal_->Charged()) JournalFailed();
    return Charge::kCharged;
  }
  if (!journal_->Settle()) JournalFailed();
  return Charge::kFailed;
}

void Server::GoOn(Call call) {
  Charge charge = options_.lock ? ChargeLocked(call) : ChargeUnlocked(call);
  if (charge == Charge::kMoved) {
    if (!Relocate(&call)) return EndCall(call);
    charge = options_.lock ? ChargeLocked(call) : ChargeUnlocked(call);
  }
  switch (charge) {
    case Charge::kCharged:
      ++figures_.charges;
      figures_.units += options_.units;
      if (--call.chargesLeft == 0) return EndCall(call);
      break;
    case Charge::kFailed:
      // Disk full, the file held elsewhere: this interval is not charged; the call goes on.
      ++figures_.failed;
      break;
    case Charge::kCallEnds:
    case Charge::kMoved:
      return EndCall(call);
  }
  call.due += std::chrono::milliseconds(options_.intervalMs);
  active_.push(call);
}

// Writes the number called as the card's last number: "0" and nine digits.
void Server::EndCall(const Call& call) {
  const auto setLast = [&](PrepaidCard* record) {
    record->lastDigits = 10;
    record->lastHigh = 0;
    record->lastLow = call.dialled;
    return true;
  };
  Call at = call;
  if (store::UpdateCard(dir(), at.index, at.card, setLast) == store::UpdateResult::kOtherCard &&
      Relocate(&at)) {
    store::UpdateCard(dir(), at.index, at.card, setLast);
  }
}

void Server::JournalFailed() {
  std::fprintf(stderr, "telephony_standin: cannot write the journal %s\n",
               options_.journal.c_str());
  std::exit(3);
}

int Server::Run() {
  Catalogue catalogue = ReadCatalogue(options_.dataDir, options_);
  cards_ = std::move(catalogue.cards);
  telefons_ = std::move(catalogue.telefons);
  if (options_.cards.first > options_.cards.last && cards_.empty()) {
    std::fprintf(stderr, "telephony_standin: no cards in %sPREPAID.DAT\n", dir());
    return 3;
  }
  std::exponential_distribution<double> gap(options_.rate);
  const Clock::time_point start = Clock::now();
  const auto end = start + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(options_.seconds));
  Clock::time_point nextCall = start;
  for (;;) {
    const Clock::time_point now = Clock::now();
    const bool arriving = !g_stop && (options_.seconds <= 0 || now < end) &&
                          (options_.calls <= 0 || figures_.calls < options_.calls);
    if (!arriving && active_.empty()) break;
    if (!arriving) {
      // Closing down: the calls in progress end now.
      while (!active_.empty()) {
        EndCall(active_.top());
        active_.pop();
      }
      break;
    }
    if (!active_.empty() && active_.top().due <= now) {
      Call call = active_.top();
      active_.pop();
      GoOn(call);
      continue;
    }
    if (nextCall <= now) {
      StartCall(now);
      nextCall +=
          std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(gap(random_)));
      continue;
    }
    Clock::time_point wake = nextCall;
    if (!active_.empty() && active_.top().due < wake) wake = active_.top().due;
    const auto pause = std::min<Clock::duration>(wake - now, std::chrono::milliseconds(50));
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(pause).count();
    const struct timespec sleep { 0, static_cast<long>(ns) };
    nanosleep(&sleep, nullptr);
  }
  std::printf("calls: %ld\nrefused: %ld\ncharges: %ld\nunits: %ld\nmoved: %ld\nfailed: %ld\n",
              figures_.calls, figures_.refused, figures_.charges, figures_.units, figures_.moved,
              figures_.failed);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) return Usage();
  struct sigaction action {};
  action.sa_handler = Stop;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  standin::ChargeJournal journal;
  if (const int error = journal.Open(options.journal, options.dataDir); error != 0) {
    std::fprintf(stderr, "telephony_standin: %s: %s\n", options.journal.c_str(),
                 std::strerror(error));
    return 3;
  }
  if (options.settleOnly) return 0;
  Server server(options, &journal);
  return server.Run();
}
