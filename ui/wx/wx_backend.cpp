// The backend's process-wide services: starting the toolkit, creating peers, the message loop,
// modal loops, timers, message boxes, metrics and dialog fonts.
#include "ui/wx/wx_backend.h"

#include <wx/app.h>
#include <wx/display.h>
#include <wx/evtloop.h>
#include <wx/evtloopsrc.h>
#include <wx/fontenum.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/statusbr.h>
#include <wx/utils.h>
// The generic box needs the declarations of msgdlg.h first.
#include <wx/generic/msgdlgg.h>

#include <dlfcn.h>
#include <strings.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "ui/dialog.h"
#include "ui/wx/cp1252.h"
#include "ui/wx/message_box_trace.h"
#include "ui/wx/wx_internal.h"

namespace ui {
namespace wxb {

wxString ToWx(const std::string& text) {
  std::string utf8 = cp1252::ToUtf8(text);
  return wxString::FromUTF8(utf8.data(), utf8.size());
}

std::string FromWx(const wxString& text) {
  wxScopedCharBuffer utf8 = text.utf8_str();
  return cp1252::FromUtf8(std::string_view(utf8.data(), utf8.length()));
}

namespace {

WxBackend* g_instance = nullptr;

// The faces Windows dialogs name for "the system's dialog font"; they become the desktop's GUI
// font, so the dialogs look like the rest of the desktop.
bool IsWindowsDialogFace(const std::string& face) {
  static const char* const kFaces[] = {
      "MS Sans Serif", "MS Shell Dlg", "MS Shell Dlg 2", "Microsoft Sans Serif",
      "System",        "Helv",         "Tahoma",         "Segoe UI"};
  return std::any_of(std::begin(kFaces), std::end(kFaces),
                     [&](const char* known) { return strcasecmp(known, face.c_str()) == 0; });
}

// A hidden frame for measuring, deleted again when the loop is next idle. It is never shown,
// so it never becomes anyone's parent.
wxFrame* NewProbeFrame() { return new wxFrame(nullptr, wxID_ANY, wxString()); }

long MessageBoxStyle(unsigned type) {
  long style = 0;
  switch (type & 0x0F) {
    case MB_OKCANCEL:
      style = wxOK | wxCANCEL;
      break;
    case 0x03:
      style = wxYES_NO | wxCANCEL;
      break;  // MB_YESNOCANCEL
    case MB_YESNO:
      style = wxYES_NO;
      break;
    default:
      style = wxOK;
      break;  // MB_OK; button sets the programs never use show OK
  }
  switch (type & 0xF0) {
    case MB_ICONHAND:
      return style | wxICON_ERROR;
    case MB_ICONQUESTION:
      return style | wxICON_QUESTION;
    case MB_ICONEXCLAMATION:
      return style | wxICON_WARNING;
    case MB_ICONINFORMATION:
      return style | wxICON_INFORMATION;
    default:
      return style;  // no icon (wxICON_NONE would make the generic box assert)
  }
}

// The generic box (it shows the icon GTK's own box no longer shows), at least as wide as its
// caption needs in the title bar, as a Windows message box is.
class MessageBoxDialog : public wxGenericMessageDialog {
 public:
  MessageBoxDialog(wxWindow* parent, const wxString& text, const wxString& caption, long style,
                   int captionHeight)
      : wxGenericMessageDialog(parent, text, caption, style), captionHeight_(captionHeight) {}

 protected:
  // Called while the box lays itself out; the spacer sets its smallest width.
  void AddMessageDialogCheckBox(wxSizer* sizer) override {
    wxFont bold = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT).Bold();
    int title = 0;
    GetTextExtent(GetTitle(), &title, nullptr, nullptr, nullptr, &bold);
    // Room for the window icon and three caption buttons, each about a caption high.
    sizer->Add(title + 4 * captionHeight_ + 16, 0);
  }

 private:
  int captionHeight_;
};

// The Windows answer. A box without a Cancel button that is closed anyway (Escape, the close
// box) answers as Windows does: No for Yes/No, OK for OK.
int MessageBoxAnswer(int answer, long style) {
  switch (answer) {
    case wxID_YES:
      return IDYES;
    case wxID_NO:
      return IDNO;
    case wxID_OK:
      return IDOK;
    default:
      if ((style & wxCANCEL) != 0) return IDCANCEL;
      return (style & wxYES_NO) != 0 ? IDNO : IDOK;
  }
}

}  // namespace

// A timer of one window and id; it sends WM_TIMER until stopped. A timer stopped from inside
// its own notification (a handler that kills its timer, or runs a modal loop in which the
// timer is killed) must outlive the notification: wxWidgets touches it once Notify returns.
class WxBackend::WindowTimer : public wxTimer {
 public:
  WindowTimer(WxBackend& backend, TWindow* window, unsigned id)
      : backend_(backend), window_(window), id_(id) {}
  void Notify() override {
    ++notifying_;
    TMessage message{WM_TIMER, id_};
    window_->HandleMessage(message);
    --notifying_;
    backend_.ScheduleCleanup();
  }
  bool Notifying() const { return notifying_ > 0; }

 private:
  WxBackend& backend_;
  TWindow* window_;
  unsigned id_;
  int notifying_ = 0;  // nesting depth of Notify
};

// A descriptor the toolkit's loop watches for data; it calls back until it is deleted. Like a
// timer it may be ended from its own callback, and must outlive that call.
class WxBackend::DescriptorWatch : public wxEventLoopSourceHandler {
 public:
  DescriptorWatch(WxBackend& backend, int fd, std::function<void()> readable)
      : backend_(backend), readable_(std::move(readable)) {
    source_.reset(wxEventLoopBase::AddSourceForFD(fd, this, wxEVENT_SOURCE_INPUT));
  }
  bool Watching() const { return source_ != nullptr; }
  // Stops the calls; the object itself may still be inside one.
  void End() { source_.reset(); }
  bool Notifying() const { return notifying_ > 0; }

  void OnReadWaiting() override {
    ++notifying_;
    std::function<void()> readable = readable_;  // the call may replace the callback
    readable();
    --notifying_;
    backend_.ScheduleCleanup();
  }
  void OnWriteWaiting() override {}
  void OnExceptionWaiting() override {}

 private:
  WxBackend& backend_;
  std::function<void()> readable_;
  std::unique_ptr<wxEventLoopSource> source_;
  int notifying_ = 0;  // nesting depth of OnReadWaiting
};

WxBackend::WxBackend() { g_instance = this; }

WxBackend::~WxBackend() {
  ReleaseToolkitObjects();
  if (g_instance == this) g_instance = nullptr;
}

WxBackend* WxBackend::Instance() { return g_instance; }

void WxBackend::ReleaseToolkitObjects() {
  for (auto& [key, timer] : timers_) timer->Stop();
  timers_.clear();
  retiredTimers_.clear();
  watches_.clear();
  retiredWatches_.clear();
  fonts_.clear();
}

std::unique_ptr<WindowPeer> WxBackend::CreatePeer(TWindow* window, PeerKind kind,
                                                  WindowPeer* parent) {
  auto* parentPeer = static_cast<WxPeer*>(parent);
  switch (kind) {
    case PeerKind::kFrame:
      return CreateFramePeer(*this, window, parentPeer);
    case PeerKind::kDialog:
      if ((window->Attr().Style & WS_CHILD) != 0 && parentPeer != nullptr) {
        return CreatePanelPeer(*this, window, parentPeer);
      }
      return CreateDialogWindowPeer(*this, window, parentPeer);
    case PeerKind::kStatusBar:
      return CreateStatusBarPeer(*this, window, parentPeer);
    default:
      return CreateControlPeer(*this, window, kind, parentPeer);
  }
}

WxPeer* WxBackend::PeerFor(wxWindow* widget) const {
  for (wxWindow* window = widget; window != nullptr; window = window->GetParent()) {
    auto found = peers_.find(window);
    if (found != peers_.end()) return found->second;
    if (window->IsTopLevel()) break;
  }
  return nullptr;
}

// ----- Loops

int WxBackend::RunMessageLoop() {
  if (quitPending_) {
    // The quit came before the loop (the main window went while the program started).
    quitPending_ = false;
    return quitCode_;
  }
  wxGUIEventLoop loop;
  loops_.push_back(&loop);
  int code = loop.Run();
  loops_.pop_back();
  return code;
}

void WxBackend::QuitMessageLoop(int code) {
  if (!loops_.empty()) {
    loops_.back()->ScheduleExit(code);
  } else {
    quitPending_ = true;
    quitCode_ = code;
  }
}

int WxBackend::RunModal(TDialog* dialog) {
  auto* peer = static_cast<WxPeer*>(dialog->Peer());
  return peer != nullptr ? peer->RunModal() : -1;
}

void WxBackend::EndModal(TDialog* dialog, int code) {
  if (auto* peer = static_cast<WxPeer*>(dialog->Peer())) peer->EndModal(code);
}

// ----- Timers

void WxBackend::SetTimer(TWindow* window, unsigned id, unsigned milliseconds) {
  std::unique_ptr<WindowTimer>& timer = timers_[TimerKey(window, id)];
  if (!timer) timer = std::make_unique<WindowTimer>(*this, window, id);
  timer->Start(static_cast<int>(std::clamp(milliseconds, 1u, static_cast<unsigned>(INT_MAX))));
}

void WxBackend::KillTimer(TWindow* window, unsigned id) {
  auto found = timers_.find(TimerKey(window, id));
  if (found == timers_.end()) return;
  RetireTimer(std::move(found->second));
  timers_.erase(found);
}

void WxBackend::ForgetWindow(TWindow* window) {
  for (auto it = timers_.begin(); it != timers_.end();) {
    if (it->first.first == window) {
      RetireTimer(std::move(it->second));
      it = timers_.erase(it);
    } else {
      ++it;
    }
  }
}

void WxBackend::RetireTimer(std::unique_ptr<WindowTimer> timer) {
  timer->Stop();
  retiredTimers_.push_back(std::move(timer));
  ScheduleCleanup();
}

void WxBackend::ScheduleCleanup() {
  if ((retiredTimers_.empty() && retiredWatches_.empty()) || cleanupScheduled_) return;
  cleanupScheduled_ = true;
  deferred_.CallAfter([this] {
    cleanupScheduled_ = false;
    // Those still inside their notification go when it returns (Notify schedules again).
    std::erase_if(retiredTimers_, [](const auto& timer) { return !timer->Notifying(); });
    std::erase_if(retiredWatches_, [](const auto& watch) { return !watch->Notifying(); });
  });
}

// ----- Descriptors

void WxBackend::WatchDescriptor(int fd, std::function<void()> readable) {
  UnwatchDescriptor(fd);
  auto watch = std::make_unique<DescriptorWatch>(*this, fd, std::move(readable));
  if (watch->Watching()) watches_[fd] = std::move(watch);
}

void WxBackend::UnwatchDescriptor(int fd) {
  auto found = watches_.find(fd);
  if (found == watches_.end()) return;
  found->second->End();
  retiredWatches_.push_back(std::move(found->second));
  watches_.erase(found);
  ScheduleCleanup();
}

// ----- Message boxes

int WxBackend::MessageBox(TWindow* owner, const std::string& text, const std::string& caption,
                          unsigned type) {
  if (!TraceMessageBox(type, caption, text)) {
    std::fprintf(stderr, "message box trace: cannot append to %s\n",
                 std::getenv(kMessageBoxTraceVariable));
  }
  wxWindow* parent = nullptr;
  if (owner != nullptr && owner->Peer() != nullptr) {
    if (wxWindow* widget = static_cast<WxPeer*>(owner->Peer())->Widget()) {
      parent = wxGetTopLevelParent(widget);
    }
  }
  long style = MessageBoxStyle(type);
  MessageBoxDialog box(parent, ToWx(text), ToWx(caption), style, CaptionHeight());
  if ((style & (wxYES_NO | wxCANCEL)) == wxYES_NO) {
    // A question without Cancel must be answered: Escape and the close box do nothing, as on
    // Windows.
    box.SetEscapeId(wxID_NONE);
    box.Bind(wxEVT_CLOSE_WINDOW, [](wxCloseEvent& close) {
      if (close.CanVeto()) {
        close.Veto();
      } else {
        close.Skip();
      }
    });
  }
  return MessageBoxAnswer(box.ShowModal(), style);
}

// ----- Metrics and fonts

int WxBackend::GetSystemMetrics(int index) const {
  switch (index) {
    case SM_CXSCREEN:
      return std::max(0, wxDisplay().GetGeometry().width);
    case SM_CYSCREEN:
      return std::max(0, wxDisplay().GetGeometry().height);
    case SM_CXFULLSCREEN:
      return std::max(0, wxDisplay().GetClientArea().width);
    case SM_CYFULLSCREEN:
      return std::max(0, wxDisplay().GetClientArea().height - CaptionHeight());
    case SM_CYCAPTION:
      return CaptionHeight();
    case SM_CXFRAME:
      return FrameSize(wxSYS_FRAMESIZE_X);
    case SM_CYFRAME:
      return FrameSize(wxSYS_FRAMESIZE_Y);
    default:
      return 0;
  }
}

std::vector<Monitor> WxBackend::Monitors() const {
  std::vector<Monitor> monitors;
  for (unsigned i = 0; i < wxDisplay::GetCount(); ++i) {
    wxDisplay display(i);
    wxRect all = display.GetGeometry();
    wxRect work = display.GetClientArea();
    Monitor monitor{TRect{all.x, all.y, all.x + all.width, all.y + all.height},
                    TRect{work.x, work.y, work.x + work.width, work.y + work.height}};
    if (display.IsPrimary()) {
      monitors.insert(monitors.begin(), monitor);
    } else {
      monitors.push_back(monitor);
    }
  }
  if (monitors.empty()) {
    wxRect work = wxDisplay().GetClientArea();
    TRect area{work.x, work.y, work.x + work.width, work.y + work.height};
    monitors.push_back(Monitor{area, area});
  }
  return monitors;
}

void WxBackend::Beep() { wxBell(); }

int WxBackend::CaptionHeight() const {
  int toolkit = wxSystemSettings::GetMetric(wxSYS_CAPTION_Y);
  return std::max(toolkit > 0 ? toolkit : kFallbackCaption, StatusBarHeight());
}

int WxBackend::FrameSize(int wxMetric) const {
  int toolkit = wxSystemSettings::GetMetric(static_cast<wxSystemMetric>(wxMetric));
  return toolkit >= 0 ? toolkit : kFallbackFrame;
}

int WxBackend::StatusBarHeight() const {
  if (statusBarHeight_ < 0) {
    wxFrame* probe = NewProbeFrame();
    wxStatusBar* bar = probe->CreateStatusBar(1);
    statusBarHeight_ = std::max(0, bar->GetSize().y);
    probe->Destroy();
  }
  return statusBarHeight_;
}

const wxFont& WxBackend::DialogFont(const std::string& face, int pointSize) const {
  auto key = std::make_pair(face, pointSize);
  auto found = fonts_.find(key);
  if (found != fonts_.end()) return found->second;
  wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
  if (!face.empty() && !IsWindowsDialogFace(face) &&
      wxFontEnumerator::IsValidFacename(ToWx(face))) {
    font.SetFaceName(ToWx(face));
  }
  if (pointSize > 0) font.SetPointSize(pointSize);
  return fonts_.emplace(key, font).first->second;
}

const wxFont* WxBackend::FontFor(TWindow* window) const {
  for (TWindow* around = window; around != nullptr; around = around->GetParent()) {
    if (auto* dialog = dynamic_cast<TDialog*>(around)) {
      const DialogTemplate* layout = dialog->Template();
      return layout != nullptr ? &DialogFont(layout->fontFace, layout->fontSize) : nullptr;
    }
  }
  return nullptr;
}

// Windows' rule: the average width of the 52 letters, rounded, and the height of the font.
TSize WxBackend::DialogBaseUnits(const std::string& face, int pointSize) const {
  auto key = std::make_pair(face, pointSize);
  auto found = baseUnits_.find(key);
  if (found != baseUnits_.end()) return found->second;
  const wxFont& font = DialogFont(face, pointSize);
  wxFrame* probe = NewProbeFrame();
  int width = 0;
  int height = 0;
  probe->GetTextExtent("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", &width, &height,
                       nullptr, nullptr, &font);
  probe->Destroy();
  TSize units{std::max(1, (width / 26 + 1) / 2), std::max(1, height)};
  baseUnits_.emplace(key, units);
  return units;
}

}  // namespace wxb

// ----- Starting and stopping the toolkit

namespace {

// The application object wxWidgets needs; the program's own TApplication does the work.
class ToolkitApp : public wxApp {
 public:
  bool OnInit() override { return true; }
};

bool g_toolkitStarted = false;

// GTK marks the default button of a window (the one Enter presses) with the style class
// "default", but its own theme, Adwaita, draws nothing for it. One rule at the application's
// priority draws the mark the way Windows shows a default button: a coloured frame. The GTK
// functions are looked up at run time (they are loaded with the toolkit), so the backend needs
// no GTK headers; without them the buttons stay as the theme draws them.
void MarkDefaultButtons() {
  using NewProvider = void* (*)();
  using LoadFromData = int (*)(void*, const char*, long, void**);
  using DefaultScreen = void* (*)();
  using AddProvider = void (*)(void*, void*, unsigned);
  using Unref = void (*)(void*);
  const auto newProvider =
      reinterpret_cast<NewProvider>(::dlsym(RTLD_DEFAULT, "gtk_css_provider_new"));
  const auto loadFromData =
      reinterpret_cast<LoadFromData>(::dlsym(RTLD_DEFAULT, "gtk_css_provider_load_from_data"));
  const auto defaultScreen =
      reinterpret_cast<DefaultScreen>(::dlsym(RTLD_DEFAULT, "gdk_screen_get_default"));
  const auto addProvider = reinterpret_cast<AddProvider>(
      ::dlsym(RTLD_DEFAULT, "gtk_style_context_add_provider_for_screen"));
  const auto unref = reinterpret_cast<Unref>(::dlsym(RTLD_DEFAULT, "g_object_unref"));
  if (!newProvider || !loadFromData || !defaultScreen || !addProvider || !unref) return;
  void* screen = defaultScreen();
  if (screen == nullptr) return;
  constexpr unsigned kApplicationPriority = 600;  // GTK_STYLE_PROVIDER_PRIORITY_APPLICATION
  static const char kRule[] =
      "button.default:not(:disabled) { border-color: @theme_selected_bg_color;"
      " box-shadow: inset 0 0 0 1px @theme_selected_bg_color; }";
  void* provider = newProvider();
  if (loadFromData(provider, kRule, -1, nullptr))
    addProvider(screen, provider, kApplicationPriority);
  unref(provider);
}

void StopToolkit() {
  if (!g_toolkitStarted) return;
  if (wxb::WxBackend* backend = wxb::WxBackend::Instance()) backend->ReleaseToolkitObjects();
  wxEntryCleanup();
  g_toolkitStarted = false;
}

std::string ProgramName(int argc, char** argv) {
  if (argc < 1 || argv[0] == nullptr) return "program";
  std::string path = argv[0];
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool StartToolkit(int& argc, char** argv) {
  if (g_toolkitStarted) return true;
  std::string name = ProgramName(argc, argv);
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  bool hasX11 = x11 != nullptr && *x11 != '\0';
  bool hasWayland = wayland != nullptr && *wayland != '\0';
  if (!hasX11 && !hasWayland) {
    std::fprintf(stderr, "%s: no display to show windows on (DISPLAY is not set)\n", name.c_str());
    return false;
  }
  // Window positions are part of the program's state; only X11 lets a program place windows.
  if (hasX11) setenv("GDK_BACKEND", "x11", 0);
  wxApp::SetInstance(new ToolkitApp);
  bool started = false;
  {
    wxLogNull quiet;  // our own line below says it better
    started = wxEntryStart(argc, argv);
  }
  if (!started) {
    std::fprintf(stderr, "%s: cannot open the display %s\n", name.c_str(), hasX11 ? x11 : wayland);
    return false;
  }
  wxTheApp->SetExitOnFrameDelete(false);
  // A failed check inside wxWidgets is our fault, not the user's business: one line on
  // standard error instead of a dialog in the middle of the program.
  wxSetAssertHandler([](const wxString& file, int line, const wxString& function,
                        const wxString& condition, const wxString& message) {
    std::fprintf(stderr, "wxWidgets check failed: %s:%d in %s(): %s %s\n", file.utf8_str().data(),
                 line, function.utf8_str().data(), condition.utf8_str().data(),
                 message.utf8_str().data());
  });
  if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) wxImage::AddHandler(new wxPNGHandler);
  MarkDefaultButtons();
  g_toolkitStarted = true;
  static const bool kStopAtExit = (std::atexit(StopToolkit), true);
  (void)kStopAtExit;
  return true;
}

}  // namespace

bool InstallWxBackend(int& argc, char** argv) {
  if (!StartToolkit(argc, argv)) return false;
  InstallBackend(std::make_unique<wxb::WxBackend>());
  return true;
}

}  // namespace ui
