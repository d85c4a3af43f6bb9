// The application object, modules with their resources, and the framework's exception.
#ifndef LINDAVOX_UI_APPLICATION_H
#define LINDAVOX_UI_APPLICATION_H

#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/dialog.h"
#include "ui/menu.h"
#include "ui/window.h"

struct IconResource {
  std::vector<unsigned char> large;  // PNG, 32 x 32
  std::vector<unsigned char> small;  // PNG, 16 x 16
};

// A program or resource library with its resources by id: dialog templates, icons, menus.
class TModule {
 public:
  explicit TModule(const char* name = nullptr);
  virtual ~TModule();

  void AddDialog(const DialogTemplate& dialog);
  void AddIcon(int id, IconResource icon);
  void AddMenu(int id, const TMenu& menu);
  const DialogTemplate* FindDialog(int id) const;
  const IconResource* FindIcon(int id) const;
  const TMenu* FindMenu(int id) const;
  const std::string& Name() const { return name_; }

 private:
  std::string name_;
  std::map<int, DialogTemplate> dialogs_;
  std::map<int, IconResource> icons_;
  std::map<int, TMenu> menus_;
};

// Thrown by InitInstance when InitMainWindow made no main window.
class TXInvalidMainWindow : public std::exception {
 public:
  const char* what() const noexcept override { return "Invalid main window"; }
};

// The one application object of a program; also the program's module.
class TApplication : public TModule {
 public:
  explicit TApplication(const char* name = nullptr);
  ~TApplication() override;

  // InitInstance, then the message loop; returns the loop's code. A TXInvalidMainWindow from
  // InitInstance is handled here, as the framework handles it: a message box, and -1.
  virtual int Run();
  // CreateMainWindow, then the main window is shown.
  virtual void InitInstance();
  // Makes the main window (SetMainWindow); the base makes none.
  virtual void InitMainWindow();
  // Whether the application may end: asks the main window.
  virtual bool CanClose();

  TFrameWindow* GetMainWindow() const { return mainWindow_.get(); }
  // Takes ownership of `window` (a previous main window is deleted).
  void SetMainWindow(TFrameWindow* window);
  // A modal message box; a null caption shows the application's name.
  int MessageBox(TWindow* owner, const char* text, const char* caption, unsigned type = MB_OK);
  void EnableCtl3d(bool enable) { ctl3d_ = enable; }
  bool Ctl3dEnabled() const { return ctl3d_; }

  // Ends the message loop with `code` (the main window went).
  void Quit(int code);

  // The application object of the process, null when there is none.
  static TApplication* Current();

 protected:
  // The start of every InitInstance: InitMainWindow, then the main window is marked as such,
  // created and made reachable by its title for other programs' posted messages
  // (TWindow::ReceivePostedMessages). Throws TXInvalidMainWindow when InitMainWindow made no
  // main window. A program's own InitInstance adds its placing and showing after it.
  TFrameWindow& CreateMainWindow();

 private:
  std::unique_ptr<TFrameWindow> mainWindow_;
  bool ctl3d_ = false;
};

// The end of a program's start-up: the main window (a decorated frame, still hidden) gets just
// the size that shows its client dialog up to `control`, a control of that dialog (its right and
// bottom edge plus a 2-pixel margin, the frame borders, the caption and a status bar one caption
// high), keeps its place, and is shown.
void ShowMainWindowFitting(const TWindow& control);

#endif
