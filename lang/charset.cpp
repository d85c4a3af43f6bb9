// LS_GetCharset: the character set that goes with the system's ANSI code page.
#include <cstdio>
#include <cstring>
#include <string>

#include "lang/lang.h"
#include "lang/lang_internal.h"
#include "platform/c_boundary.h"
#include "platform/profile.h"

namespace lang {
namespace {

// The ANSI code page of this platform: every text of the system is Windows-1252.
constexpr int32_t kAnsiCodePage = 1252;
constexpr size_t kCharsetSize = 100;

void ReadCharset(char* charset, char* extra, const char* directory, bool fallback) {
  char key[16];
  std::snprintf(key, sizeof key, "%d", static_cast<int>(kAnsiCodePage));
  charset[0] = '\0';
  if (directory) {
    const std::string file = FileInDirectory(directory, "CHARSET.INI");
    platform::ReadProfileString("charset", key, "", charset, kCharsetSize, file.c_str());
  }
  // "iso-8859-1 Arial": the set, then a further word such as a font hint.
  if (char* blank = std::strchr(charset, ' ')) {
    *blank = '\0';
    if (extra) std::memmove(extra, blank + 1, std::strlen(blank + 1) + 1);
  }
  if (fallback && charset[0] == '\0') {
    std::snprintf(charset, kCharsetSize, "windows-%d", static_cast<int>(kAnsiCodePage));
  }
}

}  // namespace
}  // namespace lang

int32_t LS_GetCharset(char* charset, char* extra, const char* directory, uint8_t fallback) {
  if (!charset) return lang::kAnsiCodePage;
  return platform::CallNoThrow<int32_t>(lang::kAnsiCodePage, [&]() -> int32_t {
    lang::ReadCharset(charset, extra, directory, fallback != 0);
    return lang::kAnsiCodePage;
  });
}
