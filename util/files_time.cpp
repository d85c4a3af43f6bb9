// Setting file time stamps (files.h), in both generations.
#include <optional>

#include "platform/c_boundary.h"
#include "platform/packed_time.h"
#include "platform/wall_clock.h"
#include "util/files.h"
#include "util/files_internal.h"

namespace util {
namespace {

constexpr uint32_t kSecondsField = 0x1F;
constexpr unsigned kHourShift = 11;

// `packed` with the 5-bit field at `shift` replaced by `value` (cut to 5 bits).
uint32_t WithField(uint32_t packed, unsigned shift, int32_t value) {
  return (packed & ~(kSecondsField << shift)) |
         ((static_cast<uint32_t>(value) & kSecondsField) << shift);
}

bool SetTime(const char* path, PackedDateTime time, IfMissing ifMissing) {
  if (!FitsPath(path)) return false;
  return platform::CallNoThrow(false, [&] { return SetPackedTime(path, time, ifMissing); });
}

}  // namespace
}  // namespace util

using util::IfMissing;

uint8_t FILE_SetTime(const char* path, PackedDateTime time) {
  // A seconds field of 30 or 31 (60 or 62 seconds) would carry into the next minute; it
  // becomes 0 or 2 seconds of the same minute.
  if ((time & util::kSecondsField) >= 30) time -= 30;
  return util::SetTime(path, time, IfMissing::kCreate) ? 1 : 0;
}

uint8_t FILE_SetRelativeTime(const char* path, int32_t offsetSeconds, int32_t secondsField,
                             int32_t hour) {
  std::optional<uint32_t> packed =
      platform::SecondsToPacked(platform::Now().seconds + offsetSeconds);
  if (!packed) return 0;
  if (secondsField != -1) packed = util::WithField(*packed, 0, secondsField);
  if (hour != -1) packed = util::WithField(*packed, util::kHourShift, hour);
  return util::SetTime(path, *packed, IfMissing::kCreate) ? 1 : 0;
}

uint8_t FILE_SetSeconds(const char* path, int32_t seconds) {
  const PackedDateTime packed = FILE_GetTime(path);
  if (packed == 0) return 0;  // a missing file is not created with a made-up time
  const uint32_t field = static_cast<uint32_t>(seconds / 2) & util::kSecondsField;
  if ((packed & util::kSecondsField) == field) return 0;
  return util::SetTime(path, util::WithField(packed, 0, static_cast<int32_t>(field)),
                       IfMissing::kFail)
             ? 1
             : 0;
}

uint8_t SetRelativeFileTime(const char* path, int32_t offsetSeconds, int32_t secondsField) {
  return FILE_SetRelativeTime(path, offsetSeconds, secondsField, -1);
}

uint8_t SetFileSeconds(const char* path, int32_t seconds) { return FILE_SetSeconds(path, seconds); }

uint8_t MySetFileTime(const char* path, int32_t hour, int32_t minute, int32_t seconds) {
  // Packing would cut a value to its field's bits (hour 32 becomes 0), so each is checked here.
  const auto inRange = [](int32_t value, int32_t last) {
    return value == -1 || (value >= 0 && value <= last);
  };
  if (!inRange(hour, 23) || !inRange(minute, 59) || !inRange(seconds, 59)) return 0;
  std::optional<platform::CalendarTime> today = platform::ToLocalTime(platform::Now().seconds);
  if (!today) return 0;
  if (hour != -1) today->hour = hour;
  if (minute != -1) today->minute = minute;
  if (seconds != -1) today->second = seconds;
  return util::SetTime(path, platform::PackDateTime(*today), IfMissing::kCreate) ? 1 : 0;
}
