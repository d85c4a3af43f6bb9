// The numeric, English and German date texts under fixed zones and a fixed clock, in both
// generations. Buffers are exactly as large as the texts may be, so the sanitizer build catches
// any overrun.
#include "util/time_format.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstring>
#include <string>

#include "lang/lang.h"
#include "platform/packed_time.h"
#include "platform/wall_clock.h"
#include "testsupport/file_test.h"
#include "testsupport/temp_dir.h"
#include "testsupport/time_zone.h"

namespace util {
namespace {

using testsupport::Packed;
using testsupport::ScopedTimeZone;
using testsupport::Utc;

// 2026-12-06 13:30:10 as date and time words.
constexpr uint32_t kDateWord = 0x5D86;
constexpr uint32_t kTimeWord = 0x6BC5;

struct NowCase {
  const char* zone;
  int64_t now;
  int32_t nanoseconds;
  const char* withSeconds;
  const char* withHundredths;
  const char* mailDate;
  const char* englishDate;
  int32_t minutesAhead;
};

TEST(TimeFormatTest, TextsOfNowFollowTheZone) {
  const NowCase cases[] = {
      {"Europe/Berlin", Utc(2026, 12, 6, 12, 30, 11), 420000000, "06.12.26 13:30:11",
       "06.12.26 13:30:11.42", "06.12.26 13:30", "06 Dec 2026", 60},
      {"Europe/Berlin", Utc(2026, 7, 5, 11, 30, 11), 999999999, "05.07.26 13:30:11",
       "05.07.26 13:30:11.99", "05.07.26 13:30", "05 Jul 2026", 120},
      {"UTC", Utc(2026, 12, 6, 12, 30, 11), 0, "06.12.26 12:30:11", "06.12.26 12:30:11.00",
       "06.12.26 12:30", "06 Dec 2026", 0},
      {"America/New_York", Utc(2027, 1, 1, 3, 0, 5), 9999999, "31.12.26 22:00:05",
       "31.12.26 22:00:05.00", "31.12.26 22:00", "31 Dec 2026", -300},
      {"America/New_York", Utc(2026, 7, 5, 11, 30, 11), 0, "05.07.26 07:30:11",
       "05.07.26 07:30:11.00", "05.07.26 07:30", "05 Jul 2026", -240},
      {"Asia/Tokyo", Utc(2009, 5, 6, 20, 0, 0), 10000000, "07.05.09 05:00:00",
       "07.05.09 05:00:00.01", "07.05.09 05:00", "07 May 2009", 540},
  };
  for (const NowCase& c : cases) {
    SCOPED_TRACE(std::string(c.zone) + " " + c.withSeconds);
    ScopedTimeZone zone(c.zone);
    platform::ScopedWallClock clock({c.now, c.nanoseconds});
    char text[41];
    EXPECT_STREQ(TIME_GetAktDateString(text, 0), c.withSeconds);
    EXPECT_STREQ(TIME_GetAktDateString(text, 1), c.withHundredths);
    EXPECT_STREQ(getdatestr(text, 1), c.withHundredths);
    EXPECT_STREQ(TIME_GetAktDateString(text, static_cast<uint8_t>(256)), c.withSeconds);
    EXPECT_STREQ(getemaildate(text), c.mailDate);
    EXPECT_STREQ(TIME_Datestring(text), c.englishDate);
    EXPECT_EQ(TIME_GetMyTimeZoneDelay(), c.minutesAhead);
  }
}

TEST(TimeFormatTest, PackedWordsInEveryTextForm) {
  char text[41];
  EXPECT_STREQ(TIME_ffblk2string(text, kDateWord, kTimeWord, 1, ' ', 1), "06.12.26 13:30:10");
  EXPECT_STREQ(TIME_ffblk2string(text, kDateWord, kTimeWord, 0, ' ', 1), "06.12.2026 13:30");
  EXPECT_STREQ(TIME_ffblk2string(text, kDateWord, kTimeWord, 0, '-', 0), "06.12.26-13:30");
  EXPECT_STREQ(TIME_ffblk2string(text, kDateWord | 0xABCD0000, kTimeWord, 0, '/', 0),
               "06.12.26/13:30");
  EXPECT_STREQ(ffblkTime2String(text, kDateWord, kTimeWord, 1, " um "), "06.12.26 um 13:30:10");
  EXPECT_STREQ(ffblkTime2String(text, kDateWord, kTimeWord, 0, nullptr), "06.12.2613:30");
  const std::string longSeparator(60, '=');
  EXPECT_EQ(ffblkTime2String(text, kDateWord, kTimeWord, 0, longSeparator.c_str()),
            "06.12.26" + std::string(32, '='));

  EXPECT_STREQ(TIME_ffblk2string2(text, kDateWord, kTimeWord), "06-Dec-2026 13:30 GMT");
  EXPECT_STREQ(TIME_ffblk2string2(text, 0x5C06, kTimeWord), "06--2026 13:30 GMT");  // month 0
  EXPECT_STREQ(TIME_ffblk2string2(text, 0x5DA6, kTimeWord), "06--2026 13:30 GMT");  // month 13
  EXPECT_STREQ(TIME_ffblk2string2(text, 0x0021, 0), "01-Jan-1980 00:00 GMT");

  DateRecord date{};
  TimeRecord time{};
  time.hundredths = 99;
  TIME_ffblk2struct(&date, &time, kDateWord, kTimeWord);
  EXPECT_EQ(date.year, 2026);
  EXPECT_EQ(date.month, 12);
  EXPECT_EQ(date.day, 6);
  EXPECT_EQ(time.hour, 13);
  EXPECT_EQ(time.minute, 30);
  EXPECT_EQ(time.second, 10);
  EXPECT_EQ(time.hundredths, 0);
  uint32_t dateWord = 0;
  uint32_t timeWord = 0;
  time.second = 11;  // odd seconds are stored as the two-second step below
  Struct2ffblkTime(&dateWord, &timeWord, &date, &time);
  EXPECT_EQ(dateWord, kDateWord);
  EXPECT_EQ(timeWord, kTimeWord);

  EXPECT_STREQ(TIME_struct2string(text, &date, &time, 1), "06.12.2026 13:30");
  EXPECT_STREQ(datetime2string(text, &date, &time), "06.12.26 13:30");
  const DateRecord early{2005, 2, 1};
  const TimeRecord morning{4, 7, 0, 0};
  EXPECT_STREQ(TIME_struct2string(text, &early, &morning, 0), "02.01.05 07:04");
  EXPECT_STREQ(TIME_struct2string(text, &early, nullptr, 0), "");
  EXPECT_EQ(TIME_struct2string(nullptr, &early, &morning, 0), nullptr);
}

TEST(TimeFormatTest, SecondsSince1970AreLocalTimeBothWays) {
  char text[41];
  {
    ScopedTimeZone zone("Europe/Berlin");
    EXPECT_STREQ(TIME_unix2string(text, Utc(2026, 12, 6, 12, 30), 1), "06.12.2026 13:30");
    EXPECT_STREQ(time2string(text, Utc(2026, 7, 5, 11, 30)), "05.07.26 13:30");
    EXPECT_STREQ(time2string(text, INT32_MAX), "19.01.38 04:14");

    PackedDateTime winter = Packed(2026, 12, 6, 13, 30, 10);
    PackedDateTime summer = Packed(2026, 7, 5, 13, 30, 10);
    EXPECT_EQ(ftimetounix(&winter), Utc(2026, 12, 6, 12, 30, 10));
    EXPECT_EQ(ftimetounix(&summer), Utc(2026, 7, 5, 11, 30, 10));
    EXPECT_EQ(ftimetounix(nullptr), 0);
    PackedDateTime late = Packed(2040, 1, 1, 0, 0);
    EXPECT_EQ(ftimetounix(&late), INT32_MAX);

    const SYSTEMTIME local{2026, 12, 3, 6, 13, 30, 11, 999};
    EXPECT_EQ(TIME_SYSTEMTIME2Unix(&local), Utc(2026, 12, 6, 12, 30, 11));
    const SYSTEMTIME overflowing{2026, 2, 0, 31, 24, 0, 0, 0};  // 31 February, hour 24
    EXPECT_EQ(TIME_SYSTEMTIME2Unix(&overflowing), Utc(2026, 3, 3, 23));
    const SYSTEMTIME past2038{2040, 7, 0, 1, 12, 0, 0, 0};
    EXPECT_EQ(TIME_SYSTEMTIME2Unix(&past2038), INT32_MAX);
    const SYSTEMTIME before1901{1900, 1, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(TIME_SYSTEMTIME2Unix(&before1901), INT32_MIN);

    EXPECT_STREQ(TIME_ftime2string(text, Packed(2026, 12, 31, 23, 30), 3600), "01.01.2027 00:30");
    EXPECT_STREQ(TIME_ftime2string(text, Packed(2026, 12, 6, 13, 30), 0), "06.12.2026 13:30");
    EXPECT_STREQ(TIME_ftime2string(text, 0x5C066BC5, 0), "06.00.2026 13:30");  // as stored
    EXPECT_STREQ(TIME_ftime2string(text, Packed(2026, 3, 29, 1, 30), 3600), "29.03.2026 03:30");
    EXPECT_STREQ(TIME_ftime2string(text, Packed(2040, 7, 1, 12, 0), -86400), "30.06.2040 12:00");
  }
  {
    ScopedTimeZone zone("America/New_York");
    EXPECT_STREQ(TIME_unix2string(text, Utc(2026, 12, 6, 12, 30), 1), "06.12.2026 07:30");
    PackedDateTime winter = Packed(2026, 12, 6, 13, 30, 10);
    EXPECT_EQ(ftimetounix(&winter), Utc(2026, 12, 6, 18, 30, 10));
  }
}

TEST(TimeFormatTest, FileTimesShowTheLocalTimeOfTheirDate) {
  const auto fileTime = [](int64_t seconds) {
    const uint64_t ticks = (static_cast<uint64_t>(seconds) + 11644473600u) * 10000000u + 4321;
    return FILETIME{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
  };
  const FILETIME summer = fileTime(Utc(2026, 7, 5, 11, 30, 11));
  const FILETIME winter = fileTime(Utc(2026, 12, 6, 12, 30, 59));
  char text[41];
  ScopedTimeZone zone("Europe/Berlin");
  platform::ScopedWallClock clock({Utc(2026, 12, 6), 0});  // read in winter
  EXPECT_EQ(TIME_FILETIME2String(text, &summer), 11);
  EXPECT_STREQ(text, "05.07.2026 13:30");
  EXPECT_EQ(FileTime2String(text, &winter), 59);
  EXPECT_STREQ(text, "06.12.2026 13:30");
  EXPECT_EQ(TIME_FILETIME2String(text, nullptr), 0);
  EXPECT_STREQ(text, "");
}

TEST(TimeFormatTest, RelativeSystemTimeMovesTheUtcTimeByWholeDays) {
  // The clock stands at a UTC time that is no local time in Berlin (the spring gap), which must
  // not shift the hour.
  ScopedTimeZone zone("Europe/Berlin");
  platform::ScopedWallClock clock({Utc(2026, 3, 29, 2, 30, 15), 500000000});
  struct Case {
    int32_t days;
    SYSTEMTIME expected;
  } const cases[] = {
      {0, {2026, 3, 0, 29, 2, 30, 15, 0}},     {1, {2026, 3, 0, 30, 2, 30, 15, 0}},
      {-1, {2026, 3, 0, 28, 2, 30, 15, 0}},    {-29, {2026, 2, 0, 28, 2, 30, 15, 0}},
      {4295, {2037, 12, 0, 31, 2, 30, 15, 0}}, {4296, {2038, 1, 0, 1, 2, 30, 15, 0}},
      {4682, {2039, 1, 0, 22, 2, 30, 15, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.days);
    SYSTEMTIME time;
    std::memset(&time, 0x7F, sizeof time);
    EXPECT_EQ(TIME_GetRelativeSystemTime(&time, c.days), 1);
    EXPECT_EQ(std::memcmp(&time, &c.expected, sizeof time), 0)
        << time.wYear << "-" << time.wMonth << "-" << time.wDay << " " << time.wHour << ":"
        << time.wMinute << ":" << time.wSecond << " " << time.wDayOfWeek << " "
        << time.wMilliseconds;
  }
  EXPECT_EQ(TIME_GetRelativeSystemTime(nullptr, 1), 0);
}

class LongDateTest : public testsupport::FileTest {
 protected:
  void TearDown() override {
    LS_init("Lindavox", Dir().c_str(), "LX", "<deutsch>", 0, 0);
    FileTest::TearDown();
  }
  void WriteWithTime(const std::string& name, int64_t lastWrite) {
    testsupport::WriteFile(Path(name), "x");
    const timespec times[2] = {{lastWrite, 0}, {lastWrite, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, Path(name).c_str(), times, 0), 0);
  }
  ScopedTimeZone zone_{"Europe/Berlin"};
};

TEST_F(LongDateTest, GermanNamesOrTheLanguageFilesFromTheLastWriteTime) {
  WriteWithTime("advent.txt", Utc(2026, 12, 6, 12, 30, 11));
  WriteWithTime("march.dat", Utc(2026, 3, 18, 9, 5, 7));
  EXPECT_STREQ(TIME_GetRFCDate_byFilename(Path("advent.txt").c_str()),
               "Sonntag, 06 Dezember 2026 13:30:11");
  EXPECT_STREQ(GetFileTimeString(Path("*.dat").c_str()), "Mittwoch, 18 M\xE4rz 2026 10:05:07");
  char* missing = TIME_GetRFCDate_byFilename(Path("nothing*").c_str());
  EXPECT_STREQ(missing, "");
  EXPECT_EQ(GetFileTimeString(nullptr), missing);  // one static text

  testsupport::WriteFile(Path("english.LX"),
                         "[lib]\r\n4=Wednesday\r\n10=Marchmarchmarchmarchmarch\r\n");
  ASSERT_EQ(LS_init("Lindavox", Dir().c_str(), "LX", "english", 0, 0), 1);
  EXPECT_STREQ(TIME_GetRFCDate_byFilename(Path("march.dat").c_str()),
               "Wednesday, 18 Marchmarchmarchmarc 2026 10:05:07");
  EXPECT_STREQ(TIME_GetRFCDate_byFilename(Path("advent.txt").c_str()),
               "Sonntag, 06 Dezember 2026 13:30:11");
  EXPECT_STREQ(GetFileTimeString(Path("march.dat").c_str()), "Mittwoch, 18 M\xE4rz 2026 10:05:07");
}

}  // namespace
}  // namespace util
