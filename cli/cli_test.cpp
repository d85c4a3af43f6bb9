#include "cli/cli.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "cli/session.h"
#include "platform/share.h"
#include "store/import.h"
#include "store/telefon.h"
#include "testsupport/card_files.h"
#include "testsupport/file_test.h"
#include "testsupport/journal_catcher.h"
#include "testsupport/other_process.h"

namespace cli {
namespace {

using testsupport::CardBuilder;
using testsupport::ReadCardFile;
using testsupport::ReadFile;
using testsupport::WriteCardFile;
using testsupport::WriteFile;

struct Outcome {
  int code;
  std::string out, err;
};

// A data directory with seven cards and card codes of 5 card digits and 3 check digits.
class CliTest : public testsupport::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    tables_ = testsupport::MakeCodeTables(5, 3, 100, 11);
    testsupport::WriteBinFile(Path("PREPAID.BIN"), tables_);
    WriteCardFile(Dat(), {CardBuilder(42).Balance(150).Telefon("0301234567").Last("004930").Build(),
                          CardBuilder(7).Balance(5).Locked().Build(),
                          CardBuilder(8).Telefon("0711").Build(),  // no units
                          CardBuilder(9).Balance(-20).Flags(0x11).Reserved(1, 2).Build(),
                          CardBuilder(10).Balance(2147483600).Build(), CardBuilder(11).Build(),
                          CardBuilder(12).Balance(3).Build()});
  }
  std::string Dat() const { return Path("PREPAID.DAT"); }

  Outcome Run(std::vector<std::string> args, bool terminal = false) const {
    args.insert(args.begin(), {"-d", Dir()});
    return RunAsGiven(args, terminal);
  }
  static Outcome RunAsGiven(const std::vector<std::string>& args, bool terminal = false) {
    std::ostringstream out, err;
    const int code = cli::Run(args, out, err, terminal);
    return {code, out.str(), err.str()};
  }
  PrepaidCard Card(size_t index) const { return ReadCardFile(Dat()).at(index); }

  testsupport::CodeTables tables_;
};

TEST_F(CliTest, ShowAndFindPhoneSayWhichCardIsMissingOrLocked) {
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string row;  // a line the output holds
    std::string error;
  } cases[] = {
      {{"show", "00042"}, 0, "00042          150  0301234567            004930", ""},
      {{"show", "7"}, 1, "00007            5", "card 00007 is locked"},
      {{"show", "4711"}, 1, "", "card 04711 does not exist"},
      {{"show", "42", "4711", "12"}, 1, "00012            3", "card 04711 does not exist"},
      {{"find-phone", "301234567"}, 0, "00042          150", ""},
      {{"find-phone", "0711"}, 1, "", "no card with units has the telephone number 0711"},
      {{"find-phone", "--any-balance", "711"}, 0, "00008            0  0711", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    const Outcome result = Run(c.args);
    EXPECT_EQ(result.code, c.code);
    EXPECT_NE(result.out.find(c.row), std::string::npos) << result.out;
    EXPECT_NE(result.err.find(c.error), std::string::npos) << result.err;
  }
}

TEST_F(CliTest, ListingsParseBackAndKeepPipesPlain) {
  const Outcome json = Run({"list", "--format", "json"});
  ASSERT_EQ(json.code, 0);
  const nlohmann::json cards = nlohmann::json::parse(json.out);
  ASSERT_EQ(cards.size(), 7u);
  EXPECT_EQ(cards[0]["card"], "00042");
  EXPECT_EQ(cards[0]["telephone"], "0301234567");
  EXPECT_EQ(cards[0]["last_number"], "004930");
  EXPECT_EQ(cards[1]["locked"], true);
  EXPECT_EQ(cards[3]["balance"], -20);
  EXPECT_EQ(cards[6]["record"], 6);

  EXPECT_EQ(nlohmann::json::parse(Run({"list", "--locked", "--format", "json"}).out).size(), 1u);
  EXPECT_EQ(Run({"list", "--empty", "--format", "csv"}).out,
            "card,balance,telephone,last_number,locked,record\n"
            "00008,0,0711,,no,2\n"
            "00011,0,,,no,5\n");
  EXPECT_EQ(nlohmann::json::parse(Run({"show", "4711", "--format", "json"}).out).size(), 0u);

  const std::string piped = Run({"list"}).out;
  EXPECT_EQ(piped.find('\x1b'), std::string::npos);
  EXPECT_EQ(piped.find("---"), std::string::npos);
  const std::string shown = Run({"list"}, true).out;
  EXPECT_NE(shown.find("\x1b[1m"), std::string::npos);
  EXPECT_NE(shown.find("\n----"), std::string::npos);
}

TEST_F(CliTest, SetChangesOnlyBalanceAndTelephoneLikeTheEditor) {
  const PrepaidCard before = Card(3);
  Outcome result = Run({"set", "9", "--balance", "-5", "--phone", "004989123456"});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.out, "card 00009: saved, balance -5, telephone 004989123456\n");
  PrepaidCard expected = before;
  expected.balance = -5;
  expected.telefonHigh = 4;
  expected.telefonLow = 989123456;
  expected.telefonDigits = 12;
  EXPECT_TRUE(testsupport::SameCard(Card(3), expected));  // flags and reserved bytes kept

  EXPECT_EQ(Run({"set", "42", "--phone", ""}).code, 0);
  EXPECT_EQ(Card(0).telefonDigits, 0);
  EXPECT_EQ(Card(0).balance, 150);
  EXPECT_EQ(Card(0).lastDigits, 6);

  const std::string file = ReadFile(Dat());
  result = Run({"set", "7", "--balance", "100"});
  EXPECT_EQ(result.code, 1);
  EXPECT_NE(result.err.find("card 00007 is locked"), std::string::npos);
  EXPECT_EQ(Run({"set", "4711", "--balance", "1"}).code, 1);
  EXPECT_EQ(Run({"set", "42"}).code, 2);
  EXPECT_EQ(ReadFile(Dat()), file);
}

// Every order of the command line leaves the card file as the same order in PREPAID.INC does.
TEST_F(CliTest, OrdersChangeTheCardFileAsImportLinesDo) {
  struct Case {
    std::vector<std::string> args;
    std::string line;
    int code;
    std::string said;
  } cases[] = {
      {{"topup", "42", "100"}, "A,42,100", 0, "card 00042: 100 units added, balance now 250\n"},
      {{"topup", "7", "-10"}, "A,7,-10", 0, "card 00007: -10 units added, balance now -5\n"},
      {{"topup", "500", "30", "--create"}, "A,500,30", 0, "card 00500: created with 30 units\n"},
      {{"topup", "10", "100"}, "A,10,100", 1, ""},  // beyond 32 bits: nothing changes
      {{"lock", "9"}, "L,9", 0, "card 00009: locked\n"},
      {{"lock", "9"}, "L,9", 0, "card 00009: was locked already\n"},
      {{"unlock", "7"}, "U,7", 0, "card 00007: unlocked\n"},
      {{"empty", "12"}, "D,12", 0, "card 00012: emptied\n"},
      {{"empty", "11"}, "D,11", 0, "card 00011: was empty already\n"},
      {{"lock", "600"}, "L,600", 1, ""},  // absent: nothing is created
  };
  testsupport::TempDir other;
  WriteFile(other / "PREPAID.DAT", ReadFile(Dat()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const Outcome result = Run(c.args);
    EXPECT_EQ(result.code, c.code) << result.err;
    EXPECT_EQ(result.out, c.said);
    WriteFile(other / "PREPAID.INC", c.line + "\r\n");
    store::Include(other.path().c_str(), other.path().c_str(), util::SplitGeneration::kCurrent);
    EXPECT_EQ(ReadFile(Dat()), ReadFile(other / "PREPAID.DAT"));
  }
}

// The import says what became of every line, exits 0 only when every line was applied, 1 when
// lines were rejected or a batch was imported before, 3 when the order file is still being
// written; a dry run says the same beforehand, with the lines it would reject, and changes
// nothing.
TEST_F(CliTest, ImportSaysWhatBecameOfEveryLineAndExitsZeroOnlyWhenAllWereApplied) {
  const std::string orders =
      "E17\r\nA,42,5\r\nA,300,1\r\nX,42\r\nL,999\r\nA,10,100\r\nL,42\r\n\r\nA,1,1\r\n";
  const std::string rejects = Path("PREPAID.REJ");
  const std::string counts =
      "applied:  3 order lines\n"
      "skipped:  2 order lines that change nothing\n"
      "rejected: 2 lines, ";
  WriteFile(Path("PREPAID.INC"), orders);
  const std::string before = ReadFile(Dat());
  Outcome result = Run({"import", "--dry-run"});
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(result.out, "dry run: nothing was changed; the import would do this\n" + counts +
                            "to " + rejects +
                            "\nmarkers:  1 recorded\n"
                            "  the new balance of the card would not fit in 32 bits:\n"
                            "    A,10,100\n"
                            "  this line has fewer than two fields; it and the lines after it were "
                            "not imported:\n"
                            "    A,1,1\n");
  EXPECT_EQ(result.err,
            "lindavox-prepaid: 2 lines would not be applied and would go to " + rejects + "\n");
  EXPECT_EQ(ReadFile(Path("PREPAID.INC")), orders);
  EXPECT_EQ(ReadFile(Dat()), before);
  EXPECT_FALSE(testsupport::FileExists(rejects));

  result = Run({"import"});
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(result.out, counts + "see " + rejects + "\nmarkers:  1 recorded\n");
  EXPECT_EQ(result.err, "lindavox-prepaid: 2 lines were not applied, see " + rejects + "\n");
  EXPECT_EQ(Card(0).balance, 155);

  WriteFile(Path("PREPAID.INC"), "E17\r\nA,42,5\r\n");
  result = Run({"import"});
  EXPECT_EQ(result.code, 1);
  EXPECT_NE(result.out.find("repeated: batch E17 was imported before"), std::string::npos);
  EXPECT_EQ(result.err,
            "lindavox-prepaid: batch E17 was imported before, the rest of its order file was "
            "dropped\n");
  EXPECT_EQ(Card(0).balance, 155);

  WriteFile(Path("PREPAID.INC"), "A,42,1\r\n");
  {
    testsupport::OtherProcess writer(
        [&] { return ::open(Path("PREPAID.INC").c_str(), O_WRONLY | O_APPEND) >= 0; });
    result = Run({"import"});
    EXPECT_EQ(result.code, 3);
    EXPECT_NE(
        result.err.find(Path("PREPAID.INC") + " is still open for writing by another program"),
        std::string::npos)
        << result.err;
  }
  result = Run({"import"});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(Card(0).balance, 156);

  // Run every few minutes, an import that finds nothing says so only when asked.
  result = Run({"import"});
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(result.out + result.err, "");
  EXPECT_EQ(Run({"import", "-v"}).out,
            "nothing to import: there is no " + Path("PREPAID.INC") + "\n");
}

TEST_F(CliTest, ExportAndReorganizeSayWhatTheyDid) {
  WriteFile(Path("PREPAID.TRR"), "E17\r\n");
  Outcome result = Run({"export"});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.out, Path("PREPAID.TXT") + ": 5 cards with units, 1 batch markers\n");
  EXPECT_NE(ReadFile(Path("PREPAID.TXT")).find("\r\nE17\r\n00042,150,\r\n00007,5,L\r\n"),
            std::string::npos);
  EXPECT_FALSE(testsupport::FileExists(Path("PREPAID.TRR")));

  // While another program has the card file open, the compaction leaves it as it was.
  const std::string before = ReadFile(Dat());
  {
    testsupport::OtherProcess holder([&] {
      platform::SharedFile file;
      if (platform::SharedFile::Open(Dat(), platform::OpenRequest{}, &file) != 0) return false;
      file.Release();  // stays open until the process ends
      return true;
    });
    ASSERT_TRUE(holder.succeeded());
    result = Run({"reorganize"});
    EXPECT_EQ(result.code, 3);
    EXPECT_NE(result.err.find("was not compacted and is as it was"), std::string::npos);
    EXPECT_EQ(ReadFile(Dat()), before);
  }
  result = Run({"reorganize"});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.out, Dat() + ": kept 5 cards with units, dropped 2 without\n");
  EXPECT_EQ(ReadCardFile(Dat()).size(), 5u);
}

TEST_F(CliTest, DecodeGivesTheCardNumberOrWhyNot) {
  const std::string valid = testsupport::EncodeCardCode(tables_, 42);
  EXPECT_EQ(Run({"decode", valid}).out, "00042\n");
  // Another symbol where the last check digit comes from.
  std::string wrongCheck = valid;
  const size_t last = tables_.positionTable[7] - 1u;
  const uint8_t* row = tables_.symbolTable[last];
  wrongCheck[last] =
      static_cast<char>(row[0] == static_cast<uint8_t>(valid[last]) ? row[1] : row[0]);
  struct Case {
    std::string code, why;
  } cases[] = {
      {wrongCheck, "the check digits do not match"},
      {valid.substr(0, 4), "fewer than the 5 digits of a card number"},
      {std::string(17, 'x'), "at most 16 symbols"},
      {"\x01" + valid.substr(1), "symbol 1"},
  };
  for (const Case& c : cases) {
    const Outcome result = Run({"decode", c.code});
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find(c.why), std::string::npos) << result.err;
  }
  ::unlink(Path("PREPAID.BIN").c_str());
  EXPECT_EQ(Run({"decode", valid}).code, 3);
}

TEST_F(CliTest, StatsAndCheckFindWhatIsWrongWithTheFiles) {
  EXPECT_EQ(Run({"check"}).out, "all well: 7 cards, no problems\n");
  PrepaidCard badDigits = CardBuilder(13).Telefon("0301234567").Build();
  badDigits.telefonDigits = 3;
  WriteFile(Dat(), ReadFile(Dat()) + testsupport::CardBytes(CardBuilder(42).Balance(1).Build()) +
                       testsupport::CardBytes(badDigits) + "\x01\x02\x03");
  std::string bin = ReadFile(Path("PREPAID.BIN"));
  bin[4] = 9;  // more check digits than the code has: card numbers pad to their widest, 10
  WriteFile(Path("PREPAID.BIN"), bin);

  const Outcome check = Run({"check"});
  EXPECT_EQ(check.code, 1);
  for (const char* line :
       {"record 8 (card 0000000013): the telephone number's 3 digits do not fit its parts 0 and "
        "301234567",
        "its length is no multiple of 32: 3 bytes",
        "card 0000000042 has records 0, 7; record 0 wins",
        "PREPAID.BIN: the code length 8 is smaller than its 9 check digits", "4 problems in 9"}) {
    EXPECT_NE(check.out.find(line), std::string::npos) << line << "\n" << check.out;
  }
  EXPECT_EQ(Run({"stats"}).out,
            "cards:           9\n"
            "total units:     2147483739\n"
            "locked:          1\n"
            "empty:           3\n"
            "trailing bytes:  3\n"
            "duplicate cards: 1 (1 records more than cards)\n");
}

TEST_F(CliTest, BadInputChangesNoFile) {
  const std::string file = ReadFile(Dat());
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string error;
  } cases[] = {
      {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
      {{"show", "4x"}, 2, "digits only"},
      {{"show", "2147483648"}, 2, "digits only"},
      {{"topup", "42", "0"}, 2, "0 changes nothing"},
      {{"topup", "42", "1.5"}, 2, "a whole number"},
      {{"set", "42", "--phone", "12345678901234567890"}, 2, "at most 18"},
      {{"set", "42", "--balance", "0x10"}, 2, "a whole number"},
      {{"list", "--format", "xml"}, 2, "xml"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const Outcome result = Run(c.args);
    EXPECT_EQ(result.code, c.code);
    EXPECT_NE(result.err.find(c.error), std::string::npos) << result.err;
  }
  const Outcome noFolder = RunAsGiven({"-d", "/nonexistent/", "show", "42"});
  EXPECT_EQ(noFolder.code, 3);
  EXPECT_NE(noFolder.err.find("cannot use /nonexistent/: No such file"), std::string::npos);
  EXPECT_EQ(ReadFile(Dat()), file);

  // A card file that is missing, or a folder, is a file that cannot be used; none is created.
  ::unlink(Dat().c_str());
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"show", "42"},
                                             {"topup", "42", "1"},
                                             {"lock", "42"},
                                             {"set", "42", "--balance", "1"},
                                             {"list"},
                                             {"check"},
                                             {"export"},
                                             {"reorganize"}}) {
    EXPECT_EQ(Run(args).code, 3) << args[0];
  }
  EXPECT_FALSE(testsupport::FileExists(Dat()));
  ::mkdir(Dat().c_str(), 0755);
  const Outcome folder = Run({"lock", "42"});
  EXPECT_EQ(folder.code, 3);
  EXPECT_NE(folder.err.find(Dat() + ": is a folder"), std::string::npos) << folder.err;
  EXPECT_EQ(Run({"stats"}).code, 3);
}

// A set while another process tops the same card up keeps both changes: every top-up and the
// telephone number.
TEST_F(CliTest, ASetBesideAnotherWriterKeepsBothChanges) {
  constexpr int kRounds = 150;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int failures = 0;
    for (int i = 0; i < kRounds; ++i) failures += Run({"topup", "42", "1"}).code != 0;
    ::_exit(failures == 0 ? 0 : 1);
  }
  for (int i = 0; i < kRounds; ++i) {
    EXPECT_EQ(Run({"set", "42", "--phone", std::to_string(1000 + i)}).code, 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Card(0).balance, 150 + kRounds);
  EXPECT_EQ(Card(0).telefonLow, 1000 + kRounds - 1);
}

// The program itself: help on every level, fitting 80 columns and naming the options every
// command takes; its version; exit codes through the shell; the README's demo store passes
// the check.
TEST_F(CliTest, TheProgramHelpsOnEveryLevel) {
  const auto program = [&](const std::string& args) {
    const std::string out = Path("out.txt");
    const int status =
        std::system((std::string(LV_CLI_PROGRAM) + " " + args + " >" + out + " 2>&1").c_str());
    return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ""};
  };
  const auto fitsEightyColumns = [](const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      if (line.size() > 80) return ::testing::AssertionFailure() << "too wide: " << line;
    }
    return ::testing::AssertionSuccess();
  };
  EXPECT_EQ(program("--version").out, "lindavox-prepaid " LV_VERSION "\n");
  for (const char* command :
       {"show", "find-phone", "set", "topup", "lock", "unlock", "empty", "import", "export",
        "reorganize", "decode", "list", "stats", "check", "init"}) {
    const Outcome help = program(std::string(command) + " --help");
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("Usage: lindavox-prepaid " + std::string(command)), std::string::npos)
        << help.out;
    for (const char* option : {"-d,--data-dir DIR", "-x,--exchange-dir DIR", "-q,--quiet"}) {
      EXPECT_NE(help.out.find(option), std::string::npos) << command << " lacks " << option;
    }
    EXPECT_TRUE(fitsEightyColumns(help.out)) << command;
  }
  EXPECT_TRUE(fitsEightyColumns(program("--help").out));
  EXPECT_TRUE(fitsEightyColumns(program("--help-all").out));
  EXPECT_EQ(program("-d " + Dir() + " show 4711").code, 1);
  EXPECT_EQ(program("").code, 2);

  const std::string demo = Path("demo/");
  ASSERT_EQ(std::system((std::string(LV_MAKE_DEMO) + " " + demo + " >/dev/null").c_str()), 0);
  const Outcome check = program("-d " + demo + " check");
  EXPECT_EQ(check.code, 0) << check.out;
}

// Options of the program stand before or after the command, and usage errors read like the
// other errors, their words in the order given.
TEST_F(CliTest, OptionsStandAnywhereAndUsageErrorsSayWhatWasWrong) {
  const std::string other = Path("exchange/");
  ::mkdir(other.c_str(), 0755);
  WriteFile(other + "PREPAID.INC", "A,42,1\r\n");
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string out;
  } placed[] = {
      {{"show", "42", "-d", Dir(), "--format", "csv"}, 0, "00042,150,"},
      {{"show", "--data-dir", Dir(), "42"}, 0, "00042          150"},
      {{"-d", "/nonexistent/", "show", "42", "-d", Dir()}, 0, "00042          150"},
      {{"import", "-d", Dir(), "-x", other}, 0, "applied:  1 order lines"},
      {{"-q", "-d", Dir(), "topup", "42", "1"}, 0, ""},
      {{"topup", "42", "1", "-q", "-d", Dir()}, 0, ""},
  };
  for (const Case& c : placed) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    const Outcome result = RunAsGiven(c.args);
    EXPECT_EQ(result.code, c.code) << result.err;
    if (c.out.empty()) {
      EXPECT_EQ(result.out, "");
    } else {
      EXPECT_NE(result.out.find(c.out), std::string::npos) << result.out;
    }
  }
  EXPECT_EQ(Card(0).balance, 153);

  const std::string file = ReadFile(Dat());
  struct Error {
    std::vector<std::string> args;
    std::string said;
  } errors[] = {
      {{"stats", "--frobnicate", "json", "now"},
       "lindavox-prepaid: not expected: --frobnicate json now (see lindavox-prepaid stats "
       "--help)\n"},
      {{"show", "4x"}, "lindavox-prepaid: CARD: digits only of 32 bits, not '4x'"},
      {{"frobnicate"},
       "lindavox-prepaid: unknown command 'frobnicate' (see lindavox-prepaid "
       "--help)\n"},
      {{}, "lindavox-prepaid: a command is needed (see lindavox-prepaid --help)\n"},
      {{"set", "42"}, "lindavox-prepaid: set: --balance or --phone is needed"},
      {{"-d", "", "init"}, "lindavox-prepaid: init: name the data directory with -d DIR"},
      {{"init", "-d", Path("site"), "--group", "no-such-group-here"},
       "lindavox-prepaid: --group: there is no group 'no-such-group-here'"},
  };
  for (const Error& e : errors) {
    const bool ownDirectory = std::find(e.args.begin(), e.args.end(), "-d") != e.args.end();
    const Outcome result = e.args.empty() || ownDirectory ? RunAsGiven(e.args) : Run(e.args);
    EXPECT_EQ(result.code, 2);
    EXPECT_EQ(result.err.rfind(e.said, 0), 0u) << result.err;
  }
  EXPECT_EQ(ReadFile(Dat()), file);
  EXPECT_FALSE(testsupport::FileExists(Path("site")));
}

// A dry run goes as far as the write and says what the command would do; a top-up creates a
// card only when asked to, so a mistyped card number changes nothing.
TEST_F(CliTest, DryRunsAndMissingCardsChangeNothing) {
  const std::string file = ReadFile(Dat());
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string said;
  } cases[] = {
      {{"topup", "42", "100", "--dry-run"},
       0,
       "card 00042: would add 100 units, balance then 250 (dry run: nothing changed)\n"},
      {{"topup", "600", "30", "--create", "--dry-run"},
       0,
       "card 00600: would be created with 30 units (dry run: nothing changed)\n"},
      {{"topup", "10", "100", "--dry-run"}, 1, ""},  // beyond 32 bits
      {{"lock", "42", "--dry-run"}, 0, "card 00042: would be locked (dry run: nothing changed)\n"},
      {{"lock", "7", "--dry-run"},
       0,
       "card 00007: was locked already (dry run: nothing changed)\n"},
      {{"unlock", "7", "--dry-run"},
       0,
       "card 00007: would be unlocked (dry run: nothing changed)\n"},
      {{"empty", "12", "--dry-run"},
       0,
       "card 00012: would be emptied (dry run: nothing changed)\n"},
      {{"set", "42", "--balance", "7", "--dry-run"},
       0,
       "card 00042: would be saved, balance 7, telephone 0301234567 (dry run: nothing changed)\n"},
      {{"set", "42", "--balance", "150", "--dry-run"},
       0,
       "card 00042: unchanged, balance 150, telephone 0301234567 (dry run: nothing changed)\n"},
      {{"reorganize", "--dry-run"},
       0,
       Dat() + ": would keep 5 cards with units, drop 2 without (dry run: nothing changed)\n"},
      {{"topup", "4711", "50"}, 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    const Outcome result = Run(c.args);
    EXPECT_EQ(result.code, c.code) << result.err;
    EXPECT_EQ(result.out, c.said);
  }
  EXPECT_EQ(Run({"topup", "4711", "50"}).err,
            "lindavox-prepaid: card 04711 does not exist; --create makes it with the amount\n");
  EXPECT_EQ(ReadFile(Dat()), file);
  EXPECT_EQ(Run({"topup", "4711", "50", "--create"}).code, 0);
  EXPECT_EQ(Card(7).cardNumber, 4711);
}

// stats, check, import and export as JSON: the counts and problems as fields.
TEST_F(CliTest, ReportsAsJsonCarryTheirCountsAndProblems) {
  const auto json = [&](const std::vector<std::string>& args, int code) {
    const Outcome result = Run(args);
    EXPECT_EQ(result.code, code) << result.err;
    return nlohmann::json::parse(result.out);
  };
  nlohmann::json stats = json({"stats", "--format", "json"}, 0);
  EXPECT_EQ(stats["cards"], 7);
  EXPECT_EQ(stats["total_units"], 150 + 5 - 20 + 2147483600LL + 3);
  EXPECT_EQ(stats["locked"], 1);
  EXPECT_EQ(stats["empty"], 2);
  EXPECT_EQ(stats["duplicate_cards"], 0);
  EXPECT_EQ(json({"check", "--format", "json"}, 0)["problems"].size(), 0u);

  // The dry run and the import give the same report, the dry run marked as one and changing
  // nothing; a rejected line makes both exit 1.
  WriteFile(Path("PREPAID.INC"), "E17\r\nA,42,5\r\nA,10,100\r\nE18\r\n");
  const std::string cardsBefore = ReadFile(Dat());
  for (const bool dryRun : {true, false}) {
    SCOPED_TRACE(dryRun ? "dry run" : "import");
    std::vector<std::string> args = {"import", "--format", "json"};
    if (dryRun) args.push_back("--dry-run");
    nlohmann::json import = json(args, 1);
    EXPECT_EQ(import["dry_run"], dryRun ? nlohmann::json(true) : nlohmann::json());
    EXPECT_EQ(import["still_written"], "no");
    EXPECT_EQ(import["resumed"], false);
    EXPECT_EQ(import["applied"], 1);
    EXPECT_EQ(import["rejected"], 1);
    EXPECT_EQ(import["reject_file"], Path("PREPAID.REJ"));
    ASSERT_EQ(import["rejections"].size(), 1u);
    EXPECT_EQ(import["rejections"][0]["lines"], 1);
    EXPECT_EQ(import["rejections"][0]["first_lines"], nlohmann::json({"A,10,100"}));
    EXPECT_EQ(import["batches"], nlohmann::json({"E17", "E18"}));
    EXPECT_TRUE(import["repeated_batch"].is_null());
    EXPECT_EQ(ReadFile(Dat()) == cardsBefore, dryRun);
  }
  EXPECT_EQ(json({"import", "--format", "json"}, 0)["found"], false);

  nlohmann::json exported = json({"export", "--format", "json"}, 0);
  EXPECT_EQ(exported["report"], Path("PREPAID.TXT"));
  EXPECT_EQ(exported["cards"], 5);
  EXPECT_EQ(exported["batches"], nlohmann::json({"E17", "E18"}));

  WriteFile(Dat(), ReadFile(Dat()) + testsupport::CardBytes(CardBuilder(7).Build()));
  nlohmann::json check = json({"check", "--format", "json"}, 1);
  EXPECT_EQ(check["cards"], 8);
  ASSERT_EQ(check["problems"].size(), 1u);
  EXPECT_EQ(check["problems"][0]["file"], Dat());
  EXPECT_EQ(check["problems"][0]["card"], "00007");
  EXPECT_EQ(check["problems"][0]["problem"], "has records 1, 7; record 1 wins");
}

// The listings write every kind of number as the store's own texts do, however odd the record.
TEST_F(CliTest, ListingsWriteOddRecordsAsTheStoreWritesThem) {
  std::vector<PrepaidCard> odd = {CardBuilder(-5).Balance(INT32_MIN).Build(),
                                  CardBuilder(INT32_MAX).Balance(INT32_MAX).Build()};
  for (const auto& [digits, high, low] : std::vector<std::tuple<uint8_t, int32_t, int32_t>>{
           {255, 7, 5}, {12, -3, -7}, {9, 0, INT32_MIN}, {10, INT32_MAX, 999999999}, {0, 4, 4}}) {
    PrepaidCard card = CardBuilder(1).Build();
    card.telefonDigits = card.lastDigits = digits;
    card.telefonHigh = card.lastHigh = high;
    card.telefonLow = card.lastLow = low;
    odd.push_back(card);
  }
  WriteCardFile(Dat(), odd);
  const std::string csv = Run({"list", "--format", "csv"}).out;
  const nlohmann::json json = nlohmann::json::parse(Run({"list", "--format", "json"}).out);
  const std::string table = Run({"list"}).out;
  std::string expected = "card,balance,telephone,last_number,locked,record\n";
  for (size_t i = 0; i < odd.size(); ++i) {
    const std::string card = Session::CardNumberText(odd[i].cardNumber, 5);
    expected += card + "," + std::to_string(odd[i].balance) + "," + store::TelefonText(odd[i]) +
                "," + store::LastNumberText(odd[i]) + ",no," + std::to_string(i) + "\n";
    EXPECT_EQ(json[i]["card"], card);
    EXPECT_EQ(json[i]["telephone"], store::TelefonText(odd[i]));
    EXPECT_EQ(json[i]["last_number"], store::LastNumberText(odd[i]));
    EXPECT_NE(table.find(store::TelefonText(odd[i]) + "  "), std::string::npos);
  }
  EXPECT_EQ(csv, expected);
  EXPECT_NE(table.find("-0005  -2147483648  "), std::string::npos) << table;
}

// Runs the command line in a child process as a user who is neither root nor the files' owner.
Outcome RunAsNobody(const std::vector<std::string>& args) {
  int ends[2];
  if (::pipe(ends) != 0) return {-1, "", "no pipe"};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ends[0]);
    Outcome result{99, "", "cannot become nobody"};
    if (::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
        ::setresuid(65534, 65534, 65534) == 0) {
      std::ostringstream out, err;
      result = {cli::Run(args, out, err, false), out.str(), err.str()};
    }
    const std::string said = std::to_string(result.code) + '\n' + result.out + '\0' + result.err;
    (void)!::write(ends[1], said.data(), said.size());
    ::_exit(0);
  }
  ::close(ends[1]);
  std::string said;
  char buffer[4096];
  for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;) said.append(buffer, n);
  ::close(ends[0]);
  ::waitpid(child, nullptr, 0);
  const size_t line = said.find('\n'), split = said.find('\0');
  if (line == std::string::npos || split == std::string::npos) return {-1, "", said};
  return {std::stoi(said.substr(0, line)), said.substr(line + 1, split - line - 1),
          said.substr(split + 1)};
}

// Run by a user without write access, the export and the compaction name the real cause.
TEST_F(CliTest, ErrorsNameTheirRealCause) {
  ASSERT_EQ(::chmod(Dir().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(Dat().c_str(), 0644), 0);
  ASSERT_EQ(::chmod(Path("PREPAID.BIN").c_str(), 0644), 0);
  const std::string file = ReadFile(Dat());
  const Outcome exported = RunAsNobody({"-d", Dir(), "export"});
  EXPECT_EQ(exported.code, 3);
  EXPECT_EQ(exported.err, "lindavox-prepaid: the report was not made: cannot use " +
                              Path(".PREPAID.TXT.new") + ": Permission denied; " +
                              Path("PREPAID.TXT") +
                              " and PREPAID.TRR are as they were, export again later\n");
  const Outcome compacted = RunAsNobody({"-d", Dir(), "reorganize"});
  EXPECT_EQ(compacted.code, 3);
  // The card history, which a change needs first, cannot be created in the folder.
  EXPECT_EQ(compacted.err, "lindavox-prepaid: " + Dat() +
                               " was not compacted and is as it was: cannot use " +
                               Path("PREPAID.HIS") + ": Permission denied\n");
  const Outcome topup = RunAsNobody({"-d", Dir(), "topup", "42", "1"});
  EXPECT_EQ(topup.code, 3);
  EXPECT_EQ(topup.err,
            "lindavox-prepaid: cannot use " + Path("PREPAID.HIS") + ": Permission denied\n");
  EXPECT_EQ(ReadFile(Dat()), file);
  EXPECT_FALSE(testsupport::FileExists(Path("PREPAID.TXT")));
}

// In journal mode, reports and errors become journal entries with their priority and fields;
// standard output keeps only data; without a journal they are said on the streams as usual.
TEST_F(CliTest, TheJournalGetsPrioritiesAndFieldsToFilterOn) {
  WriteFile(Path("PREPAID.INC"), "E17\r\nA,42,5\r\nA,10,100\r\n");
  Outcome seen[4];
  const testsupport::CaughtJournal caught = testsupport::CatchJournal([&] {
    seen[0] = Run({"import", "--journal"});
    seen[1] = Run({"topup", "42", "10", "--journal"});
    seen[2] = Run({"--journal", "lock", "4711"});
    seen[3] = Run({"show", "42"}, false);  // no journal mode: nothing there
    // The child's outcomes travel back in a file of the test's folder.
    std::string said;
    for (const Outcome& o : seen) said += std::to_string(o.code) + "|" + o.out + "|" + o.err + "#";
    WriteFile(Path("seen.txt"), said);
    return true;
  });
  if (!caught.available) GTEST_SKIP() << "no mount namespace of its own (needs root)";
  EXPECT_EQ(ReadFile(Path("seen.txt")).substr(0, 12), "1||#0||#1||#");
  ASSERT_EQ(caught.entries.size(), 4u);
  const testsupport::JournalEntry& import = caught.entries[0];
  EXPECT_EQ(import["PRIORITY"], "4");  // lines were rejected
  EXPECT_EQ(import["SYSLOG_IDENTIFIER"], "lindavox-prepaid");
  EXPECT_EQ(import["LINDAVOX_COMMAND"], "import");
  EXPECT_EQ(import["LINDAVOX_APPLIED"], "1");
  EXPECT_EQ(import["LINDAVOX_REJECTED"], "1");
  EXPECT_EQ(import.All("LINDAVOX_BATCH"), std::vector<std::string>{"E17"});
  EXPECT_EQ(import["LINDAVOX_DATA_DIR"], Dir());
  EXPECT_NE(import["MESSAGE"].find("rejected 1 (see " + Path("PREPAID.REJ") + ")"),
            std::string::npos)
      << import["MESSAGE"];
  const testsupport::JournalEntry& rejected = caught.entries[1];  // the import's exit 1
  EXPECT_EQ(rejected["PRIORITY"], "3");
  EXPECT_EQ(rejected["MESSAGE"], "1 line was not applied, see " + Path("PREPAID.REJ"));
  const testsupport::JournalEntry& topup = caught.entries[2];
  EXPECT_EQ(topup["PRIORITY"], "6");
  EXPECT_EQ(topup["MESSAGE"], "card 00042: 10 units added, balance now 165");
  EXPECT_EQ(topup["LINDAVOX_CARD"], "42");
  EXPECT_EQ(topup["LINDAVOX_BALANCE"], "165");
  const testsupport::JournalEntry& missing = caught.entries[3];
  EXPECT_EQ(missing["PRIORITY"], "3");
  EXPECT_EQ(missing["MESSAGE"], "card 04711 does not exist");
  EXPECT_EQ(missing["LINDAVOX_CARD"], "4711");

  const testsupport::CaughtJournal none = testsupport::CatchJournal(
      [&] {
        const Outcome result = Run({"lock", "4711", "--journal"});
        return result.err == "lindavox-prepaid: card 04711 does not exist\n";
      },
      false);
  EXPECT_TRUE(none.result);
}

// init prepares a new site: the folders setgid and writable for the group, an empty card file;
// what is there is kept, and a planted link is not followed.
TEST_F(CliTest, InitPreparesTheFoldersAndKeepsWhatIsThere) {
  const struct group* daemon = ::getgrnam("daemon");
  ASSERT_NE(daemon, nullptr);
  const gid_t gid = daemon->gr_gid;
  const std::string site = Path("site/"), exchange = Path("site-exchange/");
  Outcome result = RunAsGiven({"init", "-d", site, "-x", exchange, "--group", "daemon"});
  ASSERT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.out, site + ": folder created, group daemon, mode 2775\n" + exchange +
                            ": folder created, group daemon, mode 2775\n" + site +
                            "PREPAID.DAT: empty card file created, group daemon, mode 0664\n" +
                            site +
                            "PREPAID.BIN is missing: copy the card code tables of the card "
                            "issuer there (decode and check need them)\n");
  struct stat status;
  for (const std::string& path : {site, exchange, site + "PREPAID.DAT"}) {
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_gid, gid) << path;
  }
  EXPECT_EQ(status.st_size, 0);
  EXPECT_EQ(RunAsGiven({"-d", site, "list", "--format", "csv"}).code, 0);

  // Again, on a folder with cards and its own modes: cards and other bits stay.
  ::chmod(site.c_str(), 0700);
  WriteCardFile(site + "PREPAID.DAT", {CardBuilder(1).Balance(5).Build()});
  ::chmod((site + "PREPAID.DAT").c_str(), 0600);
  result = RunAsGiven({"init", "-d", site, "--group", "daemon"});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_NE(result.out.find("PREPAID.DAT: card file kept with its 1 cards, group daemon, mode "
                            "0660"),
            std::string::npos)
      << result.out;
  ASSERT_EQ(::stat(site.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 02770u);
  EXPECT_EQ(ReadCardFile(site + "PREPAID.DAT").size(), 1u);

  // A link planted as the folder or as the card file is refused, its target left alone.
  const std::string target = Path("target/");
  ::mkdir(target.c_str(), 0700);
  ASSERT_EQ(::symlink(target.c_str(), Path("planted").c_str()), 0);
  result = RunAsGiven({"init", "-d", Path("planted"), "--group", "daemon"});
  EXPECT_EQ(result.code, 3);
  EXPECT_NE(result.err.find("is a symbolic link"), std::string::npos);
  ::unlink((site + "PREPAID.DAT").c_str());
  ASSERT_EQ(::symlink((target + "cards").c_str(), (site + "PREPAID.DAT").c_str()), 0);
  EXPECT_EQ(RunAsGiven({"init", "-d", site, "--group", "daemon"}).code, 3);
  ASSERT_EQ(::stat(target.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0700u);
  EXPECT_FALSE(testsupport::FileExists(target + "cards"));
}

}  // namespace
}  // namespace cli

namespace cli {
namespace {

// The command line's changes go into the card history; `history` shows them by card and date.
TEST_F(CliTest, HistoryListsTheCommandsChangesByCardAndDate) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"topup", "42", "10"},
                                             {"set", "42", "--balance", "5", "--phone", "0711"},
                                             {"lock", "7"},  // locked already: no change
                                             {"unlock", "7"},
                                             {"empty", "12"},
                                             {"lock", "42"}}) {
    ASSERT_EQ(Run(args).code, 0) << args[0];
  }
  const Outcome csv = Run({"history", "42", "--format", "csv"});
  EXPECT_EQ(csv.code, 0);
  std::istringstream lines(csv.out);
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) {
    rows.push_back(line.substr(std::min(line.find(','), line.size())));  // without the time
  }
  const std::string user = std::string(",") + getpwuid(getuid())->pw_name;
  EXPECT_EQ(rows, (std::vector<std::string>{
                      ",user,program,detail,card,balance_before,balance_after,locked_before,"
                      "locked_after,phone_changed,phone",
                      user + ",command,topup 10,00042,150,160,0,0,0,",
                      user + ",command,set balance phone,00042,160,5,0,0,1,",
                      user + ",command,lock,00042,5,5,0,1,0,"}));
  const nlohmann::json all = nlohmann::json::parse(Run({"history", "--format", "json"}).out);
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(all[2]["detail"], "unlock");
  EXPECT_EQ(all[3]["balance_before"], 3);
  EXPECT_EQ(Run({"history", "--since", "2099-01-01"}).out, "");
  EXPECT_EQ(Run({"history", "--since", "2000-01-01 12:00"}).out, Run({"history"}).out);
  EXPECT_EQ(Run({"history", "--since", "yesterday"}).code, kExitUsage);
  EXPECT_EQ(Run({"history", "-1"}).code, kExitUsage);
}

}  // namespace
}  // namespace cli
