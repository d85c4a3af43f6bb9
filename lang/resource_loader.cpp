#include "lang/resource_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace lang {
namespace {

std::string TextOf(const char* text) { return text != nullptr ? text : ""; }

// The folder of the running program, with a trailing '/'; empty when it cannot be told.
std::string ProgramFolder() {
  char path[PATH_MAX];
  ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "";
  std::string program(path, static_cast<size_t>(length));
  size_t slash = program.rfind('/');
  return slash != std::string::npos ? program.substr(0, slash + 1) : "";
}

void* Open(const std::string& path) { return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }

}  // namespace

std::optional<DialogTemplate> ToDialogTemplate(const LvDialogResource& resource, int32_t id) {
  if (resource.controlCount < 0 || (resource.controlCount > 0 && resource.controls == nullptr)) {
    return std::nullopt;
  }
  DialogTemplate dialog{id,
                        resource.style,
                        TextOf(resource.caption),
                        TextOf(resource.fontFace),
                        resource.fontSize,
                        resource.x,
                        resource.y,
                        resource.w,
                        resource.h,
                        {}};
  dialog.controls.reserve(static_cast<size_t>(resource.controlCount));
  for (int32_t i = 0; i < resource.controlCount; ++i) {
    const LvDialogControlResource& control = resource.controls[i];
    dialog.controls.push_back(DialogControl{control.id, TextOf(control.className),
                                            TextOf(control.text), control.style, control.x,
                                            control.y, control.w, control.h});
  }
  return dialog;
}

ResourceLibrary::ResourceLibrary(const std::string& name) {
  // dlopen takes "" for the program itself, which is no resource library.
  if (name.empty()) return;
  if (name.find('/') == std::string::npos) {
    if (std::string folder = ProgramFolder(); !folder.empty()) handle_ = Open(folder + name);
  }
  if (handle_ == nullptr) handle_ = Open(name);
}

ResourceLibrary::~ResourceLibrary() {
  if (handle_ != nullptr) ::dlclose(handle_);
}

std::optional<DialogTemplate> ResourceLibrary::FindDialog(int32_t id) const {
  if (handle_ == nullptr) return std::nullopt;
  auto find = reinterpret_cast<LvResourceFindDialog>(::dlsym(handle_, LV_RESOURCE_FIND_DIALOG));
  if (find == nullptr) return std::nullopt;
  const LvDialogResource* resource = find(id);
  if (resource == nullptr) return std::nullopt;
  return ToDialogTemplate(*resource, id);
}

}  // namespace lang
