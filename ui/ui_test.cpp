#include <gtest/gtest.h>

#include "platform/message_box.h"
#include "ui/application.h"
#include "ui/controls.h"
#include "ui/headless/headless.h"
#include "ui/menu.h"

namespace {

constexpr int kDialogId = 500;
constexpr int kModalId = 501;
constexpr int kEditsId = 502;

// clang-format off
DialogTemplate ClientTemplate() {
  return DialogTemplate{kDialogId, WS_CHILD | WS_VISIBLE | DS_SETFONT, "", "MS Sans Serif", 8,
                        0, 0, 200, 60,
                        {{10, "EDIT", "", WS_BORDER | WS_TABSTOP, 60, 14, 116, 12},
                         {11, "BUTTON", "Close", WS_TABSTOP, 150, 40, 50, 14},
                         {12, "BUTTON", "Go", BS_DEFPUSHBUTTON | WS_TABSTOP, 150, 13, 50, 14},
                         {-1, "STATIC", "Label:", SS_RIGHT, 4, 16, 52, 8}}};
}

DialogTemplate ModalTemplate() {
  return DialogTemplate{kModalId, WS_POPUP | WS_CAPTION | DS_MODALFRAME, "Modal", "MS Sans Serif",
                        8, 10, 10, 100, 40,
                        {{IDOK, "BUTTON", "OK", BS_DEFPUSHBUTTON, 10, 20, 30, 14},
                         {IDCANCEL, "BUTTON", "Cancel", 0, 50, 20, 30, 14}}};
}
// clang-format on

// A client dialog with a bound edit and buttons, recording what its handlers saw.
class Client : public TDialog {
 public:
  explicit Client(TWindow* parent) : TDialog(parent, kDialogId) {
    edit = new TEdit(this, 10, 8);
    go = new TButton(this, 12);
  }
  TEdit* edit;
  TButton* go;
  int goPresses = 0;
  int changes = 0;
  std::vector<unsigned> timerTicks;
  bool refuseClose = false;

  bool CanClose() override { return !refuseClose && TDialog::CanClose(); }

 private:
  void CmGo() { ++goPresses; }
  void CmClose() { CloseWindow(1); }
  void EnChange() { ++changes; }
  void EvTimer(unsigned id) { timerTicks.push_back(id); }
  DECLARE_RESPONSE_TABLE(Client);
};

DEFINE_RESPONSE_TABLE1(Client, TDialog)
  EV_COMMAND(12, CmGo)
  EV_COMMAND(11, CmClose)
  EV_CHILD_NOTIFY(10, EN_CHANGE, EnChange)
  EV_WM_TIMER(EvTimer)
END_RESPONSE_TABLE;

class App : public TApplication {
 public:
  int canCloseCalls = 0;
  Client* client = nullptr;
  void InitMainWindow() override {
    client = new Client(nullptr);
    auto* frame = new TDecoratedFrame(nullptr, "Frame", client);
    frame->Insert(*new TStatusBar(frame), TDecoratedFrame::Bottom);
    SetMainWindow(frame);
  }
  bool CanClose() override {
    ++canCloseCalls;
    return TApplication::CanClose();
  }
};

class UiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend = &ui::HeadlessBackend::Install();
    app = std::make_unique<App>();
    app->AddDialog(ClientTemplate());
    app->AddDialog(ModalTemplate());
  }
  void TearDown() override {
    app.reset();
    ui::InstallBackend(nullptr);
  }
  // Runs the application with `script` as what happens while its loop runs.
  int Run(std::function<void()> script) {
    backend->SetLoopScript(std::move(script));
    return app->Run();
  }

  ui::HeadlessBackend* backend = nullptr;
  std::unique_ptr<App> app;
};

TEST(MulDivTest, RoundsHalfAwayFromZero) {
  EXPECT_EQ(MulDiv(5, 6, 4), 8);     // 7.5
  EXPECT_EQ(MulDiv(-5, 6, 4), -8);   // -7.5
  EXPECT_EQ(MulDiv(14, 13, 8), 23);  // 22.75
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
}

TEST(CharSetTest, RangesAndSingles) {
  TCharSet set("0-9A_");
  EXPECT_TRUE(set.Has('0'));
  EXPECT_TRUE(set.Has('9'));
  EXPECT_TRUE(set.Has('A'));
  EXPECT_TRUE(set.Has('_'));
  EXPECT_FALSE(set.Has('B'));
  EXPECT_FALSE(set.Has('-'));
  TCharSet trailing("a-");
  EXPECT_TRUE(trailing.Has('-'));
  EXPECT_TRUE(trailing.Has('a'));
}

TEST_F(UiTest, DialogBindsTemplateControlsInTemplateOrderAtMappedPositions) {
  Run([&] {
    Client& client = *app->client;
    ASSERT_TRUE(client.IsCreated());
    const auto& children = client.Children();
    ASSERT_EQ(children.size(), 4u);
    EXPECT_EQ(children[0], client.edit);
    EXPECT_EQ(children[2], client.go);
    // The close button and the label come from the framework, with the template's texts.
    EXPECT_EQ(children[1]->GetText(), "Close");
    EXPECT_EQ(children[3]->GetText(), "Label:");
    EXPECT_EQ(client.go->GetText(), "Go");
    // Base units 6 x 13: x * 6 / 4, y * 13 / 8, each rounded on its own.
    EXPECT_EQ(client.edit->GetWindowRect(), (TRect{90, 23, 90 + 174, 23 + 20}));
    EXPECT_EQ(children[1]->GetWindowRect(), (TRect{225, 65, 225 + 75, 65 + 23}));
    EXPECT_EQ(client.GetDefaultId(), 12);
  });
}

TEST_F(UiTest, ResponseTablesDispatchCommandsAndEnterPressesTheDefaultButton) {
  Run([&] {
    Client& client = *app->client;
    backend->Click(*client.go);
    client.edit->SetFocus();
    backend->PressEnter();
    EXPECT_EQ(client.goPresses, 2);
    // A disabled button cannot be pressed.
    client.go->EnableWindow(false);
    backend->Click(*client.go);
    EXPECT_EQ(client.goPresses, 2);
  });
}

TEST_F(UiTest, EditTypingSelectionBackspaceAndLimit) {
  Run([&] {
    TEdit& edit = *app->client->edit;
    backend->TypeInto(edit, "1234");
    EXPECT_EQ(edit.GetText(), "1234");
    EXPECT_TRUE(edit.IsModified());
    EXPECT_EQ(app->client->changes, 4);
    edit.SetSelection(1, 3);
    backend->Type("x");
    EXPECT_EQ(edit.GetText(), "1x4");
    backend->Type("\b\b");
    EXPECT_EQ(edit.GetText(), "4");
    int start = -1;
    int end = -1;
    edit.GetSelection(start, end);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 0);
    // Backspace at the start changes nothing.
    backend->Type("\b");
    EXPECT_EQ(edit.GetText(), "4");
    // Text limit 8 lets 7 characters in.
    edit.SetSelection(1, 1);
    backend->Type("abcdefgh");
    EXPECT_EQ(edit.GetText(), "4abcdef");
    // Setting the text clears the modify flag; control characters are not inserted.
    edit.SetText("12");
    EXPECT_FALSE(edit.IsModified());
    edit.SetSelection(2, 2);
    backend->Type("\t\r\x1b");
    EXPECT_EQ(edit.GetText(), "12");
    EXPECT_FALSE(edit.IsModified());
  });
}

TEST_F(UiTest, FilterValidatorRefusesKeysWithoutAnyTrace) {
  Run([&] {
    TEdit& edit = *app->client->edit;
    edit.SetValidator(new TFilterValidator(TCharSet("0-9")));
    backend->TypeInto(edit, "12");
    edit.SetSelection(0, 1);
    edit.ClearModify();
    backend->Type("a");
    EXPECT_EQ(edit.GetText(), "12");
    int start = -1;
    int end = -1;
    edit.GetSelection(start, end);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 1);
    EXPECT_FALSE(edit.IsModified());
    backend->Type("7\xe4");  // a digit replaces the selection, an umlaut is refused
    EXPECT_EQ(edit.GetText(), "72");
    backend->Type("\b");
    EXPECT_EQ(edit.GetText(), "2");
  });
}

// Text that arrives other than by typing (paste, drop, input method) meets the same checks as
// typed text, all of it at once.
TEST_F(UiTest, PastedTextIsTakenOnlyAsAWholeThatFits) {
  Run([&] {
    TEdit& edit = *app->client->edit;  // text limit 8: seven characters
    edit.SetValidator(new TFilterValidator(TCharSet("0-9")));
    edit.SetText("12");
    edit.SetFocus();
    edit.SetSelection(0, 2);
    const int changes = app->client->changes;
    struct Case {
      const char* pasted;
      const char* text;  // afterwards
      int caret;         // -1: the selection (0, 2) as it was
      int beeps;         // in all, so far
    };
    for (const Case& each :
         {Case{"1 005", "12", -1, 1}, Case{"7x", "12", -1, 2}, Case{"", "", 0, 2},
          Case{"345", "345", 3, 2}, Case{"67890", "3456789", 7, 3}, Case{"1", "3456789", 7, 4}}) {
      backend->Paste(each.pasted);
      EXPECT_EQ(edit.GetText(), each.text) << each.pasted;
      int start = -1;
      int end = -1;
      edit.GetSelection(start, end);
      EXPECT_EQ(start, each.caret < 0 ? 0 : each.caret) << each.pasted;
      EXPECT_EQ(end, each.caret < 0 ? 2 : each.caret) << each.pasted;
      EXPECT_EQ(backend->Beeps(), each.beeps) << each.pasted;
      // A refused paste leaves no trace: no change reported, the modify flag as it was.
      EXPECT_EQ(edit.IsModified(), each.caret >= 0) << each.pasted;
      EXPECT_EQ(app->client->changes == changes, each.caret < 0) << each.pasted;
    }
  });
}

// Without ES_AUTOHSCROLL an edit takes characters only while they show (headless: 6 pixels
// each); with it, the text scrolls and the edit takes any number.
TEST_F(UiTest, EditWithoutHorizontalScrollingStopsWhenFull) {
  // clang-format off
  app->AddDialog(DialogTemplate{
      kEditsId, WS_POPUP, "", "MS Sans Serif", 8, 0, 0, 100, 40,
      {{20, "EDIT", "", WS_BORDER | WS_TABSTOP, 0, 0, 40, 12},
       {21, "EDIT", "", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0, 20, 40, 12}}});
  // clang-format on
  Run([&] {
    TDialog dialog(nullptr, kEditsId);
    ASSERT_TRUE(dialog.Create());
    // 40 dialog units are 60 pixels; less border and margin 54, nine characters.
    auto& fixed = *static_cast<TEdit*>(dialog.ChildWithId(20));
    auto& scrolling = *static_cast<TEdit*>(dialog.ChildWithId(21));
    backend->TypeInto(fixed, "abcdefghijkl");
    EXPECT_EQ(fixed.GetText(), "abcdefghi");
    EXPECT_EQ(backend->Beeps(), 3);
    fixed.SetSelection(0, 3);  // typing over a selection still works in a full edit
    backend->Type("X");
    EXPECT_EQ(fixed.GetText(), "Xdefghi");
    backend->Paste("123456");
    EXPECT_EQ(fixed.GetText(), "X12defghi");
    backend->TypeInto(scrolling, "abcdefghijkl");
    EXPECT_EQ(scrolling.GetText(), "abcdefghijkl");
    EXPECT_EQ(backend->Beeps(), 4);
  });
}

TEST_F(UiTest, ClosingTheClientClosesTheFrameThroughTheApplication) {
  int code = Run([&] {
    TFrameWindow* frame = app->GetMainWindow();
    EXPECT_TRUE(frame->IsMainWindow());
    app->client->refuseClose = true;
    app->client->SendCommand(11);
    EXPECT_TRUE(frame->IsCreated());
    EXPECT_FALSE(backend->QuitRequested());
    app->client->refuseClose = false;
    app->client->SendCommand(11);
    EXPECT_FALSE(frame->IsCreated());
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(app->canCloseCalls, 1);
}

TEST_F(UiTest, SystemMenuAndAltF4CloseTheMainWindow) {
  EXPECT_EQ(Run([&] { backend->Close(*app->GetMainWindow()); }), 0);
  EXPECT_EQ(app->canCloseCalls, 1);
  EXPECT_FALSE(app->GetMainWindow()->IsCreated());

  app = std::make_unique<App>();
  app->AddDialog(ClientTemplate());
  EXPECT_EQ(Run([&] {
              app->client->edit->SetFocus();
              backend->AltF4();
            }),
            0);
  EXPECT_EQ(app->canCloseCalls, 1);
}

TEST_F(UiTest, NoMainWindowIsReportedAndRunFails) {
  TApplication bare;
  EXPECT_EQ(bare.Run(), -1);
  ASSERT_EQ(backend->MessageBoxes().size(), 1u);
  EXPECT_EQ(backend->MessageBoxes()[0].type, MB_OK | MB_ICONHAND);
}

TEST_F(UiTest, TimersFireInTimeOrderUntilKilledOrDestroyed) {
  Run([&] {
    Client& client = *app->client;
    client.SetTimer(1, 200);
    client.SetTimer(2, 150);
    backend->AdvanceTime(199);
    EXPECT_EQ(client.timerTicks, (std::vector<unsigned>{2}));
    backend->AdvanceTime(101);
    EXPECT_EQ(client.timerTicks, (std::vector<unsigned>{2, 1, 2}));
    client.KillTimer(2);
    backend->AdvanceTime(400);
    EXPECT_EQ(client.timerTicks, (std::vector<unsigned>{2, 1, 2, 1, 1}));
    backend->Close(*app->GetMainWindow());
    backend->AdvanceTime(1000);
    EXPECT_EQ(client.timerTicks.size(), 5u);
  });
}

TEST_F(UiTest, ModalDialogsEndWithTheirCodeAndDisableTheOwner) {
  Run([&] {
    TDialog modal(app->client, kModalId);
    backend->QueueDialogScript([&](TDialog& dialog) {
      EXPECT_FALSE(app->GetMainWindow()->IsWindowEnabled());
      EXPECT_TRUE(dialog.IsWindowVisible());
      EXPECT_EQ(dialog.GetText(), "Modal");
      dialog.ChildWithId(IDOK)->SetFocus();
      backend->PressEnter();
    });
    EXPECT_EQ(modal.Execute(), IDOK);
    EXPECT_FALSE(modal.IsCreated());
    EXPECT_TRUE(app->GetMainWindow()->IsWindowEnabled());

    backend->QueueDialogScript([&](TDialog&) { backend->PressEscape(); });
    EXPECT_EQ(modal.Execute(), IDCANCEL);
    backend->QueueDialogScript([&](TDialog& dialog) { backend->Close(dialog); });
    EXPECT_EQ(modal.Execute(), IDCANCEL);
    backend->QueueDialogScript([&](TDialog& dialog) { dialog.CloseWindow(42); });
    EXPECT_EQ(modal.Execute(), 42);
    EXPECT_EQ(backend->UnendedModals(), 0);

    TDialog missing(app->client, 999);
    EXPECT_EQ(missing.Execute(), -1);
  });
}

TEST_F(UiTest, ModalDialogIsPlacedRelativeToItsOwnersClientArea) {
  Run([&] {
    app->GetMainWindow()->SetWindowPos(0, 100, 50, 400, 300, SWP_NOZORDER);
    TDialog modal(app->client, kModalId);
    backend->QueueDialogScript([&](TDialog& dialog) {
      // Origin (100 + 4, 50 + 4 + 19) plus the template position 10,10 in dialog units; the
      // outer size adds frame and caption to the client area.
      EXPECT_EQ(dialog.GetWindowRect(), (TRect{119, 89, 119 + 150 + 8, 89 + 65 + 19 + 8}));
      EXPECT_EQ(dialog.GetClientRect(), (TRect{0, 0, 150, 65}));
      dialog.CloseWindow(IDOK);
    });
    modal.Execute();
  });
}

// A new dialog is moved into the work area of the monitor it opens on, whatever its owner's
// place pushes it to.
TEST_F(UiTest, DialogOpensInsideTheWorkAreaOfItsMonitor) {
  // A second monitor right of the first, its panel along the top.
  backend->SetMonitors({{TRect{0, 0, 1280, 1024}, TRect{0, 0, 1280, 994}},
                        {TRect{1280, 0, 2560, 1024}, TRect{1280, 40, 2560, 1024}}});
  struct Case {
    int ownerX, ownerY;
    TRect dialog;  // the dialog is 158 x 92
  };
  // Owner client origin + (15, 16) would place it; the work area keeps it.
  for (const Case& each : {Case{100, 50, TRect{119, 89, 277, 181}},            // fits
                           Case{100, 900, TRect{119, 902, 277, 994}},          // above the task bar
                           Case{1250, 50, TRect{1280, 89, 1438, 181}},         // mostly on 2nd
                           Case{2500, -200, TRect{2402, 40, 2560, 132}},       // right, top
                           Case{-400, -300, TRect{0, 0, 158, 92}},             // left, top
                           Case{9000, 9000, TRect{2402, 932, 2560, 1024}}}) {  // nearest
    Run([&] {
      app->GetMainWindow()->SetWindowPos(0, each.ownerX, each.ownerY, 400, 300, SWP_NOZORDER);
      TDialog modal(app->client, kModalId);
      backend->QueueDialogScript([&](TDialog& dialog) {
        EXPECT_EQ(dialog.GetWindowRect(), each.dialog) << each.ownerX << "," << each.ownerY;
        dialog.CloseWindow(IDOK);
      });
      modal.Execute();
      backend->Close(*app->GetMainWindow());
    });
    app = std::make_unique<App>();
    app->AddDialog(ClientTemplate());
    app->AddDialog(ModalTemplate());
  }
  // Larger than the work area: its top-left part shows.
  EXPECT_EQ(KeepInside(TRect{50, 50, 1500, 1100}, TRect{0, 0, 1280, 994}),
            (TRect{0, 0, 1450, 1050}));
}

TEST_F(UiTest, FrameClientAreaHoldsTheDialogAboveTheStatusBar) {
  Run([&] {
    TFrameWindow& frame = *app->GetMainWindow();
    frame.SetWindowPos(0, 0, 0, 300, 200, SWP_NOMOVE);
    EXPECT_EQ(frame.GetClientRect(), (TRect{0, 0, 292, 173}));
    EXPECT_EQ(app->client->GetWindowRect(), (TRect{0, 0, 292, 173 - 19}));
    frame.SetWindowPos(0, 10, 20, 0, 0, SWP_NOSIZE);
    EXPECT_EQ(frame.GetWindowRect(), (TRect{10, 20, 310, 220}));
    EXPECT_EQ(frame.Attr().X, 10);
    EXPECT_EQ(frame.Attr().H, 200);
    frame.ShowWindow(SW_SHOWMAXIMIZED);
    EXPECT_NE(frame.GetWindowLong(GWL_STYLE) & WS_MAXIMIZE, 0u);
    frame.ShowWindow(SW_HIDE);
    EXPECT_FALSE(frame.IsWindowVisible());
  });
}

TEST_F(UiTest, LibraryMessagesBecomeMessageBoxes) {
  EXPECT_EQ(platform::ShowMessageBox("Text", "Caption", MB_ICONHAND), IDOK);
  ASSERT_EQ(backend->MessageBoxes().size(), 1u);
  EXPECT_EQ(backend->MessageBoxes()[0].text, "Text");
  EXPECT_EQ(backend->MessageBoxes()[0].caption, "Caption");
  backend->QueueMessageBoxAnswer(IDCANCEL);
  EXPECT_EQ(app->MessageBox(nullptr, "Q", nullptr, MB_OKCANCEL), IDCANCEL);
}

TEST(MenuTest, TextsByCommandAndByPosition) {
  TMenu menu;
  TMenu& file = menu.AppendPopup("&Datei");
  file.AppendItem(100, "&Öffnen\tStrg+O");
  file.AppendSeparator();
  file.AppendItem(101, "&Beenden");
  menu.AppendItem(200, "&Hilfe");

  char buffer[8];
  EXPECT_EQ(menu.GetMenuString(101, buffer, sizeof buffer, MF_BYCOMMAND), 7);
  EXPECT_STREQ(buffer, "&Beende");
  EXPECT_EQ(menu.GetMenuString(0, nullptr, 0, MF_BYPOSITION), 6);
  EXPECT_EQ(menu.GetMenuString(999, buffer, sizeof buffer, MF_BYCOMMAND), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(menu.GetMenuItemID(0), -1);
  EXPECT_EQ(menu.GetMenuItemID(1), 200);
  EXPECT_EQ(menu.GetSubMenu(0)->GetMenuItemID(1), 0);
  EXPECT_TRUE(menu.ModifyMenu(100, MF_BYCOMMAND, 100, "&Open"));
  EXPECT_TRUE(menu.ModifyMenu(1, MF_BYPOSITION, 201, "&Help"));
  EXPECT_FALSE(menu.ModifyMenu(5, MF_BYPOSITION, 0, "x"));
  char text[32];
  menu.GetMenuString(100, text, sizeof text, MF_BYCOMMAND);
  EXPECT_STREQ(text, "&Open");
  EXPECT_EQ(menu.GetMenuItemID(1), 201);
}

TEST_F(UiTest, FrameShowsIconsAndOnlyExistingMenus) {
  app->AddIcon(7, IconResource{{1, 2}, {3}});
  TMenu menu;
  menu.AppendItem(1, "&Ende");
  app->AddMenu(9, menu);
  Run([&] {
    TFrameWindow& frame = *app->GetMainWindow();
    EXPECT_TRUE(frame.SetIcon(app.get(), 7));
    EXPECT_TRUE(frame.SetIconSm(app.get(), 7));
    EXPECT_FALSE(frame.SetIcon(app.get(), 8));
    EXPECT_EQ(*backend->LargeIcon(frame), (std::vector<unsigned char>{1, 2}));
    EXPECT_EQ(*backend->SmallIcon(frame), (std::vector<unsigned char>{3}));
    EXPECT_FALSE(frame.AssignMenu(3042));
    EXPECT_EQ(backend->FrameMenu(frame), nullptr);
    EXPECT_TRUE(frame.AssignMenu(9));
    ASSERT_NE(backend->FrameMenu(frame), nullptr);
    EXPECT_EQ(backend->FrameMenu(frame)->GetMenuItemID(0), 1);
  });
}

// A modal dialog that ends while it sets itself up, as a dialog with nothing to offer does.
class EndsAtOnce : public TDialog {
 public:
  EndsAtOnce() : TDialog(nullptr, kModalId) {}

 protected:
  void SetupWindow() override {
    TDialog::SetupWindow();
    CloseWindow(7);
  }
};

TEST_F(UiTest, DialogEndedDuringSetUpIsNeverShown) {
  backend->QueueDialogScript([](TDialog&) { ADD_FAILURE() << "shown"; });
  EndsAtOnce dialog;
  EXPECT_EQ(dialog.Execute(), 7);
  EXPECT_FALSE(dialog.IsCreated());
  EXPECT_EQ(backend->UnendedModals(), 0);
}

TEST_F(UiTest, HandlesLeadBackToTheirWindowsWhileTheyExist) {
  TFrameWindow frame(nullptr, "Frame", nullptr);
  EXPECT_EQ(frame.GetHandle(), 0u);
  ASSERT_TRUE(frame.Create());
  const uintptr_t handle = frame.GetHandle();
  EXPECT_EQ(TWindow::FromHandle(handle), &frame);
  EXPECT_EQ(TWindow::FromHandle(0), nullptr);
  frame.Destroy();
  EXPECT_EQ(TWindow::FromHandle(handle), nullptr);
}

}  // namespace
