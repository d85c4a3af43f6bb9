// A second process for tests of sharing between processes: it runs an action (typically
// opening a file and keeping it open), reports whether the action succeeded, and then waits,
// keeping everything it opened, until it is released or killed.
#ifndef LINDAVOX_TESTSUPPORT_OTHER_PROCESS_H
#define LINDAVOX_TESTSUPPORT_OTHER_PROCESS_H

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fault.h"
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

// Starts the program `argv[0]` with the arguments `argv`, its standard output going nowhere.
// Returns its process id, or -1 when it could not be started.
pid_t StartProgram(const std::vector<std::string>& argv);

// Waits at most `limit` for a started program to end and returns its wait status; nullopt when
// it did not end in time (it is then killed and reaped).
std::optional<int> WaitForProgram(pid_t pid, std::chrono::milliseconds limit);

// Which file operations (platform/fault.h) count as steps for KilledAtStep.
using StepFilter = std::function<bool(platform::FileOp op, std::string_view path)>;

// Runs `operation` in a child process that kills itself with SIGKILL right before the
// `step`-th file operation that `counts`, as a crash at that point would. True when the child
// was killed, false when it finished first.
bool KilledAtStep(int step, const StepFilter& counts, const std::function<void()>& operation);

// The processor time this process has used so far.
std::chrono::nanoseconds ProcessorTime();

// Runs `operation` in a child process that is killed with SIGKILL once it has used `work` of
// processor time, if it is still running then. Processor time, unlike the clock, is not
// stretched by other work on the machine: measured with ProcessorTime around the same
// operation, the kills fall at the same points of the work however busy the machine is.
void KilledAfter(std::chrono::nanoseconds work, const std::function<void()>& operation);

}  // namespace testsupport

#endif
