#include "testsupport/other_process.h"

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

}  // namespace testsupport
