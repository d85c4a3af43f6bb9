#include "vantor/vantor.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "lang/lang.h"
#include "placement/window_pos.h"
#include "platform/profile.h"
#include "platform/share.h"
#include "platform/window_message.h"
#include "testsupport/card_files.h"
#include "testsupport/journal_catcher.h"
#include "testsupport/other_process.h"
#include "testsupport/program_test.h"
#include "testsupport/temp_dir.h"

namespace {

using testsupport::CardBuilder;
using testsupport::ReadCardFile;

constexpr const char* kNotFound = "Kartennummer ung\xfcltig oder Karte leer";
constexpr const char* kSaved = "Kartendaten erfolgreich gespeichert";
constexpr const char* kNotSaved = "Kartendaten konnten nicht gespeichert werden";

PrepaidCard Card(int32_t number, int32_t balance, uint8_t digits, int32_t high, int32_t low) {
  PrepaidCard card = CardBuilder(number).Balance(balance).Last("0891234").Build();
  card.telefonDigits = digits;
  card.telefonHigh = high;
  card.telefonLow = low;
  return card;
}

class VantorTest : public testsupport::ProgramTest<App> {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    cards = {Card(42, 250, 10, 0, 301234567), Card(43, 1000000000, 12, 30, 12345678),
             Card(44, -100000000, 0, 0, 0), CardBuilder(45).Balance(9).Locked().Build(),
             Card(46, 7, 60, 0, 5)};
    testsupport::WriteCardFile(Path("PREPAID.DAT"), cards);
    LS_init("Lindavox", DataDir, "LX", nullptr, 0, 0);
  }

  TDialog& Search() { return Client(); }
  void Retype(TWindow& dialog, int id, const std::string& text) {
    ProgramTest::Retype(Field(dialog, id), text);
  }
  // Searches `card` and, in the card data dialog, runs `edit`.
  void SearchCard(const std::string& card, std::function<void(TDialog&)> edit) {
    if (edit) backend->QueueDialogScript(std::move(edit));
    backend->ClearMessageBoxes();
    Field(Search(), 133).SetText("");
    backend->TypeInto(Field(Search(), 133), card);
    backend->PressEnter();
  }
  // Searches, types the new balance and telephone number and saves.
  void Edit(const std::string& card, const std::string& balance, const std::string& telefon) {
    SearchCard(card, [&, balance, telefon](TDialog& dialog) {
      Retype(dialog, 436, balance);
      Retype(dialog, 435, telefon);
      backend->PressEnter();
    });
  }
  PrepaidCard Stored(size_t index) { return ReadCardFile(Path("PREPAID.DAT")).at(index); }

  std::vector<PrepaidCard> cards;
};

TEST_F(VantorTest, SearchShowsTheCardAndSavesTheEdit) {
  Start([&] {
    backend->AdvanceTime(200);
    SearchCard("42", [&](TDialog& dialog) {
      EXPECT_EQ(dialog.GetText(), "Karten-Daten \xe4ndern");
      EXPECT_EQ(dialog.ChildWithId(433)->GetText(), "250");
      EXPECT_EQ(dialog.ChildWithId(434)->GetText(), "0301234567");
      EXPECT_EQ(Field(dialog, 436).GetText(), "250");
      EXPECT_EQ(Field(dialog, 435).GetText(), "0301234567");
      // The focus starts in the new balance, its text selected: typing replaces it.
      EXPECT_EQ(backend->FocusedWindow(), &Field(dialog, 436));
      backend->Type("-5");
      Retype(dialog, 435, "0171-1234567");
      backend->PressEnter();
    });
    const ui::ShownMessageBox& box = OnlyBox();
    EXPECT_EQ(box.text, kSaved);
    EXPECT_EQ(box.caption, "Fehler");
    EXPECT_EQ(box.type, MB_OK | MB_ICONINFORMATION);
    EXPECT_EQ(box.owner, &Search());
    backend->Close(Frame());
  });
  PrepaidCard saved = Stored(0);
  EXPECT_EQ(saved.balance, -5);
  EXPECT_EQ(saved.telefonDigits, 12);
  EXPECT_EQ(saved.telefonHigh, 17);
  EXPECT_EQ(saved.telefonLow, 1);
  // Every other field as it was.
  PrepaidCard expected = cards[0];
  expected.balance = -5;
  expected.telefonDigits = 12;
  expected.telefonHigh = 17;
  expected.telefonLow = 1;
  EXPECT_EQ(testsupport::CardBytes(saved), testsupport::CardBytes(expected));
}

TEST_F(VantorTest, SavingUnchangedKeepsEveryBalanceAndNumber) {
  Start([&] {
    backend->AdvanceTime(200);
    for (const char* card : {"42", "43", "44"}) {
      SearchCard(card, [&](TDialog&) { backend->PressEnter(); });
      EXPECT_EQ(OnlyBox().text, kSaved) << card;
    }
    backend->AltF4();
  });
  // Ten-character balances come back whole; numbers keep their three fields.
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(testsupport::CardBytes(Stored(i)), testsupport::CardBytes(cards[i])) << i;
  }
}

TEST_F(VantorTest, TelephoneAndBalanceTexts) {
  Start([&] {
    backend->AdvanceTime(200);
    SearchCard("43", [&](TDialog& dialog) {
      EXPECT_EQ(dialog.ChildWithId(434)->GetText(), "030012345678");
      EXPECT_EQ(dialog.ChildWithId(433)->GetText(), "1000000000");
      dialog.CloseWindow(IDCANCEL);
    });
    Edit("42", "abc", "12345");
    Edit("43", "-2147483648", "");
    Edit("44", "99999999999", "99999999991234567891234");
  });
  EXPECT_EQ(Stored(0).balance, 0);
  EXPECT_EQ(Stored(0).telefonDigits, 5);
  EXPECT_EQ(Stored(0).telefonHigh, 0);
  EXPECT_EQ(Stored(0).telefonLow, 12345);
  EXPECT_EQ(Stored(1).balance, INT32_MIN);
  EXPECT_EQ(Stored(1).telefonDigits, 0);
  EXPECT_EQ(Stored(1).telefonHigh, 0);
  EXPECT_EQ(Stored(1).telefonLow, 0);
  // Eleven characters of balance come back (then the largest 32-bit value); the telephone text
  // is cut to 19 characters: "9999999999" above the last nine.
  EXPECT_EQ(Stored(2).balance, INT32_MAX);
  EXPECT_EQ(Stored(2).telefonDigits, 19);
  EXPECT_EQ(Stored(2).telefonHigh, INT32_MAX);
  EXPECT_EQ(Stored(2).telefonLow, 123456789);
}

TEST_F(VantorTest, TelephoneTextOfUnusualRecords) {
  PrepaidCard card = Card(1, 0, 12, 30, 12345678);
  EXPECT_EQ(vantor::TelefonText(card, 52), "030012345678");
  card = Card(1, 0, 5, 0, 12);
  EXPECT_EQ(vantor::TelefonText(card, 52), "00012");
  card = Card(1, 0, 3, 0, 123456);  // fewer digits than the number has: not lengthened
  EXPECT_EQ(vantor::TelefonText(card, 52), "123456");
  card = Card(1, 0, 200, 7, 5);  // lengthened only up to the buffer
  EXPECT_EQ(vantor::TelefonText(card, 52), std::string(41, '0') + "7000000005");
  card = Card(1, 0, 0, 7, 7);
  EXPECT_EQ(vantor::TelefonText(card, 52), "");
}

TEST_F(VantorTest, MissingLockedAndCancelled) {
  std::string before;
  Start([&] {
    backend->AdvanceTime(200);
    for (const char* card : {"4711", "45", ""}) {
      SearchCard(card, nullptr);
      const ui::ShownMessageBox& box = OnlyBox();
      EXPECT_EQ(box.text, kNotFound) << card;
      EXPECT_EQ(box.caption, "Fehler");
      EXPECT_EQ(box.type, MB_OK | MB_ICONHAND);
    }
    // The card data dialog never opened for them.
    EXPECT_EQ(backend->UnendedModals(), 0);
    // clang-format off
    for (auto cancel : {+[](ui::HeadlessBackend& b, TDialog&) { b.PressEscape(); },
                        +[](ui::HeadlessBackend& b, TDialog& d) { b.Close(d); },
                        +[](ui::HeadlessBackend& b, TDialog& d) { b.Click(*d.ChildWithId(2)); }}) {
      // clang-format on
      SearchCard("42", [&, cancel](TDialog& dialog) {
        Retype(dialog, 436, "1");
        cancel(*backend, dialog);
      });
      EXPECT_TRUE(backend->MessageBoxes().empty());
    }
  });
  EXPECT_EQ(testsupport::CardBytes(Stored(0)), testsupport::CardBytes(cards[0]));
}

// While the dialog is open the telephony server charges a call and records a last number, and
// an import locks the card. A save writes only what the operator changed into the record as it
// is now; a new balance reckoned from the balance shown is refused once that balance moved.
TEST_F(VantorTest, ChangesOfAnotherProcessMeanwhileAreKept) {
  PrepaidCard meanwhile = CardBuilder(42).Balance(240).Last("0049301111").Locked().Build();
  meanwhile.telefonDigits = 10;
  meanwhile.telefonLow = 301234567;
  auto changeMeanwhile = [&] {
    std::vector<PrepaidCard> now = cards;
    now[0] = meanwhile;
    testsupport::WriteCardFile(Path("PREPAID.DAT"), now);
  };
  Start([&] {
    backend->AdvanceTime(200);
    SearchCard("42", [&](TDialog& dialog) {
      changeMeanwhile();
      Retype(dialog, 435, "0891234");
      backend->PressEnter();
    });
    EXPECT_EQ(OnlyBox().text, kSaved);
    PrepaidCard expected = meanwhile;
    expected.telefonDigits = 7;
    expected.telefonLow = 891234;
    EXPECT_EQ(testsupport::CardBytes(Stored(0)), testsupport::CardBytes(expected));

    testsupport::WriteCardFile(Path("PREPAID.DAT"), cards);
    SearchCard("42", [&](TDialog& dialog) {
      changeMeanwhile();
      Retype(dialog, 436, "500");
      backend->PressEnter();
    });
    EXPECT_EQ(OnlyBox().text, kNotSaved);
    EXPECT_EQ(testsupport::CardBytes(Stored(0)), testsupport::CardBytes(meanwhile));
  });
}

TEST_F(VantorTest, AMovedOrVanishedRecordIsNotWritten) {
  Start([&] {
    backend->AdvanceTime(200);
    SearchCard("43", [&](TDialog& dialog) {
      // Compaction moved the cards: index 1 now holds card 44.
      testsupport::WriteCardFile(Path("PREPAID.DAT"), {cards[0], cards[2]});
      Retype(dialog, 436, "1");
      backend->PressEnter();
    });
    const ui::ShownMessageBox& box = OnlyBox();
    EXPECT_EQ(box.text, kNotSaved);
    EXPECT_EQ(box.type, MB_OK | MB_ICONHAND);
    EXPECT_EQ(box.caption, "Fehler");
    EXPECT_EQ(testsupport::CardBytes(Stored(1)), testsupport::CardBytes(cards[2]));

    SearchCard("42", [&](TDialog&) {
      std::remove(Path("PREPAID.DAT").c_str());
      backend->PressEnter();
    });
    EXPECT_EQ(OnlyBox().text, kNotSaved);
  });
}

// A save that fails keeps its message box's one text and says the cause on standard error and
// in the journal: a file another program holds, a record that moved.
TEST_F(VantorTest, AFailedSaveSaysItsCauseBesideTheMessageBox) {
  const std::string cardFile = Path("PREPAID.DAT");
  Start([&] {
    backend->AdvanceTime(200);
    ::testing::internal::CaptureStderr();
    std::optional<testsupport::OtherProcess> holder;
    SearchCard("42", [&](TDialog& dialog) {
      holder.emplace([&] {
        platform::SharedFile file;
        const platform::OpenRequest alone{platform::kAccessRead, platform::kShareNone,
                                          platform::Disposition::kOpenExisting};
        if (platform::SharedFile::Open(cardFile, alone, &file) != 0) return false;
        file.Release();  // stays open until the process ends
        return true;
      });
      Retype(dialog, 436, "500");
      backend->PressEnter();
    });
    holder.reset();
    SearchCard("43", [&](TDialog& dialog) {
      testsupport::WriteCardFile(cardFile, {cards[0], cards[2]});
      Retype(dialog, 436, "1");
      backend->PressEnter();
    });
    EXPECT_EQ(OnlyBox().text, kNotSaved);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "vantor: card 42 was not saved: cannot use " + cardFile +
                  ": in use by another program that does not share it (try again later)\n"
                  "vantor: card 43 was not saved: its record holds another card by now (the "
                  "card file was compacted); look it up again\n");
  });
  const testsupport::CaughtJournal caught = testsupport::CatchJournal([] {
    vantor::TellWhyNotSaved("/data/", 42, store::EditResult::kFailed, EACCES);
    vantor::TellWhyNotSaved("/data/", 7, store::EditResult::kChangedMeanwhile, 0);
    return true;
  });
  if (!caught.available) GTEST_SKIP() << "no mount namespace of its own (needs root)";
  ASSERT_EQ(caught.entries.size(), 2u);
  EXPECT_EQ(caught.entries[0]["MESSAGE"],
            "card 42 was not saved: cannot use /data/PREPAID.DAT: Permission denied");
  EXPECT_EQ(caught.entries[0]["PRIORITY"], "3");
  EXPECT_EQ(caught.entries[0]["SYSLOG_IDENTIFIER"], "vantor");
  EXPECT_EQ(caught.entries[0]["LINDAVOX_CARD"], "42");
  EXPECT_EQ(caught.entries[0]["ERRNO"], std::to_string(EACCES));
  EXPECT_EQ(caught.entries[1]["PRIORITY"], "4");
  EXPECT_EQ(caught.entries[1]["LINDAVOX_CARD"], "7");
}

TEST_F(VantorTest, StartUpShowsTheSizedWindowAndClosingSavesThePlacement) {
  ASSERT_TRUE(platform::WriteUserProfileString("Lindavox", "quillet_pos", "100,50,400,300;MAX"));
  int code = Start([&] {
    TFrameWindow& frame = Frame();
    EXPECT_EQ(frame.GetText(), "Set Prepaid");
    // The newer restore shows a stored maximised state at once; the frame is then hidden until
    // the timer sizes and shows it.
    EXPECT_EQ(backend->ShowCommands(frame), (std::vector<int>{SW_SHOWMAXIMIZED, SW_HIDE}));
    EXPECT_EQ(frame.GetWindowRect(), (TRect{100, 50, 500, 350}));
    backend->AdvanceTime(199);
    EXPECT_FALSE(frame.IsWindowVisible());
    backend->AdvanceTime(1);
    EXPECT_TRUE(frame.IsWindowVisible());
    EXPECT_EQ(frame.GetWindowRect(), (TRect{100, 50, 100 + 367, 50 + 143}));
    EXPECT_EQ(backend->FocusedWindow(), &Field(Search(), 133));
    EXPECT_EQ(backend->MinTrackSize(frame).cx, 0);
    EXPECT_EQ(frame.GetWindowLong(GWL_STYLE) & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0u);
    EXPECT_FALSE(backend->LargeIcon(frame)->empty());
    // Only digits go into the card number field.
    backend->TypeInto(Field(Search(), 133), "1a2");
    EXPECT_EQ(Field(Search(), 133).GetText(), "12");
    frame.SetWindowPos(0, 20, 30, 0, 0, SWP_NOSIZE);
    backend->Click(*Search().ChildWithId(334));
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(StoredPlacement(), "20,30,367,143");
}

TEST_F(VantorTest, ShippedEnglishLanguageFileReplacesEveryText) {
  std::string shipped = testsupport::ReadFile(LV_ENGLISH_LX);
  ASSERT_FALSE(shipped.empty());
  testsupport::WriteFile(Path("english.LX"), shipped);
  ASSERT_TRUE(platform::WriteUserProfileString("Tarnwell", "Language", "english"));
  ASSERT_EQ(LS_init("Lindavox", DataDir, "LX", nullptr, 0, 0), 1);
  Start([&] {
    backend->AdvanceTime(200);
    EXPECT_EQ(Search().ChildWithId(334)->GetText(), "&Close");
    EXPECT_EQ(Search().ChildWithId(408)->GetText(), "&Search");
    EXPECT_EQ(Search().ChildWithId(256)->GetText(), "Card number:");
    SearchCard("4711", nullptr);
    EXPECT_EQ(OnlyBox().text, "Invalid card number or empty card");
    EXPECT_EQ(OnlyBox().caption, "Error");
    SearchCard("42", [&](TDialog& dialog) {
      EXPECT_EQ(dialog.GetText(), "Change card data");
      EXPECT_EQ(dialog.ChildWithId(1)->GetText(), "&Save");
      EXPECT_EQ(dialog.ChildWithId(2)->GetText(), "&Cancel");
      const std::vector<std::pair<int, std::string>> labels = {
          {465, "Current data:"}, {464, "Balance:"}, {463, "Telephone:"},
          {470, "New data:"},     {469, "Balance:"}, {468, "Telephone:"}};
      for (const auto& [id, text] : labels) EXPECT_EQ(dialog.ChildWithId(id)->GetText(), text);
      backend->PressEnter();
    });
    EXPECT_EQ(OnlyBox().text, "Card data saved");
    SearchCard("43", [&](TDialog&) {
      std::remove(Path("PREPAID.DAT").c_str());
      backend->PressEnter();
    });
    EXPECT_EQ(OnlyBox().text, "Card data could not be saved");
    // The date names too: every weekday and month has its English name.
    char sunday[] = "Sonntag";
    EXPECT_STREQ(LSS(LS_SECTION_LIB, 1, sunday, 1, -1, 0), "Sunday");
    char december[] = "Dezember";
    EXPECT_STREQ(LSS(LS_SECTION_LIB, 19, december, 1, -1, 0), "December");
  });
}

TEST_F(VantorTest, CharacterA0NotifiesTheMonitoringProgram) {
  Start([&] {
    backend->AdvanceTime(200);
    TMessage nbsp{WM_CHAR};
    nbsp.wParam = 0xA0;
    // No monitoring program: nothing happens, nothing is reported.
    Frame().HandleMessage(nbsp);
    EXPECT_TRUE(backend->MessageBoxes().empty());

    auto receiver = platform::MessageReceiver::Listen("Gorvex");
    ASSERT_NE(receiver, nullptr);
    Frame().HandleMessage(nbsp);
    auto received = receiver->Receive(1000);
    ASSERT_TRUE(received.has_value());
    EXPECT_EQ(received->message, 0x404u);
    EXPECT_EQ(received->wParam, Frame().GetHandle());
    EXPECT_EQ(received->lParam, 0);
    // Other characters do nothing.
    TMessage other{WM_CHAR};
    other.wParam = 'a';
    Frame().HandleMessage(other);
    EXPECT_FALSE(receiver->Receive(50).has_value());

    // The monitoring program restarts: the held window is stale, the retry finds the new one.
    receiver.reset();
    receiver = platform::MessageReceiver::Listen("Gorvex");
    Frame().HandleMessage(nbsp);
    received = receiver->Receive(1000);
    ASSERT_TRUE(received.has_value());
    EXPECT_EQ(received->message, 0x404u);
    backend->Close(Frame());
  });
}

}  // namespace

namespace {

// A message posted to a window title from another process, as a monitoring program posts it.
bool PostFromOtherProcess(const char* title, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  testsupport::OtherProcess poster([&] {
    platform::WindowHandle window = platform::FindWindowByTitle(title);
    return window != 0 && platform::PostWindowMessage(window, message, wParam, lParam);
  });
  return poster.succeeded();
}

TEST_F(VantorTest, MainWindowTakesMessagesPostedToItsTitle) {
  auto monitor = platform::MessageReceiver::Listen("Gorvex");
  ASSERT_NE(monitor, nullptr);
  int code = Start([&] {
    ShowUp();
    Frame().SetWindowPos(0, 70, 80, 0, 0, SWP_NOSIZE);
    // The monitoring program sends the character 0xA0 and gets the notification back.
    ASSERT_TRUE(PostFromOtherProcess("Set Prepaid", WM_CHAR, 0xA0, 0));
    EXPECT_EQ(backend->DeliverPosted(2000), 1);
    auto notified = monitor->Receive(1000);
    ASSERT_TRUE(notified.has_value());
    EXPECT_EQ(notified->message, 0x404u);
    EXPECT_EQ(notified->wParam, Frame().GetHandle());
    // A message whose parameter would be a pointer into the sender is dropped, not followed.
    ASSERT_TRUE(PostFromOtherProcess("Set Prepaid", WM_GETMINMAXINFO, 0, 0x10));
    EXPECT_EQ(backend->DeliverPosted(2000), 1);
    EXPECT_TRUE(Frame().IsCreated());
    // WM_CLOSE closes the program as the system menu does, placement saved.
    ASSERT_TRUE(PostFromOtherProcess("set prepaid", WM_CLOSE, 0, 0));
    EXPECT_EQ(backend->DeliverPosted(2000), 1);
    EXPECT_FALSE(Frame().IsCreated());
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(StoredPlacement(), "70,80,367,143");
  // The title is given up with the window.
  EXPECT_EQ(platform::FindWindowByTitle("Set Prepaid"), 0u);
}

TEST_F(VantorTest, PasteIntoTheCardNumberIsCheckedWhole) {
  Start([&] {
    ShowUp();
    TEdit& number = Field(Search(), 133);
    backend->TypeInto(number, "43");
    number.SetSelection(0, -1);
    backend->Paste("1 005");
    EXPECT_EQ(number.GetText(), "43");
    EXPECT_EQ(backend->Beeps(), 1);
    backend->Paste("42");
    backend->QueueDialogScript([&](TDialog& dialog) {
      EXPECT_EQ(dialog.ChildWithId(433)->GetText(), "250");
      dialog.CloseWindow(IDCANCEL);
    });
    backend->PressEnter();
    EXPECT_EQ(backend->UnendedModals(), 0);
  });
}

// Opened from a main window low on the screen, the card data dialog still shows all of it; its
// fields take no more than they show.
TEST_F(VantorTest, CardDataDialogStaysOnScreenAndItsFieldsStopWhenFull) {
  ASSERT_TRUE(platform::WriteUserProfileString("Lindavox", "quillet_pos", "900,850,367,143"));
  Start([&] {
    ShowUp();
    SearchCard("42", [&](TDialog& dialog) {
      TRect rect = dialog.GetWindowRect();
      // The work area of the headless screen ends 30 pixels above its bottom (1024).
      EXPECT_EQ(rect.bottom, 994);
      EXPECT_LE(rect.right, 1280);
      EXPECT_GT(rect.Height(), 100);
      // 105 dialog units are 158 pixels: 152 visible, 25 characters of 6 pixels.
      Retype(dialog, 436, std::string(30, '9'));
      EXPECT_EQ(Field(dialog, 436).GetText(), std::string(25, '9'));
      EXPECT_EQ(backend->Beeps(), 5);
      dialog.CloseWindow(IDCANCEL);
    });
  });
}

}  // namespace
