#include "cli/session.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/cli.h"
#include "platform/file_error.h"
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

// Why the rules for shared folders refused a file.
std::string RefusalText(const platform::Refusal& refusal) {
  if (refusal.error == platform::kFileInTheWay) {
    return "left by an earlier run, but not ours to remove (a link or another user's file); "
           "nothing was changed, remove it and run again";
  }
  return Reason(refusal.path, refusal.error);
}

}  // namespace

std::string Reason(const std::string& path, int error) {
  if (error == platform::kNotRegularFile || error == EISDIR) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return "is a folder, not a file";
  }
  return platform::FileErrorText(error);
}

platform::JournalField Field(const char* name, int64_t value) {
  return {name, std::to_string(value)};
}

void MarkDryRun(Report* report) {
  report->summary += " (dry run: nothing changed)";
  report->fields.push_back({"LINDAVOX_DRY_RUN", "1"});
  if (report->json.is_object()) report->json["dry_run"] = true;
}

void Session::SetDirectoriesUnchecked(const std::string& data, const std::string& exchange) {
  dataDir_ = Prefix(data);
  exchangeDir_ = exchange.empty() ? dataDir_ : Prefix(exchange);
}

bool Session::SetDirectories(const std::string& data, const std::string& exchange) {
  SetDirectoriesUnchecked(data, exchange);
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
  return Fail(kExitFileError, "cannot use " + path + ": " + Why(path, error),
              {{"LINDAVOX_FILE", path}, Field("ERRNO", error)});
}

std::string Session::Why(const std::string& path, int error) {
  named_ = path;
  const std::optional<platform::Refusal>& refusal = Refusal();
  return refusal && refusal->path == path ? RefusalText(*refusal) : Reason(path, error);
}

void Session::SayRefusal() {
  const std::optional<platform::Refusal>& refusal = Refusal();
  if (!refusal || refusal->path == named_) return;
  Fail(kExitFileError, refusal->path + ": " + RefusalText(*refusal),
       {{"LINDAVOX_FILE", refusal->path}, Field("ERRNO", refusal->error)});
}

const std::optional<platform::Refusal>& Session::Refusal() {
  if (std::optional<platform::Refusal> latest = platform::TakeRefusal()) refusal_ = latest;
  return refusal_;
}

int Session::Fail(int code, const std::string& message,
                  const std::vector<platform::JournalField>& fields) {
  if (!settings_.journal || !Log(platform::Priority::kError, message, fields)) {
    err << "lindavox-prepaid: " << message << '\n';
  }
  return code;
}

void Session::Present(const Report& report, Format format) {
  bool logged = false;
  if (settings_.journal) {
    for (const JournalNote& note : report.notes) Log(report.priority, note.message, note.fields);
    logged = Log(report.priority, report.summary, report.fields);
  }
  if (format == Format::kJson) {
    out << report.json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  } else if (!logged && !settings_.quiet) {
    out << report.text;
  }
  if (!logged && settings_.quiet && format != Format::kJson) {
    for (const std::string& warning : report.warnings) {
      err << "lindavox-prepaid: " << warning << '\n';
    }
  }
  out.flush();
}

bool Session::Log(platform::Priority priority, const std::string& message,
                  std::vector<platform::JournalField> fields) {
  fields.push_back({"LINDAVOX_COMMAND", command_});
  if (!dataDir_.empty()) fields.push_back({"LINDAVOX_DATA_DIR", dataDir_});
  if (exchangeDir_ != dataDir_) fields.push_back({"LINDAVOX_EXCHANGE_DIR", exchangeDir_});
  return platform::SendToJournal(priority, "lindavox-prepaid", message, fields) == 0;
}

}  // namespace cli
