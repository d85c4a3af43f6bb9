#include "ui/wx/typed_key.h"

#include "ui/wx/cp1252.h"

namespace ui {
namespace {

struct KeysymCharacter {
  uint32_t keysym;
  char32_t character;
};

// The legacy (pre-Unicode) keysyms of the Windows-1252 characters outside Latin-1; layouts
// such as the German one type the euro sign as EuroSign. Newer layouts use Unicode keysyms.
constexpr KeysymCharacter kLegacy[] = {
    {0x20AC, 0x20AC},  // EuroSign
    {0x0AFD, 0x201A},  // singlelowquotemark
    {0x08F6, 0x0192},  // function
    {0x0AFE, 0x201E},  // doublelowquotemark
    {0x0AAE, 0x2026},  // ellipsis
    {0x0AF1, 0x2020},  // dagger
    {0x0AF2, 0x2021},  // doubledagger
    {0x0AD5, 0x2030},  // permille
    {0x01A9, 0x0160},  // Scaron
    {0x13BC, 0x0152},  // OE
    {0x01AE, 0x017D},  // Zcaron
    {0x0AD0, 0x2018},  // leftsinglequotemark
    {0x0AD1, 0x2019},  // rightsinglequotemark
    {0x0AD2, 0x201C},  // leftdoublequotemark
    {0x0AD3, 0x201D},  // rightdoublequotemark
    {0x0AE6, 0x2022},  // enfilledcircbullet
    {0x0AAA, 0x2013},  // endash
    {0x0AA9, 0x2014},  // emdash
    {0x0AC9, 0x2122},  // trademark
    {0x01B9, 0x0161},  // scaron
    {0x13BD, 0x0153},  // oe
    {0x01BE, 0x017E},  // zcaron
    {0x13BE, 0x0178},  // Ydiaeresis
};

// The keypad keys that type characters (with Num Lock on the layout gives these keysyms).
char32_t KeypadCharacter(uint32_t keysym) {
  if (keysym >= 0xFFB0 && keysym <= 0xFFB9) return U'0' + (keysym - 0xFFB0);
  switch (keysym) {
    case 0xFF80:
      return U' ';  // KP_Space
    case 0xFFAA:
      return U'*';  // KP_Multiply
    case 0xFFAB:
      return U'+';  // KP_Add
    case 0xFFAC:
      return U',';  // KP_Separator
    case 0xFFAD:
      return U'-';  // KP_Subtract
    case 0xFFAE:
      return U'.';  // KP_Decimal
    case 0xFFAF:
      return U'/';  // KP_Divide
    case 0xFFBD:
      return U'=';  // KP_Equal
    default:
      return 0;
  }
}

}  // namespace

char32_t TypedCharacter(uint32_t keysym) {
  constexpr uint32_t kBackSpace = 0xFF08;
  constexpr uint32_t kUnicodeFlag = 0x01000000;
  if ((keysym >= 0x20 && keysym <= 0x7E) || (keysym >= 0xA0 && keysym <= 0xFF)) return keysym;
  if (keysym == kBackSpace) return 0x08;
  if ((keysym & 0xFF000000) == kUnicodeFlag) {
    char32_t character = keysym & 0x00FFFFFF;
    return character >= 0x20 && character <= 0x10FFFF && character != 0x7F ? character : 0;
  }
  if (keysym >= 0xFF00 && keysym <= 0xFFFF) return KeypadCharacter(keysym);
  // 0xFE00-0xFEFF: dead keys and ISO function keys; above 0xFFFF: vendor keys.
  if (keysym >= 0xFE00) return 0;
  for (const KeysymCharacter& legacy : kLegacy) {
    if (legacy.keysym == keysym) return legacy.character;
  }
  return keysym >= 0x100 ? 0xFFFD : 0;
}

int TypedCp1252Byte(uint32_t keysym) {
  char32_t character = TypedCharacter(keysym);
  if (character == 0) return kNotTyping;
  if (character == 0x08) return 0x08;
  int byte = cp1252::FromCodePoint(character);
  // The code page's own control characters (C1 stand-ins) are not typed text either.
  if (byte < 0 || (byte >= 0x80 && byte < 0xA0 && character < 0xA0)) return kUnrepresentable;
  return byte;
}

}  // namespace ui
