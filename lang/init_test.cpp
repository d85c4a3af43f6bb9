// LS_init: which language is used, when lookup becomes active, and what inactive lookup gives.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <optional>

#include "lang/lang_test.h"
#include "testsupport/int_flag_call.h"
#include "testsupport/other_process.h"

extern "C" int LangCalledFromC(void);

namespace lang {
namespace {

using namespace std::chrono_literals;
using testsupport::IniText;
using testsupport::WriteFile;

std::string Prepaid(const std::string& text) { return IniText({{"PREPAID", {{"2", text}}}}); }

TEST_F(LangTest, InactiveLookupGivesTheDefaultItselfUntouched) {
  WriteLanguage("english", Prepaid("Card data saved"));  // present, but never chosen
  EXPECT_EQ(Init(), false);
  EXPECT_EQ(LS_isActive(), 0);

  char text[] = "Kartendaten & erfolgreich\\n gespeichert";
  EXPECT_EQ(LSS(39, 2, text, 1, 1, 1), text);
  EXPECT_STREQ(text, "Kartendaten & erfolgreich\\n gespeichert");
  EXPECT_EQ(LSS(39, 2, nullptr, 1, 1, 1), nullptr);
  EXPECT_EQ(LangCalledFromC(), 1);
}

TEST_F(LangTest, UserProfileChoiceWinsOverProductConfiguration) {
  WriteLanguage("english", Prepaid("english"));
  WriteLanguage("french", Prepaid("french"));
  WriteFile(Path("LINDAVOX.INI"), IniText({{"Common", {{"Language", "english"}}}}));
  ASSERT_TRUE(Init());
  EXPECT_EQ(Lookup(39, 2, "x"), "english");

  WriteUserProfile(IniText({{"Tarnwell", {{"Language", "french"}}}}));
  ASSERT_TRUE(Init());
  EXPECT_EQ(Lookup(39, 2, "x"), "french");

  // A name given by the caller wins over both; "" counts as none given.
  ASSERT_TRUE(Init("english"));
  EXPECT_EQ(Lookup(39, 2, "x"), "english");
  ASSERT_TRUE(Init(""));
  EXPECT_EQ(Lookup(39, 2, "x"), "french");
}

TEST_F(LangTest, EmptyDirectoryMeansTheCurrentDirectoryNotTheConfigurationDirectory) {
  WriteLanguage("english", Prepaid("english"));
  WriteFile(Path("LINDAVOX.INI"), IniText({{"Common", {{"Language", "english"}}}}));
  WriteFile(ConfigDir() + "LINDAVOX.INI", IniText({{"Common", {{"Language", "french"}}}}));
  WriteFile(ConfigDir() + "english.LX", Prepaid("wrong file"));
  char previous[PATH_MAX];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(Dir().c_str()), 0);
  const bool active = LS_init("Lindavox", "", "LX", nullptr, 0, 0) == 1;
  const std::string text = Lookup(39, 2, "x");
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_TRUE(active);
  EXPECT_EQ(text, "english");
}

TEST_F(LangTest, NamesThatCannotNameAFileNeverActivate) {
  // On this file system these files can exist; the names must still mean "no language file".
  WriteLanguage("<deutsch>", Prepaid("built-in?"));
  WriteLanguage("x", Prepaid("outside"));
  ::mkdir(Path("prog").c_str(), 0755);
  ::mkdir(Path("dir.LX").c_str(), 0755);
  const std::string program = Path("prog/");
  EXPECT_EQ(LS_init("Lindavox", program.c_str(), "LX", "../x", 0, 0), 0);
  EXPECT_FALSE(Init("<deutsch>"));
  EXPECT_FALSE(Init("dir"));  // a folder is no language file
  EXPECT_FALSE(Init("missing"));
  EXPECT_EQ(LS_init("Lindavox", nullptr, "LX", "x", 0, 0), 0);
  EXPECT_EQ(LS_isActive(), 0);
}

TEST_F(LangTest, LanguageNameFindsItsFileInAnyCase) {
  WriteLanguage("english", Prepaid("english"));
  WriteFile(Path("french.lx"), Prepaid("french"));
  ASSERT_TRUE(Init("English"));
  EXPECT_EQ(Lookup(39, 2, "x"), "english");
  ASSERT_TRUE(Init("FRENCH"));
  EXPECT_EQ(Lookup(39, 2, "x"), "french");

  // The file of exactly that name wins; of several others, the first by name.
  WriteLanguage("English", Prepaid("exact"));
  ASSERT_TRUE(Init("English"));
  EXPECT_EQ(Lookup(39, 2, "x"), "exact");
  ASSERT_TRUE(Init("ENGLISH"));
  EXPECT_EQ(Lookup(39, 2, "x"), "exact");
  ::mkdir(Path("GERMAN.LX").c_str(), 0755);
  EXPECT_FALSE(Init("german"));  // a folder still is no language file
}

TEST_F(LangTest, AutoPickTakesTheFirstLanguageFileOnlyWhenNoChoiceWasStored) {
  WriteLanguage("zulu", Prepaid("zulu"));
  WriteLanguage("english.v2", Prepaid("english"));
  WriteLanguage("<auto>", Prepaid("no language"));  // sorts first, but names no language
  WriteFile(Path("aaa.TXT"), "");
  EXPECT_FALSE(Init(nullptr, false));
  // Only the low byte of the flag counts: a C caller's 256 is false.
  auto init = testsupport::WithIntFlags<uint8_t(const char*, const char*, const char*, const char*,
                                                int32_t, int32_t)>(&LS_init);
  EXPECT_EQ(init("Lindavox", Dir().c_str(), "LX", nullptr, 256, 0), 0);
  ASSERT_TRUE(Init(nullptr, true));
  EXPECT_EQ(Lookup(39, 2, "x"), "english");

  // Any stored choice, even the built-in one, is the operator's and is kept.
  WriteUserProfile(IniText({{"Tarnwell", {{"Language", "<deutsch>"}}}}));
  EXPECT_FALSE(Init(nullptr, true));

  // A configured language file is used as it is, auto-pick or not.
  WriteUserProfile(IniText({{"Tarnwell", {{"Language", "zulu"}}}}));
  ASSERT_TRUE(Init(nullptr, true));
  EXPECT_EQ(Lookup(39, 2, "x"), "zulu");
}

TEST_F(LangTest, PipesAndDevicesInPlaceOfTheFilesNeverHoldUpTheTexts) {
  ASSERT_EQ(::mkfifo(Path("LINDAVOX.INI").c_str(), 0644), 0);
  ASSERT_EQ(::symlink("/dev/zero", (ConfigDir() + "win.ini").c_str()), 0);
  ASSERT_EQ(::mkfifo(Path("CHARSET.INI").c_str(), 0644), 0);
  WriteLanguage("english", Prepaid("english"));
  std::optional<bool> asIfMissing = testsupport::RunWithin(10s, [&] {
    char charset[100];
    const bool configuredNothing = !Init() &&
                                   LS_GetCharset(charset, nullptr, Dir().c_str(), 1) == 1252 &&
                                   std::strcmp(charset, "windows-1252") == 0;
    // A language file that turns into a pipe while it is in use.
    if (!configuredNothing || !Init("english")) return false;
    ::unlink(Path("english.LX").c_str());
    return ::mkfifo(Path("english.LX").c_str(), 0644) == 0 && Lookup(39, 2, "x") == "x";
  });
  EXPECT_EQ(asIfMissing, true);
}

TEST_F(LangTest, AByteOrderMarkHidesNoSection) {
  const std::string bom = "\xEF\xBB\xBF";
  WriteLanguage("english", bom + Prepaid("english"));
  WriteFile(Path("LINDAVOX.INI"), bom + IniText({{"Common", {{"Language", "english"}}}}));
  ASSERT_TRUE(Init());
  EXPECT_EQ(Lookup(39, 2, "x"), "english");
}

TEST_F(LangTest, FailedInitForgetsTheHelpLetterOfTheEarlierLanguage) {
  WriteLanguage("english", IniText({{"Common", {{"Help", "English"}}}}));
  ASSERT_TRUE(Init("english"));
  char name[] = "vantor.hlp";
  EXPECT_STREQ(LS_Help(name), "vantorE.hlp");
  EXPECT_FALSE(Init("missing"));
  EXPECT_EQ(LS_Help(name), name);
}

}  // namespace
}  // namespace lang
