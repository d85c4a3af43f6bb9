#include "vantor/vantor.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "lang/lang.h"
#include "lang/window_texts.h"
#include "placement/window_pos.h"
#include "platform/file_error.h"
#include "platform/journal.h"
#include "platform/program_path.h"
#include "platform/window_message.h"
#include "store/card_edit.h"
#include "util/decimal.h"

extern const unsigned char vantor_icon_32[];
extern const unsigned long vantor_icon_32_size;
extern const unsigned char vantor_icon_16[];
extern const unsigned long vantor_icon_16_size;

char DataDir[260];

namespace {

constexpr int kSearchDialogId = 10;
constexpr int kCardDialogId = 66;
constexpr int kIconId = 212;
constexpr int kMenuId = 3042;
constexpr unsigned kStartTimer = 102;
constexpr const char* kPlacementSection = "Lindavox";
constexpr const char* kPlacementKey = "quillet_pos";

// Search dialog controls.
constexpr int kCardNumberId = 133;
constexpr int kSearchId = 408;
constexpr int kCloseId = 334;
constexpr int kLabelId = 256;

// Card data dialog controls.
constexpr int kNewTelefonId = 435;
constexpr int kNewBalanceId = 436;
constexpr int kCurrentTelefonId = 434;
constexpr int kCurrentBalanceId = 433;
constexpr int kLabelIds[6] = {465, 464, 463, 470, 469, 468};
// Their language text ids in section "PREPAID", in the same order.
constexpr int kLabelTextIds[6] = {5, 6, 7, 8, 9, 10};

// The monitoring program's window and its notification.
constexpr const char* kMonitorTitle = "Gorvex";
constexpr uint32_t kMonitorMessage = 0x404;

// Texts a language file may replace.
constexpr int32_t kCommon = LS_SECTION_COMMON;
constexpr int32_t kPrepaid = LS_SECTION_PREPAID;

// Translates a window's own text (slot 1, colon and ampersand left alone).
void Translate(TWindow* window, int32_t section, int32_t id) {
  LSWW(window, section, id, 1, -1, 0);
}

// LSS with a built-in default, copied out of the slot buffer (or of the default itself, which
// LSS hands back while no language file is in use).
std::string Text(int32_t section, int32_t id, const char* defaultText, int32_t slot) {
  std::vector<char> copy(defaultText, defaultText + std::strlen(defaultText) + 1);
  return LSS(section, id, copy.data(), slot, -1, 0);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// App

App::App() : TApplication(nullptr) { vantor::AddResources(*this); }

App::~App() = default;

bool App::CanClose() {
  WindowPos_Save(GetMainWindow(), kPlacementSection, kPlacementKey, 0);
  return TApplication::CanClose();
}

void App::InitInstance() {
  TFrameWindow& frame = CreateMainWindow();
  WindowPos_Restore(&frame, kPlacementSection, kPlacementKey, 350, 170, 0, 0, 0);
  // Hidden until the search dialog's start-up timer has sized it.
  frame.ShowWindow(SW_HIDE);
}

void App::InitMainWindow() {
  auto* search = new TMain(nullptr, kSearchDialogId);
  auto* frame = new TOwnFrame(this, "Set Prepaid", search, kIconId, false, 0, 0);
  frame->AssignMenu(kMenuId);  // the program has no such menu: no menu bar
  auto* statusBar = new TStatusBar(frame, TGadget::Recessed, TStatusBar::NoIndicators);
  frame->Insert(*statusBar, TDecoratedFrame::Bottom);
  // A fixed size and no maximise box.
  frame->ModifyStyle(WS_MAXIMIZEBOX | WS_THICKFRAME, 0);
  SetMainWindow(frame);
}

// ---------------------------------------------------------------------------------------------
// TOwnFrame

DEFINE_RESPONSE_TABLE1(TOwnFrame, TDecoratedFrame)
  EV_WM_CHAR(EvChar)
  EV_WM_GETMINMAXINFO(EvGetMinMaxInfo)
END_RESPONSE_TABLE;

TOwnFrame::TOwnFrame(TModule* module, const char* title, TWindow* client, int iconId,
                     bool trackMenuSelection, int minTrackWidth, int minTrackHeight)
    : TDecoratedFrame(nullptr, title, client, trackMenuSelection, module),
      minTrackWidth_(minTrackWidth),
      minTrackHeight_(minTrackHeight) {
  SetIcon(module, iconId);
  SetIconSm(module, iconId);
  SetCaption(title);
}

TOwnFrame::~TOwnFrame() = default;

void TOwnFrame::EvChar(unsigned key, unsigned /*repeatCount*/, unsigned /*flags*/) {
  if (key == 0xA0) vantor::NotifyMonitor(GetHandle());
}

void TOwnFrame::EvGetMinMaxInfo(MINMAXINFO& info) {
  info.ptMinTrackSize.x = minTrackWidth_;
  info.ptMinTrackSize.y = minTrackHeight_;
}

// ---------------------------------------------------------------------------------------------
// TMain, the search dialog

DEFINE_RESPONSE_TABLE1(TMain, TDialog)
  EV_COMMAND(kCloseId, CmClose)
  EV_COMMAND(kSearchId, CmSearch)
  EV_WM_TIMER(EvTimer)
END_RESPONSE_TABLE;

TMain::TMain(TWindow* parent, int resourceId) : TDialog(parent, resourceId) {
  cardNumber_ = new TMyEdit(this, kCardNumberId, 0);
  search_ = new TButton(this, kSearchId);
  close_ = new TButton(this, kCloseId);
  label_ = new TStatic(this, kLabelId);
}

TMain::~TMain() = default;

void TMain::SetupWindow() {
  TDialog::SetupWindow();
  Translate(close_, kCommon, 5);
  Translate(search_, kCommon, 38);
  Translate(label_, kPrepaid, 4);
  cardNumber_->SetValidator(new TFilterValidator(TCharSet("0-9")));
  Prepaid_ReadConfig(DataDir, &config_);
  SetTimer(kStartTimer, 200);
}

void TMain::CmClose() { CloseWindow(1); }

void TMain::EvTimer(unsigned /*timerId*/) {
  KillTimer(kStartTimer);
  ShowMainWindowFitting(*close_);
  cardNumber_->SetFocus();
}

void TMain::ShowResult(int32_t sectionIndex, int32_t textId, const char* text, unsigned icon) {
  // Every box carries the caption "Fehler" (or its translation), the saved box too.
  std::string caption = Text(kCommon, 1, "Fehler", 2);
  std::string message = Text(sectionIndex, textId, text, 1);
  TApplication::Current()->MessageBox(this, message.c_str(), caption.c_str(), MB_OK | icon);
}

void TMain::CmSearch() {
  char numberText[30];
  cardNumber_->GetText(numberText, sizeof numberText);
  const int32_t number = util::ParseDecimal32(numberText);

  int32_t index = 0;
  PrepaidCard card{};
  if (Prepaid_Search(DataDir, number, &index, &card) == 0) {
    ShowResult(kPrepaid, 1, "Kartennummer ungültig oder Karte leer", MB_ICONHAND);
    return;
  }

  char telefon[52];
  std::string shown = vantor::TelefonText(card, sizeof telefon);
  std::memcpy(telefon, shown.c_str(), shown.size() + 1);
  char balance[100];
  std::snprintf(balance, sizeof balance, "%d", card.balance);

  TSet edit(this, balance, telefon, kCardDialogId);
  if (edit.Execute() != 1) return;

  // The dialog may have been open for long: only what the operator changed is written, into
  // the record as it is now (store/card_edit.h). A record that is gone or holds another card by
  // now (the file was reorganised), or whose balance moved while the operator reckoned a new
  // one from the old, is not written at all.
  PrepaidCard edited = card;
  edited.balance = util::ParseDecimal32(balance);
  vantor::SetTelefon(&edited, telefon);
  int error = 0;
  const store::EditResult saved = store::SaveCardEdit(DataDir, index, card, edited, &error);
  if (saved == store::EditResult::kSaved) {
    ShowResult(kPrepaid, 2, "Kartendaten erfolgreich gespeichert", MB_ICONINFORMATION);
  } else {
    vantor::TellWhyNotSaved(DataDir, number, saved, error);
    ShowResult(kPrepaid, 3, "Kartendaten konnten nicht gespeichert werden", MB_ICONHAND);
  }
}

// ---------------------------------------------------------------------------------------------
// TSet, the card data dialog

DEFINE_RESPONSE_TABLE1(TSet, TDialog)
  EV_COMMAND(IDOK, CmSave)
END_RESPONSE_TABLE;

TSet::TSet(TWindow* parent, char* balanceText, char* telefonText, int resourceId)
    : TDialog(parent, resourceId), balanceText_(balanceText), telefonText_(telefonText) {
  newTelefon_ = new TMyEdit(this, kNewTelefonId, 0);
  newBalance_ = new TMyEdit(this, kNewBalanceId, 0);
  currentTelefon_ = new TStatic(this, kCurrentTelefonId);
  currentBalance_ = new TStatic(this, kCurrentBalanceId);
  for (int i = 0; i < 6; ++i) labels_[i] = new TStatic(this, kLabelIds[i]);
  save_ = new TButton(this, IDOK);
  cancel_ = new TButton(this, IDCANCEL);
}

TSet::~TSet() = default;

void TSet::SetupWindow() {
  TDialog::SetupWindow();
  for (int i = 0; i < 6; ++i) Translate(labels_[i], kPrepaid, kLabelTextIds[i]);
  Translate(this, kPrepaid, 11);
  Translate(save_, kCommon, 28);
  Translate(cancel_, kCommon, 3);
  newTelefon_->SetText(telefonText_);
  currentTelefon_->SetWindowText(telefonText_);
  newBalance_->SetText(balanceText_);
  currentBalance_->SetWindowText(balanceText_);
}

void TSet::CmSave() {
  // Room for every balance a 32-bit number can have ("-2147483648"); the telephone number keeps
  // its 19 digits.
  char balance[12];
  newBalance_->GetText(balance, sizeof balance);
  std::strcpy(balanceText_, balance);
  char telefon[20];
  newTelefon_->GetText(telefon, sizeof telefon);
  std::strcpy(telefonText_, telefon);
  CloseWindow(1);
}

// ---------------------------------------------------------------------------------------------

namespace vantor {

namespace {

constexpr uint32_t kVisible = WS_VISIBLE;

}  // namespace

void AddResources(TModule& module) {
  // clang-format off
  module.AddDialog(DialogTemplate{
      kSearchDialogId, WS_CHILD | WS_VISIBLE | DS_3DLOOK | DS_SETFONT, "", "MS Sans Serif", 8,
      0, 0, 245, 66,
      {
          {kLabelId, "STATIC", "Kartennummer:", kVisible | SS_RIGHT, 4, 16, 52, 8},
          {kCardNumberId, "EDIT", "", kVisible | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL,
           60, 14, 116, 12},
          {kSearchId, "BUTTON", "S&uchen", kVisible | BS_DEFPUSHBUTTON | BS_CENTER | WS_TABSTOP,
           188, 13, 50, 14},
          {kCloseId, "BUTTON", "&Schließen", kVisible | BS_PUSHBUTTON | BS_CENTER | WS_TABSTOP,
           188, 44, 50, 14},
      }});
  module.AddDialog(DialogTemplate{
      kCardDialogId,
      WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_3DLOOK | DS_SETFONT,
      "Karten-Daten ändern", "MS Sans Serif", 8, 0, 0, 240, 96,
      {
          {465, "STATIC", "Aktuelle Daten:", kVisible | SS_LEFT, 8, 5, 60, 8},
          {464, "STATIC", "Guthaben:", kVisible | SS_RIGHT, 8, 19, 60, 8},
          {kCurrentBalanceId, "STATIC", "", kVisible | SS_LEFT, 76, 19, 104, 8},
          {463, "STATIC", "Telefonnummer:", kVisible | SS_RIGHT, 8, 32, 60, 8},
          {kCurrentTelefonId, "STATIC", "", kVisible | SS_LEFT, 76, 32, 104, 8},
          {470, "STATIC", "Neue Daten:", kVisible | SS_LEFT, 8, 52, 60, 8},
          {469, "STATIC", "Guthaben:", kVisible | SS_RIGHT, 8, 64, 60, 8},
          {kNewBalanceId, "EDIT", "", kVisible | WS_BORDER | WS_TABSTOP, 75, 63, 105, 12},
          {468, "STATIC", "Telefonnummer:", kVisible | SS_RIGHT, 8, 79, 60, 8},
          {kNewTelefonId, "EDIT", "", kVisible | WS_BORDER | WS_TABSTOP, 75, 77, 105, 12},
          {IDCANCEL, "BUTTON", "&Abbruch", kVisible | BS_PUSHBUTTON | BS_CENTER | WS_TABSTOP,
           186, 60, 50, 14},
          {IDOK, "BUTTON", "S&peichern", kVisible | BS_DEFPUSHBUTTON | BS_CENTER | WS_TABSTOP,
           186, 76, 50, 14},
      }});
  // clang-format on
  module.AddIcon(kIconId, IconResource{{vantor_icon_32, vantor_icon_32 + vantor_icon_32_size},
                                       {vantor_icon_16, vantor_icon_16 + vantor_icon_16_size}});
}

void NotifyMonitor(uintptr_t mainWindowHandle) {
  // Held for the life of the process and refreshed only when a post to it fails.
  static platform::WindowHandle monitor = 0;
  if (monitor == 0) monitor = platform::FindWindowByTitle(kMonitorTitle);
  // No monitoring window: the message has no target and reaches nobody (a post without a window
  // is no failure), so there is no second lookup until the next notification.
  if (monitor == 0) return;
  if (!platform::PostWindowMessage(monitor, kMonitorMessage, mainWindowHandle, 0)) {
    monitor = platform::FindWindowByTitle(kMonitorTitle);
    if (monitor != 0) platform::PostWindowMessage(monitor, kMonitorMessage, mainWindowHandle, 0);
  }
}

void TellWhyNotSaved(const char* dataDir, int32_t card, store::EditResult result, int error) {
  const std::string number = std::to_string(card);
  std::string cause;
  switch (result) {
    case store::EditResult::kGone:
      cause =
          "its record holds another card by now (the card file was compacted); look it up "
          "again";
      break;
    case store::EditResult::kChangedMeanwhile:
      cause = "another program changed it while it was being edited; look it up again";
      break;
    default:
      cause =
          "cannot use " + std::string(dataDir) + "PREPAID.DAT: " + platform::FileErrorText(error);
      break;
  }
  const std::string message = "card " + number + " was not saved: " + cause;
  std::vector<platform::JournalField> fields = {{"LINDAVOX_CARD", number}};
  if (result == store::EditResult::kFailed) fields.push_back({"ERRNO", std::to_string(error)});
  const bool toJournalOnly = platform::StandardErrorIsJournal();
  if (!toJournalOnly) std::fprintf(stderr, "vantor: %s\n", message.c_str());
  const platform::Priority priority = result == store::EditResult::kFailed
                                          ? platform::Priority::kError
                                          : platform::Priority::kWarning;
  if (platform::SendToJournal(priority, "vantor", message, fields) != 0 && toJournalOnly) {
    std::fprintf(stderr, "vantor: %s\n", message.c_str());
  }
}

int Main(const char* argv0) {
  App app;
  if (!platform::TakeDataDirectory(argv0, DataDir, sizeof DataDir)) return 2;
  LS_init("Lindavox", DataDir, "LX", nullptr, 0, 0);
  return app.Run();
}

}  // namespace vantor
