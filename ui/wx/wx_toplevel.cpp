// Top-level windows: frames and dialog windows.
//
// Geometry. The framework works with Windows outer rectangles: the client area plus
// 2 x SM_CXFRAME in width and 2 x SM_CYFRAME (plus SM_CYCAPTION with a caption) in height, plus
// the menu bar, whatever the real decorations of the desktop are. The position is the outer
// top-left corner of the real window on the screen, which is what wxWidgets reports and sets
// for a top-level window once the window manager has told it the size of its decorations. The
// size is kept as a client size, the one part of the window the program controls exactly; so
// a rectangle set is read back unchanged, before and after the window is shown, unless the
// user or the window manager really moved or resized the window. wxWidgets leaves the status
// bar out of a frame's client area; for the framework it is part of it.
//
// Placement. Window managers place new windows as they like: openbox, for one, centres a
// dialog on its owner whatever position the program asked for. So when a window appears, a
// placement by the window manager that differs from the position asked for is answered with
// one move back to it. The watch ends when the window manager activates the window (it has
// placed it by then) or, for a window that is not activated, after two seconds; the user's
// own moves afterwards stand.
//
// Keys. Every key pressed in a top-level window passes its key hook first. Alt+F4 asks to close
// the window, as the window manager's close does (most window managers take the key before any
// window sees it, but not all of them, and not always). Enter presses the focused push button,
// or else the default button of the dialog the focus is in; Escape sends IDCANCEL to that dialog
// (either is suppressed when the button of that id exists and is disabled, as the dialog manager
// does). Characters typed into an edit go to the edit's peer. Everything else belongs to the
// toolkit (Tab, cursor keys, clipboard, mnemonics).
#include <wx/dialog.h>
#include <wx/display.h>
#include <wx/frame.h>
#include <wx/iconbndl.h>
#include <wx/image.h>
#include <wx/menu.h>
#include <wx/mstream.h>
#include <wx/statusbr.h>
#include <wx/timer.h>

#include <dlfcn.h>

#include <algorithm>
#include <optional>

#include "ui/dialog.h"
#include "ui/menu.h"
#include "ui/wx/wx_internal.h"

namespace ui::wxb {
namespace {

// Where a shown top-level window's outer corner (the window manager's frame included) really is
// on the screen. wxWidgets keeps a position of its own, which some window-manager events (a
// modal dialog's owner being disabled and enabled again, for one) leave pointing at the client
// area instead; GDK asks the X server. The GDK function is already loaded with the toolkit and
// is looked up at run time, so the backend needs no GTK headers. A hidden window (or a toolkit
// without the function) falls back to the wxWidgets position.
wxPoint ScreenPosition(wxTopLevelWindow* window) {
  struct GdkRectangle {
    int x, y, width, height;
  };
  using GetWindow = void* (*)(void*);
  using GetFrameExtents = void (*)(void*, GdkRectangle*);
  static const auto getWindow =
      reinterpret_cast<GetWindow>(::dlsym(RTLD_DEFAULT, "gtk_widget_get_window"));
  static const auto getFrameExtents =
      reinterpret_cast<GetFrameExtents>(::dlsym(RTLD_DEFAULT, "gdk_window_get_frame_extents"));
  if (window->IsShown() && getWindow != nullptr && getFrameExtents != nullptr) {
    if (void* gdkWindow = getWindow(window->GetHandle())) {
      GdkRectangle frame{};
      getFrameExtents(gdkWindow, &frame);
      return wxPoint(frame.x, frame.y);
    }
  }
  return window->GetPosition();
}

long TopLevelStyle(uint32_t style) {
  long wxStyle = 0;
  if ((style & WS_CAPTION) != 0) wxStyle |= wxCAPTION;
  if ((style & WS_SYSMENU) != 0) wxStyle |= wxSYSTEM_MENU | wxCLOSE_BOX;
  if ((style & WS_MINIMIZEBOX) != 0) wxStyle |= wxMINIMIZE_BOX;
  if ((style & WS_MAXIMIZEBOX) != 0) wxStyle |= wxMAXIMIZE_BOX;
  if ((style & WS_THICKFRAME) != 0) wxStyle |= wxRESIZE_BORDER;
  return wxStyle;
}

// The dialog whose buttons Enter and Escape press: the one around `focus`, else the window's
// own dialog, else a frame's client dialog.
TDialog* DialogForKeys(TWindow* focus, TWindow* topLevel) {
  for (TWindow* window = focus; window != nullptr; window = window->GetParent()) {
    if (auto* dialog = dynamic_cast<TDialog*>(window)) return dialog;
  }
  if (auto* dialog = dynamic_cast<TDialog*>(topLevel)) return dialog;
  if (auto* frame = dynamic_cast<TFrameWindow*>(topLevel)) {
    return dynamic_cast<TDialog*>(frame->GetClientWindow());
  }
  return nullptr;
}

void PressDialogButton(TDialog* dialog, int id) {
  TWindow* button = dialog->ChildWithId(id);
  if (button != nullptr && button->IsCreated() && !button->IsWindowEnabled()) return;
  dialog->SendCommand(static_cast<unsigned>(id), BN_CLICKED);
}

wxMenu* BuildMenu(const TMenu& menu) {
  auto* built = new wxMenu;
  for (const TMenu::Item& item : menu.Items()) {
    if (item.popup) {
      built->AppendSubMenu(BuildMenu(*item.popup), ToWx(item.text));
    } else if ((item.flags & MF_SEPARATOR) != 0) {
      built->AppendSeparator();
    } else {
      built->Append(static_cast<int>(item.id), ToWx(item.text));
    }
  }
  return built;
}

// A menu bar holds menus only; a command item on the bar itself becomes a menu of that name
// holding the one command.
wxMenuBar* BuildMenuBar(const TMenu& menu) {
  auto* bar = new wxMenuBar;
  for (const TMenu::Item& item : menu.Items()) {
    if (item.popup) {
      bar->Append(BuildMenu(*item.popup), ToWx(item.text));
    } else if ((item.flags & MF_SEPARATOR) == 0) {
      auto* single = new wxMenu;
      single->Append(static_cast<int>(item.id), ToWx(item.text));
      bar->Append(single, ToWx(item.text));
    }
  }
  return bar;
}

bool AddPngIcon(wxIconBundle& bundle, const std::vector<unsigned char>& png) {
  if (png.empty()) return false;
  wxMemoryInputStream stream(png.data(), png.size());
  wxImage image;
  if (!image.LoadFile(stream, wxBITMAP_TYPE_PNG)) return false;
  wxIcon icon;
  icon.CopyFromBitmap(wxBitmap(image));
  bundle.AddIcon(icon);
  return true;
}

class TopLevelPeer : public WxPeer {
 public:
  TopLevelPeer(WxBackend& backend, TWindow* window, PeerKind kind)
      : WxPeer(backend, window, kind, window->Attr().Style), placementTimer_(this) {
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { EndPlacementWatch(); });
  }

  void SetText(const std::string& text) override {
    if (wxTopLevelWindow* window = TopLevel()) window->SetTitle(ToWx(text));
  }
  std::string GetText() const override {
    wxTopLevelWindow* window = TopLevel();
    return window != nullptr ? FromWx(window->GetTitle()) : std::string();
  }

  TRect GetBounds() const override {
    wxTopLevelWindow* window = TopLevel();
    if (window == nullptr) return TRect{};
    wxPoint position = ScreenPosition(window);
    if (requested_) {
      // Once the window has left the place it had when the move was asked for, the X server
      // shows where it went: there, or wherever the window manager or the user put it.
      if (position != requestedFrom_ || !window->IsShown() ||
          wxGetLocalTimeMillis() - requestedAt_ > 1000) {
        requested_.reset();
      } else {
        position = *requested_;
      }
    }
    TSize client = GetClientSize();
    TSize decoration = Decoration();
    return TRect{position.x, position.y, position.x + client.cx + decoration.cx,
                 position.y + client.cy + decoration.cy};
  }

  void SetBounds(const TRect& bounds) override {
    wxTopLevelWindow* window = TopLevel();
    if (window == nullptr) return;
    TSize decoration = Decoration();
    int width = std::max(1, bounds.Width() - decoration.cx);
    int height = std::max(1, bounds.Height() - decoration.cy - StatusBarHeight());
    const wxPoint target(bounds.left, bounds.top);
    if (placeAt_) placeAt_ = target;  // before the move reports
    const wxPoint from = ScreenPosition(window);
    if (from == target) {
      requested_.reset();  // nothing to wait for: a later move is somebody else's
    } else {
      requested_ = target;
      requestedFrom_ = from;
      requestedAt_ = wxGetLocalTimeMillis();
    }
    window->Move(target.x, target.y, wxSIZE_ALLOW_MINUS_ONE);
    // wxWidgets reckons the frame around the client area from the window's present size; from
    // a degenerate one (smaller than its status bar, as a frame created 0 x 0 is) it reckons
    // wrong once, and a second try starts from a sound size.
    const wxSize client(width, height);
    window->SetClientSize(client);
    if (window->GetClientSize() != client) window->SetClientSize(client);
  }

  TSize GetClientSize() const override {
    wxTopLevelWindow* window = TopLevel();
    if (window == nullptr) return TSize{};
    wxSize size = window->GetClientSize();
    return TSize{size.x, size.y + StatusBarHeight()};
  }

  void Show(int command) override {
    wxTopLevelWindow* window = TopLevel();
    if (window == nullptr) return;
    if (command != SW_HIDE && !window->IsShown()) WatchPlacement();
    switch (command) {
      case SW_HIDE:
        window->Hide();
        return;
      case SW_SHOWMAXIMIZED:
        maximizing_ = true;
        window->Show();
        window->Maximize(true);
        return;
      case SW_SHOWMINIMIZED:
      case SW_SHOWMINNOACTIVE:
        minimizing_ = true;
        window->Show();
        window->Iconize(true);
        return;
      case SW_SHOWNORMAL:
      case SW_RESTORE:
      case SW_SHOWDEFAULT:
        if (window->IsMaximized() || maximizing_) window->Maximize(false);
        if (window->IsIconized() || minimizing_) window->Iconize(false);
        maximizing_ = minimizing_ = false;
        window->Show();
        return;
      default:  // SW_SHOW and the rest: shown as it is
        window->Show();
        return;
    }
  }

  void RestoreFocus() override {
    if (wxWindow* focus = lastFocus_.get(); focus != nullptr && focus->IsEnabled()) {
      focus->SetFocus();
    }
  }

  // The window manager confirms a maximise or minimise later; until it does, the state asked
  // for is the state reported.
  uint32_t GetStyle() const override {
    uint32_t style = WxPeer::GetStyle();
    wxTopLevelWindow* window = TopLevel();
    if (window == nullptr) return style;
    if (window->IsMaximized() || maximizing_) style |= WS_MAXIMIZE;
    if (window->IsIconized() || minimizing_) style |= WS_MINIMIZE;
    return style;
  }

 protected:
  wxTopLevelWindow* TopLevel() const { return static_cast<wxTopLevelWindow*>(Widget()); }

  // The window is about to appear: watch where the window manager puts it.
  void WatchPlacement() {
    placeAt_ = TopLevel()->GetPosition();
    placementCorrected_ = false;
    placementTimer_.StartOnce(kPlacementMilliseconds);
  }

  // Attaches the new window and listens to what every top-level window hears.
  void AttachTopLevel(wxTopLevelWindow* window) {
    Attach(window);
    Listen(window, wxEVT_MOVE);
    Listen(window, wxEVT_ACTIVATE);
    Listen(window, wxEVT_CHILD_FOCUS);
    Listen(window, wxEVT_MAXIMIZE);
    Listen(window, wxEVT_ICONIZE);
    Listen(window, wxEVT_CLOSE_WINDOW);
    Listen(window, wxEVT_CHAR_HOOK);
  }

  // Height of the status bar counted into the client area (frames only).
  virtual int StatusBarHeight() const { return 0; }
  virtual int MenuBarHeight() const { return 0; }

  // The Windows decorations: frame borders, caption, menu bar.
  TSize Decoration() const {
    const WxBackend& backend = Backend();
    int frameX = backend.GetSystemMetrics(SM_CXFRAME);
    int frameY = backend.GetSystemMetrics(SM_CYFRAME);
    int caption = (CreationStyle() & WS_CAPTION) != 0 ? backend.GetSystemMetrics(SM_CYCAPTION) : 0;
    return TSize{2 * frameX, 2 * frameY + caption + MenuBarHeight()};
  }

  void OnWidgetEvent(wxEvent& event) override {
    wxEventType type = event.GetEventType();
    if (type == wxEVT_CLOSE_WINDOW) {
      OnClose(static_cast<wxCloseEvent&>(event));
    } else if (type == wxEVT_CHAR_HOOK) {
      OnKey(static_cast<wxKeyEvent&>(event));
    } else if (type == wxEVT_MOVE) {
      CheckPlacement();
      event.Skip();
    } else if (type == wxEVT_CHILD_FOCUS) {
      if (wxWindow* focus = wxWindow::FindFocus()) lastFocus_ = focus;
      event.Skip();
    } else if (type == wxEVT_ACTIVATE) {
      if (static_cast<wxActivateEvent&>(event).GetActive()) EndPlacementWatch();
      event.Skip();
    } else if (type == wxEVT_MAXIMIZE) {
      maximizing_ = false;
      event.Skip();
    } else if (type == wxEVT_ICONIZE) {
      minimizing_ = false;
      event.Skip();
    } else {
      event.Skip();
    }
  }

 private:
  // How long after showing a window a placement by the window manager is corrected.
  static constexpr int kPlacementMilliseconds = 2000;

  void EndPlacementWatch() {
    placeAt_.reset();
    placementTimer_.Stop();
  }

  void CheckPlacement() {
    wxTopLevelWindow* window = TopLevel();
    if (!placeAt_ || window->IsMaximized() || window->IsIconized() || maximizing_ || minimizing_) {
      return;
    }
    if (window->GetPosition() == *placeAt_) {
      if (placementCorrected_) EndPlacementWatch();
    } else if (!placementCorrected_) {
      placementCorrected_ = true;
      window->Move(placeAt_->x, placeAt_->y, wxSIZE_ALLOW_MINUS_ONE);
    }
  }

  // The close box, the system menu and Alt+F4: the framework decides. Unless it destroyed the
  // window, the window stays.
  void OnClose(wxCloseEvent& close) {
    TMessage message{WM_CLOSE};
    if (!Deliver(Window(), message)) return;
    if (close.CanVeto()) close.Veto();
  }

  void OnKey(wxKeyEvent& key) {
    WxPeer* focus = Backend().PeerFor(wxWindow::FindFocus());
    if (focus != nullptr && wxGetTopLevelParent(focus->Widget()) != Widget()) focus = nullptr;
    if (focus != nullptr) focus->BeforeKey();
    int code = key.GetKeyCode();
    bool plain = (key.GetModifiers() & (wxMOD_CONTROL | wxMOD_ALT | wxMOD_META)) == 0;
    if (code == WXK_F4 && key.GetModifiers() == wxMOD_ALT) {
      TopLevel()->Close();  // the window manager left Alt+F4 to the window
    } else if (plain && (code == WXK_RETURN || code == WXK_NUMPAD_ENTER)) {
      PressEnter(focus);
    } else if (plain && code == WXK_ESCAPE) {
      if (TDialog* dialog = DialogForKeys(focus != nullptr ? focus->Window() : nullptr, Window())) {
        PressDialogButton(dialog, IDCANCEL);
      }
    } else if (focus == nullptr || !focus->TakeTypedKey(key)) {
      key.Skip();
    }
    // The framework may have destroyed this peer meanwhile: no member access from here.
  }

  void PressEnter(WxPeer* focus) {
    if (focus != nullptr && focus->Kind() == PeerKind::kButton) {
      TWindow* button = focus->Window();
      if (button->GetParent() != nullptr) {
        button->GetParent()->SendCommand(static_cast<unsigned>(button->Attr().Id), BN_CLICKED);
      }
      return;
    }
    if (TDialog* dialog = DialogForKeys(focus != nullptr ? focus->Window() : nullptr, Window())) {
      PressDialogButton(dialog, dialog->GetDefaultId());
    }
  }

  wxWeakRef<wxWindow> lastFocus_;  // the control inside that had the focus last
  bool maximizing_ = false;        // asked to maximise, not yet confirmed
  bool minimizing_ = false;        // asked to minimise, not yet confirmed
  // While the window is appearing: where it belongs, and whether it was moved back there.
  std::optional<wxPoint> placeAt_;
  // The place last asked for, while the X server still shows the window where it was when the
  // move was asked for (at most a second): the real position still shows the old place then,
  // and the asked-for one is the answer. Any move since ends it, so a move by the user soon
  // after the program's own is read at once.
  mutable std::optional<wxPoint> requested_;
  wxPoint requestedFrom_;
  wxLongLong requestedAt_;
  bool placementCorrected_ = false;
  wxTimer placementTimer_;
};

class FramePeer final : public TopLevelPeer {
 public:
  FramePeer(WxBackend& backend, TWindow* window, WxPeer* parent)
      : TopLevelPeer(backend, window, PeerKind::kFrame) {
    wxWindow* owner = parent != nullptr ? wxGetTopLevelParent(parent->Widget()) : nullptr;
    const TWindowAttr& attr = window->Attr();
    auto* frame = new wxFrame(owner, wxID_ANY, ToWx(window->GetText()), wxPoint(attr.X, attr.Y),
                              wxDefaultSize, TopLevelStyle(CreationStyle()));
    AttachTopLevel(frame);
    Listen(frame, wxEVT_MENU);
    SetBounds(TRect{attr.X, attr.Y, attr.X + attr.W, attr.Y + attr.H});
    if ((CreationStyle() & WS_VISIBLE) != 0) Show(SW_SHOWNORMAL);
  }

  ~FramePeer() override {
    if (wxFrame* frame = Frame()) {
      if (wxMenuBar* bar = frame->GetMenuBar()) {
        frame->SetMenuBar(nullptr);
        delete bar;
      }
    }
  }

  void SetIcon(const std::vector<unsigned char>& large,
               const std::vector<unsigned char>& small) override {
    wxIconBundle icons;
    bool any = AddPngIcon(icons, large);
    any = AddPngIcon(icons, small) || any;
    if (any && Frame() != nullptr) Frame()->SetIcons(icons);
  }

  // Only a frame the user can resize has a smallest size; the WM_GETMINMAXINFO size is an outer
  // one, 0 meaning none.
  void SetMinTrackSize(TSize size) override {
    wxFrame* frame = Frame();
    if (frame == nullptr || (CreationStyle() & WS_THICKFRAME) == 0) return;
    TSize decoration = Decoration();
    int width = size.cx > 0 ? std::max(1, size.cx - decoration.cx) : -1;
    int height = size.cy > 0 ? std::max(1, size.cy - decoration.cy - StatusBarHeight()) : -1;
    frame->SetMinClientSize(wxSize(width, height));
  }

  // As on Windows, the window keeps its outer rectangle and the client area gives way.
  void SetMenu(const TMenu* menu) override {
    wxFrame* frame = Frame();
    if (frame == nullptr) return;
    TRect outer = GetBounds();
    wxMenuBar* old = frame->GetMenuBar();
    frame->SetMenuBar(menu != nullptr ? BuildMenuBar(*menu) : nullptr);
    delete old;
    SetBounds(outer);
  }

 protected:
  int StatusBarHeight() const override {
    wxFrame* frame = Frame();
    wxStatusBar* bar = frame != nullptr ? frame->GetStatusBar() : nullptr;
    return bar != nullptr && bar->IsShown() ? bar->GetSize().y : 0;
  }
  int MenuBarHeight() const override {
    wxFrame* frame = Frame();
    wxMenuBar* bar = frame != nullptr ? frame->GetMenuBar() : nullptr;
    return bar != nullptr && bar->IsShown() ? bar->GetBestSize().y : 0;
  }

  void OnWidgetEvent(wxEvent& event) override {
    if (event.GetEventType() != wxEVT_MENU) {
      TopLevelPeer::OnWidgetEvent(event);
      return;
    }
    TMessage command{WM_COMMAND, static_cast<unsigned>(event.GetId()), BN_CLICKED};
    Deliver(Window(), command);
  }

 private:
  wxFrame* Frame() const { return static_cast<wxFrame*>(Widget()); }
};

// A dialog window (a template without WS_CHILD), owned by its parent's top-level window.
class DialogWindowPeer final : public TopLevelPeer {
 public:
  DialogWindowPeer(WxBackend& backend, TWindow* window, WxPeer* parent)
      : TopLevelPeer(backend, window, PeerKind::kDialog) {
    wxWindow* owner = parent != nullptr ? wxGetTopLevelParent(parent->Widget()) : nullptr;
    TWindowAttr attr = window->Attr();
    if ((CreationStyle() & DS_CENTER) != 0) {
      wxRect work = wxDisplay().GetClientArea();
      attr.X = work.x + (work.width - attr.W) / 2;
      attr.Y = work.y + (work.height - attr.H) / 2;
    }
    auto* dialog = new wxDialog(owner, wxID_ANY, ToWx(window->GetText()), wxPoint(attr.X, attr.Y),
                                wxDefaultSize, TopLevelStyle(CreationStyle()));
    AttachTopLevel(dialog);
    if (const wxFont* font = backend.FontFor(window)) dialog->SetFont(*font);
    SetBounds(TRect{attr.X, attr.Y, attr.X + attr.W, attr.Y + attr.H});
    // A modal dialog shows when its loop starts; a modeless one as its style says.
    auto* framework = dynamic_cast<TDialog*>(window);
    bool modal = framework != nullptr && framework->IsModal();
    if (!modal && (CreationStyle() & WS_VISIBLE) != 0) Show(SW_SHOWNORMAL);
  }

  ~DialogWindowPeer() override {
    // A dialog destroyed inside its own modal loop ends the loop first.
    wxDialog* dialog = Dialog();
    if (dialog != nullptr && dialog->IsModal()) dialog->EndModal(IDCANCEL);
  }

  int RunModal() override {
    if (pendingEnd_) return *std::exchange(pendingEnd_, std::nullopt);
    wxDialog* dialog = Dialog();
    if (dialog == nullptr) return IDCANCEL;
    // GTK's modality keeps input from the other windows; the owner is also disabled, as the
    // framework reads it back. Disabling takes the keyboard focus from the owner's control,
    // so it goes back there afterwards, as the dialog manager does it.
    wxWeakRef<wxWindow> owner = dialog->GetParent();
    bool disableOwner = owner && owner->IsThisEnabled();
    if (disableOwner) owner->Disable();
    WatchPlacement();
    // This peer may be gone when ShowModal returns; the wxDialog is not (its deletion waits
    // for the loop to be idle).
    int code = dialog->ShowModal();
    if (disableOwner && owner) {
      owner->Enable();
      if (WxPeer* ownerPeer = Backend().PeerFor(owner)) ownerPeer->RestoreFocus();
    }
    return code;
  }

  // An EndModal before the loop runs (a dialog that ends while it is being set up) makes
  // RunModal return at once, without showing the dialog.
  void EndModal(int code) override {
    wxDialog* dialog = Dialog();
    if (dialog != nullptr && dialog->IsModal()) {
      dialog->EndModal(code);
    } else {
      pendingEnd_ = code;
    }
  }

 private:
  wxDialog* Dialog() const { return static_cast<wxDialog*>(Widget()); }

  std::optional<int> pendingEnd_;
};

}  // namespace

std::unique_ptr<WxPeer> CreateFramePeer(WxBackend& backend, TWindow* window, WxPeer* parent) {
  return std::make_unique<FramePeer>(backend, window, parent);
}

std::unique_ptr<WxPeer> CreateDialogWindowPeer(WxBackend& backend, TWindow* window,
                                               WxPeer* parent) {
  return std::make_unique<DialogWindowPeer>(backend, window, parent);
}

}  // namespace ui::wxb
