#include "platform/share.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "testsupport/file_test.h"
#include "testsupport/other_process.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using testsupport::ReadFile;
using testsupport::RunWithin;
using testsupport::WriteFile;

struct Mode {
  unsigned access;
  unsigned share;
};

std::string Describe(Mode mode) {
  static const char* kAccess[] = {"-", "read", "write", "read+write"};
  static const char* kShare[] = {"deny read+write", "deny write", "deny read", "deny none"};
  return std::string(kAccess[mode.access]) + "/" + kShare[mode.share];
}

// The Windows rule: each open's access must be shared by the other.
bool Compatible(Mode first, Mode second) {
  auto tolerates = [](Mode holder, Mode other) {
    return (!(holder.access & kAccessRead) || (other.share & kShareRead)) &&
           (!(holder.access & kAccessWrite) || (other.share & kShareWrite));
  };
  return tolerates(first, second) && tolerates(second, first);
}

OpenRequest Request(Mode mode) { return {mode.access, mode.share, Disposition::kOpenExisting}; }

// Another process that holds `path` open as `request` asks until it is released or killed.
class Holder : public testsupport::OtherProcess {
 public:
  Holder(const std::string& path, const OpenRequest& request)
      : OtherProcess([&] {
          static SharedFile file;
          return SharedFile::Open(path, request, &file) == 0;
        }) {}
  bool opened() const { return succeeded(); }
};

std::vector<Mode> AllModes() {
  std::vector<Mode> modes;
  for (unsigned access : {kAccessRead, kAccessWrite, kAccessReadWrite}) {
    for (unsigned share : {kShareNone, kShareRead, kShareWrite, kShareReadWrite}) {
      modes.push_back({access, share});
    }
  }
  return modes;
}

class ShareTest : public testsupport::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    file_ = Path("card.dat");
    WriteFile(file_, "0123456789");
  }
  std::string file_;
};

TEST_F(ShareTest, EverySecondOpenFollowsTheWindowsRuleAgainstAnotherProcess) {
  for (Mode first : AllModes()) {
    Holder holder(file_, Request(first));
    ASSERT_TRUE(holder.opened()) << Describe(first);
    for (Mode second : AllModes()) {
      SharedFile file;
      const int result = SharedFile::Open(file_, Request(second), &file);
      const bool expected = Compatible(first, second);
      EXPECT_EQ(result, expected ? 0 : kSharingViolation)
          << "held " << Describe(first) << ", then " << Describe(second);
    }
  }
}

TEST_F(ShareTest, CRuntimeModesSpotChecks) {
  const Mode denyNoneReader{kAccessRead, kShareReadWrite};
  const Mode denyNoneWriter{kAccessReadWrite, kShareReadWrite};
  const Mode appender{kAccessWrite, kShareRead};
  const Mode exclusiveReader{kAccessRead, kShareNone};
  {
    Holder server(file_, Request(denyNoneWriter));
    SharedFile reader, writer, exclusive;
    EXPECT_EQ(SharedFile::Open(file_, Request(denyNoneReader), &reader), 0);
    EXPECT_EQ(SharedFile::Open(file_, Request(denyNoneWriter), &writer), 0);
    EXPECT_EQ(SharedFile::Open(file_, Request(exclusiveReader), &exclusive), kSharingViolation);
  }
  {
    Holder appending(file_, Request(appender));
    SharedFile reader, writer;
    EXPECT_EQ(SharedFile::Open(file_, Request(denyNoneReader), &reader), 0);
    EXPECT_EQ(SharedFile::Open(file_, Request(denyNoneWriter), &writer), kSharingViolation);
  }
}

TEST_F(ShareTest, OpensInTheSameProcessConflictAndCloseEndsTheConflict) {
  SharedFile exclusive, other;
  ASSERT_EQ(SharedFile::Open(file_, {kAccessRead, kShareNone}, &exclusive), 0);
  EXPECT_EQ(SharedFile::Open(file_, {kAccessRead, kShareReadWrite}, &other), kSharingViolation);
  EXPECT_FALSE(other.isOpen());
  exclusive.Close();
  EXPECT_EQ(SharedFile::Open(file_, {kAccessRead, kShareReadWrite}, &other), 0);
}

TEST_F(ShareTest, LocksOfAKilledProcessVanish) {
  Holder holder(file_, {kAccessReadWrite, kShareNone});
  SharedFile file;
  EXPECT_EQ(SharedFile::Open(file_, {kAccessRead, kShareReadWrite}, &file), kSharingViolation);
  holder.Kill();
  EXPECT_EQ(SharedFile::Open(file_, {kAccessRead, kShareReadWrite}, &file), 0);
}

TEST_F(ShareTest, RefusedTruncatingOpenLeavesTheContents) {
  Holder reader(file_, {kAccessRead, kShareRead});
  SharedFile file;
  EXPECT_EQ(
      SharedFile::Open(file_, {kAccessWrite, kShareNone, Disposition::kCreateTruncate}, &file),
      kSharingViolation);
  EXPECT_EQ(ReadFile(file_), "0123456789");
  reader.Release();
  EXPECT_EQ(
      SharedFile::Open(file_, {kAccessWrite, kShareNone, Disposition::kCreateTruncate}, &file), 0);
  EXPECT_EQ(ReadFile(file_), "");
}

TEST_F(ShareTest, DispositionsCreateAndRefuseAsAsked) {
  SharedFile file;
  EXPECT_EQ(SharedFile::Open(Path("missing"), {}, &file), ENOENT);
  EXPECT_FALSE(testsupport::FileExists(Path("missing")));

  const mode_t oldMask = umask(022);
  EXPECT_EQ(SharedFile::Open(Path("new"),
                             {kAccessWrite, kShareRead, Disposition::kOpenAlways, true}, &file),
            0);
  umask(oldMask);
  struct stat st;
  ASSERT_EQ(stat(Path("new").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);

  // Appending writes at the end whatever the offset.
  ASSERT_EQ(
      SharedFile::Open(file_, {kAccessWrite, kShareRead, Disposition::kOpenAlways, true}, &file),
      0);
  EXPECT_TRUE(file.WriteAt("AB", 2, 0));
  EXPECT_EQ(ReadFile(file_), "0123456789AB");
}

TEST_F(ShareTest, WriteOnlyOpenAnnouncesItsAccess) {
  SharedFile writer, reader;
  ASSERT_EQ(SharedFile::Open(file_, {kAccessWrite, kShareReadWrite}, &writer), 0);
  EXPECT_EQ(SharedFile::Open(file_, {kAccessRead, kShareRead}, &reader), kSharingViolation);
  EXPECT_EQ(SharedFile::Open(file_, {kAccessRead, kShareReadWrite}, &reader), 0);
}

TEST_F(ShareTest, RemoveAndRenameAreRefusedWhileAnotherProcessHoldsTheFile) {
  {
    Holder holder(file_, {kAccessRead, kShareReadWrite});
    EXPECT_EQ(RemoveShared(file_), kSharingViolation);
    EXPECT_EQ(RenameShared(file_, Path("moved")), kSharingViolation);
    EXPECT_TRUE(testsupport::FileExists(file_));
  }
  WriteFile(Path("other"), "x");
  EXPECT_EQ(RenameShared(file_, Path("other")), EEXIST);
  EXPECT_EQ(ReadFile(Path("other")), "x");
  EXPECT_EQ(RenameShared(file_, Path("moved")), 0);
  EXPECT_EQ(ReadFile(Path("moved")), "0123456789");
  EXPECT_EQ(RemoveShared(Path("moved")), 0);
  EXPECT_EQ(RemoveShared(Path("moved")), ENOENT);
}

TEST_F(ShareTest, ReplaceRenamesOverTheTargetUnlessEitherFileIsHeld) {
  WriteFile(Path("new"), "new");
  WriteFile(Path("target"), "old");
  for (const std::string& held : {Path("new"), Path("target")}) {
    Holder holder(held, {kAccessRead, kShareReadWrite});
    EXPECT_EQ(ReplaceShared(Path("new"), Path("target")), kSharingViolation) << held;
  }
  EXPECT_EQ(ReadFile(Path("target")), "old");
  {
    ScopedFaultHook hook(
        [](FileOp op, std::string_view) { return op == FileOp::kRename ? EIO : 0; });
    EXPECT_EQ(ReplaceShared(Path("new"), Path("target")), EIO);
  }
  EXPECT_EQ(ReplaceShared(Path("new"), Path("target")), 0);
  EXPECT_EQ(ReadFile(Path("target")), "new");
  EXPECT_FALSE(testsupport::FileExists(Path("new")));
  EXPECT_EQ(ReplaceShared(Path("target"), Path("missing")), 0);
  EXPECT_EQ(ReadFile(Path("missing")), "new");
  EXPECT_EQ(ReplaceShared(Path("missing"), Path("missing")), 0);
  EXPECT_EQ(ReplaceShared(Path("target"), Path("missing")), ENOENT);
}

TEST_F(ShareTest, RemovingASymbolicLinkLeavesTheHeldTarget) {
  ASSERT_EQ(symlink(file_.c_str(), Path("link").c_str()), 0);
  Holder holder(file_, {kAccessRead, kShareReadWrite});
  EXPECT_EQ(RemoveShared(Path("link")), 0);
  EXPECT_TRUE(testsupport::FileExists(file_));
}

// Exclusive opens serialise a read-modify-write across processes: no increment is lost.
TEST_F(ShareTest, ExclusiveOpensSerialiseConcurrentProcesses) {
  WriteFile(file_, std::string(8, '\0'));
  constexpr int kProcesses = 4, kIncrements = 200;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    if (pid == 0) {
      for (int i = 0; i < kIncrements;) {
        SharedFile file;
        if (SharedFile::Open(file_, {kAccessReadWrite, kShareNone}, &file) != 0) continue;
        uint64_t counter = 0;
        if (file.ReadAt(&counter, sizeof counter, 0) != sizeof counter) _exit(1);
        ++counter;
        if (!file.WriteAt(&counter, sizeof counter, 0)) _exit(1);
        ++i;
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const std::string bytes = ReadFile(file_);
  ASSERT_EQ(bytes.size(), 8u);
  uint64_t counter;
  memcpy(&counter, bytes.data(), sizeof counter);
  EXPECT_EQ(counter, uint64_t{kProcesses * kIncrements});
}

TEST_F(ShareTest, InjectedFaultsFailTheOperationWithoutTouchingTheFile) {
  SharedFile file;
  for (FileOp failing : {FileOp::kOpen, FileOp::kLock, FileOp::kStat}) {
    ScopedFaultHook hook([=](FileOp op, std::string_view) { return op == failing ? EIO : 0; });
    EXPECT_EQ(SharedFile::Open(file_, {}, &file), EIO) << static_cast<int>(failing);
  }
  {
    ScopedFaultHook hook(
        [](FileOp op, std::string_view) { return op == FileOp::kTruncate ? ENOSPC : 0; });
    EXPECT_EQ(
        SharedFile::Open(file_, {kAccessWrite, kShareNone, Disposition::kCreateTruncate}, &file),
        ENOSPC);
    EXPECT_EQ(ReadFile(file_), "0123456789");
  }
  ASSERT_EQ(SharedFile::Open(file_, {kAccessReadWrite, kShareReadWrite}, &file), 0);
  {
    ScopedFaultHook hook([](FileOp op, std::string_view) {
      return op == FileOp::kWrite || op == FileOp::kRead ? EIO : 0;
    });
    EXPECT_FALSE(file.WriteAt("XX", 2, 0));
    char buffer[4];
    EXPECT_EQ(file.ReadAt(buffer, sizeof buffer, 0), -1);
  }
  {
    ScopedFaultHook hook([](FileOp op, std::string_view) {
      return op == FileOp::kStat || op == FileOp::kClose ? EIO : 0;
    });
    EXPECT_EQ(file.Size(), -1);
    EXPECT_EQ(file.Close(), EIO);
  }
  EXPECT_FALSE(file.isOpen()) << "a failed close still ends the open";
  ASSERT_EQ(SharedFile::Open(file_, {kAccessRead, kShareNone}, &file), 0);
  file.Close();
  {
    ScopedFaultHook hook([](FileOp op, std::string_view) {
      return op == FileOp::kRename || op == FileOp::kRemove ? EPERM : 0;
    });
    EXPECT_EQ(RenameShared(file_, Path("moved")), EPERM);
    EXPECT_EQ(RemoveShared(file_), EPERM);
  }
  EXPECT_EQ(ReadFile(file_), "0123456789");
}

TEST_F(ShareTest, AttachedStreamEndsTheAnnouncementWhenClosed) {
  SharedFile file;
  ASSERT_EQ(SharedFile::Open(file_, {kAccessRead, kShareNone}, &file), 0);
  std::FILE* stream = AttachStream(std::move(file), "rb");
  ASSERT_NE(stream, nullptr);
  char buffer[11] = {};
  EXPECT_EQ(std::fread(buffer, 1, 10, stream), 10u);
  EXPECT_STREQ(buffer, "0123456789");
  SharedFile other;
  EXPECT_EQ(SharedFile::Open(file_, {}, &other), kSharingViolation);
  std::fclose(stream);
  EXPECT_EQ(SharedFile::Open(file_, {}, &other), 0);
}

TEST_F(ShareTest, StreamThatCannotBeAttachedClosesTheFile) {
  SharedFile file;
  ASSERT_EQ(SharedFile::Open(file_, {kAccessRead, kShareNone}, &file), 0);
  EXPECT_EQ(AttachStream(std::move(file), "b"), nullptr);
  SharedFile other;
  EXPECT_EQ(SharedFile::Open(file_, {}, &other), 0) << "the refused stream kept the file open";
}

// Another program holds a lock on the whole file: `lockType` F_WRLCK (lockf), F_RDLCK (fcntl).
testsupport::OtherProcess ForeignRecordLock(const std::string& path, short lockType) {
  return testsupport::OtherProcess([=] {
    const int fd = ::open(path.c_str(), lockType == F_WRLCK ? O_RDWR : O_RDONLY);
    struct flock lock {};
    lock.l_type = lockType;
    lock.l_whence = SEEK_SET;  // from 0 to the end, wherever the end will be
    return fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0;
  });
}

TEST_F(ShareTest, AFlockOfAnotherProgramDelaysOpensOnlyForAMoment) {
  testsupport::OtherProcess backup([&] {
    const int fd = ::open(file_.c_str(), O_RDONLY);
    return fd >= 0 && ::flock(fd, LOCK_EX) == 0;
  });
  ASSERT_TRUE(backup.succeeded());
  const auto start = std::chrono::steady_clock::now();
  std::optional<bool> refused = RunWithin(20s, [&] {
    SharedFile file;
    return SharedFile::Open(file_, {}, &file) == kSharingViolation &&
           RemoveShared(file_) == kSharingViolation;
  });
  EXPECT_EQ(refused, true) << "waited for the other program without end, or got in";
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1800ms) << "gave up without retrying";

  // A lock let go while the open waits for it is waited for: the other program lets go when
  // the open tries the gate the second time.
  int tries = 0;
  ScopedFaultHook letGo([&](FileOp op, std::string_view path) {
    if (op == FileOp::kLock && path == file_ && ++tries == 2) backup.Release();
    return 0;
  });
  SharedFile file;
  EXPECT_EQ(SharedFile::Open(file_, {}, &file), 0);
  EXPECT_GE(tries, 2) << "got in without waiting";
}

TEST_F(ShareTest, RecordLocksOfOtherProgramsAreNoAnnouncements) {
  {
    testsupport::OtherProcess locker = ForeignRecordLock(file_, F_WRLCK);
    ASSERT_TRUE(locker.succeeded());
    for (Mode mode : AllModes()) {
      SharedFile file;
      EXPECT_EQ(SharedFile::Open(file_, Request(mode), &file), 0) << Describe(mode);
    }
  }
  // A lock taken before a cooperating open is the one the kernel names first when asked about
  // a byte; the announcement behind it still counts.
  testsupport::OtherProcess reader = ForeignRecordLock(file_, F_RDLCK);
  ASSERT_TRUE(reader.succeeded());
  Holder denyWrite(file_, {kAccessRead, kShareRead});
  ASSERT_TRUE(denyWrite.opened());
  SharedFile writer, sharingReader;
  EXPECT_EQ(SharedFile::Open(file_, {kAccessReadWrite, kShareReadWrite}, &writer),
            kSharingViolation);
  EXPECT_EQ(SharedFile::Open(file_, {kAccessRead, kShareReadWrite}, &sharingReader), 0);
  EXPECT_EQ(RemoveShared(file_), kSharingViolation);
}

// Another program replaces the file again and again, each time under a flock of the file it
// replaces, so an opener at the gate finds its file replaced every time it gets in. It
// replaces the file whenever the opener tries the gate (the fault hook asks it to), so the
// rounds meet however fast either side runs; after the last round it ends, letting go.
TEST_F(ShareTest, AnOpenSettlesOnAFileThatIsReplacedAgainAndAgain) {
  constexpr int kRounds = 8;
  int orders[2], answers[2];
  ASSERT_EQ(::pipe(orders), 0);
  ASSERT_EQ(::pipe(answers), 0);
  const pid_t replacer = ::fork();
  if (replacer == 0) {
    int current = ::open(file_.c_str(), O_RDONLY);
    ::flock(current, LOCK_EX);
    (void)!::write(answers[1], "r", 1);
    char order = 0;
    for (int round = 0; ::read(orders[0], &order, 1) == 1 && order == 'r'; ++round) {
      const std::string next = Path("next" + std::to_string(round));
      WriteFile(next, "replacement");
      const int fd = ::open(next.c_str(), O_RDONLY);
      ::flock(fd, LOCK_EX);
      ::rename(next.c_str(), file_.c_str());
      ::close(current);
      current = fd;
      (void)!::write(answers[1], "r", 1);
    }
    _exit(0);
  }
  char answer;
  ASSERT_EQ(::read(answers[0], &answer, 1), 1);
  int rounds = 0;
  ScopedFaultHook replaceAtTheGate([&](FileOp op, std::string_view path) {
    if (op != FileOp::kLock || path != file_ || rounds > kRounds) return 0;
    if (++rounds <= kRounds) {
      (void)!::write(orders[1], "r", 1);
      (void)!::read(answers[0], &answer, 1);
    } else {
      (void)!::write(orders[1], "x", 1);
      ::waitpid(replacer, nullptr, 0);
    }
    return 0;
  });
  SharedFile file;
  EXPECT_EQ(SharedFile::Open(file_, {kAccessReadWrite, kShareReadWrite}, &file), 0);
  EXPECT_EQ(rounds, kRounds + 1);
  if (rounds <= kRounds) {
    ::kill(replacer, SIGKILL);
    ::waitpid(replacer, nullptr, 0);
  }
  for (int fd : {orders[0], orders[1], answers[0], answers[1]}) ::close(fd);
}

TEST_F(ShareTest, AFileThatNeverStaysPutIsReportedAsSuch) {
  int replacements = 0;
  int limit = 40;
  ScopedFaultHook renamer([&](FileOp op, std::string_view path) {
    if (op == FileOp::kLock && path == file_ && replacements < limit) {
      WriteFile(Path("new"), "replacement");
      ::rename(Path("new").c_str(), file_.c_str());
      ++replacements;
    }
    return 0;
  });
  SharedFile file;
  EXPECT_EQ(SharedFile::Open(file_, {}, &file), 0);
  EXPECT_EQ(replacements, limit);
  file.Close();

  limit = 1 << 30;
  EXPECT_EQ(SharedFile::Open(file_, {}, &file), kPathKeptChanging);
}

TEST_F(ShareTest, OnlyOrdinaryFilesAreOpenedAndNothingElseBlocks) {
  ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0644), 0);
  ASSERT_EQ(::symlink("/dev/zero", Path("zero").c_str()), 0);
  ASSERT_EQ(::mkdir(Path("folder").c_str(), 0755), 0);
  const OpenRequest requests[] = {
      {kAccessRead, kShareReadWrite, Disposition::kOpenExisting},
      {kAccessReadWrite, kShareNone, Disposition::kOpenExisting},
      {kAccessWrite, kShareNone, Disposition::kCreateTruncate},
      {kAccessWrite, kShareRead, Disposition::kOpenAlways, true},
  };
  for (const char* name : {"pipe", "zero", "folder"}) {
    for (const OpenRequest& request : requests) {
      std::optional<bool> refused = RunWithin(10s, [&] {
        SharedFile file;
        return SharedFile::Open(Path(name), request, &file) != 0;
      });
      EXPECT_EQ(refused, true) << name << " access " << request.access;
    }
  }
  struct stat status;
  ASSERT_EQ(::lstat(Path("pipe").c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
}

// A file server's lease (a Samba oplock) that is not given back: an open that needs it broken
// does not wait for the kernel to break it (45 s by default), but gives up after the retry time.
TEST_F(ShareTest, ALeaseThatIsNotGivenBackDelaysAnOpenOnlyForAMoment) {
  testsupport::OtherProcess server([&] {
    ::signal(SIGIO, SIG_IGN);  // hears of no lease break, so never gives the lease back
    const int fd = ::open(file_.c_str(), O_RDONLY);
    return fd >= 0 && ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0;
  });
  if (!server.succeeded()) GTEST_SKIP() << "no leases on this file system";
  std::optional<bool> refused = RunWithin(20s, [&] {
    SharedFile file;
    return SharedFile::Open(file_, {kAccessReadWrite, kShareReadWrite}, &file) == kSharingViolation;
  });
  EXPECT_EQ(refused, true);
  SharedFile reader;
  EXPECT_EQ(SharedFile::Open(file_, {}, &reader), 0) << "reading does not break a read lease";
}

TEST_F(ShareTest, InjectedBusyLockGivesUpAfterAboutASecond) {
  ScopedFaultHook busy(
      [](FileOp op, std::string_view) { return op == FileOp::kLock ? EWOULDBLOCK : 0; });
  const auto start = std::chrono::steady_clock::now();
  SharedFile file;
  EXPECT_EQ(SharedFile::Open(file_, {}, &file), kSharingViolation);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 900ms);
  EXPECT_LT(waited, 5s);
}

}  // namespace
}  // namespace platform
