// The card editor: an operator looks a prepaid card up by its number and stores a new balance
// and telephone number for it.
//
// App makes the main window TOwnFrame, a decorated frame with an empty status bar whose client
// is the search dialog TMain (dialog resource 10). TMain runs the card data dialog TSet
// (resource 66) for each card found and writes the edited record back. Texts come from the
// language files with the built-in German texts as defaults.
#ifndef LINDAVOX_VANTOR_VANTOR_H
#define LINDAVOX_VANTOR_VANTOR_H

#include <string>

#include "store/card_edit.h"
#include "store/prepaid.h"
#include "store/telefon.h"
#include "ui/application.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/window.h"
#include "vantor/my_edit.h"

// The data directory: the program's own directory, with its separator; every store call and
// the language support get it. Filled once at start.
extern char DataDir[260];

class App : public TApplication {
 public:
  App();
  ~App() override;
  bool CanClose() override;
  void InitInstance() override;
  void InitMainWindow() override;
};

class TOwnFrame : public TDecoratedFrame {
 public:
  TOwnFrame(TModule* module, const char* title, TWindow* client, int iconId,
            bool trackMenuSelection, int minTrackWidth, int minTrackHeight);
  ~TOwnFrame() override;

 private:
  // Character 0xA0 reaching the main window notifies the monitoring program.
  void EvChar(unsigned key, unsigned repeatCount, unsigned flags);
  void EvGetMinMaxInfo(MINMAXINFO& info);

  int minTrackWidth_;
  int minTrackHeight_;

  DECLARE_RESPONSE_TABLE(TOwnFrame);
};

// The search dialog, the frame's client.
class TMain : public TDialog {
 public:
  TMain(TWindow* parent, int resourceId);
  ~TMain() override;

 protected:
  void SetupWindow() override;

 private:
  void CmClose();
  void CmSearch();
  void EvTimer(unsigned timerId);
  void ShowResult(int32_t sectionIndex, int32_t textId, const char* text, unsigned icon);

  TMyEdit* cardNumber_;
  TButton* search_;
  TButton* close_;
  TStatic* label_;
  PrepaidConfig config_{};

  DECLARE_RESPONSE_TABLE(TMain);
};

// The card data dialog: shows the current balance and telephone texts and takes new ones.
class TSet : public TDialog {
 public:
  // The caller's texts: read at set-up, written on save (balance at most 11 characters,
  // telephone at most 19). They must stay valid while the dialog runs.
  TSet(TWindow* parent, char* balanceText, char* telefonText, int resourceId);
  ~TSet() override;

 protected:
  void SetupWindow() override;

 private:
  void CmSave();

  char* balanceText_;
  char* telefonText_;
  TMyEdit* newTelefon_;
  TMyEdit* newBalance_;
  TStatic* currentTelefon_;
  TStatic* currentBalance_;
  TStatic* labels_[6];
  TButton* save_;
  TButton* cancel_;

  DECLARE_RESPONSE_TABLE(TSet);
};

namespace vantor {

// Dialog templates 10 and 66 and icon 212, registered with the application module.
void AddResources(TModule& module);

// The telephone number's text and its saving, shared with the operator's command line.
using store::SetTelefon;
using store::TelefonText;

// The notification of the monitoring program ("Gorvex"): message 0x404 with the main window's
// handle, through the window held from an earlier lookup; a failed post looks the window up
// again and posts once more.
void NotifyMonitor(uintptr_t mainWindowHandle);

// Says why an edit of card `card` was not saved, beside the message box, which keeps its one
// text: on standard error and in the journal (only there when standard error is the journal),
// with the cause (the file's error, a record that moved, a balance changed meanwhile).
void TellWhyNotSaved(const char* dataDir, int32_t card, store::EditResult result, int error);

// The program after the backend is up: the data directory from `argv0` (an unusable one is
// reported and gives exit code 2), the language support, then the application.
int Main(const char* argv0);

}  // namespace vantor

#endif
