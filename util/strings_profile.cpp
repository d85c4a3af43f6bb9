// The helpers of the utility library that read or write profile strings.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/c_boundary.h"
#include "platform/profile.h"
#include "util/lib_strings.h"

namespace util {
namespace {

// Skips leading spaces and cuts trailing spaces off in the caller's text.
char* TrimBlanks(char* text) {
  if (!text) return nullptr;
  while (*text == ' ') ++text;
  for (size_t length = std::strlen(text); length > 0 && text[length - 1] == ' '; --length) {
    text[length - 1] = '\0';
  }
  return text;
}

}  // namespace
}  // namespace util

int32_t LIB_WritePrivateProfileString(const char* section, char* key, char* value,
                                      const char* file) {
  key = util::TrimBlanks(key);
  value = util::TrimBlanks(value);
  return platform::CallNoThrow<int32_t>(
      0, [&] { return platform::WriteProfileString(section, key, value, file) ? 1 : 0; });
}

int32_t LIB_WriteProfileString(const char* section, char* key, char* value) {
  key = util::TrimBlanks(key);
  value = util::TrimBlanks(value);
  return platform::CallNoThrow<int32_t>(
      0, [&] { return platform::WriteUserProfileString(section, key, value) ? 1 : 0; });
}

char* LIB_GetCountryCode(void) {
  static char buffer[20];
  platform::CallNoThrow<uint32_t>(0, [&] {
    return platform::ReadUserProfileString("Tarnwell", "CountryCode", "49", buffer, sizeof buffer);
  });
  return buffer;
}

char* LIB_Logname(char* out, const char* defaultDir, const char* name) {
  if (!out) return nullptr;
  constexpr size_t kOut = 260;
  char directory[kOut] = "";
  platform::CallNoThrow<uint32_t>(0, [&] {
    return platform::ReadProfileString("Common", "LogDirectory", "", directory, sizeof directory,
                                       "TARNWELL.INI");
  });
  const char* base = directory[0] ? directory : (defaultDir ? defaultDir : "");
  std::snprintf(out, kOut, "%s%s", base, name ? name : "");
  return out;
}

char* GetCountryCode(void) { return LIB_GetCountryCode(); }
