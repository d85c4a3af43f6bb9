// The backend interface of the window framework layer.
//
// The framework classes (window.h, dialog.h, controls.h, application.h) hold the logic that the
// dialogs rely on; a backend supplies the real widgets underneath. Exactly one backend is
// installed per process: ui/headless for tests (in memory, deterministic) or ui/wx for users
// (wxWidgets 3.2). The framework never asks which one runs.
//
// Texts cross this interface as Windows-1252 bytes; a backend that talks to a UTF-8 toolkit
// converts at its own boundary. Coordinates are pixels: a top-level window's bounds are its
// outer rectangle on the screen, a child's bounds are relative to its parent's client area.
#ifndef LINDAVOX_UI_BACKEND_H
#define LINDAVOX_UI_BACKEND_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/geometry.h"

class TWindow;
class TDialog;
class TMenu;

namespace ui {

// One monitor of the desktop in screen pixels: all of it, and its work area (what panels and task
// bars leave free).
struct Monitor {
  TRect bounds;
  TRect workArea;
};

// What kind of native window a peer is.
enum class PeerKind { kFrame, kDialog, kEdit, kButton, kStatic, kComboBox, kStatusBar };

// The backend's side of one window. Created by Backend::CreatePeer when the framework creates
// the window, destroyed when the window is destroyed. Every state the framework reads (text,
// bounds, visibility, style bits, selection, modify flag, list contents) is read back from the
// peer, so it is always the widget's real state.
class WindowPeer {
 public:
  virtual ~WindowPeer() = default;

  virtual void SetText(const std::string& text) = 0;
  virtual std::string GetText() const = 0;

  // Outer rectangle (see above). SetBounds applies exactly what it is given.
  virtual TRect GetBounds() const = 0;
  virtual void SetBounds(const TRect& bounds) = 0;
  // The size of the client area (inside frame, caption and decorations).
  virtual TSize GetClientSize() const = 0;

  // SW_* command: hide, show normal, maximised, minimised, default.
  virtual void Show(int command) = 0;
  // The live style bits WS_VISIBLE, WS_MAXIMIZE, WS_MINIMIZE, WS_DISABLED; others are as
  // created.
  virtual uint32_t GetStyle() const = 0;
  virtual void Enable(bool enable) = 0;
  virtual void SetFocus() = 0;
  virtual bool HasFocus() const = 0;

  // Edit controls: selection as character positions [start, end). The modify flag is set by a
  // change the user makes and cleared by SetText and SetModified(false), as on Windows.
  virtual void GetSelection(int* start, int* end) const = 0;
  virtual void SetSelection(int start, int end) = 0;
  virtual bool IsModified() const = 0;
  virtual void SetModified(bool modified) = 0;
  // Edits: whether `text` shows whole within the visible width of the edit, in its font, so
  // that it needs no horizontal scrolling.
  virtual bool TextFits(const std::string& text) const = 0;

  // Combo boxes (drop-down lists).
  virtual int AddString(const std::string& text) = 0;  // index of the new item
  virtual void ClearList() = 0;
  virtual int GetCount() const = 0;
  virtual std::string GetString(int index) const = 0;
  virtual int GetSelIndex() const = 0;  // -1 when nothing is selected
  virtual void SetSelIndex(int index) = 0;

  // Frames: icon (PNG bytes of the large and the small image) and the smallest size the user
  // may drag the frame to.
  virtual void SetIcon(const std::vector<unsigned char>& large,
                       const std::vector<unsigned char>& small) = 0;
  virtual void SetMinTrackSize(TSize size) = 0;
  // Frames: the menu bar (null: none). The menu stays owned by the frame and outlives the call;
  // the peer shows it again when this is called again after a change.
  virtual void SetMenu(const TMenu* menu) = 0;
};

// Process-wide services of a backend.
class Backend {
 public:
  virtual ~Backend() = default;

  // A peer for `window` of `kind`, inside `parent` (null for a top-level window), with the
  // creation style, text and bounds the window holds (window->Attr() before creation, and
  // window->GetText()). A kDialog with WS_CHILD in its style is a child panel (the client of a
  // frame); without it, a top-level dialog window. A frame's kDialog child is laid out over the
  // frame's client area, a kStatusBar child along its bottom edge.
  //
  // Top-level bounds are outer rectangles in the Windows sense: client area plus 2 x SM_CXFRAME
  // in width and SM_CYCAPTION + 2 x SM_CYFRAME in height, whatever the real decorations of the
  // desktop are, so that sizes computed from the metrics come out right. A status bar is
  // SM_CYCAPTION pixels high (backends report an SM_CYCAPTION no smaller than their real status
  // bar), so a frame sized for its client dialog plus one caption height shows all of it.
  virtual std::unique_ptr<WindowPeer> CreatePeer(TWindow* window, PeerKind kind,
                                                 WindowPeer* parent) = 0;

  // Runs the message loop until QuitMessageLoop; returns its code.
  virtual int RunMessageLoop() = 0;
  virtual void QuitMessageLoop(int code) = 0;
  // Shows `dialog` (already created, hidden) and runs a modal loop for it, with its owner
  // disabled, until EndModal; returns the code given to EndModal. The dialog stays created.
  // Enter in a dialog sends WM_COMMAND with TDialog::GetDefaultId() (unless a push button has
  // the focus, which Enter then presses), Escape sends IDCANCEL, the close box WM_CLOSE.
  virtual int RunModal(TDialog* dialog) = 0;
  virtual void EndModal(TDialog* dialog, int code) = 0;

  // Timers deliver WM_TIMER with `id` to `window` every `milliseconds` until killed; setting an
  // existing id again restarts it. A destroyed window's timers are killed by the framework.
  virtual void SetTimer(TWindow* window, unsigned id, unsigned milliseconds) = 0;
  virtual void KillTimer(TWindow* window, unsigned id) = 0;

  // Calls `readable` on the GUI thread, from whatever loop runs (modal ones too), whenever the
  // descriptor `fd` has data to read, until UnwatchDescriptor(fd). Watching an fd again replaces
  // its callback. `readable` may unwatch its own descriptor.
  virtual void WatchDescriptor(int fd, std::function<void()> readable) = 0;
  virtual void UnwatchDescriptor(int fd) = 0;

  // A modal message box: `type` is MB_* (buttons and icon); returns IDOK, IDCANCEL, ...
  virtual int MessageBox(TWindow* owner, const std::string& text, const std::string& caption,
                         unsigned type) = 0;

  // SM_* metrics; never negative.
  virtual int GetSystemMetrics(int index) const = 0;
  // The monitors of the desktop, the primary one first; never empty.
  virtual std::vector<Monitor> Monitors() const = 0;
  // The warning sound of refused input.
  virtual void Beep() = 0;
  // The average character width (of a-z A-Z, rounded) and the height of a dialog font.
  virtual TSize DialogBaseUnits(const std::string& face, int pointSize) const = 0;
};

// The installed backend. Installing replaces the previous one (null uninstalls) and points the
// platform's message-box hook at the backend's message boxes, so library code that must show a
// message shows a real box.
Backend& CurrentBackend();
void InstallBackend(std::unique_ptr<Backend> backend);
bool HasBackend();

}  // namespace ui

#endif
