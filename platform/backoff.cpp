#include "platform/backoff.h"

#include <algorithm>
#include <thread>

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

}  // namespace platform
