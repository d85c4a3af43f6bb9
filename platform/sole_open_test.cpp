// Claims that an open is a file's only one: opens of any process count, also plain open()s of
// programs that do not use these libraries, and a lease that another open breaks sends this
// process no signal.
#include "platform/sole_open.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "platform/share.h"
#include "platform/unique_fd.h"
#include "testsupport/file_test.h"
#include "testsupport/other_process.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

std::atomic<int> g_leaseSignals{0};

// What another process does to open `path` as a program without these libraries does: a plain
// open(), kept open while the process lives.
std::function<bool()> PlainOpen(const std::string& path, int flags) {
  return [path, flags] { return ::open(path.c_str(), flags) >= 0; };
}

// Waits, at most `limit`, until `done` holds.
template <typename Condition>
bool Await(Condition done, std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

class SoleOpenTest : public testsupport::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    file_ = Path("PREPAID.DAT");
    testsupport::WriteFile(file_, "cards");
  }
  std::string file_;
};

TEST_F(SoleOpenTest, EveryOtherOpenInAnyProcessIsSeen) {
  UniqueFd own(::open(file_.c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(own);
  SoleOpen sole;
  EXPECT_EQ(sole.Claim(own.get(), file_, OthersMay::kNothing), 0);
  EXPECT_TRUE(sole.leased()) << "the owner (or the superuser) gets a lease";
  EXPECT_EQ(sole.Claim(own.get(), file_, OthersMay::kRead), 0);
  sole.Release();

  const struct {
    int flags;
    bool elsewhere;
    int refusedWhenNothing, refusedWhenReading;
  } cases[] = {
      {O_RDONLY, false, kSharingViolation, 0},
      {O_RDWR, false, kSharingViolation, kSharingViolation},
      {O_RDONLY, true, kSharingViolation, 0},
      {O_WRONLY, true, kSharingViolation, kSharingViolation},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.flags) + (c.elsewhere ? " elsewhere" : " here"));
    UniqueFd here;
    std::optional<testsupport::OtherProcess> there;
    if (c.elsewhere) {
      there.emplace(PlainOpen(file_, c.flags));
      ASSERT_TRUE(there->succeeded());
    } else {
      here.reset(::open(file_.c_str(), c.flags | O_CLOEXEC));
    }
    EXPECT_EQ(sole.Claim(own.get(), file_, OthersMay::kNothing), c.refusedWhenNothing);
    EXPECT_EQ(sole.Claim(own.get(), file_, OthersMay::kRead), c.refusedWhenReading);
    sole.Release();
  }
  EXPECT_EQ(sole.Claim(own.get(), file_, OthersMay::kNothing), 0) << "all gone again";
}

// A plain open() meets the lease: it waits until the lease is given up, and the kernel's
// lease-break signal (SIGIO, which would end the program) reaches no thread of this process.
TEST_F(SoleOpenTest, AnOpenThatBreaksTheLeaseWaitsAndNoSignalArrives) {
  struct sigaction counting {
  }, previous{};
  counting.sa_handler = [](int) { ++g_leaseSignals; };
  sigemptyset(&counting.sa_mask);
  ASSERT_EQ(::sigaction(SIGIO, &counting, &previous), 0);
  // Held back, a signal the kernel sent when the lease broke stays pending, to be seen below.
  sigset_t sigio, mask;
  sigemptyset(&sigio);
  sigaddset(&sigio, SIGIO);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &sigio, &mask), 0);
  UniqueFd own(::open(file_.c_str(), O_RDONLY | O_CLOEXEC));
  SoleOpen sole;
  ASSERT_EQ(sole.Claim(own.get(), file_, OthersMay::kNothing), 0);
  ASSERT_TRUE(sole.leased());
  const pid_t opener = ::fork();
  if (opener == 0) _exit(::open(file_.c_str(), O_RDWR) >= 0 ? 0 : 1);
  // The kernel marks the lease as being broken once the open waits for it.
  EXPECT_TRUE(Await([&] { return ::fcntl(own.get(), F_GETLEASE) != F_WRLCK; }))
      << "the other process's open never reached the lease";
  EXPECT_EQ(::waitpid(opener, nullptr, WNOHANG), 0) << "the open waits while the lease is held";
  sole.Release();
  int status = 0;
  EXPECT_EQ(::waitpid(opener, &status, 0), opener);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the open went through";
  sigset_t pending;
  ASSERT_EQ(::sigpending(&pending), 0);
  EXPECT_FALSE(sigismember(&pending, SIGIO)) << "the lease break sent SIGIO to this process";
  ::pthread_sigmask(SIG_SETMASK, &mask, nullptr);
  EXPECT_EQ(g_leaseSignals.load(), 0);
  ::sigaction(SIGIO, &previous, nullptr);
}

// Who may not take a lease (not the owner, no CAP_LEASE) still sees the opens of the processes
// it may look into.
TEST_F(SoleOpenTest, WithoutALeaseTheOpenFilesOfProcessesAreLookedUp) {
  if (::geteuid() != 0) GTEST_SKIP() << "a second user needs the superuser";
  ASSERT_EQ(::chmod(Dir().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(file_.c_str(), 0666), 0);
  ASSERT_EQ(::chown(file_.c_str(), 4243, 4243), 0);
  const std::string file = file_;
  const std::optional<bool> seen = testsupport::RunWithin(60s, [file] {
    // A process that changed its user may not be looked into until it says so, as a program
    // started by that user may.
    if (::setgroups(0, nullptr) != 0 || ::setresgid(4244, 4244, 4244) != 0 ||
        ::setresuid(4244, 4244, 4244) != 0 || ::prctl(PR_SET_DUMPABLE, 1) != 0) {
      return false;
    }
    UniqueFd own(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    SoleOpen sole;
    bool ok = sole.Claim(own.get(), file, OthersMay::kNothing) == 0 && !sole.leased();
    {
      testsupport::OtherProcess reader(PlainOpen(file, O_RDONLY));
      ok = ok && reader.succeeded() &&
           sole.Claim(own.get(), file, OthersMay::kNothing) == kSharingViolation &&
           sole.Claim(own.get(), file, OthersMay::kRead) == 0;
    }
    testsupport::OtherProcess writer(PlainOpen(file, O_WRONLY));
    return ok && writer.succeeded() &&
           sole.Claim(own.get(), file, OthersMay::kRead) == kSharingViolation;
  });
  EXPECT_EQ(seen, true);
}

}  // namespace
}  // namespace platform
