#include "platform/ansi_collate.h"

#include <array>
#include <cstdint>
#include <vector>

#include "platform/ansi_case.h"

namespace platform {
namespace {

// What one byte contributes to each level. A letter that sorts as two letters (æ as a e) has
// two primary weights; hyphens and apostrophes have none and only count at level 4.
struct Weight {
  uint16_t primary[2] = {0, 0};
  uint8_t count = 0;  // number of primary weights; 0 for the ignorable characters
  uint8_t accent = 0;
  uint8_t upper = 0;
};

enum Accent : uint8_t {
  kNone,
  kAcute,
  kGrave,
  kCircumflex,
  kTilde,
  kDiaeresis,
  kRing,
  kCedilla,
  kStroke,
  kCaron,
  kHook,
  kOrdinal,
  kLigature
};

constexpr uint16_t kDigitBase = 0x200;
constexpr uint16_t kLetterBase = 0x300;

struct Variant {
  unsigned char byte;
  char base;    // the letter it sorts with ('a' to 'z', or 't'+1 for thorn)
  char second;  // second letter of a ligature, or 0
  Accent accent;
};

// The lower-case letters beyond a-z; their capitals follow from the letter case table.
constexpr Variant kVariants[] = {
    {0xE0, 'a', 0, kGrave},      {0xE1, 'a', 0, kAcute},      {0xE2, 'a', 0, kCircumflex},
    {0xE3, 'a', 0, kTilde},      {0xE4, 'a', 0, kDiaeresis},  {0xE5, 'a', 0, kRing},
    {0xAA, 'a', 0, kOrdinal},    {0xE6, 'a', 'e', kLigature}, {0xE7, 'c', 0, kCedilla},
    {0xF0, 'd', 0, kStroke},     {0xE8, 'e', 0, kGrave},      {0xE9, 'e', 0, kAcute},
    {0xEA, 'e', 0, kCircumflex}, {0xEB, 'e', 0, kDiaeresis},  {0x83, 'f', 0, kHook},
    {0xEC, 'i', 0, kGrave},      {0xED, 'i', 0, kAcute},      {0xEE, 'i', 0, kCircumflex},
    {0xEF, 'i', 0, kDiaeresis},  {0xF1, 'n', 0, kTilde},      {0xF2, 'o', 0, kGrave},
    {0xF3, 'o', 0, kAcute},      {0xF4, 'o', 0, kCircumflex}, {0xF5, 'o', 0, kTilde},
    {0xF6, 'o', 0, kDiaeresis},  {0xF8, 'o', 0, kStroke},     {0xBA, 'o', 0, kOrdinal},
    {0x9C, 'o', 'e', kLigature}, {0x9A, 's', 0, kCaron},      {0xDF, 's', 's', kLigature},
    {0xF9, 'u', 0, kGrave},      {0xFA, 'u', 0, kAcute},      {0xFB, 'u', 0, kCircumflex},
    {0xFC, 'u', 0, kDiaeresis},  {0xFD, 'y', 0, kAcute},      {0xFF, 'y', 0, kDiaeresis},
    {0x9E, 'z', 0, kCaron},
};

// Thorn sorts as a letter of its own after z.
constexpr unsigned char kThorn = 0xFE;

bool IsIgnorable(unsigned char c) { return c == '-' || c == '\'' || c == 0xAD; }

uint16_t LetterWeight(char letter) {
  return static_cast<uint16_t>(kLetterBase + (letter - 'a') * 4);
}

// Sets `w` for lower-case `c` and, when it has one, its capital.
void SetLetter(std::array<Weight, 256>* table, unsigned char lower, Weight w) {
  (*table)[lower] = w;
  const unsigned char upper = AnsiUpper(lower);
  if (upper != lower) {
    w.upper = 1;
    (*table)[upper] = w;
  }
}

std::array<Weight, 256> BuildTable() {
  std::array<Weight, 256> table{};
  // Everything that is neither letter, digit nor ignorable is a symbol, in byte order, with
  // the blanks first.
  uint16_t symbol = 1;
  for (unsigned char c : {'\t', '\n', '\v', '\f', '\r', ' ', static_cast<char>(0xA0)}) {
    table[static_cast<unsigned char>(c)] = Weight{{symbol++, 0}, 1, 0, 0};
  }
  for (int c = 1; c < 256; ++c) {
    if (table[c].count == 0) table[c] = Weight{{static_cast<uint16_t>(symbol++), 0}, 1, 0, 0};
  }
  for (int c = 0; c < 256; ++c) {
    if (IsIgnorable(static_cast<unsigned char>(c))) table[c] = Weight{};
  }
  for (char d = '0'; d <= '9'; ++d) {
    table[static_cast<unsigned char>(d)] = Weight{{uint16_t(kDigitBase + (d - '0')), 0}, 1, 0, 0};
  }
  const std::pair<unsigned char, int> superscripts[] = {{0xB9, 1}, {0xB2, 2}, {0xB3, 3}};
  for (auto [byte, digit] : superscripts) {
    table[byte] = Weight{{uint16_t(kDigitBase + digit), 0}, 1, kOrdinal, 0};
  }
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    SetLetter(&table, static_cast<unsigned char>(letter),
              Weight{{LetterWeight(letter), 0}, 1, 0, 0});
  }
  for (const Variant& v : kVariants) {
    Weight w{{LetterWeight(v.base), v.second ? LetterWeight(v.second) : uint16_t{0}},
             static_cast<uint8_t>(v.second ? 2 : 1),
             v.accent,
             0};
    SetLetter(&table, v.byte, w);
  }
  SetLetter(&table, kThorn, Weight{{LetterWeight('z' + 1), 0}, 1, 0, 0});
  return table;
}

const std::array<Weight, 256>& Table() {
  static const std::array<Weight, 256> table = BuildTable();
  return table;
}

// The weights of one level as a sequence, so two texts compare by plain lexicographic order.
std::vector<uint16_t> Level(std::string_view text, int level) {
  const auto& table = Table();
  std::vector<uint16_t> keys;
  keys.reserve(text.size() + 4);
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const Weight& w = table[c];
    switch (level) {
      case 1:
        for (int k = 0; k < w.count; ++k) keys.push_back(w.primary[k]);
        break;
      case 2:
        if (w.count) keys.push_back(w.accent);
        break;
      case 3:
        if (w.count) keys.push_back(w.upper);
        break;
      default:  // the ignorable characters with their places
        if (!w.count) {
          keys.push_back(static_cast<uint16_t>(i));
          keys.push_back(c);
        }
        break;
    }
  }
  return keys;
}

int Sign(bool less, bool greater) { return less ? -1 : (greater ? 1 : 0); }

}  // namespace

int AnsiCollate(std::string_view a, std::string_view b) {
  for (int level = 1; level <= 4; ++level) {
    const std::vector<uint16_t> ka = Level(a, level), kb = Level(b, level);
    if (ka != kb) return Sign(ka < kb, kb < ka);
  }
  return Sign(a < b, b < a);
}

}  // namespace platform
