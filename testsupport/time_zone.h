// Tests that depend on the local zone set TZ for their duration; the clock is fixed with
// platform::ScopedWallClock.
#ifndef LINDAVOX_TESTSUPPORT_TIME_ZONE_H
#define LINDAVOX_TESTSUPPORT_TIME_ZONE_H

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "platform/packed_time.h"
#include "platform/time_zone.h"

namespace testsupport {

// Sets TZ (an Olson name such as "Europe/Berlin") and restores the previous value afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const std::string& zone) {
    if (const char* previous = std::getenv("TZ")) previous_ = previous;
    ::setenv("TZ", zone.c_str(), 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (previous_) {
      ::setenv("TZ", previous_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> previous_;
};

// Seconds since 1970 of a UTC date and time.
inline int64_t Utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return platform::FromUtcTime({year, month, day, hour, minute, second, 0});
}

// A packed MS-DOS date-time of the given fields.
inline uint32_t Packed(int year, int month, int day, int hour, int minute, int second = 0) {
  return platform::PackDateTime({year, month, day, hour, minute, second, 0});
}

}  // namespace testsupport

#endif
