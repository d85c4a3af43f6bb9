// The toolkit-free text pieces of the wxWidgets backend: the Windows-1252 converter, what a key
// types, and the message-box trace line. No display needed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "testsupport/temp_dir.h"
#include "ui/wx/cp1252.h"
#include "ui/wx/message_box_trace.h"
#include "ui/wx/typed_key.h"

namespace {

using ui::cp1252::FromCodePoint;
using ui::cp1252::FromUtf8;
using ui::cp1252::ToCodePoint;
using ui::cp1252::ToUtf8;

std::string Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// Sources are compiled to Windows-1252, so a plain literal is the system's bytes and a u8
// literal is the toolkit's.
TEST(Cp1252, GermanTextsAndTheEuroConvertBothWays) {
  EXPECT_EQ(ToUtf8("Schließen"), Utf8(u8"Schließen"));
  EXPECT_EQ(ToUtf8("Karten-Daten ändern"), Utf8(u8"Karten-Daten ändern"));
  EXPECT_EQ(ToUtf8("\x80"), Utf8(u8"€"));
  EXPECT_EQ(FromUtf8(Utf8(u8"Schließen")), "Schließen");
  EXPECT_EQ(FromUtf8(Utf8(u8"ÄÖÜäöüß €")), "ÄÖÜäöüß \x80");
  EXPECT_EQ(std::string("Schließen"),
            "Schlie\xDF"
            "en");  // the build really is Windows-1252
}

// The whole table of 0x80-0x9F, the part that differs from Latin-1, and the Latin-1 rest.
TEST(Cp1252, EveryByteHasItsWindowsCharacterAndComesBack) {
  const char32_t high[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                             0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                             0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                             0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
  for (int byte = 0; byte < 256; ++byte) {
    char32_t expected = byte >= 0x80 && byte < 0xA0 ? high[byte - 0x80] : byte;
    EXPECT_EQ(ToCodePoint(static_cast<unsigned char>(byte)), expected) << byte;
    EXPECT_EQ(FromCodePoint(expected), byte) << byte;
  }
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all += static_cast<char>(byte);
  EXPECT_EQ(FromUtf8(ToUtf8(all)), all);
}

TEST(Cp1252, CharactersOutsideTheCodePageAndBrokenUtf8BecomeQuestionMarks) {
  EXPECT_EQ(FromCodePoint(0x0080), -1);  // C1 controls Windows does not use
  EXPECT_EQ(FromCodePoint(0x03A9), -1);  // Omega
  // (Outside the macros: their message text is a plain literal, which cannot hold these.)
  const std::string foreign = Utf8(u8"Ω1€😀");
  EXPECT_EQ(FromUtf8(foreign), "?1\x80?");
  EXPECT_EQ(FromUtf8("a\xC3"), "a?");               // truncated sequence
  EXPECT_EQ(FromUtf8("\xC0\xAF"), "??");            // overlong '/'
  EXPECT_EQ(FromUtf8("\xED\xA0\x80x"), "???x");     // surrogate
  EXPECT_EQ(FromUtf8("\xF4\x90\x80\x80"), "????");  // beyond U+10FFFF
  EXPECT_EQ(FromUtf8("\xFC\x80"), "??");
  EXPECT_EQ(FromUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

// Keysyms as X delivers them for the keys a user of these dialogs presses.
TEST(TypedKey, CharacterKeysGiveTheirWindows1252Byte) {
  EXPECT_EQ(ui::TypedCp1252Byte('a'), 'a');
  EXPECT_EQ(ui::TypedCp1252Byte('A'), 'A');  // Shift or Caps Lock made the keysym
  EXPECT_EQ(ui::TypedCp1252Byte(' '), ' ');
  EXPECT_EQ(ui::TypedCp1252Byte(0xFC), 0xFC);       // udiaeresis, Latin-1 keysym
  EXPECT_EQ(ui::TypedCp1252Byte(0xDF), 0xDF);       // ssharp
  EXPECT_EQ(ui::TypedCp1252Byte(0x20AC), 0x80);     // EuroSign (German AltGr+E)
  EXPECT_EQ(ui::TypedCp1252Byte(0x10020AC), 0x80);  // the euro as a Unicode keysym
  EXPECT_EQ(ui::TypedCp1252Byte(0x1000153), 0x9C);  // oe as a Unicode keysym
  EXPECT_EQ(ui::TypedCp1252Byte(0x13BD), 0x9C);     // oe, legacy keysym
  EXPECT_EQ(ui::TypedCp1252Byte(0x0AD3), 0x94);     // rightdoublequotemark
  EXPECT_EQ(ui::TypedCp1252Byte(0xFFB7), '7');      // KP_7 with Num Lock
  EXPECT_EQ(ui::TypedCp1252Byte(0xFFAE), '.');      // KP_Decimal
  EXPECT_EQ(ui::TypedCp1252Byte(0xFF08), 0x08);     // BackSpace
}

TEST(TypedKey, OtherCharactersAreSwallowedAndFunctionKeysStayWithTheToolkit) {
  EXPECT_EQ(ui::TypedCp1252Byte(0x10003A9), ui::kUnrepresentable);  // Omega, Unicode keysym
  EXPECT_EQ(ui::TypedCp1252Byte(0x07D9), ui::kUnrepresentable);     // Greek_OMEGA, legacy
  EXPECT_EQ(ui::TypedCp1252Byte(0x06C1), ui::kUnrepresentable);     // Cyrillic_a
  EXPECT_EQ(ui::TypedCp1252Byte(0x1000081), ui::kUnrepresentable);  // a C1 control
  for (uint32_t keysym :
       {0xFF09u /* Tab */, 0xFF0Du /* Return */, 0xFF1Bu /* Escape */, 0xFFFFu /* Delete */,
        0xFF51u /* Left */, 0xFF50u /* Home */, 0xFFBEu /* F1 */, 0xFFE1u /* Shift_L */,
        0xFE52u /* dead_circumflex */, 0xFE03u /* ISO_Level3_Shift */, 0x1008FF11u /* volume key */,
        0x1000009u /* a Unicode control */, 0u}) {
    EXPECT_EQ(ui::TypedCp1252Byte(keysym), ui::kNotTyping) << std::hex << keysym;
  }
}

TEST(MessageBoxTrace, LineHoldsTypeAndRawBytesWithSeparatorsEscaped) {
  EXPECT_EQ(ui::FormatMessageBoxTrace(0x40, "Kartennummer 00042",
                                      "Guthaben: 5 Einheiten\n\nLetzte Nummer: -"),
            "64\tKartennummer 00042\tGuthaben: 5 Einheiten\\n\\nLetzte Nummer: -\n");
  EXPECT_EQ(ui::FormatMessageBoxTrace(0x10, "Fehler", "Kartennummer ungültig oder Karte leer"),
            "16\tFehler\tKartennummer ung\xFCltig oder Karte leer\n");
  EXPECT_EQ(ui::FormatMessageBoxTrace(0x24, "C:\\Daten\t", "a\\nb\r\n"),
            "36\tC:\\\\Daten\\t\ta\\\\nb\\r\\n\n");
}

TEST(MessageBoxTrace, AppendsOneLinePerBoxOnlyWhenAsked) {
  testsupport::TempDir dir;
  std::string path = dir / "trace.txt";
  unsetenv(ui::kMessageBoxTraceVariable);
  EXPECT_TRUE(ui::TraceMessageBox(0, "a", "b"));
  EXPECT_FALSE(testsupport::FileExists(path));

  setenv(ui::kMessageBoxTraceVariable, path.c_str(), 1);
  EXPECT_TRUE(ui::TraceMessageBox(0, "Eins", "x"));
  EXPECT_TRUE(ui::TraceMessageBox(0x30, "Zwei", "y"));
  EXPECT_EQ(testsupport::ReadFile(path), "0\tEins\tx\n48\tZwei\ty\n");

  setenv(ui::kMessageBoxTraceVariable, (dir / "missing/trace.txt").c_str(), 1);
  EXPECT_FALSE(ui::TraceMessageBox(0, "a", "b"));
  unsetenv(ui::kMessageBoxTraceVariable);
}

}  // namespace
