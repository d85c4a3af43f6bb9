// LSWW, LSM and LSMP on the framework's windows and menus.
#include "lang/window_texts.h"

#include <memory>
#include <string>
#include <vector>

#include "lang/lang_test.h"
#include "testsupport/int_flag_call.h"
#include "ui/headless/headless.h"
#include "ui/menu.h"
#include "ui/window.h"

extern "C" int WindowTextsCalledFromC(void);

namespace lang {
namespace {

using testsupport::IniText;

class WindowTextsTest : public LangTest {
 protected:
  void SetUp() override {
    LangTest::SetUp();
    ui::HeadlessBackend::Install();
    frame = std::make_unique<TFrameWindow>(nullptr, "Guthaben:", nullptr);
    frame->Create();
    WriteLanguage("english", IniText({{"common",
                                       {{"3", "&Cancel"},
                                        {"41", "&Quit"},
                                        {"42", "&File"},
                                        {"43", "&Help"},
                                        {"44", "Line"},
                                        {"45", "Options"}}}}));
  }
  void TearDown() override {
    frame.reset();
    ui::InstallBackend(nullptr);
    LangTest::TearDown();
  }

  std::unique_ptr<TFrameWindow> frame;
};

// "&Datei" { 100 "&Öffnen", separator, 101 "&Beenden" }, 200 "&Hilfe", separator,
// "&Extras" { 300 "&Optionen" }
TMenu MenuBar() {
  TMenu menu;
  TMenu& file = menu.AppendPopup("&Datei");
  file.AppendItem(100, "&Öffnen");
  file.AppendSeparator();
  file.AppendItem(101, "&Beenden");
  menu.AppendItem(200, "&Hilfe");
  menu.AppendSeparator();
  menu.AppendPopup("&Extras").AppendItem(300, "&Optionen");
  return menu;
}

std::string Text(const TMenu& menu, unsigned item, unsigned by) {
  char text[400];
  menu.GetMenuString(item, text, sizeof text, by);
  return text;
}

TEST_F(WindowTextsTest, CaptionIsTranslatedOnlyWhileALanguageFileIsInUse) {
  EXPECT_EQ(LSWW(frame.get(), 0, 3, 1, LS_COLON_REMOVE, 1), 1);
  EXPECT_EQ(frame->GetText(), "Guthaben:");  // not even the colon rule applies
  EXPECT_EQ(LSWW(nullptr, 0, 3, 1, -1, 0), 1);

  ASSERT_TRUE(Init("english"));
  // A missing key: the window's own text is the default, with the rules applied.
  EXPECT_EQ(LSWW(frame.get(), 0, 77, 1, LS_COLON_REMOVE, 0), 1);
  EXPECT_EQ(frame->GetText(), "Guthaben");
  LSWW(frame.get(), 0, 3, 2, LS_COLON_APPEND, 1);
  EXPECT_EQ(frame->GetText(), "Cancel:");
  EXPECT_EQ(frame->Peer()->GetText(), "Cancel:");
  // Only the low byte of the flag counts.
  auto lsww =
      testsupport::WithIntFlags<uint8_t(TWindow*, int32_t, int32_t, int32_t, int32_t, int32_t)>(
          &LSWW);
  lsww(frame.get(), 0, 3, 1, LS_COLON_KEEP, 256);
  EXPECT_EQ(frame->GetText(), "&Cancel");

  // A long window text as the default comes back as long as a lookup's text may be.
  frame->SetCaption(std::string(1200, 'w').c_str());
  LSWW(frame.get(), 0, 77, 1, LS_COLON_KEEP, 0);
  EXPECT_EQ(frame->GetText(), std::string(511, 'w'));
  EXPECT_EQ(WindowTextsCalledFromC(), 1);
}

TEST_F(WindowTextsTest, MenuItemsStayUntouchedWhileInactive) {
  TMenu menu = MenuBar();
  EXPECT_EQ(LSM(0, &menu, 101, 41), 1);
  EXPECT_EQ(LSMP(0, &menu, 0, 42), 1);
  EXPECT_EQ(Text(menu, 101, MF_BYCOMMAND), "&Beenden");
  EXPECT_EQ(Text(menu, 0, MF_BYPOSITION), "&Datei");
  EXPECT_EQ(LSM(0, nullptr, 101, 41), 1);
  EXPECT_EQ(LSMP(0, nullptr, 0, 42), 1);
}

TEST_F(WindowTextsTest, ItemByCommandIsFoundInSubmenus) {
  ASSERT_TRUE(Init("english"));
  TMenu menu = MenuBar();
  EXPECT_EQ(LSM(0, &menu, 101, 41), 1);
  EXPECT_EQ(Text(menu, 101, MF_BYCOMMAND), "&Quit");
  EXPECT_EQ(menu.GetSubMenu(0)->GetMenuItemID(2), 101);
  EXPECT_EQ(LSM(0, &menu, 300, 45), 1);
  EXPECT_EQ(Text(menu, 300, MF_BYCOMMAND), "Options");
  // A missing key keeps the text; a missing item changes nothing.
  LSM(0, &menu, 100, 77);
  EXPECT_EQ(Text(menu, 100, MF_BYCOMMAND), "&Öffnen");
  EXPECT_EQ(LSM(0, &menu, 999, 43), 1);
  EXPECT_EQ(Text(menu, 200, MF_BYCOMMAND), "&Hilfe");
  EXPECT_EQ(Text(menu, 1, MF_BYPOSITION), "&Hilfe");

  // Menu texts are read up to 259 characters.
  menu.ModifyMenu(200, MF_BYCOMMAND, 200, std::string(300, 'm').c_str());
  LSM(0, &menu, 200, 77);
  EXPECT_EQ(Text(menu, 200, MF_BYCOMMAND), std::string(259, 'm'));
}

TEST_F(WindowTextsTest, ItemByPositionKeepsItsIdAndItsSubmenu) {
  ASSERT_TRUE(Init("english"));
  TMenu menu = MenuBar();
  const TMenu* file = menu.GetSubMenu(0);

  EXPECT_EQ(LSMP(0, &menu, 0, 42), 1);
  EXPECT_EQ(Text(menu, 0, MF_BYPOSITION), "&File");
  EXPECT_EQ(menu.GetSubMenu(0), file);
  EXPECT_EQ(menu.Items()[0].flags, MF_POPUP);
  EXPECT_EQ(file->GetMenuItemCount(), 3);
  EXPECT_EQ(Text(menu, 101, MF_BYCOMMAND), "&Beenden");

  EXPECT_EQ(LSMP(0, &menu, 1, 43), 1);
  EXPECT_EQ(Text(menu, 1, MF_BYPOSITION), "&Help");
  EXPECT_EQ(menu.GetMenuItemID(1), 200);  // not the position
  EXPECT_EQ(Text(menu, 200, MF_BYCOMMAND), "&Help");

  // A separator has no text to translate.
  EXPECT_EQ(LSMP(0, &menu, 2, 44), 1);
  EXPECT_EQ(menu.Items()[2].flags, MF_SEPARATOR);
  EXPECT_EQ(menu.Items()[2].text, "");
  EXPECT_EQ(LSMP(0, &menu, 4, 44), 1);
  EXPECT_EQ(LSMP(0, &menu, -1, 44), 1);
  EXPECT_EQ(menu.GetMenuItemCount(), 4);

  EXPECT_EQ(LSMP(0, &menu, 3, 45), 1);
  EXPECT_EQ(Text(menu, 3, MF_BYPOSITION), "Options");
  EXPECT_EQ(menu.GetSubMenu(3)->GetMenuItemID(0), 300);
  EXPECT_EQ(Text(menu, 300, MF_BYCOMMAND), "&Optionen");
}

}  // namespace
}  // namespace lang
