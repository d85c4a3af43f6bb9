#include "platform/associations.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <unistd.h>

#include <memory>

#include "platform/file_io.h"
#include "platform/path.h"

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

namespace {

// Runs in the started program's process, between fork and exec: only async-signal-safe calls.
void ChangeIntoFolder(gpointer folder) {
  if (::chdir(static_cast<const char*>(folder)) != 0) _exit(127);
}

}  // namespace

bool OpenWithAssociation(const std::string& path) {
  const AppInfo application = DefaultApplication(path);
  if (!application) return false;
  const FileObject file(g_file_new_for_path(path.c_str()));
  const GText uri(g_file_get_uri(file.get()));
  GList uris{uri.get(), nullptr, nullptr};
  GError* error = nullptr;
  bool started;
  if (G_IS_DESKTOP_APP_INFO(application.get())) {
    // The document's folder, unless the application's entry names a folder of its own (Path).
    // GIO closes every descriptor but standard input, output and error in the child.
    auto* desktop = G_DESKTOP_APP_INFO(application.get());
    std::string folder = DirectoryOf(path);
    if (folder.empty()) folder = ".";
    const bool ownFolder = g_desktop_app_info_has_key(desktop, "Path");
    started = g_desktop_app_info_launch_uris_as_manager(
        desktop, &uris, nullptr, G_SPAWN_SEARCH_PATH, ownFolder ? nullptr : ChangeIntoFolder,
        folder.data(), nullptr, nullptr, &error);
  } else {
    started = g_app_info_launch_uris(application.get(), &uris, nullptr, &error);
  }
  g_clear_error(&error);
  return started;
}

}  // namespace platform
