// GoogleTest fixture for the headless tests of a program (vantor, quillet): a fresh folder as
// the data directory and as the runtime directory of windows found by title, the headless
// backend, and the program started as its main function starts it, with a script for what a
// person does while its message loop runs.
#ifndef LINDAVOX_TESTSUPPORT_PROGRAM_TEST_H
#define LINDAVOX_TESTSUPPORT_PROGRAM_TEST_H

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "platform/profile.h"
#include "testsupport/file_test.h"
#include "ui/application.h"
#include "ui/controls.h"
#include "ui/headless/headless.h"

// Each program keeps its data directory here (its own definition).
extern char DataDir[260];

namespace testsupport {

template <class Application>
class ProgramTest : public RuntimeDirTest {
 protected:
  void SetUp() override {
    RuntimeDirTest::SetUp();
    backend = &ui::HeadlessBackend::Install();
    std::strcpy(DataDir, Dir().c_str());
  }
  void TearDown() override {
    app.reset();
    ui::InstallBackend(nullptr);
    RuntimeDirTest::TearDown();
  }

  // Starts the program: InitInstance, then `script` while the message loop runs. Returns the
  // exit code.
  int Start(std::function<void()> script) {
    app = std::make_unique<Application>();
    backend->SetLoopScript(std::move(script));
    return app->Run();
  }
  // The start-up timer has run: the main window is shown.
  void ShowUp() { backend->AdvanceTime(200); }

  TFrameWindow& Frame() { return *app->GetMainWindow(); }
  TDialog& Client() { return *static_cast<TDialog*>(Frame().GetClientWindow()); }
  static TEdit& Field(TWindow& dialog, int id) {
    return *static_cast<TEdit*>(dialog.ChildWithId(id));
  }
  // Replaces the whole text of an edit by typing, as a person does after selecting it.
  void Retype(TEdit& edit, const std::string& text) {
    edit.SetFocus();
    edit.SetSelection(0, -1);
    backend->Type(text.empty() ? "\b" : text);
  }
  // The one message box shown since the boxes were last cleared.
  const ui::ShownMessageBox& OnlyBox() {
    EXPECT_EQ(backend->MessageBoxes().size(), 1u);
    static const ui::ShownMessageBox none{};
    return backend->MessageBoxes().empty() ? none : backend->MessageBoxes()[0];
  }
  // The window placement both programs store.
  static std::string StoredPlacement() {
    char stored[100];
    platform::ReadUserProfileString("Lindavox", "quillet_pos", "", stored, sizeof stored);
    return stored;
  }

  ui::HeadlessBackend* backend = nullptr;
  std::unique_ptr<Application> app;
};

}  // namespace testsupport

#endif
