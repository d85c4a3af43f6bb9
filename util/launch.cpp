// Starting programs and documents, help files and system texts (launch.h).
#include "util/launch.h"

#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "lang/lang.h"
#include "platform/ansi_case.h"
#include "platform/associations.h"
#include "platform/c_boundary.h"
#include "platform/file_io.h"
#include "platform/message_box.h"
#include "platform/profile.h"
#include "platform/spawn.h"
#include "util/convert.h"
#include "util/files.h"
#include "util/files_internal.h"
#include "util/lib_strings.h"

namespace util {
namespace {

constexpr const char* kFileNotFound =
    "Die angegebene Datei wurde nicht gefunden. Sie wurde evt. schon von Ihnen gelöscht.";
constexpr const char* kNoApplication =
    "Es wurde keine passende Applikation zum Anzeigen der angegebenen Datei gefunden.\n"
    "Installieren Sie bitte eine passende Anwendung und versuchen Sie es erneut.";
constexpr size_t kErrorText = 2000;
// Windows XP is version 5.1; every system this runs on counts as later.
constexpr int kSystemVersion = 100;
constexpr int kFirstXpVersion = 51;

void ShowStop(const std::string& text, const char* caption) {
  platform::ShowMessageBox(text.c_str(), caption ? caption : "", platform::kMessageIconStop);
}

// A Windows program by its name: the text after the name's last dot, or the whole name, is EXE
// or COM in any case.
bool HasProgramExtension(const char* path) {
  const std::string_view name = LIB_Filename(path, '/');
  const size_t dot = name.rfind('.');
  const std::string_view extension = dot == std::string_view::npos ? name : name.substr(dot + 1);
  return platform::AnsiEqualIgnoreCase(extension, "EXE") ||
         platform::AnsiEqualIgnoreCase(extension, "COM");
}

// A program: by its Windows name, or an ordinary file we may execute.
bool IsProgram(const char* path) {
  return HasProgramExtension(path) || (platform::IsRegularFile(path) && ::access(path, X_OK) == 0);
}

int32_t HelpOpen(const char* directory, const char* name, const char* topic,
                 const char* captionNoViewer, const char* captionNoFile) {
  const std::string file = JoinPath(directory, name);
  const std::string program = platform::AssociatedProgram(file);
  if (program.empty()) {
    if (FILE_Exist(directory, name, nullptr) > 0) {
      ShowStop(name, captionNoViewer);
    } else {
      ShowStop(std::string(directory) + name, captionNoFile);
    }
    return 0;
  }
  const std::string argument = topic && *topic ? file + '#' + topic : file;
  return platform::StartProgram(program, {argument}) == 0 ? 1 : 0;
}

int32_t ExecuteFile(const char* path, bool showErrors) {
  if (platform::StartCommandLine(path) == 0) return 1;
  if (FILE_Exist(path, nullptr, nullptr) == 0) {
    if (showErrors) ShowStop(kFileNotFound, path);
    return 0;
  }
  const std::string program = platform::AssociatedProgram(path);
  if (program.empty()) {
    if (showErrors) ShowStop(kNoApplication, path);
    return 0;
  }
  if (platform::OpenWithAssociation(path)) return 1;
  return platform::StartProgram(program, {path}) == 0 ? 1 : 0;
}

// The system's text in Windows-1252: glibc gives it in the codeset of the locale, which is
// UTF-8 on every current system once a program has set its locale.
void SystemText(int error, char (&text)[kErrorText]) {
  char buffer[kErrorText];
  std::snprintf(text, sizeof text, "%s", ::strerror_r(error, buffer, sizeof buffer));
  if (std::strcmp(::nl_langinfo(CODESET), "UTF-8") == 0) CONVERT_UTF82Ansi(text);
}

}  // namespace
}  // namespace util

int32_t LIB_HelpOpen(void* /*owner*/, const char* directory, char* helpFile, const char* topic,
                     const char* captionNoViewer, const char* captionNoFile) {
  if (!directory || !helpFile) return 0;
  return platform::CallNoThrow(0, [&] {
    return util::HelpOpen(directory, LS_Help(helpFile), topic, captionNoViewer, captionNoFile);
  });
}

int32_t LIB_ExecuteFile(void* /*owner*/, const char* path, uint8_t showErrors) {
  if (!path) return 0;
  return platform::CallNoThrow(0, [&] { return util::ExecuteFile(path, showErrors != 0); });
}

int32_t LIB_TestExecuteFile(void* /*owner*/, const char* path, uint8_t showErrors) {
  if (!path) return 0;
  return platform::CallNoThrow(0, [&] {
    if (util::IsProgram(path) || !platform::AssociatedProgram(path).empty()) return 1;
    if (showErrors) util::ShowStop(util::kNoApplication, LIB_Filename(path, '/'));
    return 0;
  });
}

char* LIB_GetFileStarter(const char* path) {
  static char result[util::kPathBuffer];
  result[0] = '\0';
  if (!path) return result;
  return platform::CallNoThrow(static_cast<char*>(result), [&] {
    if (util::IsProgram(path)) return result;
    const std::string program = platform::AssociatedProgram(path);
    if (util::FitsPath(program)) std::memcpy(result, program.c_str(), program.size() + 1);
    return result;
  });
}

uint8_t LIB_isXP(void) {
  // The profile's override is read once per process; the system's version on every call.
  static const bool forced = platform::CallNoThrow(
      false, [] { return platform::ReadUserProfileInt("Tarnwell", "XP", 0) == 1; });
  return forced || util::kSystemVersion >= util::kFirstXpVersion ? 1 : 0;
}

char* LIB_LastErrorString(void* owner, uint32_t code) {
  const int lastError = errno;
  static char text[util::kErrorText];
  util::SystemText(code != 0 ? static_cast<int>(code) : lastError, text);
  if (owner != LIB_NO_MESSAGE_BOX) {
    platform::ShowMessageBox(text, "Error", platform::kMessageIconInformation);
  }
  text[std::strcspn(text, "\r\n")] = '\0';
  return text;
}
