#include "quillet/quillet.h"

#include <gtest/gtest.h>

#include <cstring>

#include "placement/window_pos.h"
#include "platform/profile.h"
#include "platform/window_message.h"
#include "testsupport/card_files.h"
#include "testsupport/program_test.h"

namespace {

using testsupport::CardBuilder;

constexpr const char* kInvalid = "Kartennummer ung\xfcltig oder Karte leer";

PrepaidCard WithLast(int32_t number, uint8_t digits, int32_t high, int32_t low) {
  PrepaidCard card = CardBuilder(number).Balance(1).Build();
  card.lastDigits = digits;
  card.lastHigh = high;
  card.lastLow = low;
  return card;
}

class QuilletTest : public testsupport::ProgramTest<App> {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    testsupport::WriteCardFile(
        Path("PREPAID.DAT"),
        {CardBuilder(42).Balance(250).Last("0301234567").Build(), CardBuilder(7).Balance(0).Build(),
         CardBuilder(0).Balance(5).Last("12").Build(),
         CardBuilder(123456).Balance(-3).Last("5").Build(),
         CardBuilder(99).Balance(100).Locked().Build(), CardBuilder(2147483647).Balance(1).Build(),
         WithLast(11, 4, 0, 12), WithLast(12, 11, 3, 12345678), WithLast(13, 3, 0, 123456),
         WithLast(14, 12, 49, 123456789), WithLast(15, 0, 7, 7)});
    testsupport::WriteBinFile(Path("PREPAID.BIN"), testsupport::MakeCodeTables(6, 4, 10, 1));
  }

  TDialog& Dialog() { return Client(); }
  TEdit& CardField() { return Field(Client(), 133); }
  // Clears the field, types `typed` and presses Enter; returns the one box shown.
  ui::ShownMessageBox Query(const std::string& typed) {
    CardField().SetText("");
    backend->ClearMessageBoxes();
    backend->TypeInto(CardField(), typed);
    backend->PressEnter();
    return OnlyBox();
  }
};

TEST_F(QuilletTest, FoundCardsShowBalanceAndLastNumber) {
  Start([&] {
    ShowUp();
    ui::ShownMessageBox box = Query("42");
    EXPECT_EQ(box.caption, "Kartennummer 00042");
    EXPECT_EQ(box.text, "Guthaben: 250 Einheiten\n\nLetzte Nummer: 0301234567");
    EXPECT_EQ(box.type, MB_OK | MB_ICONINFORMATION);
    EXPECT_EQ(box.owner, &Dialog());

    box = Query("123456");
    EXPECT_EQ(box.caption, "Kartennummer 123456");
    EXPECT_EQ(box.text, "Guthaben: -3 Einheiten\n\nLetzte Nummer: 5");
    // A card with no units left is still a card: shown normally.
    EXPECT_EQ(Query("7").text, "Guthaben: 0 Einheiten\n\nLetzte Nummer: -");
    // The dialog stays open for the next query.
    EXPECT_TRUE(Frame().IsWindowVisible());
  });
}

TEST_F(QuilletTest, LastNumberForms) {
  Start([&] {
    ShowUp();
    auto last = [&](const char* card) {
      std::string text = Query(card).text;
      return text.substr(text.rfind(' ') + 1);
    };
    EXPECT_EQ(last("11"), "0012");         // padded to four digits
    EXPECT_EQ(last("12"), "00312345678");  // "%d%d" gives 312345678, then padded
    EXPECT_EQ(last("13"), "123456");       // longer than its count: shown as it is
    EXPECT_EQ(last("14"), "049123456789");
    EXPECT_EQ(last("15"), "-");  // no digits
  });
}

TEST_F(QuilletTest, MissingLockedAndEmptyQueries) {
  Start([&] {
    ShowUp();
    for (const char* typed : {"4711", "99"}) {
      ui::ShownMessageBox box = Query(typed);
      EXPECT_EQ(box.text, kInvalid) << typed;
      EXPECT_EQ(box.caption, "Fehler");
      EXPECT_EQ(box.type, MB_OK | MB_ICONHAND);
    }
    // An empty field asks for card 0.
    ui::ShownMessageBox box = Query("");
    EXPECT_EQ(box.caption, "Kartennummer 00000");
    EXPECT_EQ(box.text, "Guthaben: 5 Einheiten\n\nLetzte Nummer: 12");
    // Beyond 32 bits: the largest card number.
    EXPECT_EQ(Query("99999999999").caption, "Kartennummer 2147483647");
    // The query button itself does the same as Enter.
    CardField().SetText("42");
    backend->ClearMessageBoxes();
    backend->Click(*Dialog().ChildWithId(408));
    ASSERT_EQ(backend->MessageBoxes().size(), 1u);
    EXPECT_EQ(backend->MessageBoxes()[0].caption, "Kartennummer 00042");
  });
}

TEST_F(QuilletTest, WithoutACardFileEveryQueryFails) {
  std::remove(Path("PREPAID.DAT").c_str());
  Start([&] {
    ShowUp();
    EXPECT_EQ(Query("42").text, kInvalid);
  });
}

TEST_F(QuilletTest, OnlyDigitsCanBeTypedOrPasted) {
  Start([&] {
    ShowUp();
    backend->TypeInto(CardField(), "4a2 -x\xe4");
    EXPECT_EQ(CardField().GetText(), "42");
    // A paste is checked as a whole: one wrong character refuses all of it.
    backend->Paste("1 005");
    EXPECT_EQ(CardField().GetText(), "42");
    EXPECT_EQ(backend->Beeps(), 1);
    backend->Paste("13");  // at the caret
    EXPECT_EQ(CardField().GetText(), "4213");
    // The main window can be found by its title while the program runs.
    EXPECT_NE(platform::FindWindowByTitle("Prepaid Guthabenabfrage"), 0u);
  });
}

TEST_F(QuilletTest, WindowAppearsAfterTheFirstTickAtItsFinalSize) {
  ASSERT_TRUE(platform::WriteUserProfileString("Lindavox", "quillet_pos", "100,50,400,300"));
  Start([&] {
    TFrameWindow& frame = Frame();
    EXPECT_EQ(frame.GetText(), "Prepaid Guthabenabfrage");
    EXPECT_FALSE(frame.IsWindowVisible());
    EXPECT_EQ(frame.GetWindowRect(), (TRect{100, 50, 500, 350}));
    backend->AdvanceTime(199);
    EXPECT_FALSE(frame.IsWindowVisible());
    backend->AdvanceTime(1);
    EXPECT_TRUE(frame.IsWindowVisible());
    // The close button (188, 44, 50, 14 in dialog units, base units 6 x 13) ends at
    // (357, 95): 357 + 2 + 2 * 4 wide, 95 + 2 + 2 * 4 + 2 * 19 high, at the restored place.
    EXPECT_EQ(frame.GetWindowRect(), (TRect{100, 50, 100 + 367, 50 + 143}));
    EXPECT_EQ(backend->ShowCommands(frame), (std::vector<int>{SW_HIDE, SW_SHOWNORMAL}));
    EXPECT_EQ(backend->FocusedWindow(), &CardField());
    // Fixed size, no maximise box, the icon, no menu bar.
    EXPECT_EQ(frame.GetWindowLong(GWL_STYLE) & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0u);
    EXPECT_FALSE(backend->LargeIcon(frame)->empty());
    EXPECT_FALSE(backend->SmallIcon(frame)->empty());
    EXPECT_EQ(backend->FrameMenu(frame), nullptr);
    // The timer fires once.
    backend->AdvanceTime(1000);
    EXPECT_EQ(backend->ShowCommands(frame).size(), 2u);
  });
}

TEST_F(QuilletTest, WithoutStoredPlacementTheDefaultIsCentred) {
  Start([&] {
    // Headless screen: full-screen area 1280 x 975, caption 19.
    EXPECT_EQ(Frame().GetWindowRect(), (TRect{640 - 175, 497 - 85, 640 + 175, 497 + 85}));
  });
}

// Every way of closing saves the placement, through the application's close check.
TEST_F(QuilletTest, EveryWayOfClosingSavesThePlacement) {
  enum Way { kButton, kSystemMenu, kAltF4, kEscape };
  for (Way way : {kButton, kSystemMenu, kAltF4, kEscape}) {
    ASSERT_TRUE(platform::WriteUserProfileString("Lindavox", "quillet_pos", "30,40,400,300"));
    int code = Start([&] {
      ShowUp();
      Frame().SetWindowPos(0, 210, 120, 0, 0, SWP_NOSIZE);
      switch (way) {
        case kButton:
          backend->Click(*Dialog().ChildWithId(334));
          break;
        case kSystemMenu:
          backend->Close(Frame());
          break;
        case kAltF4:
          backend->AltF4();
          break;
        case kEscape:
          backend->PressEscape();
          break;
      }
      EXPECT_FALSE(Frame().IsCreated());
    });
    EXPECT_EQ(code, 0) << way;
    EXPECT_EQ(StoredPlacement(), "210,120,367,143") << way;
  }
}

TEST_F(QuilletTest, PlacementIsSharedWithTheCardEditorsGeneration) {
  // What the card editor saved (maximised, with its state) opens the query at that place.
  ASSERT_TRUE(platform::WriteUserProfileString("Lindavox", "quillet_pos", "300,200,500,250;MAX"));
  Start([&] {
    EXPECT_EQ(Frame().GetWindowRect(), (TRect{300, 200, 800, 450}));
    ShowUp();
    Frame().SetWindowPos(0, 64, 32, 0, 0, SWP_NOSIZE);
    backend->Close(Frame());
  });
  // And where the query was closed, the card editor's restore puts its window.
  TFrameWindow other(nullptr, "Set Prepaid", nullptr);
  other.Create();
  WindowPos_Restore(&other, "Lindavox", "quillet_pos", 350, 170, 0, 0, 0);
  EXPECT_EQ(other.GetWindowRect(), (TRect{64, 32, 64 + 367, 32 + 143}));
}

TEST_F(QuilletTest, UnusableDataDirectoryIsReported) {
  std::string tooLong = "/" + std::string(300, 'd') + "/quillet";
  EXPECT_EQ(quillet::Main(tooLong.c_str()), 2);
  ASSERT_EQ(backend->MessageBoxes().size(), 1u);
  EXPECT_EQ(backend->MessageBoxes()[0].caption, "Fehler");
  EXPECT_EQ(backend->MessageBoxes()[0].type, MB_OK | MB_ICONHAND);
  // Without a path the running program's directory serves.
  backend->SetLoopScript([&] {
    EXPECT_NE(std::string(DataDir), "");
    EXPECT_EQ(DataDir[std::strlen(DataDir) - 1], '/');
    backend->Close(*TApplication::Current()->GetMainWindow());
  });
  EXPECT_EQ(quillet::Main("quillet"), 0);
}

TEST_F(QuilletTest, DataDirectoryComesFromTheProgramPath) {
  // A data folder with a link to the program: the program works on the folder.
  std::strcpy(DataDir, "/elsewhere/");
  backend->SetLoopScript([&] {
    EXPECT_EQ(std::string(DataDir), Dir());
    backend->AdvanceTime(200);
    backend->PressEnter();  // the empty field: card 0 of the folder's card file
    ASSERT_EQ(backend->MessageBoxes().size(), 1u);
    EXPECT_EQ(backend->MessageBoxes()[0].caption, "Kartennummer 00000");
    backend->AltF4();
  });
  EXPECT_EQ(quillet::Main((Dir() + "quillet").c_str()), 0);
}

}  // namespace
