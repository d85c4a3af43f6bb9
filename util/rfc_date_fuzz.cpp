// libFuzzer target for the mail date reader: arbitrary bytes as a date value under one of
// several zones, and a date line built from fuzzed fields that must read back as its UTC time.
//
// Input: a zone choice, the fields of a packed local time, then the text. A value that is read
// must give a packed time with fields in their ranges; a refused one must leave the result as
// it was. ASan and UBSan report any overrun or overflow.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>

#include <cstdint>
#include <string>

#include "platform/packed_time.h"
#include "platform/time_zone.h"
#include "platform/wall_clock.h"
#include "util/time_format.h"
#include "util/time_format_internal.h"

namespace {

constexpr const char* kZones[] = {"Europe/Berlin", "UTC",          "America/New_York",
                                  "Asia/Tokyo",    "Asia/Kolkata", "Australia/Sydney"};

void CheckFields(PackedDateTime packed) {
  const platform::CalendarTime t = platform::UnpackDateTime(packed);
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.hour > 23 || t.minute > 59) abort();
}

void CheckRoundTrip(FuzzedDataProvider& input) {
  platform::CalendarTime local;
  local.year = input.ConsumeIntegralInRange(2025, 2026);
  local.month = input.ConsumeIntegralInRange(1, 12);
  local.day = input.ConsumeIntegralInRange(1, 28);
  local.hour = input.ConsumeIntegralInRange(0, 23);
  local.minute = input.ConsumeIntegralInRange(0, 59);
  local.second = input.ConsumeIntegralInRange(0, 59);
  const PackedDateTime packed = platform::PackDateTime(local);
  char line[80];
  TIME_GetRFCDate(line, input.ConsumeBool(), 0, &packed);
  PackedDateTime utc = 0;
  if (!util::ParseRFCDate(&utc, line)) abort();
  const int64_t seconds = platform::PackedToSeconds(packed).value();
  if (utc != platform::PackDateTime(platform::ToUtcTime(seconds).value())) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  setenv("TZ", kZones[input.ConsumeIntegralInRange<size_t>(0, std::size(kZones) - 1)], 1);
  platform::ScopedWallClock clock({platform::FromUtcTime({2026, 12, 7, 10, 0, 0, 0}), 0});
  CheckRoundTrip(input);

  const std::string text = input.ConsumeRemainingBytesAsString();
  PackedDateTime result = 0xA5A5A5A5;
  if (util::ParseRFCDate(&result, text.c_str())) {
    CheckFields(result);
  } else if (result != 0xA5A5A5A5) {
    abort();
  }
  return 0;
}
