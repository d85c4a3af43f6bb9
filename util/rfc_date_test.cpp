// Mail date lines under fixed zones, unique stamps, writing to a stream, and reading date
// values back.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/packed_time.h"
#include "platform/wall_clock.h"
#include "testsupport/time_zone.h"
#include "util/time_format.h"
#include "util/time_format_internal.h"

namespace util {
namespace {

using testsupport::Packed;
using testsupport::ScopedTimeZone;
using testsupport::Utc;

std::string DateLine(const PackedDateTime* packed, bool withPrefix = true, bool unique = false) {
  char line[80];
  TIME_GetRFCDate(line, withPrefix, unique, packed);
  return line;
}

struct LineCase {
  const char* zone;
  int64_t now;
  const char* line;
};

TEST(DateLineTest, OffsetAndNameOfTheZoneInForce) {
  const int64_t winter = Utc(2026, 12, 6, 13, 30, 11);
  const int64_t summer = Utc(2026, 7, 15, 11, 30, 11);
  const LineCase cases[] = {
      {"Europe/Berlin", winter, "Date: Sun,  6 Dec 2026 14:30:11 +0100 (CET)\r\n"},
      {"Europe/Berlin", summer, "Date: Wed, 15 Jul 2026 13:30:11 +0200 (CEST)\r\n"},
      {"UTC", winter, "Date: Sun,  6 Dec 2026 13:30:11 -0000 (GMT)\r\n"},
      {"Europe/London", winter, "Date: Sun,  6 Dec 2026 13:30:11 -0000 (GMT)\r\n"},
      {"Europe/London", summer, "Date: Wed, 15 Jul 2026 12:30:11 +0100 \r\n"},
      // Ireland's zone data flags winter as daylight time with a negative saving.
      {"Europe/Dublin", winter, "Date: Sun,  6 Dec 2026 13:30:11 -0000 (GMT)\r\n"},
      {"Europe/Dublin", summer, "Date: Wed, 15 Jul 2026 12:30:11 +0100 \r\n"},
      {"America/New_York", winter, "Date: Sun,  6 Dec 2026 08:30:11 -0500 \r\n"},
      {"America/New_York", summer, "Date: Wed, 15 Jul 2026 07:30:11 -0400 \r\n"},
      {"Asia/Tokyo", winter, "Date: Sun,  6 Dec 2026 22:30:11 +0900 \r\n"},
      {"Asia/Kolkata", winter, "Date: Sun,  6 Dec 2026 19:00:11 +0530 \r\n"},
      {"Australia/Sydney", winter, "Date: Mon,  7 Dec 2026 00:30:11 +1100 \r\n"},
      {"Africa/Lagos", winter, "Date: Sun,  6 Dec 2026 14:30:11 +0100 (CET)\r\n"},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.zone);
    ScopedTimeZone zone(c.zone);
    platform::ScopedWallClock clock({c.now, 0});
    EXPECT_EQ(DateLine(nullptr), c.line);
    EXPECT_EQ(DateLine(nullptr, false), c.line + 6);
  }
}

TEST(DateLineTest, APackedTimeCarriesTheOffsetOfItsOwnSeason) {
  ScopedTimeZone zone("Europe/Berlin");
  platform::ScopedWallClock clock({Utc(2026, 12, 6), 0});
  const PackedDateTime summer = Packed(2026, 7, 5, 13, 30, 10);
  const PackedDateTime lastYear = Packed(2025, 12, 24, 9, 5, 58);
  EXPECT_EQ(DateLine(&summer), "Date: Sun,  5 Jul 2026 13:30:10 +0200 (CEST)\r\n");
  EXPECT_EQ(DateLine(&lastYear, false), "Wed, 24 Dec 2025 09:05:58 +0100 (CET)\r\n");
}

TEST(DateLineTest, UniqueLinesCarryStrictlyIncreasingTimes) {
  ScopedTimeZone zone("UTC");
  platform::ScopedWallClock clock({Utc(2026, 12, 6, 14, 0, 0), 0});
  const PackedDateTime noon = Packed(2026, 12, 6, 12, 0, 0);
  const PackedDateTime morning = Packed(2026, 12, 6, 9, 0, 0);
  const auto time = [](const std::string& line) { return line.substr(23, 8); };
  EXPECT_EQ(time(DateLine(&noon)), "12:00:00");  // any line sets the last time
  EXPECT_EQ(time(DateLine(&noon, true, true)), "12:00:01");
  EXPECT_EQ(time(DateLine(&noon, true, true)), "12:00:02");
  EXPECT_EQ(time(DateLine(&morning)), "09:00:00");  // an earlier line lowers it
  EXPECT_EQ(time(DateLine(&morning, true, true)), "09:00:01");
  EXPECT_EQ(time(DateLine(nullptr, true, true)), "14:00:00");  // now is later: unchanged
  EXPECT_EQ(time(DateLine(nullptr, true, true)), "14:00:01");
  EXPECT_EQ(time(DateLine(nullptr, true, false)), "14:00:00");
}

TEST(DateLineTest, WritingToAStreamPassesOnTheResult) {
  ScopedTimeZone zone("Europe/Berlin");
  platform::ScopedWallClock clock({Utc(2026, 12, 6, 13, 30, 11), 0});
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(TIME_WriteRFCDate(stream, 1, 0, nullptr), 45);
  std::rewind(stream);
  char read[100] = {};
  EXPECT_EQ(std::fread(read, 1, sizeof read, stream), 45u);
  EXPECT_STREQ(read, "Date: Sun,  6 Dec 2026 14:30:11 +0100 (CET)\r\n");
  std::fclose(stream);

  std::FILE* readOnly = std::fopen("/dev/null", "r");
  ASSERT_NE(readOnly, nullptr);
  EXPECT_LT(TIME_WriteRFCDate(readOnly, 1, 0, nullptr), 0);
  std::fclose(readOnly);
  EXPECT_LT(TIME_WriteRFCDate(nullptr, 1, 0, nullptr), 0);
}

struct ReadCase {
  std::string text;
  PackedDateTime utc;  // 0: refused
};

TEST(DateReaderTest, ValuesAreReadAsUtcOrRefused) {
  ScopedTimeZone zone("Europe/Berlin");
  platform::ScopedWallClock clock({Utc(2026, 12, 7, 10), 0});
  const ReadCase cases[] = {
      {"Sun, 06 Dec 2026 13:30:11 +0100", Packed(2026, 12, 6, 12, 30, 10)},
      {"Sun, 06 Dec 2026 13:30:11 +0100 (CET)", Packed(2026, 12, 6, 12, 30, 10)},
      {"Sun,  6 Dec 2026 14:30:11 -0000 (GMT)\r\n", Packed(2026, 12, 6, 14, 30, 10)},
      {"6 Dec 2026 13:30 GMT", Packed(2026, 12, 6, 13, 30)},
      {"06 Dec 2026 13:30:11 EST", Packed(2026, 12, 6, 18, 30, 10)},
      {"Mon, 7 dec 26 00:15:00 -0530", Packed(2026, 12, 7, 5, 45)},
      {"31 Dec 2025 23:30:00 -0100", Packed(2026, 1, 1, 0, 30)},  // last year, carried
      {"30 Nov 2026 24:00:00 GMT", Packed(2026, 12, 1, 0, 0)},
      {"31 Nov 2026 12:00:00 GMT", Packed(2026, 12, 1, 12, 0)},
      {"Sun, 29 Mar 2026 02:30:00 +0000", Packed(2026, 3, 29, 2, 30)},  // no local time
      {"01 Dec 2026 12:00:00 A", Packed(2026, 12, 1, 13, 0)},
      {"01 Dec 2026 12:00:00 i", Packed(2026, 12, 1, 21, 0)},
      {"01 Dec 2026 12:00:00 M", Packed(2026, 12, 2, 0, 0)},
      {"01 Dec 2026 12:00:00 N", Packed(2026, 12, 1, 11, 0)},
      {"01 Dec 2026 12:00:00 Y", Packed(2026, 12, 1, 0, 0)},
      {"01 Dec 2026 12:00:00 PDT", Packed(2026, 12, 1, 19, 0)},
      {"01 Dec 2026 12:00:00 ast", Packed(2026, 12, 1, 16, 0)},
      {"01 Dec 2026 12:00:00   CST \t", Packed(2026, 12, 1, 18, 0)},
      {"01 Dec 2026 12:00:00" + std::string(200, ' ') + "GMT", Packed(2026, 12, 1, 12, 0)},
      // Refused.
      {"01 Dec 2026 12:00:00" + std::string(240, ' ') + "GMT", 0},  // zone beyond 259 chars
      {"Sun, 06 Dec 2024 13:30:11 +0100", 0},
      {"06 Dec 2027 13:30:11 +0100", 0},
      {"06 Dec 2026 13:30:11 Z", 0},
      {"06 Dec 2026 13:30:11 J", 0},
      {"06 Dec 2026 13:30:11 UT", 0},
      {"06 Dec 2026 13:30:11 UTC", 0},
      {"06 Dec 2026 13:30:11 CET", 0},
      {"06 Dec 2026 13:30:11 ESTX", 0},
      {"06 Dec 2026 13:30:11 ", 0},
      {"06 Dec 2026 13:30:11", 0},
      {"06 Dec 2026 13:30:11+0100", 0},
      {"06 Dec 2026 13:30+0100", 0},
      {"06 Dec 2026 13:30:11 +100", 0},
      {"06 Dec 2026 13:30:11 -01", 0},
      {"06 Dec 2026 13:30:11 +01a0", 0},
      {"06  Dec 2026 13:30:11 GMT", 0},
      {"06 Dec  2026 13:30:11 GMT", 0},
      {"06 Dec 2026  13:30:11 GMT", 0},
      {"06 Dec 2026 13:30:11  ", 0},
      {"32 Dec 2026 13:30:11 GMT", 0},
      {"0 Dec 2026 13:30:11 GMT", 0},
      {"06 Dez 2026 13:30:11 GMT", 0},
      {"06 Dec 2026 25:00:00 GMT", 0},
      {"06 Dec 2026 13:60:00 GMT", 0},
      {"06 Dec 2026 13:30:60 GMT", 0},
      {"06 Dec 2026 130:30:00 GMT", 0},
      {"06 Dec 2026", 0},
      {"Sun,   ", 0},
      {"", 0},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE("\"" + c.text + "\"");
    PackedDateTime result = 0xDEADBEEF;
    const bool read = ParseRFCDate(&result, c.text.c_str());
    EXPECT_EQ(read, c.utc != 0);
    EXPECT_EQ(result, read ? c.utc : 0xDEADBEEF);
  }
  PackedDateTime result = 0;
  EXPECT_FALSE(ParseRFCDate(&result, nullptr));
  EXPECT_FALSE(ParseRFCDate(nullptr, "6 Dec 2026 13:30 GMT"));
}

TEST(DateReaderTest, EveryZonesDateLineReadsBackAsItsUtcTime) {
  const int64_t moments[] = {Utc(2026, 12, 6, 12, 30, 10), Utc(2026, 7, 5, 23, 59, 58),
                             Utc(2026, 1, 1, 0, 0, 0)};
  for (const char* name : {"Europe/Berlin", "UTC", "America/New_York", "Asia/Tokyo", "Asia/Kolkata",
                           "Australia/Sydney"}) {
    ScopedTimeZone zone(name);
    platform::ScopedWallClock clock({Utc(2026, 12, 7), 0});
    for (const int64_t moment : moments) {
      SCOPED_TRACE(std::string(name) + " " + std::to_string(moment));
      const PackedDateTime local = platform::SecondsToPacked(moment).value();
      PackedDateTime utc = 0;
      ASSERT_TRUE(ParseRFCDate(&utc, DateLine(&local).c_str())) << DateLine(&local);
      EXPECT_EQ(utc, platform::PackDateTime(platform::ToUtcTime(moment).value()));
    }
  }
}

}  // namespace
}  // namespace util
