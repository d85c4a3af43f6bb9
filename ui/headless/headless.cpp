#include "ui/headless/headless.h"

#include <poll.h>

#include <algorithm>

#include "ui/controls.h"

namespace ui {
namespace {

constexpr int kEditMargin = 1;

}  // namespace

// One in-memory window.
class HeadlessPeer : public WindowPeer {
 public:
  HeadlessPeer(HeadlessBackend* backend, TWindow* window, PeerKind kind, HeadlessPeer* parent)
      : backend_(backend), window_(window), kind_(kind), parent_(parent) {
    const TWindowAttr& attr = window->Attr();
    style_ = attr.Style;
    bounds_ = TRect{attr.X, attr.Y, attr.X + attr.W, attr.Y + attr.H};
    text_ = window->GetText();
    if (parent_ != nullptr) parent_->children_.push_back(this);
    if (kind_ == PeerKind::kStatusBar && parent_ != nullptr) parent_->Layout();
  }

  ~HeadlessPeer() override {
    if (parent_ != nullptr) {
      auto& siblings = parent_->children_;
      siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
    for (HeadlessPeer* child : children_) child->parent_ = nullptr;
    if (backend_ != nullptr) backend_->Forget(this);
  }

  void SetText(const std::string& text) override {
    if (text == text_) return;
    text_ = text;
    if (kind_ == PeerKind::kEdit) {
      selStart_ = selEnd_ = 0;
      modified_ = false;
      NotifyParent(EN_CHANGE);
    }
  }
  std::string GetText() const override { return text_; }

  TRect GetBounds() const override { return bounds_; }
  void SetBounds(const TRect& bounds) override {
    bounds_ = bounds;
    Layout();
  }
  TSize GetClientSize() const override {
    if (!TopLevel() || (style_ & WS_CAPTION) == 0) {
      return TSize{bounds_.Width(), bounds_.Height()};
    }
    int frameX = backend_->GetSystemMetrics(SM_CXFRAME);
    int frameY = backend_->GetSystemMetrics(SM_CYFRAME);
    int caption = backend_->GetSystemMetrics(SM_CYCAPTION);
    return TSize{std::max(0, bounds_.Width() - 2 * frameX),
                 std::max(0, bounds_.Height() - caption - 2 * frameY)};
  }

  void Show(int command) override {
    shows_.push_back(command);
    style_ &= ~(WS_MAXIMIZE | WS_MINIMIZE);
    switch (command) {
      case SW_HIDE:
        style_ &= ~WS_VISIBLE;
        return;
      case SW_SHOWMAXIMIZED:
        style_ |= WS_MAXIMIZE;
        break;
      case SW_SHOWMINIMIZED:
      case SW_SHOWMINNOACTIVE:
        style_ |= WS_MINIMIZE;
        break;
      default:
        break;
    }
    style_ |= WS_VISIBLE;
  }
  uint32_t GetStyle() const override { return style_; }
  void Enable(bool enable) override {
    style_ = enable ? style_ & ~WS_DISABLED : style_ | WS_DISABLED;
  }
  void SetFocus() override { backend_->focused_ = this; }
  bool HasFocus() const override { return backend_->focused_ == this; }

  void GetSelection(int* start, int* end) const override {
    *start = selStart_;
    *end = selEnd_;
  }
  void SetSelection(int start, int end) override {
    int length = static_cast<int>(text_.size());
    // As on Windows: -1 as the start removes the selection, -1 as the end means the end.
    if (start < 0) {
      selStart_ = selEnd_ = std::min(selEnd_, length);
      return;
    }
    if (end < 0 || end > length) end = length;
    selStart_ = std::min(start, length);
    selEnd_ = end;
  }
  bool IsModified() const override { return modified_; }
  void SetModified(bool modified) override { modified_ = modified; }
  // The fixed-width model of the header.
  bool TextFits(const std::string& text) const override {
    if (backend_ == nullptr) return true;
    int border = (style_ & WS_BORDER) != 0 ? 2 : 0;
    int visible = bounds_.Width() - 2 * border - 2 * kEditMargin;
    return static_cast<long long>(text.size()) * backend_->baseUnits_.cx <= visible;
  }

  int AddString(const std::string& text) override {
    items_.push_back(text);
    return static_cast<int>(items_.size()) - 1;
  }
  void ClearList() override {
    items_.clear();
    selIndex_ = -1;
  }
  int GetCount() const override { return static_cast<int>(items_.size()); }
  std::string GetString(int index) const override {
    return index >= 0 && index < GetCount() ? items_[index] : std::string();
  }
  int GetSelIndex() const override { return selIndex_; }
  void SetSelIndex(int index) override {
    selIndex_ = index >= 0 && index < GetCount() ? index : -1;
    // A drop-down list shows the chosen item as its text.
    text_ = selIndex_ >= 0 ? items_[selIndex_] : std::string();
  }

  void SetIcon(const std::vector<unsigned char>& large,
               const std::vector<unsigned char>& small) override {
    largeIcon_ = large;
    smallIcon_ = small;
  }
  void SetMinTrackSize(TSize size) override { minTrack_ = size; }
  void SetMenu(const TMenu* menu) override { menu_ = menu; }

  // Windows without WS_CHILD (frames, dialog windows) stand on the screen by themselves.
  bool TopLevel() const { return (style_ & WS_CHILD) == 0; }
  TWindow* Window() const { return window_; }
  PeerKind Kind() const { return kind_; }
  HeadlessPeer* Parent() const { return parent_; }

 private:
  friend class HeadlessBackend;

  void NotifyParent(unsigned code) {
    TWindow* parent = window_->GetParent();
    if (parent == nullptr) return;
    TMessage message{WM_COMMAND, static_cast<unsigned>(window_->Attr().Id), code};
    parent->HandleMessage(message);
  }

  // A frame's client dialog fills the client area; the status bar runs along its bottom edge,
  // one caption high.
  void Layout() {
    if (kind_ != PeerKind::kFrame) return;
    TSize client = GetClientSize();
    int barHeight = 0;
    for (HeadlessPeer* child : children_) {
      if (child->kind_ == PeerKind::kStatusBar) {
        barHeight = backend_->GetSystemMetrics(SM_CYCAPTION);
        child->bounds_ = TRect{0, client.cy - barHeight, client.cx, client.cy};
      }
    }
    for (HeadlessPeer* child : children_) {
      if (child->kind_ == PeerKind::kDialog) {
        child->bounds_ = TRect{0, 0, client.cx, std::max(0, client.cy - barHeight)};
      }
    }
  }

  HeadlessBackend* backend_;
  TWindow* window_;
  PeerKind kind_;
  HeadlessPeer* parent_;
  std::vector<HeadlessPeer*> children_;
  std::string text_;
  TRect bounds_;
  uint32_t style_ = 0;
  int selStart_ = 0;
  int selEnd_ = 0;
  bool modified_ = false;
  std::vector<std::string> items_;
  int selIndex_ = -1;
  std::vector<unsigned char> largeIcon_;
  std::vector<unsigned char> smallIcon_;
  TSize minTrack_;
  const TMenu* menu_ = nullptr;
  std::vector<int> shows_;
};

HeadlessBackend::HeadlessBackend() {
  // A 1280 x 1024 screen with a 30-pixel task bar and the classic window decorations.
  metrics_ = {{SM_CXSCREEN, 1280},     {SM_CYSCREEN, 1024},    {SM_CYCAPTION, 19},
              {SM_CXFULLSCREEN, 1280}, {SM_CYFULLSCREEN, 975}, {SM_CXFRAME, 4},
              {SM_CYFRAME, 4}};
}

HeadlessBackend::~HeadlessBackend() {
  for (HeadlessPeer* peer : peers_) peer->backend_ = nullptr;
}

HeadlessBackend& HeadlessBackend::Install() {
  auto backend = std::make_unique<HeadlessBackend>();
  HeadlessBackend& installed = *backend;
  InstallBackend(std::move(backend));
  return installed;
}

std::unique_ptr<WindowPeer> HeadlessBackend::CreatePeer(TWindow* window, PeerKind kind,
                                                        WindowPeer* parent) {
  auto peer =
      std::make_unique<HeadlessPeer>(this, window, kind, static_cast<HeadlessPeer*>(parent));
  peers_.push_back(peer.get());
  return peer;
}

void HeadlessBackend::Forget(HeadlessPeer* peer) {
  peers_.erase(std::remove(peers_.begin(), peers_.end(), peer), peers_.end());
  if (focused_ == peer) focused_ = nullptr;
  TWindow* window = peer->window_;
  timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                               [window](const Timer& t) { return t.window == window; }),
                timers_.end());
}

HeadlessPeer* HeadlessBackend::PeerOf(const TWindow& window) const {
  return static_cast<HeadlessPeer*>(window.Peer());
}

int HeadlessBackend::RunMessageLoop() {
  quitRequested_ = false;
  if (loopScript_) {
    auto script = std::move(loopScript_);
    loopScript_ = nullptr;
    script();
  }
  return quitRequested_ ? quitCode_ : -1;
}

void HeadlessBackend::QuitMessageLoop(int code) {
  quitRequested_ = true;
  quitCode_ = code;
}

int HeadlessBackend::RunModal(TDialog* dialog) {
  // A dialog that ended while it was being set up is never shown, as on Windows.
  if (auto ended = modalCodes_.find(dialog); ended != modalCodes_.end()) {
    int code = ended->second;
    modalCodes_.erase(ended);
    return code;
  }
  dialog->ShowWindow(SW_SHOWNORMAL);
  TWindow* owner = dialog->GetParent();
  while (owner != nullptr && owner->GetParent() != nullptr) owner = owner->GetParent();
  bool ownerWasEnabled = owner != nullptr && owner->IsCreated() && owner->IsWindowEnabled();
  if (ownerWasEnabled) owner->EnableWindow(false);

  if (!dialogScripts_.empty()) {
    auto script = std::move(dialogScripts_.front());
    dialogScripts_.pop_front();
    script(*dialog);
  }
  if (modalCodes_.find(dialog) == modalCodes_.end()) {
    ++unendedModals_;
    modalCodes_[dialog] = IDCANCEL;
  }
  int code = modalCodes_[dialog];
  modalCodes_.erase(dialog);
  if (ownerWasEnabled && owner->IsCreated()) owner->EnableWindow(true);
  return code;
}

void HeadlessBackend::EndModal(TDialog* dialog, int code) {
  if (modalCodes_.find(dialog) == modalCodes_.end()) modalCodes_[dialog] = code;
}

void HeadlessBackend::SetTimer(TWindow* window, unsigned id, unsigned milliseconds) {
  KillTimer(window, id);
  timers_.push_back(Timer{window, id, milliseconds, now_ + milliseconds});
}

void HeadlessBackend::KillTimer(TWindow* window, unsigned id) {
  timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                               [&](const Timer& t) { return t.window == window && t.id == id; }),
                timers_.end());
}

void HeadlessBackend::WatchDescriptor(int fd, std::function<void()> readable) {
  watched_[fd] = std::move(readable);
}

void HeadlessBackend::UnwatchDescriptor(int fd) { watched_.erase(fd); }

int HeadlessBackend::DeliverPosted(int milliseconds) {
  std::vector<pollfd> descriptors;
  for (const auto& [fd, readable] : watched_) descriptors.push_back(pollfd{fd, POLLIN, 0});
  if (descriptors.empty() || ::poll(descriptors.data(), descriptors.size(), milliseconds) <= 0) {
    return 0;
  }
  int ran = 0;
  for (const pollfd& descriptor : descriptors) {
    // A callback may have unwatched other descriptors meanwhile.
    auto found = watched_.find(descriptor.fd);
    if ((descriptor.revents & POLLIN) == 0 || found == watched_.end()) continue;
    std::function<void()> readable = found->second;
    readable();
    ++ran;
  }
  return ran;
}

void HeadlessBackend::Paste(const std::string& text) {
  auto* edit = focused_ != nullptr ? dynamic_cast<TEdit*>(focused_->window_) : nullptr;
  if (edit == nullptr) return;
  int start = 0;
  int end = 0;
  edit->GetSelection(start, end);
  edit->ReplaceByUser(start, end, text);
}

void HeadlessBackend::AdvanceTime(uint64_t milliseconds) {
  uint64_t end = now_ + milliseconds;
  for (;;) {
    auto next = std::min_element(timers_.begin(), timers_.end(),
                                 [](const Timer& a, const Timer& b) { return a.due < b.due; });
    if (next == timers_.end() || next->due > end) break;
    now_ = next->due;
    Timer fired = *next;
    next->due += std::max(1u, next->period);
    TMessage message{WM_TIMER, fired.id};
    fired.window->HandleMessage(message);
  }
  now_ = end;
}

int HeadlessBackend::MessageBox(TWindow* owner, const std::string& text, const std::string& caption,
                                unsigned type) {
  boxes_.push_back(ShownMessageBox{owner, text, caption, type});
  if (boxAnswers_.empty()) return IDOK;
  int answer = boxAnswers_.front();
  boxAnswers_.pop_front();
  return answer;
}

int HeadlessBackend::GetSystemMetrics(int index) const {
  auto found = metrics_.find(index);
  return found != metrics_.end() ? std::max(0, found->second) : 0;
}

TSize HeadlessBackend::DialogBaseUnits(const std::string& /*face*/, int /*pointSize*/) const {
  return baseUnits_;
}

TWindow* HeadlessBackend::FocusedWindow() const {
  return focused_ != nullptr ? focused_->window_ : nullptr;
}

std::vector<int> HeadlessBackend::ShowCommands(const TWindow& window) const {
  HeadlessPeer* peer = PeerOf(window);
  return peer != nullptr ? peer->shows_ : std::vector<int>();
}

const TMenu* HeadlessBackend::FrameMenu(const TWindow& frame) const {
  HeadlessPeer* peer = PeerOf(frame);
  return peer != nullptr ? peer->menu_ : nullptr;
}

const std::vector<unsigned char>* HeadlessBackend::LargeIcon(const TWindow& frame) const {
  HeadlessPeer* peer = PeerOf(frame);
  return peer != nullptr ? &peer->largeIcon_ : nullptr;
}

const std::vector<unsigned char>* HeadlessBackend::SmallIcon(const TWindow& frame) const {
  HeadlessPeer* peer = PeerOf(frame);
  return peer != nullptr ? &peer->smallIcon_ : nullptr;
}

TSize HeadlessBackend::MinTrackSize(const TWindow& frame) const {
  HeadlessPeer* peer = PeerOf(frame);
  return peer != nullptr ? peer->minTrack_ : TSize{};
}

void HeadlessBackend::Type(const std::string& text) {
  for (unsigned char c : text) {
    if (focused_ == nullptr) return;
    TMessage message{WM_CHAR};
    message.wParam = c;
    focused_->window_->HandleMessage(message);
  }
}

void HeadlessBackend::TypeInto(TWindow& control, const std::string& text) {
  control.SetFocus();
  Type(text);
}

void HeadlessBackend::Click(TWindow& button) {
  if (!button.IsCreated() || !button.IsWindowEnabled() || button.GetParent() == nullptr) return;
  button.GetParent()->SendCommand(static_cast<unsigned>(button.Attr().Id), BN_CLICKED);
}

void HeadlessBackend::PressEnter() {
  if (focused_ == nullptr) return;
  TWindow* focus = focused_->window_;
  if (focused_->kind_ == PeerKind::kButton) {
    Click(*focus);
    return;
  }
  for (TWindow* window = focus; window != nullptr; window = window->GetParent()) {
    if (auto* dialog = dynamic_cast<TDialog*>(window)) {
      dialog->SendCommand(static_cast<unsigned>(dialog->GetDefaultId()), BN_CLICKED);
      return;
    }
  }
}

void HeadlessBackend::PressEscape() {
  if (focused_ == nullptr) return;
  for (TWindow* window = focused_->window_; window != nullptr; window = window->GetParent()) {
    if (auto* dialog = dynamic_cast<TDialog*>(window)) {
      dialog->SendCommand(static_cast<unsigned>(IDCANCEL), BN_CLICKED);
      return;
    }
  }
}

void HeadlessBackend::Close(TWindow& topLevel) {
  TMessage message{WM_CLOSE};
  topLevel.HandleMessage(message);
}

void HeadlessBackend::AltF4() {
  if (focused_ == nullptr) return;
  TWindow* window = focused_->window_;
  while (window->GetParent() != nullptr && window->Peer() != nullptr &&
         !static_cast<HeadlessPeer*>(window->Peer())->TopLevel()) {
    window = window->GetParent();
  }
  Close(*window);
}

void HeadlessBackend::SelectItem(TComboBox& combo, int index) {
  if (!combo.IsCreated()) return;
  combo.SetSelIndex(index);
  if (combo.GetParent() != nullptr) {
    combo.GetParent()->SendCommand(static_cast<unsigned>(combo.GetId()), CBN_SELCHANGE);
  }
}

}  // namespace ui
