// Waiting out something another process holds for a moment (a file's sharing gate, a lease):
// short sleeps that grow from 1 ms to 50 ms, for about a second in all. After that the caller
// gives up and reports why, instead of hanging behind a program that never lets go.
#ifndef LINDAVOX_PLATFORM_BACKOFF_H
#define LINDAVOX_PLATFORM_BACKOFF_H

#include <chrono>
#include <string_view>

namespace platform {

inline constexpr std::chrono::milliseconds kContentionBudget{1000};

class Backoff {
 public:
  explicit Backoff(std::chrono::milliseconds budget = kContentionBudget);

  // Sleeps for the next step and returns true; returns false at once when the budget is spent.
  bool Wait();
  bool Expired() const;

 private:
  std::chrono::steady_clock::time_point deadline_;
  std::chrono::milliseconds step_{1};
};

// Takes flock(LOCK_EX) on `fd` without ever blocking: tries, and tries again while `backoff`
// allows. Each try asks the fault hook (FileOp::kLock on `path`). Returns 0 with the lock held;
// EWOULDBLOCK when another open file kept it locked past the budget; or the errno of a failed
// flock.
int LockExclusiveWithin(int fd, std::string_view path, Backoff& backoff);

}  // namespace platform

#endif
