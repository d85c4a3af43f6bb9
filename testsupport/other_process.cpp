#include "testsupport/other_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <thread>
#include <utility>

#include "platform/unique_fd.h"

extern char** environ;

namespace testsupport {
namespace {

using platform::UniqueFd;

// A pipe's two ends.
struct Pipe {
  UniqueFd read, write;
};

Pipe MakePipe() {
  int ends[2];
  if (pipe(ends) != 0) std::abort();
  return Pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
}

// One byte through `fd`, 0 when none came.
char ReadByte(const UniqueFd& fd) {
  char byte = 0;
  return read(fd.get(), &byte, 1) == 1 ? byte : 0;
}

}  // namespace

OtherProcess::OtherProcess(const std::function<bool()>& action) {
  Pipe ready = MakePipe();
  Pipe release = MakePipe();
  pid_ = fork();
  if (pid_ < 0) std::abort();
  if (pid_ == 0) {
    ready.read.reset();
    release.write.reset();
    const char result = action() ? 'y' : 'n';
    (void)!write(ready.write.get(), &result, 1);
    ReadByte(release.read);  // returns at end of file: the parent released us
    _exit(0);
  }
  ready.write.reset();
  release_ = std::move(release.write);
  succeeded_ = ReadByte(ready.read) == 'y';
}

void OtherProcess::Release() {
  if (pid_ <= 0) return;
  release_.reset();
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void OtherProcess::Kill() {
  if (pid_ > 0) kill(pid_, SIGKILL);
  Release();
}

std::optional<bool> RunWithin(std::chrono::milliseconds limit,
                              const std::function<bool()>& action) {
  Pipe result = MakePipe();
  const pid_t pid = fork();
  if (pid < 0) std::abort();
  if (pid == 0) {
    result.read.reset();
    const char answer = action() ? 'y' : 'n';
    (void)!write(result.write.get(), &answer, 1);
    _exit(0);
  }
  result.write.reset();
  pollfd readable{result.read.get(), POLLIN, 0};
  char answer = 0;
  const bool finished = poll(&readable, 1, static_cast<int>(limit.count())) == 1 &&
                        (answer = ReadByte(result.read)) != 0;
  if (!finished) kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  if (!finished) return std::nullopt;
  return answer == 'y';
}

pid_t StartProgram(const std::vector<std::string>& argv) {
  std::vector<std::string> arguments = argv;
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

std::optional<int> WaitForProgram(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return status;
}

bool KilledAtStep(int step, const StepFilter& counts, const std::function<void()>& operation) {
  const pid_t pid = fork();
  if (pid == 0) {
    int steps = 0;
    platform::SetFaultHook([&](platform::FileOp op, std::string_view path) {
      if (counts(op, path) && ++steps == step) raise(SIGKILL);
      return 0;
    });
    operation();
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFSIGNALED(status);
}

std::chrono::nanoseconds ProcessorTime() {
  struct timespec used {};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
  return std::chrono::seconds(used.tv_sec) + std::chrono::nanoseconds(used.tv_nsec);
}

void KilledAfter(std::chrono::nanoseconds work, const std::function<void()>& operation) {
  const pid_t pid = fork();
  if (pid < 0) std::abort();
  if (pid == 0) {
    const std::chrono::nanoseconds at = std::max(work, std::chrono::nanoseconds(1));  // 0 disarms
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(at);
    struct sigevent kill {};
    kill.sigev_notify = SIGEV_SIGNAL;
    kill.sigev_signo = SIGKILL;
    struct itimerspec when {};
    when.it_value = {static_cast<time_t>(seconds.count()),
                     static_cast<long>((at - seconds).count())};
    timer_t timer{};
    if (timer_create(CLOCK_PROCESS_CPUTIME_ID, &kill, &timer) != 0 ||
        timer_settime(timer, 0, &when, nullptr) != 0) {
      _exit(127);
    }
    operation();
    _exit(0);
  }
  waitpid(pid, nullptr, 0);
}

}  // namespace testsupport
