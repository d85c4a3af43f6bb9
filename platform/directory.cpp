#include "platform/directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/change_recorder.h"
#include "platform/fault.h"
#include "platform/file_io.h"

namespace platform {
namespace {

int Errno() { return errno ? errno : EIO; }

}  // namespace

bool IsDirectory(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && KindOf(status) == FileKind::kDirectory;
}

int MakeDirectory(const std::string& path) {
  if (int fault = InjectedFault(FileOp::kOpen, path)) return fault;
  if (::mkdir(path.c_str(), 0777) != 0) return Errno();
  ReportMakeDirectory(path);
  return 0;
}

int RemoveDirectory(const std::string& path) {
  if (int fault = InjectedFault(FileOp::kRemove, path)) return fault;
  if (::rmdir(path.c_str()) != 0) return Errno();
  ReportRemoveDirectory(path);
  return 0;
}

}  // namespace platform
