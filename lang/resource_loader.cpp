#include "lang/resource_loader.h"

#include <dlfcn.h>

#include "platform/program_path.h"

namespace lang {
namespace {

std::string TextOf(const char* text) { return text != nullptr ? text : ""; }

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
    // A bare name is looked for beside the running program first.
    if (std::string folder = platform::ProgramDirectory(nullptr); !folder.empty())
      handle_ = Open(folder + name);
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
