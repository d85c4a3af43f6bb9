// soak: every program that changes the card file, at once, against one file of 100,000 cards,
// with kills and a full file system, and at the end the proof that no unit was lost.
//
//   soak --minutes N --standin PATH --editor PATH [--cli PATH] [--no-lock] [--no-mount]
//        [--cards N] [--seed N] [--keep DIR]
//
// Participants (each a process of its own):
//   - three telephony stand-ins (tools/telephony_standin), restarted at once when killed;
//   - the card editor's save path, driven headless (testsupport/editor_driver);
//   - imports: every few seconds a new order file of top-ups, emptyings, locks, unlocks and new
//     cards with a batch marker is dropped into the exchange directory and imported;
//   - the operator: one command at a time: top-ups of single cards (applied like an import
//     line), new balances and new telephone numbers;
//   - exports of the card report and compactions of the card file, every few seconds;
//   imports, exports, compactions and the operator's commands run the command line given with
//   --cli (lindavox-prepaid import, export, reorganize, topup, set), else the store's functions
//   in a process of their own;
//   - a killer that sends SIGKILL to a stand-in, an import, an export or a compaction at random
//     moments, and to some imports, exports and compactions within their run, while they write;
//   - imports killed right after a write of a card (they run the store's import in a process
//     of their own, which the fault seam kills), each followed by a compaction and an export
//     before the next import starts: the records move, the batch markers go into a report, and
//     the next import must still apply every order exactly once;
//   - a filler that fills the file system of the card files for short spells (the card files
//     live on a small tmpfs mounted for the run; where none can be mounted, or with
//     --no-mount, the imports and the operator's commands fail their writes through the fault
//     seam for those spells instead).
//
// Cards: 1 to 1000 are changed by imports alone (top-ups and emptyings, so the sequence of
// imports decides their balance); 1001 to 1010 by the operator alone (balances set and topped
// up, so the sequence of the operator's commands decides theirs); 1011 to 1020 are hot, half
// of all calls go to them, so writers meet on the same record all the time; 1011 to 1100 are
// the operator's (top-ups, telephone numbers) and the editor's; locks and unlocks go to 1101
// and up. Calls, imports' top-ups and new cards go to 1011 and up.
//
// At the end every participant is stopped, left-over orders are imported, and the file is
// checked: every record whole (its fields as some participant wrote them), no card lost or
// duplicated, the lock state that the imports left, every order line applied or in
// PREPAID.REJ, every batch marker in PREPAID.TRR or in a report (each report is read when its
// export ends, whole, as the export puts it in place), and for every card
//   final balance = initial + top-ups applied - units the stand-ins journalled.
// New cards are made by one order line each and touched by nothing else, so each holds exactly
// its line's amount: one that holds it twice is counted as an order applied twice.
// It prints one "name: value" line per figure, `lost_units` last, and exits 0 only when every
// check holds.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/file_io.h"
#include "platform/unique_fd.h"
#include "store/card_history.h"
#include "store/import.h"
#include "store/prepaid.h"
#include "store/record_update.h"
#include "store/report.h"
#include "testsupport/card_files.h"
#include "testsupport/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int32_t kQuietLast = 1000;
constexpr int32_t kSetFirst = 1001, kSetLast = 1010;    // the operator's alone
constexpr int32_t kDeskFirst = 1011, kDeskLast = 1100;  // the operator's and the editor's
constexpr int32_t kHotFirst = 1011, kHotLast = 1020;
constexpr int32_t kNewCardBase = 200000;
constexpr int kStandins = 3;
constexpr size_t kFileSystemBytes = 32 << 20;

volatile sig_atomic_t g_interrupted = 0;
void Interrupt(int) { g_interrupted = 1; }

struct Options {
  double minutes = 2;
  std::string standin, editor, keep;
  std::string cli;  // the operator's command line; without it the store is called directly
  bool lock = true;
  bool mount = true;
  int32_t cards = 100000;
  unsigned seed = 1;
};

// One order line of an import, as generated.
struct OrderLine {
  char command;  // 'A', 'D', 'L', 'U'; the operator's also 'S' (set the balance to the amount)
                 // and 'T' (set the telephone number: amount 3 or 4, the card's soak numbers)
  int32_t card;
  int32_t amount;
};

// What the final state of one card may be: every balance and lock state that the imports, in
// their order, can have left (more than one only where an order's fate is unknown), shifted by
// what the other participants added and took.
struct Expectation {
  std::set<std::pair<int64_t, bool>> imported;  // (balance, locked)
  int64_t added = 0;
  std::vector<int64_t> uncertain;  // changes whose fate is unknown
  bool undecided = false;          // an import line whose fate is unknown touched it
  int64_t charged = 0;             // units the stand-ins journalled
};

class Soak {
 public:
  explicit Soak(const Options& options) : options_(options), random_(options.seed) {}
  int Run();

 private:
  struct Process {
    std::string kind;
    bool killable;
    std::function<void(int status)> onExit;
    Clock::time_point started;
  };

  void Prepare();
  void Loop(Clock::time_point end);
  void StopEverything();
  void Reap(bool block);
  pid_t Spawn(const std::string& kind, bool killable, const std::vector<std::string>& argv,
              const std::string& output, std::function<void(int)> onExit);
  pid_t Fork(const std::string& kind, bool killable, const std::function<int()>& body,
             std::function<void(int)> onExit);
  // Runs the command line with `arguments` after its folder options when there is one, else
  // `storeCall` in a process of its own.
  pid_t Participant(const std::string& kind, bool killable, const std::function<int()>& storeCall,
                    const std::vector<std::string>& arguments, std::function<void(int)> onExit);
  bool Running(const std::string& kind) const;

  void StartStandin(int number);
  void StartEditor();
  void StartImport();
  void StartImportKilledAfterACardWrite();
  void CatchUpAfterAKill();
  // Stops (SIGSTOP) or continues the stand-ins and the editor.
  void HoldOthers(bool hold);
  // `newCards` of every 100 lines create a card.
  void DropOrderFile(int newCards = 5);
  void StartOperator();
  void StartExport(bool mayKill = true);
  void ReadReport();
  void StartCompaction(bool mayKill = true);
  // Kills some runs of `kind` at a random moment within the time its last run took.
  void MaybeKillWithin(pid_t pid, const std::string& kind);
  void KillSomebody();
  void FillFileSystem();
  void EndFill();
  void DrainImports();

  bool Check();
  long OrdersAppliedTwice(const std::map<int32_t, PrepaidCard>& stored);
  bool ReadOutcomes(std::map<int32_t, Expectation>* expected);
  bool CheckMarkers();
  long HistoryMismatches(const std::map<int32_t, PrepaidCard>& stored,
                         const std::map<int32_t, Expectation>& expected);
  void PrintFigures(double seconds, int64_t lost, long wrongCards, long unresolved);

  int32_t RandomCard(int32_t first, int32_t last) {
    return std::uniform_int_distribution<int32_t>(first, last)(random_);
  }
  bool Chance(int percent) { return std::uniform_int_distribution<int>(0, 99)(random_) < percent; }
  std::string DataDir() const { return fs_ + "data/"; }
  std::string ExchangeDir() const { return fs_ + "exchange/"; }

  const Options& options_;
  std::mt19937 random_;
  testsupport::TempDir work_;
  std::string fs_;
  bool mounted_ = false;
  bool stopping_ = false;
  std::map<pid_t, Process> processes_;
  std::vector<PrepaidCard> initial_;

  // Imports.
  std::vector<std::vector<OrderLine>> batches_;  // in the order they were dropped
  std::vector<std::string> markers_;
  int32_t nextNewCard_ = kNewCardBase;
  // The operator's commands in their order, and whether each reported success.
  std::vector<std::pair<OrderLine, bool>> commands_;

  // Figures.
  std::map<std::string, long> runs_, kills_, failures_;
  long fillSpells_ = 0;
  std::string fillPath_;
  std::string fullFlag_;  // while it exists, forked participants fail writes as on a full disk
  Clock::time_point fillEnds_{};
  std::map<std::string, Clock::duration> runTime_;  // how long the last run of a kind took
  // After an import killed at a card write: 1 begin, 2 compact, 3 export done; 0 none.
  int catchUp_ = 0;
  long catchUpCompactions_ = 0, catchUpAttempts_ = 0;
  bool held_ = false;

  // Reports: the batch markers of every report seen, and the last report's text.
  std::set<std::string> reportedMarkers_;
  std::string lastReport_;
};

// ---------------------------------------------------------------------------------------------
// Preparing

PrepaidCard InitialCard(int32_t number, std::mt19937& random) {
  PrepaidCard card = testsupport::CardBuilder(number)
                         .Balance(std::uniform_int_distribution<int32_t>(100000, 150000)(random))
                         .Telefon("0" + std::to_string(300000000 + number))
                         .Reserved(static_cast<uint8_t>(number * 7), static_cast<uint8_t>(number))
                         .Build();
  return card;
}

void Soak::Prepare() {
  fs_ = work_ / "fs/";
  mkdir(fs_.c_str(), 0755);
  const std::string size = "size=" + std::to_string(kFileSystemBytes);
  mounted_ = options_.mount && mount("soak", fs_.c_str(), "tmpfs", 0, size.c_str()) == 0;
  if (!mounted_) {
    std::printf(
        "note: no file system mounted (%s); the disk-full spells are injected into the "
        "imports and the operator's commands through the fault seam\n",
        options_.mount ? std::strerror(errno) : "--no-mount");
  }
  fullFlag_ = work_ / "disk-full";
  fillPath_ = fs_ + "filler";
  mkdir(DataDir().c_str(), 0755);
  mkdir(ExchangeDir().c_str(), 0755);
  mkdir((work_ / "run").c_str(), 0700);
  mkdir((work_ / "config").c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", (work_ / "run").c_str(), 1);
  setenv("LINDAVOX_CONFIG_DIR", (work_ / "config").c_str(), 1);
  initial_.reserve(static_cast<size_t>(options_.cards));
  for (int32_t number = 1; number <= options_.cards; ++number) {
    initial_.push_back(InitialCard(number, random_));
  }
  testsupport::WriteCardFile(DataDir() + "PREPAID.DAT", initial_);
}

// ---------------------------------------------------------------------------------------------
// Processes

// Where no file system can be mounted for the run, a full disk is played through the fault
// seam of platform/: while `flag` exists, every write to a file under `dir` fails with ENOSPC,
// except the rewrites of card records in PREPAID.DAT (which need no new space), and so do its
// appends, which cannot be told from them there; and the lines of the card history, whose room
// is allocated before each change.
void InjectDiskFull(const std::string& dir, const std::string& flag) {
  platform::SetFaultHook([dir, flag](platform::FileOp op, std::string_view path) {
    if (op != platform::FileOp::kWrite || path.rfind(dir, 0) != 0) return 0;
    if (path.size() >= 11 && (path.substr(path.size() - 11) == "PREPAID.DAT" ||
                              path.substr(path.size() - 11) == "PREPAID.HIS")) {
      return 0;
    }
    return access(flag.c_str(), F_OK) == 0 ? ENOSPC : 0;
  });
}

// The card editor's import, Prepaid_Include.
int32_t Import(const std::string& exchangeDir, const std::string& dataDir) {
  return store::Include(exchangeDir.c_str(), dataDir.c_str(), util::SplitGeneration::kCurrent);
}

pid_t Soak::Fork(const std::string& kind, bool killable, const std::function<int()>& body,
                 std::function<void(int)> onExit) {
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    if (!mounted_) InjectDiskFull(fs_, fullFlag_);
    _exit(body());
  }
  if (pid > 0) {
    processes_[pid] = {kind, killable, std::move(onExit), Clock::now()};
    ++runs_[kind];
  }
  return pid;
}

pid_t Soak::Spawn(const std::string& kind, bool killable, const std::vector<std::string>& argv,
                  const std::string& output, std::function<void(int)> onExit) {
  return Fork(
      kind, killable,
      [&] {
        const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out >= 0) {
          dup2(out, STDOUT_FILENO);
          dup2(out, STDERR_FILENO);
        }
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        return 127;
      },
      std::move(onExit));
}

pid_t Soak::Participant(const std::string& kind, bool killable,
                        const std::function<int()>& storeCall,
                        const std::vector<std::string>& arguments,
                        std::function<void(int)> onExit) {
  if (options_.cli.empty()) return Fork(kind, killable, storeCall, std::move(onExit));
  std::vector<std::string> argv = {options_.cli, "-d", DataDir(), "-x", ExchangeDir()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return Spawn(kind, killable, argv, work_ / (kind + ".out"), std::move(onExit));
}

bool Soak::Running(const std::string& kind) const {
  return std::any_of(processes_.begin(), processes_.end(),
                     [&](const auto& entry) { return entry.second.kind == kind; });
}

void Soak::Reap(bool block) {
  for (;;) {
    int status = 0;
    const pid_t pid = waitpid(-1, &status, block ? 0 : WNOHANG);
    if (pid <= 0) return;
    auto found = processes_.find(pid);
    if (found == processes_.end()) continue;
    Process process = std::move(found->second);
    processes_.erase(found);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
      ++kills_[process.kind];
    } else {
      runTime_[process.kind] = Clock::now() - process.started;
    }
    if (process.onExit) process.onExit(status);
    if (block) return;
  }
}

bool ExitedWith(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

// ---------------------------------------------------------------------------------------------
// Participants

void Soak::StartStandin(int number) {
  std::vector<std::string> argv = {
      options_.standin, DataDir(),
      "--rate",         "20",
      "--cards",        std::to_string(kHotFirst) + "-" + std::to_string(options_.cards),
      "--hot",          std::to_string(kHotFirst) + "-" + std::to_string(kHotLast) + ":50",
      "--charges",      "2-8",
      "--interval",     "40",
      "--journal",      work_ / ("standin" + std::to_string(number) + ".journal"),
      "--seed",         std::to_string(options_.seed * 100 + runs_["standin"])};
  if (!options_.lock) argv.push_back("--no-lock");
  Spawn("standin", true, argv, work_ / "standin.out", [this, number](int status) {
    if (!ExitedWith(status, 0) && !(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)) {
      ++failures_["standin"];
    }
    if (!stopping_) StartStandin(number);
  });
}

void Soak::StartEditor() {
  Spawn("editor", false,
        {options_.editor, DataDir(), "--log", work_ / "editor.log", "--cards",
         std::to_string(kDeskFirst) + "-" + std::to_string(kDeskLast), "--rate", "4", "--think",
         "150", "--seed", std::to_string(options_.seed)},
        work_ / "editor.out", [this](int status) {
          if (!ExitedWith(status, 0)) ++failures_["editor"];
        });
}

// A new order file for the exchange directory, written beside it and renamed into place, so
// the import never sees half of it.
void Soak::DropOrderFile(int newCards) {
  const size_t batch = batches_.size();
  std::vector<OrderLine> lines;
  char marker[32];
  std::snprintf(marker, sizeof marker, "E%06zu", batch);
  std::string text = std::string(marker) + "\r\n";
  for (int i = 0; i < 60; ++i) {
    OrderLine line{};
    const int kind = std::uniform_int_distribution<int>(0, 99 + newCards - 5)(random_);
    if (kind < 45) {
      line = {'A', RandomCard(kDeskFirst, kDeskLast), RandomCard(1, 100)};
    } else if (kind < 65) {
      line = {'A', RandomCard(kDeskLast + 1, options_.cards), RandomCard(1, 100)};
    } else if (kind < 75) {
      line = {'A', RandomCard(1, kQuietLast), RandomCard(1, 500)};
    } else if (kind < 80) {
      line = {'D', RandomCard(1, kQuietLast), 0};
    } else if (kind < 95) {
      line = {Chance(50) ? 'L' : 'U', RandomCard(kDeskLast + 1, options_.cards), 0};
    } else {
      line = {'A', nextNewCard_++, RandomCard(1, 100)};
    }
    char row[96];
    // The fourth field names the line; the import does not read it.
    std::snprintf(row, sizeof row, "%c,%d,%d,b%zul%d\r\n", line.command, line.card, line.amount,
                  batch, i);
    text += row;
    lines.push_back(line);
  }
  // Written beside the order file and renamed: the write may meet a full file system, and then
  // the batch is dropped later.
  const std::string temporary = ExchangeDir() + ".PREPAID.INC.drop";
  platform::UniqueFd out(open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
  if (!out || !platform::WriteAll(out.get(), text.data(), text.size(), temporary) ||
      out.Close() != 0 || rename(temporary.c_str(), (ExchangeDir() + "PREPAID.INC").c_str()) != 0) {
    unlink(temporary.c_str());
    ++failures_["drop"];
    return;
  }
  batches_.push_back(std::move(lines));
  markers_.push_back(marker);
}

void Soak::StartImport() {
  if (access((ExchangeDir() + "PREPAID.INC").c_str(), F_OK) != 0) DropOrderFile();
  if (access((ExchangeDir() + "PREPAID.INC").c_str(), F_OK) != 0) return;
  const std::string exchange = ExchangeDir(), data = DataDir();
  const pid_t pid = Participant(
      "import", true, [exchange, data] { return Import(exchange, data) == 1 ? 0 : 1; }, {"import"},
      [this](int status) {
        if (WIFEXITED(status) && WEXITSTATUS(status) != 0) ++failures_["import"];
      });
  MaybeKillWithin(pid, "import");
}

// Its orders create more cards than the others' (a quarter of them), so that many kills fall
// right after a new card is appended, and the compaction that follows moves it.
void Soak::StartImportKilledAfterACardWrite() {
  if (access((ExchangeDir() + "PREPAID.INC").c_str(), F_OK) != 0) DropOrderFile(35);
  if (access((ExchangeDir() + "PREPAID.INC").c_str(), F_OK) != 0) return;
  const std::string exchange = ExchangeDir(), data = DataDir(), cards = data + "PREPAID.DAT";
  const int write = std::uniform_int_distribution<int>(1, 40)(random_);
  Fork(
      "import", false,
      [=] {
        int writes = 0;
        bool written = false;  // the chosen write is done: the next change of a file is not
        const platform::FaultHook before = platform::SetFaultHook(nullptr);
        platform::SetFaultHook([=](platform::FileOp op, std::string_view path) mutable {
          const bool change = op == platform::FileOp::kWrite || op == platform::FileOp::kRename ||
                              op == platform::FileOp::kRemove;
          if (change && written) raise(SIGKILL);
          if (op == platform::FileOp::kWrite && path == cards && ++writes == write) written = true;
          return before ? before(op, path) : 0;
        });
        return Import(exchange, data) == 1 ? 0 : 1;
      },
      [this](int status) {
        if (WIFSIGNALED(status)) {
          ++runs_["imports_killed_at_a_card_write"];
          catchUp_ = 1;
        } else if (!ExitedWith(status, 0)) {
          ++failures_["import"];
        }
      });
}

// Between an import killed at a card write and the next import: a compaction, then an export.
// The stand-ins and the editor keep the card file open nearly all the time, and a compaction
// replaces it only when nobody has it open, so they are held (SIGSTOP) for each attempt, as at
// the quiet hour an operator compacts at, and go on between attempts.
void Soak::CatchUpAfterAKill() {
  if (Running("compaction") || Running("export")) return;
  HoldOthers(false);
  switch (catchUp_) {
    case 1:
      catchUpCompactions_ = runs_["compactions_done"];
      catchUpAttempts_ = 0;
      catchUp_ = 2;
      return;
    case 2:
      if (runs_["compactions_done"] == catchUpCompactions_ && ++catchUpAttempts_ <= 30) {
        HoldOthers(true);
        StartCompaction(false);
        return;
      }
      StartExport(false);
      catchUp_ = 3;
      return;
    default:
      ++runs_["compactions_and_exports_after_a_kill"];
      if (catchUpAttempts_ > 30) ++failures_["compaction_after_a_kill"];
      catchUp_ = 0;
  }
}

// True when process `pid` has the file at `path` open.
bool HoldsFile(pid_t pid, const std::string& path) {
  const std::string folder = "/proc/" + std::to_string(pid) + "/fd/";
  DIR* fds = opendir(folder.c_str());
  if (!fds) return false;
  bool holds = false;
  while (const dirent* entry = readdir(fds)) {
    char target[4096];
    const ssize_t length = readlink((folder + entry->d_name).c_str(), target, sizeof target);
    holds = holds || (length > 0 &&
                      path.compare(0, std::string::npos, target, static_cast<size_t>(length)) == 0);
  }
  closedir(fds);
  return holds;
}

// True once process `pid` has stopped (or is gone).
bool HasStopped(pid_t pid) {
  const std::string stat = testsupport::ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t state = stat.rfind(") ");
  return state == std::string::npos || stat[state + 2] == 'T' || stat[state + 2] == 't';
}

// Holding stops each one at a moment when it does not have the card file open, waiting a
// little for such a moment (bounded: a process that never lets go stays running).
void Soak::HoldOthers(bool hold) {
  if (held_ == hold) return;
  held_ = hold;
  const std::string cards = DataDir() + "PREPAID.DAT";
  for (const auto& [pid, process] : processes_) {
    if (process.kind != "standin" && process.kind != "editor") continue;
    if (!hold) {
      kill(pid, SIGCONT);
      continue;
    }
    for (int attempt = 0; attempt < 500; ++attempt) {
      kill(pid, SIGSTOP);
      for (int wait = 0; wait < 1000 && !HasStopped(pid); ++wait) {
        const struct timespec pause { 0, 100'000 };
        nanosleep(&pause, nullptr);
      }
      if (!HoldsFile(pid, cards)) break;
      kill(pid, SIGCONT);
      const struct timespec pause { 0, 1'000'000 };
      nanosleep(&pause, nullptr);
    }
  }
}

void Soak::MaybeKillWithin(pid_t pid, const std::string& kind) {
  if (pid <= 0 || !Chance(30)) return;
  const auto last = runTime_.count(kind) ? runTime_[kind] : milliseconds(20);
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(last).count();
  const struct timespec pause {
    0, std::uniform_int_distribution<long>(0, std::min<long>(ns, 500'000'000))(random_)
  };
  nanosleep(&pause, nullptr);
  kill(pid, SIGKILL);
}

void Soak::StartExport(bool mayKill) {
  const std::string exchange = ExchangeDir(), data = DataDir();
  const pid_t pid = Participant(
      "export", true,
      [exchange, data] {
        PrepaidConfig config{};
        Prepaid_ReadConfig(data.c_str(), &config);
        return store::Export(exchange.c_str(), data.c_str(), &config,
                             store::ReportDate::kWithSeconds) == 1
                   ? 0
                   : 1;
      },
      {"export"},
      [this](int status) {
        if (WIFEXITED(status) && WEXITSTATUS(status) != 0) ++failures_["export"];
        ReadReport();
      });
  if (mayKill) MaybeKillWithin(pid, "export");
}

// The report in place now: whatever became of the export, PREPAID.TXT is a whole report, the
// last one put in place. Its markers count as handed over; its lines must be report lines.
void Soak::ReadReport() {
  std::string report = testsupport::ReadFile(ExchangeDir() + "PREPAID.TXT");
  if (report.empty() || report == lastReport_) return;
  ++runs_["reports"];
  std::istringstream lines(report);
  std::string line;
  bool dateLine = true;
  while (std::getline(lines, line)) {
    const bool ended = !line.empty() && line.back() == '\r';
    if (ended) line.pop_back();
    bool fits = ended;
    if (dateLine) {
      fits = fits && line.size() == 17;
      dateLine = false;
    } else if (!line.empty() && line[0] == 'E') {
      reportedMarkers_.insert(line);
    } else {
      int32_t card = 0, balance = 0;
      char lock[4] = "";
      const int fields = std::sscanf(line.c_str(), "%d,%d,%3s", &card, &balance, lock);
      fits = fits && fields >= 2 && balance != 0 && (fields == 2 || std::strcmp(lock, "L") == 0);
    }
    if (!fits && ++failures_["report_lines"] <= 5) {
      std::printf("fault: report line \"%s\"\n", line.c_str());
    }
  }
  lastReport_ = std::move(report);
}

void Soak::StartCompaction(bool mayKill) {
  const std::string data = DataDir();
  const pid_t pid = Participant(
      "compaction", true, [data] { return Prepaid_Reorganize(data.c_str()) == 1 ? 0 : 1; },
      {"reorganize"},
      [this](int status) {
        if (ExitedWith(status, 0)) ++runs_["compactions_done"];
      });
  if (mayKill) MaybeKillWithin(pid, "compaction");
}

// The operator's command, run as a process of its own: found where the card is now (a locked
// card too, as an import line finds it) and changed under its record lock.
int OperatorCommand(const std::string& dataDir, const OrderLine& command) {
  int32_t index = 0;
  PrepaidCard card{};
  Prepaid_Search(dataDir.c_str(), command.card, &index, &card);
  const auto change = [&](PrepaidCard* record) {
    switch (command.command) {
      case 'A':
        record->balance += command.amount;
        break;
      case 'S':
        record->balance = command.amount;
        break;
      default:  // 'T': one of the card's two soak numbers
        record->telefonLow = command.amount * 100000000 + command.card;
    }
    return true;
  };
  const store::UpdateResult result =
      store::UpdateCard(dataDir.c_str(), index, command.card, change);
  return result == store::UpdateResult::kWritten || result == store::UpdateResult::kUnchanged ? 0
                                                                                              : 1;
}

void Soak::StartOperator() {
  OrderLine command{};
  const int kind = std::uniform_int_distribution<int>(0, 99)(random_);
  if (kind < 50) {
    command = {'A', RandomCard(kDeskFirst, kDeskLast), RandomCard(1, 100)};
  } else if (kind < 65) {
    command = {'A', RandomCard(kSetFirst, kSetLast), RandomCard(1, 100)};
  } else if (kind < 80) {
    command = {'S', RandomCard(kSetFirst, kSetLast), RandomCard(1000, 200000)};
  } else {
    command = {'T', RandomCard(kDeskFirst, kDeskLast), RandomCard(3, 4)};
  }
  const std::string card = std::to_string(command.card), amount = std::to_string(command.amount);
  std::vector<std::string> arguments;
  switch (command.command) {
    case 'A':
      arguments = {"topup", card, amount, "--create"};  // as the store's order, which creates
      break;
    case 'S':
      arguments = {"set", card, "--balance", amount};
      break;
    default:
      arguments = {"set", card, "--phone",
                   "0" + std::to_string(command.amount * 100000000 + command.card)};
  }
  const std::string data = DataDir();
  Participant(
      "operator", false, [data, command] { return OperatorCommand(data, command); }, arguments,
      [this, command](int status) {
        const bool done = ExitedWith(status, 0);
        commands_.push_back({command, done});
        if (!done) ++failures_["operator"];
      });
}

void Soak::KillSomebody() {
  std::vector<pid_t> candidates;
  for (const auto& [pid, process] : processes_) {
    if (process.killable) candidates.push_back(pid);
  }
  if (candidates.empty()) return;
  kill(candidates[std::uniform_int_distribution<size_t>(0, candidates.size() - 1)(random_)],
       SIGKILL);
}

void Soak::FillFileSystem() {
  ++fillSpells_;
  fillEnds_ = Clock::now() + milliseconds(std::uniform_int_distribution<int>(1000, 3000)(random_));
  if (!mounted_) {
    testsupport::WriteFile(fullFlag_, "");
    return;
  }
  platform::UniqueFd filler(open(fillPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
  if (!filler) return;
  static const std::vector<char> block(1 << 20, 'F');
  size_t size = block.size();
  while (size >= 512) {
    if (!platform::WriteAll(filler.get(), block.data(), size, fillPath_)) size /= 2;
  }
}

void Soak::EndFill() {
  unlink(fillPath_.c_str());
  unlink(fullFlag_.c_str());
  fillEnds_ = {};
}

void Soak::Loop(Clock::time_point end) {
  auto every = [this](int low, int high) {
    return Clock::now() + milliseconds(std::uniform_int_distribution<int>(low, high)(random_));
  };
  Clock::time_point nextImport = every(500, 1500), nextOperator = every(100, 500),
                    nextKill = every(1000, 4000), nextFill = every(5000, 15000),
                    nextExport = every(2000, 6000), nextCompaction = every(3000, 9000);
  while (!g_interrupted && Clock::now() < end) {
    Reap(false);
    const Clock::time_point now = Clock::now();
    if (catchUp_ != 0) CatchUpAfterAKill();
    if (now >= nextImport && !Running("import") && catchUp_ == 0) {
      if (Chance(25)) {
        StartImportKilledAfterACardWrite();
      } else {
        StartImport();
      }
      nextImport = every(1500, 4000);
    }
    if (now >= nextExport && !Running("export")) {
      StartExport();
      nextExport = every(4000, 8000);
    }
    if (now >= nextCompaction && !Running("compaction")) {
      StartCompaction();
      nextCompaction = every(6000, 12000);
    }
    if (now >= nextOperator && !Running("operator")) {
      StartOperator();
      nextOperator = every(200, 800);
    }
    if (now >= nextKill) {
      KillSomebody();
      nextKill = every(1000, 4000);
    }
    if (fillEnds_ == Clock::time_point{} && now >= nextFill) {
      FillFileSystem();
      nextFill = every(5000, 15000);
    }
    if (fillEnds_ != Clock::time_point{} && now >= fillEnds_) EndFill();
    const struct timespec pause { 0, 10'000'000 };
    nanosleep(&pause, nullptr);
  }
}

void Soak::StopEverything() {
  stopping_ = true;
  HoldOthers(false);
  if (fillEnds_ != Clock::time_point{}) EndFill();
  for (const auto& [pid, process] : processes_) kill(pid, SIGTERM);
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(30);
  while (!processes_.empty() && Clock::now() < deadline) {
    Reap(false);
    const struct timespec pause { 0, 10'000'000 };
    nanosleep(&pause, nullptr);
  }
  for (const auto& [pid, process] : processes_) {
    std::printf("note: %s (pid %d) did not stop; killed\n", process.kind.c_str(), pid);
    kill(pid, SIGKILL);
    ++failures_[process.kind];
  }
  while (!processes_.empty()) Reap(true);
  // What a stand-in killed last left pending is settled by a run that only opens its journal.
  for (int number = 0; number < kStandins; ++number) {
    Spawn("settle", false,
          {options_.standin, DataDir(), "--settle", "--journal",
           work_ / ("standin" + std::to_string(number) + ".journal")},
          work_ / "standin.out", [this](int status) {
            if (!ExitedWith(status, 0)) ++failures_["settle"];
          });
    Reap(true);
  }
}

// Imports what is left: an order file a killed or stopped import left behind.
void Soak::DrainImports() {
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (access((ExchangeDir() + "PREPAID.INC").c_str(), F_OK) != 0) return;
    Import(ExchangeDir(), DataDir());
  }
  std::printf("note: PREPAID.INC could not be imported to the end\n");
  ++failures_["import"];
}

// ---------------------------------------------------------------------------------------------
// Checking

// The outcomes of every participant, card by card.
bool Soak::ReadOutcomes(std::map<int32_t, Expectation>* expected) {
  // Order lines not applied, by the name in their fourth field, and whether it is known.
  std::map<std::string, bool> rejected;  // name -> fate unknown
  {
    std::istringstream rej(testsupport::ReadFile(ExchangeDir() + "PREPAID.REJ"));
    std::string line;
    bool unknown = false;
    while (std::getline(rej, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.rfind("; not applied: ", 0) == 0) {
        unknown = line.find("cannot be told") != std::string::npos;
        continue;
      }
      const size_t name = line.rfind(',');
      if (name == std::string::npos || rejected.count(line.substr(name + 1))) {
        std::printf("fault: unexpected line in PREPAID.REJ: %s\n", line.c_str());
        return false;
      }
      rejected[line.substr(name + 1)] = unknown;
    }
  }
  runs_["rejected_lines"] = static_cast<long>(rejected.size());

  const auto imported = [&](int32_t card) -> std::set<std::pair<int64_t, bool>>& {
    auto found = expected->find(card);
    if (found == expected->end()) {
      const bool original = card >= 1 && card <= options_.cards;
      found = expected->emplace(card, Expectation{}).first;
      found->second.imported.insert({original ? initial_[card - 1].balance : 0, false});
    }
    return found->second.imported;
  };
  for (size_t batch = 0; batch < batches_.size(); ++batch) {
    for (size_t i = 0; i < batches_[batch].size(); ++i) {
      const OrderLine& line = batches_[batch][i];
      const auto fate = rejected.find("b" + std::to_string(batch) + "l" + std::to_string(i));
      if (fate != rejected.end() && !fate->second) continue;  // not applied
      std::set<std::pair<int64_t, bool>>& states = imported(line.card);
      if (fate != rejected.end()) (*expected)[line.card].undecided = true;
      std::set<std::pair<int64_t, bool>> next;
      for (const auto& [balance, locked] : states) {
        switch (line.command) {
          case 'A':
            next.insert({balance + line.amount, locked});
            break;
          case 'D':
            next.insert({0, locked});
            break;
          default:
            next.insert({balance, line.command == 'L'});
        }
        if (fate != rejected.end()) next.insert({balance, locked});  // applied or not
      }
      states = std::move(next);
    }
  }

  // The operator's commands, in their order; one that failed may or may not have been applied.
  for (const auto& [command, done] : commands_) {
    if (command.command == 'T') continue;
    if (command.card >= kSetFirst && command.card <= kSetLast) {
      std::set<std::pair<int64_t, bool>>& states = imported(command.card);
      std::set<std::pair<int64_t, bool>> next;
      for (const auto& [balance, locked] : states) {
        next.insert({command.command == 'S' ? command.amount : balance + command.amount, locked});
        if (!done) next.insert({balance, locked});
      }
      states = std::move(next);
    } else {
      imported(command.card);
      if (done) {
        (*expected)[command.card].added += command.amount;
      } else {
        (*expected)[command.card].uncertain.push_back(command.amount);
      }
    }
  }
  std::istringstream editor(testsupport::ReadFile(work_ / "editor.log"));
  std::string kind;
  int32_t card = 0;
  while (editor >> kind >> card) {
    if (kind != "saved") {
      ++runs_["editor_" + kind];
      continue;
    }
    int64_t units = 0;
    editor >> units;
    imported(card);
    (*expected)[card].added += units;
    ++runs_["editor_saves"];
  }
  for (int number = 0; number < kStandins; ++number) {
    std::istringstream journal(
        testsupport::ReadFile(work_ / ("standin" + std::to_string(number) + ".journal")));
    int64_t units = 0;
    while (journal >> kind >> card >> units) {
      imported(card);
      if (kind == "charge") {
        (*expected)[card].added -= units;
        (*expected)[card].charged += units;
        runs_["standin_charges"] += 1;
      } else {
        (*expected)[card].uncertain.push_back(-units);
      }
    }
  }
  return true;
}

// The record as one of the participants writes it: the generator's fields, or, for a card an
// import created, zeros; a telephone number of the editor's two, a last number of a stand-in.
bool WholeRecord(const PrepaidCard& card, int32_t cards) {
  const bool original = card.cardNumber >= 1 && card.cardNumber <= cards;
  const bool fresh = card.reserved[0] == 0 && card.reserved[1] == 0 && card.telefonDigits == 0 &&
                     card.telefonHigh == 0 && card.telefonLow == 0;
  const bool generated = original &&
                         card.reserved[0] == static_cast<uint8_t>(card.cardNumber * 7) &&
                         card.reserved[1] == static_cast<uint8_t>(card.cardNumber) &&
                         card.telefonDigits == 10 && card.telefonHigh == 0 &&
                         (card.telefonLow == 300000000 + card.cardNumber ||
                          card.telefonLow == 400000000 + card.cardNumber);
  const bool last = (card.lastDigits == 0 && card.lastHigh == 0 && card.lastLow == 0) ||
                    (card.lastDigits == 10 && card.lastHigh == 0 && card.lastLow >= 100000000 &&
                     card.lastLow <= 999999999);
  const bool flags = card.flags == 0 || card.flags == PREPAID_CARD_LOCKED;
  return (generated || fresh) && last && flags;
}

bool Soak::CheckMarkers() {
  const std::string recorded = testsupport::ReadFile(ExchangeDir() + "PREPAID.TRR");
  bool ok = true;
  for (const std::string& marker : markers_) {
    const std::string line = marker + "\r\n";
    const size_t at = recorded.find(line);
    if (at != std::string::npos && recorded.find(line, at + 1) != std::string::npos) {
      std::printf("fault: batch marker %s is in PREPAID.TRR twice\n", marker.c_str());
      ok = false;
    }
    if (at == std::string::npos && !reportedMarkers_.count(marker)) {
      std::printf("fault: batch marker %s is neither in PREPAID.TRR nor in a report\n",
                  marker.c_str());
      ok = false;
    }
  }
  return ok;
}

// New cards are made by one order line each and touched by nothing else: a card that holds its
// line's amount twice had its order applied twice.
long Soak::OrdersAppliedTwice(const std::map<int32_t, PrepaidCard>& stored) {
  long twice = 0;
  for (const std::vector<OrderLine>& batch : batches_) {
    for (const OrderLine& line : batch) {
      const auto found = line.card >= kNewCardBase ? stored.find(line.card) : stored.end();
      if (found == stored.end() || found->second.balance != 2 * int64_t{line.amount}) continue;
      if (++twice <= 10) {
        std::printf("fault: new card %d holds %d units: its top-up of %d was applied twice\n",
                    line.card, found->second.balance, line.amount);
      }
    }
  }
  runs_["orders_applied_twice"] = twice;
  return twice;
}

// The card history adds up: every change that the editor, the command line and the imports
// made is listed once, so a card holds its initial balance plus the units those lines moved
// (balance after less balance before) less the units the stand-ins journalled, which are not
// listed. Cards that a change of unknown fate touched (an order the interrupted import could
// not tell, a command or a charge that was killed) are left out and counted.
long Soak::HistoryMismatches(const std::map<int32_t, PrepaidCard>& stored,
                             const std::map<int32_t, Expectation>& expected) {
  std::map<int32_t, int64_t> moved;
  long lines = 0, unreadable = 0;
  const int error = store::ReadHistoryLines(DataDir().c_str(), [&](std::string_view text) {
    store::HistoryEntry entry;
    if (!store::ParseHistoryLine(text, &entry)) {
      unreadable += text != store::kHistoryHeader;
      return true;
    }
    ++lines;
    if (entry.program == "editor" || entry.program == "command" || entry.program == "import") {
      moved[entry.card] += int64_t{entry.balanceAfter} - entry.balanceBefore;
    }
    return true;
  });
  long wrong = unreadable + (error != 0);
  long skipped = 0;
  std::set<int32_t> cards;
  for (const auto& [card, units] : moved) cards.insert(card);
  for (const auto& [card, expectation] : expected) cards.insert(card);
  for (const int32_t card : cards) {
    const auto expectation = expected.find(card);
    if (expectation != expected.end() &&
        (expectation->second.undecided || !expectation->second.uncertain.empty())) {
      ++skipped;
      continue;
    }
    const bool original = card >= 1 && card <= options_.cards;
    const int64_t initial = original ? initial_[card - 1].balance : 0;
    const int64_t charged = expectation == expected.end() ? 0 : expectation->second.charged;
    const auto found = stored.find(card);
    const int64_t balance = found == stored.end() ? 0 : found->second.balance;
    const auto listed = moved.find(card);
    const int64_t sum = initial + (listed == moved.end() ? 0 : listed->second) - charged;
    if (balance != sum && ++wrong <= 10) {
      std::printf("fault: card %d holds %lld units, its history accounts for %lld\n", card,
                  static_cast<long long>(balance), static_cast<long long>(sum));
    }
  }
  if (error != 0) std::printf("fault: the card history cannot be read: error %d\n", error);
  if (unreadable > 0)
    std::printf("fault: %ld lines of the card history are no history lines\n", unreadable);
  runs_["history_lines"] = lines;
  runs_["history_cards_left_out"] = skipped;
  runs_["history_mismatches"] = wrong;
  return wrong;
}

// The balance the card may hold that is nearest to `balance`: an import state shifted by what
// the others added, and by any choice of the uncertain changes.
int64_t Nearest(const Expectation& expectation, int64_t balance, bool locked, bool* lockRight) {
  int64_t best = 0, distance = INT64_MAX;
  *lockRight = false;
  const size_t choices = size_t{1} << std::min<size_t>(expectation.uncertain.size(), 12);
  for (const auto& [imported, importedLock] : expectation.imported) {
    for (size_t mask = 0; mask < choices; ++mask) {
      int64_t value = imported + expectation.added;
      for (size_t bit = 0; bit < expectation.uncertain.size() && bit < 12; ++bit) {
        if (mask & (size_t{1} << bit)) value += expectation.uncertain[bit];
      }
      const int64_t off = value > balance ? value - balance : balance - value;
      if (off < distance) {
        distance = off;
        best = value;
      }
    }
    if (importedLock == locked) *lockRight = true;
  }
  return best;
}

bool Soak::Check() {
  const std::string bytes = testsupport::ReadFile(DataDir() + "PREPAID.DAT");
  bool ok = true;
  if (bytes.size() % PREPAID_RECORD_SIZE != 0) {
    std::printf("fault: PREPAID.DAT ends in a piece of %zu bytes\n",
                bytes.size() % PREPAID_RECORD_SIZE);
    ok = false;
  }
  std::map<int32_t, Expectation> expected;
  if (!ReadOutcomes(&expected)) ok = false;
  ok = CheckMarkers() && ok;
  if (failures_.count("report_lines")) ok = false;

  std::map<int32_t, PrepaidCard> stored;
  long torn = 0;
  for (const PrepaidCard& card : testsupport::ReadCardFile(DataDir() + "PREPAID.DAT")) {
    if (!stored.emplace(card.cardNumber, card).second) {
      std::printf("fault: card %d is in the file twice\n", card.cardNumber);
      ok = false;
    }
    if (!WholeRecord(card, options_.cards)) {
      if (++torn <= 10) std::printf("fault: record of card %d is not whole\n", card.cardNumber);
      ok = false;
    }
    const bool known = (card.cardNumber >= 1 && card.cardNumber <= options_.cards) ||
                       (card.cardNumber >= kNewCardBase && card.cardNumber < nextNewCard_);
    if (!known) {
      std::printf("fault: card %d was never made\n", card.cardNumber);
      ok = false;
    }
  }
  if (OrdersAppliedTwice(stored) > 0) ok = false;
  if (HistoryMismatches(stored, expected) > 0) ok = false;
  // Cards nobody touched keep their initial balance.
  for (int32_t number = 1; number <= options_.cards; ++number) {
    auto found = expected.find(number);
    if (found == expected.end()) {
      expected[number].imported.insert({initial_[number - 1].balance, false});
    }
  }
  int64_t extra = 0, missing = 0;  // units more or fewer than the participants account for
  long wrongCards = 0, wrongLocks = 0, unresolved = 0;
  for (const auto& [number, expectation] : expected) {
    const auto found = stored.find(number);
    // A compaction drops a card without units: missing counts as 0.
    const int64_t balance = found == stored.end() ? 0 : found->second.balance;
    const bool locked = found != stored.end() && (found->second.flags & PREPAID_CARD_LOCKED) != 0;
    bool lockRight = false;
    const int64_t nearest = Nearest(expectation, balance, locked, &lockRight);
    unresolved += static_cast<long>(expectation.uncertain.size());
    if (balance != nearest) {
      if (++wrongCards <= 10) {
        std::printf("fault: card %d holds %lld units, %lld expected\n", number,
                    static_cast<long long>(balance), static_cast<long long>(nearest));
      }
      if (balance > nearest) {
        extra += balance - nearest;
      } else {
        missing += nearest - balance;
      }
    }
    if (!lockRight && found != stored.end() && number > kDeskLast) {
      if (++wrongLocks <= 10) std::printf("fault: card %d has the wrong lock\n", number);
    }
  }
  runs_["wrong_locks"] = wrongLocks;
  runs_["units_extra"] = static_cast<long>(extra);
  runs_["units_missing"] = static_cast<long>(missing);
  const double seconds = options_.minutes * 60;
  PrintFigures(seconds, extra + missing, wrongCards, unresolved);
  return ok && wrongLocks == 0 && extra + missing == 0;
}

void Soak::PrintFigures(double seconds, int64_t lost, long wrongCards, long unresolved) {
  const auto perSecond = [&](const char* name, double count) {
    std::printf("%s: %.1f\n", name, count / seconds);
  };
  std::printf("minutes: %.1f\ncards: %d\nrecord_locks: %s\n", options_.minutes, options_.cards,
              options_.lock ? "on" : "off");
  perSecond("standin_charges_per_s", static_cast<double>(runs_["standin_charges"]));
  perSecond("imports_per_s", static_cast<double>(runs_["import"]));
  perSecond("order_lines_per_s", static_cast<double>(batches_.size() * 60));
  perSecond("operator_commands_per_s", static_cast<double>(commands_.size()));
  perSecond("editor_saves_per_s", static_cast<double>(runs_["editor_saves"]));
  perSecond("exports_per_s", static_cast<double>(runs_["export"]));
  perSecond("compactions_per_s", static_cast<double>(runs_["compaction"]));
  std::printf("compactions_done: %ld\nreports_read: %ld\n", runs_["compactions_done"],
              runs_["reports"]);
  std::printf("editor_refused: %ld\n", runs_["editor_refused"]);
  std::printf("order_lines_rejected: %ld\n", runs_["rejected_lines"]);
  std::printf("imports_killed_at_a_card_write: %ld\ncompactions_and_exports_after_a_kill: %ld\n",
              runs_["imports_killed_at_a_card_write"],
              runs_["compactions_and_exports_after_a_kill"]);
  std::printf("orders_applied_twice: %ld\n", runs_["orders_applied_twice"]);
  std::printf("history_lines: %ld\nhistory_cards_left_out: %ld\nhistory_mismatches: %ld\n",
              runs_["history_lines"], runs_["history_cards_left_out"], runs_["history_mismatches"]);
  long kills = 0, faults = 0;
  for (const auto& [kind, count] : kills_) {
    std::printf("kills_%s: %ld\n", kind.c_str(), count);
    kills += count;
  }
  for (const auto& [kind, count] : failures_) {
    std::printf("failed_%s: %ld\n", kind.c_str(), count);
    faults += count;
  }
  std::printf("kills: %ld\ndisk_full_spells: %ld\nfaults: %ld\nunresolved_changes: %ld\n", kills,
              fillSpells_, faults, unresolved);
  std::printf("cards_wrong_lock: %ld\n", runs_["wrong_locks"]);
  std::printf("units_extra: %ld\nunits_missing: %ld\n", runs_["units_extra"],
              runs_["units_missing"]);
  std::printf("cards_wrong: %ld\nlost_units: %lld\n", wrongCards, static_cast<long long>(lost));
}

int Soak::Run() {
  Prepare();
  for (int number = 0; number < kStandins; ++number) StartStandin(number);
  StartEditor();
  Loop(Clock::now() + std::chrono::duration_cast<Clock::duration>(
                          std::chrono::duration<double>(options_.minutes * 60)));
  StopEverything();
  DrainImports();
  const bool ok = Check();
  if (!options_.keep.empty()) {
    const std::string copy = "cp -a '" + work_.path() + ".' '" + options_.keep + "'";
    if (std::system(copy.c_str()) != 0) std::printf("note: could not keep the files\n");
  }
  if (mounted_) umount2(fs_.c_str(), MNT_DETACH);
  return ok ? 0 : 1;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--no-lock" || name == "--no-mount") {
      (name == "--no-lock" ? options->lock : options->mount) = false;
      continue;
    }
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    if (name == "--minutes") {
      options->minutes = std::atof(value.c_str());
    } else if (name == "--standin") {
      options->standin = value;
    } else if (name == "--editor") {
      options->editor = value;
    } else if (name == "--cli") {
      options->cli = value;
    } else if (name == "--cards") {
      options->cards = std::atoi(value.c_str());
    } else if (name == "--seed") {
      options->seed = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
    } else if (name == "--keep") {
      options->keep = value;
    } else {
      return false;
    }
  }
  return options->minutes > 0 && !options->standin.empty() && !options->editor.empty() &&
         options->cards > kDeskLast;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: soak --minutes N --standin PATH --editor PATH [--cli PATH] [--no-lock] "
                 "[--no-mount] "
                 "[--cards N] [--seed N] [--keep DIR]\n");
    return 2;
  }
  signal(SIGINT, Interrupt);
  signal(SIGTERM, Interrupt);
  setvbuf(stdout, nullptr, _IOLBF, 0);
  return Soak(options).Run();
}
