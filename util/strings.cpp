// Paths, comparisons, bounded copies and byte helpers of the utility library.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/ansi_case.h"
#include "platform/ansi_collate.h"
#include "util/lib_strings.h"

namespace util {
namespace {

constexpr size_t kPathBuffer = 260;
constexpr size_t kCompareLimit = 999;
constexpr unsigned char kScramble = 0x15;

std::string_view Text(const char* text) {
  return text ? std::string_view(text) : std::string_view();
}

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

// The position just after the last separator of `path`, or 0.
size_t NameStart(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (IsPathSeparator(path[i - 1])) return i;
  }
  return 0;
}

// The position of the dot that begins the extension of `name` (at or after its second
// character), or npos.
size_t ExtensionDot(std::string_view name) {
  const size_t dot = name.rfind('.');
  return dot == std::string_view::npos || dot == 0 ? std::string_view::npos : dot;
}

// Copies `text`, cut to 259 characters, into a static result buffer.
char* Result(char (&buffer)[kPathBuffer], std::string_view text) {
  const size_t length = std::min(text.size(), kPathBuffer - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return buffer;
}

// At most `limit` characters of `text`, upper-cased.
std::string UpperCopy(const char* text, size_t limit) {
  std::string copy(Text(text).substr(0, limit));
  for (char& c : copy) c = static_cast<char>(platform::AnsiUpper(static_cast<unsigned char>(c)));
  return copy;
}

int32_t CompareUpper(const char* text1, const char* text2, size_t limit) {
  return platform::AnsiCollate(UpperCopy(text1, limit), UpperCopy(text2, limit));
}

}  // namespace
}  // namespace util

using util::Text;

char* LIB_Filename(const char* path, char separator) {
  if (!path) return nullptr;
  const std::string_view text(path);
  size_t start = 0;
  if (util::IsPathSeparator(separator)) {
    start = util::NameStart(text);
  } else if (const size_t at = text.rfind(separator); at != std::string_view::npos) {
    start = at + 1;
  }
  return const_cast<char*>(path + start);
}

char* LIB_sPath(const char* path) {
  static char buffer[util::kPathBuffer];
  const std::string_view text = Text(path).substr(0, util::kPathBuffer - 1);
  return util::Result(buffer, text.substr(0, util::NameStart(text)));
}

char* LIB_FilenameBody(const char* path) {
  static char buffer[util::kPathBuffer];
  const std::string_view name = Text(path).substr(util::NameStart(Text(path)));
  return util::Result(buffer, name.substr(0, util::ExtensionDot(name)));
}

char* LIB_FilenameExtension(const char* path) {
  static char buffer[util::kPathBuffer];
  const std::string_view name = Text(path).substr(util::NameStart(Text(path)));
  const size_t dot = util::ExtensionDot(name);
  return util::Result(buffer, dot == std::string_view::npos ? name : name.substr(dot + 1));
}

char* LIB_strstr(const char* text, const char* pattern) {
  if (!text) return nullptr;
  const std::string haystack = util::UpperCopy(text, util::kCompareLimit);
  const size_t at = haystack.find(util::UpperCopy(pattern, util::kCompareLimit));
  return at == std::string::npos ? nullptr : const_cast<char*>(text + at);
}

int32_t LIB_strcmp(const char* text1, const char* text2) {
  return util::CompareUpper(text1, text2, util::kCompareLimit);
}

int32_t LIB_strncmp(const char* text1, const char* text2, int32_t count) {
  const size_t limit =
      count <= 0 ? 0 : std::min<size_t>(static_cast<size_t>(count), util::kCompareLimit);
  return util::CompareUpper(text1, text2, limit);
}

char* LIB_strncpy(char* dest, const char* source, int32_t count) {
  if (!dest || count < 0) return dest;
  const size_t places = static_cast<size_t>(count);
  const size_t length = source ? strnlen(source, places) : 0;
  if (length) std::memmove(dest, source, length);
  std::memset(dest + length, 0, places - length + 1);
  return dest;
}

void* LIB_memcpy(void* dest, const void* source, uint32_t count) {
  if (dest && source && count) std::memmove(dest, source, count);
  return dest;
}

void LIB_memset(uint16_t* dest, uint16_t value, uint32_t count) {
  if (dest) std::fill_n(dest, count, value);
}

int32_t LIB_wildstrcmp(const char* text, const char* pattern) {
  const std::string_view t = Text(text), p = Text(pattern);
  if (t.size() != p.size()) return -1;
  for (size_t i = 0; i < t.size(); ++i) {
    if (p[i] != t[i] && p[i] != '?') return -1;
  }
  return 0;
}

void LIB_xor(uint8_t* buffer, int32_t length) {
  if (!buffer) return;
  for (int32_t i = 0; i < length; ++i) {
    if (buffer[i] >= 32) buffer[i] ^= util::kScramble;
  }
}

// The balance query's names for the same functions.
char* sName(const char* path, char separator) { return LIB_Filename(path, separator); }
char* sNameBody(const char* path) { return LIB_FilenameBody(path); }
char* mystrncpy(char* dest, const char* source, int32_t count) {
  return LIB_strncpy(dest, source, count);
}
void* mymemcpy(void* dest, const void* source, uint32_t count) {
  return LIB_memcpy(dest, source, count);
}
void mymemset(uint16_t* dest, uint16_t value, uint32_t count) { LIB_memset(dest, value, count); }
