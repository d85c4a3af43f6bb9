// Internals of the wxWidgets backend, shared by its source files and its tests. Nothing outside
// ui/wx includes this header.
//
// Each framework window has one WxPeer. The peer owns its widget: its destructor destroys the
// widget (a top-level window with Destroy(), which wxWidgets completes when idle). The framework
// destroys the peers of children before their parent's, so a peer never outlives the widget it
// sits in; where wxWidgets might still have deleted a widget first (the toolkit shutting down),
// the weak reference to it turns null and the peer leaves it alone.
//
// A peer is also the wxEvtHandler its widget's handlers are bound to, so wxWidgets unbinds them
// and drops queued calls when the peer goes. A handler that passes a message to the framework
// may see its own peer destroyed by it (a button that closes its dialog); handlers therefore
// go through Deliver, which tells them whether the peer still exists.
#ifndef LINDAVOX_UI_WX_WX_INTERNAL_H
#define LINDAVOX_UI_WX_WX_INTERNAL_H

#include <wx/event.h>
#include <wx/font.h>
#include <wx/timer.h>
#include <wx/weakref.h>
#include <wx/window.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ui/backend.h"
#include "ui/window.h"

class wxGUIEventLoop;

namespace ui::wxb {

// Windows-1252 bytes <-> the toolkit's strings.
wxString ToWx(const std::string& text);
std::string FromWx(const wxString& text);

class WxBackend;

class WxPeer : public WindowPeer, public wxEvtHandler {
 public:
  WxPeer(WxBackend& backend, TWindow* window, PeerKind kind, uint32_t style);
  ~WxPeer() override;

  TWindow* Window() const { return window_; }
  PeerKind Kind() const { return kind_; }
  wxWindow* Widget() const { return widget_.get(); }

  // The defaults serve the child controls; top-level peers and the special controls override.
  void SetText(const std::string& text) override;
  std::string GetText() const override;
  TRect GetBounds() const override;
  void SetBounds(const TRect& bounds) override;
  TSize GetClientSize() const override;
  void Show(int command) override;
  uint32_t GetStyle() const override;
  void Enable(bool enable) override;
  void SetFocus() override;
  bool HasFocus() const override;
  void GetSelection(int* start, int* end) const override;
  void SetSelection(int start, int end) override;
  bool IsModified() const override { return false; }
  void SetModified(bool /*modified*/) override {}
  bool TextFits(const std::string& /*text*/) const override { return true; }
  int AddString(const std::string& /*text*/) override { return -1; }
  void ClearList() override {}
  int GetCount() const override { return 0; }
  std::string GetString(int /*index*/) const override { return std::string(); }
  int GetSelIndex() const override { return -1; }
  void SetSelIndex(int /*index*/) override {}
  void SetIcon(const std::vector<unsigned char>& /*large*/,
               const std::vector<unsigned char>& /*small*/) override {}
  void SetMinTrackSize(TSize /*size*/) override {}
  void SetMenu(const TMenu* /*menu*/) override {}

  // Modal operation (Backend::RunModal and EndModal). The default, for a window that is not a
  // dialog window, runs a nested loop with the other windows disabled.
  virtual int RunModal();
  virtual void EndModal(int code);

  // Top-level windows: gives the keyboard focus back to the control inside that had it last
  // (after the window was disabled, which takes the focus away).
  virtual void RestoreFocus() {}

  // A key pressed while this peer has the focus: true when the peer took it (an edit takes the
  // characters it is typed), false when it belongs to the toolkit.
  virtual bool TakeTypedKey(const wxKeyEvent& /*event*/) { return false; }
  // A key is about to reach this peer (it has the focus): the moment before the toolkit may
  // change its content.
  virtual void BeforeKey() {}

 protected:
  // Routes events of `type` from `source` (the widget, usually) to OnWidgetEvent, as long as
  // this peer exists.
  template <typename EventTag>
  void Listen(wxWindow* source, const EventTag& type) {
    source->Bind(type, &WxPeer::Dispatch, this);
  }
  // An event of a type the peer listens to; the default lets the toolkit handle it.
  virtual void OnWidgetEvent(wxEvent& event) { event.Skip(); }
  // Makes `widget` this peer's widget: registered with the backend, given its creation
  // visibility and enabled state.
  void Attach(wxWindow* widget);
  // Sends `message` to `target`; false when this peer was destroyed meanwhile, in which case
  // the caller must return without touching any member.
  bool Deliver(TWindow* target, TMessage& message);
  // WM_COMMAND with this window's id and `code` to its parent window.
  bool NotifyParent(unsigned code);
  uint32_t CreationStyle() const { return style_; }
  WxBackend& Backend() const { return backend_; }

 private:
  // Events come here first; during the destructor, when the derived parts are gone already,
  // they go back to the toolkit.
  void Dispatch(wxEvent& event);

  WxBackend& backend_;
  TWindow* window_;
  PeerKind kind_;
  uint32_t style_;
  wxWeakRef<wxWindow> widget_;
  // Expires when the peer is destroyed (see Deliver).
  std::shared_ptr<char> alive_ = std::make_shared<char>();
  // The nested loop of RunModal while it runs; the code of an EndModal that came before it.
  wxGUIEventLoop* modalLoop_ = nullptr;
  std::optional<int> pendingEnd_;
};

// The peers of each kind; `parent` is null for a window without parent.
std::unique_ptr<WxPeer> CreateFramePeer(WxBackend& backend, TWindow* window, WxPeer* parent);
std::unique_ptr<WxPeer> CreateDialogWindowPeer(WxBackend& backend, TWindow* window, WxPeer* parent);
std::unique_ptr<WxPeer> CreatePanelPeer(WxBackend& backend, TWindow* window, WxPeer* parent);
std::unique_ptr<WxPeer> CreateControlPeer(WxBackend& backend, TWindow* window, PeerKind kind,
                                          WxPeer* parent);
std::unique_ptr<WxPeer> CreateStatusBarPeer(WxBackend& backend, TWindow* window, WxPeer* parent);

// The fixed values of the metrics the toolkit cannot tell (GTK reports none of them).
// SM_CXFRAME, SM_CYFRAME: the sizing border of a classic Windows frame at 96 dpi.
inline constexpr int kFallbackFrame = 4;
// SM_CYCAPTION: the classic Windows caption at 96 dpi; raised to the real status bar height.
inline constexpr int kFallbackCaption = 19;

class WxBackend : public ui::Backend {
 public:
  WxBackend();
  ~WxBackend() override;
  // The installed wx backend, null when none.
  static WxBackend* Instance();

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
  std::vector<Monitor> Monitors() const override;
  void Beep() override;
  TSize DialogBaseUnits(const std::string& face, int pointSize) const override;
  void WatchDescriptor(int fd, std::function<void()> readable) override;
  void UnwatchDescriptor(int fd) override;

  // The font a dialog of this template font shows its controls in.
  const wxFont& DialogFont(const std::string& face, int pointSize) const;
  // The dialog font of the dialog `window` sits in, null when it is in none.
  const wxFont* FontFor(TWindow* window) const;
  // The real height of a status bar (measured once).
  int StatusBarHeight() const;

  void Register(wxWindow* widget, WxPeer* peer) { peers_[widget] = peer; }
  void Unregister(wxWindow* widget) { peers_.erase(widget); }
  // The peer of `widget` or of the nearest window around it that has one.
  WxPeer* PeerFor(wxWindow* widget) const;
  // Stops the timers of a window that goes away.
  void ForgetWindow(TWindow* window);
  // Deletes what the backend holds of the toolkit, before the toolkit shuts down.
  void ReleaseToolkitObjects();
  // Deletes the stopped timers and ended descriptor watches once the loop comes back.
  void ScheduleCleanup();

 private:
  class WindowTimer;
  class DescriptorWatch;
  using TimerKey = std::pair<TWindow*, unsigned>;
  int CaptionHeight() const;
  int FrameSize(int wxMetric) const;
  void RetireTimer(std::unique_ptr<WindowTimer> timer);

  std::unordered_map<wxWindow*, WxPeer*> peers_;
  std::map<TimerKey, std::unique_ptr<WindowTimer>> timers_;
  // Stopped timers wait here until the loop comes back, since a timer may be killed from its
  // own notification.
  std::vector<std::unique_ptr<WindowTimer>> retiredTimers_;
  std::map<int, std::unique_ptr<DescriptorWatch>> watches_;
  // Ended watches wait here until the loop comes back, since a watch may end from its own
  // callback.
  std::vector<std::unique_ptr<DescriptorWatch>> retiredWatches_;
  bool cleanupScheduled_ = false;
  wxEvtHandler deferred_;
  std::vector<wxGUIEventLoop*> loops_;
  bool quitPending_ = false;
  int quitCode_ = 0;
  mutable std::map<std::pair<std::string, int>, wxFont> fonts_;
  mutable std::map<std::pair<std::string, int>, TSize> baseUnits_;
  mutable int statusBarHeight_ = -1;
};

}  // namespace ui::wxb

#endif
