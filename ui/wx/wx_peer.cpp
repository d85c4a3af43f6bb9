// The part every peer shares: lifetime, message delivery and the geometry and state of a child
// window.
#include <wx/evtloop.h>
#include <wx/utils.h>

#include "ui/wx/wx_internal.h"

namespace ui::wxb {

WxPeer::WxPeer(WxBackend& backend, TWindow* window, PeerKind kind, uint32_t style)
    : backend_(backend), window_(window), kind_(kind), style_(style) {}

WxPeer::~WxPeer() {
  // From here on the widget's events find no peer (Dispatch checks the token), and callers up
  // the stack learn from Deliver that the peer is gone.
  alive_.reset();
  backend_.ForgetWindow(window_);
  if (modalLoop_ != nullptr) modalLoop_->ScheduleExit(IDCANCEL);
  if (wxWindow* widget = widget_.get()) {
    backend_.Unregister(widget);
    widget->Destroy();
  }
}

void WxPeer::Attach(wxWindow* widget) {
  widget_ = widget;
  backend_.Register(widget, this);
  if ((style_ & WS_DISABLED) != 0) widget->Disable();
}

void WxPeer::Dispatch(wxEvent& event) {
  if (!alive_) {
    event.Skip();
    return;
  }
  OnWidgetEvent(event);
}

bool WxPeer::Deliver(TWindow* target, TMessage& message) {
  std::weak_ptr<char> alive = alive_;
  target->HandleMessage(message);
  return !alive.expired();
}

bool WxPeer::NotifyParent(unsigned code) {
  TWindow* parent = window_->GetParent();
  if (parent == nullptr) return true;
  TMessage message{WM_COMMAND, static_cast<unsigned>(window_->Attr().Id), code};
  return Deliver(parent, message);
}

void WxPeer::SetText(const std::string& text) {
  if (wxWindow* widget = Widget()) widget->SetLabel(ToWx(text));
}

std::string WxPeer::GetText() const {
  wxWindow* widget = Widget();
  return widget != nullptr ? FromWx(widget->GetLabel()) : std::string();
}

TRect WxPeer::GetBounds() const {
  wxWindow* widget = Widget();
  if (widget == nullptr) return TRect{};
  wxRect rect = widget->GetRect();
  return TRect{rect.x, rect.y, rect.x + rect.width, rect.y + rect.height};
}

void WxPeer::SetBounds(const TRect& bounds) {
  if (wxWindow* widget = Widget()) {
    widget->SetSize(bounds.left, bounds.top, bounds.Width(), bounds.Height(),
                    wxSIZE_ALLOW_MINUS_ONE);
  }
}

TSize WxPeer::GetClientSize() const {
  wxWindow* widget = Widget();
  if (widget == nullptr) return TSize{};
  wxSize size = widget->GetClientSize();
  return TSize{size.x, size.y};
}

void WxPeer::Show(int command) {
  if (wxWindow* widget = Widget()) widget->Show(command != SW_HIDE);
}

uint32_t WxPeer::GetStyle() const {
  uint32_t style = style_ & ~(WS_VISIBLE | WS_DISABLED | WS_MAXIMIZE | WS_MINIMIZE);
  if (wxWindow* widget = Widget()) {
    if (widget->IsShown()) style |= WS_VISIBLE;
    if (!widget->IsThisEnabled()) style |= WS_DISABLED;
  }
  return style;
}

void WxPeer::Enable(bool enable) {
  if (wxWindow* widget = Widget()) widget->Enable(enable);
}

void WxPeer::SetFocus() {
  if (wxWindow* widget = Widget()) widget->SetFocus();
}

bool WxPeer::HasFocus() const { return Widget() != nullptr && wxWindow::FindFocus() == Widget(); }

void WxPeer::GetSelection(int* start, int* end) const {
  *start = 0;
  *end = 0;
}

void WxPeer::SetSelection(int /*start*/, int /*end*/) {}

int WxPeer::RunModal() {
  if (pendingEnd_) return *std::exchange(pendingEnd_, std::nullopt);
  wxWindow* widget = Widget();
  if (widget == nullptr) return IDCANCEL;
  std::weak_ptr<char> alive = alive_;
  wxWindowDisabler othersDisabled(widget);
  widget->Show();
  wxGUIEventLoop loop;
  modalLoop_ = &loop;
  int code = loop.Run();
  if (!alive.expired()) modalLoop_ = nullptr;
  return code;
}

void WxPeer::EndModal(int code) {
  if (modalLoop_ != nullptr) {
    modalLoop_->ScheduleExit(code);
  } else {
    pendingEnd_ = code;
  }
}

}  // namespace ui::wxb
