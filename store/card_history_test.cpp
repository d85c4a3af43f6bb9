// The card history: what each source of change lists, the line format, rotation, concurrent
// writers, a compaction killed at every step, and a planted link in the history's place.
#include "store/card_history.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/shared_folder.h"
#include "platform/wall_clock.h"
#include "store/card_edit.h"
#include "store/history_intents.h"
#include "store/import.h"
#include "store/order.h"
#include "store/reorganize.h"
#include "testsupport/card_files.h"
#include "testsupport/file_test.h"
#include "testsupport/other_process.h"
#include "testsupport/time_zone.h"

namespace store {
namespace {

using testsupport::CardBuilder;
using testsupport::FileExists;
using testsupport::ReadCardFile;
using testsupport::ReadFile;
using testsupport::WriteFile;

// An entry by the fields that tell the change: program, detail, card, balance before and
// after, lock before and after, whether the number changed, the number.
std::string Change(const HistoryEntry& e) {
  return e.program + "|" + e.detail + "|" + std::to_string(e.card) + "|" +
         std::to_string(e.balanceBefore) + ">" + std::to_string(e.balanceAfter) + "|" +
         std::to_string(e.lockedBefore) + ">" + std::to_string(e.lockedAfter) + "|" +
         std::to_string(e.phoneChanged) + e.phone;
}

std::vector<std::string> Changes(const std::string& dir) {
  std::vector<std::string> changes;
  EXPECT_EQ(ReadHistoryLines(dir.c_str(),
                             [&](std::string_view line) {
                               HistoryEntry entry;
                               if (ParseHistoryLine(line, &entry)) {
                                 changes.push_back(Change(entry));
                               } else {
                                 EXPECT_EQ(line, kHistoryHeader);
                               }
                               return true;
                             }),
            0);
  return changes;
}

class CardHistoryTest : public testsupport::FileTest {
 public:
  using FileTest::Dir;
  using FileTest::Path;
  void SetUp() override {
    FileTest::SetUp();
    testsupport::WriteCardFile(
        Path("PREPAID.DAT"),
        {CardBuilder(1).Balance(10).Build(), CardBuilder(2).Balance(0).Locked().Build(),
         CardBuilder(3).Balance(5).Telefon("0301234567").Build()});
  }
  const char* dir() const { return Dir().c_str(); }
  OrderOutcome Apply(char command, int32_t card, int32_t amount, const std::string& detail) {
    const HistorySource source{"command", detail};
    return ApplyOneOrder(dir(), {command, card, amount}, {}, &source);
  }
  EditResult Save(int32_t index, int32_t balance, const char* telefon) {
    const PrepaidCard shown = ReadCardFile(Path("PREPAID.DAT"))[index];
    PrepaidCard edited = shown;
    edited.balance = balance;
    if (telefon) edited = CardBuilder(shown.cardNumber).Balance(balance).Telefon(telefon).Build();
    return SaveCardEdit(dir(), index, shown, edited);
  }
  void Settings(const std::string& history) {
    WriteFile(Path("LINDAVOX.INI"), "[History]\r\n" + history);
  }
};

TEST_F(CardHistoryTest, EverySourceOfChangeListsWhatItChanged) {
  struct Case {
    const char* name;
    std::function<void(CardHistoryTest&)> act;
    std::vector<std::string> listed;
  };
  const std::vector<Case> cases = {
      {"editor: new balance",
       [](auto& t) { EXPECT_EQ(t.Save(0, 25, nullptr), EditResult::kSaved); },
       {"editor|save|1|10>25|0>0|0"}},
      {"editor: new number, listed only when asked",
       [](auto& t) {
         t.Settings("PhoneNumbers=1\r\n");
         EXPECT_EQ(t.Save(2, 5, "0891234"), EditResult::kSaved);
         t.Settings("");
         EXPECT_EQ(t.Save(2, 5, "0301234567"), EditResult::kSaved);
       },
       {"editor|save|3|5>5|0>0|10891234", "editor|save|3|5>5|0>0|1"}},
      {"editor: nothing changed lists nothing",
       [](auto& t) { EXPECT_EQ(t.Save(0, 10, nullptr), EditResult::kSaved); },
       {}},
      {"command: orders",
       [](auto& t) {
         EXPECT_EQ(t.Apply('A', 1, 5, "topup 5").result, OrderResult::kChanged);
         EXPECT_EQ(t.Apply('A', 9, 7, "topup 7").result, OrderResult::kChanged);
         EXPECT_EQ(t.Apply('L', 1, 0, "lock").result, OrderResult::kChanged);
         EXPECT_EQ(t.Apply('L', 2, 0, "lock").result, OrderResult::kUnchanged);
         EXPECT_EQ(t.Apply('U', 2, 0, "unlock").result, OrderResult::kChanged);
         EXPECT_EQ(t.Apply('D', 3, 0, "empty").result, OrderResult::kChanged);
         EXPECT_EQ(t.Apply('D', 8, 0, "empty").result, OrderResult::kNoCard);
         EXPECT_EQ(t.Apply('A', 1, INT32_MAX, "topup").result, OrderResult::kOverflow);
       },
       {"command|topup 5|1|10>15|0>0|0", "command|topup 7|9|0>7|0>0|0",
        "command|lock|1|15>15|0>1|0", "command|unlock|2|0>0|1>0|0", "command|empty|3|5>0|0>0|0"}},
      {"command: set",
       [](auto& t) {
         HistoryOutcome history;
         EXPECT_EQ(UpdateCardListed(
                       t.dir(), 0, 1,
                       [](PrepaidCard* card) {
                         card->balance = 99;
                         return true;
                       },
                       {"command", "set balance"}, &history),
                   UpdateResult::kWritten);
         EXPECT_EQ(history.writeError, 0);
       },
       {"command|set balance|1|10>99|0>0|0"}},
      {"import: batch marker and line number",
       [](auto& t) {
         WriteFile(t.Path("PREPAID.INC"), "A,3,1\r\nE17;x\r\nA,1,5\r\nX,1\r\nL,3\r\nA,9,4\r\n");
         EXPECT_EQ(Include(t.dir(), t.dir(), util::SplitGeneration::kCurrent), 1);
       },
       {"import|line 1|3|5>6|0>0|0", "import|E17;x line 3|1|10>15|0>0|0",
        "import|E17;x line 5|3|6>6|0>1|0", "import|E17;x line 6|9|0>4|0>0|0"}},
      {"compaction: the cards dropped",
       [](auto& t) {
         t.Apply('D', 1, 0, "empty");
         EXPECT_EQ(Prepaid_Reorganize(t.dir()), 1);
         EXPECT_FALSE(FileExists(t.Path(".PREPAID.HIS.new")));
       },
       {"command|empty|1|10>0|0>0|0", "compaction|dropped|1|0>0|0>0|0",
        "compaction|dropped|2|0>0|1>1|0"}},
      {"Prepaid_Write: only when asked",
       [](auto& t) {
         PrepaidCard card = CardBuilder(3).Balance(4).Telefon("0301234567").Build();
         EXPECT_EQ(Prepaid_Write(t.dir(), 2, &card), 1);
         t.Settings("Charges=1\r\n");
         card.balance = 3;
         EXPECT_EQ(Prepaid_Write(t.dir(), 2, &card), 1);
       },
       {std::string("write|") + program_invocation_short_name + "|3|4>3|0>0|0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    c.act(*this);
    EXPECT_EQ(Changes(Dir()), c.listed);
  }
}

TEST_F(CardHistoryTest, LinesArePinnedAndReadBack) {
  testsupport::ScopedTimeZone zone("Europe/Berlin");
  const platform::ScopedWallClock clock({1772710211, 0});  // 2026-03-05 11:30:11 UTC
  const PrepaidCard before = CardBuilder(42).Balance(-5).Build();
  const PrepaidCard after = CardBuilder(42).Balance(100).Locked().Telefon("0301234567").Build();
  HistoryEntry entry = MakeHistoryEntry({"import", "E\"1; 2\" line 3"}, before, after, true);
  entry.user = " op";
  const std::string line = FormatHistoryLine(entry);
  EXPECT_EQ(line,
            "2026-03-05T11:30:11Z;+01:00;\" op\";import;\"E\"\"1; 2\"\" line 3\";42;-5;100;0;1;1;"
            "0301234567\n");
  HistoryEntry read;
  ASSERT_TRUE(ParseHistoryLine(std::string_view(line).substr(0, line.size() - 1), &read));
  EXPECT_EQ(Change(read), Change(entry));
  EXPECT_EQ(read.time, entry.time);
  EXPECT_EQ(read.offset, 3600);
  EXPECT_EQ(read.user, " op");
  entry.detail = std::string("a\r\nb\x01", 5);  // no control character splits a line
  EXPECT_EQ(FormatHistoryLine(entry).find_first_of("\r\x01"), std::string::npos);
  for (const char* bad :
       {"", kHistoryHeader, "2026-03-05T11:30:11Z;+01:00;op;import;d;x;1;2;0;0;0;",
        "2026-03-05T11:30:11Z;+01:00;op;import;d;1;1;2;0;2;0;",
        "2026-03-05 11:30:11;+01:00;op;import;d;1;1;2;0;0;0;"}) {
    EXPECT_FALSE(ParseHistoryLine(bad, &read)) << bad;
  }
}

TEST_F(CardHistoryTest, RotatesAtTheLimitAndReadsBothGenerations) {
  Settings("MaxSize=600\r\n");
  for (int i = 1; i <= 30; ++i) Apply('A', 1, 1, "topup 1");
  ASSERT_TRUE(FileExists(Path("PREPAID.HIS.1")));
  struct stat current {};
  ASSERT_EQ(::stat(Path("PREPAID.HIS").c_str(), &current), 0);
  EXPECT_LT(current.st_size, 600 + 100);
  // The lines of both generations follow one another without a gap or a repeat.
  const std::vector<std::string> changes = Changes(Dir());
  ASSERT_GE(changes.size(), 5u);
  for (size_t i = 0; i < changes.size(); ++i) {
    const int after = 40 - static_cast<int>(changes.size() - 1 - i);
    EXPECT_EQ(changes[i], "command|topup 1|1|" + std::to_string(after - 1) + ">" +
                              std::to_string(after) + "|0>0|0");
  }
  // Every generation starts with the header, written by the writer that created it.
  EXPECT_EQ(ReadFile(Path("PREPAID.HIS")).rfind(std::string(kHistoryHeader) + "\n", 0), 0u);

  // A limit of 0 never rotates; logrotate's rename is followed by a new file.
  SetUp();
  Settings("MaxSize=0\r\n");
  for (int i = 0; i < 30; ++i) Apply('A', 1, 1, "topup 1");
  EXPECT_FALSE(FileExists(Path("PREPAID.HIS.1")));
  ASSERT_EQ(::rename(Path("PREPAID.HIS").c_str(), Path("PREPAID.HIS.1").c_str()), 0);
  Apply('A', 1, 1, "topup 1");
  EXPECT_EQ(Changes(Dir()).size(), 31u);

  // A writer that stays open (the import) follows the rotations that other writers make, and
  // rotates by the size its own lines reached: every line is kept, in order.
  SetUp();
  Settings("MaxSize=600\r\n");
  CardHistory open(dir());
  ASSERT_EQ(open.Open(), 0);
  PrepaidCard before = CardBuilder(7).Balance(0).Build();
  for (int i = 0; i < 40; ++i) {
    PrepaidCard after = before;
    ++after.balance;
    if (i % 2 == 0) {
      ASSERT_TRUE(open.Record({"import", "E1"}, before, after));
    } else {
      CardHistory other(dir());
      ASSERT_EQ(other.Open(), 0);
      ASSERT_TRUE(other.Record({"command", "topup 1"}, before, after));
    }
    before = after;
  }
  const std::vector<std::string> lines = Changes(Dir());
  ASSERT_GE(lines.size(), 10u);  // the generations before the last two are gone
  for (size_t i = 0; i < lines.size(); ++i) {
    const size_t n = 40 - lines.size() + i;
    EXPECT_EQ(lines[i], std::string(n % 2 == 0 ? "import|E1" : "command|topup 1") + "|7|" +
                            std::to_string(n) + ">" + std::to_string(n + 1) + "|0>0|0");
  }
  ASSERT_EQ(::stat(Path("PREPAID.HIS").c_str(), &current), 0);
  EXPECT_LT(current.st_size, 600 + 100);
}

TEST_F(CardHistoryTest, ConcurrentWritersNeverMixTheirLines) {
  Settings("MaxSize=0\r\n");
  constexpr int kEach = 300;
  std::vector<pid_t> writers;
  for (int w = 0; w < 3; ++w) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      bool all = true;
      for (int i = 0; i < kEach; ++i) {
        const std::string detail = "topup " + std::string(static_cast<size_t>(40 * w), 'x');
        all = Apply('A', w + 1, 1, detail).result == OrderResult::kChanged && all;
      }
      ::_exit(all ? 0 : 1);
    }
    writers.push_back(pid);
  }
  for (const pid_t pid : writers) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(Changes(Dir()).size(), 3u * kEach);
  EXPECT_EQ(ReadCardFile(Path("PREPAID.DAT"))[1].balance, kEach);
}

// A compaction killed before each of its file changes, then run again: every card it dropped
// is listed exactly once, and none that it kept.
TEST_F(CardHistoryTest, AKilledCompactionListsItsDropsOnce) {
  const auto changesFile = [](platform::FileOp op, std::string_view) {
    return op == platform::FileOp::kWrite || op == platform::FileOp::kRename ||
           op == platform::FileOp::kRemove || op == platform::FileOp::kTruncate;
  };
  std::vector<PrepaidCard> cards;
  for (int i = 0; i < 3000; ++i)
    cards.push_back(CardBuilder(i).Balance(i % 3 == 0 ? 0 : i).Build());
  int step = 1;
  for (; step < 100; ++step) {
    SCOPED_TRACE(step);
    SetUp();
    testsupport::WriteCardFile(Path("PREPAID.DAT"), cards);
    const bool killed =
        testsupport::KilledAtStep(step, changesFile, [&] { Prepaid_Reorganize(dir()); });
    EXPECT_EQ(Prepaid_Reorganize(dir()), 1);
    EXPECT_FALSE(FileExists(Path(".PREPAID.HIS.new")));
    const std::vector<std::string> changes = Changes(Dir());
    ASSERT_EQ(changes.size(), 1000u);
    for (size_t i = 0; i < changes.size(); ++i) {
      EXPECT_EQ(changes[i], "compaction|dropped|" + std::to_string(3 * i) + "|0>0|0>0|0");
    }
    if (!killed) break;
  }
  EXPECT_GT(step, 3);
}

// A single change (the command line, the editor, a listed Prepaid_Write) killed before each of
// its writes: once the next writer has opened the history, the change is listed exactly when it
// was made, and no intent is left. Then a writer killed between its card write and its line,
// with the card charged by an unlisted Prepaid_Write before anybody settles it: a change of the
// lock is still told from the lock, a change of the balance alone is listed as uncertain.
TEST_F(CardHistoryTest, ASingleChangeKilledAtEachWriteIsListedOnceWhenMade) {
  const auto writes = [](platform::FileOp op, std::string_view) {
    return op == platform::FileOp::kWrite;
  };
  PrepaidCard written = CardBuilder(1).Balance(15).Build();
  const std::string program = program_invocation_short_name;
  const struct {
    const char* name;
    std::function<void(CardHistoryTest&)> change;
    std::string line;
  } kSources[] = {
      {"command", [](CardHistoryTest& t) { t.Apply('A', 1, 5, "topup 5"); },
       "command|topup 5|1|10>15|0>0|0"},
      {"editor", [](CardHistoryTest& t) { t.Save(0, 15, nullptr); }, "editor|save|1|10>15|0>0|0"},
      {"write", [&](CardHistoryTest& t) { Prepaid_Write(t.dir(), 0, &written); },
       "write|" + program + "|1|10>15|0>0|0"},
  };
  for (const auto& source : kSources) {
    int step = 1;
    for (; step < 20; ++step) {
      SCOPED_TRACE(std::string(source.name) + " killed at write " + std::to_string(step));
      SetUp();
      Settings("Charges=1\r\n");
      Apply('A', 3, 1, "before");  // the history and the intents' file exist
      const bool killed = testsupport::KilledAtStep(step, writes, [&] { source.change(*this); });
      Apply('A', 3, 1, "after");
      const bool made = ReadCardFile(Path("PREPAID.DAT"))[0].balance == 15;
      std::vector<std::string> expected = {"command|before|3|5>6|0>0|0"};
      if (made) expected.push_back(source.line);
      expected.push_back("command|after|3|6>7|0>0|0");
      EXPECT_EQ(Changes(Dir()), expected);
      EXPECT_EQ(ReadFile(Path(".PREPAID.HIS.pending")).find("LVHI"), std::string::npos);
      if (!killed) break;
    }
    EXPECT_GT(step, 3) << source.name;
  }

  const struct {
    char command;
    int32_t amount;
    std::string listed;
  } kCharged[] = {
      {'L', 0, "command|lock|1|10>10|0>1|0"},
      {'A', 5, "command|topup 5" + std::string(kUncertainRemark) + "|1|10>15|0>0|0"},
  };
  for (const auto& c : kCharged) {
    SCOPED_TRACE(c.listed);
    SetUp();
    Apply('A', 3, 1, "before");
    // Killed at its third write: after the intent and the card write, before the line.
    ASSERT_TRUE(testsupport::KilledAtStep(
        3, writes, [&] { Apply(c.command, 1, c.amount, c.command == 'L' ? "lock" : "topup 5"); }));
    PrepaidCard charged = ReadCardFile(Path("PREPAID.DAT"))[0];
    ASSERT_NE(charged.balance + (charged.flags & PREPAID_CARD_LOCKED), 10);  // the change made
    charged.balance -= 2;
    ASSERT_EQ(Prepaid_Write(dir(), 0, &charged), 1);  // [History] Charges=0: not listed
    Apply('A', 3, 1, "after");
    EXPECT_EQ(Changes(Dir()), (std::vector<std::string>{"command|before|3|5>6|0>0|0", c.listed,
                                                        "command|after|3|6>7|0>0|0"}));
  }
}

// A link that another member planted where the history would be: every change that would be
// listed is refused before anything is written, and nothing goes through the link.
TEST_F(CardHistoryTest, APlantedLinkInTheHistorysPlaceStopsEveryChange) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to plant a link as another user";
  WriteFile(Path("target"), "theirs\n");
  ASSERT_EQ(::symlink(Path("target").c_str(), Path("PREPAID.HIS").c_str()), 0);
  ASSERT_EQ(::lchown(Path("PREPAID.HIS").c_str(), 64992, 64992), 0);
  WriteFile(Path("PREPAID.INC"), "A,1,5\r\n");
  const std::string cardsBefore = ReadFile(Path("PREPAID.DAT"));
  const OrderOutcome order = Apply('A', 1, 5, "topup 5");
  EXPECT_EQ(order.result, OrderResult::kFailed);
  EXPECT_EQ(order.error, platform::kUntrustedLink);
  EXPECT_EQ(Save(0, 99, nullptr), EditResult::kFailed);
  EXPECT_EQ(Include(dir(), dir(), util::SplitGeneration::kCurrent), 0);
  EXPECT_EQ(Prepaid_Reorganize(dir()), 0);
  Settings("Charges=1\r\n");
  PrepaidCard card = CardBuilder(1).Balance(1).Build();
  EXPECT_EQ(Prepaid_Write(dir(), 0, &card), 0);
  EXPECT_EQ(ReadFile(Path("PREPAID.DAT")), cardsBefore);
  EXPECT_EQ(ReadFile(Path("target")), "theirs\n");
  EXPECT_EQ(ReadFile(Path("PREPAID.INC")), "A,1,5\r\n");
  std::vector<std::string> read;
  EXPECT_EQ(ReadHistoryLines(dir(), [&](std::string_view) { return true; }),
            platform::kUntrustedLink);
}

}  // namespace
}  // namespace store
