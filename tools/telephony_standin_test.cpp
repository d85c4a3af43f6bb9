#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "testsupport/card_files.h"
#include "testsupport/file_test.h"
#include "testsupport/other_process.h"
#include "tools/charge_journal.h"

namespace {

using testsupport::CardBuilder;
using testsupport::ReadCardFile;
using testsupport::ReadFile;
using testsupport::WriteCardFile;

class ChargeJournalTest : public testsupport::FileTest {
 protected:
  std::string Journal() const { return Path("calls.journal"); }
};

// A kill between the two writes of a charge leaves a note; the next start settles it from the
// card's record: journalled when it holds the charge, also after a compaction moved it, dropped
// when it does not, "unresolved" when somebody changed the record since, and never journalled
// twice.
TEST_F(ChargeJournalTest, AChargeLeftPendingIsSettledOnce) {
  const PrepaidCard before = CardBuilder(5).Balance(10).Build();
  const PrepaidCard after = CardBuilder(5).Balance(9).Build();
  const PrepaidCard changed = CardBuilder(5).Balance(60).Build();
  const PrepaidCard other = CardBuilder(4).Balance(3).Build();
  struct Case {
    const char* name;
    std::vector<PrepaidCard> records;  // what the card file holds at the next start
    std::string leftBehind;            // journal text the killed run wrote after its note
    std::string journal;               // the journal after the next start
  } cases[] = {
      {"written", {after}, "", "charge 5 1\n"},
      {"not written", {before}, "", ""},
      {"moved, written", {other, after}, "", "charge 5 1\n"},
      {"moved, not written", {other, before}, "", ""},
      {"changed since", {changed}, "", "unresolved 5 1\n"},
      {"gone", {other}, "", "unresolved 5 1\n"},
      {"line written", {after}, "charge 5 1\n", "charge 5 1\n"},
      {"line torn", {after}, "charge 5", "charge 5 1\n"},
  };
  for (const Case& c : cases) {
    std::remove(Journal().c_str());
    WriteCardFile(Path("PREPAID.DAT"), {before});
    {
      standin::ChargeJournal killed;
      ASSERT_EQ(killed.Open(Journal(), Dir()), 0);
      ASSERT_TRUE(killed.NotePending({5, 0, 1, before, after}));
    }
    testsupport::WriteFile(Journal(), c.leftBehind);
    WriteCardFile(Path("PREPAID.DAT"), c.records);
    for (int start = 0; start < 2; ++start) {
      standin::ChargeJournal next;
      ASSERT_EQ(next.Open(Journal(), Dir()), 0) << c.name;
    }
    EXPECT_EQ(ReadFile(Journal()), c.journal) << c.name;
  }
}

class StandinTest : public testsupport::FileTest {
 protected:
  pid_t Start(const std::vector<std::string>& options) {
    std::vector<std::string> arguments = {LV_TELEPHONY_STANDIN, Dir()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const pid_t pid = testsupport::StartProgram(arguments);
    EXPECT_GT(pid, 0);
    return pid;
  }
  static int Wait(pid_t pid) {
    const std::optional<int> status = testsupport::WaitForProgram(pid, std::chrono::seconds(60));
    EXPECT_TRUE(status) << "the stand-in did not end within 60 s";
    return status.value_or(-1);
  }
  // The charges a running server's journal holds so far (whole lines only).
  int Charges(const std::string& journal) const {
    const std::string text = ReadFile(Path(journal));
    int charges = 0;
    for (size_t at = 0; (at = text.find("charge ", at)) != std::string::npos; ++at) {
      charges += text.find('\n', at) != std::string::npos;
    }
    return charges;
  }
  // Waits until `done` holds, at most a minute; whether it held.
  static bool Within(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
  int64_t Journalled(const std::string& journal, int32_t card) {
    std::map<int32_t, int64_t> units;
    int64_t unresolved = 0;
    EXPECT_TRUE(standin::ChargeJournal::Totals(journal, &units, &unresolved));
    EXPECT_EQ(unresolved, 0);
    return units[card];
  }
};

// Two stand-ins charge the same card as fast as they can, and one of them is killed in the
// middle, possibly holding the record's lock: the other goes on, and every unit that left the
// card is in a journal, no more and no less.
TEST_F(StandinTest, TwoServersOnOneCardLoseNoUnitAcrossAKill) {
  const int32_t initial = 1000000;
  WriteCardFile(Path("PREPAID.DAT"),
                {CardBuilder(4).Balance(5).Build(),
                 CardBuilder(5).Balance(initial).Telefon("0301234567").Build()});
  // Both run until they are stopped; whatever happens, they are gone at the end.
  struct Server {
    pid_t pid;
    ~Server() {
      if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    }
  };
  const auto server = [&](const char* journal, const char* seed) {
    return Server{Start({"--cards", "5-5", "--rate", "400", "--charges", "2-5", "--interval", "0",
                         "--journal", Path(journal), "--seed", seed})};
  };
  Server steady = server("a.journal", "1");
  Server killed = server("b.journal", "2");
  ASSERT_TRUE(Within([&] { return Charges("a.journal") > 0 && Charges("b.journal") > 0; }))
      << "both servers charging the card";
  kill(killed.pid, SIGKILL);
  EXPECT_TRUE(WIFSIGNALED(Wait(std::exchange(killed.pid, -1))));
  const int before = Charges("a.journal");
  ASSERT_TRUE(Within([&] { return Charges("a.journal") >= std::max(before + 20, 120); }))
      << "the other server going on after the kill";
  kill(steady.pid, SIGTERM);
  const int status = Wait(std::exchange(steady.pid, -1));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Wait(Start({"--settle", "--journal", Path("b.journal")})), 0);

  const std::vector<PrepaidCard> cards = ReadCardFile(Path("PREPAID.DAT"));
  const int64_t steadyUnits = Journalled(Path("a.journal"), 5);
  const int64_t killedUnits = Journalled(Path("b.journal"), 5);
  EXPECT_GT(steadyUnits, 100);
  EXPECT_GT(killedUnits, 0);
  EXPECT_EQ(cards[1].balance, initial - steadyUnits - killedUnits);
  EXPECT_EQ(cards[1].lastDigits, 10) << "the calls' last number";
  EXPECT_TRUE(testsupport::SameCard(cards[0], CardBuilder(4).Balance(5).Build()));
}

}  // namespace
