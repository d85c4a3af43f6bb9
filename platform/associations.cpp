#include "platform/associations.h"

#include <gio/gio.h>

#include <memory>

#include "platform/file_io.h"

namespace platform {
namespace {

struct GObjectRelease {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct GMemoryRelease {
  void operator()(gpointer memory) const { g_free(memory); }
};
using AppInfo = std::unique_ptr<GAppInfo, GObjectRelease>;
using FileObject = std::unique_ptr<GFile, GObjectRelease>;
using GText = std::unique_ptr<gchar, GMemoryRelease>;

// The default application for the ordinary file `path`, or null.
AppInfo DefaultApplication(const std::string& path) {
  if (!IsRegularFile(path)) return nullptr;
  gboolean uncertain = FALSE;
  const GText type(g_content_type_guess(path.c_str(), nullptr, 0, &uncertain));
  if (!type || g_content_type_is_unknown(type.get())) return nullptr;
  return AppInfo(g_app_info_get_default_for_type(type.get(), FALSE));
}

}  // namespace

std::string AssociatedProgram(const std::string& path) {
  const AppInfo application = DefaultApplication(path);
  if (!application) return {};
  const char* executable = g_app_info_get_executable(application.get());
  if (!executable) return {};
  const GText program(g_find_program_in_path(executable));
  return program ? std::string(program.get()) : std::string();
}

bool OpenWithAssociation(const std::string& path) {
  const AppInfo application = DefaultApplication(path);
  if (!application) return false;
  const FileObject file(g_file_new_for_path(path.c_str()));
  GList files{file.get(), nullptr, nullptr};
  GError* error = nullptr;
  const bool started = g_app_info_launch(application.get(), &files, nullptr, &error);
  g_clear_error(&error);
  return started;
}

}  // namespace platform
