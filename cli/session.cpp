#include "cli/session.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/cli.h"
#include "platform/file_io.h"
#include "platform/share.h"
#include "platform/shared_folder.h"
#include "util/file_open_internal.h"

namespace cli {
namespace {

// A directory option as the store's directory prefix: "" stays the current directory, every
// other folder ends with '/'.
std::string Prefix(const std::string& dir) {
  return dir.empty() || dir.back() == '/' ? dir : dir + '/';
}

// 0 when `dir` is a folder (the empty prefix is the current one), else an errno value.
int FolderError(const std::string& dir) {
  struct stat st;
  if (::stat(dir.empty() ? "." : dir.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// A 32-bit card number has at most ten digits: a wider configured width (a wrapped digit count
// of a damaged PREPAID.BIN) pads no further.
constexpr int kWidestCardNumber = 10;

}  // namespace

std::string Reason(const std::string& path, int error) {
  if (error == platform::kSharingViolation) {
    return "in use by another program that does not share it (try again later)";
  }
  if (error == platform::kUntrustedLink) {
    return "a symbolic link that neither root nor the owner of its folder made, not followed";
  }
  if (error == platform::kNotRegularFile || error == EISDIR) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return "is a folder, not a file";
    if (error == platform::kNotRegularFile) return "is not an ordinary file";
  }
  return std::strerror(error);
}

bool Session::SetDirectories(const std::string& data, const std::string& exchange) {
  dataDir_ = Prefix(data);
  exchangeDir_ = exchange.empty() ? dataDir_ : Prefix(exchange);
  for (const std::string* dir : {&dataDir_, &exchangeDir_}) {
    if (const int error = FolderError(*dir); error != 0) {
      FileError(dir->empty() ? "." : *dir, error);
      return false;
    }
  }
  return true;
}

const PrepaidConfig& Session::config() {
  if (!config_) {
    PrepaidConfig read{};
    Prepaid_ReadConfig(dataDir_.c_str(), &read);
    config_ = read;
  }
  return *config_;
}

std::string Session::CardNumberText(int32_t number, uint16_t cardDigits) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*d", std::min<int>(cardDigits, kWidestCardNumber), number);
  return text;
}

int Session::ProbeCardFile() {
  platform::SharedFile file;
  const std::string path = DataPath("PREPAID.DAT");
  if (const int error = util::OpenAsFopen(path, "rb", false, &file); error != 0) {
    return FileError(path, error);
  }
  return kExitOk;
}

int Session::FileError(const std::string& path, int error) {
  named_ = path;
  return Fail(kExitFileError, "cannot use " + path + ": " + Reason(path, error));
}

void Session::SayRefusal() {
  const std::optional<platform::Refusal> refusal = platform::TakeRefusal();
  if (!refusal || refusal->path == named_) return;
  const std::string why =
      refusal->error == platform::kFileInTheWay
          ? "left by an earlier run, but not ours to remove (a link or another user's file); "
            "nothing was changed, remove it and run again"
          : Reason(refusal->path, refusal->error);
  Fail(kExitFileError, refusal->path + ": " + why);
}

int Session::Fail(int code, const std::string& message) {
  err << "lindavox-prepaid: " << message << '\n';
  return code;
}

}  // namespace cli
