#include "testsupport/other_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace testsupport {

OtherProcess::OtherProcess(const std::function<bool()>& action) {
  int ready[2], release[2];
  if (pipe(ready) != 0 || pipe(release) != 0) std::abort();
  pid_ = fork();
  if (pid_ < 0) std::abort();
  if (pid_ == 0) {
    close(ready[0]);
    close(release[1]);
    const char result = action() ? 'y' : 'n';
    (void)!write(ready[1], &result, 1);
    char ignored;
    (void)!read(release[0], &ignored, 1);  // returns at end of file: the parent released us
    _exit(0);
  }
  close(ready[1]);
  close(release[0]);
  releaseFd_ = release[1];
  char result = 'n';
  (void)!read(ready[0], &result, 1);
  close(ready[0]);
  succeeded_ = result == 'y';
}

void OtherProcess::Release() {
  if (pid_ <= 0) return;
  close(releaseFd_);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void OtherProcess::Kill() {
  if (pid_ > 0) kill(pid_, SIGKILL);
  Release();
}

std::optional<bool> RunWithin(std::chrono::milliseconds limit,
                              const std::function<bool()>& action) {
  int result[2];
  if (pipe(result) != 0) std::abort();
  const pid_t pid = fork();
  if (pid < 0) std::abort();
  if (pid == 0) {
    close(result[0]);
    const char answer = action() ? 'y' : 'n';
    (void)!write(result[1], &answer, 1);
    _exit(0);
  }
  close(result[1]);
  pollfd readable{result[0], POLLIN, 0};
  char answer = 0;
  const bool finished =
      poll(&readable, 1, static_cast<int>(limit.count())) == 1 && read(result[0], &answer, 1) == 1;
  close(result[0]);
  if (!finished) kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  if (!finished) return std::nullopt;
  return answer == 'y';
}

}  // namespace testsupport
