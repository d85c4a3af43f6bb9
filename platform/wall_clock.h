// The wall clock: the current time as 64-bit seconds since 1970 (UTC) and nanoseconds.
//
// Everything that formats or compares "now" asks Now(), so tests can fix the clock with
// ScopedWallClock and pin the texts built from it. Install and remove a fixed clock while no
// other thread asks for the time (the programs have one thread).
#ifndef LINDAVOX_PLATFORM_WALL_CLOCK_H
#define LINDAVOX_PLATFORM_WALL_CLOCK_H

#include <cstdint>
#include <optional>

namespace platform {

struct WallTime {
  int64_t seconds = 0;      // since 1970-01-01 00:00:00 UTC
  int32_t nanoseconds = 0;  // 0 to 999999999
};

// The real-time clock, or the fixed time of the innermost ScopedWallClock.
WallTime Now();

// Fixes the clock at `fixed` for the lifetime of the object.
class ScopedWallClock {
 public:
  explicit ScopedWallClock(WallTime fixed);
  ~ScopedWallClock();
  ScopedWallClock(const ScopedWallClock&) = delete;
  ScopedWallClock& operator=(const ScopedWallClock&) = delete;

 private:
  std::optional<WallTime> previous_;
};

}  // namespace platform

#endif
