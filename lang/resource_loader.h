// Loading a resource library (lang/resource_library.h) and copying its dialog templates into
// the window framework's form.
#ifndef LINDAVOX_LANG_RESOURCE_LOADER_H
#define LINDAVOX_LANG_RESOURCE_LOADER_H

#include <cstdint>
#include <optional>
#include <string>

#include "lang/resource_library.h"
#include "ui/dialog.h"

namespace lang {

// The framework's copy of `resource`, as template `id`; nullopt when the resource is malformed
// (a negative control count, or controls missing). Null texts become empty ones.
std::optional<DialogTemplate> ToDialogTemplate(const LvDialogResource& resource, int32_t id);

// A resource library, loaded (dlopen, RTLD_NOW | RTLD_LOCAL) for the object's lifetime. A name
// with a '/' is opened as it is; a bare name is tried in the running program's folder first,
// then wherever dlopen looks.
class ResourceLibrary {
 public:
  explicit ResourceLibrary(const std::string& name);
  ~ResourceLibrary();
  ResourceLibrary(const ResourceLibrary&) = delete;
  ResourceLibrary& operator=(const ResourceLibrary&) = delete;

  bool IsLoaded() const { return handle_ != nullptr; }
  // A copy of dialog template `id`; nullopt when the library is not loaded, has no lookup, or
  // has no such (well-formed) template. The copy stays valid after the library is freed.
  std::optional<DialogTemplate> FindDialog(int32_t id) const;

 private:
  void* handle_ = nullptr;
};

}  // namespace lang

#endif
