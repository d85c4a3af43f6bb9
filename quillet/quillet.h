// The balance query: an operator types a card number and sees the card's balance and last
// number in a message box. It changes nothing in the card store.
//
// App makes the main window MyFrame, a decorated frame with an empty status bar whose client is
// the query dialog TMain (dialog resource 10). The window is created hidden at the stored
// placement and shown, sized to the dialog, by the dialog's start-up timer.
#ifndef LINDAVOX_QUILLET_QUILLET_H
#define LINDAVOX_QUILLET_QUILLET_H

#include "store/prepaid.h"
#include "ui/application.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/window.h"

// The data directory: the program's own directory, with its separator; every store call gets
// it. Filled once at start.
extern char DataDir[260];

class App : public TApplication {
 public:
  App();
  ~App() override;
  bool CanClose() override;
  void InitInstance() override;
  void InitMainWindow() override;
};

class MyFrame : public TDecoratedFrame {
 public:
  // Without a client the frame makes its own: the query dialog.
  MyFrame(TWindow* parent, TWindow* client, bool trackMenuSelection);
  ~MyFrame() override;

  DECLARE_RESPONSE_TABLE(MyFrame);
};

class TMain : public TDialog {
 public:
  TMain(TWindow* parent, int resourceId);
  ~TMain() override;

 protected:
  void SetupWindow() override;

 private:
  void EnCardNumberChange();
  void CmClose();
  void CmQuery();
  void EvTimer(unsigned timerId);

  TEdit* cardNumber_;
  TButton* query_;
  TButton* close_;
  PrepaidConfig config_{};

  DECLARE_RESPONSE_TABLE(TMain);
};

namespace quillet {

// Dialog template 10 and icon 212, registered with the application module.
void AddResources(TModule& module);

// The last-number text of a card: "%d%d" of both parts from ten digits on, "%d" of the low part
// from one to nine, empty for none; zeros in front up to `lastDigits` characters (a longer text
// stays as it is); "-" when it is still empty.
std::string LastNumberText(const PrepaidCard& card);

// The program after the backend is up: takes the data directory from `argv0` (an unusable one
// is reported in a message box and gives exit code 2), then runs the application.
int Main(const char* argv0);

}  // namespace quillet

#endif
