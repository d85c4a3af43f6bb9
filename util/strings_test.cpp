#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/profile.h"
#include "testsupport/file_test.h"
#include "util/lib_strings.h"

namespace {

TEST(StringsTest, PathsSplitAtBothSeparators) {
  struct Case {
    const char* path;
    const char* dir;
    const char* body;
    const char* extension;
  };
  const std::vector<Case> cases = {
      {"C:\\a\\b.txt", "C:\\a\\", "b", "txt"},
      {"C:\\a\\b.tar.gz", "C:\\a\\", "b.tar", "gz"},
      {"C:\\a\\.profile", "C:\\a\\", ".profile", ".profile"},
      {"C:\\a\\README", "C:\\a\\", "README", "README"},
      {"C:\\a\\x.", "C:\\a\\", "x", ""},
      {"C:\\a\\", "C:\\a\\", "", ""},
      {"b.txt", "", "b", "txt"},
      {"/srv/cards/PREPAID.DAT", "/srv/cards/", "PREPAID", "DAT"},
      {"/srv\\mixed/name.x.y", "/srv\\mixed/", "name.x", "y"},
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_STREQ(LIB_sPath(c.path), c.dir);
    EXPECT_STREQ(LIB_FilenameBody(c.path), c.body);
    EXPECT_STREQ(sNameBody(c.path), c.body);
    EXPECT_STREQ(LIB_FilenameExtension(c.path), c.extension);
  }
  const char* path = "C:\\a\\b.txt";
  EXPECT_EQ(LIB_Filename(path, '\\'), path + 5);
  EXPECT_EQ(sName("/x/y.z", '\\'), std::string("y.z")) << "either separator splits";
  EXPECT_EQ(LIB_Filename(path, '#'), path);
  EXPECT_EQ(LIB_Filename("a.b.c", '.'), std::string("c"));

  // Results are cut to the 260-character buffers.
  const std::string longName = std::string(300, 'd') + "/" + std::string(400, 'n') + ".ext";
  EXPECT_EQ(std::strlen(LIB_sPath(longName.c_str())), 0u) << "no separator in the first 259";
  EXPECT_EQ(std::string(LIB_FilenameBody(longName.c_str())), std::string(259, 'n'));
  EXPECT_STREQ(LIB_FilenameExtension(longName.c_str()), "ext");
}

TEST(StringsTest, ComparisonsIgnoreCaseAndFollowTheLocaleOrder) {
  EXPECT_EQ(LIB_strcmp("abc", "ABC"), 0);
  EXPECT_EQ(LIB_strcmp("\xE4pfel", "\xC4PFEL"), 0) << "ä and Ä are one letter";
  EXPECT_LT(LIB_strcmp("\xC4pfel", "Zebra"), 0) << "Ä sorts with A";
  EXPECT_GT(LIB_strcmp("b", "A"), 0);
  EXPECT_LT(LIB_strcmp("!", "0"), 0);
  EXPECT_LT(LIB_strcmp("9", "a"), 0);
  EXPECT_LT(LIB_strcmp("coop", "co-op"), 0);
  EXPECT_LT(LIB_strcmp(nullptr, "a"), 0);
  EXPECT_EQ(LIB_strncmp("abcX", "ABCY", 3), 0);
  EXPECT_LT(LIB_strncmp("abcX", "ABCY", 4), 0);
  EXPECT_EQ(LIB_strncmp("x", "y", 0), 0);
  EXPECT_EQ(LIB_strncmp("x", "y", -5), 0);
  // Only the first 999 characters take part.
  const std::string a = std::string(999, 'q') + "a", b = std::string(999, 'Q') + "b";
  EXPECT_EQ(LIB_strcmp(a.c_str(), b.c_str()), 0);
  EXPECT_EQ(LIB_strncmp(a.c_str(), b.c_str(), 5000), 0);

  const char* text =
      "Gr\xFC\xDF"
      "e aus K\xF6LN";
  EXPECT_EQ(LIB_strstr(text, "k\xD6ln"), text + 10);
  EXPECT_EQ(LIB_strstr(text, ""), text);
  EXPECT_EQ(LIB_strstr(text, "Bonn"), nullptr);
  const std::string farAway = std::string(995, '.') + "needle";
  EXPECT_EQ(LIB_strstr(farAway.c_str(), "needle"), nullptr) << "beyond 999 characters";

  struct Wild {
    const char *text, *pattern;
    int32_t result;
  };
  for (const Wild& w : std::vector<Wild>{{"ab1", "ab?", 0},
                                         {"ab1", "ab", -1},
                                         {"AB1", "ab?", -1},
                                         {"ab?", "ab1", -1},
                                         {"ab?", "ab?", 0},
                                         {"", "", 0}}) {
    EXPECT_EQ(LIB_wildstrcmp(w.text, w.pattern), w.result) << w.text << " ~ " << w.pattern;
  }
}

TEST(StringsTest, BoundedCopiesFillsAndScrambling) {
  char dest[8];
  std::memset(dest, '#', sizeof dest);
  EXPECT_EQ(LIB_strncpy(dest, "abcdef", 3), dest);
  EXPECT_EQ(std::string(dest, 5), std::string("abc\0#", 5));
  std::memset(dest, '#', sizeof dest);
  mystrncpy(dest, "ab", 5);
  EXPECT_EQ(std::string(dest, 7), std::string("ab\0\0\0\0#", 7));
  std::memset(dest, '#', sizeof dest);
  LIB_strncpy(dest, "ab", -1);
  EXPECT_EQ(std::string(dest, 8), std::string(8, '#')) << "a negative count writes nothing";

  uint16_t words[5] = {1, 1, 1, 1, 1};
  mymemset(words + 1, 0xBEEF, 3);
  EXPECT_EQ(std::vector<uint16_t>(words, words + 5),
            (std::vector<uint16_t>{1, 0xBEEF, 0xBEEF, 0xBEEF, 1}));
  char overlap[] = "abcdef";
  EXPECT_EQ(mymemcpy(overlap + 1, overlap, 4), overlap + 1);
  EXPECT_STREQ(overlap, "aabcdf");

  std::vector<uint8_t> bytes(256);
  for (int i = 0; i < 256; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  std::vector<uint8_t> scrambled = bytes;
  LIB_xor(scrambled.data(), 256);
  for (int i = 0; i < 256; ++i) {
    const uint8_t b = scrambled[static_cast<size_t>(i)];
    EXPECT_TRUE(i < 32 ? b == i : (b != i && b >= 32)) << i;
  }
  LIB_xor(scrambled.data(), 256);
  EXPECT_EQ(scrambled, bytes);
  LIB_xor(scrambled.data(), -4);
  EXPECT_EQ(scrambled, bytes);
}

class StringsProfileTest : public testsupport::FileTest {};

TEST_F(StringsProfileTest, ProfileWritesTrimTheCallersTexts) {
  const std::string ini = Path("x.ini");
  char key[] = "  Key  ";
  char value[] = "  12  ";
  EXPECT_NE(LIB_WritePrivateProfileString("Sec", key, value, ini.c_str()), 0);
  EXPECT_STREQ(value, "  12") << "trailing blanks cut in place";
  EXPECT_STREQ(key, "  Key");
  EXPECT_EQ(testsupport::ReadFile(ini), "[Sec]\r\nKey=12\r\n");
  char tabbed[] = "\tv\t";
  EXPECT_NE(LIB_WritePrivateProfileString("Sec", key, tabbed, ini.c_str()), 0);
  EXPECT_EQ(testsupport::ReadFile(ini), "[Sec]\r\nKey=\tv\t\r\n") << "tabs are no blanks here";
  EXPECT_NE(LIB_WritePrivateProfileString("Sec", key, nullptr, ini.c_str()), 0);
  EXPECT_EQ(testsupport::ReadFile(ini), "[Sec]\r\n");
  EXPECT_EQ(LIB_WritePrivateProfileString("Sec", key, value, Path("no/dir.ini").c_str()), 0);

  char country[] = " 43 ";
  char countryKey[] = "CountryCode";
  EXPECT_STREQ(LIB_GetCountryCode(), "49");
  EXPECT_NE(LIB_WriteProfileString("Tarnwell", countryKey, country), 0);
  EXPECT_STREQ(GetCountryCode(), "43");
  platform::WriteUserProfileString("Tarnwell", "CountryCode", "0123456789012345678901234");
  EXPECT_STREQ(LIB_GetCountryCode(), "0123456789012345678");
}

TEST_F(StringsProfileTest, LognameTakesTheConfiguredDirectory) {
  char out[260];
  EXPECT_EQ(LIB_Logname(out, "C:\\log\\", "x.log"), out);
  EXPECT_STREQ(out, "C:\\log\\x.log");
  platform::WriteProfileString("Common", "LogDirectory", "/var/log/lindavox/", "TARNWELL.INI");
  EXPECT_STREQ(LIB_Logname(out, "C:\\log\\", "x.log"), "/var/log/lindavox/x.log");
  const std::string longName(400, 'n');
  EXPECT_EQ(std::strlen(LIB_Logname(out, "", longName.c_str())), 259u);
}

}  // namespace
