#include "ui/backend.h"

#include <cstdio>
#include <cstdlib>

#include "platform/message_box.h"
#include "ui/windows_defs.h"

namespace ui {
namespace {

std::unique_ptr<Backend> g_backend;

// Library code's messages ("show errors" flags) become real boxes without an owner window.
int ShowLibraryMessageBox(const char* text, const char* caption, unsigned type) {
  if (!g_backend) return IDOK;
  return g_backend->MessageBox(nullptr, text != nullptr ? text : "",
                               caption != nullptr ? caption : "", type);
}

}  // namespace

Backend& CurrentBackend() {
  if (!g_backend) {
    // A program that uses a window before installing a backend is broken beyond repair.
    std::fputs("window framework: no backend installed\n", stderr);
    std::abort();
  }
  return *g_backend;
}

void InstallBackend(std::unique_ptr<Backend> backend) {
  g_backend = std::move(backend);
  platform::SetMessageBoxHook(g_backend ? ShowLibraryMessageBox : nullptr);
}

bool HasBackend() { return g_backend != nullptr; }

}  // namespace ui
