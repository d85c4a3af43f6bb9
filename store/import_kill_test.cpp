// Imports killed with SIGKILL at every step, and at random moments, then started again: the
// files end up exactly as after one import that was never interrupted.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "store/import.h"
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

struct StoreFiles {
  std::string cards, markers, rejects;
  bool operator==(const StoreFiles&) const = default;
};

class ImportKillTest : public testsupport::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    model_ = Path("model/");
    ::mkdir(model_.c_str(), 0755);
  }

  void Prepare(const std::string& dir) const {
    for (const char* name : {"PREPAID.TRR", "PREPAID.REJ", "PREPAID.INJ", "PREPAID.INC"}) {
      std::remove((dir + name).c_str());
    }
    WriteCardFile(dir + "PREPAID.DAT", cards_);
    WriteFile(dir + "PREPAID.TRR", "E1\r\n");
    WriteFile(dir + "PREPAID.INC", orders_);
  }
  StoreFiles Files(const std::string& dir) const {
    return {ReadFile(dir + "PREPAID.DAT"), ReadFile(dir + "PREPAID.TRR"),
            ReadFile(dir + "PREPAID.REJ")};
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

  // Checks that the import started again finishes the interrupted one.
  void ExpectFinishedLike(const StoreFiles& model) {
    Import(Dir());
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
  EXPECT_EQ(ReadFile(Path("PREPAID.REJ")),
            "; not applied: the import was interrupted here and the card was changed since; it "
            "cannot be told whether this order was applied\r\nA,3,1\r\n");
}

TEST_F(ImportKillTest, ADamagedJournalRejectsTheWholeOrderFile) {
  orders_ = "A,1,5\r\nA,3,1\r\n";
  Prepare(Dir());
  ASSERT_TRUE(ImportKilledAt(2));
  std::string journal = ReadFile(Path("PREPAID.INJ"));
  ASSERT_EQ(journal.size(), 144u);
  journal[50] ^= 1;
  WriteFile(Path("PREPAID.INJ"), journal);
  EXPECT_EQ(Import(Dir()), 1);
  EXPECT_EQ(ReadFile(Path("PREPAID.REJ")),
            "; not applied: the import journal PREPAID.INJ is damaged; it cannot be told which of "
            "these orders were applied\r\n" +
                orders_);
  EXPECT_FALSE(FileExists(Path("PREPAID.INJ")));
}

}  // namespace
}  // namespace store
