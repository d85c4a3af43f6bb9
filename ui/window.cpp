#include "ui/window.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "platform/window_message.h"
#include "ui/application.h"
#include "ui/menu.h"

// ---------------------------------------------------------------------------------------------
// TWindow

namespace {

// The created windows by handle: a window is in it from CreatePeer until Destroy.
std::unordered_map<uintptr_t, TWindow*>& WindowsByHandle() {
  static std::unordered_map<uintptr_t, TWindow*> windows;
  return windows;
}

}  // namespace

TWindow* TWindow::FromHandle(uintptr_t handle) {
  if (handle == 0) return nullptr;
  auto found = WindowsByHandle().find(handle);
  return found != WindowsByHandle().end() ? found->second : nullptr;
}

TWindow::TWindow(TWindow* parent, const char* title, TModule* module)
    : parent_(nullptr), module_(module), title_(title != nullptr ? title : "") {
  SetParent(parent);
}

TWindow::~TWindow() {
  if (IsCreated()) Destroy();
  // Children still registered here were left to this window to delete.
  while (!children_.empty()) {
    TWindow* child = children_.back();
    delete child;  // its destructor unregisters it
  }
  if (parent_ != nullptr) parent_->RemoveChild(this);
}

void TWindow::SetParent(TWindow* parent) {
  if (parent == parent_) return;
  if (parent_ != nullptr) parent_->RemoveChild(this);
  parent_ = parent;
  if (parent_ != nullptr) parent_->AddChild(this);
}

void TWindow::AddChild(TWindow* child) { children_.push_back(child); }

void TWindow::RemoveChild(TWindow* child) {
  children_.erase(std::remove(children_.begin(), children_.end(), child), children_.end());
}

TModule* TWindow::GetModule() const {
  if (module_ != nullptr) return module_;
  if (parent_ != nullptr) return parent_->GetModule();
  return TApplication::Current();
}

TWindow* TWindow::ChildWithId(int id) const {
  for (TWindow* child : children_) {
    if (child->attr_.Id == id) return child;
  }
  return nullptr;
}

void TWindow::CreatePeer() {
  ui::WindowPeer* parentPeer = parent_ != nullptr ? parent_->Peer() : nullptr;
  peer_ = ui::CurrentBackend().CreatePeer(this, Kind(), parentPeer);
  if (peer_) WindowsByHandle()[GetHandle()] = this;
}

bool TWindow::Create() {
  if (IsCreated()) return true;
  if (parent_ != nullptr && !parent_->IsCreated()) return false;
  CreatePeer();
  if (!peer_) return false;
  SetupWindow();
  return true;
}

void TWindow::CreateChildren() {
  // A copy: SetupWindow of a child may add windows.
  std::vector<TWindow*> children = children_;
  for (TWindow* child : children) {
    if (!child->IsCreated()) child->Create();
  }
}

void TWindow::SetupWindow() { CreateChildren(); }

void TWindow::Destroy(int returnValue) {
  if (!IsCreated() || destroying_) return;
  destroying_ = true;
  for (TWindow* child : children_) child->Destroy(returnValue);
  CleanupWindow();
  while (!timers_.empty()) KillTimer(timers_.back());
  StopReceivingPostedMessages();
  TMessage destroy{WM_DESTROY};
  HandleMessage(destroy);
  if (IsMainWindow()) {
    // The main window goes; with it the application's message loop, which ends with 0 as the
    // framework's does.
    if (TApplication* app = TApplication::Current()) app->Quit(0);
  }
  WindowsByHandle().erase(GetHandle());
  peer_.reset();
  destroying_ = false;
}

const TWindowAttr& TWindow::Attr() {
  if (peer_) {
    TRect bounds = peer_->GetBounds();
    attr_.X = bounds.left;
    attr_.Y = bounds.top;
    attr_.W = bounds.Width();
    attr_.H = bounds.Height();
    constexpr uint32_t kLive = WS_VISIBLE | WS_MAXIMIZE | WS_MINIMIZE | WS_DISABLED;
    attr_.Style = (attr_.Style & ~kLive) | (peer_->GetStyle() & kLive);
  }
  return attr_;
}

void TWindow::ModifyStyle(uint32_t remove, uint32_t add) {
  attr_.Style = (attr_.Style & ~remove) | add;
}

uint32_t TWindow::GetWindowLong(int index) {
  if (index != GWL_STYLE) return 0;
  return Attr().Style;
}

void TWindow::SetCaption(const char* title) { SetWindowText(title); }

void TWindow::SetWindowText(const char* text) {
  title_ = text != nullptr ? text : "";
  if (peer_) peer_->SetText(title_);
}

std::string TWindow::GetText() const { return peer_ ? peer_->GetText() : title_; }

int TWindow::GetWindowText(char* buffer, int maxChars) const {
  if (buffer == nullptr || maxChars <= 0) return 0;
  std::string text = GetText();
  int copied = static_cast<int>(std::min<size_t>(text.size(), static_cast<size_t>(maxChars) - 1));
  std::memcpy(buffer, text.data(), copied);
  buffer[copied] = '\0';
  return copied;
}

int TWindow::GetWindowTextLength() const { return static_cast<int>(GetText().size()); }

TRect TWindow::GetWindowRect() const {
  if (peer_) return peer_->GetBounds();
  return TRect{attr_.X, attr_.Y, attr_.X + attr_.W, attr_.Y + attr_.H};
}

TRect TWindow::GetClientRect() const {
  if (!peer_) return TRect{0, 0, attr_.W, attr_.H};
  TSize size = peer_->GetClientSize();
  return TRect{0, 0, size.cx, size.cy};
}

bool TWindow::SetWindowPos(uintptr_t /*insertAfter*/, int x, int y, int w, int h, uint32_t flags) {
  TRect current = GetWindowRect();
  if ((flags & SWP_NOMOVE) != 0) {
    x = current.left;
    y = current.top;
  }
  if ((flags & SWP_NOSIZE) != 0) {
    w = current.Width();
    h = current.Height();
  }
  if (!peer_) {
    attr_.X = x;
    attr_.Y = y;
    attr_.W = w;
    attr_.H = h;
    return true;
  }
  peer_->SetBounds(TRect{x, y, x + w, y + h});
  return true;
}

bool TWindow::ShowWindow(int command) {
  if (!peer_) {
    if (command == SW_HIDE) {
      attr_.Style &= ~WS_VISIBLE;
    } else {
      attr_.Style |= WS_VISIBLE;
    }
    return true;
  }
  bool wasVisible = IsWindowVisible();
  peer_->Show(command);
  return wasVisible;
}

bool TWindow::IsWindowVisible() const {
  return peer_ ? (peer_->GetStyle() & WS_VISIBLE) != 0 : (attr_.Style & WS_VISIBLE) != 0;
}

bool TWindow::IsWindowEnabled() const {
  return peer_ ? (peer_->GetStyle() & WS_DISABLED) == 0 : (attr_.Style & WS_DISABLED) == 0;
}

void TWindow::EnableWindow(bool enable) {
  if (peer_) {
    peer_->Enable(enable);
  } else {
    ModifyStyle(enable ? WS_DISABLED : 0, enable ? 0 : WS_DISABLED);
  }
}

void TWindow::SetFocus() {
  if (peer_) peer_->SetFocus();
}

bool TWindow::SetTimer(unsigned id, unsigned milliseconds) {
  if (!peer_) return false;
  ui::CurrentBackend().SetTimer(this, id, milliseconds);
  if (std::find(timers_.begin(), timers_.end(), id) == timers_.end()) timers_.push_back(id);
  return true;
}

bool TWindow::KillTimer(unsigned id) {
  auto found = std::find(timers_.begin(), timers_.end(), id);
  if (found == timers_.end()) return false;
  timers_.erase(found);
  ui::CurrentBackend().KillTimer(this, id);
  return true;
}

bool TWindow::ReceivePostedMessages() {
  if (!peer_) return false;
  StopReceivingPostedMessages();
  postedMessages_ = platform::MessageReceiver::Listen(GetText().c_str());
  if (!postedMessages_) return false;
  ui::CurrentBackend().WatchDescriptor(postedMessages_->Descriptor(),
                                       [this] { DeliverPostedMessages(); });
  return true;
}

void TWindow::StopReceivingPostedMessages() {
  if (!postedMessages_) return;
  ui::CurrentBackend().UnwatchDescriptor(postedMessages_->Descriptor());
  postedMessages_.reset();
}

void TWindow::DeliverPostedMessages() {
  // A handler may destroy the window (WM_CLOSE), which gives the title up.
  while (postedMessages_) {
    std::optional<platform::ReceivedMessage> posted = postedMessages_->Receive(0);
    if (!posted) return;
    const unsigned number = posted->message;
    if (number != WM_CHAR && number != WM_CLOSE && number < WM_USER) continue;
    TMessage message{number};
    message.wParam = posted->wParam;
    message.lParam = posted->lParam;
    HandleMessage(message);
  }
}

bool TWindow::CanClose() {
  std::vector<TWindow*> children = children_;
  return std::all_of(children.begin(), children.end(),
                     [](TWindow* child) { return !child->IsCreated() || child->CanClose(); });
}

void TWindow::CloseWindow(int returnValue) {
  if (IsMainWindow()) {
    TApplication* app = TApplication::Current();
    if (app == nullptr || app->CanClose()) Destroy(returnValue);
    return;
  }
  auto* frame = dynamic_cast<TFrameWindow*>(parent_);
  if (frame != nullptr && frame->GetClientWindow() == this) {
    // Closing the client closes its frame (and, for the main window, the application).
    if (CanClose()) frame->CloseWindow(returnValue);
    return;
  }
  if (CanClose()) Destroy(returnValue);
}

bool TWindow::SearchTable(const TResponseEntry* table, TEventInfo& info) {
  for (const TResponseEntry* entry = table; entry->dispatch != nullptr; ++entry) {
    if (entry->message != info.message) continue;
    if (info.message == WM_COMMAND &&
        (entry->id != info.id || entry->notifyCode != info.notifyCode)) {
      continue;
    }
    info.entry = entry;
    return true;
  }
  return false;
}

bool TWindow::Find(TEventInfo& /*info*/) { return false; }

void TWindow::HandleMessage(TMessage& message) {
  TMessage* outer = currentMessage_;
  currentMessage_ = &message;
  TEventInfo info{message.message, message.id, message.notifyCode};
  if (Find(info) && info.entry != nullptr) {
    info.entry->dispatch(this, message);
  } else {
    DefaultProcessing(message);
  }
  currentMessage_ = outer;
}

void TWindow::DefaultProcessing() {
  if (currentMessage_ != nullptr) DefaultProcessing(*currentMessage_);
}

void TWindow::SetChildOrder(const std::vector<TWindow*>& order) {
  std::vector<TWindow*> sorted;
  for (TWindow* child : order) {
    if (std::find(children_.begin(), children_.end(), child) != children_.end() &&
        std::find(sorted.begin(), sorted.end(), child) == sorted.end()) {
      sorted.push_back(child);
    }
  }
  for (TWindow* child : children_) {
    if (std::find(sorted.begin(), sorted.end(), child) == sorted.end()) sorted.push_back(child);
  }
  children_ = std::move(sorted);
}

void TWindow::DefaultProcessing(TMessage& message) {
  // A command no table handles travels up to the parent, as the framework routes commands.
  if (message.message == WM_COMMAND && message.notifyCode == BN_CLICKED && parent_ != nullptr) {
    parent_->HandleMessage(message);
  }
}

void TWindow::SendCommand(unsigned id, unsigned notifyCode) {
  TMessage command{WM_COMMAND, id, notifyCode};
  HandleMessage(command);
}

int GetSystemMetrics(int index) {
  // Library callers may ask before any window exists; without a backend there is no screen.
  return ui::HasBackend() ? ui::CurrentBackend().GetSystemMetrics(index) : 0;
}

void MessageBeep(unsigned /*type*/) {
  if (ui::HasBackend()) ui::CurrentBackend().Beep();
}

namespace {

long long OverlapArea(const TRect& a, const TRect& b) {
  long long width = std::min(a.right, b.right) - std::max(a.left, b.left);
  long long height = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
  return width > 0 && height > 0 ? width * height : 0;
}

// Squared distance from the point to the nearest point of `rect`.
long long DistanceSquared(const TRect& rect, long long x, long long y) {
  long long dx = x < rect.left ? rect.left - x : (x >= rect.right ? x - rect.right + 1 : 0);
  long long dy = y < rect.top ? rect.top - y : (y >= rect.bottom ? y - rect.bottom + 1 : 0);
  return dx * dx + dy * dy;
}

}  // namespace

TRect MonitorWorkArea(const TRect& rect) {
  std::vector<ui::Monitor> monitors = ui::CurrentBackend().Monitors();
  if (monitors.empty()) return rect;
  const ui::Monitor* best = &monitors.front();
  long long bestOverlap = -1;
  long long bestDistance = 0;
  const long long centreX = (static_cast<long long>(rect.left) + rect.right) / 2;
  const long long centreY = (static_cast<long long>(rect.top) + rect.bottom) / 2;
  for (const ui::Monitor& monitor : monitors) {
    long long overlap = OverlapArea(rect, monitor.bounds);
    long long distance = DistanceSquared(monitor.bounds, centreX, centreY);
    if (overlap > bestOverlap || (overlap == 0 && bestOverlap == 0 && distance < bestDistance)) {
      best = &monitor;
      bestOverlap = overlap;
      bestDistance = distance;
    }
  }
  return best->workArea;
}

TRect KeepInside(const TRect& rect, const TRect& area) {
  int x = rect.left;
  int y = rect.top;
  if (x + rect.Width() > area.right) x = area.right - rect.Width();
  if (y + rect.Height() > area.bottom) y = area.bottom - rect.Height();
  x = std::max(x, area.left);
  y = std::max(y, area.top);
  return TRect{x, y, x + rect.Width(), y + rect.Height()};
}

// ---------------------------------------------------------------------------------------------
// TFrameWindow

TFrameWindow::TFrameWindow(TWindow* parent, const char* title, TWindow* client,
                           bool /*trackMenuSelection*/, TModule* module)
    : TWindow(parent, title, module), client_(client) {
  attr_.Style = WS_OVERLAPPEDWINDOW;
  if (client_ != nullptr) client_->SetParent(this);
}

TFrameWindow::~TFrameWindow() = default;

bool TFrameWindow::SetIcon(TModule* module, int id) {
  const IconResource* icon = module != nullptr ? module->FindIcon(id) : nullptr;
  if (icon == nullptr) return false;
  largeIcon_ = icon->large;
  ApplyIcon();
  return true;
}

bool TFrameWindow::SetIconSm(TModule* module, int id) {
  const IconResource* icon = module != nullptr ? module->FindIcon(id) : nullptr;
  if (icon == nullptr) return false;
  smallIcon_ = icon->small;
  ApplyIcon();
  return true;
}

void TFrameWindow::ApplyIcon() {
  if (Peer() != nullptr) Peer()->SetIcon(largeIcon_, smallIcon_);
}

bool TFrameWindow::AssignMenu(int id) {
  TModule* module = GetModule();
  const TMenu* resource = module != nullptr ? module->FindMenu(id) : nullptr;
  menu_ = resource != nullptr ? std::make_unique<TMenu>(*resource) : nullptr;
  DrawMenuBar();
  return menu_ != nullptr;
}

void TFrameWindow::DrawMenuBar() {
  if (Peer() != nullptr) Peer()->SetMenu(menu_.get());
}

void TFrameWindow::ApplyMinTrackSize() {
  MINMAXINFO info{};
  TMessage message{WM_GETMINMAXINFO};
  message.lParam = reinterpret_cast<intptr_t>(&info);
  HandleMessage(message);
  Peer()->SetMinTrackSize(TSize{info.ptMinTrackSize.x, info.ptMinTrackSize.y});
}

bool TFrameWindow::Create() {
  if (IsCreated()) return true;
  if (!TWindow::Create()) return false;
  ApplyIcon();
  DrawMenuBar();
  ApplyMinTrackSize();
  return true;
}

void TFrameWindow::DefaultProcessing(TMessage& message) {
  if (message.message == WM_CLOSE) {
    CloseWindow();
    return;
  }
  TWindow::DefaultProcessing(message);
}

// ---------------------------------------------------------------------------------------------
// TDecoratedFrame, TStatusBar

TDecoratedFrame::TDecoratedFrame(TWindow* parent, const char* title, TWindow* client,
                                 bool trackMenuSelection, TModule* module)
    : TFrameWindow(parent, title, client, trackMenuSelection, module) {}

void TDecoratedFrame::Insert(TWindow& decoration, TLocation /*location*/) {
  // The only decoration the programs use is the status bar, which the backend lays out along the
  // bottom edge; a decoration inserted after Create is created at once.
  decoration.SetParent(this);
  if (IsCreated()) decoration.Create();
}

TStatusBar::TStatusBar(TWindow* parent, TGadget::TBorderStyle style, unsigned /*modeIndicators*/)
    : TWindow(parent), style_(style) {
  attr_.Style = WS_CHILD | WS_VISIBLE;
}
