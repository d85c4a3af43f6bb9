// Compactions and reports killed with SIGKILL at every step and at random moments: the card file
// is the old one or the compacted one, whole, and every batch marker is in PREPAID.TRR or in a
// whole new report.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "store/whole_file_test.h"
#include "testsupport/other_process.h"

namespace store {
namespace {

using platform::FileOp;
using testsupport::CardBuilder;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteFile;

// The steps of a compaction or a report: every operation that changes, syncs or closes a file.
bool ChangesSyncsOrCloses(FileOp op, std::string_view) {
  return op == FileOp::kWrite || op == FileOp::kTruncate || op == FileOp::kRename ||
         op == FileOp::kRemove || op == FileOp::kSync || op == FileOp::kClose;
}

class WholeFileKillTest : public WholeFileTest {
 protected:
  // A card file of `count` cards, every `emptyEvery`-th one without units, some locked.
  void MakeCards(int count, int emptyEvery) {
    std::vector<PrepaidCard> cards, kept;
    for (int i = 0; i < count; ++i) {
      CardBuilder card(100000 + i);
      card.Balance(i % emptyEvery == 0 ? 0 : i % 500 - 100);
      if (i % 11 == 0) card.Locked();
      cards.push_back(card.Build());
      if (cards.back().balance != 0) kept.push_back(cards.back());
    }
    original_ = Bytes(cards);
    compacted_ = Bytes(kept);
  }
  // Kills `operation` right before each of its steps, then at random moments, each time after
  // `prepare`, and runs `check` on what the kill left. `workFile` is the file the operation
  // writes before it takes its place: present after a kill that fell into the work.
  static void KillAtEveryStepAndAtRandom(const std::function<void()>& prepare,
                                         const std::function<void()>& operation,
                                         const std::function<void()>& check,
                                         const std::string& workFile) {
    int step = 1;
    for (; step < 100; ++step) {
      SCOPED_TRACE("killed before step " + std::to_string(step));
      prepare();
      if (!testsupport::KilledAtStep(step, ChangesSyncsOrCloses, operation)) break;
      check();
    }
    EXPECT_GT(step, 6) << "the operation was killed at every step";
    prepare();
    const std::chrono::nanoseconds started = testsupport::ProcessorTime();
    operation();
    const std::chrono::nanoseconds duration = testsupport::ProcessorTime() - started;
    std::mt19937 random(7);
    int interrupted = 0;
    for (int round = 0; round < 24 && interrupted < 4; ++round) {
      SCOPED_TRACE("killed at random, round " + std::to_string(round));
      prepare();
      testsupport::KilledAfter(duration * (random() % 1000) / 1000, operation);
      interrupted += FileExists(workFile);
      check();
    }
    EXPECT_GE(interrupted, 2) << "kills that fell into the work";
  }

  std::string original_, compacted_;
};

TEST_F(WholeFileKillTest, AKilledCompactionLeavesTheOldOrTheCompactedCardFile) {
  MakeCards(120000, 2);  // four blocks: the copy is written in several steps
  const auto prepare = [&] { WriteFile(Dat(), original_); };
  const auto compact = [&] { Compact(); };
  const auto check = [&] {
    const std::string now = ReadFile(Dat());
    EXPECT_TRUE(now == original_ || now == compacted_) << "card file of " << now.size();
    EXPECT_EQ(Compact(), 1) << "compacting again after the kill";
    EXPECT_EQ(ReadFile(Dat()), compacted_);
    EXPECT_FALSE(FileExists(New()));
  };
  KillAtEveryStepAndAtRandom(prepare, compact, check, New());
}

TEST_F(WholeFileKillTest, AKilledReportLosesNoMarkerAndIsNeverLeftHalfWritten) {
  MakeCards(200000, 3);  // a report written in several blocks
  const std::string markers = "E1\r\nE2\r\n", oldReport = "previous report\r\n";
  const auto prepare = [&] {
    WriteFile(Dat(), original_);
    WriteFile(Trr(), markers);
    WriteFile(Txt(), oldReport);
    std::remove(TxtTemp().c_str());
  };
  const auto report = [&] { ExportReport(); };
  prepare();
  ASSERT_EQ(ExportReport(), 1);
  const std::string full = ReadFile(Txt());
  ASSERT_EQ(full.substr(0, 19 + markers.size()), "06.12.26 13:30:11\r\n" + markers);
  ASSERT_GT(full.size(), 1u << 20);
  const auto check = [&] {
    const bool markersKept = FileExists(Trr()) && ReadFile(Trr()) == markers;
    const std::string now = ReadFile(Txt());
    EXPECT_TRUE(now == oldReport || now == full) << "report of " << now.size();
    EXPECT_TRUE(markersKept || now == full);
    EXPECT_EQ(ReadFile(Dat()), original_);
    EXPECT_EQ(ExportReport(), 1) << "exporting again after the kill";
    EXPECT_EQ(ReadFile(Txt()) == full, now != full) << "markers in the next report only when "
                                                       "the first one was not put in place";
    EXPECT_FALSE(FileExists(TxtTemp()));
    EXPECT_FALSE(FileExists(Trr()));
  };
  KillAtEveryStepAndAtRandom(prepare, report, check, TxtTemp());
}

}  // namespace
}  // namespace store
