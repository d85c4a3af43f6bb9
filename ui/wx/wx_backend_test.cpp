// The wxWidgets backend on a real X server with a real window manager (CTest runs this program
// under Xvfb and openbox, see run_under_xvfb.sh). Windows are built with the framework classes,
// as the programs build them; keys come from xdotool through the X server, and where the test
// must know what really is on the screen it asks the X server (xwininfo, xprop, xdpyinfo).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <wx/app.h>
#include <wx/choice.h>
#include <wx/dialog.h>
#include <wx/display.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/menu.h>
#include <wx/mstream.h>
#include <wx/statusbr.h>
#include <wx/stopwatch.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/window_message.h"
#include "testsupport/temp_dir.h"
#include "ui/application.h"
#include "ui/controls.h"
#include "ui/wx/wx_backend.h"
#include "ui/wx/wx_internal.h"

extern char** environ;

// Rectangles in failure messages.
void PrintTo(const TRect& rect, std::ostream* out) {
  *out << "{" << rect.left << ", " << rect.top << ", " << rect.right << ", " << rect.bottom << "}";
}

namespace {

// ---------------------------------------------------------------------------------------------
// The toolkit, started once for the program.

class WxEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    static char name[] = "wx_backend_tests";
    static char* argv[] = {name, nullptr};
    int argc = 1;
    ASSERT_TRUE(ui::InstallWxBackend(argc, argv)) << "these tests need an X server";
    // A failed check inside wxWidgets is a failed test (the backend's own handler only logs).
    wxSetAssertHandler([](const wxString& file, int line, const wxString& function,
                          const wxString& condition, const wxString& message) {
      ADD_FAILURE_AT(file.utf8_str().data(), line)
          << "wxWidgets check failed in " << function.utf8_str().data() << ": "
          << condition.utf8_str().data() << " " << message.utf8_str().data();
    });
  }
};
testing::Environment* const kEnvironment = testing::AddGlobalTestEnvironment(new WxEnvironment);

// How long a test waits for the X server, the window manager, the toolkit or a helper program
// before it gives up. Generous: on a loaded machine, and under the sanitizers, a window can take
// seconds to appear.
constexpr long kPatience = 60000;

// Runs the backend's message loop until `done` holds or `milliseconds` pass; whether it held.
bool RunUntil(const std::function<bool()>& done, long milliseconds = kPatience) {
  if (done()) return true;
  wxStopWatch clock;
  bool held = false;
  wxTimer poll;
  poll.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    if (done()) {
      held = true;
      ui::CurrentBackend().QuitMessageLoop(0);
    } else if (clock.Time() > milliseconds) {
      ui::CurrentBackend().QuitMessageLoop(0);
    }
  });
  poll.Start(20);
  ui::CurrentBackend().RunMessageLoop();
  poll.Stop();
  return held;
}

// Passes when `done` holds within the patience; the failure says what was awaited and, with
// `state`, how things stood when the test gave up.
testing::AssertionResult Eventually(const std::string& what, const std::function<bool()>& done,
                                    const std::function<std::string()>& state = nullptr) {
  if (RunUntil(done)) return testing::AssertionSuccess();
  testing::AssertionResult failure = testing::AssertionFailure();
  failure << "waited " << kPatience / 1000 << " s for " << what;
  if (state) failure << "; at the end: " << state();
  return failure;
}

// A function of the toolkit (already loaded with it), looked up at run time so that the tests
// need no GTK headers.
template <typename Function>
Function ToolkitFunction(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_DEFAULT, name));
}

// Lets the loop handle every event the X server has sent this program so far: a round trip to
// the server, then the loop runs until no event waits. The server sends events in the order it
// makes them, so the keys a helper pressed before it ended have been handled then.
testing::AssertionResult HandleEventsSentSoFar() {
  static const auto display = ToolkitFunction<void* (*)()>("gdk_display_get_default");
  static const auto sync = ToolkitFunction<void (*)(void*)>("gdk_display_sync");
  static const auto pending = ToolkitFunction<int (*)()>("gdk_events_pending");
  if (display == nullptr || sync == nullptr || pending == nullptr) {
    return testing::AssertionFailure() << "GDK's event functions are not there";
  }
  sync(display());
  return Eventually("the events the X server sent to be handled",
                    [] { return pending() == 0 && !wxTheApp->HasPendingEvents(); });
}

// The standard output of a shell command.
std::string Capture(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  pclose(pipe);
  return output;
}

// A command running beside the test (xdotool waiting for a window, pressing keys).
class Helper {
 public:
  explicit Helper(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
  }
  ~Helper() {
    if (pid_ > 0 && !Finished()) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool Finished() {
    if (pid_ <= 0 || done_) return true;
    done_ = waitpid(pid_, &status_, WNOHANG) == pid_;
    return done_;
  }
  // Lets the loop run until the helper is done; true when it ended successfully.
  bool Wait() {
    return RunUntil([this] { return Finished(); }) && pid_ > 0 && WIFEXITED(status_) &&
           WEXITSTATUS(status_) == 0;
  }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  bool done_ = false;
};

// Shell code that waits for the visible window titled $1, makes it active and shifts $1 away.
// xdotool fails (BadWindow) when a window vanishes while it looks at the windows, as the last
// test's windows do; the search is tried again then.
const std::string kActivateWindow =
    "title=$1; shift; tries=0; "
    "until xdotool search --sync --onlyvisible --name \"^$title\\$\" windowactivate --sync "
    "2>/dev/null; do tries=$((tries + 1)); [ $tries -ge 20 ] && exit 1; sleep 0.1; done; ";

// xdotool: wait for the visible window of this exact title, make it active, then `keys`
// (xdotool commands such as {"type", "12"} or {"key", "Return"}). The keys go through the X
// server's test extension to the focused window, as a keyboard's do (xdotool sends them as
// synthetic events to a window it names, which GTK does not take).
std::vector<std::string> XdotoolIn(const std::string& title, std::vector<std::string> keys) {
  std::vector<std::string> args = {"sh", "-c", kActivateWindow + "exec xdotool \"$@\"", "sh",
                                   title};
  args.insert(args.end(), keys.begin(), keys.end());
  return args;
}

// Ends every modal loop still running well after the patience, so that a key that never arrived
// fails the test instead of hanging it.
class Watchdog {
 public:
  Watchdog() {
    timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
      for (wxWindow* window : wxTopLevelWindows) {
        auto* dialog = wxDynamicCast(window, wxDialog);
        if (dialog != nullptr && dialog->IsModal()) {
          fired_ = true;
          dialog->EndModal(-1);
        }
      }
    });
    timer_.Start(kPatience + 20000);
  }
  bool Fired() const { return fired_; }

 private:
  wxTimer timer_;
  bool fired_ = false;
};

// xdotool presses `keys` in the window of this title (see XdotoolIn); the test goes on once
// the program has handled them.
testing::AssertionResult Press(const std::string& title, const std::vector<std::string>& keys) {
  Helper helper(XdotoolIn(title, keys));
  if (!helper.Wait()) {
    testing::AssertionResult failure = testing::AssertionFailure();
    failure << "xdotool did not find the window \"" << title << "\" or failed to send";
    for (const std::string& key : keys) failure << " " << key;
    return failure;
  }
  return HandleEventsSentSoFar();
}

// The X window id of the visible window of this title, "" when there is none. (A search that
// meets a vanishing window, as the last test's windows are, fails; it is tried again.)
std::string WindowId(const std::string& title) {
  for (int tries = 0; tries < 3; ++tries) {
    std::string id =
        Capture("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null | head -n1");
    if (!id.empty() && id.back() == '\n') id.pop_back();
    if (!id.empty()) return id;
  }
  return std::string();
}

// The outer top-left corner of the visible window of this title, as the X server and the
// window manager have it: the client's position less the frame extents.
std::optional<wxPoint> RealFramePosition(const std::string& title) {
  std::string id = WindowId(title);
  if (id.empty()) return std::nullopt;
  std::string info = Capture("xwininfo -id " + id);
  std::string extents = Capture("xprop -id " + id + " _NET_FRAME_EXTENTS");
  int x = 0, y = 0, left = 0, right = 0, top = 0, bottom = 0;
  size_t at = info.find("Absolute upper-left X:");
  size_t extentAt = extents.find('=');
  if (at == std::string::npos || extentAt == std::string::npos ||
      std::sscanf(info.c_str() + at, "Absolute upper-left X: %d Absolute upper-left Y: %d", &x,
                  &y) != 2 ||
      std::sscanf(extents.c_str() + extentAt, "= %d, %d, %d, %d", &left, &right, &top, &bottom) !=
          4) {
    return std::nullopt;
  }
  return wxPoint(x - left, y - top);
}

wxWindow* WidgetOf(const TWindow& window) {
  auto* peer = static_cast<ui::wxb::WxPeer*>(window.Peer());
  return peer != nullptr ? peer->Widget() : nullptr;
}

std::string Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }
wxString WxUtf8(const char8_t* text) { return wxString::FromUTF8(Utf8(text)); }

// Whether the window manager has given the top-level `window` the keyboard. It has placed the
// window by then, and the framework, which moves a window the window manager put elsewhere back
// to where the program asked for it, has done so.
bool IsActive(const TWindow& window) {
  auto* topLevel = wxDynamicCast(WidgetOf(window), wxTopLevelWindow);
  return topLevel != nullptr && topLevel->IsActive();
}

// Whether the top-level `window`, titled `title`, is active, and both the X server and the
// framework have it at `rect`.
bool IsShownAt(const std::string& title, const TWindow& window, const TRect& rect) {
  return IsActive(window) && window.GetWindowRect() == rect &&
         RealFramePosition(title) == wxPoint(rect.left, rect.top);
}

std::string DescribeWindow(const std::string& title, const TWindow& window) {
  std::optional<wxPoint> real = RealFramePosition(title);
  std::string text = "the framework reads " + testing::PrintToString(window.GetWindowRect()) +
                     ", the X server has it ";
  text += real ? "at " + std::to_string(real->x) + "," + std::to_string(real->y) : "nowhere";
  return text + (IsActive(window) ? ", active" : ", not active");
}

// Whether the toolkit has laid the shown `widget` out at the size wxWidgets gave it (GTK does it
// for its next frame after the window was shown or resized).
bool LaidOut(wxWindow* widget) {
  struct Allocation {
    int x, y, width, height;
  };
  static const auto allocation =
      ToolkitFunction<void (*)(void*, Allocation*)>("gtk_widget_get_allocation");
  static const auto mapped = ToolkitFunction<int (*)(void*)>("gtk_widget_get_mapped");
  if (allocation == nullptr || mapped == nullptr) return false;
  Allocation laid{};
  allocation(widget->GetHandle(), &laid);
  return mapped(widget->GetHandle()) && laid.width == widget->GetSize().x &&
         laid.height == widget->GetSize().y;
}

// Waits until the window manager has placed and activated the window titled `title` and it
// stands at `rect`, where the program put it. From then on it moves only when it is moved.
testing::AssertionResult ShownAt(const std::string& title, const TWindow& window,
                                 const TRect& rect) {
  return Eventually(
      "\"" + title + "\" to be active at " + testing::PrintToString(rect),
      [&] { return IsShownAt(title, window, rect); },
      [&] { return DescribeWindow(title, window); });
}

// ---------------------------------------------------------------------------------------------
// Dialogs and frames as the programs build them.

constexpr int kQueryId = 10;   // the balance query's dialog
constexpr int kTypingId = 20;  // two edits and two buttons
constexpr int kModalId = 30;   // a modal dialog window
constexpr int kComboId = 40;
constexpr int kMenuId = 50;

// clang-format off
DialogTemplate QueryTemplate() {
  const uint32_t edit = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
  return DialogTemplate{kQueryId, WS_CHILD | WS_VISIBLE | DS_3DLOOK | DS_SETFONT, "",
                        "MS Sans Serif", 8, 0, 0, 245, 66,
                        {{133, "EDIT", "", edit, 60, 14, 116, 12},
                         {334, "BUTTON", "Schließen", BS_CENTER | WS_TABSTOP, 188, 44, 50, 14},
                         {408, "BUTTON", "Abfragen", BS_DEFPUSHBUTTON | BS_CENTER | WS_TABSTOP,
                          188, 13, 50, 14},
                         {-1, "STATIC", "Kartennummer:", SS_RIGHT, 4, 16, 52, 8}}};
}

DialogTemplate TypingTemplate() {
  return DialogTemplate{kTypingId, WS_CHILD | WS_VISIBLE | DS_SETFONT, "", "MS Sans Serif", 8,
                        0, 0, 200, 60,
                        {{10, "EDIT", "", WS_BORDER | WS_TABSTOP, 10, 10, 100, 12},
                         {11, "EDIT", "", WS_BORDER | WS_TABSTOP, 10, 26, 100, 12},
                         {12, "BUTTON", "OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 130, 10, 50, 14},
                         {13, "BUTTON", "Andere", WS_TABSTOP, 130, 30, 50, 14}}};
}

DialogTemplate ModalTemplate() {
  return DialogTemplate{kModalId,
                        WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
                        "Karten-Daten ändern", "MS Sans Serif", 8, 20, 20, 160, 50,
                        {{IDOK, "BUTTON", "OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 20, 25, 50, 14},
                         {IDCANCEL, "BUTTON", "Abbrechen", WS_TABSTOP, 90, 25, 50, 14}}};
}

DialogTemplate ComboTemplate() {
  return DialogTemplate{kComboId, WS_CHILD | WS_VISIBLE | DS_SETFONT, "", "MS Sans Serif", 8,
                        0, 0, 160, 80,
                        {{7, "COMBOBOX", "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 10, 10,
                          100, 60}}};
}
// clang-format on

// A dialog that records the commands and notifications it gets instead of acting on them.
class Recorder : public TDialog {
 public:
  Recorder(TWindow* parent, int templateId) : TDialog(parent, templateId) {}

  int Commands(unsigned id) const { return CountOf(commands, id); }
  int Notifications(unsigned id, unsigned code) const {
    int count = 0;
    for (const auto& [from, what] : notifications) count += from == id && what == code;
    return count;
  }
  std::vector<unsigned> commands;
  std::vector<std::pair<unsigned, unsigned>> notifications;
  std::function<void(unsigned)> onCommand;  // runs after a command is recorded

 protected:
  void DefaultProcessing(TMessage& message) override {
    if (message.message != WM_COMMAND) {
      TDialog::DefaultProcessing(message);
    } else if (message.notifyCode == BN_CLICKED) {
      commands.push_back(message.id);
      if (onCommand) onCommand(message.id);
    } else {
      notifications.emplace_back(message.id, message.notifyCode);
    }
  }

 private:
  static int CountOf(const std::vector<unsigned>& list, unsigned id) {
    int count = 0;
    for (unsigned each : list) count += each == id;
    return count;
  }
};

class RecordingFrame : public TDecoratedFrame {
 public:
  using TDecoratedFrame::TDecoratedFrame;
  std::vector<unsigned> commands;
  std::vector<std::pair<unsigned, uintptr_t>> messages;  // the others, with their wParam

 protected:
  void DefaultProcessing(TMessage& message) override {
    if (message.message == WM_COMMAND) {
      commands.push_back(message.id);
    } else {
      messages.emplace_back(message.message, message.wParam);
      TDecoratedFrame::DefaultProcessing(message);
    }
  }
};

// A decorated frame with a client dialog and a recessed status bar, fixed size and no maximise
// box, the way the balance query builds its main window.
struct TestFrame {
  std::unique_ptr<RecordingFrame> frame;
  Recorder* client;
  TStatusBar* bar;
};

TestFrame MakeFrame(const std::string& title, int templateId,
                    const std::function<void(Recorder&)>& bind = nullptr) {
  auto* client = new Recorder(nullptr, templateId);
  if (bind) bind(*client);
  auto frame = std::make_unique<RecordingFrame>(nullptr, title.c_str(), client);
  auto* bar = new TStatusBar(frame.get(), TGadget::Recessed);
  frame->Insert(*bar, TDecoratedFrame::Bottom);
  frame->ModifyStyle(WS_MAXIMIZEBOX | WS_THICKFRAME, 0);
  EXPECT_TRUE(frame->Create());
  return TestFrame{std::move(frame), client, bar};
}

class WxBackendTest : public testing::Test {
 protected:
  WxBackendTest() {
    app.AddDialog(QueryTemplate());
    app.AddDialog(TypingTemplate());
    app.AddDialog(ModalTemplate());
    app.AddDialog(ComboTemplate());
  }
  // Windows destroyed during the test are deleted when the loop is idle.
  ~WxBackendTest() override {
    EXPECT_TRUE(Eventually("the destroyed windows to be deleted",
                           [] { return wxPendingDelete.IsEmpty(); }));
  }

  TApplication app{"wx_backend_tests"};
  const int frameX = GetSystemMetrics(SM_CXFRAME);
  const int frameY = GetSystemMetrics(SM_CYFRAME);
  const int caption = GetSystemMetrics(SM_CYCAPTION);
};

// ---------------------------------------------------------------------------------------------
// Geometry

// What a program saves at close must be what it restored at start, when the user did not move
// the window, and the position must be where the window really is.
TEST_F(WxBackendTest, FrameRectangleSurvivesShowAndMovesWithTheRealWindow) {
  const std::string title = "Geometry test";
  TestFrame test = MakeFrame(title, kQueryId);
  TFrameWindow& frame = *test.frame;
  frame.SetWindowPos(0, 140, 110, 420, 200, SWP_NOZORDER);
  EXPECT_EQ(frame.GetWindowRect(), (TRect{140, 110, 560, 310}));

  frame.ShowWindow(SW_SHOWNORMAL);
  ASSERT_TRUE(ShownAt(title, frame, TRect{140, 110, 560, 310}));

  frame.SetWindowPos(0, 200, 150, 380, 170, SWP_NOZORDER);
  EXPECT_EQ(frame.GetWindowRect(), (TRect{200, 150, 580, 320}));
  ASSERT_TRUE(ShownAt(title, frame, TRect{200, 150, 580, 320}));

  // The user drags the window: the framework reads the new place, at the same size.
  std::string id = WindowId(title);
  ASSERT_FALSE(id.empty());
  Helper move({"xdotool", "windowmove", id, "333", "222"});
  ASSERT_TRUE(move.Wait());
  ASSERT_TRUE(Eventually(
      "the framework to read the window's new place",
      [&] {
        std::optional<wxPoint> real = RealFramePosition(title);
        return real && *real != wxPoint(200, 150) && frame.GetWindowRect().left == real->x &&
               frame.GetWindowRect().top == real->y;
      },
      [&] { return DescribeWindow(title, frame); }));
  EXPECT_EQ(frame.GetWindowRect().Width(), 380);
  EXPECT_EQ(frame.GetWindowRect().Height(), 170);
}

// The start-up timer sizes the hidden frame in place and shows it, and the user moves it at
// once: the rectangle read then (the one stored at the close) is where the window really is.
TEST_F(WxBackendTest, MoveRightAfterTheFrameWasSizedInPlaceIsRead) {
  const std::string title = "Early move test";
  TestFrame test = MakeFrame(title, kQueryId);
  TFrameWindow& frame = *test.frame;
  frame.SetWindowPos(0, 150, 120, 400, 180, SWP_NOZORDER);
  frame.SetWindowPos(0, 0, 0, 420, 190, SWP_NOMOVE | SWP_NOZORDER);
  frame.ShowWindow(SW_SHOWNORMAL);
  ASSERT_TRUE(Press(title, {"getactivewindow", "windowmove", "--sync", "310", "230"}));
  std::optional<wxPoint> real;
  ASSERT_TRUE(Eventually("the window to leave 150,120", [&] {
    real = RealFramePosition(title);
    return real && *real != wxPoint(150, 120);
  }));
  EXPECT_EQ(frame.GetWindowRect(), (TRect{real->x, real->y, real->x + 420, real->y + 190}));
}

// The balance query sizes its frame from the close button: one caption for the title bar, one
// for the status bar. Then all of the dialog shows and the status bar sits below it.
TEST_F(WxBackendTest, FrameClientHoldsDialogAboveStatusBarAtTemplatePositions) {
  TestFrame test = MakeFrame("Layout test", kQueryId);
  TFrameWindow& frame = *test.frame;
  Recorder& dialog = *test.client;
  TRect close = dialog.ChildWithId(334)->GetWindowRect();
  int width = close.right + 2 + 2 * frameX;
  int height = close.bottom + 2 + 2 * frameY + 2 * caption;
  frame.SetWindowPos(0, 60, 60, width, height, SWP_NOZORDER);
  frame.ShowWindow(SW_SHOWNORMAL);
  ASSERT_TRUE(ShownAt("Layout test", frame, TRect{60, 60, 60 + width, 60 + height}));

  // The toolkit lays the shown frame out at its size.
  const TRect client = frame.GetClientRect();
  EXPECT_EQ(client, (TRect{0, 0, close.right + 2, close.bottom + 2 + caption}));
  int bar = 0;
  EXPECT_TRUE(Eventually(
      "the status bar at the bottom of the client area",
      [&] {
        bar = WidgetOf(*test.bar)->GetSize().y;
        return bar > 0 && test.bar->GetWindowRect() ==
                              TRect{0, client.bottom - bar, client.right, client.bottom};
      },
      [&] { return testing::PrintToString(test.bar->GetWindowRect()); }));
  EXPECT_LE(bar, caption);
  EXPECT_EQ(dialog.GetWindowRect(), (TRect{0, 0, client.right, client.bottom - bar}));
  EXPECT_GE(dialog.GetClientRect().bottom, close.bottom + 2);

  // On the screen: the bar right below the dialog, both as wide as the frame's client area.
  wxRect panel = WidgetOf(dialog)->GetScreenRect();
  wxRect barRect = WidgetOf(*test.bar)->GetScreenRect();
  EXPECT_EQ(barRect.y, panel.y + panel.height);
  EXPECT_EQ(barRect.width, panel.width);

  for (const DialogControl& control : QueryTemplate().controls) {
    TWindow* window = control.id == -1 ? dialog.Children().back() : dialog.ChildWithId(control.id);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->GetWindowRect(),
              dialog.MapDialogRect(control.x, control.y, control.w, control.h))
        << control.text;
    EXPECT_TRUE(window->IsWindowVisible()) << control.text;
  }
}

// Every text of the template must fit its control in the font the control really shows.
TEST_F(WxBackendTest, TemplateTextsFitTheirControlsInTheDialogFont) {
  TestFrame test = MakeFrame("Font test", kQueryId);
  TSize units = ui::CurrentBackend().DialogBaseUnits("MS Sans Serif", 8);
  EXPECT_GE(units.cx, 4);
  EXPECT_GE(units.cy, 8);
  for (TWindow* control : test.client->Children()) {
    auto* widget = dynamic_cast<wxControl*>(WidgetOf(*control));
    ASSERT_NE(widget, nullptr);
    wxString label = widget->GetLabelText();
    if (label.empty()) continue;
    wxSize text = widget->GetTextExtent(label);
    int padding = dynamic_cast<TButton*>(control) != nullptr ? 8 : 0;
    EXPECT_LE(text.x + padding, widget->GetSize().x) << label;
    EXPECT_LE(text.y, widget->GetSize().y) << label;
    EXPECT_EQ(widget->GetFont(), WidgetOf(*test.client)->GetFont()) << label;
  }
}

// ---------------------------------------------------------------------------------------------
// Texts

TEST_F(WxBackendTest, Windows1252TextsRoundTripThroughRealWidgets) {
  TestFrame test = MakeFrame("Text test", kQueryId);
  auto* edit = static_cast<TEdit*>(test.client->ChildWithId(133));
  auto* textCtrl = static_cast<wxTextCtrl*>(WidgetOf(*edit));

  edit->SetText("Schließen");
  EXPECT_EQ(edit->GetText(), "Schließen");
  EXPECT_EQ(textCtrl->GetValue(), WxUtf8(u8"Schließen"));
  for (const char* text : {"ü", "\x80", "Grüße 5 €", "ŒœŠšŽžŸ", "‚„…†‡ˆ‰‹›‘’“”•–—˜™"}) {
    edit->SetText(text);
    EXPECT_EQ(edit->GetText(), text);
  }
  std::string printable;
  for (int byte = 0x20; byte < 0x100; ++byte) printable += static_cast<char>(byte);
  edit->SetText(printable.c_str());
  EXPECT_EQ(edit->GetText(), printable);

  // What the user pastes from elsewhere shows and reads as the code page has it.
  textCtrl->SetValue(WxUtf8(u8"Ω=€"));
  EXPECT_EQ(edit->GetText(), "?=\x80");
  EXPECT_EQ(textCtrl->GetValue(), WxUtf8(u8"?=€"));

  // Selections in characters, with the edit control's rules for -1.
  edit->SetText("12345");
  int start = -1;
  int end = -1;
  edit->GetSelection(start, end);
  EXPECT_EQ(std::make_pair(start, end), std::make_pair(0, 0));
  edit->SetSelection(1, 3);
  edit->GetSelection(start, end);
  EXPECT_EQ(std::make_pair(start, end), std::make_pair(1, 3));
  edit->SetSelection(-1, 0);  // no selection, the caret stays at its end
  edit->GetSelection(start, end);
  EXPECT_EQ(std::make_pair(start, end), std::make_pair(3, 3));
  edit->SetSelection(2, -1);
  edit->GetSelection(start, end);
  EXPECT_EQ(std::make_pair(start, end), std::make_pair(2, 5));
  edit->SetSelection(0, 99);
  edit->GetSelection(start, end);
  EXPECT_EQ(std::make_pair(start, end), std::make_pair(0, 5));
  edit->Insert("\xE4");  // the framework's own replace-the-selection
  EXPECT_EQ(edit->GetText(), "\xE4");

  test.frame->SetCaption("Karten-Daten ändern");
  EXPECT_EQ(test.frame->GetText(), "Karten-Daten ändern");
  EXPECT_EQ(WidgetOf(*test.frame)->GetLabel(), WxUtf8(u8"Karten-Daten ändern"));
  TWindow* close = test.client->ChildWithId(334);
  EXPECT_EQ(close->GetText(), "Schließen");
  EXPECT_EQ(WidgetOf(*close)->GetLabel(), WxUtf8(u8"Schließen"));
  close->SetWindowText("Übernehmen & €");
  EXPECT_EQ(close->GetText(), "Übernehmen & €");
}

// ---------------------------------------------------------------------------------------------
// Keys

// Whether every character of `utf8` has a key in the keyboard map this program holds. xdotool
// types a character without one by binding it to a spare key code for a moment, and a program
// that reads the key before it has fetched that map gets another character or none; so the
// tests type only characters of the map that run_under_xvfb.sh sets.
bool InKeyboardMap(const std::string& utf8) {
  using Entries = int (*)(void*, unsigned, void**, int*);
  static const auto display = ToolkitFunction<void* (*)()>("gdk_display_get_default");
  static const auto keymap = ToolkitFunction<void* (*)(void*)>("gdk_keymap_get_for_display");
  static const auto keyval = ToolkitFunction<unsigned (*)(uint32_t)>("gdk_unicode_to_keyval");
  static const auto entries = ToolkitFunction<Entries>("gdk_keymap_get_entries_for_keyval");
  static const auto release = ToolkitFunction<void (*)(void*)>("g_free");
  if (!display || !keymap || !keyval || !entries || !release) return false;
  for (wxUniChar character : wxString::FromUTF8(utf8)) {
    void* keys = nullptr;
    int count = 0;
    const bool found =
        entries(keymap(display()), keyval(character.GetValue()), &keys, &count) && count > 0;
    release(keys);
    if (!found) return false;
  }
  return true;
}

// Typed characters reach the edit only through WM_CHAR and the framework, so the validator
// sees them; characters outside the code page are swallowed; the keys the toolkit keeps still
// set the modify flag and send EN_CHANGE once.
TEST_F(WxBackendTest, TypedKeysGoThroughTheFrameworkAsWindows1252Characters) {
  const std::string title = "Typing test";
  TEdit* digits = nullptr;
  TestFrame test = MakeFrame(title, kTypingId, [&](Recorder& dialog) {
    digits = new TEdit(&dialog, 10);
    digits->SetValidator(new TFilterValidator(TCharSet("0-9")));
  });
  auto* free = static_cast<TEdit*>(test.client->ChildWithId(11));
  test.frame->SetWindowPos(0, 80, 80, 360, 160, SWP_NOZORDER);
  test.frame->ShowWindow(SW_SHOWNORMAL);
  digits->SetFocus();

  ASSERT_TRUE(Press(title, {"type", "--delay", "30", "12a3"}));
  EXPECT_EQ(digits->GetText(), "123");
  // One EN_CHANGE per accepted key; the refused 'a' was put in and taken out again.
  EXPECT_EQ(test.client->Notifications(10, EN_CHANGE), 5);
  EXPECT_TRUE(digits->IsModified());

  free->SetFocus();
  const std::string typed = Utf8(u8"ü€Ωx");
  ASSERT_TRUE(InKeyboardMap(typed)) << typed;
  ASSERT_TRUE(Press(title, {"type", "--delay", "30", typed}));
  EXPECT_EQ(free->GetText(), "ü€x");
  ASSERT_TRUE(Press(title, {"key", "BackSpace"}));
  EXPECT_EQ(free->GetText(), "ü€");

  free->ClearModify();
  int before = test.client->Notifications(11, EN_CHANGE);
  ASSERT_TRUE(Press(title, {"key", "Home", "Delete"}));
  EXPECT_EQ(free->GetText(), "€");
  EXPECT_EQ(test.client->Notifications(11, EN_CHANGE), before + 1);
  EXPECT_TRUE(free->IsModified());
}

// Enter presses the focused button or else the default button; Escape sends IDCANCEL; a
// disabled default button is not pressed.
TEST_F(WxBackendTest, EnterAndEscapePressTheDialogsButtons) {
  const std::string title = "Keys test";
  TestFrame test = MakeFrame(title, kTypingId);
  Recorder& dialog = *test.client;
  test.frame->SetWindowPos(0, 80, 80, 360, 160, SWP_NOZORDER);
  test.frame->ShowWindow(SW_SHOWNORMAL);
  dialog.ChildWithId(10)->SetFocus();

  ASSERT_TRUE(Press(title, {"key", "Return"}));
  EXPECT_EQ(dialog.commands, std::vector<unsigned>{12});

  dialog.ChildWithId(13)->SetFocus();
  ASSERT_TRUE(Press(title, {"key", "Return"}));
  EXPECT_EQ(dialog.commands, (std::vector<unsigned>{12, 13}));

  ASSERT_TRUE(Press(title, {"key", "Escape"}));
  EXPECT_EQ(dialog.commands, (std::vector<unsigned>{12, 13, IDCANCEL}));

  dialog.ChildWithId(12)->EnableWindow(false);
  dialog.ChildWithId(11)->SetFocus();
  ASSERT_TRUE(Press(title, {"key", "Return", "KP_Enter"}));
  EXPECT_EQ(dialog.commands.size(), 3u);
}

// The close box, the system menu and Alt+F4 ask the framework; the window goes only if the
// framework destroys it.
TEST_F(WxBackendTest, AltF4AsksTheFrameworkAndTheWindowStaysUnlessDestroyed) {
  class Closing : public TFrameWindow {
   public:
    explicit Closing(const char* title) : TFrameWindow(nullptr, title, nullptr) {}
    bool CanClose() override {
      ++asked;
      return allow;
    }
    int asked = 0;
    bool allow = false;
  };
  const std::string title = "Closing test";
  Closing frame(title.c_str());
  ASSERT_TRUE(frame.Create());
  frame.SetWindowPos(0, 100, 100, 300, 150, SWP_NOZORDER);
  frame.ShowWindow(SW_SHOWNORMAL);
  // The window manager takes Alt+F4 for the window it has activated.
  ASSERT_TRUE(ShownAt(title, frame, TRect{100, 100, 400, 250}));

  ASSERT_TRUE(Press(title, {"key", "alt+F4"}));
  ASSERT_TRUE(Eventually("the window manager's close to reach the framework",
                         [&] { return frame.asked == 1; }));
  EXPECT_TRUE(frame.IsCreated());
  EXPECT_TRUE(WidgetOf(frame)->IsShown());
  EXPECT_TRUE(RealFramePosition(title).has_value());

  // Alt+F4 that the window manager leaves to the window asks the same.
  const int askedBefore = frame.asked;
  wxKeyEvent altF4(wxEVT_CHAR_HOOK);
  altF4.m_keyCode = WXK_F4;
  altF4.SetAltDown(true);
  altF4.SetEventObject(WidgetOf(frame));
  WidgetOf(frame)->GetEventHandler()->ProcessEvent(altF4);
  EXPECT_EQ(frame.asked, askedBefore + 1);
  EXPECT_TRUE(frame.IsCreated());

  frame.allow = true;
  ASSERT_TRUE(Press(title, {"key", "alt+F4"}));
  ASSERT_TRUE(Eventually("the window to be destroyed", [&] { return !frame.IsCreated(); }));
  EXPECT_TRUE(Eventually("the window to leave the screen",
                         [&] { return !RealFramePosition(title).has_value(); }));
}

// ---------------------------------------------------------------------------------------------
// Modal dialogs, loops and timers

// A dialog window that, once its modal loop runs, waits until `ready` holds (at most the
// patience; a timer asks) and then runs `action`.
class TimedDialog : public TDialog {
 public:
  TimedDialog(TWindow* parent, std::function<bool(TimedDialog&)> ready,
              std::function<void(TimedDialog&)> action)
      : TDialog(parent, kModalId), ready_(std::move(ready)), action_(std::move(action)) {}
  void SetupWindow() override {
    TDialog::SetupWindow();
    SetTimer(1, 20);
  }
  // Whether `ready` held when `action` ran.
  bool WasReady() const { return wasReady_; }

 private:
  void EvTimer(unsigned id) {
    wasReady_ = ready_(*this);
    if (!wasReady_ && waited_.Time() < kPatience) return;
    KillTimer(id);
    action_(*this);
  }
  std::function<bool(TimedDialog&)> ready_;
  std::function<void(TimedDialog&)> action_;
  wxStopWatch waited_;
  bool wasReady_ = false;
  DECLARE_RESPONSE_TABLE(TimedDialog);
};
DEFINE_RESPONSE_TABLE1(TimedDialog, TDialog)
  EV_WM_TIMER(EvTimer)
END_RESPONSE_TABLE;

// The title of the modal dialog window of ModalTemplate().
const std::string kModalTitle = Utf8(u8"Karten-Daten ändern");

TEST_F(WxBackendTest, ModalDialogDisablesItsOwnerAndEndsWithItsCode) {
  TestFrame test = MakeFrame("Owner test", kQueryId);
  test.frame->SetWindowPos(0, 50, 50, 420, 200, SWP_NOZORDER);
  test.frame->ShowWindow(SW_SHOWNORMAL);
  ASSERT_TRUE(ShownAt("Owner test", *test.frame, TRect{50, 50, 470, 250}));

  bool ownerEnabled = true;
  bool shown = false;
  TRect asked;
  std::string state;
  // Once the dialog is where it asked to be, also after the window manager had its say.
  TimedDialog dialog(
      test.client, [&](TimedDialog& self) { return IsShownAt(kModalTitle, self, asked); },
      [&](TimedDialog& self) {
        ownerEnabled = test.frame->IsWindowEnabled();
        shown = self.IsWindowVisible();
        state = DescribeWindow(kModalTitle, self);
        self.CloseWindow(IDOK);
      });
  TWindow* edit = test.client->ChildWithId(133);
  edit->SetFocus();
  ASSERT_TRUE(
      Eventually("the owner's edit to have the focus", [&] { return edit->Peer()->HasFocus(); }));
  ASSERT_TRUE(dialog.Create());  // its first control takes the focus
  asked = dialog.GetWindowRect();
  Watchdog watchdog;
  EXPECT_EQ(dialog.Execute(), IDOK);
  EXPECT_TRUE(dialog.WasReady()) << "the dialog did not show active at "
                                 << testing::PrintToString(asked) << ": " << state;
  // The owner's control has the keyboard again, so keys work in the owner as before.
  EXPECT_TRUE(Eventually("the owner's edit to have the focus again",
                         [&] { return edit->Peer()->HasFocus(); }));
  EXPECT_FALSE(ownerEnabled);
  EXPECT_TRUE(shown);
  EXPECT_FALSE(dialog.IsCreated());
  EXPECT_TRUE(test.frame->IsWindowEnabled());
  // Placed from its template relative to the owner's client area, sized as a Windows dialog.
  TRect owner = test.frame->GetWindowRect();
  TRect client = dialog.MapDialogRect(20, 20, 160, 50);
  EXPECT_EQ(asked.Width(), client.Width() + 2 * frameX);
  EXPECT_EQ(asked.Height(), client.Height() + caption + 2 * frameY);
  EXPECT_EQ(asked.left, owner.left + frameX + client.left);
  EXPECT_EQ(asked.top, owner.top + frameY + caption + client.top);
}

// A dialog whose owner sits low on the screen opens moved up into the work area, all of it on
// the screen.
TEST_F(WxBackendTest, DialogOfALowOwnerOpensInsideTheWorkArea) {
  const wxRect work = wxDisplay().GetClientArea();
  const int top = work.GetBottom() - 150;
  TestFrame test = MakeFrame("Low owner test", kQueryId);
  test.frame->SetWindowPos(0, 50, top, 420, 140, SWP_NOZORDER);
  test.frame->ShowWindow(SW_SHOWNORMAL);
  ASSERT_TRUE(ShownAt("Low owner test", *test.frame, TRect{50, top, 470, top + 140}));
  TRect asked;
  std::string state;
  TimedDialog dialog(
      test.client, [&](TimedDialog& self) { return IsShownAt(kModalTitle, self, asked); },
      [&](TimedDialog& self) {
        state = DescribeWindow(kModalTitle, self);
        self.CloseWindow(IDOK);
      });
  ASSERT_TRUE(dialog.Create());
  asked = dialog.GetWindowRect();
  EXPECT_EQ(asked.bottom, work.GetBottom() + 1);
  EXPECT_GE(asked.top, work.GetTop());
  Watchdog watchdog;
  EXPECT_EQ(dialog.Execute(), IDOK);
  // The window manager may first put it elsewhere; it ends up there on the screen.
  EXPECT_TRUE(dialog.WasReady()) << "the dialog did not show active at "
                                 << testing::PrintToString(asked) << ": " << state;
}

// A dialog that ends while it is being set up never shows and returns its code at once.
TEST_F(WxBackendTest, DialogEndedDuringSetupReturnsWithoutRunning) {
  class EndsAtOnce : public TDialog {
   public:
    EndsAtOnce() : TDialog(nullptr, kModalId) {}
    void SetupWindow() override {
      TDialog::SetupWindow();
      CloseWindow(IDCANCEL);
    }
  };
  EndsAtOnce dialog;
  wxStopWatch clock;
  EXPECT_EQ(dialog.Execute(), IDCANCEL);
  EXPECT_LT(clock.Time(), 2000);
  EXPECT_FALSE(dialog.IsCreated());
}

// Enter, Escape and Alt+F4 in a real modal dialog window.
TEST_F(WxBackendTest, KeysEndAModalDialogThroughTheFramework) {
  struct Case {
    std::vector<std::string> keys;
    int code;
  };
  for (const Case& each : {Case{{"key", "Return"}, IDOK}, Case{{"key", "Escape"}, IDCANCEL},
                           Case{{"key", "alt+F4"}, IDCANCEL}}) {
    // The keys must find this case's dialog, not the last one on its way off the screen.
    ASSERT_TRUE(Eventually("the last dialog to leave the screen",
                           [] { return WindowId(kModalTitle).empty(); }));
    TDialog dialog(nullptr, kModalId);
    Helper keys(XdotoolIn(kModalTitle, each.keys));
    Watchdog watchdog;
    EXPECT_EQ(dialog.Execute(), each.code) << each.keys.back();
    EXPECT_FALSE(watchdog.Fired());
    EXPECT_TRUE(keys.Wait());
  }
}

class Ticking : public TDialog {
 public:
  Ticking() : TDialog(nullptr, kModalId) {}
  std::vector<unsigned> ticks;

 private:
  void EvTimer(unsigned id) {
    ticks.push_back(id);
    if (ticks.size() == 2) SetTimer(id, 20);  // restarting an existing id
    if (ticks.size() == 3) KillTimer(id);     // from inside its own notification
  }
  DECLARE_RESPONSE_TABLE(Ticking);
};
DEFINE_RESPONSE_TABLE1(Ticking, TDialog)
  EV_WM_TIMER(EvTimer)
END_RESPONSE_TABLE;

TEST_F(WxBackendTest, TimersAndTheMessageLoopDeliverAndQuit) {
  Ticking window;
  ASSERT_TRUE(window.Create());
  window.SetTimer(9, 20);
  ASSERT_TRUE(Eventually("three ticks", [&] { return window.ticks.size() == 3; }));
  // A slower timer started after the kill ticks only after any tick the killed one still had.
  window.SetTimer(10, 100);
  ASSERT_TRUE(Eventually("the slower timer", [&] { return window.ticks.size() >= 4; }));
  window.KillTimer(10);
  EXPECT_EQ(window.ticks, (std::vector<unsigned>{9, 9, 9, 10}));

  // The loop's code is the one given to QuitMessageLoop, also when the quit came first.
  ui::CurrentBackend().QuitMessageLoop(7);
  EXPECT_EQ(ui::CurrentBackend().RunMessageLoop(), 7);
  wxTimer quit;
  quit.Bind(wxEVT_TIMER, [](wxTimerEvent&) { ui::CurrentBackend().QuitMessageLoop(42); });
  quit.StartOnce(20);
  EXPECT_EQ(ui::CurrentBackend().RunMessageLoop(), 42);
}

// ---------------------------------------------------------------------------------------------
// Message boxes

// Each box is traced before it shows (the helper copies the trace while the box is up), and
// answers with the button pressed.
TEST_F(WxBackendTest, MessageBoxIsTracedBeforeItShowsAndAnswersTheButtonPressed) {
  testsupport::TempDir dir;
  const std::string trace = dir / "boxes.txt";
  setenv("LINDAVOX_MESSAGEBOX_TRACE", trace.c_str(), 1);
  TestFrame test = MakeFrame("Box owner", kQueryId);
  test.frame->SetWindowPos(0, 50, 50, 420, 200, SWP_NOZORDER);
  test.frame->ShowWindow(SW_SHOWNORMAL);

  struct Case {
    unsigned type;
    const char* caption;   // Windows-1252
    const char8_t* title;  // the same in UTF-8, as the window manager sees it
    const char* keys;
    int answer;
  };
  const Case cases[] = {
      {MB_YESNO | MB_ICONQUESTION, "Frage ü", u8"Frage ü", "Return", IDYES},
      {MB_OKCANCEL | MB_ICONEXCLAMATION, "Achtung", u8"Achtung", "Escape", IDCANCEL},
      {MB_OK | MB_ICONHAND, "Fehler", u8"Fehler", "Escape", IDOK},
      // Escape cannot answer a Yes/No question; Return presses the focused button.
      {MB_YESNO, "Nein", u8"Nein", "Escape Tab Return", IDNO},
  };
  for (const Case& each : cases) {
    std::string snapshot = dir / "during.txt";
    Helper helper({"sh", "-c", kActivateWindow + "cp \"$1\" \"$2\" && xdotool key --delay 100 $3",
                   "sh", Utf8(each.title), trace, snapshot, each.keys});
    Watchdog watchdog;
    int answer = app.MessageBox(test.client, "Zeile 1\nC:\\Pfad\\Datei", each.caption, each.type);
    EXPECT_EQ(answer, each.answer) << each.caption;
    ASSERT_FALSE(watchdog.Fired()) << each.caption;
    ASSERT_TRUE(helper.Wait()) << each.caption;
    std::string line =
        std::to_string(each.type) + "\t" + each.caption + "\tZeile 1\\nC:\\\\Pfad\\\\Datei\n";
    std::string during = testsupport::ReadFile(snapshot);
    EXPECT_EQ(during.substr(during.size() - std::min(during.size(), line.size())), line);
  }
  EXPECT_EQ(testsupport::ReadFile(trace),
            "36\tFrage \xFC\tZeile 1\\nC:\\\\Pfad\\\\Datei\n"
            "49\tAchtung\tZeile 1\\nC:\\\\Pfad\\\\Datei\n"
            "16\tFehler\tZeile 1\\nC:\\\\Pfad\\\\Datei\n"
            "4\tNein\tZeile 1\\nC:\\\\Pfad\\\\Datei\n");
  unsetenv("LINDAVOX_MESSAGEBOX_TRACE");
}

// ---------------------------------------------------------------------------------------------
// Metrics

int ScreenNumber(const std::string& command, int field) {
  std::string text = Capture(command);
  int values[4] = {};
  size_t at = text.find_first_of("0123456789");
  if (at == std::string::npos) return -1;
  int parsed = std::sscanf(text.c_str() + at, "%d%*[x, ]%d%*[x, ]%d%*[x, ]%d", &values[0],
                           &values[1], &values[2], &values[3]);
  return field < parsed ? values[field] : -1;
}

TEST_F(WxBackendTest, MetricsDescribeTheScreenAndAreNeverNegative) {
  for (int index : {SM_CXSCREEN, SM_CYSCREEN, SM_CYCAPTION, SM_CXFULLSCREEN, SM_CYFULLSCREEN,
                    SM_CXFRAME, SM_CYFRAME, 2, 1000, -5}) {
    EXPECT_GE(GetSystemMetrics(index), 0) << index;
  }
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN),
            ScreenNumber("xdpyinfo | grep dimensions | sed 's/.*dimensions://'", 0));
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN),
            ScreenNumber("xdpyinfo | grep dimensions | sed 's/.*dimensions://'", 1));
  std::string workArea = "xprop -root _NET_WORKAREA | sed 's/.*= //'";
  EXPECT_EQ(GetSystemMetrics(SM_CXFULLSCREEN), ScreenNumber(workArea, 2));
  EXPECT_EQ(GetSystemMetrics(SM_CYFULLSCREEN), ScreenNumber(workArea, 3) - caption);
  EXPECT_EQ(frameX, ui::wxb::kFallbackFrame);
  EXPECT_EQ(frameY, ui::wxb::kFallbackFrame);

  // The caption is at least as high as a real status bar, so a status bar of one caption
  // height is never cut.
  auto* probe = new wxFrame(nullptr, wxID_ANY, "probe");
  int bar = probe->CreateStatusBar()->GetSize().y;
  probe->Destroy();
  EXPECT_GT(bar, 0);
  EXPECT_GE(caption, bar);
  EXPECT_GE(caption, ui::wxb::kFallbackCaption);
}

// ---------------------------------------------------------------------------------------------
// Lists, menus, icons and window states

TEST_F(WxBackendTest, DropDownListKeepsItemsAndReportsTheUsersChoice) {
  TestFrame test = MakeFrame("Combo test", kComboId);
  auto* combo = static_cast<TComboBox*>(test.client->ChildWithId(7));
  EXPECT_EQ(combo->AddString("Grüße"), 0);
  EXPECT_EQ(combo->AddString("\x80uro"), 1);
  EXPECT_EQ(combo->GetCount(), 2);
  char item[16];
  EXPECT_EQ(combo->GetString(item, 0, sizeof item), 5);
  EXPECT_STREQ(item, "Grüße");
  EXPECT_EQ(combo->GetSelIndex(), -1);
  EXPECT_EQ(combo->SetSelIndex(1), 1);
  EXPECT_EQ(combo->GetText(), "\x80uro");
  EXPECT_TRUE(test.client->notifications.empty());  // the program's choice is not the user's

  auto* choice = static_cast<wxChoice*>(WidgetOf(*combo));
  choice->SetSelection(0);
  wxCommandEvent picked(wxEVT_CHOICE, choice->GetId());
  picked.SetEventObject(choice);
  choice->GetEventHandler()->ProcessEvent(picked);
  EXPECT_EQ(test.client->Notifications(7, CBN_SELCHANGE), 1);
  EXPECT_EQ(combo->GetSelIndex(), 0);

  // The closed box is as high as the toolkit draws one line, not the template's 60 units,
  // which were the dropped list.
  TRect rect = combo->GetWindowRect();
  EXPECT_GE(rect.Height(), test.client->MapDialogRect(0, 0, 0, 12).Height());
  EXPECT_GE(rect.Height(), choice->GetBestSize().y);
  EXPECT_LT(rect.Height(), test.client->MapDialogRect(0, 0, 0, 60).Height());
  combo->ClearList();
  EXPECT_EQ(combo->GetCount(), 0);
  EXPECT_EQ(combo->GetText(), "");
}

std::vector<unsigned char> Png(int size) {
  wxImage image(size, size);
  image.SetRGB(wxRect(0, 0, size, size), 200, 40, 40);
  wxMemoryOutputStream stream;
  image.SaveFile(stream, wxBITMAP_TYPE_PNG);
  std::vector<unsigned char> bytes(stream.GetSize());
  stream.CopyTo(bytes.data(), bytes.size());
  return bytes;
}

TEST_F(WxBackendTest, MenuBarIconAndWindowStatesAreTheRealOnes) {
  TMenu menu;
  TMenu& file = menu.AppendPopup("&Datei");
  file.AppendItem(101, "&Öffnen");
  file.AppendSeparator();
  file.AppendItem(102, "&Beenden");
  app.AddMenu(kMenuId, menu);
  app.AddIcon(212, IconResource{Png(32), Png(16)});

  TestFrame test = MakeFrame("States test", kQueryId);
  RecordingFrame& frame = *test.frame;
  frame.SetWindowPos(0, 70, 70, 400, 220, SWP_NOZORDER);
  TRect outer = frame.GetWindowRect();
  ASSERT_TRUE(frame.AssignMenu(kMenuId));
  auto* wxFrameWindow = static_cast<wxFrame*>(WidgetOf(frame));
  ASSERT_NE(wxFrameWindow->GetMenuBar(), nullptr);
  EXPECT_EQ(wxFrameWindow->GetMenuBar()->GetMenuLabel(0), "&Datei");
  EXPECT_EQ(wxFrameWindow->GetMenuBar()->GetLabel(101), WxUtf8(u8"&Öffnen"));
  EXPECT_EQ(frame.GetWindowRect(), outer);  // the menu takes its room from the client area

  wxCommandEvent chosen(wxEVT_MENU, 102);
  wxFrameWindow->GetEventHandler()->ProcessEvent(chosen);
  EXPECT_EQ(frame.commands, std::vector<unsigned>{102});
  EXPECT_FALSE(frame.AssignMenu(kMenuId + 1));  // no such menu: no menu bar
  EXPECT_EQ(wxFrameWindow->GetMenuBar(), nullptr);
  EXPECT_EQ(frame.GetWindowRect(), outer);

  ASSERT_TRUE(frame.SetIcon(&app, 212));
  ASSERT_TRUE(frame.SetIconSm(&app, 212));
  const wxIconBundle& icons = wxFrameWindow->GetIcons();
  ASSERT_EQ(icons.GetIconCount(), 2u);
  EXPECT_EQ(icons.GetIconByIndex(0).GetWidth() + icons.GetIconByIndex(1).GetWidth(), 48);

  frame.ShowWindow(SW_SHOWNORMAL);
  EXPECT_TRUE(frame.IsWindowVisible());
  frame.EnableWindow(false);
  EXPECT_NE(frame.GetWindowLong(GWL_STYLE) & WS_DISABLED, 0u);
  EXPECT_FALSE(wxFrameWindow->IsEnabled());
  frame.EnableWindow(true);
  EXPECT_EQ(frame.GetWindowLong(GWL_STYLE) & WS_DISABLED, 0u);

  frame.ShowWindow(SW_SHOWMINIMIZED);
  EXPECT_NE(frame.GetWindowLong(GWL_STYLE) & WS_MINIMIZE, 0u);
  EXPECT_TRUE(Eventually("the window manager to minimise the frame",
                         [&] { return wxFrameWindow->IsIconized(); }));
  frame.ShowWindow(SW_SHOWNORMAL);
  EXPECT_TRUE(Eventually("the window manager to restore the frame", [&] {
    return !wxFrameWindow->IsIconized() && (frame.GetWindowLong(GWL_STYLE) & WS_MINIMIZE) == 0;
  }));
  frame.ShowWindow(SW_HIDE);
  EXPECT_FALSE(frame.IsWindowVisible());
  EXPECT_EQ(frame.GetWindowLong(GWL_STYLE) & WS_VISIBLE, 0u);
}

// A resizable frame maximises as the window manager does it and comes back to its rectangle.
TEST_F(WxBackendTest, MaximisedFrameReturnsToItsRectangle) {
  const std::string title = "Maximise test";
  TFrameWindow frame(nullptr, title.c_str(), nullptr);
  ASSERT_TRUE(frame.Create());
  frame.SetWindowPos(0, 90, 80, 300, 200, SWP_NOZORDER);
  frame.ShowWindow(SW_SHOWNORMAL);
  ASSERT_TRUE(ShownAt(title, frame, TRect{90, 80, 390, 280}));

  frame.ShowWindow(SW_SHOWMAXIMIZED);
  EXPECT_NE(frame.GetWindowLong(GWL_STYLE) & WS_MAXIMIZE, 0u);
  ASSERT_TRUE(Eventually("the window manager to maximise the frame",
                         [&] { return WidgetOf(frame)->GetSize().x > 600; }));
  EXPECT_NE(frame.GetWindowLong(GWL_STYLE) & WS_MAXIMIZE, 0u);
  frame.ShowWindow(SW_SHOWNORMAL);
  ASSERT_TRUE(Eventually(
      "the frame back at its rectangle",
      [&] {
        return (frame.GetWindowLong(GWL_STYLE) & WS_MAXIMIZE) == 0 &&
               frame.GetWindowRect() == TRect{90, 80, 390, 280};
      },
      [&] { return DescribeWindow(title, frame); }));
}

// ---------------------------------------------------------------------------------------------
// Lifetime

// The close button of the balance query destroys the whole frame from inside its own click.
TEST_F(WxBackendTest, ClickThatDestroysItsOwnWindowIsSafe) {
  const std::string title = "Click test";
  TestFrame test = MakeFrame(title, kQueryId);
  test.client->onCommand = [&](unsigned id) {
    if (id == 334) test.frame->Destroy();
  };
  test.frame->SetWindowPos(0, 100, 100, 440, 200, SWP_NOZORDER);
  test.frame->ShowWindow(SW_SHOWNORMAL);
  ASSERT_TRUE(ShownAt(title, *test.frame, TRect{100, 100, 540, 300}));
  wxWindow* close = WidgetOf(*test.client->ChildWithId(334));
  ASSERT_TRUE(Eventually("the close button laid out", [&] { return LaidOut(close); }));
  wxRect button = close->GetScreenRect();
  ASSERT_TRUE(Press(title, {"mousemove", std::to_string(button.x + button.width / 2),
                            std::to_string(button.y + button.height / 2), "click", "1"}));
  EXPECT_FALSE(test.frame->IsCreated());
  EXPECT_EQ(test.client->commands, std::vector<unsigned>{334});
  EXPECT_FALSE(test.client->ChildWithId(334)->IsCreated());
}

// A change the toolkit makes by itself (here as its own editing makes it) reaches the
// framework at once and meets the validator: refused, it is taken back without a trace.
TEST_F(WxBackendTest, ToolkitChangesOfTheTextMeetTheValidatorAtOnce) {
  TestFrame test = MakeFrame("Change test", kTypingId, [](Recorder& dialog) {
    (new TEdit(&dialog, 10))->SetValidator(new TFilterValidator(TCharSet("0-9")));
  });
  auto* edit = static_cast<TEdit*>(test.client->ChildWithId(10));
  auto* widget = static_cast<wxTextCtrl*>(WidgetOf(*edit));
  widget->SetValue("12");
  EXPECT_EQ(edit->GetText(), "12");
  EXPECT_EQ(test.client->Notifications(10, EN_CHANGE), 1);
  EXPECT_TRUE(edit->IsModified());
  edit->ClearModify();
  widget->SetValue("1 2");
  EXPECT_EQ(widget->GetValue(), "12");
  EXPECT_EQ(test.client->Notifications(10, EN_CHANGE), 1);
  EXPECT_FALSE(edit->IsModified());
}

// Serves `text` as the X selection `selection` ("clipboard" or "primary") for one paste, with
// xclip beside the test. A paste fetches the text from xclip while the program goes on, so the
// test waits for xclip's answer: xclip ends after two requests, the check that it serves the
// text and the paste.
class SelectionServer {
 public:
  SelectionServer(const std::string& text, const std::string& selection)
      : server_({"sh", "-c",
                 "printf %s \"$1\" | exec xclip -quiet -loops 2 -selection \"$2\" 2>/dev/null",
                 "sh", text, selection}),
        text_(text) {
    ready_ = Helper({"sh", "-c",
                     "until [ \"$(xclip -o -selection \"$2\" 2>/dev/null)\" = \"$1\" ]; do "
                     "sleep 0.02; done",
                     "sh", text, selection})
                 .Wait();
  }
  // Whether xclip serves the text.
  testing::AssertionResult Ready() const {
    if (ready_) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "xclip did not come to serve \"" << text_ << "\"";
  }
  // Waits until the paste got its answer and the program has handled it.
  testing::AssertionResult Served() {
    if (!server_.Wait()) {
      return testing::AssertionFailure() << "no paste fetched \"" << text_ << "\" from xclip";
    }
    return HandleEventsSentSoFar();
  }

 private:
  Helper server_;
  std::string text_;
  bool ready_ = false;
};

// Pastes from the clipboard (Ctrl+V, Shift+Insert) are checked as a whole against the field's
// filter, as typed keys are. (The end-to-end test of the card editor pastes the primary
// selection with the middle button too.)
TEST_F(WxBackendTest, PastesMeetTheFieldsValidatorAsAWhole) {
  const std::string title = "Paste test";
  TestFrame test = MakeFrame(title, kTypingId, [](Recorder& dialog) {
    (new TEdit(&dialog, 10))->SetValidator(new TFilterValidator(TCharSet("0-9")));
  });
  auto* edit = static_cast<TEdit*>(test.client->ChildWithId(10));
  test.frame->SetWindowPos(0, 80, 80, 360, 160, SWP_NOZORDER);
  test.frame->ShowWindow(SW_SHOWNORMAL);
  edit->SetText("43");
  edit->SetFocus();
  ASSERT_TRUE(Eventually("the edit to have the focus", [&] { return edit->Peer()->HasFocus(); }));
  auto selection = [&] {
    int start = -1, end = -1;
    edit->GetSelection(start, end);
    return std::make_pair(start, end);
  };

  for (const char* paste : {"ctrl+v", "shift+Insert"}) {
    SelectionServer clipboard("1 005", "clipboard");
    ASSERT_TRUE(clipboard.Ready());
    edit->SetSelection(0, -1);
    ASSERT_TRUE(Press(title, {"key", paste}));
    ASSERT_TRUE(clipboard.Served()) << paste;
    EXPECT_EQ(edit->GetText(), "43") << paste;
    EXPECT_EQ(selection(), std::make_pair(0, 2)) << paste;
  }
  EXPECT_EQ(test.client->Notifications(10, EN_CHANGE), 1);  // SetText's own

  // Digits are taken, over the selection.
  SelectionServer clipboard("42", "clipboard");
  ASSERT_TRUE(clipboard.Ready());
  edit->SetSelection(0, -1);
  ASSERT_TRUE(Press(title, {"key", "ctrl+v"}));
  ASSERT_TRUE(clipboard.Served());
  EXPECT_EQ(edit->GetText(), "42");
  EXPECT_TRUE(edit->IsModified());
  EXPECT_EQ(test.client->Notifications(10, EN_CHANGE), 2);
}

// GTK's own measure of how far an entry has scrolled its text to the left.
int ScrollOffset(const TWindow& edit) {
  static const auto get = ToolkitFunction<void (*)(void*, const char*, ...)>("g_object_get");
  int offset = -1;
  if (get != nullptr) get(WidgetOf(edit)->GetHandle(), "scroll-offset", &offset, nullptr);
  return offset;
}

// An edit without ES_AUTOHSCROLL stops taking characters when its visible width is full, so
// that all it holds shows; with ES_AUTOHSCROLL it scrolls and takes more.
TEST_F(WxBackendTest, EditWithoutHorizontalScrollingStopsWhenFull) {
  TestFrame typing = MakeFrame("Full test", kTypingId);
  TestFrame query = MakeFrame("Scroll test", kQueryId);
  for (TestFrame* test : {&typing, &query}) {
    test->frame->SetWindowPos(0, 60, test == &typing ? 60 : 300, 420, 200, SWP_NOZORDER);
    test->frame->ShowWindow(SW_SHOWNORMAL);
  }
  TWindow* fixed = typing.client->ChildWithId(11);
  TWindow* scrolling = query.client->ChildWithId(133);
  ASSERT_TRUE(Eventually("both edits laid out", [&] {
    return LaidOut(WidgetOf(*fixed)) && LaidOut(WidgetOf(*scrolling));
  }));
  for (TWindow* edit : {fixed, scrolling}) {
    for (int i = 0; i < 80; ++i) {
      TMessage key{WM_CHAR};
      key.wParam = 'W';
      edit->HandleMessage(key);
    }
  }
  EXPECT_TRUE(
      Eventually("the scrolling edit to scroll", [&] { return ScrollOffset(*scrolling) > 0; }));
  size_t taken = fixed->GetText().size();
  EXPECT_GT(taken, 5u);
  EXPECT_LT(taken, 80u);
  EXPECT_EQ(ScrollOffset(*fixed), 0) << taken;
  EXPECT_TRUE(fixed->Peer()->TextFits(fixed->GetText()));
  EXPECT_FALSE(fixed->Peer()->TextFits(fixed->GetText() + "W"));
  EXPECT_EQ(scrolling->GetText().size(), 80u);
}

// The default push button carries the toolkit's mark of the default, and it shows: on the
// screen its frame differs from that of the other button.
TEST_F(WxBackendTest, DefaultButtonIsMarkedAsTheDefault) {
  TestFrame test = MakeFrame("Default test", kQueryId);
  test.frame->SetWindowPos(0, 40, 40, 420, 200, SWP_NOZORDER);
  test.frame->ShowWindow(SW_SHOWNORMAL);
  test.client->ChildWithId(133)->SetFocus();
  ASSERT_TRUE(ShownAt("Default test", *test.frame, TRect{40, 40, 460, 240}));
  static const auto hasDefault = ToolkitFunction<int (*)(void*)>("gtk_widget_has_default");
  ASSERT_NE(hasDefault, nullptr);
  wxWindow* query = WidgetOf(*test.client->ChildWithId(408));
  wxWindow* close = WidgetOf(*test.client->ChildWithId(334));
  EXPECT_TRUE(hasDefault(query->GetHandle()));
  EXPECT_FALSE(hasDefault(close->GetHandle()));

  // On the screen, once the toolkit has drawn the buttons: the left edge of each, halfway
  // down, where a frame is drawn.
  ASSERT_TRUE(
      Eventually("both buttons laid out", [&] { return LaidOut(query) && LaidOut(close); }));
  testsupport::TempDir dir;
  const std::string shot = dir / "screen.png";
  std::string edges;
  EXPECT_TRUE(Eventually(
      "the default button drawn with another frame than the other",
      [&] {
        wxImage screen;
        if (std::system(("import -window root " + shot).c_str()) != 0 ||
            !screen.LoadFile(shot, wxBITMAP_TYPE_PNG)) {
          return false;
        }
        auto edge = [&](wxWindow* button, int inset) {
          wxRect rect = button->GetScreenRect();
          int x = rect.x + inset;
          int y = rect.y + rect.height / 2;
          return std::to_string(screen.GetRed(x, y)) + "," + std::to_string(screen.GetGreen(x, y)) +
                 "," + std::to_string(screen.GetBlue(x, y));
        };
        edges.clear();
        bool differ = true;
        for (int inset : {0, 1}) {
          edges += " " + edge(query, inset) + " against " + edge(close, inset);
          differ = differ && edge(query, inset) != edge(close, inset);
        }
        return differ;
      },
      [&] { return "edges" + edges; }));
}

// Other programs post messages to a window by its title; they arrive through the loop that
// runs, as typed keys do.
TEST_F(WxBackendTest, MessagesPostedToTheTitleArriveThroughTheLoop) {
  testsupport::TempDir runtime;
  ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  TestFrame test = MakeFrame("Posted test", kQueryId);
  ASSERT_TRUE(test.frame->ReceivePostedMessages());
  platform::WindowHandle window = platform::FindWindowByTitle("Posted test");
  ASSERT_NE(window, 0u);
  test.frame->messages.clear();  // what the frame heard while it was made
  EXPECT_TRUE(platform::PostWindowMessage(window, WM_CHAR, 0xA0, 0));
  EXPECT_TRUE(platform::PostWindowMessage(window, 0x24, 0, 0x10));  // WM_GETMINMAXINFO: dropped
  EXPECT_TRUE(platform::PostWindowMessage(window, WM_USER + 7, 3, 0));
  using Received = std::vector<std::pair<unsigned, uintptr_t>>;
  const Received expected = {{WM_CHAR, 0xA0}, {WM_USER + 7, 3}};
  EXPECT_TRUE(Eventually("the posted messages", [&] { return test.frame->messages == expected; }));
  test.frame->Destroy();
  EXPECT_EQ(platform::FindWindowByTitle("Posted test"), 0u);
  ::unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
