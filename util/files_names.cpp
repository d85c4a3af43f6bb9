// Unused file names (files.h), in both generations.
#include <cstdio>
#include <cstring>

#include "platform/c_boundary.h"
#include "platform/wall_clock.h"
#include "util/files.h"
#include "util/files_internal.h"
#include "util/lib_strings.h"

namespace util {
namespace {

constexpr size_t kShortPrefix = 6;
constexpr size_t kNameWidth = 8;
constexpr uint32_t kLastCounter = 0xFFFFFFFF;

std::string Text(const char* text) { return text ? std::string(text) : std::string(); }

std::string Upper(const char* text) {
  std::string copy = Text(text);
  UpperCaseInPlace(copy.data());
  return copy;
}

// The counter zero-padded to the digits the prefix leaves of the width.
std::string Counter(const NewNameRequest& request, uint32_t counter) {
  const size_t digits =
      request.width > request.prefix.size() ? request.width - request.prefix.size() : 0;
  char text[16];
  std::snprintf(text, sizeof text, request.base == CounterBase::kHexadecimal ? "%0*X" : "%0*u",
                static_cast<int>(digits), counter);
  return text;
}

// Makes sure of the folder, then finds a name and writes it to `out`. Null when none is found.
char* FindInto(char* out, char* directory, NewNameRequest request,
               DirectoryTestGeneration generation) {
  if (!out || !FitsPath(directory)) return nullptr;
  return platform::CallNoThrow<char*>(nullptr, [&]() -> char* {
    TestDirectory(directory, 2, generation);
    request.directory = directory;
    bool exhausted = false;
    const std::optional<std::string> name = FindNewName(request, &exhausted);
    if (!name) return nullptr;
    std::memcpy(out, name->c_str(), name->size() + 1);
    return out;
  });
}

// FILE_FindNewNameT and FindNewFileNameT: a six-character prefix from the low bits of the
// clock, the next second's when all 256 counters of one are taken. Each prefix is tried at most
// once; a name that does not fit a path fits with no other prefix.
char* FindByTime(char* out, char* directory, const char* extension, bool anyExtension, char letter,
                 DirectoryTestGeneration generation) {
  if (!out) return nullptr;
  out[0] = '\0';
  if (!FitsPath(directory)) return out;
  return platform::CallNoThrow<char*>(out, [&] {
    TestDirectory(directory, 2, generation);
    const uint32_t mask = letter ? 0xFFFFF : 0xFFFFFF;
    const uint32_t now = static_cast<uint32_t>(platform::Now().seconds);
    NewNameRequest request{directory, {},         Text(extension),          anyExtension,
                           0,         kNameWidth, CounterBase::kHexadecimal};
    for (uint32_t step = 0; step <= mask; ++step) {
      const uint32_t value = (now + step) & mask;
      char prefix[8];
      if (letter) {
        std::snprintf(prefix, sizeof prefix, "%c%05X", letter, value);
      } else {
        std::snprintf(prefix, sizeof prefix, "%06X", value);
      }
      request.prefix = prefix;
      bool exhausted = false;
      if (const std::optional<std::string> name = FindNewName(request, &exhausted)) {
        std::memcpy(out, name->c_str(), name->size() + 1);
        return out;
      }
      if (!exhausted) break;
    }
    return out;
  });
}

}  // namespace

std::optional<std::string> FindNewName(const NewNameRequest& request, bool* exhausted) {
  const std::string start = std::string(request.directory) + request.prefix;
  for (uint64_t counter = request.firstCounter; counter <= kLastCounter; ++counter) {
    const std::string stem = start + Counter(request, static_cast<uint32_t>(counter)) + '.';
    const std::string probe = stem + (request.anyExtension ? "*" : request.extension);
    const std::string name = stem + request.extension;
    if (!FitsPath(probe) || !FitsPath(name)) return std::nullopt;
    if (std::strlen(LIB_FilenameBody(probe.c_str())) > request.width) break;
    if (FILE_Exist(probe.c_str(), nullptr, nullptr) == 0) return name;
  }
  *exhausted = true;
  return std::nullopt;
}

}  // namespace util

using util::CounterBase;
using util::DirectoryTestGeneration;

char* FILE_FindNewName(char* out, char* directory, const char* prefix, const char* extension,
                       uint8_t anyExtension, uint8_t upperCase, int32_t firstCounter) {
  std::string name = upperCase ? util::Upper(prefix) : util::Text(prefix);
  std::string type = upperCase ? util::Upper(extension) : util::Text(extension);
  const size_t width = name.size() <= util::kShortPrefix ? util::kNameWidth : name.size() + 3;
  return util::FindInto(out, directory,
                        {{},
                         std::move(name),
                         std::move(type),
                         anyExtension != 0,
                         static_cast<uint32_t>(firstCounter),
                         width,
                         CounterBase::kHexadecimal},
                        DirectoryTestGeneration::kCurrent);
}

char* FILE_FindNewName_1(char* out, char* directory, const char* prefix, const char* extension,
                         int32_t firstCounter) {
  std::string name = util::Text(prefix);
  const size_t width = name.size() + 1;
  return util::FindInto(out, directory,
                        {{},
                         std::move(name),
                         util::Text(extension),
                         false,
                         static_cast<uint32_t>(firstCounter),
                         width,
                         CounterBase::kDecimal},
                        DirectoryTestGeneration::kCurrent);
}

char* FILE_FindNewNameT(char* out, char* directory, const char* extension, uint8_t anyExtension,
                        char prefixLetter) {
  return util::FindByTime(out, directory, extension, anyExtension != 0, prefixLetter,
                          DirectoryTestGeneration::kCurrent);
}

char* FindNewFileName(char* out, char* directory, const char* prefix, const char* extension,
                      uint8_t anyExtension) {
  return util::FindInto(out, directory,
                        {{},
                         util::Upper(prefix),
                         util::Upper(extension),
                         anyExtension != 0,
                         0,
                         util::kNameWidth,
                         CounterBase::kHexadecimal},
                        DirectoryTestGeneration::kBalanceQuery);
}

char* FindNewFileNameT(char* out, char* directory, const char* extension, uint8_t anyExtension) {
  return util::FindByTime(out, directory, extension, anyExtension != 0, 0,
                          DirectoryTestGeneration::kBalanceQuery);
}
