// The field splitter in both generations (see split_line.h for the rules).
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "util/split_line.h"
#include "util/split_line_internal.h"

namespace util {
namespace {

struct SplitRules {
  char separator;
  int maxFields;
  size_t maxCopy;           // characters copied from a field; SIZE_MAX: the whole field
  bool fourthTakesTheRest;  // field 4 is cut only when destination 5 is given
};

constexpr size_t kNewerFieldLimit = 99;

char Fallback(char separator) {
  if (separator == ',') return ';';
  if (separator == ';') return ',';
  return '\0';
}

void CopyField(char* dest, const char* from, size_t limit) {
  const size_t length = strnlen(from, limit);
  std::memcpy(dest, from, length);
  dest[length] = '\0';
}

// The end character of the field whose content starts at `content` (the closing quote of a
// quoted field), or null when the line holds none.
char* FieldEnd(char* content, bool quoted, char separator) {
  if (quoted) return std::strchr(content, '"');
  char* end = separator ? std::strchr(content, separator) : nullptr;
  if (!end && Fallback(separator)) end = std::strchr(content, Fallback(separator));
  return end;
}

int32_t Split(char* line, const SplitRules& rules, char* const* dest) {
  if (!line || !dest[0] || !dest[1]) return 0;
  size_t length = std::strlen(line);
  if (length > 0 && line[length - 1] == '\n') line[--length] = '\0';
  if (length == 0) return 0;
  char* const lineEnd = line + length;
  char* p = line;
  for (int k = 1;; ++k) {
    const bool quoted = *p == '"';
    char* content = quoted ? p + 1 : p;
    char* end = FieldEnd(content, quoted, rules.separator);
    if (!end) {
      if (k == 1) return 0;  // a line without any separator is no record
      CopyField(dest[k - 1], content, rules.maxCopy);
      return k;
    }
    const bool nextGiven = k < rules.maxFields && dest[k] != nullptr;
    if (!(rules.fourthTakesTheRest && k == 4 && !nextGiven)) *end = '\0';
    CopyField(dest[k - 1], content, rules.maxCopy);
    p = end + 1;
    if (quoted && p < lineEnd) ++p;  // the separator after the closing quote
    if (k == rules.maxFields || p >= lineEnd || !nextGiven) return k;
  }
}

}  // namespace

int32_t SplitThreeFields(char* line, SplitGeneration generation, char* d1, char* d2, char* d3) {
  for (char* d : {d1, d2, d3}) d[0] = '\0';
  if (generation == SplitGeneration::kBalanceQuery) {
    return GetLineParts(line, d1, d2, d3, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  return CONVERT_SplitLine(line, ',', d1, d2, d3, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr);
}

int32_t SplitThreeWholeFields(const std::string& line, SplitGeneration generation,
                              std::string fields[3]) {
  std::string text = line.c_str();  // the splitter writes terminators into its line
  std::vector<char> room(3 * (text.size() + 1), '\0');
  char* const dest[] = {room.data(), room.data() + text.size() + 1,
                        room.data() + 2 * (text.size() + 1), nullptr};
  const SplitRules rules = generation == SplitGeneration::kBalanceQuery
                               ? SplitRules{',', 9, SIZE_MAX, false}
                               : SplitRules{',', 10, SIZE_MAX, true};
  const int32_t count = Split(text.data(), rules, dest);
  for (int i = 0; i < 3; ++i) fields[i] = dest[i];
  return count;
}

}  // namespace util

int32_t CONVERT_SplitLine(char* line, char separator, char* d1, char* d2, char* d3, char* d4,
                          char* d5, char* d6, char* d7, char* d8, char* d9, char* d10) {
  char* const dest[] = {d1, d2, d3, d4, d5, d6, d7, d8, d9, d10};
  return util::Split(line, {separator, 10, util::kNewerFieldLimit, true}, dest);
}

int32_t GetLineParts(char* line, char* d1, char* d2, char* d3, char* d4, char* d5, char* d6,
                     char* d7, char* d8, char* d9) {
  char* const dest[] = {d1, d2, d3, d4, d5, d6, d7, d8, d9};
  return util::Split(line, {',', 9, SIZE_MAX, false}, dest);
}
