// The data and exchange directories as a trust boundary. A member of the group that shares them
// (a spare user and group, not root) may change the cards, and plants links and files there;
// root, as the suite runs and as cron jobs run, then uses every command and function that opens
// a file there. Nothing that the member could not reach is written, changed or copied, every
// refused run says which file and why, and the member goes on where root left off. Card and
// code files a member wrote to be costly stay cheap.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli.h"
#include "platform/fault.h"
#include "platform/profile.h"
#include "platform/shared_folder.h"
#include "platform/unique_fd.h"
#include "store/card_edit.h"
#include "store/import.h"
#include "store/prepaid.h"
#include "testsupport/card_files.h"
#include "testsupport/file_test.h"
#include "testsupport/other_process.h"
#include "util/convert.h"
#include "util/file_open_internal.h"
#include "util/files.h"
#include "util/line_edit.h"

namespace {

using testsupport::CardBuilder;
using testsupport::ReadFile;
using testsupport::WriteFile;

constexpr char kSecret[] = "root:SECRET:19000:0:99999:7:::\n";
constexpr char kOrders[] = "E17\r\nA,42,5\r\nevil::0:0:root:/root:/bin/bash\r\n";

struct Said {
  int code;
  std::string text;  // standard output and error
};

Said RunCli(const std::string& dataDir, std::vector<std::string> args) {
  args.insert(args.begin(), {"-d", dataDir});
  std::ostringstream out, err;
  const int code = cli::Run(args, out, err, false);
  return {code, out.str() + err.str()};
}

// A user and group that no account has, playing a member of the folder's group.
struct Member {
  uid_t uid;
  gid_t gid;
};

Member SpareMember() {
  uid_t id = 61234;
  while (::getpwuid(id) != nullptr || ::getgrgid(id) != nullptr) ++id;
  return {id, id};
}

// Runs `action` in a child process as the member (its own user and group, no other groups).
bool AsMember(const Member& member, const std::function<bool()>& action) {
  return testsupport::RunWithin(std::chrono::seconds(60),
                                [&] {
                                  return ::setgroups(0, nullptr) == 0 &&
                                         ::setresgid(member.gid, member.gid, member.gid) == 0 &&
                                         ::setresuid(member.uid, member.uid, member.uid) == 0 &&
                                         action();
                                })
      .value_or(false);
}

struct stat StatOf(const std::string& path) {
  struct stat status {};
  ::lstat(path.c_str(), &status);
  return status;
}

// The names in a folder (links included); with `filesOnly`, those of ordinary files.
std::vector<std::string> NamesIn(const std::string& folder, bool filesOnly) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  while (dirent* entry = dir ? ::readdir(dir) : nullptr) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (!filesOnly || S_ISREG(StatOf(folder + name).st_mode)) names.push_back(name);
  }
  if (dir) ::closedir(dir);
  return names;
}

// A data directory shared by root and the member's group (mode 2775, files group-writable),
// which is also the exchange directory, and a folder of root's that the member cannot enter,
// holding a secret.
class TrustBoundaryTest : public testsupport::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    if (::geteuid() != 0) GTEST_SKIP() << "plays root and a member of the group: run as root";
    member_ = SpareMember();
    umask_ = ::umask(022);
    data_ = Path("data/");
    ASSERT_EQ(::chmod(Dir().c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(data_.c_str(), 0), 0);
    ASSERT_EQ(::chown(data_.c_str(), 0, member_.gid), 0);
    ASSERT_EQ(::chmod(data_.c_str(), 02775), 0);
    ASSERT_EQ(::mkdir(Path("root-only").c_str(), 0700), 0);
    tables_ = testsupport::MakeCodeTables(5, 3, 100, 7);
    FreshData();
  }
  void TearDown() override {
    ::umask(umask_);
    FileTest::TearDown();
  }

  std::string Secret() const { return Path("root-only/secret"); }
  std::string Absent() const { return Path("root-only/absent"); }
  std::string D(const std::string& name) const { return data_ + name; }

  // The secret as it was, and in the data directory the card files as the group keeps them (a
  // card file of mode 0666, as the member may leave it) and an order file; nothing else.
  void FreshData() {
    WriteFile(Secret(), kSecret);
    ASSERT_EQ(::chmod(Secret().c_str(), 0600), 0);
    secret_ = StatOf(Secret());
    ::unlink(Absent().c_str());
    for (const std::string& name : NamesIn(data_, false)) ::unlink(D(name).c_str());
    testsupport::WriteCardFile(D("PREPAID.DAT"),
                               {CardBuilder(42).Balance(150).Build(), CardBuilder(7).Build(),
                                CardBuilder(9).Balance(3).Build()});
    testsupport::WriteBinFile(D("PREPAID.BIN"), tables_);
    WriteFile(D("LINDAVOX.INI"), "[Common]\r\nPrepaidMode=Link\r\n");
    WriteFile(D("PREPAID.INC"), kOrders);
    for (const std::string& name : NamesIn(data_, true)) {
      ASSERT_EQ(::chown(D(name).c_str(), 0, member_.gid), 0);
      ASSERT_EQ(::chmod(D(name).c_str(), name == "PREPAID.DAT" ? 0666 : 0664), 0);
    }
  }
  // The member makes `name` in the data directory a link to `target`.
  void Plant(const std::string& name, const std::string& target) {
    ::unlink(D(name).c_str());
    ASSERT_TRUE(AsMember(member_, [&] { return ::symlink(target.c_str(), D(name).c_str()) == 0; }));
  }
  // Nothing the member could not reach was written, changed, made or copied.
  void ExpectNothingReached() {
    const struct stat now = StatOf(Secret());
    EXPECT_EQ(ReadFile(Secret()), kSecret);
    EXPECT_EQ(now.st_mode, secret_.st_mode);
    EXPECT_EQ(now.st_uid, 0u);
    EXPECT_EQ(now.st_gid, secret_.st_gid);
    EXPECT_EQ(now.st_size, secret_.st_size);
    EXPECT_NE(::access(Absent().c_str(), F_OK), 0) << "root made a file for the member";
    for (const std::string& name : NamesIn(data_, true)) {
      EXPECT_EQ(ReadFile(D(name)).find("SECRET"), std::string::npos) << name << " holds the secret";
    }
  }

  Member member_{};
  mode_t umask_ = 0;
  std::string data_;
  struct stat secret_ {};
  testsupport::CodeTables tables_;
};

// FILE_fopen and FILE_fclose, as the card editor's library exports them.
FILE* OpenAsCaller(const std::string& path, const char* mode) {
  return util::Fopen(path.c_str(), mode, false, util::FopenGeneration::kCurrent);
}
void Close(FILE* stream) {
  if (stream) std::fclose(stream);
}

// A run of root's: a command line, or a function whose refusal is then asked for.
using RootRun = std::function<Said()>;

TEST_F(TrustBoundaryTest, NoLinkAMemberPlantedLeadsRootToAFileTheMemberCannotReach) {
  const auto cli = [this](std::vector<std::string> args) {
    return RootRun([this, args] { return RunCli(data_, args); });
  };
  // A library call: what it refused is what it says.
  const auto call = [](std::function<void()> function) {
    return RootRun([function] {
      platform::TakeRefusal();
      function();
      const std::optional<platform::Refusal> refusal = platform::TakeRefusal();
      return Said{refusal ? 3 : 0, refusal ? refusal->path + ": refused" : "nothing refused"};
    });
  };
  const std::string dat = D("PREPAID.DAT"), out = D("out.txt");
  const PrepaidCard card = CardBuilder(42).Balance(150).Build();
  PrepaidConfig config{};
  char upperCased[512];
  struct Attack {
    const char* planted;
    const char* what;
    RootRun run;
    const char* refused = nullptr;  // the name the refusal names, when not the planted one
    // A link to nothing counts as no file for this run, which then opens nothing.
    bool danglingIsMissing = false;
  } attacks[] = {
      {"PREPAID.DAT", "import", cli({"import"})},
      {"PREPAID.DAT", "export", cli({"export"})},
      {"PREPAID.DAT", "reorganize", cli({"reorganize"})},
      {"PREPAID.DAT", "topup", cli({"topup", "42", "5"})},
      {"PREPAID.DAT", "set", cli({"set", "42", "--balance", "1"})},
      {"PREPAID.DAT", "lock", cli({"lock", "42"})},
      {"PREPAID.DAT", "stats", cli({"stats"})},
      {"PREPAID.DAT", "the editor's save",
       call([&] { store::SaveCardEdit(data_.c_str(), 0, card, CardBuilder(42).Build()); }), nullptr,
       true},
      {"PREPAID.DAT", "Prepaid_Write", call([&] { Prepaid_Write(data_.c_str(), 0, &card); }),
       nullptr, true},
      {"PREPAID.DAT", "the import", call([&] {
         store::Include(data_.c_str(), data_.c_str(), util::SplitGeneration::kCurrent);
       })},
      {".PREPAID.HIS.pending", "topup", cli({"topup", "42", "5"})},
      {".PREPAID.HIS.pending", "the editor's save",
       call([&] { store::SaveCardEdit(data_.c_str(), 0, card, CardBuilder(42).Build()); })},
      {"PREPAID.BIN", "decode", cli({"decode", "12345678"})},
      {"PREPAID.BIN", "check", cli({"check"})},
      {"PREPAID.NEW", "reorganize", cli({"reorganize"})},
      {"PREPAID.NEW", "Prepaid_Reorganize", call([&] { Prepaid_Reorganize(data_.c_str()); })},
      {".PREPAID.TXT.new", "export", cli({"export"})},
      {"PREPAID.TXT", "export", cli({"export"})},
      {"PREPAID.TRR", "import", cli({"import"})},
      {"PREPAID.TRR", "export", cli({"export"}), nullptr, true},
      {"PREPAID.REJ", "import", cli({"import"})},
      {"PREPAID.INJ", "import", cli({"import"})},
      {"PREPAID.INC", "import", cli({"import"})},
      {".PREPAID.INC.new", "an import that stops", call([&] {
         platform::ScopedFaultHook failing([&](platform::FileOp op, std::string_view path) {
           return op == platform::FileOp::kWrite && path == dat ? EIO : 0;
         });
         store::Include(data_.c_str(), data_.c_str(), util::SplitGeneration::kCurrent);
       })},
      {"LINDAVOX.INI", "the language selection's write", call([&] {
         platform::WriteProfileString("Common", "Language", "english", D("LINDAVOX.INI").c_str());
       })},
      {".LINDAVOX.INI.lock", "the language selection's write", call([&] {
         platform::WriteProfileString("Common", "Language", "english", D("LINDAVOX.INI").c_str());
       })},
      {"LINDAVOX.INI", "Prepaid_ReadConfig",
       call([&] { Prepaid_ReadConfig(data_.c_str(), &config); })},
      {"out.txt", "FILE_fopen w", call([&] { Close(OpenAsCaller(out, "w")); })},
      {"out.txt", "FILE_fopen a", call([&] { Close(OpenAsCaller(out, "ab")); })},
      {"out.txt", "FILE_Copy to it",
       call([&] { FILE_Copy(out.c_str(), dat.c_str(), 0, 0, 0, nullptr); })},
      {"out.txt", "FILE_Copy from it",
       call([&] { FILE_Copy(D("copy.txt").c_str(), out.c_str(), 0, 0, 0, nullptr); })},
      {"out.txt", "FILE_Append", call([&] {
         std::snprintf(upperCased, sizeof upperCased, "%s", out.c_str());
         FILE_Append(upperCased, dat.c_str());
       })},
      {"out.txt", "FILE_Truncate", call([&] { FILE_Truncate(out.c_str(), 0); })},
      {"out.txt", "FILE_SetTime", call([&] { FILE_SetTime(out.c_str(), 0x58B16DAF); })},
      {"out.txt", "CONVERT_File_Ansi2Dos",
       call([&] { CONVERT_File_Ansi2Dos(out.c_str(), dat.c_str()); })},
      {"out.txt", "CONVERT_FileReplace",
       call([&] { CONVERT_FileReplace(out.c_str(), D("work.txt").c_str(), "SECRET", "x"); })},
  };
  for (const Attack& attack : attacks) {
    for (const std::string& target : {Secret(), Absent()}) {
      SCOPED_TRACE(std::string(attack.planted) + " -> " + target + ", " + attack.what);
      FreshData();
      Plant(attack.planted, target);
      const Said said = attack.run();
      ExpectNothingReached();
      EXPECT_EQ(StatOf(D(attack.planted)).st_uid, member_.uid) << "the link itself stays";
      if (attack.danglingIsMissing && target == Absent()) continue;
      const std::string refused = D(attack.refused ? attack.refused : attack.planted) + ": ";
      EXPECT_NE(said.text.find(refused), std::string::npos) << said.text;
      EXPECT_TRUE(said.text.find("not followed") != std::string::npos ||
                  said.text.find("not ours to remove") != std::string::npos ||
                  said.text.find(refused + "refused") != std::string::npos)
          << said.text;
    }
  }
}

TEST_F(TrustBoundaryTest, LinksThatRootTheFolderOwnerOrTheCallerMadeAreFollowed) {
  // An administrator's link for the card file, to a folder of the group's.
  ASSERT_EQ(::mkdir(Path("cards").c_str(), 02775), 0);
  ASSERT_EQ(::chown(Path("cards").c_str(), 0, member_.gid), 0);
  ASSERT_EQ(::rename(D("PREPAID.DAT").c_str(), Path("cards/PREPAID.DAT").c_str()), 0);
  ASSERT_EQ(::symlink(Path("cards/PREPAID.DAT").c_str(), D("PREPAID.DAT").c_str()), 0);
  EXPECT_EQ(RunCli(data_, {"topup", "42", "5"}).code, 0);
  EXPECT_TRUE(AsMember(member_, [&] { return RunCli(data_, {"topup", "42", "5"}).code == 0; }));
  EXPECT_EQ(testsupport::ReadCardFile(Path("cards/PREPAID.DAT")).at(0).balance, 160);
  // The member's own link, followed in the member's own runs only.
  Plant("out.txt", Path("mine.txt"));
  WriteFile(Path("mine.txt"), "");
  ASSERT_EQ(::chown(Path("mine.txt").c_str(), member_.uid, member_.gid), 0);
  EXPECT_TRUE(AsMember(member_, [&] {
    FILE* stream = OpenAsCaller(D("out.txt"), "w");
    return stream && std::fputs("the member's", stream) >= 0 && std::fclose(stream) == 0;
  }));
  EXPECT_EQ(OpenAsCaller(D("out.txt"), "w"), nullptr);
  EXPECT_EQ(ReadFile(Path("mine.txt")), "the member's");
}

TEST_F(TrustBoundaryTest, AMemberGoesOnWhereRootLeftOff) {
  // Root's runs (umask 022) leave every file they make group-writable, in the folder's group.
  // Every order file here holds a line the import rejects, so each import ends with 1.
  ASSERT_EQ(RunCli(data_, {"import"}).code, 1);
  ASSERT_EQ(RunCli(data_, {"export"}).code, 0);
  WriteFile(D("PREPAID.INC"), "E18\r\nA,9,1\r\nanother line without fields\r\n");
  ASSERT_EQ(RunCli(data_, {"import"}).code, 1);
  for (const char* made : {"PREPAID.TRR", "PREPAID.REJ", "PREPAID.TXT"}) {
    const struct stat status = StatOf(D(made));
    EXPECT_EQ(status.st_gid, member_.gid) << made;
    EXPECT_EQ(status.st_mode & 0777, 0664u) << made;
  }
  // The member's import, export, orders and compaction then go through.
  WriteFile(D("PREPAID.INC"), "E19\r\nA,42,1\r\nyet another line\r\n");
  ASSERT_EQ(::chown(D("PREPAID.INC").c_str(), member_.uid, member_.gid), 0);
  EXPECT_TRUE(AsMember(member_, [&] {
    return RunCli(data_, {"import"}).code == 1 && RunCli(data_, {"topup", "7", "2"}).code == 0 &&
           RunCli(data_, {"export"}).code == 0 && RunCli(data_, {"reorganize"}).code == 0;
  }));
  EXPECT_NE(ReadFile(D("PREPAID.REJ")).find("yet another line"), std::string::npos);
  const std::string report = ReadFile(D("PREPAID.TXT"));
  EXPECT_NE(report.find("E18\r\nE19\r\n"), std::string::npos) << report;
  EXPECT_NE(report.find("00042,156,"), std::string::npos) << report;
  EXPECT_EQ(testsupport::ReadCardFile(D("PREPAID.DAT")).size(), 3u);
  ExpectNothingReached();
}

TEST_F(TrustBoundaryTest, AStaleTemporaryFileIsRemovedOnlyWhenItIsOurs) {
  // A member's file under the compaction's temporary name: root's compaction neither writes it
  // nor puts it in place (the member could keep it open and write the card file through it),
  // and says so.
  WriteFile(D("PREPAID.NEW"), "the member's");
  ASSERT_EQ(::chown(D("PREPAID.NEW").c_str(), member_.uid, member_.gid), 0);
  const std::string cards = ReadFile(D("PREPAID.DAT"));
  const Said said = RunCli(data_, {"reorganize"});
  EXPECT_EQ(said.code, 3);
  EXPECT_NE(said.text.find(D("PREPAID.NEW") + ": left by an earlier run, but not ours to remove"),
            std::string::npos)
      << said.text;
  EXPECT_EQ(ReadFile(D("PREPAID.NEW")), "the member's");
  EXPECT_EQ(ReadFile(D("PREPAID.DAT")), cards);
  // The member's own leftover goes in the member's run, root's own in root's.
  EXPECT_TRUE(AsMember(member_, [&] { return RunCli(data_, {"reorganize"}).code == 0; }));
  WriteFile(D(".PREPAID.TXT.new"), "root's leftover");
  EXPECT_EQ(RunCli(data_, {"export"}).code, 0);
  EXPECT_EQ(StatOf(D(".PREPAID.TXT.new")).st_nlink, 0u);
}

// What a command line run in a child process cost.
struct Cost {
  std::optional<int> code;  // none when it did not end in time
  long peakKiB = 0;         // the child's peak resident memory
  std::string said;
};

Cost RunMeasured(const std::string& dataDir, const std::vector<std::string>& args,
                 std::chrono::seconds limit) {
  int ends[2];
  if (::pipe(ends) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(ends[0]);
    const Said said = RunCli(dataDir, args);
    for (size_t done = 0; done < said.text.size();) {
      const ssize_t put = ::write(ends[1], said.text.data() + done, said.text.size() - done);
      if (put <= 0) break;
      done += static_cast<size_t>(put);
    }
    ::_exit(said.code);
  }
  ::close(ends[1]);
  const platform::UniqueFd output(ends[0]);
  Cost cost;
  char buffer[4096];
  pollfd readable{output.get(), POLLIN, 0};
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {  // until the child's end of the pipe closes, or the time is up
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) != 1) {
      ::kill(pid, SIGKILL);
      break;
    }
    const ssize_t got = ::read(output.get(), buffer, sizeof buffer);
    if (got <= 0) break;
    cost.said.append(buffer, static_cast<size_t>(got));
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  if (WIFEXITED(status)) cost.code = WEXITSTATUS(status);
  cost.peakKiB = usage.ru_maxrss;
  return cost;
}

class HostileCardFilesTest : public testsupport::FileTest {};

TEST_F(HostileCardFilesTest, AHugeSparseCardFileCostsWhatItsCardsCost) {
  // 8 GiB, ten cards, the rest a hole: time and memory of the commands follow the ten cards.
  constexpr off_t kSize = off_t{8} << 30;
  const std::string dat = Path("PREPAID.DAT");
  {
    const platform::UniqueFd fd(::open(dat.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
    ASSERT_TRUE(fd);
    ASSERT_EQ(::ftruncate(fd.get(), kSize), 0);
    const off_t at[] = {0,
                        32,
                        64,
                        1 << 20,
                        off_t{1} << 30,
                        off_t{3} << 30,
                        off_t{5} << 30,
                        (off_t{7} << 30) + 4096,
                        kSize - 64,
                        kSize - 32};
    for (int card = 1; card <= 10; ++card) {
      const std::string record = testsupport::CardBytes(CardBuilder(card).Balance(card).Build());
      ASSERT_EQ(::pwrite(fd.get(), record.data(), record.size(), at[card - 1]), 32);
    }
  }
  testsupport::WriteBinFile(Path("PREPAID.BIN"), testsupport::MakeCodeTables(5, 3, 100, 3));
  // The blocks around the cards hold empty records too (card 0, found by check); the holes
  // hold none.
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* said;
  } cases[] = {
      {{"stats"}, 0, "never written:   room for 2684"},
      {{"topup", "5", "1"}, 0, "card 00005: 1 units added, balance now 6"},
      {{"check"}, 1, "; record 3 wins"},
      {{"list"}, 0, "00003            3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const Cost cost = RunMeasured(Dir(), c.args, std::chrono::seconds(60));
    ASSERT_TRUE(cost.code.has_value()) << "did not end within a minute";
    EXPECT_EQ(*cost.code, c.code) << cost.said;
    EXPECT_NE(cost.said.find(c.said), std::string::npos) << cost.said;
    EXPECT_LT(cost.peakKiB, 256 * 1024) << "memory follows the file's length, not its cards";
  }
  const struct stat status = StatOf(dat);
  EXPECT_EQ(status.st_size, kSize);
  EXPECT_LT(status.st_blocks, 1024) << "the holes were filled";
}

TEST_F(HostileCardFilesTest, CodeTablesOfTooManyCardDigitsPadReportLinesToTenAndDecodeNothing) {
  std::vector<PrepaidCard> cards;
  for (int card = 1; card <= 20000; ++card) cards.push_back(CardBuilder(card).Balance(1).Build());
  testsupport::WriteCardFile(Path("PREPAID.DAT"), cards);
  testsupport::CodeTables tables = testsupport::MakeCodeTables(5, 3, 100, 5);
  const std::string code = testsupport::EncodeCardCode(tables, 42);
  // Check digits that outnumber the code's (the digit count wraps to 65534), and card numbers
  // of 14 digits.
  for (const auto& [codeLength, checkLength] : {std::pair{3, 5}, std::pair{16, 2}}) {
    SCOPED_TRACE(codeLength);
    tables.codeLength = static_cast<uint16_t>(codeLength);
    tables.checkLength = static_cast<uint16_t>(checkLength);
    testsupport::WriteBinFile(Path("PREPAID.BIN"), tables);
    const Cost exported = RunMeasured(Dir(), {"export"}, std::chrono::seconds(60));
    ASSERT_TRUE(exported.code.has_value());
    EXPECT_EQ(*exported.code, 0) << exported.said;
    const std::string report = ReadFile(Path("PREPAID.TXT"));
    EXPECT_LT(report.size(), 20000u * 20 + 100);
    EXPECT_NE(report.find("\r\n0000000042,1,\r\n"), std::string::npos);
    const Said decoded = RunCli(Dir(), {"decode", code});
    EXPECT_EQ(decoded.code, 3);
    EXPECT_NE(decoded.text.find("do not fit in 32 bits, so no code is valid"), std::string::npos)
        << decoded.text;
    PrepaidConfig config{};
    Prepaid_ReadConfig(Dir().c_str(), &config);
    char text[32];
    std::snprintf(text, sizeof text, "%s", code.c_str());
    EXPECT_EQ(Prepaid_GetSerialNumber(Dir().c_str(), text, &config), -1);
  }
}

}  // namespace
