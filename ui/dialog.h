// Dialogs built from templates, modal or as the client of a frame.
//
// A template is data, exactly as a resource script states it: style, caption, font, size and
// the controls (id, class, text, style, rectangle), all in dialog units. Dialog units become
// pixels through the dialog font's base units (Backend::DialogBaseUnits): x * baseX / 4 and
// y * baseY / 8, rounded as MulDiv rounds. Controls are created in template order, which is also
// the tab order. A control object that the dialog's class constructed with the dialog as parent
// and a template id is bound to that template control; template controls without such an object
// get one from the framework.
#ifndef LINDAVOX_UI_DIALOG_H
#define LINDAVOX_UI_DIALOG_H

#include <memory>
#include <string>
#include <vector>

#include "ui/window.h"

struct DialogControl {
  int id;
  std::string className;  // "EDIT", "BUTTON", "STATIC", "COMBOBOX"
  std::string text;       // Windows-1252
  uint32_t style;         // class style bits and WS_TABSTOP, WS_BORDER, ...
  int x, y, w, h;         // dialog units
};

struct DialogTemplate {
  int id;
  uint32_t style;
  std::string caption;
  std::string fontFace;
  int fontSize;
  int x, y, w, h;  // dialog units
  std::vector<DialogControl> controls;
};

// x * numerator / denominator rounded half away from zero, as Windows' MulDiv does.
int MulDiv(int x, int numerator, int denominator);

class TDialog : public TWindow {
 public:
  TDialog(TWindow* parent, int resourceId, TModule* module = nullptr);
  ~TDialog() override;

  // Creates the dialog from its template: false when the module has no template of that id.
  bool Create() override;
  // Creates the dialog and runs it modally (the backend shows it) until CloseWindow or Destroy
  // ends it; returns the code it ended with, -1 when it could not be created. The dialog's
  // windows are destroyed afterwards; the C++ object stays.
  virtual int Execute();
  // A modal dialog asks CanClose and ends its loop with `returnValue`; a modeless one closes as
  // any window does.
  void CloseWindow(int returnValue = IDOK) override;
  // A modal dialog ends its loop with `returnValue` (its windows go when Execute returns).
  void Destroy(int returnValue = 0) override;

  using TWindow::DefaultProcessing;
  int GetResourceId() const { return resourceId_; }
  const DialogTemplate* Template() const { return template_; }
  bool IsModal() const { return modal_; }
  // The control id Enter presses: the first push button of the template with
  // BS_DEFPUSHBUTTON, else IDOK.
  int GetDefaultId() const;
  // A template rectangle in dialog units as pixels, the way the dialog creates its controls:
  // each of x, y, w, h scaled on its own with the dialog font's base units.
  TRect MapDialogRect(int x, int y, int w, int h) const;

 protected:
  ui::PeerKind Kind() const override { return ui::PeerKind::kDialog; }
  // WM_COMMAND IDOK: CmOk; IDCANCEL and WM_CLOSE: CmCancel.
  void DefaultProcessing(TMessage& message) override;
  // CloseWindow(IDOK).
  virtual void CmOk();
  // A modal dialog is destroyed with IDCANCEL; a modeless one closes with IDCANCEL.
  virtual void CmCancel();

 private:
  void BindControls();
  TSize BaseUnits() const;

  int resourceId_;
  const DialogTemplate* template_ = nullptr;
  std::vector<std::unique_ptr<TWindow>> ownedControls_;
  bool modal_ = false;
  bool ending_ = false;
};

#endif
