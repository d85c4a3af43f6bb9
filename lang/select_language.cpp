// SelectLanguageFile: the language selection dialog from its resource library, run modally.
#include "lang/select_language.h"

#include <optional>
#include <string>

#include "lang/resource_loader.h"
#include "lang/sel_language.h"
#include "platform/c_boundary.h"
#include "ui/application.h"

int32_t SelectLanguageFile(uintptr_t parentWindow, const char* directory, const char* extension,
                           const char* caption, uint8_t writeProductConfig,
                           const char* resourceLibrary) {
  if (directory == nullptr || extension == nullptr || resourceLibrary == nullptr ||
      !ui::HasBackend()) {
    return IDCANCEL;
  }
  return platform::CallNoThrow<int32_t>(IDCANCEL, [&]() -> int32_t {
    // Declared first, so the library is freed last: after the dialog and its template copy.
    lang::ResourceLibrary library(resourceLibrary);
    std::optional<DialogTemplate> dialog = library.FindDialog(LS_SELECT_LANGUAGE_DIALOG);
    if (!dialog) return IDCANCEL;
    TModule resources(resourceLibrary);
    resources.AddDialog(*dialog);
    TSel_Language selection(TWindow::FromHandle(parentWindow), &resources, directory, extension,
                            caption != nullptr ? caption : "", writeProductConfig != 0);
    return selection.Execute() == IDOK ? IDOK : IDCANCEL;
  });
}
