// Line ends and the bounded replacement on texts in memory (see line_edit.h).
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "util/line_edit.h"

namespace {

// The replacement's work area of the original design: no result grows beyond it.
constexpr size_t kSwitchLimit = 2000;

void RemoveFirst(char* text, char c) {
  if (char* found = std::strchr(text, c)) std::memmove(found, found + 1, std::strlen(found));
}

}  // namespace

void CONVERT_RemoveCRLF(char* text) {
  if (!text) return;
  RemoveFirst(text, '\r');
  RemoveFirst(text, '\n');
}

char* CONVERT_AddCRLF(char* text) {
  if (text) std::strcat(text, "\r\n");
  return text;
}

int32_t CONVERT_fputs(char* text, FILE* stream) {
  if (!text || !stream) return EOF;
  CONVERT_RemoveCRLF(text);
  CONVERT_AddCRLF(text);
  return std::fputs(text, stream);
}

// Each round replaces the first occurrence in the whole text, as if the search started over at
// the beginning. It need not: the text before the last replacement held no occurrence, so the
// search may start where the changed bytes can first be part of one. Every round either grows
// the text (bounded by the capacity), shrinks it, or, at equal lengths, moves it the same way
// in sorting order, so the rounds always end.
uint8_t CONVERT_SwitchString(char* text, uint32_t capacity, const char* find,
                             const char* replacement) {
  if (!text || !find || !replacement || std::strcmp(find, replacement) == 0) return 0;
  const size_t room = std::min<size_t>(capacity, kSwitchLimit);
  const size_t findLength = std::strlen(find);
  const size_t replacementLength = std::strlen(replacement);
  size_t length = std::strlen(text);
  size_t searchFrom = 0;
  bool replaced = false;
  for (;;) {
    char* match = std::strstr(text + searchFrom, find);
    if (!match || length + replacementLength >= room + findLength) break;
    const size_t at = static_cast<size_t>(match - text);
    std::memmove(match + replacementLength, match + findLength, length - at - findLength + 1);
    std::memcpy(match, replacement, replacementLength);
    length = length + replacementLength - findLength;
    replaced = true;
    searchFrom = findLength == 0 ? 0 : at - std::min(at, findLength - 1);
  }
  return replaced;
}
