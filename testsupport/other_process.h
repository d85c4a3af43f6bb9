// A second process for tests of sharing between processes: it runs an action (typically
// opening a file and keeping it open), reports whether the action succeeded, and then waits,
// keeping everything it opened, until it is released or killed.
#ifndef LINDAVOX_TESTSUPPORT_OTHER_PROCESS_H
#define LINDAVOX_TESTSUPPORT_OTHER_PROCESS_H

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>

#include "platform/unique_fd.h"

namespace testsupport {

class OtherProcess {
 public:
  // Forks; the child runs `action` and reports its result. Returns once the result is known.
  explicit OtherProcess(const std::function<bool()>& action);
  ~OtherProcess() { Release(); }
  OtherProcess(const OtherProcess&) = delete;
  OtherProcess& operator=(const OtherProcess&) = delete;

  // What `action` returned in the child.
  bool succeeded() const { return succeeded_; }
  // Lets the child exit and waits for it.
  void Release();
  // Ends the child at once, as a crash would.
  void Kill();

 private:
  pid_t pid_ = -1;
  platform::UniqueFd release_;  // closing it lets the child exit
  bool succeeded_ = false;
};

// Runs `action` in a child process and waits at most `limit` for it. Returns what it returned,
// or nullopt when it did not finish in time (the child is then killed), so a test of something
// that must not hang fails instead of hanging the suite.
std::optional<bool> RunWithin(std::chrono::milliseconds limit, const std::function<bool()>& action);

}  // namespace testsupport

#endif
