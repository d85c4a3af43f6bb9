// The time-zone record and local-time conversions under fixed zones, packed date-times and the
// fixed wall clock.
#include "platform/time_zone.h"

#include <gtest/gtest.h>

#include <ctime>

#include "platform/packed_time.h"
#include "platform/wall_clock.h"
#include "testsupport/time_zone.h"

namespace platform {
namespace {

using testsupport::ScopedTimeZone;
using testsupport::Utc;

struct ZoneCase {
  const char* zone;
  int64_t when;
  ZoneState state;
  int32_t bias;
  int32_t daylightBias;
  const char* standardName;
  const char* daylightName;
};

TEST(TimeZoneTest, RecordFollowsTheRulesOfTheMomentAsked) {
  const ZoneCase cases[] = {
      {"Europe/Berlin", Utc(2026, 12, 6, 12), ZoneState::kStandard, -60, -60, "CET", "CEST"},
      {"Europe/Berlin", Utc(2026, 7, 5, 12), ZoneState::kDaylight, -60, -60, "CET", "CEST"},
      {"Europe/Berlin", Utc(2040, 7, 1, 12), ZoneState::kDaylight, -60, -60, "CET", "CEST"},
      {"UTC", Utc(2026, 7, 5), ZoneState::kNoRules, 0, 0, "UTC", "UTC"},
      {"America/New_York", Utc(2026, 12, 6), ZoneState::kStandard, 300, -60, "EST", "EDT"},
      {"America/New_York", Utc(2026, 7, 5), ZoneState::kDaylight, 300, -60, "EST", "EDT"},
      {"Asia/Tokyo", Utc(2026, 7, 5), ZoneState::kNoRules, -540, 0, "JST", "JST"},
      {"Australia/Sydney", Utc(2026, 12, 6), ZoneState::kDaylight, -600, -60, "AEST", "AEDT"},
      // Flagged the other way round in the zone data (winter "daylight", one hour back).
      {"Europe/Dublin", Utc(2026, 12, 6), ZoneState::kStandard, 0, -60, "GMT", "IST"},
      {"Europe/Dublin", Utc(2026, 7, 5), ZoneState::kDaylight, 0, -60, "GMT", "IST"},
  };
  for (const ZoneCase& c : cases) {
    SCOPED_TRACE(std::string(c.zone) + " at " + std::to_string(c.when));
    ScopedTimeZone zone(c.zone);
    const std::optional<TimeZoneRecord> record = QueryTimeZone(c.when);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->state, c.state);
    EXPECT_EQ(record->bias, c.bias);
    EXPECT_EQ(record->standardBias, 0);
    EXPECT_EQ(record->daylightBias, c.daylightBias);
    EXPECT_EQ(record->standardName, c.standardName);
    EXPECT_EQ(record->daylightName, c.daylightName);
    // UTC = local time + the bias in force.
    const int32_t inForce =
        record->bias + (c.state == ZoneState::kDaylight ? record->daylightBias : 0);
    EXPECT_EQ(FromUtcTime(*ToLocalTime(c.when)) + inForce * 60, c.when);
  }
}

TEST(TimeZoneTest, LocalTimesCarryOverAndKeepTheOffsetOfTheirDate) {
  ScopedTimeZone zone("Europe/Berlin");
  const auto local = [](int y, int mo, int d, int h, int mi = 0) {
    return FromLocalTime({y, mo, d, h, mi, 0, 0}).value();
  };
  EXPECT_EQ(local(2026, 7, 5, 13, 30), Utc(2026, 7, 5, 11, 30));
  EXPECT_EQ(local(2026, 12, 6, 13, 30), Utc(2026, 12, 6, 12, 30));
  EXPECT_EQ(local(2026, 12, 31, 24), Utc(2026, 12, 31, 23));  // midnight starting 2027
  EXPECT_EQ(local(2026, 2, 31, 12), Utc(2026, 3, 3, 11));
  EXPECT_EQ(local(2027, 0, 10, 12), Utc(2026, 12, 10, 11));  // month 0: December before
  EXPECT_EQ(local(2040, 7, 1, 12), Utc(2040, 7, 1, 10));     // beyond 2038

  const CalendarTime summer = ToLocalTime(Utc(2026, 7, 5, 11, 30, 7)).value();
  EXPECT_EQ(summer.hour, 13);
  EXPECT_EQ(summer.second, 7);
  EXPECT_EQ(summer.weekday, 0);  // a Sunday
}

TEST(TimeZoneTest, UtcCalendarArithmeticMatchesTheCLibrary) {
  for (int64_t seconds = -4'000'000'000; seconds < 9'000'000'000; seconds += 7'777'777) {
    const CalendarTime utc = ToUtcTime(seconds).value();
    ASSERT_EQ(FromUtcTime(utc), seconds) << utc.year << "-" << utc.month << "-" << utc.day;
  }
  EXPECT_EQ(FromUtcTime({2026, 13, 1, 0, 0, 0, 0}), Utc(2027, 1, 1));
  EXPECT_EQ(FromUtcTime({2026, -1, 1, 0, 0, 0, 0}), Utc(2025, 11, 1));
  EXPECT_EQ(FromUtcTime({2024, 2, 29, 25, 0, 0, 0}), Utc(2024, 3, 1, 1));
}

TEST(PackedTimeTest, FieldsAndLocalSeconds) {
  const CalendarTime may{2024, 5, 17, 13, 45, 31, 0};
  EXPECT_EQ(PackDateTime(may), 0x58B16DAFu);  // odd seconds round down
  const CalendarTime back = UnpackDateTime(0x58B16DAF);
  EXPECT_EQ(back.year, 2024);
  EXPECT_EQ(back.month, 5);
  EXPECT_EQ(back.day, 17);
  EXPECT_EQ(back.hour, 13);
  EXPECT_EQ(back.minute, 45);
  EXPECT_EQ(back.second, 30);
  EXPECT_EQ(UnpackWords(0xFFFF58B1, 0x12346DAF).day, 17);  // only the low 16 bits count

  ScopedTimeZone zone("Europe/Berlin");
  EXPECT_EQ(PackedToSeconds(0x58B16DAF), Utc(2024, 5, 17, 11, 45, 30));
  EXPECT_EQ(SecondsToPacked(Utc(2024, 5, 17, 11, 45, 30)), 0x58B16DAFu);
  EXPECT_EQ(SecondsToPacked(Utc(1979, 12, 31, 22)), std::nullopt);  // 23:00 local, 1979
  EXPECT_EQ(SecondsToPacked(Utc(2107, 12, 31, 22, 59, 59)).value() >> 25, 127u);
  EXPECT_EQ(SecondsToPacked(Utc(2107, 12, 31, 23)), std::nullopt);
}

TEST(WallClockTest, FixedClocksNestAndTheRealClockReturns) {
  {
    ScopedWallClock outer({Utc(2026, 12, 6), 420000000});
    {
      ScopedWallClock inner({Utc(2030, 1, 1), 0});
      EXPECT_EQ(Now().seconds, Utc(2030, 1, 1));
    }
    EXPECT_EQ(Now().seconds, Utc(2026, 12, 6));
    EXPECT_EQ(Now().nanoseconds, 420000000);
  }
  EXPECT_LE(std::abs(Now().seconds - static_cast<int64_t>(std::time(nullptr))), 2);
}

}  // namespace
}  // namespace platform
