#include "quillet/quillet.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "placement/window_pos.h"
#include "platform/program_path.h"
#include "store/telefon.h"
#include "util/decimal.h"

extern const unsigned char quillet_icon_32[];
extern const unsigned long quillet_icon_32_size;
extern const unsigned char quillet_icon_16[];
extern const unsigned long quillet_icon_16_size;

char DataDir[260];

namespace {

constexpr int kDialogId = 10;
constexpr int kIconId = 212;
constexpr int kMenuId = 3042;
constexpr unsigned kStartTimer = 102;
constexpr int kCardNumberId = 133;
constexpr int kCloseId = 334;
constexpr int kQueryId = 408;
constexpr const char* kPlacementSection = "Lindavox";
constexpr const char* kPlacementKey = "quillet_pos";

}  // namespace

// ---------------------------------------------------------------------------------------------
// App

App::App() : TApplication(nullptr) { quillet::AddResources(*this); }

App::~App() = default;

bool App::CanClose() {
  SavePosition(GetMainWindow(), kPlacementSection, kPlacementKey);
  return TApplication::CanClose();
}

void App::InitInstance() {
  TFrameWindow& frame = CreateMainWindow();
  RestorePosition(&frame, kPlacementSection, kPlacementKey, 350, 170, 0);
  // Hidden until the query dialog's start-up timer has sized it.
  frame.ShowWindow(SW_HIDE);
}

void App::InitMainWindow() {
  auto* frame = new MyFrame(nullptr, nullptr, true);
  frame->SetIcon(this, kIconId);
  frame->SetIconSm(this, kIconId);
  frame->SetCaption("Prepaid Guthabenabfrage");
  frame->AssignMenu(kMenuId);  // the program has no such menu: no menu bar
  auto* statusBar = new TStatusBar(frame, TGadget::Recessed, TStatusBar::NoIndicators);
  frame->Insert(*statusBar, TDecoratedFrame::Bottom);
  // A fixed size and no maximise box.
  frame->ModifyStyle(WS_MAXIMIZEBOX | WS_THICKFRAME, 0);
  SetMainWindow(frame);
  EnableCtl3d(true);
}

// ---------------------------------------------------------------------------------------------
// MyFrame

DEFINE_RESPONSE_TABLE1(MyFrame, TDecoratedFrame)
END_RESPONSE_TABLE;

MyFrame::MyFrame(TWindow* parent, TWindow* client, bool trackMenuSelection)
    : TDecoratedFrame(parent, nullptr, client != nullptr ? client : new TMain(parent, kDialogId),
                      trackMenuSelection) {}

MyFrame::~MyFrame() = default;

// ---------------------------------------------------------------------------------------------
// TMain

DEFINE_RESPONSE_TABLE1(TMain, TDialog)
  EV_CHILD_NOTIFY(kCardNumberId, EN_CHANGE, EnCardNumberChange)
  EV_COMMAND(kCloseId, CmClose)
  EV_COMMAND(kQueryId, CmQuery)
  EV_WM_TIMER(EvTimer)
END_RESPONSE_TABLE;

TMain::TMain(TWindow* parent, int resourceId) : TDialog(parent, resourceId) {
  cardNumber_ = new TEdit(this, kCardNumberId, 0);
  query_ = new TButton(this, kQueryId);
  close_ = new TButton(this, kCloseId);
}

TMain::~TMain() = default;

void TMain::SetupWindow() {
  TDialog::SetupWindow();
  cardNumber_->SetValidator(new TFilterValidator(TCharSet("0-9")));
  Prepaid_ReadConfig(DataDir, &config_);
  SetTimer(kStartTimer, 200);
}

void TMain::EnCardNumberChange() {}

void TMain::CmClose() { CloseWindow(1); }

void TMain::EvTimer(unsigned /*timerId*/) {
  KillTimer(kStartTimer);
  ShowMainWindowFitting(*close_);
  cardNumber_->SetFocus();
}

void TMain::CmQuery() {
  char text[30];
  cardNumber_->GetText(text, sizeof text);
  int32_t number = util::ParseDecimal32(text);

  int32_t index = 0;
  PrepaidCard card{};
  TApplication* app = TApplication::Current();
  if (Prepaid_Search(DataDir, number, &index, &card) == 0) {
    app->MessageBox(this, "Kartennummer ungültig oder Karte leer", "Fehler", MB_OK | MB_ICONHAND);
    return;
  }
  char caption[40];
  std::snprintf(caption, sizeof caption, "Kartennummer %05d", number);
  std::string message = "Guthaben: " + std::to_string(card.balance) +
                        " Einheiten\n\nLetzte Nummer: " + quillet::LastNumberText(card);
  app->MessageBox(this, message.c_str(), caption, MB_OK | MB_ICONINFORMATION);
}

// ---------------------------------------------------------------------------------------------

namespace quillet {

void AddResources(TModule& module) {
  // clang-format off
  module.AddDialog(DialogTemplate{
      kDialogId, WS_CHILD | WS_VISIBLE | DS_3DLOOK | DS_SETFONT, "", "MS Sans Serif", 8,
      0, 0, 245, 66,
      {
          {kCardNumberId, "EDIT", "", WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL,
           60, 14, 116, 12},
          {kCloseId, "BUTTON", "Schließen", WS_VISIBLE | BS_PUSHBUTTON | BS_CENTER | WS_TABSTOP,
           188, 44, 50, 14},
          {kQueryId, "BUTTON", "Abfragen",
           WS_VISIBLE | BS_DEFPUSHBUTTON | BS_CENTER | WS_TABSTOP, 188, 13, 50, 14},
          {-1, "STATIC", "Kartennummer:", WS_VISIBLE | SS_RIGHT, 4, 16, 52, 8},
      }});
  // clang-format on
  module.AddIcon(kIconId, IconResource{{quillet_icon_32, quillet_icon_32 + quillet_icon_32_size},
                                       {quillet_icon_16, quillet_icon_16 + quillet_icon_16_size}});
}

std::string LastNumberText(const PrepaidCard& card) {
  std::string text = store::LastNumberText(card);
  return text.empty() ? "-" : text;
}

int Main(const char* argv0) {
  App app;
  if (!platform::TakeDataDirectory(argv0, DataDir, sizeof DataDir)) return 2;
  return app.Run();
}

}  // namespace quillet
