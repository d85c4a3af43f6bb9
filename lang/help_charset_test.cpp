// LS_Help and LS_GetCharset.
#include <cstring>

#include "lang/lang_test.h"
#include "testsupport/int_flag_call.h"

namespace lang {
namespace {

using testsupport::IniText;
using testsupport::WriteFile;

TEST_F(LangTest, HelpLetterGoesBeforeTheFirstDot) {
  char plain[] = "vantor.hlp", twoDots[] = "a.b.hlp", noDot[] = "README";
  EXPECT_EQ(LS_Help(plain), plain);  // no language file in use

  WriteLanguage("english", IniText({{"Common", {{"Help", "  English  "}}}}));
  ASSERT_TRUE(Init("english"));
  EXPECT_STREQ(LS_Help(plain), "vantorE.hlp");
  EXPECT_STREQ(plain, "vantor.hlp");
  EXPECT_STREQ(LS_Help(twoDots), "aE.b.hlp");
  EXPECT_EQ(LS_Help(noDot), noDot);
  EXPECT_EQ(LS_Help(nullptr), nullptr);
  std::string longName = std::string(400, 'h') + ".hlp";
  EXPECT_EQ(LS_Help(longName.data()), std::string(400, 'h') + "E.hlp");

  // No letter, and no letter that would turn the name into a path elsewhere.
  WriteLanguage("plain", IniText({{"common", {{"Help", ""}}}}));
  ASSERT_TRUE(Init("plain"));
  EXPECT_EQ(LS_Help(plain), plain);
  WriteLanguage("slash", IniText({{"Common", {{"Help", "/x"}}}}));
  ASSERT_TRUE(Init("slash"));
  EXPECT_EQ(LS_Help(plain), plain);
}

TEST_F(LangTest, CharsetOfTheCodePageWithItsExtraWord) {
  WriteFile(Path("CHARSET.INI"),
            IniText({{"CharSet", {{"1250", "iso-8859-2"}, {"1252", "iso-8859-1 Arial Narrow"}}}}));
  char charset[100], extra[100] = "untouched";
  EXPECT_EQ(LS_GetCharset(charset, extra, Dir().c_str(), 1), 1252);
  EXPECT_STREQ(charset, "iso-8859-1");
  EXPECT_STREQ(extra, "Arial Narrow");
  EXPECT_EQ(LS_GetCharset(charset, nullptr, Dir().c_str(), 0), 1252);
  EXPECT_STREQ(charset, "iso-8859-1");

  WriteFile(Path("CHARSET.INI"), IniText({{"charset", {{"1252", std::string(150, 'c')}}}}));
  std::strcpy(extra, "untouched");
  LS_GetCharset(charset, extra, Dir().c_str(), 1);
  EXPECT_EQ(std::string(charset), std::string(99, 'c'));
  EXPECT_STREQ(extra, "untouched");
}

TEST_F(LangTest, MissingCharsetFallsBackOnlyWhenAsked) {
  char charset[100] = "stale";
  EXPECT_EQ(LS_GetCharset(charset, nullptr, Dir().c_str(), 0), 1252);
  EXPECT_STREQ(charset, "");
  LS_GetCharset(charset, nullptr, Dir().c_str(), 1);
  EXPECT_STREQ(charset, "windows-1252");
  auto getCharset =
      testsupport::WithIntFlags<int32_t(char*, char*, const char*, int32_t)>(&LS_GetCharset);
  getCharset(charset, nullptr, Dir().c_str(), 256);  // a C caller's int: the low byte is 0
  EXPECT_STREQ(charset, "");
  LS_GetCharset(charset, nullptr, nullptr, 0);
  EXPECT_STREQ(charset, "");
  EXPECT_EQ(LS_GetCharset(nullptr, nullptr, Dir().c_str(), 1), 1252);
}

}  // namespace
}  // namespace lang
