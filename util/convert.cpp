// Character-set conversions of single-byte texts in memory (see convert.h). Every table is built
// at compile time from the lists below, so each byte costs one lookup.
#include "util/convert.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

using Bytes = unsigned char*;

// The DOS byte for each ANSI code from 0xA0 on: the IBM PC character set, with plain
// substitutes where it has no equivalent (and for the no-break space, the middle dot, í and ò).
constexpr unsigned char kDosFromAnsiA0[96] = {
    0x20, 0xAD, 0x9B, 0x9C, 0x23, 0x9D, 0x7C, 0x15, 0x20, 0x63, 0xA6, 0xAE, 0xAA, 0xC4, 0x52, 0xC4,
    0xF8, 0xF1, 0xFD, 0xFC, 0x27, 0xE6, 0x14, 0xF9, 0x2C, 0xFC, 0xA7, 0xAF, 0xAC, 0xAB, 0x20, 0xA8,
    0x41, 0x41, 0x41, 0x41, 0x8E, 0x8F, 0x92, 0x80, 0x45, 0x90, 0x45, 0x45, 0x49, 0x49, 0x49, 0x49,
    0x44, 0xA5, 0x4F, 0x4F, 0x93, 0x93, 0x99, 0x78, 0x30, 0x55, 0x55, 0x55, 0x9A, 0x59, 0x70, 0xE1,
    0x85, 0xA0, 0x83, 0x61, 0x84, 0x86, 0x91, 0x87, 0x8A, 0x82, 0x88, 0x89, 0x8D, 0x69, 0x8C, 0x8B,
    0x64, 0xA4, 0x6F, 0xA2, 0x93, 0x6F, 0x94, 0xF6, 0x6F, 0x97, 0xA3, 0x96, 0x81, 0x79, 0x50, 0x98,
};

constexpr std::array<unsigned char, 256> MakeDosFromAnsi() {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) {
    if (c >= 0xA0) {
      table[c] = kDosFromAnsiA0[c - 0xA0];
    } else {
      table[c] = c >= 0x81 ? '?' : static_cast<unsigned char>(c);
    }
  }
  return table;
}

// The reverse direction takes the first ANSI code that maps to a DOS byte, since the DOS table
// is not one-to-one; DOS bytes that no ANSI code maps to stay as they are.
constexpr std::array<unsigned char, 256> MakeAnsiFromDos() {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = static_cast<unsigned char>(c);
  for (int c = 0xFF; c >= 0xA0; --c) {
    const unsigned char dos = kDosFromAnsiA0[c - 0xA0];
    if (dos >= 0x80) table[dos] = static_cast<unsigned char>(c);
  }
  return table;
}

constexpr auto kDosFromAnsi = MakeDosFromAnsi();
constexpr auto kAnsiFromDos = MakeAnsiFromDos();

// The 7-bit substitutes. Every member of a range maps to the same substitute.
struct Substitute {
  unsigned char first, last;
  char replacement;
};
constexpr Substitute kPlain7Substitutes[] = {
    {0x00, 0x00, 0x00}, {0x20, 0x20, ' '}, {0xBB, 0xBB, '>'}, {0xAB, 0xAB, '<'}, {0xA1, 0xA1, '!'},
    {0xC0, 0xC6, 'A'},  {0xC7, 0xC7, 'C'}, {0xC8, 0xCB, 'E'}, {0xCC, 0xCF, 'I'}, {0xD0, 0xD0, 'D'},
    {0xD1, 0xD1, 'N'},  {0xD2, 0xD6, 'O'}, {0xD7, 0xD7, 'x'}, {0xD8, 0xD8, '0'}, {0xD9, 0xDC, 'U'},
    {0xDD, 0xDD, 'Y'},  {0xDE, 0xDE, 'D'}, {0xDF, 0xDF, 's'}, {0xE0, 0xE6, 'a'}, {0xE7, 0xE7, 'c'},
    {0xE8, 0xEB, 'e'},  {0xEC, 0xEF, 'i'}, {0xF0, 0xF0, 'd'}, {0xF1, 0xF1, 'n'}, {0xF2, 0xF6, 'o'},
    {0xF7, 0xF7, '%'},  {0xF8, 0xF8, 'o'}, {0xF9, 0xFC, 'u'}, {0xFD, 0xFD, 'y'}, {0xFE, 0xFE, 'D'},
    {0xFF, 0xFF, 'y'},
};

// For each byte: its 7-bit form, and whether the 7-bit reduction counts it.
struct Plain7 {
  unsigned char replacement;
  bool counted;
};

constexpr std::array<Plain7, 256> MakePlain7() {
  std::array<Plain7, 256> table{};
  for (int c = 0; c < 256; ++c) {
    table[c] = c > 0x80 ? Plain7{'?', true} : Plain7{static_cast<unsigned char>(c), false};
  }
  for (const Substitute& s : kPlain7Substitutes) {
    for (int c = s.first; c <= s.last; ++c) {
      table[c] = {static_cast<unsigned char>(s.replacement), true};
    }
  }
  return table;
}

constexpr auto kPlain7 = MakePlain7();

// The 5-bit repertoire: capitals, digits and the kept punctuation stay, the punctuation below
// gets its substitute, everything else becomes '?'.
constexpr std::string_view kPlain5Kept = "'()+,-./:=? ";
constexpr std::string_view kPlain5From = "!\"#$%&*@;<>[\\]^_`{|}~";
constexpr std::string_view kPlain5To = ".'=S/+x/,()(/)'?'(.)?";
static_assert(kPlain5From.size() == kPlain5To.size());

constexpr std::array<unsigned char, 256> MakePlain5() {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const bool kept = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      kPlain5Kept.find(static_cast<char>(c)) != std::string_view::npos;
    table[c] = kept ? static_cast<unsigned char>(c) : '?';
  }
  for (size_t i = 0; i < kPlain5From.size(); ++i) {
    table[static_cast<unsigned char>(kPlain5From[i])] = static_cast<unsigned char>(kPlain5To[i]);
  }
  return table;
}

constexpr auto kPlain5 = MakePlain5();

// The letters an umlaut (or the euro sign) is written out as; empty for every other byte.
std::string_view Expansion(unsigned char c) {
  switch (c) {
    case 0xC4:
      return "Ae";
    case 0xD6:
      return "Oe";
    case 0xDC:
      return "Ue";
    case 0xE4:
      return "ae";
    case 0xF6:
      return "oe";
    case 0xFC:
      return "ue";
    case 0xDF:
      return "ss";
    case 0x80:
      return "EUR";
    default:
      return {};
  }
}

// The umlaut expansion works on at most this many characters, the size of its work area.
constexpr size_t kExpandLimit = 499;

// Writes the umlauts of the first `length` bytes of `text` out, in place, and ends the text
// after them. Works from the back, so every byte is read before its place is written over.
// Returns the number of characters written out.
int32_t ExpandInPlace(char* text, size_t length) {
  size_t grown = length;
  int32_t expanded = 0;
  for (size_t i = 0; i < length; ++i) {
    const size_t letters = Expansion(static_cast<unsigned char>(text[i])).size();
    if (letters > 0) {
      grown += letters - 1;
      ++expanded;
    }
  }
  text[grown] = '\0';
  for (size_t i = length; i-- > 0;) {
    const std::string_view letters = Expansion(static_cast<unsigned char>(text[i]));
    if (letters.empty()) {
      text[--grown] = text[i];
    } else {
      grown -= letters.size();
      std::memcpy(text + grown, letters.data(), letters.size());
    }
  }
  return expanded;
}

int32_t Plain7InPlace(Bytes text, size_t length) {
  int32_t counted = 0;
  for (size_t i = 0; i < length; ++i) {
    const Plain7& entry = kPlain7[text[i]];
    text[i] = entry.replacement;
    counted += entry.counted;
  }
  return counted;
}

Bytes AsBytes(char* text) { return reinterpret_cast<Bytes>(text); }

// One byte for a decoded code point.
unsigned char AnsiForCodePoint(uint32_t codePoint) {
  switch (codePoint) {
    case 0x3F:
      return '?';
    case 0x2018:
    case 0x2019:
    case 0x2020:
      return '\'';
    case 0x201C:
    case 0x201D:
    case 0x201E:
    case 0x201F:
      return '"';
    case 0x20A1:
      return 0xA2;
    case 0x20A4:
      return 0xA3;
    case 0x20AC:
      return 0x80;
    default:
      return static_cast<unsigned char>(0x80 | (codePoint & 0x7F));
  }
}

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Decodes the sequence at `in` (its first byte has the top bit set) into one byte at `*out`.
// Returns the number of bytes consumed; never steps over the terminating zero, and a sequence
// that the terminator cuts short yields '?'.
size_t DecodeSequence(const unsigned char* in, unsigned char* out) {
  const unsigned char lead = in[0];
  if ((lead & 0xE0) == 0xC0) {
    if (in[1] == 0) return *out = '?', 1;
    *out = AnsiForCodePoint((lead & 0x1Fu) << 6 | (in[1] & 0x3Fu));
    return 2;
  }
  if ((lead & 0xF0) == 0xE0) {
    if (in[1] == 0) return *out = '?', 1;
    if (in[2] == 0) return *out = '?', 2;
    *out = AnsiForCodePoint((lead & 0x0Fu) << 12 | (in[1] & 0x3Fu) << 6 | (in[2] & 0x3Fu));
    return 3;
  }
  // A stray continuation byte or a four-byte lead: it and its continuation bytes give one '?'.
  size_t consumed = 1;
  while (IsContinuation(in[consumed])) ++consumed;
  *out = '?';
  return consumed;
}

// Size of the static byte count texts: 99 characters and the terminator.
constexpr size_t kByteStringSize = 100;

}  // namespace

void CONVERT_Ansi2Ibm(char* data, int32_t length) {
  if (!data) return;
  for (int32_t i = 0; i < length; ++i) AsBytes(data)[i] = kDosFromAnsi[AsBytes(data)[i]];
}

void CONVERT_Ibm2Ansi(char* data, int32_t length) {
  if (!data) return;
  for (int32_t i = 0; i < length; ++i) AsBytes(data)[i] = kAnsiFromDos[AsBytes(data)[i]];
}

int32_t CONVERT_Ansi2Plain7(char* text, int32_t length) {
  if (!text || length <= 0) return 0;
  return Plain7InPlace(AsBytes(text), static_cast<size_t>(length));
}

void CONVERT_Ansi2Plain5(char* text, int32_t length) {
  if (!text || length <= 0) return;
  CONVERT_Ansi2Plain7(text, length);
  for (char* c = text; *c; ++c) {
    if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
  }
  for (int32_t i = 0; i < length; ++i) AsBytes(text)[i] = kPlain5[AsBytes(text)[i]];
}

int32_t CONVERT_ExpandUmlaute(char* text, int32_t length) {
  if (!text) return 0;
  const size_t limit = length > 0 ? std::min<size_t>(static_cast<size_t>(length), kExpandLimit) : 0;
  return ExpandInPlace(text, strnlen(text, limit));
}

// The whole text takes part, however long: only the umlaut expansion's own entry point is held
// to the size of its work area, so a long text is never cut here.
char* CONVERT_Check8Bit(char* text) {
  if (!text || !*text) return text;
  const size_t length = std::strlen(text);
  size_t eightBit = 0;
  for (size_t i = 0; i < length; ++i) eightBit += AsBytes(text)[i] >> 7;
  if (eightBit > 0 && eightBit * 100 / length <= 34) {
    ExpandInPlace(text, length);
    Plain7InPlace(AsBytes(text), std::strlen(text));
  }
  return text;
}

void CONVERT_UTF82Ansi(char* text) {
  if (!text) return;
  const unsigned char* in = AsBytes(text);
  unsigned char* out = AsBytes(text);
  while (*in) {
    if (*in < 0x80) {
      *out++ = *in++;
    } else {
      in += DecodeSequence(in, out++);
    }
  }
  *out = '\0';
}

uint8_t CONVERT_SwitchChar(char* text, char find, char replacement) {
  if (!text) return 1;
  const size_t length = std::strlen(text);
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == find) text[i] = replacement;
  }
  return 1;
}

char* CONVERT_ByteString(uint32_t value, uint32_t width) {
  static char text[kByteStringSize];
  int written;
  if (value < 1000) {
    written = std::snprintf(text, sizeof text, "%u", value);
  } else if (value < 1000000) {
    written = std::snprintf(text, sizeof text, "%u.%03u", value / 1000, value % 1000);
  } else if (value < 1000000000) {
    written = std::snprintf(text, sizeof text, "%u.%03u.%03u", value / 1000000, value / 1000 % 1000,
                            value % 1000);
  } else {
    written = std::snprintf(text, sizeof text, "%u.%03u.%03u.%03u", value / 1000000000,
                            value / 1000000 % 1000, value / 1000 % 1000, value % 1000);
  }
  const size_t length = static_cast<size_t>(written);
  const size_t padded = std::max<size_t>(length, std::min<size_t>(width, kByteStringSize - 1));
  std::memmove(text + (padded - length), text, length + 1);
  std::memset(text, ' ', padded - length);
  return text;
}

char* CONVERT_KByteString(uint32_t value, uint8_t blank) {
  static char text[24];
  if (value <= 5120) {
    std::snprintf(text, sizeof text, "%u%s", value, blank ? " " : "");
  } else {
    std::snprintf(text, sizeof text, "%u K", value / 1024);
  }
  return text;
}
