#include "store/import.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/share.h"
#include "store/card_blocks.h"
#include "store/prepaid.h"
#include "store/report.h"
#include "testsupport/card_files.h"
#include "testsupport/file_test.h"
#include "testsupport/naive_import.h"
#include "testsupport/other_process.h"

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
            "A,1003,0\n"
            "L,1004\nU,1005\nD,1006\n"  // absent cards: nothing
            "X,42,1000\n;,42,7\n"       // other commands: nothing
            "Add,+9,-20\n"              // only the first letter of the command counts
            "A,  42;1");                // semicolon fallback; the last line has no line end
  EXPECT_EQ(Import(), 1);
  EXPECT_EQ(Describe(Cards()), (std::vector<std::string>{"42:111L/301234567", "7:6L", "42:99",
                                                         "8:-20", "9:-17", "1000:-5", "1001:7"}));
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
      {"a final marker without line end is recorded on a line of its own",
       "E17\r\n",
       "A,1,5\nE1",
       "E17\r\nE1\r\n",
       {"1:6"}},
      {"a list that ends without a line end gets one first",
       "E1",
       "E2\nA,1,5\nE2\nA,1,6\n",
       "E1\r\nE2\r\n",
       {"1:6"}},
      {"a marker is known only as the whole line",
       "E17\r\n",
       "E1\nA,1,5\n",
       "E17\r\nE1\r\n",
       {"1:6"}},
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

// The same batch sent again after one that ended in a marker without a line end: known, and
// the report lists every marker on a line of its own.
TEST_F(ImportTest, ABatchSentAgainIsKnownAfterAMarkerWithoutLineEnd) {
  WriteCardFile(Dat(), {CardBuilder(1).Build()});
  for (const std::string orders : {"A,1,5\nE1", "E2\nA,1,10\n", "E2\nA,1,10\n"}) {
    WriteFile(Inc(), orders);
    ImportReport report;
    EXPECT_EQ(Include(Dir().c_str(), Dir().c_str(), SplitGeneration::kCurrent, &report), 1);
  }
  EXPECT_EQ(Describe(Cards()), (std::vector<std::string>{"1:15"}));
  EXPECT_EQ(ReadFile(Trr()), "E1\r\nE2\r\n");
  const PrepaidConfig config{};
  ASSERT_EQ(Export(Dir().c_str(), Dir().c_str(), &config, ReportDate::kWithSeconds), 1);
  EXPECT_NE(ReadFile(Path("PREPAID.TXT")).find("\r\nE1\r\nE2\r\n1,15,\r\n"), std::string::npos);
}

// Every line that cannot be applied goes to PREPAID.REJ, after a line that says why, and the
// import goes on; a line with fewer than two fields ends the import, and it and everything after
// it go there too.
TEST_F(ImportTest, LinesThatCannotBeAppliedGoToRejects) {
  WriteCardFile(Dat(), {CardBuilder(1).Balance(2147483600).Build(),
                        CardBuilder(2147483647).Balance(1).Build()});
  const std::vector<std::pair<std::string, std::string>> lines = {
      {"A,1,47\r\n", ""},
      {"A,1,1\r\n", "the new balance of the card would not fit in 32 bits"},
      {"A,3,4294967296\r\n", "the amount does not fit in 32 bits (-2147483648 to 2147483647)"},
      {"A,0,-2147483649\r\n", "the amount does not fit in 32 bits (-2147483648 to 2147483647)"},
      {"A,99999999999,5\r\n",
       "the card number is larger than 2147483647, the largest a card can have"},
      {"A,4294967338,100\r\n",
       "the card number is larger than 2147483647, the largest a card can have"},
      {"A,2147483647,2\r\n", ""},
      {"A,-1,13\r\n", "the card number is negative; no card can have it"},
      {"L,-5\r\n", "the card number is negative; no card can have it"},
      {"A,0,7\r\n", ""},  // card 0 is an ordinary card
      {"A, ,5\r\n", "the card number field holds no number"},
      {"D,x1\r\n", "the card number field holds no number"},
      {"A,1\r\n", "this order adds units but gives no amount"},
      {"A,0,abc\r\n", "this order adds units but gives no amount"},
      {"A,1,-100\r\n", ""},
      {"D,3,99999999999\r\n", ""},  // only 'A' reads an amount; card 3 is absent
      {"X,-7,x\r\n", ""},           // other commands read nothing
  };
  std::string orders, rejects;
  for (const auto& [line, reason] : lines) {
    orders += line;
    if (!reason.empty()) rejects += "; not applied: " + reason + "\r\n" + line;
  }
  orders += "\r\nA,1,7\nE9\n\"unterminated,1\n";
  rejects += std::string(kTooFewFields) + "\r\nA,1,7\nE9\n\"unterminated,1\n";
  WriteFile(Inc(), orders);
  ImportReport report;
  EXPECT_EQ(Include(Dir().c_str(), Dir().c_str(), SplitGeneration::kCurrent, &report), 1);
  EXPECT_EQ(Describe(Cards()), (std::vector<std::string>{"1:2147483547", "2147483647:3", "0:7"}));
  EXPECT_EQ(ReadFile(Rej()), rejects);
  EXPECT_EQ(report.applied, 4);
  EXPECT_EQ(report.skipped, 2);
  EXPECT_EQ(report.rejected, 14);
  ASSERT_EQ(report.rejections.size(), 12u);
  EXPECT_EQ(report.rejections[0].reason, lines[1].second);
  EXPECT_EQ(report.rejections[11].lines, 3);
  EXPECT_FALSE(FileExists(Inc()));
  EXPECT_FALSE(FileExists(Trr())) << "the marker after the empty line is not applied";

  // Only blank lines after the end: nothing to reject. Rejections add to the file.
  WriteFile(Inc(), "A,1,-1\n\n  \r\n\n");
  EXPECT_EQ(Import(), 1);
  WriteFile(Inc(), "A,1,-1\nno fields here");
  EXPECT_EQ(Import(), 1);
  EXPECT_EQ(Cards()[0].balance, 2147483545);
  EXPECT_EQ(ReadFile(Rej()), rejects + kTooFewFields + "no fields here\r\n");
}

// Every byte of an order file is applied or in PREPAID.REJ: lines end at LF, CR LF or a lone CR,
// are read whole whatever their length up to 64 KiB, and only a byte order mark at the start and a
// Ctrl-Z at the very end are no text. Both generations read the same.
TEST_F(ImportTest, EveryLineIsReadWholeAndNoByteIsLost) {
  const std::string controlCharacter =
      "; not applied: this line holds a control character (a byte below 32 other than the tab, "
      "such as Ctrl-Z or a zero byte)\r\n";
  const std::string longLine = "A,1,3" + std::string(70000, ' ');
  const std::string longMarker = "E" + std::string(70000, 'x');
  struct Case {
    const char* what;
    std::string orders;
    int32_t added;  // to card 1
    std::string rejects, markers;
  };
  const std::vector<Case> cases = {
      {"a Ctrl-Z inside",
       "A,1,5\n\x1A"
       "A,1,6\n",
       5,
       controlCharacter + "\x1A"
                          "A,1,6\n",
       ""},
      {"a Ctrl-Z at the end", "A,1,5\r\nA,1,6\x1A", 11, "", ""},
      {"a zero byte", std::string("A,1,5\0A,1,50\n", 13) + "A,1,1\n", 1,
       controlCharacter + std::string("A,1,5\0A,1,50\n", 13), ""},
      {"lone CRs", "A,1,1\rA,1,2\rA,1,4\r", 7, "", ""},
      {"a byte order mark",
       "\xEF\xBB\xBF"
       "E17\r\nA,1,5\r\n",
       5, "", "E17\r\n"},
      {"199 characters", "A,1," + std::string(194, '0') + "2\r\nA,1,3\r\n", 5, "", ""},
      {"250 characters", "A,1," + std::string(244, '0') + "05\r\n", 5, "", ""},
      {"a card number field of 150 characters", "A," + std::string(148, ' ') + "1,4\n", 4, "", ""},
      {"too long", longLine + "\nA,1,3\n", 3,
       "; not applied: this line is longer than 65536 characters\r\n" + longLine + "\n", ""},
      {"a batch marker too long", longMarker + "\r\nA,1,3\n", 0,
       "; not applied: this batch marker line is longer than 65536 characters; it and the lines "
       "after it were not imported\r\n" +
           longMarker + "\r\nA,1,3\n",
       ""},
      {"a batch marker with a control character", "E1\x01\nA,1,3\nE2\n", 0,
       "; not applied: this batch marker line holds a control character; it and the lines after "
       "it were not imported\r\nE1\x01\nA,1,3\nE2\n",
       ""},
  };
  for (const SplitGeneration generation :
       {SplitGeneration::kCurrent, SplitGeneration::kBalanceQuery}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      WriteCardFile(Dat(), {CardBuilder(1).Balance(100).Build()});
      for (const std::string& name : {Rej(), Trr()}) std::remove(name.c_str());
      WriteFile(Inc(), c.orders);
      EXPECT_EQ(Import(generation), 1);
      EXPECT_EQ(Cards().at(0).balance, 100 + c.added);
      EXPECT_EQ(ReadFile(Rej()), c.rejects);
      EXPECT_EQ(ReadFile(Trr()), c.markers);
      EXPECT_FALSE(FileExists(Inc()));
    }
  }
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

// An order file that another program still has open for writing is left alone: nothing is
// applied, created or deleted until the writer has closed it.
TEST_F(ImportTest, AnOrderFileStillBeingWrittenIsLeftAlone) {
  WriteCardFile(Dat(), {CardBuilder(42).Build(), CardBuilder(1).Build()});
  WriteFile(Inc(), "A,42,1");
  testsupport::OtherProcess writer([&] { return ::open(Inc().c_str(), O_WRONLY | O_APPEND) >= 0; });
  ASSERT_TRUE(writer.succeeded());
  for (const bool dryRun : {true, false}) {
    ImportReport report;
    EXPECT_EQ(Include(Dir().c_str(), Dir().c_str(), SplitGeneration::kCurrent, &report, {dryRun}),
              0);
    EXPECT_EQ(report.writer, OrderFileWriter::kWriting);
  }
  EXPECT_EQ(ReadFile(Inc()), "A,42,1");
  EXPECT_FALSE(FileExists(Path("PREPAID.INJ")));
  EXPECT_EQ(Describe(Cards()), (std::vector<std::string>{"42:0", "1:0"}));
  std::ofstream(Inc(), std::ios::app) << "00\nA,1,50\n";  // the writer's last lines
  writer.Release();
  EXPECT_EQ(Import(), 1);
  EXPECT_EQ(Describe(Cards()), (std::vector<std::string>{"42:100", "1:50"}));
}

// Neither the order file's owner nor privileged, an import cannot take a lease, and looks into
// the processes it may see instead: a writer among them keeps it off the file, and so does any
// process of the file's owner, whose open files are closed to it.
TEST_F(ImportTest, AnImportOfAnotherUserLooksForWritersItMaySee) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as two other users";
  constexpr uid_t kOwner = 64990, kImporter = 64991;
  const auto become = [](uid_t uid) {
    return setgroups(0, nullptr) == 0 && setresgid(uid, uid, uid) == 0 &&
           setresuid(uid, uid, uid) == 0 && prctl(PR_SET_DUMPABLE, 1) == 0;
  };
  ASSERT_EQ(::chmod(Dir().c_str(), 0777), 0);
  WriteCardFile(Dat(), {CardBuilder(1).Build()});
  WriteFile(Inc(), "A,1,5\n");
  ASSERT_EQ(::chmod(Dat().c_str(), 0666) | ::chmod(Inc().c_str(), 0666), 0);
  ASSERT_EQ(::chown(Inc().c_str(), kOwner, kOwner), 0);
  const auto importAs = [&](OrderFileWriter expected, int32_t result) {
    return testsupport::RunWithin(std::chrono::seconds(60), [&] {
      ImportReport report;
      return become(kImporter) &&
             Include(Dir().c_str(), Dir().c_str(), SplitGeneration::kCurrent, &report) == result &&
             report.writer == expected;
    });
  };
  struct Case {
    const char* what;
    uid_t user;
    int access;
    OrderFileWriter expected;
  };
  for (const Case& c :
       {Case{"a writer of its own user", kImporter, O_WRONLY, OrderFileWriter::kWriting},
        Case{"a writer of the owner", kOwner, O_WRONLY, OrderFileWriter::kUnknown},
        Case{"a reader of the owner", kOwner, O_RDONLY, OrderFileWriter::kUnknown}}) {
    SCOPED_TRACE(c.what);
    testsupport::OtherProcess holder(
        [&] { return become(c.user) && ::open(Inc().c_str(), c.access) >= 0; });
    ASSERT_TRUE(holder.succeeded());
    EXPECT_EQ(importAs(c.expected, 0), std::optional<bool>(true));
  }
  EXPECT_EQ(importAs(OrderFileWriter::kNone, 1), std::optional<bool>(true));
  EXPECT_EQ(Describe(Cards()), (std::vector<std::string>{"1:5"}));
}

// A failed write stops the import at its line: the order file then holds exactly that line and
// the ones after it, and a later import finishes the job as if nothing had happened. A line
// that cannot be added to PREPAID.REJ stays in the order file too, and is not counted.
TEST_F(ImportTest, AFailedWriteKeepsTheLinesNotYetApplied) {
  const std::vector<PrepaidCard> start = {CardBuilder(1).Balance(1).Build(),
                                          CardBuilder(2).Balance(2).Build()};
  const std::vector<std::string> lines = {"A,1,10\r\n", "E5\r\n",  "A,3,30\r\n",
                                          "A,-1,5\r\n", "L,2\r\n", "A,1,11\r\n"};
  std::string orders;
  for (const std::string& line : lines) orders += line;
  // The writes of the import, in order: each line's card, marker or rejection write, each
  // announced in the journal and noted there as done.
  struct Case {
    const char* file;
    platform::FileOp op;
    int nth;        // the nth such operation on that file fails
    size_t failAt;  // the line where the import stops
  };
  using platform::FileOp;
  const std::vector<Case> cases = {
      {"PREPAID.DAT", FileOp::kWrite, 1, 0}, {"PREPAID.TRR", FileOp::kWrite, 1, 1},
      {"PREPAID.DAT", FileOp::kWrite, 2, 2}, {"PREPAID.REJ", FileOp::kWrite, 1, 3},
      {"PREPAID.REJ", FileOp::kOpen, 1, 3},  {"PREPAID.DAT", FileOp::kWrite, 3, 4},
      {"PREPAID.DAT", FileOp::kWrite, 4, 5}, {"PREPAID.INJ", FileOp::kWrite, 4, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " operation " + std::to_string(c.nth));
    WriteCardFile(Dat(), start);
    for (const std::string& name : {Trr(), Rej()}) std::remove(name.c_str());
    WriteFile(Inc(), orders);
    int count = 0;
    ImportReport report;
    {
      platform::ScopedFaultHook hook([&](platform::FileOp op, std::string_view path) {
        return op == c.op && path == Path(c.file) && ++count == c.nth ? EIO : 0;
      });
      EXPECT_EQ(Include(Dir().c_str(), Dir().c_str(), SplitGeneration::kCurrent, &report), 0);
    }
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(report.rejected, c.failAt > 3 ? 1 : 0) << "lines in PREPAID.REJ";
    std::string rest;
    for (size_t i = c.failAt; i < lines.size(); ++i) rest += lines[i];
    EXPECT_EQ(ReadFile(Inc()), rest);
    EXPECT_FALSE(FileExists(Path("PREPAID.INJ")));
    EXPECT_EQ(Import(), 1);
    EXPECT_EQ(Describe(Cards()), (std::vector<std::string>{"1:22", "2:2L", "3:30"}));
    EXPECT_EQ(ReadFile(Trr()), "E5\r\n");
    EXPECT_EQ(ReadFile(Rej()),
              "; not applied: the card number is negative; no card can have it\r\n"
              "A,-1,5\r\n");
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
  const char* ends[] = {"\n", "\r\n", "\r\n", "\r"};
  const std::string odd[] = {
      "A,\x1A"
      "5,1",
      "A,-3,4",
      "A,4294967297,1",
      "A,1,-2147483649",
      "D, ",
      "A,1,x",
      "A,1," + std::string(300, '0') + "7",
      "E\x02"};
  for (int i = 0; i < lines; ++i) {
    const int kind = pick(40);
    std::string line;
    if (kind == 0) {
      line = "E" + std::to_string(pick(20));
    } else if (kind == 1 && pick(4) == 0) {
      line = pick(2) ? "" : "no fields";
    } else if (kind == 2) {
      line = odd[pick(8)];
    } else {
      line = std::string(commands[pick(9)]) + (pick(6) ? "," : ";") + (pick(4) ? "" : "0") +
             std::to_string(pick(cards * 3));
      if (pick(8)) line += "," + std::to_string(pick(3000) - 1000);
      if (pick(30) == 0) line += "," + std::to_string(2147483000LL + pick(1000));
    }
    s.orders += line + ends[pick(4)];
  }
  if (pick(4) == 0) s.orders = "\xEF\xBB\xBF" + s.orders;
  if (pick(4) == 0) s.orders += '\x1A';
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
