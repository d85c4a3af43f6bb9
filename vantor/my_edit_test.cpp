#include "vantor/my_edit.h"

#include <gtest/gtest.h>

#include "ui/application.h"
#include "ui/headless/headless.h"

namespace {

class Host : public TDialog {
 public:
  Host() : TDialog(nullptr, 1) {
    filtered = new TMyEdit(this, 10, 0);
    plain = new TMyEdit(this, 11, 0);
  }
  TMyEdit* filtered;
  TMyEdit* plain;
};

class MyEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend = &ui::HeadlessBackend::Install();
    app = std::make_unique<TApplication>();
    // clang-format off
    app->AddDialog(DialogTemplate{1, WS_POPUP, "", "MS Sans Serif", 8, 0, 0, 100, 50,
                                  {{10, "EDIT", "", WS_TABSTOP, 0, 0, 50, 12},
                                   {11, "EDIT", "", WS_TABSTOP, 0, 20, 50, 12}}});
    // clang-format on
    host = std::make_unique<Host>();
    ASSERT_TRUE(host->Create());
    host->filtered->SetValidator(new TFilterValidator(TCharSet("0-9")));
  }
  void TearDown() override {
    host.reset();
    app.reset();
    ui::InstallBackend(nullptr);
  }
  static std::pair<int, int> Selection(TEdit& edit) {
    int start = -1;
    int end = -1;
    edit.GetSelection(start, end);
    return {start, end};
  }

  ui::HeadlessBackend* backend = nullptr;
  std::unique_ptr<TApplication> app;
  std::unique_ptr<Host> host;
};

TEST_F(MyEditTest, WithoutValidatorEveryCharacterIsTaken) {
  backend->TypeInto(*host->plain, "a-1 \xe4+");
  EXPECT_EQ(host->plain->GetText(), "a-1 \xe4+");
  EXPECT_TRUE(host->plain->IsModified());
}

TEST_F(MyEditTest, FilterRefusesNonDigitsAndPutsTheCaretBack) {
  TMyEdit& edit = *host->filtered;
  edit.SetText("12");
  edit.SetSelection(2, 2);
  backend->TypeInto(edit, "5");
  EXPECT_EQ(edit.GetText(), "125");
  EXPECT_TRUE(edit.IsModified());

  edit.SetText("12");  // clears the modify flag
  edit.SetSelection(2, 2);
  backend->Type("x");
  EXPECT_EQ(edit.GetText(), "12");
  EXPECT_EQ(Selection(edit), std::make_pair(2, 2));
  EXPECT_FALSE(edit.IsModified());

  // In the middle, after a real change: the flag stays set.
  edit.SetSelection(1, 1);
  backend->Type("7");
  edit.SetSelection(1, 1);
  backend->Type("y");
  EXPECT_EQ(edit.GetText(), "172");
  EXPECT_EQ(Selection(edit), std::make_pair(1, 1));
  EXPECT_TRUE(edit.IsModified());

  // A refused key over a selection leaves the text; the caret lands before the selection.
  edit.SetSelection(0, 3);
  backend->Type("z");
  EXPECT_EQ(edit.GetText(), "172");
  EXPECT_EQ(Selection(edit), std::make_pair(0, 0));
}

TEST_F(MyEditTest, BackspaceIsNeverChecked) {
  TMyEdit& edit = *host->filtered;
  edit.SetText("ab1");
  edit.SetSelection(3, 3);
  backend->TypeInto(edit, "\b");
  EXPECT_EQ(edit.GetText(), "ab");
  // A key that changes nothing in a text that is already refused: the caret does not move
  // before the start.
  edit.SetSelection(0, 0);
  backend->Type("\x01");
  EXPECT_EQ(edit.GetText(), "ab");
  EXPECT_EQ(Selection(edit), std::make_pair(0, 0));
}

TEST_F(MyEditTest, SearchForwardAndBackward) {
  TMyEdit& edit = *host->plain;
  edit.SetText("xxabyyab");
  EXPECT_EQ(edit.Search(0, "ab", true, false, false), 2);
  EXPECT_EQ(Selection(edit), std::make_pair(2, 4));
  EXPECT_EQ(edit.Search(3, "ab", true, false, false), 6);
  EXPECT_EQ(edit.Search(7, "ab", true, false, false), -1);
  EXPECT_EQ(edit.Search(8, "ab", true, false, true), 6);
  EXPECT_EQ(edit.Search(7, "ab", true, false, true), 2);
  EXPECT_EQ(edit.Search(3, "ab", true, false, true), -1);
  // From the selection: its end forward, its start backward.
  edit.SetSelection(2, 4);
  EXPECT_EQ(edit.Search(static_cast<unsigned>(-1), "ab", true, false, false), 6);
  edit.SetSelection(6, 8);
  EXPECT_EQ(edit.Search(static_cast<unsigned>(-1), "ab", true, false, true), 2);
  // Nothing to find: -1, the selection untouched.
  edit.SetSelection(1, 3);
  EXPECT_EQ(edit.Search(0, "", true, false, false), -1);
  EXPECT_EQ(edit.Search(0, nullptr, true, false, false), -1);
  EXPECT_EQ(edit.Search(0, "abc", true, false, false), -1);
  EXPECT_EQ(Selection(edit), std::make_pair(1, 3));
  // A needle longer than the text, backward.
  EXPECT_EQ(edit.Search(8, "xxabyyabz", true, false, true), -1);
}

TEST_F(MyEditTest, SearchWholeWordsAndCase) {
  TMyEdit& edit = *host->plain;
  edit.SetText("ab cab");
  EXPECT_EQ(edit.Search(0, "ab", true, true, false), 0);
  EXPECT_EQ(edit.Search(1, "ab", true, true, false), -1);
  EXPECT_EQ(edit.Search(6, "ab", true, true, true), 0);
  // Umlauts separate words; ASCII letters and digits do not.
  edit.SetText(
      "\xe4"
      "ab1ab-ab");
  EXPECT_EQ(edit.Search(0, "ab", true, true, false), 7);
  // A match refused as no whole word: backward, the scan goes on from that match as a new
  // start, so a candidate overlapping it is never seen.
  struct Case {
    const char* text;
    const char* wanted;
    unsigned from;
    bool up;
    int found;
  };
  for (const Case& each : {Case{"---a", "--", 3, true, -1}, Case{"---a", "--", 4, true, -1},
                           Case{"-- --a", "--", 6, true, 0}, Case{"a--b --", "--", 7, true, 5},
                           Case{"---a", "--", 0, false, 0}, Case{"a---", "--", 0, false, 2}}) {
    edit.SetText(each.text);
    EXPECT_EQ(edit.Search(each.from, each.wanted, true, true, each.up), each.found)
        << each.text << " from " << each.from << (each.up ? " up" : " down");
  }
  edit.SetText("xAb\xc4Z");
  EXPECT_EQ(edit.Search(0, "ab", true, false, false), -1);
  EXPECT_EQ(edit.Search(0, "AB\xe4z", false, false, false), 1);
}

}  // namespace
