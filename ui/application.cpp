#include "ui/application.h"

namespace {

TApplication* g_application = nullptr;

}  // namespace

// ---------------------------------------------------------------------------------------------
// TModule

TModule::TModule(const char* name) : name_(name != nullptr ? name : "") {}

TModule::~TModule() = default;

void TModule::AddDialog(const DialogTemplate& dialog) { dialogs_[dialog.id] = dialog; }

void TModule::AddIcon(int id, IconResource icon) { icons_[id] = std::move(icon); }

void TModule::AddMenu(int id, const TMenu& menu) { menus_[id] = menu; }

const DialogTemplate* TModule::FindDialog(int id) const {
  auto found = dialogs_.find(id);
  return found != dialogs_.end() ? &found->second : nullptr;
}

const IconResource* TModule::FindIcon(int id) const {
  auto found = icons_.find(id);
  return found != icons_.end() ? &found->second : nullptr;
}

const TMenu* TModule::FindMenu(int id) const {
  auto found = menus_.find(id);
  return found != menus_.end() ? &found->second : nullptr;
}

// ---------------------------------------------------------------------------------------------
// TApplication

TApplication::TApplication(const char* name) : TModule(name) { g_application = this; }

TApplication::~TApplication() {
  if (mainWindow_) {
    // Tearing down is not closing: no quit request for a loop that has ended.
    mainWindow_->ClearFlag(wfMainWindow);
    mainWindow_.reset();
  }
  if (g_application == this) g_application = nullptr;
}

TApplication* TApplication::Current() { return g_application; }

int TApplication::Run() {
  try {
    InitInstance();
  } catch (const TXInvalidMainWindow& error) {
    MessageBox(nullptr, error.what(), "Error", MB_OK | MB_ICONHAND);
    return -1;
  }
  return ui::CurrentBackend().RunMessageLoop();
}

void TApplication::InitInstance() { CreateMainWindow().ShowWindow(SW_SHOWNORMAL); }

TFrameWindow& TApplication::CreateMainWindow() {
  InitMainWindow();
  if (!mainWindow_) throw TXInvalidMainWindow();
  mainWindow_->SetFlag(wfMainWindow);
  mainWindow_->Create();
  // Without the title (another instance holds it) the program still works; it is only not
  // reachable by other programs' posted messages.
  mainWindow_->ReceivePostedMessages();
  return *mainWindow_;
}

void TApplication::InitMainWindow() {}

bool TApplication::CanClose() { return !mainWindow_ || mainWindow_->CanClose(); }

void TApplication::SetMainWindow(TFrameWindow* window) {
  if (window == mainWindow_.get()) return;
  mainWindow_.reset(window);
}

int TApplication::MessageBox(TWindow* owner, const char* text, const char* caption, unsigned type) {
  return ui::CurrentBackend().MessageBox(owner, text != nullptr ? text : "",
                                         caption != nullptr ? caption : Name(), type);
}

void TApplication::Quit(int code) { ui::CurrentBackend().QuitMessageLoop(code); }

void ShowMainWindowFitting(const TWindow& control) {
  TApplication* app = TApplication::Current();
  TFrameWindow* frame = app != nullptr ? app->GetMainWindow() : nullptr;
  if (frame == nullptr) return;
  TRect rect = control.GetWindowRect();
  int width = rect.right + 2 + 2 * GetSystemMetrics(SM_CXFRAME);
  int height =
      rect.bottom + 2 + 2 * GetSystemMetrics(SM_CYFRAME) + 2 * GetSystemMetrics(SM_CYCAPTION);
  frame->SetWindowPos(0, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
  frame->ShowWindow(SW_SHOWNORMAL);
}
