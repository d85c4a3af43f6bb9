// The window framework layer: windows, response tables, frames and the status bar.
//
// The classes are shaped like the Windows C++ framework the dialogs were designed for and hold
// exactly the operations the dialogs use, with that framework's meaning. Each window owns a
// backend peer (backend.h) from Create() until it is destroyed; everything the code reads about
// a created window (text, position, size, style bits) comes from the peer.
//
// Messages. The backend delivers user actions as messages to HandleMessage: WM_COMMAND (a
// button pressed, Enter on the default button, a notification such as EN_CHANGE), WM_CHAR (a
// typed character, to the focused control), WM_TIMER, WM_CLOSE (the system menu, Alt+F4, the
// window's close box), WM_GETMINMAXINFO. HandleMessage looks the message up in the response
// tables (Find: the class's own table first, then its base's) and calls the bound member; with
// no entry it calls DefaultProcessing, the framework's built-in behaviour for that message.
// A control's WM_COMMAND goes to its parent window.
#ifndef LINDAVOX_UI_WINDOW_H
#define LINDAVOX_UI_WINDOW_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ui/backend.h"
#include "ui/geometry.h"
#include "ui/windows_defs.h"

class TModule;
class TWindow;

namespace platform {
class MessageReceiver;
}

// One message as the response tables see it. For WM_COMMAND, `id` is the command or control id
// and `notifyCode` the notification (BN_CLICKED, EN_CHANGE, ...); for WM_TIMER, `id` is the
// timer id; for WM_CHAR, `wParam` is the character code (a Windows-1252 byte).
struct TMessage {
  unsigned message = 0;
  unsigned id = 0;
  unsigned notifyCode = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
  intptr_t result = 0;
};

// What Find looks for, and the entry it found.
struct TResponseEntry;
struct TEventInfo {
  unsigned message = 0;
  unsigned id = 0;
  unsigned notifyCode = 0;
  const TResponseEntry* entry = nullptr;
};

// One entry of a static response table. For WM_COMMAND entries `id` and `notifyCode` must match
// the message; other entries match by message alone.
struct TResponseEntry {
  unsigned message;
  unsigned id;
  unsigned notifyCode;
  void (*dispatch)(TWindow* window, TMessage& message);
};

// Declares a class's response table inside the class.
#define DECLARE_RESPONSE_TABLE(cls)     \
 public:                                \
  bool Find(TEventInfo& info) override; \
                                        \
 private:                               \
  using TResponseTableClass = cls;      \
  static const TResponseEntry kResponseTable[]

// Defines the table of `cls`, whose lookup falls back to `base`'s.
#define DEFINE_RESPONSE_TABLE1(cls, base)                         \
  bool cls::Find(TEventInfo& info) {                              \
    return SearchTable(kResponseTable, info) || base::Find(info); \
  }                                                               \
  const TResponseEntry cls::kResponseTable[] = {
#define END_RESPONSE_TABLE \
  { 0, 0, 0, nullptr }     \
  }

#define LV_DISPATCH(call)                       \
  [](TWindow* w, TMessage& m) {                 \
    (void)m;                                    \
    static_cast<TResponseTableClass*>(w)->call; \
  }
// void method()
#define EV_COMMAND(id, method) {WM_COMMAND, id, BN_CLICKED, LV_DISPATCH(method())},
// void method(), for a control notification such as EN_CHANGE
#define EV_CHILD_NOTIFY(id, code, method) {WM_COMMAND, id, code, LV_DISPATCH(method())},
// void EvTimer(unsigned timerId)
#define EV_WM_TIMER(method) {WM_TIMER, 0, 0, LV_DISPATCH(method(m.id))},
// void EvChar(unsigned key, unsigned repeatCount, unsigned flags)
#define EV_WM_CHAR(method) \
  {WM_CHAR, 0, 0, LV_DISPATCH(method(static_cast<unsigned>(m.wParam), 1, 0))},
// void EvGetMinMaxInfo(MINMAXINFO& info)
#define EV_WM_GETMINMAXINFO(method) \
  {WM_GETMINMAXINFO, 0, 0, LV_DISPATCH(method(*reinterpret_cast<MINMAXINFO*>(m.lParam)))},
// void EvDestroy()
#define EV_WM_DESTROY(method) {WM_DESTROY, 0, 0, LV_DISPATCH(method())},
// intptr_t method(uintptr_t wParam, intptr_t lParam)
#define EV_MESSAGE(msg, method)                                                   \
  {msg, 0, 0, [](TWindow* w, TMessage& m) {                                       \
     m.result = static_cast<TResponseTableClass*>(w)->method(m.wParam, m.lParam); \
   }},

// Creation attributes; after Create the position and size are read from the peer.
struct TWindowAttr {
  uint32_t Style = 0;
  int X = 0;
  int Y = 0;
  int W = 0;
  int H = 0;
  int Id = 0;
};

// The framework's window flags.
enum TWindowFlag : unsigned { wfMainWindow = 0x1 };

class TMenu;

class TWindow {
 public:
  explicit TWindow(TWindow* parent = nullptr, const char* title = nullptr,
                   TModule* module = nullptr);
  // Deletes the children that are still registered: those allocated with new and left to the
  // parent, as the framework does. Children that are members of a derived class have already
  // unregistered themselves by the time this runs.
  virtual ~TWindow();
  TWindow(const TWindow&) = delete;
  TWindow& operator=(const TWindow&) = delete;

  // Creates the native window and calls SetupWindow, which creates the children.
  virtual bool Create();
  bool IsCreated() const { return peer_ != nullptr; }
  // Destroys the native windows of the children and of this window. The main window's
  // destruction ends the application's message loop with `returnValue`.
  virtual void Destroy(int returnValue = 0);

  // The attributes: before Create what will be created; afterwards X, Y, W, H are the peer's
  // real outer rectangle (screen for top-level windows, parent client area for children) and
  // Style carries the live WS_VISIBLE, WS_MAXIMIZE, WS_MINIMIZE, WS_DISABLED bits.
  const TWindowAttr& Attr();
  void ModifyStyle(uint32_t remove, uint32_t add);
  uint32_t GetWindowLong(int index);  // GWL_STYLE: the style word

  void SetFlag(TWindowFlag flag) { flags_ |= flag; }
  void ClearFlag(TWindowFlag flag) { flags_ &= ~flag; }
  bool IsFlagSet(TWindowFlag flag) const { return (flags_ & flag) != 0; }

  TWindow* GetParent() const { return parent_; }
  // Moves this window under `parent` (before Create).
  void SetParent(TWindow* parent);
  TModule* GetModule() const;
  // The window handle the product family passes around: nonzero and unique while the window
  // exists, 0 before Create and after Destroy.
  uintptr_t GetHandle() const { return reinterpret_cast<uintptr_t>(peer_.get()); }
  // The created window whose handle is `handle`; null for 0 and for a handle no window of this
  // process has (any more).
  static TWindow* FromHandle(uintptr_t handle);
  ui::WindowPeer* Peer() const { return peer_.get(); }

  // Windows-1252 texts. Before Create they set what will be created.
  void SetCaption(const char* title);
  void SetWindowText(const char* text);
  // Copies at most maxChars - 1 characters and a terminator; returns the number copied.
  int GetWindowText(char* buffer, int maxChars) const;
  int GetWindowTextLength() const;
  std::string GetText() const;

  TRect GetWindowRect() const;  // screen (top-level) or parent-client (child) coordinates
  TRect GetClientRect() const;  // (0, 0, client width, client height)
  // Moves and sizes the window; SWP_NOMOVE keeps the position, SWP_NOSIZE the size.
  bool SetWindowPos(uintptr_t insertAfter, int x, int y, int w, int h, uint32_t flags);
  virtual bool ShowWindow(int command);
  bool IsWindowVisible() const;
  bool IsWindowEnabled() const;
  void EnableWindow(bool enable);
  void SetFocus();

  bool SetTimer(unsigned id, unsigned milliseconds);
  bool KillTimer(unsigned id);

  // Lets other programs post messages to this created window by its title, as they find a
  // window on Windows (platform/window_message.h). WM_CHAR, WM_CLOSE and the messages from
  // WM_USER on arrive through HandleMessage as they were posted; any other message is dropped,
  // since its parameters could only be pointers into the sender's memory. Holds the title until
  // the window is destroyed. False when the title cannot be taken (another window holds it, the
  // runtime directory is unsafe).
  bool ReceivePostedMessages();

  // Closes the window when it agrees: the main window asks the application's CanClose and then
  // destroys itself (which ends the application); the client window of a frame closes its
  // frame; any other window asks its own CanClose and is destroyed. Dialogs refine this.
  virtual void CloseWindow(int returnValue = 0);
  // Whether the window may close: every child must agree.
  virtual bool CanClose();

  // Called by the backend with every message for this window: the response tables first
  // (Find), then DefaultProcessing.
  void HandleMessage(TMessage& message);
  virtual bool Find(TEventInfo& info);
  virtual void DefaultProcessing(TMessage& message);
  // The framework's processing of the message being handled, from inside a handler. It is
  // synchronous: when it returns, the window already shows the message's effect.
  void DefaultProcessing();
  // Sends WM_COMMAND with `id` and `notifyCode` to this window.
  void SendCommand(unsigned id, unsigned notifyCode = BN_CLICKED);

  // The children, in creation (and tab) order.
  const std::vector<TWindow*>& Children() const { return children_; }
  TWindow* ChildWithId(int id) const;

  bool IsMainWindow() const { return IsFlagSet(wfMainWindow); }

 protected:
  // Called once the native window exists; creates the children that are not yet created.
  virtual void SetupWindow();
  // Called just before the native window goes away.
  virtual void CleanupWindow() {}
  virtual ui::PeerKind Kind() const { return ui::PeerKind::kFrame; }
  // Creates this window's peer from its attributes; used by Create.
  void CreatePeer();
  void CreateChildren();
  static bool SearchTable(const TResponseEntry* table, TEventInfo& info);
  // Puts the children into `order` (children not named keep their order after them).
  void SetChildOrder(const std::vector<TWindow*>& order);

  TWindowAttr attr_;

 private:
  void AddChild(TWindow* child);
  void RemoveChild(TWindow* child);
  void StopReceivingPostedMessages();
  void DeliverPostedMessages();

  TWindow* parent_;
  TModule* module_;
  std::string title_;
  unsigned flags_ = 0;
  std::vector<TWindow*> children_;
  std::unique_ptr<ui::WindowPeer> peer_;
  TMessage* currentMessage_ = nullptr;
  std::vector<unsigned> timers_;
  bool destroying_ = false;
  std::unique_ptr<platform::MessageReceiver> postedMessages_;  // while the title is held
};

// The system's screen metrics (SM_*), as the installed backend measures them; never negative.
int GetSystemMetrics(int index);
// The warning sound of refused input (the type, MB_OK or an MB_ICON*, picks no other sound).
void MessageBeep(unsigned type = MB_OK);
// The work area of the monitor `rect` lies on: the one it overlaps most, else the one nearest to
// its centre.
TRect MonitorWorkArea(const TRect& rect);
// `rect` moved, not resized, into `area` the way Windows moves a new dialog into view: its
// right and bottom edges come in first, then its left and top edges, so that a window larger
// than the area shows its top-left part.
TRect KeepInside(const TRect& rect, const TRect& area);

// A top-level window with a client window inside, an icon and an optional menu.
class TFrameWindow : public TWindow {
 public:
  // The client (may be null) becomes a child of the frame.
  TFrameWindow(TWindow* parent, const char* title, TWindow* client, bool trackMenuSelection = false,
               TModule* module = nullptr);
  ~TFrameWindow() override;

  using TWindow::DefaultProcessing;
  TWindow* GetClientWindow() const { return client_; }
  // Icon resource `id` of `module` (a PNG pair) as the large or the small window icon; false
  // when the module has no such icon.
  bool SetIcon(TModule* module, int id);
  bool SetIconSm(TModule* module, int id);
  // Menu resource `id` of the frame's module as the menu bar; false (and no menu bar) when the
  // module has no such menu.
  bool AssignMenu(int id);
  TMenu* GetMenu() const { return menu_.get(); }
  // Shows a changed menu.
  void DrawMenuBar();
  bool Create() override;

 protected:
  ui::PeerKind Kind() const override { return ui::PeerKind::kFrame; }
  // WM_CLOSE (system menu, Alt+F4, close box): CloseWindow.
  void DefaultProcessing(TMessage& message) override;

 private:
  void ApplyIcon();
  void ApplyMinTrackSize();

  TWindow* client_;
  std::unique_ptr<TMenu> menu_;
  std::vector<unsigned char> largeIcon_;
  std::vector<unsigned char> smallIcon_;
};

// A frame with decorations (a status bar) around its client.
class TDecoratedFrame : public TFrameWindow {
 public:
  enum TLocation { Top, Bottom };
  TDecoratedFrame(TWindow* parent, const char* title, TWindow* client,
                  bool trackMenuSelection = false, TModule* module = nullptr);
  // `decoration` becomes a child of the frame, shown at `location`.
  void Insert(TWindow& decoration, TLocation location = Bottom);
};

// The border styles of the framework's gadgets.
namespace TGadget {
enum TBorderStyle { None, Plain, Raised, Recessed, Embossed };
}

class TStatusBar : public TWindow {
 public:
  enum TModeIndicator { NoIndicators = 0 };
  explicit TStatusBar(TWindow* parent = nullptr, TGadget::TBorderStyle style = TGadget::Recessed,
                      unsigned modeIndicators = NoIndicators);
  TGadget::TBorderStyle BorderStyle() const { return style_; }

 protected:
  ui::PeerKind Kind() const override { return ui::PeerKind::kStatusBar; }

 private:
  TGadget::TBorderStyle style_;
};

#endif
