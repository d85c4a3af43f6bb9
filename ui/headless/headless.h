// The headless backend: every window is an in-memory object, and tests drive the program the
// way a person would: type into the focused control, press buttons and Enter, close windows,
// let time pass so timers fire, answer message boxes and modal dialogs, and read what was shown.
//
// Modal loops cannot block in a test, so they run scripts: a message box takes the next queued
// answer (IDOK when none is queued), and a modal dialog runs the next queued dialog script,
// which drives the dialog and ends it. A script that leaves its dialog open is a test error: the
// dialog is ended with IDCANCEL and UnendedModals() counts it. A dialog that ends while it is
// being set up returns its code at once, unshown and without taking a script. In the same way
// the application's message loop runs the loop script set for it.
//
// Edits measure text with a fixed character width: every character is as wide as the dialog
// font's average character (SetDialogBaseUnits, 6 pixels by default), and the visible width of
// an edit is its width less a 2-pixel border on each side (with WS_BORDER) and a 1-pixel margin
// on each side. So an edit 158 pixels wide with a border shows 25 characters.
//
// The desktop is one 1280 x 1024 monitor whose bottom 30 pixels are a task bar, unless a test
// sets other monitors.
#ifndef LINDAVOX_UI_HEADLESS_HEADLESS_H
#define LINDAVOX_UI_HEADLESS_HEADLESS_H

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/backend.h"
#include "ui/dialog.h"
#include "ui/window.h"

class TComboBox;

namespace ui {

class HeadlessPeer;

// One message box as it was shown.
struct ShownMessageBox {
  TWindow* owner;
  std::string text;     // Windows-1252
  std::string caption;  // Windows-1252
  unsigned type;        // MB_* bits as passed
};

class HeadlessBackend : public Backend {
 public:
  HeadlessBackend();
  ~HeadlessBackend() override;

  // Installs a fresh headless backend and returns it.
  static HeadlessBackend& Install();

  // ----- Backend
  std::unique_ptr<WindowPeer> CreatePeer(TWindow* window, PeerKind kind,
                                         WindowPeer* parent) override;
  int RunMessageLoop() override;
  void QuitMessageLoop(int code) override;
  int RunModal(TDialog* dialog) override;
  void EndModal(TDialog* dialog, int code) override;
  void SetTimer(TWindow* window, unsigned id, unsigned milliseconds) override;
  void KillTimer(TWindow* window, unsigned id) override;
  int MessageBox(TWindow* owner, const std::string& text, const std::string& caption,
                 unsigned type) override;
  int GetSystemMetrics(int index) const override;
  std::vector<Monitor> Monitors() const override { return monitors_; }
  void Beep() override { ++beeps_; }
  TSize DialogBaseUnits(const std::string& face, int pointSize) const override;
  void WatchDescriptor(int fd, std::function<void()> readable) override;
  void UnwatchDescriptor(int fd) override;

  // ----- Settings
  void SetMetric(int index, int value) { metrics_[index] = value; }
  void SetDialogBaseUnits(TSize units) { baseUnits_ = units; }
  void SetMonitors(std::vector<Monitor> monitors) { monitors_ = std::move(monitors); }

  // ----- Scripts for the modal loops
  void SetLoopScript(std::function<void()> script) { loopScript_ = std::move(script); }
  void QueueMessageBoxAnswer(int answer) { boxAnswers_.push_back(answer); }
  void QueueDialogScript(std::function<void(TDialog&)> script) {
    dialogScripts_.push_back(std::move(script));
  }
  int UnendedModals() const { return unendedModals_; }
  bool QuitRequested() const { return quitRequested_; }
  int QuitCode() const { return quitCode_; }

  // ----- What a person sees
  const std::vector<ShownMessageBox>& MessageBoxes() const { return boxes_; }
  void ClearMessageBoxes() { boxes_.clear(); }
  TWindow* FocusedWindow() const;
  // The show commands a window received, in order.
  std::vector<int> ShowCommands(const TWindow& window) const;
  // The menu last given to a frame's peer (null: none).
  const TMenu* FrameMenu(const TWindow& frame) const;
  const std::vector<unsigned char>* LargeIcon(const TWindow& frame) const;
  const std::vector<unsigned char>* SmallIcon(const TWindow& frame) const;
  TSize MinTrackSize(const TWindow& frame) const;
  uint64_t Now() const { return now_; }
  // How often the warning sound was heard.
  int Beeps() const { return beeps_; }

  // ----- What a person does
  // Each byte of `text` as WM_CHAR to the focused window.
  void Type(const std::string& text);
  // Focus `control`, then type.
  void TypeInto(TWindow& control, const std::string& text);
  // Presses an enabled button: its parent receives WM_COMMAND with the button's id.
  void Click(TWindow& button);
  // Enter: presses the focused push button, else the default button of the focused window's
  // dialog.
  void PressEnter();
  // Escape: IDCANCEL to the focused window's dialog.
  void PressEscape();
  // The close box, the system menu's "Close" and Alt+F4 all send WM_CLOSE to the top-level
  // window.
  void Close(TWindow& topLevel);
  // Alt+F4 on the window that has the focus.
  void AltF4();
  // Picks item `index` of a drop-down list: the parent receives CBN_SELCHANGE.
  void SelectItem(TComboBox& combo, int index);
  // Lets `milliseconds` pass: every timer that falls due fires, in time order.
  void AdvanceTime(uint64_t milliseconds);
  // Text that reaches the focused edit other than by typing (a paste, a drop, an input
  // method): it replaces the selection, as far as the edit takes it (TEdit::ReplaceByUser).
  void Paste(const std::string& text);
  // Waits up to `milliseconds` for data on the watched descriptors (messages other programs
  // post to a window), then runs the callbacks of those that have some. Returns how many ran.
  int DeliverPosted(int milliseconds);

 private:
  friend class HeadlessPeer;
  struct Timer {
    TWindow* window;
    unsigned id;
    unsigned period;
    uint64_t due;
  };
  HeadlessPeer* PeerOf(const TWindow& window) const;
  void Forget(HeadlessPeer* peer);

  std::map<int, int> metrics_;
  std::vector<Monitor> monitors_{{TRect{0, 0, 1280, 1024}, TRect{0, 0, 1280, 994}}};
  int beeps_ = 0;
  std::map<int, std::function<void()>> watched_;
  TSize baseUnits_{6, 13};
  std::vector<HeadlessPeer*> peers_;
  HeadlessPeer* focused_ = nullptr;
  std::vector<Timer> timers_;
  uint64_t now_ = 0;
  std::vector<ShownMessageBox> boxes_;
  std::deque<int> boxAnswers_;
  std::deque<std::function<void(TDialog&)>> dialogScripts_;
  std::map<TDialog*, int> modalCodes_;
  std::function<void()> loopScript_;
  int unendedModals_ = 0;
  bool quitRequested_ = false;
  int quitCode_ = 0;
};

}  // namespace ui

#endif
