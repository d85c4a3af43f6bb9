// The rules LSS applies to a looked-up text: escapes, the colon mode and the mnemonic '&'.
#include <cstring>

#include "lang/lang_internal.h"

namespace lang {
namespace {

// Replaces the first occurrence of the two characters `first` `second` by `replacement`, then
// searches again from the start of the text, until none is left. One scan from left to right,
// staying in place after each replacement, gives the same result in linear time: a replacement
// never forms an occurrence with the character before it (for "\\" that character would have
// held an earlier occurrence; tab, CR and LF never complete a pair), only with the one after it.
void ReplaceEachPair(char* text, char first, char second, char replacement) {
  size_t length = std::strlen(text);
  size_t at = 0;
  while (at + 1 < length) {
    if (text[at] != first || text[at + 1] != second) {
      ++at;
      continue;
    }
    text[at] = replacement;
    std::memmove(text + at + 1, text + at + 2, length - at - 1);  // with the terminator
    --length;
  }
}

}  // namespace

// The order matters and is what existing language files are written for: backslashes first,
// so "\\n" becomes "\n" and then a line feed, and a run of backslashes shrinks to one.
void UndoEscapes(char* text) {
  ReplaceEachPair(text, '\\', '\\', '\\');
  ReplaceEachPair(text, '\\', 't', '\t');
  ReplaceEachPair(text, '\\', 'r', '\r');
  ReplaceEachPair(text, '\\', 'n', '\n');
}

// Mode -1 keeps the text, 0 removes one trailing ':', anything else makes the text end with
// ':'. The colon is not appended to a text that already fills the kMaxText characters every
// lookup result is bounded by.
void ApplyColonMode(char* text, int32_t colonMode) {
  if (colonMode == -1) return;
  const size_t length = std::strlen(text);
  const bool endsWithColon = length > 0 && text[length - 1] == ':';
  if (colonMode == 0) {
    if (endsWithColon) text[length - 1] = '\0';
    return;
  }
  if (!endsWithColon && length < kMaxText) {
    text[length] = ':';
    text[length + 1] = '\0';
  }
}

// Removes the mnemonic marker of a control text; only the first '&' is one.
void StripFirstAmpersand(char* text) {
  if (char* ampersand = std::strchr(text, '&')) {
    std::memmove(ampersand, ampersand + 1, std::strlen(ampersand + 1) + 1);
  }
}

}  // namespace lang
