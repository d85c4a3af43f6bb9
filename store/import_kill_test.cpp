// Imports killed with SIGKILL at every step, and at random moments, then started again: the
// files end up exactly as after one import that was never interrupted. And imports killed while
// the telephony server charges, the card file is compacted and the report is exported before
// the next import: every order is applied exactly once, or the one the kill left undecided is
// in PREPAID.REJ with its reason.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "store/card_history.h"
#include "store/import.h"
#include "store/record_update.h"
#include "store/report.h"
#include "testsupport/card_files.h"
#include "testsupport/file_test.h"
#include "testsupport/other_process.h"

namespace store {
namespace {

using testsupport::CardBuilder;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteCardFile;
using testsupport::WriteFile;

constexpr const char* kUndecidable =
    "; not applied: the import was interrupted here and the card or the card file was changed "
    "since; it cannot be told whether this order was applied\r\n";

struct StoreFiles {
  std::string cards, markers, rejects;
  std::string history;  // the changes the card history lists, without time and user
  bool operator==(const StoreFiles&) const = default;
};

std::string ListedChanges(const std::string& dir) {
  std::string changes;
  ReadHistoryLines(dir.c_str(), [&](std::string_view line) {
    HistoryEntry e;
    if (ParseHistoryLine(line, &e)) {
      changes += e.program + "|" + e.detail + "|" + std::to_string(e.card) + "|" +
                 std::to_string(e.balanceBefore) + ">" + std::to_string(e.balanceAfter) + "|" +
                 std::to_string(e.lockedBefore) + ">" + std::to_string(e.lockedAfter) + "\n";
    }
    return true;
  });
  return changes;
}

class ImportKillTest : public testsupport::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    model_ = Path("model/");
    ::mkdir(model_.c_str(), 0755);
  }

  void Prepare(const std::string& dir) const {
    for (const char* name : {"PREPAID.TRR", "PREPAID.REJ", "PREPAID.INJ", "PREPAID.INC",
                             "PREPAID.HIS", "PREPAID.HIS.1"}) {
      std::remove((dir + name).c_str());
    }
    WriteCardFile(dir + "PREPAID.DAT", cards_);
    WriteFile(dir + "PREPAID.TRR", "E1\r\n");
    WriteFile(dir + "PREPAID.INC", orders_);
  }
  StoreFiles Files(const std::string& dir) const {
    return {ReadFile(dir + "PREPAID.DAT"), ReadFile(dir + "PREPAID.TRR"),
            ReadFile(dir + "PREPAID.REJ"), ListedChanges(dir)};
  }
  int32_t Import(const std::string& dir) const {
    return Include(dir.c_str(), dir.c_str(), util::SplitGeneration::kCurrent);
  }
  // The files after one uninterrupted import.
  StoreFiles Model() {
    Prepare(model_);
    EXPECT_EQ(Import(model_), 1);
    return Files(model_);
  }

  // Runs the import in a child process that kills itself right before its `step`-th change
  // of a file (a write, rename, truncation or removal) counted over `path` ("" for any file).
  // True when the child was killed, false when it finished first.
  bool ImportKilledAt(int step, const std::string& path = "") const {
    const auto changesFile = [&](platform::FileOp op, std::string_view file) {
      return (op == platform::FileOp::kWrite || op == platform::FileOp::kTruncate ||
              op == platform::FileOp::kRename || op == platform::FileOp::kRemove) &&
             (path.empty() || file == path);
    };
    return testsupport::KilledAtStep(step, changesFile, [&] { Import(Dir()); });
  }

  // Checks that the import started again finishes the interrupted one, and that a dry run
  // before it tells exactly what it does and changes nothing.
  void ExpectFinishedLike(const StoreFiles& model) {
    const StoreFiles left = Files(Dir());
    const std::string leftOrders = ReadFile(Path("PREPAID.INC"));
    const std::string leftJournal = ReadFile(Path("PREPAID.INJ"));
    ImportReport dry, real;
    Include(Dir().c_str(), Dir().c_str(), util::SplitGeneration::kCurrent, &dry, {true});
    EXPECT_EQ(Files(Dir()), left);
    EXPECT_EQ(ReadFile(Path("PREPAID.INC")), leftOrders);
    EXPECT_EQ(ReadFile(Path("PREPAID.INJ")), leftJournal);
    Include(Dir().c_str(), Dir().c_str(), util::SplitGeneration::kCurrent, &real);
    EXPECT_EQ(
        std::vector<int64_t>({dry.applied, dry.skipped, dry.rejected, dry.markersRecorded}),
        std::vector<int64_t>({real.applied, real.skipped, real.rejected, real.markersRecorded}));
    EXPECT_EQ(dry.repeatedMarker, real.repeatedMarker);
    EXPECT_EQ(Files(Dir()), model);
    EXPECT_FALSE(FileExists(Path("PREPAID.INC")));
    EXPECT_FALSE(FileExists(Path(".PREPAID.INC.new")) && FileExists(Path("PREPAID.INC")));
  }

  std::vector<PrepaidCard> cards_ = {
      CardBuilder(1).Balance(10).Build(), CardBuilder(2).Balance(2147483000).Build(),
      CardBuilder(3).Balance(30).Locked().Build(), CardBuilder(1).Balance(99).Build()};
  // Every kind of step: markers, changes, new cards, a rejected line and a rejected rest.
  std::string orders_ =
      "E2\r\nA,1,5\r\nA,9,90\r\nL,1\r\nA,2,1000\r\nA,9,1\r\nU,3\r\nD,1\r\nE3\r\nA,10,100\r\n"
      "A,1,7\r\n\r\nA,3,33\r\nE4\r\n";
  std::string model_;
};

TEST_F(ImportKillTest, KilledAtEveryStepAndStartedAgain) {
  const StoreFiles model = Model();
  ASSERT_NE(model.rejects.find("A,2,1000"), std::string::npos);
  ASSERT_NE(model.rejects.find("A,3,33"), std::string::npos);
  int step = 1;
  for (; step < 200; ++step) {
    SCOPED_TRACE(step);
    Prepare(Dir());
    if (!ImportKilledAt(step)) break;
    ExpectFinishedLike(model);
  }
  EXPECT_GT(step, 20) << "the import changes files in many steps";
  EXPECT_LT(step, 200);

  // Killed again while finishing the interrupted import.
  std::mt19937 random(5);
  for (int round = 0; round < 15; ++round) {
    const int first = 1 + static_cast<int>(random() % static_cast<unsigned>(step - 1));
    const int second = 1 + static_cast<int>(random() % static_cast<unsigned>(step - 1));
    SCOPED_TRACE(std::to_string(first) + " then " + std::to_string(second));
    Prepare(Dir());
    ASSERT_TRUE(ImportKilledAt(first));
    ImportKilledAt(second);
    ExpectFinishedLike(model);
  }
}

TEST_F(ImportKillTest, KilledAtRandomMoments) {
  std::mt19937 random(11);
  cards_.clear();
  for (int i = 0; i < 3000; ++i) cards_.push_back(CardBuilder(i).Balance(i % 50).Build());
  orders_.clear();
  for (int i = 0; i < 4000; ++i) {
    const int card = static_cast<int>(random() % 3600);
    const char command = "AAADLU"[random() % 6];
    orders_ += std::string(1, command) + "," + std::to_string(card) + "," +
               std::to_string(static_cast<int>(random() % 200) - 50) + "\r\n";
    if (i % 700 == 0) orders_ += "E" + std::to_string(100 + i) + "\r\n";
  }
  // Kills fall anywhere within the processor time one import takes.
  const auto started = testsupport::ProcessorTime();
  const StoreFiles model = Model();
  const long nanoseconds = (testsupport::ProcessorTime() - started).count();
  int interrupted = 0;
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    Prepare(Dir());
    testsupport::KilledAfter(std::chrono::nanoseconds(random() % nanoseconds),
                             [&] { Import(Dir()); });
    interrupted += FileExists(Path("PREPAID.INJ"));
    ExpectFinishedLike(model);
  }
  EXPECT_GT(interrupted, 2) << "kills that left an import unfinished";
}

// An import killed right before it wrote a card, whose record the telephony server then
// changed: whether the order was applied cannot be told, so it goes to PREPAID.REJ.
TEST_F(ImportKillTest, AnOrderThatCannotBeToldAppliedIsRejected) {
  orders_ = "A,1,5\r\nA,3,1\r\nA,9,9\r\n";
  Prepare(Dir());
  ASSERT_TRUE(ImportKilledAt(2, Path("PREPAID.DAT")));  // before the write for card 3
  std::vector<PrepaidCard> cards = testsupport::ReadCardFile(Path("PREPAID.DAT"));
  cards[2].balance -= 4;  // a call used units meanwhile
  WriteCardFile(Path("PREPAID.DAT"), cards);
  const std::string before = ReadFile(Path("PREPAID.DAT"));
  {
    // While PREPAID.REJ cannot be written, nothing is decided and nothing changes.
    platform::ScopedFaultHook hook([&](platform::FileOp op, std::string_view path) {
      return op == platform::FileOp::kOpen && path == Path("PREPAID.REJ") ? EACCES : 0;
    });
    EXPECT_EQ(Import(Dir()), 0);
  }
  EXPECT_EQ(ReadFile(Path("PREPAID.INC")), orders_);
  EXPECT_EQ(ReadFile(Path("PREPAID.DAT")), before);
  EXPECT_FALSE(FileExists(Path("PREPAID.REJ")));
  EXPECT_EQ(Import(Dir()), 1);
  cards.push_back(CardBuilder(9).Balance(9).Build());
  EXPECT_EQ(testsupport::ReadCardFile(Path("PREPAID.DAT")).size(), cards.size());
  EXPECT_EQ(ReadFile(Path("PREPAID.DAT")), [&] {
    std::string bytes;
    for (const PrepaidCard& c : cards) bytes += testsupport::CardBytes(c);
    return bytes;
  }());
  EXPECT_EQ(ReadFile(Path("PREPAID.REJ")), std::string(kUndecidable) + "A,3,1\r\n");
}

// A kill in the middle of adding lines to PREPAID.REJ leaves a piece of them there: the next
// import adds them again whole, in place of the piece, so no line is there twice.
TEST_F(ImportKillTest, ARejectionCutShortIsAddedAgainWhole) {
  const StoreFiles model = Model();
  Prepare(Dir());
  WriteFile(Path("PREPAID.REJ"), "; earlier\r\n");
  bool rejecting = false;
  const auto step = [&](platform::FileOp op, std::string_view path) {
    rejecting = rejecting || (op == platform::FileOp::kOpen && path == Path("PREPAID.REJ"));
    return rejecting && op == platform::FileOp::kWrite;
  };
  ASSERT_TRUE(testsupport::KilledAtStep(1, step, [&] { Import(Dir()); }));
  std::ofstream(Path("PREPAID.REJ"), std::ios::app) << model.rejects.substr(0, 20);
  EXPECT_EQ(Import(Dir()), 1);
  EXPECT_EQ(ReadFile(Path("PREPAID.REJ")), "; earlier\r\n" + model.rejects);
}

// Killed while the next group was being planned: a call that charges a card of the group that
// was done before the next import leaves no doubt about that group's orders.
TEST_F(ImportKillTest, ACardChargedAfterItsGroupWasDoneIsNotInDoubt) {
  orders_ = "A,1,5\r\n";  // then a full group of new cards, and one more
  for (int card = 100; card < 100 + kOrdersPerSync; ++card) {
    orders_ += "A," + std::to_string(card) + ",1\r\n";
  }
  Prepare(Dir());
  // The second journal write after the first group's cards were synced: the next group's.
  const auto afterFirstGroup = [&, synced = false](platform::FileOp op,
                                                   std::string_view path) mutable {
    synced = synced || (op == platform::FileOp::kSync && path == Path("PREPAID.DAT"));
    return synced && op == platform::FileOp::kWrite && path == Path("PREPAID.INJ");
  };
  ASSERT_TRUE(testsupport::KilledAtStep(2, afterFirstGroup, [&] { Import(Dir()); }));
  std::vector<PrepaidCard> cards = testsupport::ReadCardFile(Path("PREPAID.DAT"));
  ASSERT_EQ(cards.size(), cards_.size() + kOrdersPerSync - 1);
  ASSERT_EQ(cards[0].balance, 15);
  cards[0].balance -= 4;  // a call
  WriteCardFile(Path("PREPAID.DAT"), cards);
  EXPECT_EQ(Import(Dir()), 1);
  EXPECT_FALSE(FileExists(Path("PREPAID.REJ")));
  cards = testsupport::ReadCardFile(Path("PREPAID.DAT"));
  ASSERT_EQ(cards.size(), cards_.size() + kOrdersPerSync);
  EXPECT_EQ(cards[0].balance, 11);
}

TEST_F(ImportKillTest, ADamagedJournalRejectsTheWholeOrderFile) {
  orders_ = "A,1,5\r\nA,3,1\r\n";
  Prepare(Dir());
  ASSERT_TRUE(ImportKilledAt(3));  // after the history's header and the first journal entry
  std::string journal = ReadFile(Path("PREPAID.INJ"));
  ASSERT_GE(journal.size(), 512u);  // the header sector
  journal[50] ^= 1;
  WriteFile(Path("PREPAID.INJ"), journal);
  EXPECT_EQ(Import(Dir()), 1);
  EXPECT_EQ(ReadFile(Path("PREPAID.REJ")),
            "; not applied: the import journal PREPAID.INJ is damaged; it cannot be told which of "
            "these orders were applied\r\n" +
                orders_);
  EXPECT_FALSE(FileExists(Path("PREPAID.INJ")));
}

// What happens to the card file between a killed import and the next one.
using Meanwhile = std::function<void(const std::string& dir)>;

void Compact(const std::string& dir) { EXPECT_EQ(Prepaid_Reorganize(dir.c_str()), 1); }

void ExportReport(const std::string& dir) {
  const PrepaidConfig config{};
  EXPECT_EQ(Export(dir.c_str(), dir.c_str(), &config, ReportDate::kWithSeconds), 1);
}

// A call's charge, as the telephony server makes it: the balance lowered under the record's
// lock, nothing else changed.
Meanwhile Charge(int32_t card, int32_t units) {
  return [card, units](const std::string& dir) {
    const std::vector<PrepaidCard> cards = testsupport::ReadCardFile(dir + "PREPAID.DAT");
    int32_t index = 0;
    while (index < static_cast<int32_t>(cards.size()) && cards[index].cardNumber != card) ++index;
    const auto charge = [units](PrepaidCard* record) {
      record->balance -= units;
      return true;
    };
    EXPECT_EQ(UpdateCard(dir.c_str(), index, card, charge), UpdateResult::kWritten);
  };
}

// Balances by card number; a card that is not there holds 0.
std::map<int32_t, int64_t> Balances(const std::string& path) {
  std::map<int32_t, int64_t> balances;
  for (const PrepaidCard& card : testsupport::ReadCardFile(path)) {
    balances.emplace(card.cardNumber, card.balance);
  }
  return balances;
}

int64_t BalanceOf(const std::map<int32_t, int64_t>& balances, int32_t card) {
  const auto found = balances.find(card);
  return found == balances.end() ? 0 : found->second;
}

// The import killed right before, or right after, its `write`-th write of the card file; the
// card file, the journal and the order file as that kill leaves them, and then `meanwhile`, and
// the next import: the card holds its order once, or the order is in PREPAID.REJ because that
// cannot be told from the card as it is now. Never twice.
TEST_F(ImportKillTest, TheInterruptedOrderIsToldFromItsCardWhereverItIsNow) {
  cards_ = {CardBuilder(5).Build(), CardBuilder(7).Balance(500).Build()};
  orders_ = "A,99,100\r\nA,7,30\r\n";
  const std::string rejectNew = std::string(kUndecidable) + "A,99,100\r\n";
  const std::string rejectChange = std::string(kUndecidable) + "A,7,30\r\n";
  struct Case {
    const char* what;
    int write;
    bool after;
    std::vector<Meanwhile> meanwhile;
    int64_t card99, card7;
    std::string rejects;
  };
  const std::vector<Case> cases = {
      {"a new card written, an earlier empty card compacted away",
       1,
       true,
       {Compact},
       100,
       530,
       ""},
      {"a new card not yet written, a compaction", 1, false, {Compact}, 100, 530, ""},
      {"a new card written, used up and compacted away",
       1,
       true,
       {Charge(99, 100), Compact},
       0,
       530,
       rejectNew},
      {"a change written, moved by a compaction, exported",
       2,
       true,
       {Compact, ExportReport},
       100,
       530,
       ""},
      {"a change not yet written, nothing else", 2, false, {}, 100, 530, ""},
      {"a change not yet written, exported", 2, false, {ExportReport}, 100, 530, ""},
      {"a change not yet written, the card charged",
       2,
       false,
       {Charge(7, 5)},
       100,
       495,
       rejectChange},
      {"a change written, the card charged by its amount",
       2,
       true,
       {Charge(7, 30)},
       100,
       500,
       rejectChange},
      {"a change not yet written, another card charged",
       2,
       false,
       {Charge(99, 1)},
       99,
       500,
       rejectChange},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Prepare(Dir());
    int writes = 0;
    bool armed = false;
    const auto step = [&](platform::FileOp op, std::string_view path) {
      const bool change = op == platform::FileOp::kWrite || op == platform::FileOp::kRename ||
                          op == platform::FileOp::kRemove;
      if (!change) return false;
      if (armed) return true;
      const bool cardWrite = op == platform::FileOp::kWrite && path == Path("PREPAID.DAT");
      if (!cardWrite || ++writes != c.write) return false;
      armed = c.after;
      return !c.after;
    };
    ASSERT_TRUE(testsupport::KilledAtStep(1, step, [&] { Import(Dir()); }));
    for (const Meanwhile& happen : c.meanwhile) happen(Dir());
    EXPECT_EQ(Import(Dir()), 1);
    const std::map<int32_t, int64_t> balances = Balances(Path("PREPAID.DAT"));
    EXPECT_EQ(BalanceOf(balances, 99), c.card99);
    EXPECT_EQ(BalanceOf(balances, 7), c.card7);
    EXPECT_EQ(ReadFile(Path("PREPAID.REJ")), c.rejects);
    EXPECT_FALSE(FileExists(Path("PREPAID.INC")));
  }
}

// The telephony stand-in charging cards (the new ones too) until it has made `calls` calls;
// the units it charged, by card, from its journal.
std::map<int32_t, int64_t> ServerCharges(const std::string& dir, int calls, unsigned seed) {
  const std::string journal = dir + "standin.journal";
  std::remove(journal.c_str());
  const pid_t pid = testsupport::StartProgram(
      {LV_TELEPHONY_STANDIN, dir, "--cards", "98-100", "--hot", "7-8:60", "--calls",
       std::to_string(calls), "--rate", "2000", "--charges", "1-4", "--interval", "0", "--journal",
       journal, "--seed", std::to_string(seed)});
  const std::optional<int> status = testsupport::WaitForProgram(pid, std::chrono::seconds(60));
  EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
      << "the telephony stand-in ending its " << calls << " calls within 60 s";
  std::map<int32_t, int64_t> charged;
  std::istringstream lines(ReadFile(journal));
  std::string kind;
  int32_t card = 0;
  int64_t units = 0;
  while (lines >> kind >> card >> units) {
    EXPECT_EQ(kind, "charge");
    charged[card] += units;
  }
  return charged;
}

// Killed before each of its steps, with the telephony server charging, the card file compacted
// and the report exported before the next import: every card ends up holding what it held, plus
// every top-up once, less what the server journalled, where the one order the kill may leave
// undecided counts either way and is in PREPAID.REJ.
TEST_F(ImportKillTest, KilledAtEveryStepWhileTheServerChargesAndTheFileIsCompactedAndExported) {
  cards_ = {CardBuilder(5).Build(), CardBuilder(6).Build(),
            CardBuilder(7).Balance(500).Telefon("0301234567").Build(),
            CardBuilder(8).Balance(500).Build(), CardBuilder(9).Balance(500).Locked().Build()};
  struct Line {
    std::string text;
    int32_t card, amount;
  };
  const std::vector<Line> lines = {{"E7", 0, 0},        {"A,99,100", 99, 100}, {"A,7,30", 7, 30},
                                   {"A,8,-10", 8, -10}, {"A,6,4", 6, 4},       {"L,8", 8, 0},
                                   {"A,100,5", 100, 5}, {"A,99,1", 99, 1},     {"D,5", 5, 0},
                                   {"U,9", 9, 0},       {"A,9,2", 9, 2},       {"E8", 0, 0}};
  orders_.clear();
  for (const Line& line : lines) orders_ += line.text + "\r\n";
  // The steps of an uninterrupted import: which of them write a card ('c'), which list it in
  // the card history ('h').
  std::string steps;
  {
    Prepare(model_);
    platform::ScopedFaultHook watch([&](platform::FileOp op, std::string_view path) {
      if (op == platform::FileOp::kWrite || op == platform::FileOp::kTruncate ||
          op == platform::FileOp::kRename || op == platform::FileOp::kRemove) {
        const bool write = op == platform::FileOp::kWrite;
        steps += write && path == model_ + "PREPAID.DAT"   ? 'c'
                 : write && path == model_ + "PREPAID.HIS" ? 'h'
                                                           : 'o';
      }
      return 0;
    });
    ASSERT_EQ(Import(model_), 1);
  }
  int step = 1;
  for (; step < 100; ++step) {
    SCOPED_TRACE("killed before step " + std::to_string(step));
    Prepare(Dir());
    if (!ImportKilledAt(step)) break;
    const std::map<int32_t, int64_t> charged = ServerCharges(Dir(), 25, step);
    Compact(Dir());
    ExportReport(Dir());
    const int32_t expected = FileExists(Path("PREPAID.INC")) ? 1 : 0;  // 0: killed at its end
    EXPECT_EQ(Import(Dir()), expected);
    EXPECT_FALSE(FileExists(Path("PREPAID.INC")));
    // The rejected order, if any: the one the kill left undecided.
    const std::string rejects = ReadFile(Path("PREPAID.REJ"));
    const Line* open = nullptr;
    for (const Line& line : lines) {
      if (!rejects.empty() && rejects == kUndecidable + line.text + "\r\n") open = &line;
    }
    EXPECT_TRUE(rejects.empty() || open) << rejects;
    // Only a kill right before or right after a card's write (and its history line) leaves its
    // order undecided.
    const size_t at = static_cast<size_t>(step) - 1;
    const auto kind = [&](size_t i) { return i < steps.size() ? steps[i] : 'o'; };
    const bool atCardWrite = kind(at) == 'c' || (at > 0 && kind(at - 1) == 'c') ||
                             (at > 1 && kind(at - 1) == 'h' && kind(at - 2) == 'c');
    EXPECT_TRUE(rejects.empty() || atCardWrite) << rejects;
    const std::map<int32_t, int64_t> balances = Balances(Path("PREPAID.DAT"));
    for (const int32_t card : {6, 7, 8, 9, 99, 100}) {
      SCOPED_TRACE("card " + std::to_string(card));
      int64_t expected = card == 7 || card == 8 || card == 9 ? 500 : 0;
      for (const Line& line : lines) {
        if (line.card == card && &line != open) expected += line.amount;
      }
      expected -= charged.count(card) ? charged.at(card) : 0;
      const int64_t balance = BalanceOf(balances, card);
      const bool either = open && open->card == card && balance == expected + open->amount;
      EXPECT_TRUE(balance == expected || either)
          << balance << " units, " << expected << " expected";
    }
  }
  EXPECT_EQ(static_cast<size_t>(step), steps.size() + 1) << "killed before every step";
}

}  // namespace
}  // namespace store
