#include "platform/backoff.h"

#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "platform/fault.h"

namespace platform {
namespace {

constexpr std::chrono::milliseconds kLongestStep{50};

}  // namespace

Backoff::Backoff(std::chrono::milliseconds budget)
    : deadline_(std::chrono::steady_clock::now() + budget) {}

bool Backoff::Expired() const { return std::chrono::steady_clock::now() >= deadline_; }

bool Backoff::Wait() {
  const auto now = std::chrono::steady_clock::now();
  if (now >= deadline_) return false;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - now);
  std::this_thread::sleep_for(std::min(step_, std::max(left, std::chrono::milliseconds(1))));
  step_ = std::min(step_ * 2, kLongestStep);
  return true;
}

int LockExclusiveWithin(int fd, std::string_view path, Backoff& backoff) {
  for (;;) {
    int error = InjectedFault(FileOp::kLock, path);
    if (error == 0) {
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
      error = errno;
    }
    if (error == EINTR) continue;
    if (error != EWOULDBLOCK) return error;
    if (!backoff.Wait()) return EWOULDBLOCK;
  }
}

}  // namespace platform
