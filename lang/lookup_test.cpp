// LSS with a language file in use: sections, keys, escapes, colon and ampersand rules, slots,
// and the text core of the window and menu translation.
#include <cstring>
#include <string>

#include "lang/lang_internal.h"
#include "lang/lang_test.h"

namespace lang {
namespace {

using testsupport::IniText;

class LookupTest : public LangTest {
 protected:
  void SetUp() override {
    LangTest::SetUp();
    // Section names in other cases than the table's: names compare without case.
    WriteLanguage("english",
                  std::string("[COMMON]\r\n1=Error\r\n9999=not the info\r\nInfo=About\r\n"
                              "[Lib]\r\n8=January\r\n[prepaid]\r\n") +
                      "2=Card data saved\r\n"
                      "3=\r\n"
                      "10=two\\nlines\r\n"
                      "11=C:\\\\temp\r\n"
                      "12=a\\\\\\\\\\b \\\\n \\r\\t\r\n"
                      "20=Guthaben:\r\n"
                      "21=Guthaben\r\n"
                      "22=a::\r\n"
                      "30=&Abbruch\r\n"
                      "31=A&b&c\r\n");
    ASSERT_TRUE(Init("english"));
  }
};

TEST_F(LookupTest, TextsComeFromTheSectionOfTheIndex) {
  char fallback[] = "Kartendaten erfolgreich gespeichert";
  char* text = LSS(39, 2, fallback, 1, 1, 1);
  EXPECT_NE(text, fallback);
  EXPECT_STREQ(text, "Card data saved:");
  EXPECT_STREQ(fallback, "Kartendaten erfolgreich gespeichert");

  EXPECT_EQ(Lookup(0, 1, "Fehler"), "Error");
  EXPECT_EQ(Lookup(0, 9999, "Info"), "About");
  EXPECT_EQ(Lookup(1, 8, "Januar"), "January");
  EXPECT_EQ(Lookup(2, 8, "Januar"), "Januar");        // another program's section
  EXPECT_EQ(Lookup(39, 3, "Nicht gespeichert"), "");  // present and empty
  EXPECT_EQ(Lookup(39, 99, "Fehlt  "), "Fehlt");      // missing: default without trailing blanks
}

TEST_F(LookupTest, IndicesOutsideTheTableGiveTheDefaultWithTheRulesApplied) {
  EXPECT_STREQ(SectionName(0), "common");
  EXPECT_STREQ(SectionName(1), "lib");
  EXPECT_STREQ(SectionName(39), "PREPAID");
  EXPECT_EQ(SectionName(52), nullptr);
  EXPECT_EQ(Lookup(52, 2, "&Suchen", 1, 1), "Suchen:");
  EXPECT_EQ(Lookup(-1, 2, "&Suchen", 1, 1), "Suchen:");
}

TEST_F(LookupTest, EscapesAreUndoneInFourPassesInTheirOrder) {
  EXPECT_EQ(Lookup(39, 10, ""), "two\nlines");
  // "\\" first: C:\temp, whose "\t" the second pass turns into a tab.
  EXPECT_EQ(Lookup(39, 11, ""), "C:\temp");
  // Five backslashes shrink to one, and "\\n" ends as a line feed.
  EXPECT_EQ(Lookup(39, 12, ""), "a\\b \n \r\t");
  // A default goes through the same passes while a language file is in use.
  EXPECT_EQ(Lookup(39, 99, "x\\\\\\ny"), "x\ny");
}

TEST_F(LookupTest, ColonModesAndTheFirstAmpersand) {
  EXPECT_EQ(Lookup(39, 20, "", 0), "Guthaben");
  EXPECT_EQ(Lookup(39, 20, "", 1), "Guthaben:");
  EXPECT_EQ(Lookup(39, 20, "", -1), "Guthaben:");
  EXPECT_EQ(Lookup(39, 21, "", -1), "Guthaben");
  EXPECT_EQ(Lookup(39, 21, "", 0), "Guthaben");
  EXPECT_EQ(Lookup(39, 21, "", 7), "Guthaben:");
  EXPECT_EQ(Lookup(39, 22, "", 0), "a:");  // only one colon goes
  EXPECT_EQ(Lookup(39, 3, "", 0), "");
  EXPECT_EQ(Lookup(39, 3, "", 1), ":");

  EXPECT_EQ(Lookup(39, 30, "", -1, 1), "Abbruch");
  EXPECT_EQ(Lookup(39, 31, "", -1, 1), "Ab&c");
  EXPECT_EQ(Lookup(39, 31, "", -1, 0), "A&b&c");
  EXPECT_EQ(Lookup(39, 30, "", 1, 1), "Abbruch:");
}

TEST_F(LookupTest, SlotsTwoThreeAndFourKeepTheirResultsOthersShareOne) {
  char a[] = "a", b[] = "b", c[] = "c", d[] = "d", e[] = "e";
  const char* one = LSS(39, 99, a, 1, -1, 0);
  const char* two = LSS(39, 99, b, 2, -1, 0);
  const char* three = LSS(39, 99, c, 3, -1, 0);
  const char* four = LSS(39, 99, d, 4, -1, 0);
  EXPECT_STREQ(one, "a");
  EXPECT_STREQ(two, "b");
  EXPECT_STREQ(three, "c");
  EXPECT_STREQ(four, "d");
  for (int32_t shared : {5, 0, -1, 1000}) {
    EXPECT_EQ(LSS(39, 99, e, shared, -1, 0), one) << shared;
  }
  EXPECT_STREQ(one, "e");
  // A result passed back as the default of its own slot.
  EXPECT_STREQ(LSS(39, 99, LSS(39, 2, a, 1, -1, 0), 1, 1, 0), "Card data saved:");
}

TEST_F(LookupTest, LongTextsAreCutAndTheColonNeverOverrunsTheResult) {
  WriteLanguage(
      "long", IniText({{"PREPAID", {{"1", std::string(600, 'x')}, {"2", std::string(510, 'y')}}}}));
  ASSERT_TRUE(Init("long"));
  EXPECT_EQ(Lookup(39, 1, "", -1), std::string(kMaxText, 'x'));
  EXPECT_EQ(Lookup(39, 1, "", 1), std::string(kMaxText, 'x'));
  EXPECT_EQ(Lookup(39, 2, "", 1), std::string(510, 'y') + ":");
  EXPECT_EQ(Lookup(39, 99, std::string(2000, 'z'), 1), std::string(kMaxText, 'z'));
}

TEST_F(LookupTest, WindowAndMenuTextsAreCutOnReadingAndTranslated) {
  EXPECT_EQ(TranslateWindowText(39, 2, "Kartendaten", 2, 1, 0), "Card data saved:");
  EXPECT_EQ(TranslateWindowText(39, 99, std::string(1200, 'w'), 2, -1, 0),
            std::string(kMaxText, 'w'));

  // Menus: shared slot, colon and ampersand left alone.
  char kept[] = "k";
  const char* shared = LSS(39, 99, kept, 1, -1, 0);
  EXPECT_EQ(TranslateMenuText(39, 30, "&Abbrechen"), "&Abbruch");
  EXPECT_EQ(TranslateMenuText(39, 20, "Guthaben"), "Guthaben:");
  EXPECT_STREQ(shared, "Guthaben:");
  const std::string item = std::string(300, 'm');
  EXPECT_EQ(TranslateMenuText(39, 99, item), std::string(kMaxMenuText, 'm'));

  EXPECT_FALSE(Init("missing"));
  EXPECT_EQ(TranslateWindowText(39, 2, "Kartendaten", 2, 1, 0), std::nullopt);
  EXPECT_EQ(TranslateMenuText(39, 2, "Datei"), std::nullopt);
}

}  // namespace
}  // namespace lang
