#include "platform/wall_clock.h"

#include <ctime>

namespace platform {
namespace {

std::optional<WallTime>& FixedTime() {
  static std::optional<WallTime> fixed;
  return fixed;
}

}  // namespace

WallTime Now() {
  if (FixedTime()) return *FixedTime();
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return {static_cast<int64_t>(now.tv_sec), static_cast<int32_t>(now.tv_nsec)};
}

ScopedWallClock::ScopedWallClock(WallTime fixed) : previous_(FixedTime()) { FixedTime() = fixed; }

ScopedWallClock::~ScopedWallClock() { FixedTime() = previous_; }

}  // namespace platform
