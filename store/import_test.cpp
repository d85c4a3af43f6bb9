#include "store/import.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/share.h"
#include "store/card_blocks.h"
#include "store/prepaid.h"
#include "testsupport/card_files.h"
#include "testsupport/file_test.h"
#include "testsupport/naive_import.h"

namespace store {
namespace {

using testsupport::CardBuilder;
using testsupport::FileExists;
using testsupport::ReadCardFile;
using testsupport::ReadFile;
using testsupport::WriteCardFile;
using testsupport::WriteFile;
using util::SplitGeneration;

constexpr const char* kTooFewFields =
    "; not applied: this line has fewer than two fields; it and the lines after it were not "
    "imported\r\n";
constexpr const char* kOverflow =
    "; not applied: the new balance of the card would not fit in 32 bits\r\n";

class ImportTest : public testsupport::FileTest {
 protected:
  std::string Dat() const { return Path("PREPAID.DAT"); }
  std::string Inc() const { return Path("PREPAID.INC"); }
  std::string Trr() const { return Path("PREPAID.TRR"); }
  std::string Rej() const { return Path("PREPAID.REJ"); }
  int32_t Import(SplitGeneration generation = SplitGeneration::kCurrent) const {
    return Include(Dir().c_str(), Dir().c_str(), generation);
  }
  std::vector<PrepaidCard> Cards() const { return ReadCardFile(Dat()); }
};

std::vector<std::string> Describe(const std::vector<PrepaidCard>& cards) {
  std::vector<std::string> out;
  for (const PrepaidCard& c : cards) {
    out.push_back(std::to_string(c.cardNumber) + ":" + std::to_string(c.balance) +
                  ((c.flags & PREPAID_CARD_LOCKED) ? "L" : "") +
                  (c.telefonDigits ? "/" + std::to_string(c.telefonLow) : ""));
  }
  return out;
}

TEST_F(ImportTest, CommandsApplyToTheFirstRecordOfACard) {
  WriteCardFile(Dat(),
                {CardBuilder(42).Balance(10).Telefon("0301234567").Build(),
                 CardBuilder(7).Balance(5).Locked().Build(), CardBuilder(42).Balance(99).Build(),
                 CardBuilder(8).Balance(2147483000).Build(),
                 CardBuilder(9).Balance(3).Flags(0x80000011).Build()});
  WriteFile(Inc(),
            "A,00042,100\r\n"  // leading zeros: the first record of 42
            "A,7,1\n"          // a locked card still receives units and stays locked
            "L,42\r\n"
            "U,9\r\n"  // only the lock bit goes
            "D,8\n"
            "A,8,-20\n"             // negative amounts lower the balance below 0
            "A,1000,-5\n"           // an absent card is created, negative too
            "A,1001,3\nA,1001,4\n"  // a card created by an earlier line is found later
            "A,1002\n"              // no amount: nothing, as with amount 0
            "A,1003,0\n"
            "L,1004\nU,1005\nD,1006\n"  // absent cards: nothing
            "X,42,1000\n;,42,7\n"       // other commands: nothing
            "Add,+9,-2147483649999\n"   // amounts beyond 32 bits read as the nearest value
            "A,  42;1");                // semicolon fallback; the last line has no line end
  EXPECT_EQ(Import(), 1);
  EXPECT_EQ(Describe(Cards()),
            (std::vector<std::string>{"42:111L/301234567", "7:6L", "42:99", "8:-20",
                                      "9:-2147483645", "1000:-5", "1001:7"}));
  EXPECT_FALSE(FileExists(Inc()));
  EXPECT_FALSE(FileExists(Trr())) << "no marker, no marker file";
  EXPECT_FALSE(FileExists(Rej()));
  EXPECT_FALSE(FileExists(Path("PREPAID.INJ")));
}

// The card index reads the card file in blocks: cards on both sides of a block's end are found
// at their own records.
TEST_F(ImportTest, FindsCardsAcrossTheIndexBlocks) {
  const int32_t block = static_cast<int32_t>(store::CardBlock::kRecords);
  std::vector<PrepaidCard> cards;
  for (int32_t i = 0; i < block + 3; ++i) cards.push_back(CardBuilder(i + 1).Build());
  WriteCardFile(Dat(), cards);
  WriteFile(Inc(), "A," + std::to_string(block) + ",5\nA," + std::to_string(block + 1) + ",6\nA," +
                       std::to_string(block + 3) + ",7\n");
  ASSERT_EQ(Import(), 1);
  const std::vector<PrepaidCard> after = Cards();
  ASSERT_EQ(after.size(), cards.size());
  EXPECT_EQ(after[block - 1].balance, 5);
  EXPECT_EQ(after[block].balance, 6);
  EXPECT_EQ(after[block + 2].balance, 7);
  EXPECT_EQ(after[block + 1].balance, 0);
}

TEST_F(ImportTest, BatchMarkersKeepABatchFromBeingAppliedTwice) {
  struct Case {
    const char* what;
    std::string markersBefore, orders, markersAfter;
    std::vector<std::string> cards;
  };
  const std::vector<Case> cases = {
      {"a known first marker applies nothing",
       "E16\r\nE17\r\n",
       "E17\nA,1,5\n",
       "E16\r\nE17\r\n",
       {"1:1"}},
      {"new markers are recorded as they come",
       "E16\r\n",
       "E17\r\nA,1,5\nE18\nA,1,6\n",
       "E16\r\nE17\r\nE18\r\n",
       {"1:12"}},
      {"a known marker in the middle drops the rest",
       "E16\r\n",
       "E17\nA,1,5\nE16\nA,1,6\n",
       "E16\r\nE17\r\n",
       {"1:6"}},
      {"a final marker without line end matches a longer one",
       "E17\r\n",
       "A,1,5\nE1",
       "E17\r\n",
       {"1:6"}},
      {"and is recorded without line end", "", "A,1,5\nE1", "E1", {"1:6"}},
      {"which a later marker then continues",
       "E1",
       "E2\nA,1,5\nE2\nA,1,6\n",
       "E1E2\r\nE2\r\n",
       {"1:12"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteCardFile(Dat(), {CardBuilder(1).Balance(1).Build()});
    std::remove(Trr().c_str());
    if (!c.markersBefore.empty()) WriteFile(Trr(), c.markersBefore);
    WriteFile(Inc(), c.orders);
    EXPECT_EQ(Import(), 1);
    EXPECT_EQ(ReadFile(Trr()), c.markersAfter);
    EXPECT_EQ(Describe(Cards()), c.cards);
    EXPECT_FALSE(FileExists(Inc()));
    EXPECT_FALSE(FileExists(Rej())) << "a repeated batch is dropped on purpose";
  }
}

TEST_F(ImportTest, LinesThatCannotBeAppliedGoToRejects) {
  WriteCardFile(Dat(), {CardBuilder(1).Balance(2147483600).Build()});
  WriteFile(Inc(), "A,1,47\r\nA,1,1\r\nA,1,-100\r\n\r\nA,1,7\nE9\n\"unterminated,1\n");
  EXPECT_EQ(Import(), 1);
  EXPECT_EQ(Describe(Cards()), (std::vector<std::string>{"1:2147483547"}));
  EXPECT_EQ(ReadFile(Rej()), std::string(kOverflow) + "A,1,1\r\n" + kTooFewFields +
                                 "\r\nA,1,7\nE9\n\"unterminated,1\n");
  EXPECT_FALSE(FileExists(Inc()));
  EXPECT_FALSE(FileExists(Trr())) << "the marker after the empty line is not applied";

  // Only blank lines after the end: nothing to reject. Rejections add to the file.
  WriteFile(Inc(), "A,1,-1\n\n  \r\n\n");
  EXPECT_EQ(Import(), 1);
  WriteFile(Inc(), "A,1,-1\nno fields here");
  EXPECT_EQ(Import(), 1);
  EXPECT_EQ(Describe(Cards()), (std::vector<std::string>{"1:2147483545"}));
  EXPECT_EQ(ReadFile(Rej()), std::string(kOverflow) + "A,1,1\r\n" + kTooFewFields +
                                 "\r\nA,1,7\nE9\n\"unterminated,1\n" + kTooFewFields +
                                 "no fields here\r\n");
}

TEST_F(ImportTest, FilesAndWhatIsLeftWhenNothingCanBeDone) {
  EXPECT_EQ(Import(), 0) << "no order file";
  ::mkdir(Path("PREPAID.INC").c_str(), 0755);
  EXPECT_EQ(Import(), 0) << "a folder is no order file";
  ::rmdir(Path("PREPAID.INC").c_str());

  // Without PREPAID.DAT, an empty one is created, and 'D' lines leave it empty.
  WriteFile(Inc(), "D,1\nD,2\n");
  EXPECT_EQ(Import(), 1);
  EXPECT_TRUE(FileExists(Dat()));
  EXPECT_EQ(ReadFile(Dat()), "");

  // A card file that cannot be created: the order file stays for a later attempt.
  WriteFile(Inc(), "A,1,5\n");
  const std::string elsewhere = Path("missing/");
  EXPECT_EQ(Include(Dir().c_str(), elsewhere.c_str(), SplitGeneration::kCurrent), 0);
  EXPECT_EQ(ReadFile(Inc()), "A,1,5\n");

  // A second import while one runs (holding the journal) does nothing.
  platform::SharedFile running;
  ASSERT_EQ(platform::SharedFile::Open(Path("PREPAID.INJ"),
                                       {platform::kAccessReadWrite, platform::kShareNone,
                                        platform::Disposition::kOpenAlways, false},
                                       &running),
            0);
  EXPECT_EQ(Import(), 0);
  EXPECT_EQ(ReadFile(Inc()), "A,1,5\n");
  running.Close();
  EXPECT_EQ(Import(), 1);
  EXPECT_EQ(Describe(Cards()), (std::vector<std::string>{"1:5"}));

  // A new card goes right after the last whole record, over a torn piece.
  WriteCardFile(Dat(), {CardBuilder(1).Balance(1).Build()}, "torn");
  WriteFile(Inc(), "A,2,5\n");
  EXPECT_EQ(Import(), 1);
  EXPECT_EQ(ReadFile(Dat()).size(), 64u);
  EXPECT_EQ(Describe(Cards()), (std::vector<std::string>{"1:1", "2:5"}));
}

TEST_F(ImportTest, TheTwoGenerationsSplitLongFieldsDifferently) {
  // A card number field of 100 blanks and "42": the card editor's splitter keeps 99 characters
  // (card 0), the balance query's the whole field (card 42).
  const std::string orders = "A," + std::string(100, ' ') + "42,5\n";
  WriteCardFile(Dat(), {CardBuilder(0).Build(), CardBuilder(42).Build()});
  WriteFile(Inc(), orders);
  EXPECT_EQ(Import(SplitGeneration::kCurrent), 1);
  WriteFile(Inc(), orders);
  EXPECT_EQ(Import(SplitGeneration::kBalanceQuery), 1);
  EXPECT_EQ(Describe(Cards()), (std::vector<std::string>{"0:5", "42:5"}));
}

// A failed write stops the import at its line: the order file then holds exactly that line and
// the ones after it, and a later import finishes the job as if nothing had happened.
TEST_F(ImportTest, AFailedWriteKeepsTheLinesNotYetApplied) {
  const std::vector<PrepaidCard> start = {CardBuilder(1).Balance(1).Build(),
                                          CardBuilder(2).Balance(2).Build()};
  const std::string orders = "A,1,10\r\nE5\r\nA,3,30\r\nL,2\r\nA,1,11\r\n";
  const std::vector<std::string> lines = {"A,1,10\r\n", "E5\r\n", "A,3,30\r\n", "L,2\r\n",
                                          "A,1,11\r\n"};
  // The writes of the import, in order: the journal before each group of card writes (the
  // group's records, then its header), after it (done), and before each marker; the cards; the
  // marker.
  struct Case {
    const char* file;
    int nth;        // the nth write to that file fails
    size_t failAt;  // the line where the import stops
  };
  const std::vector<Case> cases = {
      {"PREPAID.DAT", 1, 0}, {"PREPAID.TRR", 1, 1}, {"PREPAID.DAT", 2, 2}, {"PREPAID.DAT", 3, 3},
      {"PREPAID.DAT", 4, 4}, {"PREPAID.INJ", 1, 0}, {"PREPAID.INJ", 4, 1}, {"PREPAID.INJ", 5, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " write " + std::to_string(c.nth));
    WriteCardFile(Dat(), start);
    std::remove(Trr().c_str());
    WriteFile(Inc(), orders);
    int writes = 0;
    {
      platform::ScopedFaultHook hook([&](platform::FileOp op, std::string_view path) {
        const bool ours = op == platform::FileOp::kWrite && path == Path(c.file);
        return ours && ++writes == c.nth ? EIO : 0;
      });
      EXPECT_EQ(Import(), 0);
    }
    std::string rest;
    for (size_t i = c.failAt; i < lines.size(); ++i) rest += lines[i];
    EXPECT_EQ(ReadFile(Inc()), rest);
    EXPECT_FALSE(FileExists(Path("PREPAID.INJ")));
    EXPECT_EQ(Import(), 1);
    EXPECT_EQ(Describe(Cards()), (std::vector<std::string>{"1:22", "2:2L", "3:30"}));
    EXPECT_EQ(ReadFile(Trr()), "E5\r\n");
  }
}

// Random card files with duplicate and locked cards, random order files with every kind of
// line: the import and the straightforward method give the same files, record for record.
struct RandomStore {
  std::vector<PrepaidCard> cards;
  std::string orders, markers;
};

RandomStore MakeRandomStore(uint32_t seed, int cards, int lines) {
  std::mt19937 random(seed);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); };
  RandomStore s;
  for (int i = 0; i < cards; ++i) {
    CardBuilder card(pick(cards * 2));
    card.Balance(pick(1000) - 100).Reserved(static_cast<uint8_t>(pick(256)), 7).Last("0891234");
    if (pick(5) == 0) card.Locked();
    if (pick(9) == 0) card.Balance(2147483000 + pick(600));
    s.cards.push_back(card.Build());
  }
  for (int i = 0; i < 3; ++i) s.markers += "E" + std::to_string(pick(20)) + "\r\n";
  const char* commands[] = {"A", "A", "A", "D", "L", "U", "X", "Add", "l"};
  const char* ends[] = {"\n", "\r\n", "\r\n"};
  for (int i = 0; i < lines; ++i) {
    const int kind = pick(40);
    std::string line;
    if (kind == 0) {
      line = "E" + std::to_string(pick(20));
    } else if (kind == 1 && pick(4) == 0) {
      line = pick(2) ? "" : "no fields";
    } else {
      line = std::string(commands[pick(9)]) + (pick(6) ? "," : ";") + (pick(4) ? "" : "0") +
             std::to_string(pick(cards * 3));
      if (pick(8)) line += "," + std::to_string(pick(3000) - 1000);
      if (pick(30) == 0) line += "," + std::to_string(2147483000LL + pick(1000));
    }
    s.orders += line + ends[pick(3)];
  }
  return s;
}

TEST_F(ImportTest, GivesTheSameFilesAsTheStraightforwardMethod) {
  const std::string reference = Path("reference/");
  ::mkdir(reference.c_str(), 0755);
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(seed);
    const RandomStore s = MakeRandomStore(seed, 1 + static_cast<int>(seed % 7) * 30, 150);
    const SplitGeneration generation =
        seed % 2 ? SplitGeneration::kCurrent : SplitGeneration::kBalanceQuery;
    for (const std::string& dir : {Dir(), reference}) {
      WriteCardFile(dir + "PREPAID.DAT", s.cards);
      WriteFile(dir + "PREPAID.TRR", s.markers);
      WriteFile(dir + "PREPAID.INC", s.orders);
    }
    EXPECT_EQ(Import(generation), 1);
    EXPECT_EQ(testsupport::NaiveInclude(reference, reference, generation), 1);
    EXPECT_EQ(ReadFile(Dat()), ReadFile(reference + "PREPAID.DAT"));
    EXPECT_EQ(ReadFile(Trr()), ReadFile(reference + "PREPAID.TRR"));
  }
}

// Another process changes PREPAID.DAT while the import runs (here: from the fault hook at the
// import's first journal write): its changes are kept and its cards found.
TEST_F(ImportTest, SeesWhatOtherProcessesChangeMeanwhile) {
  const std::vector<PrepaidCard> start = {CardBuilder(1).Balance(1).Build(),
                                          CardBuilder(2).Balance(2).Build(),
                                          CardBuilder(3).Balance(3).Build()};
  struct Case {
    const char* what;
    std::vector<PrepaidCard> meanwhile;  // the card file the other process leaves
    std::vector<std::string> cards;
  };
  const std::vector<Case> cases = {
      {"a card appended by another process is found",
       {start[0], start[1], start[2], CardBuilder(7).Balance(70).Build()},
       {"1:11", "2:7", "3:33", "7:77"}},
      {"a record changed by another process keeps its change",
       {start[0], CardBuilder(2).Balance(2).Telefon("040123").Build(), start[2]},
       {"1:11", "2:7/40123", "3:33", "7:7"}},
      {"the file compacted meanwhile: positions move",
       {start[0], start[2]},
       {"1:11", "3:33", "7:7", "2:5"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteCardFile(Dat(), start);
    WriteFile(Inc(), "A,1,10\nA,3,30\nA,7,7\nA,2,5\n");
    bool done = false;
    platform::ScopedFaultHook hook([&](platform::FileOp op, std::string_view path) {
      if (!done && op == platform::FileOp::kWrite && path == Path("PREPAID.INJ")) {
        done = true;
        WriteCardFile(Dat(), c.meanwhile);  // the same file, rewritten in place
      }
      return 0;
    });
    EXPECT_EQ(Import(), 1);
    EXPECT_EQ(Describe(Cards()), c.cards);
  }
}

}  // namespace
}  // namespace store
